// The output file's life: created at the first frame to copy, the copied frames collected in
// a batch with the progress lines they hold back, stop signals, and the checked close.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "cli/progress_line.h"
#include "platform/file_io.h"

// The bytes of the frames to copy are collected so that they reach the file in a few large
// writes instead of one per frame. Nothing anyone can see changes with it: a progress line is
// held until its frame has been handed to the system, and a write that stops after N bytes
// leaves the file as one write per frame would have, and shows the progress lines of the
// frames before the one that holds byte N.
class OutputFile {
public:
    // At most this much is held, so that the whole program stays within a few MiB.
    static constexpr std::size_t capacity = 256 * 1024;

    // `handle` is where the open file is kept (invalid until the first frame); `input` is
    // the input's handle, which the output may never be.
    OutputFile(const std::string& name, platform::FileHandle& handle, platform::FileHandle input,
               ProgressLine& progress);
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // Copies a frame (one element per byte: read, held or made), creating the file first if it
    // is not open yet. False when the file could not be created (notCreated()) or a write
    // failed (writeFailed()).
    bool writeFrame(const std::vector<std::int32_t>& frame) {
        // Most frames go straight into the batch.
        if (!created() || !bytes || size + frame.size() > capacity) return writeFrameSlowly(frame);
        narrow(frame.data(), frame.size());
        return true;
    }
    // Copies `count` bytes, creating the file first if it is not open yet; a run longer than
    // the batch goes to the file at once. False as for writeFrame().
    bool writeBytes(const std::uint8_t* data, std::size_t count);
    // After the last write: `start` takes the place of the file's first bytes (a header
    // whose sizes are known only now). A file that cannot go back (a pipe) keeps what it
    // has. False when a write fails.
    bool rewriteStart(const std::vector<std::uint8_t>& start);
    // The progress line of the time step just walked: shown now, or once the frames before it
    // are in the file.
    void progressLine(double time) {
        if (size == 0) {
            progress.show(time);
        } else {
            heldEnds.push_back(size);
            heldTimes.push_back(time);
        }
    }
    // On a terminal, shows the progress of the last 50 ms; the frames go out first.
    void showProgressIfDue();
    // Hands everything held to the system and shows the progress lines it held. False when
    // the write failed (now or before): then only the lines of the frames that are wholly in
    // the file are shown.
    bool flush();
    // After a stop request (see platform::catchStopRequests): writes out what is held and
    // ends the process as the request would have.
    void endIfStopped();
    // Closes the file if it was created. False when the system reports an error, which some
    // file systems (NFS, or a full quota) give only then.
    bool close();

    bool created() const { return handle != platform::invalidHandle; }
    bool notCreated() const { return creationFailed; }
    bool writeFailed() const { return batchFailed; }

private:
    // Creates the file if it is not open yet. False when that failed (notCreated()).
    bool create();
    // A frame that opens the file, fills the batch or needs its buffer first.
    bool writeFrameSlowly(const std::vector<std::int32_t>& frame);
    bool append(const std::vector<std::int32_t>& frame);
    // Puts `count` bytes, one an element, at the end of the buffer, which has room for them.
    void narrow(const std::int32_t* in, std::size_t count) {
        std::uint8_t* out = bytes.get() + size;
        size += count;
        if (count < block) {
            for (std::size_t i = 0; i < count; ++i)
                out[i] = static_cast<std::uint8_t>(in[i] & 0xFF);
            return;
        }
        // In whole blocks, the last one reaching back over bytes already done: frames are
        // short, and a loop's odd end would cost as much as the rest of a frame.
        for (std::size_t i = 0; i + block < count; i += block) narrowBlock(out + i, in + i);
        narrowBlock(out + count - block, in + count - block);
    }
    static void narrowBlock(std::uint8_t* out, const std::int32_t* in) {
        // Through a local block: a store through a byte pointer could change any element, and
        // the compiler would then narrow one byte at a time.
        std::uint8_t local[block];
        for (std::size_t i = 0; i < block; ++i) local[i] = static_cast<std::uint8_t>(in[i] & 0xFF);
        std::memcpy(out, local, block);
    }
    static constexpr std::size_t block = 16;

    const std::string& name;
    platform::FileHandle& handle;
    platform::FileHandle input;
    ProgressLine& progress;
    std::unique_ptr<std::uint8_t[]> bytes;
    std::size_t size = 0;
    // The progress lines held, and how many bytes must be written for each to be due.
    std::vector<std::size_t> heldEnds;
    std::vector<double> heldTimes;
    bool creationFailed = false;
    bool batchFailed = false;
};
