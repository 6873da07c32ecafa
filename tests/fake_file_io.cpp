#include "fake_file_io.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <vector>

#include "platform/file_io.h"

namespace {

struct FakeFile {
    Bytes data;
    std::size_t failAt;
    std::size_t position = 0;
};

std::map<std::string, FakeFile>& registered() {
    static std::map<std::string, FakeFile> files;
    return files;
}

std::vector<FakeFile>& opened() {
    static std::vector<FakeFile> files;
    return files;
}

}  // namespace

void fake_files::add(const std::string& name, Bytes data, std::size_t failAt) {
    registered()[name] = FakeFile{std::move(data), failAt};
}

namespace platform {

FileHandle openForReading(const char* name) {
    const auto found = registered().find(name);
    if (found == registered().end()) return invalidHandle;
    opened().push_back(found->second);
    return static_cast<FileHandle>(opened().size() - 1);
}

ReadResult readFull(FileHandle file, std::uint8_t* buffer, std::size_t size) {
    FakeFile& f = opened().at(static_cast<std::size_t>(file));
    const std::size_t available = std::min(f.data.size(), f.failAt) - f.position;
    const std::size_t count = std::min(size, available);
    std::memcpy(buffer, f.data.data() + f.position, count);
    f.position += count;
    const bool failed = count < size && f.position == f.failAt;
    return {count, failed};
}

bool closeFile(FileHandle) { return true; }

bool seekTo(FileHandle file, std::uint64_t offset) {
    FakeFile& f = opened().at(static_cast<std::size_t>(file));
    f.position = std::min<std::size_t>(offset, f.data.size());
    return true;
}

std::int64_t fileSize(FileHandle file) {
    return static_cast<std::int64_t>(opened().at(static_cast<std::size_t>(file)).data.size());
}

}  // namespace platform
