#include "stream/mp3/mp3_reservoir.h"

#include <algorithm>
#include <cstring>

#include "stream/crc16.h"

namespace mp3 {

namespace {

// Offsets kept for the TOC: when there are this many, every other one goes.
constexpr std::size_t offsetsKept = 2048;
// Frames no later frame can reach are written once there are this many bytes of them.
constexpr std::size_t writtenAtOnce = 0x8000;

}  // namespace

void ReservoirWriter::begin(std::uint32_t maxReach) {
    reach = maxReach;
    held.clear();
    heldFrom = 0;
    pending.clear();
    ready = 0;
    slots = dataEnd = 0;
    done = Written();
}

std::uint8_t* ReservoirWriter::append(const std::uint8_t* frame, const Layout& layout) {
    const std::size_t at = held.size();
    held.insert(held.end(), frame, frame + layout.size);
    pending.push_back({at, layout, slots});
    slots += layout.slot();
    return held.data() + at;
}

void ReservoirWriter::add(const std::uint8_t* frame, const Layout& layout, bool silent) {
    const std::uint64_t slotAt = slots;
    std::uint8_t* copy = append(frame, layout);
    if (silent) {
        // As far back as the main data before it ends, so that decoders that keep only the
        // bytes from a frame's main data on still hold what the frames after it need.
        const std::uint64_t room = slotAt > dataEnd ? slotAt - dataEnd : 0;
        const auto back = static_cast<std::uint32_t>(std::min<std::uint64_t>(reach, room));
        silence(copy, layout, back);
        pending.back().layout.mainDataBegin = back;
        pending.back().layout.dataBytes = 0;
        return;
    }
    const std::uint64_t start = slotAt >= layout.mainDataBegin ? slotAt - layout.mainDataBegin : 0;
    dataEnd = std::max(dataEnd, start + layout.dataBytes);
}

bool ReservoirWriter::addSilent(const std::uint8_t* header) {
    const std::vector<std::uint8_t> frame = silentFrame(header);
    Layout layout;
    if (!readLayout(frame.data(), frame.size(), layout) || layout.slot() == 0) return false;
    add(frame.data(), layout, true);
    return true;
}

std::uint32_t ReservoirWriter::lay(const std::uint8_t* bytes, std::uint32_t count,
                                   const std::uint8_t* carrier, bool mayGrow) {
    if (count == 0) return 0;
    if (room() < count && mayGrow && !pending.empty()) {
        grow(static_cast<std::uint32_t>(count - room()));
    }
    std::uint32_t carriers = 0;
    for (; room() < count && addSilent(carrier); ++carriers) {
    }
    // The bytes go at the end of the slots, from the last frame's back.
    std::uint64_t to = slots;
    std::uint32_t left = count;
    for (auto it = pending.rbegin(); it != pending.rend() && left > 0; ++it) {
        const std::uint64_t from = std::max(it->slotAt, to - left);
        const auto n = static_cast<std::uint32_t>(to - from);
        std::memcpy(held.data() + it->at + it->layout.slotStart() + (from - it->slotAt),
                    bytes + (left - n), n);
        left -= n;
        to = from;
    }
    dataEnd = slots - count;
    return carriers;
}

// Raises the last frame's bit rate, where one of the higher rates gives it `need` bytes more.
bool ReservoirWriter::grow(std::uint32_t need) {
    Pending& last = pending.back();
    std::uint8_t* frame = held.data() + last.at;
    const std::uint32_t size = last.layout.size;
    int index = frame[2] >> 4;
    while (++index < 15 && sizeAtBitRate(frame, index) < size + need) {
    }
    if (index >= 15) return false;
    const std::uint32_t bigger = sizeAtBitRate(frame, index);
    frame[2] = static_cast<std::uint8_t>((frame[2] & 0x0F) | index << 4);
    held.resize(held.size() + (bigger - size), 0);
    frame = held.data() + last.at;
    last.layout.size = bigger;
    setMainDataBegin(frame, last.layout, last.layout.mainDataBegin);
    slots += bigger - size;
    return true;
}

bool ReservoirWriter::flush(const Sink& out, bool all, bool batched) {
    for (; ready < pending.size(); ++ready) {
        const Pending& frame = pending[ready];
        if (!all && slots - (frame.slotAt + frame.layout.slot()) < reach) break;
    }
    const std::size_t count = ready;
    const std::size_t end =
        count == 0 ? heldFrom : pending[count - 1].at + pending[count - 1].layout.size;
    // Written in runs of some KiB, which the music CRC takes in one go.
    if (count == 0 || (!all && batched && end - heldFrom < writtenAtOnce)) return true;
    for (std::size_t i = 0; i < count; ++i) note(held.data() + pending[i].at);
    done.musicCrc = crc::crc16LsbFirst(done.musicCrc, held.data() + heldFrom, end - heldFrom);
    done.bytes += end - heldFrom;
    pending.erase(pending.begin(), pending.begin() + static_cast<std::ptrdiff_t>(count));
    ready = 0;
    const bool ok = out(held.data() + heldFrom, end - heldFrom);
    heldFrom = end;
    // What is written makes room, once it is most of what is held.
    if (heldFrom > 0x10000 && heldFrom * 2 > held.size()) {
        held.erase(held.begin(), held.begin() + static_cast<std::ptrdiff_t>(heldFrom));
        for (Pending& frame : pending) frame.at -= heldFrom;
        heldFrom = 0;
    }
    return ok;
}

void ReservoirWriter::note(const std::uint8_t* frame) {
    if (done.frames % done.stride == 0) {
        if (done.offsets.size() == offsetsKept) {
            for (std::size_t i = 0; i < offsetsKept / 2; ++i) done.offsets[i] = done.offsets[2 * i];
            done.offsets.resize(offsetsKept / 2);
            done.stride *= 2;
        }
        if (done.frames % done.stride == 0) {
            const auto within = static_cast<std::uint64_t>(frame - (held.data() + heldFrom));
            done.offsets.push_back(static_cast<std::uint32_t>(done.bytes + within));
        }
    }
    const int index = frame[2] >> 4;
    if (done.bitRateIndex >= 0 && index != done.bitRateIndex) done.vbr = true;
    done.bitRateIndex = index;
    ++done.frames;
}

}  // namespace mp3
