#include "cli/output_file.h"

#include <algorithm>

#include "stream/buffer_pool.h"

OutputFile::OutputFile(const std::string& name, platform::FileHandle& handle,
                       platform::FileHandle input, ProgressLine& progress)
    : name(name), handle(handle), input(input), progress(progress) {}

OutputFile::~OutputFile() { keepBuffer(std::move(bytes), capacity); }

bool OutputFile::create() {
    if (created()) return true;
    handle = platform::createForWriting(name.c_str(), input);
    creationFailed = !created();
    return !creationFailed;
}

bool OutputFile::writeFrameSlowly(const std::vector<std::int32_t>& frame) {
    return create() && append(frame);
}

bool OutputFile::append(const std::vector<std::int32_t>& frame) {
    if (size + frame.size() > capacity && !flush()) return false;
    if (!bytes) bytes = takeBuffer(capacity);
    // A frame longer than the buffer (a DTS-HD extension substream frame may take up to
    // 1 MiB) goes through it in parts.
    for (std::size_t from = 0; from < frame.size(); from += capacity) {
        if (from > 0 && !flush()) return false;
        narrow(frame.data() + from, std::min(capacity, frame.size() - from));
    }
    return true;
}

bool OutputFile::writeBytes(const std::uint8_t* data, std::size_t count) {
    if (count == 0) return true;
    if (!create()) return false;
    if (size + count > capacity && !flush()) return false;
    if (count >= capacity) {
        batchFailed = !platform::writeAll(handle, data, count);
        if (batchFailed && platform::stopRequested()) platform::endAsStopped();
        return !batchFailed;
    }
    if (!bytes) bytes = takeBuffer(capacity);
    std::memcpy(bytes.get() + size, data, count);
    size += count;
    return true;
}

bool OutputFile::rewriteStart(const std::vector<std::uint8_t>& start) {
    if (!created() || !flush()) return false;
    if (platform::fileSize(handle) < 0) return true;
    if (!platform::seekTo(handle, 0)) return false;
    batchFailed = !platform::writeAll(handle, start.data(), start.size());
    return !batchFailed;
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
    // A line is due once the bytes before it are written.
    const std::size_t due = static_cast<std::size_t>(
        std::upper_bound(heldEnds.begin(), heldEnds.end(), written) - heldEnds.begin());
    progress.show(heldTimes.data(), due);
    heldEnds.clear();
    heldTimes.clear();
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
