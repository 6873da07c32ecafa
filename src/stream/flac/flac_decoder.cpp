#include "stream/flac/flac_decoder.h"

#include <algorithm>

namespace flac {

namespace {

// Bits of a frame, most significant first; a read past the end reads zeros and is noted.
class Bits {
public:
    Bits(const std::uint8_t* data, std::size_t size) : data(data), size(size) {}
    std::uint64_t read(int count) {
        std::uint64_t value = 0;
        for (int i = 0; i < count; ++i) value = value << 1 | bit();
        return value;
    }
    std::int64_t readSigned(int count) {
        if (count == 0) return 0;
        const std::uint64_t value = read(count);
        const std::uint64_t sign = std::uint64_t{1} << (count - 1);
        return static_cast<std::int64_t>(value ^ sign) - static_cast<std::int64_t>(sign);
    }
    // Zeros up to the first one.
    std::uint32_t unary() {
        std::uint32_t zeros = 0;
        while (bit() == 0 && !overrun) ++zeros;
        return zeros;
    }
    bool overran() const { return overrun; }

private:
    std::uint32_t bit() {
        if (at >= size * 8) {
            overrun = true;
            return 0;
        }
        const std::uint32_t value = data[at / 8] >> (7 - at % 8) & 1;
        ++at;
        return value;
    }
    const std::uint8_t* data;
    std::size_t size, at = 0;
    bool overrun = false;
};

// A channel's samples in the decoder's work area.
class Channel {
public:
    Channel(std::int64_t* samples, std::size_t count) : samples(samples), count(count) {}
    std::size_t size() const { return count; }
    std::int64_t& operator[](std::size_t i) { return samples[i]; }
    std::int64_t* begin() { return samples; }
    std::int64_t* end() { return samples + count; }

private:
    std::int64_t* samples;
    std::size_t count;
};

bool residual(Bits& bits, Channel& out, std::size_t order) {
    const std::uint64_t method = bits.read(2);
    if (method > 1) return false;
    const int paramBits = method == 0 ? 4 : 5;
    const std::uint64_t escape = method == 0 ? 15 : 31;
    const int partitionOrder = static_cast<int>(bits.read(4));
    const std::size_t partitions = std::size_t{1} << partitionOrder;
    if (out.size() % partitions != 0 || out.size() / partitions < order) return false;
    std::size_t at = order;
    for (std::size_t p = 0; p < partitions; ++p) {
        const std::size_t end = (p + 1) * (out.size() / partitions);
        const std::uint64_t param = bits.read(paramBits);
        const int raw = param == escape ? static_cast<int>(bits.read(5)) : -1;
        for (; at < end && !bits.overran(); ++at) {
            if (raw >= 0) {
                out[at] = bits.readSigned(raw);
                continue;
            }
            const std::uint64_t folded = static_cast<std::uint64_t>(bits.unary()) << param |
                                         bits.read(static_cast<int>(param));
            out[at] =
                static_cast<std::int64_t>(folded >> 1) ^ -static_cast<std::int64_t>(folded & 1);
        }
    }
    return !bits.overran();
}

// Sums wrap rather than overflow: only a damaged frame comes near the edges.
std::int64_t wrapped(std::uint64_t value) { return static_cast<std::int64_t>(value); }
std::uint64_t u(std::int64_t value) { return static_cast<std::uint64_t>(value); }

void predictFixed(Channel& s, std::size_t order) {
    static constexpr std::int64_t weights[5][4] = {
        {0, 0, 0, 0}, {1, 0, 0, 0}, {2, -1, 0, 0}, {3, -3, 1, 0}, {4, -6, 4, -1}};
    for (std::size_t i = order; i < s.size(); ++i) {
        std::uint64_t sum = u(s[i]);
        for (std::size_t j = 0; j < order; ++j) sum += u(weights[order][j]) * u(s[i - 1 - j]);
        s[i] = wrapped(sum);
    }
}

bool lpc(Bits& bits, Channel& s, std::size_t order, int width) {
    for (std::size_t i = 0; i < order; ++i) s[i] = bits.readSigned(width);
    const int precision = static_cast<int>(bits.read(4)) + 1;
    const std::int64_t shift = bits.readSigned(5);
    if (precision == 16 || shift < 0) return false;
    std::vector<std::int64_t> coefficients(order);
    for (std::int64_t& c : coefficients) c = bits.readSigned(precision);
    if (!residual(bits, s, order)) return false;
    for (std::size_t i = order; i < s.size(); ++i) {
        std::uint64_t sum = 0;
        for (std::size_t j = 0; j < order; ++j) sum += u(coefficients[j]) * u(s[i - 1 - j]);
        s[i] = wrapped(u(s[i]) + u(wrapped(sum) >> shift));
    }
    return true;
}

bool subframe(Bits& bits, Channel& s, int width) {
    if (bits.read(1) != 0) return false;
    const std::uint64_t type = bits.read(6);
    int wasted = 0;
    if (bits.read(1) != 0) wasted = static_cast<int>(bits.unary()) + 1;
    width -= wasted;
    if (width <= 0) return false;
    bool ok = true;
    if (type == 0) {
        const std::int64_t value = bits.readSigned(width);
        for (std::int64_t& v : s) v = value;
    } else if (type == 1) {
        for (std::int64_t& v : s) v = bits.readSigned(width);
    } else if (type >= 8 && type <= 12) {
        const std::size_t order = type - 8;
        if (order > s.size()) return false;
        for (std::size_t i = 0; i < order; ++i) s[i] = bits.readSigned(width);
        ok = residual(bits, s, order);
        predictFixed(s, order);
    } else if (type >= 32) {
        const std::size_t order = type - 31;
        ok = order <= s.size() && lpc(bits, s, order, width);
    } else {
        return false;
    }
    for (std::int64_t& v : s) v = wrapped(u(v) << wasted);
    return ok && !bits.overran();
}

void decorrelate(int assignment, Channel& a, Channel& b) {
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (assignment == 8) {
            b[i] = wrapped(u(a[i]) - u(b[i]));  // left, side
        } else if (assignment == 9) {
            a[i] = wrapped(u(a[i]) + u(b[i]));  // side, right
        } else {
            const std::uint64_t mid = u(a[i]) << 1 | (u(b[i]) & 1), side = u(b[i]);
            a[i] = wrapped(mid + side) >> 1;
            b[i] = wrapped(mid - side) >> 1;
        }
    }
}

}  // namespace

bool FrameDecoder::decode(const std::uint8_t* frame, std::size_t size, const FrameHeader& header,
                          int bits, std::vector<std::int32_t>& samples) {
    if (size < header.length + 2) return false;
    Bits in(frame + header.length, size - header.length - 2);
    const std::size_t count = header.blockSize;
    work.resize(count * static_cast<std::size_t>(header.channels));
    std::vector<Channel> channels;
    for (int c = 0; c < header.channels; ++c) {
        channels.emplace_back(work.data() + static_cast<std::size_t>(c) * count, count);
    }
    for (int c = 0; c < header.channels; ++c) {
        // The side channel has one bit more.
        const bool side = (header.assignment == 8 || header.assignment == 10) ? c == 1
                          : header.assignment == 9                            ? c == 0
                                                                              : false;
        if (!subframe(in, channels[static_cast<std::size_t>(c)], bits + (side ? 1 : 0))) {
            return false;
        }
    }
    if (header.assignment >= 8) decorrelate(header.assignment, channels[0], channels[1]);
    samples.resize(work.size());
    std::transform(work.begin(), work.end(), samples.begin(),
                   [](std::int64_t v) { return static_cast<std::int32_t>(v); });
    return true;
}

}  // namespace flac
