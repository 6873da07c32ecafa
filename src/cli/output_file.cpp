#include "cli/output_file.h"

#include <algorithm>

OutputFile::OutputFile(const std::string& name, platform::FileHandle& handle,
                       platform::FileHandle input, ProgressLine& progress)
    : name(name), handle(handle), input(input), progress(progress) {}

bool OutputFile::writeFrame(const std::vector<std::int32_t>& frame) {
    if (!created()) {
        handle = platform::createForWriting(name.c_str(), input);
        creationFailed = !created();
        if (creationFailed) return false;
    }
    return append(frame);
}

bool OutputFile::append(const std::vector<std::int32_t>& frame) {
    if (size + frame.size() > capacity && !flush()) return false;
    if (!bytes) bytes.reset(new std::uint8_t[capacity]);
    // A frame longer than the buffer (a DTS-HD extension substream frame may take up to
    // 1 MiB) goes through it in parts.
    for (std::size_t from = 0; from < frame.size(); from += capacity) {
        if (from > 0 && !flush()) return false;
        narrow(frame.data() + from, std::min(capacity, frame.size() - from));
    }
    return true;
}

void OutputFile::narrow(const std::int32_t* in, std::size_t count) {
    // Through local pointers and a local count: a store through a byte pointer could change
    // `size` or the vector's own bounds, and the compiler would then narrow one byte at a time.
    std::uint8_t* out = bytes.get() + size;
    for (std::size_t i = 0; i < count; ++i) {
        out[i] = static_cast<std::uint8_t>(in[i] & 0xFF);
    }
    size += count;
}

void OutputFile::progressLine(double time) {
    if (size == 0) {
        progress.show(time);
    } else {
        held.push_back({size, time});
    }
}

void OutputFile::showProgressIfDue() {
    if (progress.due() && flush()) progress.flushNow();
}

bool OutputFile::flush() {
    if (batchFailed) return false;
    if (size == 0) return true;
    std::size_t written = 0;
    batchFailed = !platform::writeAll(handle, bytes.get(), size, &written);
    // A stop request cut the write short: the signal ends the run, not a write error.
    if (batchFailed && platform::stopRequested()) platform::endAsStopped();
    for (const Held& line : held) {
        if (line.end > written) break;
        progress.show(line.time);
    }
    held.clear();
    size = 0;
    return !batchFailed;
}

void OutputFile::endIfStopped() {
    if (!platform::stopRequested()) return;
    flush();
    platform::endAsStopped();
}

bool OutputFile::close() {
    if (!created()) return true;
    const bool closed = platform::closeFile(handle);
    handle = platform::invalidHandle;
    return closed;
}
