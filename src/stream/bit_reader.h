// Sequential access to the input file as bits (most significant first) and whole bytes,
// through one 1 MiB buffer that is refilled as it is consumed.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "platform/file_io.h"

class BitReader {
public:
    // Both the buffer size and the size of every read request. A fill that delivers less
    // than this means the file has ended.
    static constexpr std::int32_t bufferSize = 0x100000;

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
    platform::FileHandle handle() const { return file; }

private:
    void consumeByte();
    // Drops the unread rest of a partly read byte.
    void skipToByteBoundary();
    bool fill();

    platform::FileHandle file = platform::invalidHandle;
    std::unique_ptr<std::uint8_t[]> buffer;
    std::int32_t pos = 0;       // index of the current byte in buffer
    std::int32_t bitsLeft = 8;  // unread bits of the current byte; 8 = on a byte boundary
    std::uint32_t bytesInBuffer = 0;
    bool endReached = false;
    bool overrun = false;
    bool failed = false;
};
