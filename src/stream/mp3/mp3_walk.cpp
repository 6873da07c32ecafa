#include "stream/mp3/mp3_walk.h"

#include <algorithm>
#include <cstring>

namespace mp3 {

void FrameWalk::open(std::uint64_t offset, const std::uint8_t* header, std::uint64_t audioEnd) {
    std::memcpy(first, header, 4);
    begin = offset;
    end = audioEnd;
    restart();
}

void FrameWalk::restart() {
    at = begin;
    count = slots = dataEnd = 0;
    lastHeader = 0;
    stopped = Stop::none;
    reader.jumpTo(begin);
}

// The `size` bytes at `offset`, read on where they are not at hand yet; nullptr when the
// input ends before them.
const std::uint8_t* FrameWalk::bytesAt(std::uint64_t offset, std::size_t size) {
    const std::uint8_t* bytes = reader.recent(offset, size);
    if (bytes != nullptr) return bytes;
    reader.seek(offset + size);
    return reader.recent(offset, size);
}

// A Layer III header of the stream's version, sample rate and channels.
bool FrameWalk::fits(const std::uint8_t* h) const {
    const mpeg::Header header(h);
    return h[0] == 0xFF && (h[1] & 0xFE) == (first[1] & 0xFE) && header.valid() &&
           (h[2] & 0x0C) == (first[2] & 0x0C) && (h[3] >> 6 == 3) == (first[3] >> 6 == 3);
}

bool FrameWalk::read() {
    stopped = Stop::none;
    if (at >= end) return fail(Stop::end);
    const std::uint8_t* head = bytesAt(at, 4);
    if (head == nullptr) return fail(reader.bytesReceived() > at ? Stop::cutShort : Stop::end);
    // Most frames have the header of the one before, but for the padding bit.
    const std::uint32_t key =
        static_cast<std::uint32_t>(head[0]) << 24 | head[1] << 16 | head[2] << 8 | head[3];
    if (key != lastHeader && !fits(head)) {
        // Tags after the frames, where they could not be read from the end beforehand.
        if (std::memcmp(head, "TAG", 3) == 0 || std::memcmp(head, "APET", 4) == 0 ||
            std::memcmp(head, "LYRI", 4) == 0) {
            return fail(Stop::end);
        }
        const bool mpeg = head[0] == 0xFF && (head[1] & 0xE0) == 0xE0;
        return fail(mpeg ? Stop::otherStream : Stop::noSync);
    }
    if (key != lastHeader) {
        lastHeader = key;
        lastSize = static_cast<std::size_t>(mpeg::Header(head).size());
    }
    const std::size_t size = lastSize;
    const std::uint8_t* frame = bytesAt(at, size);
    SeenFrame& seenFrame = seen[count % kept];
    if (frame == nullptr || at + size > end || !readLayout(frame, size, seenFrame.layout)) {
        return fail(Stop::cutShort);
    }
    seenFrame.offset = at;
    seenFrame.slotAt = slots;
    seenFrame.crcFailed = checking && !crcHolds(frame, seenFrame.layout);
    seenFrame.fault =
        seenFrame.crcFailed ? "fails its CRC check" : faultOf(seenFrame.layout, slots);
    slots += seenFrame.layout.slot();
    at += size;
    reader.seek(at);
    ++count;
    return true;
}

std::string FrameWalk::faultOf(const Layout& layout, std::uint64_t slotAt) {
    const std::uint64_t back = layout.mainDataBegin;
    std::string fault;
    if (back > slotAt) {
        fault = "takes main data from " + std::to_string(back - slotAt) +
                " bytes before the first frame";
    } else if (slotAt - back < dataEnd) {
        fault = "takes main data from the " + std::to_string(dataEnd - (slotAt - back)) +
                " bytes that the frames before it hold";
    } else if (layout.dataBytes > back + layout.slot()) {
        fault = "has main data that runs " +
                std::to_string(layout.dataBytes - back - layout.slot()) + " bytes past its slot";
    }
    if (fault.empty()) dataEnd = slotAt - back + layout.dataBytes;
    return fault;
}

bool FrameWalk::frameFollows(std::uint64_t offset) {
    const std::uint8_t* head = bytesAt(offset, 4);
    if (head == nullptr || !fits(head)) return false;
    const std::uint64_t after = offset + static_cast<std::uint64_t>(mpeg::Header(head).size());
    if (after >= end || bytesAt(after, 1) == nullptr) return after <= end;
    const std::uint8_t* next = bytesAt(after, 4);
    return next != nullptr && fits(next);
}

bool FrameWalk::resync(std::uint64_t& from, std::uint64_t& skipped) {
    from = at;
    for (std::uint64_t candidate = at + 1; candidate < end; ++candidate) {
        if (bytesAt(candidate, 1) == nullptr) break;
        if (frameFollows(candidate)) {
            skipped = candidate - from;
            at = candidate;
            reader.seek(at);
            return true;
        }
    }
    skipped = std::min(end, reader.bytesReceived()) - from;
    return false;
}

void FrameWalk::reservoirOf(std::uint64_t index, std::vector<std::uint8_t>& out) const {
    const SeenFrame& frame = this->frame(index);
    const std::uint64_t back = std::min<std::uint64_t>(frame.layout.mainDataBegin, frame.slotAt);
    out.assign(frame.layout.mainDataBegin, 0);
    std::uint64_t need = back;  // bytes still to take, from the end of `out` back
    for (std::uint64_t i = index; i-- > 0 && need > 0 && holds(i);) {
        const SeenFrame& before = this->frame(i);
        const std::uint8_t* bytes = this->bytes(before);
        const std::uint64_t take = std::min<std::uint64_t>(need, before.layout.slot());
        if (bytes != nullptr) {
            std::memcpy(out.data() + (out.size() - back) + (need - take),
                        bytes + before.layout.size - take, take);
        }
        need -= take;
    }
}

}  // namespace mp3
