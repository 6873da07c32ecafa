#include "stream/buffer_pool.h"

#include <utility>
#include <vector>

namespace {

struct Kept {
    std::size_t size;
    std::unique_ptr<std::uint8_t[]> buffer;
};

constexpr std::size_t mostKept = 8;

std::vector<Kept>& kept() {
    static std::vector<Kept> buffers;
    return buffers;
}

}  // namespace

std::unique_ptr<std::uint8_t[]> takeBuffer(std::size_t size) {
    std::vector<Kept>& buffers = kept();
    for (std::size_t i = buffers.size(); i-- > 0;) {
        if (buffers[i].size != size) continue;
        std::unique_ptr<std::uint8_t[]> buffer = std::move(buffers[i].buffer);
        buffers.erase(buffers.begin() + static_cast<std::ptrdiff_t>(i));
        return buffer;
    }
    return std::unique_ptr<std::uint8_t[]>(new std::uint8_t[size]);
}

void keepBuffer(std::unique_ptr<std::uint8_t[]> buffer, std::size_t size) {
    if (buffer && kept().size() < mostKept) kept().push_back({size, std::move(buffer)});
}
