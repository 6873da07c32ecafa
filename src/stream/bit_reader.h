// Sequential access to the input file as bits (most significant first) and whole bytes,
// through one 1 MiB buffer that is refilled as it is consumed. The last few KiB of the block
// before are kept in front of the buffer, so that the reader can step back a little: enough
// to try every byte of a frame's length as the start of another frame.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "platform/file_io.h"

class BitReader {
public:
    // Both the buffer size and the size of every read request. A fill that delivers less
    // than this means the file has ended.
    static constexpr std::int32_t bufferSize = 0x100000;
    // How far back seek() can always go: the longer of 20 KiB and twice the longest run of
    // bytes appendBytes() was asked for, and 4 KiB more, up to 64 KiB. That is more than two
    // frames and a sync word, for a search that reads two frames before it steps back, and
    // more than 4 KiB and a time step, for repair's read ahead: a DTS-HD step at Blu-ray's
    // highest rate, a core frame and an extension substream frame, is under 40 KiB. Only
    // what is kept is ever written, so streams of short frames keep their memory small.
    static constexpr std::int32_t minimumHistory = 0x5000;
    static constexpr std::int32_t historySize = 0x10000;

    // Opens the file and reads the first block. A file that cannot be opened leaves the
    // reader exhausted from the start (isOpen() false, atEnd() true).
    explicit BitReader(const char* fileName);
    ~BitReader();
    BitReader(const BitReader&) = delete;
    BitReader& operator=(const BitReader&) = delete;

    // The next n bits (0 to 32), first bit read in the most significant place.
    std::int32_t readBits(int n);
    // Skips the unread rest of a partly read byte, then returns the next byte (0 to 255).
    std::int32_t readByte();
    // Appends the next `count` whole bytes to `out`, exactly as `count` calls of readByte()
    // would, but taken from the buffer in runs.
    void appendBytes(std::vector<std::int32_t>& out, std::int32_t count);

    // Raised the moment the last byte of the file is consumed, not at a read beyond it.
    bool atEnd() const { return endReached; }
    // A read was asked for after atEnd(): its value (0) did not come from the file.
    bool overran() const { return overrun; }
    // The input ended through a read error rather than the end of the file.
    bool readFailed() const { return failed; }
    bool isOpen() const { return file != platform::invalidHandle; }
    // Bytes consumed from the start of the input: the position of the next whole byte.
    std::uint64_t offset() const { return blockStart + static_cast<std::int64_t>(pos); }
    // Bytes delivered by the input so far.
    std::uint64_t bytesReceived() const { return blockStart + bytesInBuffer; }
    // How many bytes the input holds from `offset` on. A regular file's size is known; any
    // other input is known to its end only when it was read to its end: until then the count
    // is of the bytes received, and `atLeast` is set.
    std::uint64_t bytesAfter(std::uint64_t offset, bool& atLeast) const;
    // Moves to `target` on a byte boundary: back by up to historySize bytes, or forward by any
    // distance. Going back undoes the end flag and a noted overrun. False when `target` lies
    // too far back, or past the end of the input (the reader is then at its end).
    bool seek(std::uint64_t target);
    // As seek(), but a regular file is not read on the way: a target outside the bytes at hand
    // is read from anew, forward or back. Other inputs are read up to a target ahead.
    bool jumpTo(std::uint64_t target);
    // The bytes from the reader's position to the end of those at hand: `count` of them, 0 at
    // the end of the input. seek() past them brings the next.
    const std::uint8_t* run(std::size_t& count) const {
        count = endReached ? 0 : static_cast<std::size_t>(bytesReceived() - offset());
        return count == 0 ? nullptr : data + pos;
    }
    // The `count` bytes at `offset` as they stand in the buffer, or nullptr when they are not
    // all there: anything from historySize bytes back up to the last byte consumed is.
    const std::uint8_t* recent(std::uint64_t offset, std::size_t count) const {
        if (!buffer || offset + count > bytesReceived() ||
            offset + static_cast<std::uint64_t>(historyValid) < blockStart) {
            return nullptr;
        }
        return data + static_cast<std::int64_t>(offset - blockStart);
    }
    // As recent(), for `size` bytes or, where fewer are at hand (at the end of the input),
    // as many as there are down to 2; `size` says how many. nullptr when not even 2 are.
    const std::uint8_t* recentUpTo(std::uint64_t offset, std::size_t& size) const {
        const std::uint8_t* bytes = nullptr;
        while (size >= 2 && (bytes = recent(offset, size)) == nullptr) --size;
        return bytes;
    }
    // From the reader's position on, the offset of the first 4 bytes at hand that pass `test`;
    // where none do, of the last 3 at hand, whose test needs the bytes after them. So a search
    // passes over a block of junk in one loop.
    template <typename Test>
    std::uint64_t firstPassing(Test test) const {
        std::size_t count = 0;
        const std::uint8_t* bytes = run(count);
        std::size_t i = 0;
        while (i + 4 <= count && !test(bytes + i)) ++i;
        return offset() + i;
    }
    // Called before every read after the first, that is whenever the reader is about to wait
    // for more input. Returning false ends the input there, as if the file had ended.
    void beforeRefill(std::function<bool()> hook) { refillHook = std::move(hook); }
    platform::FileHandle handle() const { return file; }

private:
    void consumeByte();
    // Drops the unread rest of a partly read byte.
    void skipToByteBoundary();
    bool fill();

    platform::FileHandle file = platform::invalidHandle;
    // How much of the block's end the next refill keeps in front of it.
    std::int32_t historyToKeep() const;

    // historySize bytes, then the block; `data` points at the block. The bytes before it are
    // the end of the previous block, historyValid of them good.
    std::unique_ptr<std::uint8_t[]> buffer;
    std::uint8_t* data = nullptr;
    std::int32_t historyValid = 0;
    std::int32_t longestRun = 0;   // the most bytes appendBytes() was asked for at once
    std::uint64_t blockStart = 0;  // offset in the input of data[0]
    std::int32_t pos = 0;          // index of the current byte in data; below 0 in the history
    std::int32_t bitsLeft = 8;     // unread bits of the current byte; 8 = on a byte boundary
    std::uint32_t bytesInBuffer = 0;
    std::function<bool()> refillHook;
    bool endReached = false;
    bool overrun = false;
    bool failed = false;
};
