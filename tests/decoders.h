// The real decoders that judge what the program writes: ffmpeg, and liba52 through
// tests/a52_check.cpp. Both are optional; tests that need one skip without it.
#pragma once

#include <sys/wait.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#ifdef MORVANE_A52_CHECK
inline const char* const a52Check = MORVANE_A52_CHECK;
#else
inline const char* const a52Check = nullptr;
#endif

// Runs a command through the shell; returns its exit status and standard output.
inline std::pair<int, std::string> shell(const std::string& command) {
    std::string out;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return {-1, out};
    char chunk[4096];
    std::size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, pipe)) > 0) out.append(chunk, n);
    const int status = pclose(pipe);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, out};
}

inline bool installed(const std::string& command) {
    return shell("command -v " + command + " >/dev/null 2>&1").first == 0;
}

// 16-bit little-endian samples from `from` on.
inline std::vector<float> samples16(const std::string& bytes, std::size_t from = 0) {
    std::vector<float> samples;
    for (std::size_t i = from; i + 1 < bytes.size(); i += 2) {
        samples.push_back(static_cast<std::int16_t>(static_cast<std::uint8_t>(bytes[i]) |
                                                    static_cast<std::uint8_t>(bytes[i + 1]) << 8));
    }
    return samples;
}

inline bool haveFfmpeg() {
    static const bool found = installed("ffmpeg");
    return found;
}

// The strictest checks ffmpeg's decoders have, each failure fatal.
inline const std::string strictChecks = "-err_detect crccheck+bitstream+buffer+explode";

struct Decoded {
    int status;
    std::string messages;        // anything ffmpeg said: a decoding error
    std::vector<float> samples;  // interleaved, as the decoder gave them
};

// Decodes `path` (FORMAT "ac3" or "eac3") with ffmpeg under the strictest checks.
inline Decoded ffmpegDecode(const std::string& path, const std::string& format) {
    const std::string messages = path + ".messages";
    auto [status, pcm] = shell("ffmpeg -nostdin -v error " + strictChecks + " -f " + format +
                               " -i " + path + " -f f32le - 2>" + messages);
    Decoded decoded{status, shell("cat " + messages).second, {}};
    decoded.samples.resize(pcm.size() / sizeof(float));
    std::memcpy(decoded.samples.data(), pcm.data(), decoded.samples.size() * sizeof(float));
    return decoded;
}

inline bool haveFlac() {
    static const bool found = installed("flac") && installed("metaflac");
    return found;
}

inline bool haveMpg123() {
    static const bool found = installed("mpg123");
    return found;
}

// Decodes an MPEG audio file with mpg123, the second decoder for the format: its exit status,
// what it said, and its 16-bit samples.
inline Decoded mpg123Decode(const std::string& path) {
    const std::string messages = path + ".mpg123";
    auto [status, pcm] = shell("mpg123 -q -s " + path + " 2>" + messages);
    return {status, shell("cat " + messages).second, samples16(pcm)};
}

inline bool haveDcadec() {
    static const bool found = installed("dcadec");
    return found;
}

// Decodes a DTS file with libdca's dcadec, the second decoder for the format, into WAV with all
// of the stream's `channels`: as floats, but for stereo, which it writes as 16-bit samples (its
// floats of stereo are off by one step). Its exit status, what it said but for its banner and
// count, and the samples of the WAV's data chunk.
inline Decoded dcadecDecode(const std::string& path, int channels) {
    const auto [status, pcm] = shell("dcadec -o " + std::string(channels == 2 ? "wav " : "wav6 ") +
                                     path + " 2>" + path + ".dcadec");
    const std::string said =
        shell("grep -v -E '^(libdca|  based|$|[0-9]+ frames decoded)' " + path + ".dcadec").second;
    Decoded decoded{status, said, {}};
    const std::size_t data = pcm.find("data");
    if (data == std::string::npos || pcm.size() < 36) return decoded;
    if (static_cast<std::uint8_t>(pcm[34]) == 16) {
        decoded.samples = samples16(pcm, data + 8);
        return decoded;
    }
    decoded.samples.resize((pcm.size() - data - 8) / sizeof(float));
    std::memcpy(decoded.samples.data(), pcm.data() + data + 8,
                decoded.samples.size() * sizeof(float));
    return decoded;
}

inline bool haveFaad() {
    static const bool found = installed("faad");
    return found;
}

// Decodes an AAC file with faad, the second decoder for the format, into a WAV file: its exit
// status, what it said (but for its banner), and the 16-bit samples of the WAV's data chunk.
inline Decoded faadDecode(const std::string& path) {
    const std::string wav = path + ".wav";
    const auto [status, said] = shell("faad -q -o " + wav + " " + path + " 2>&1");
    Decoded decoded{status, said, {}};
    const std::string bytes = shell("cat " + wav).second;
    const std::size_t data = bytes.find("data");
    if (data != std::string::npos) decoded.samples = samples16(bytes, data + 8);
    return decoded;
}
