// What the benchmark leaves behind, read back for the tests that run it as a
// process: whole files, the BMP's little-endian fields and the timing line.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace KavTest {

// The whole content of a file; empty when it cannot be read.
inline std::string ReadFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline std::uint32_t Le32(const std::string& bytes, std::size_t at) {
    return static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at])) |
           static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at + 1])) << 8 |
           static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at + 2])) << 16 |
           static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at + 3])) << 24;
}

// "AO Multi Thread Time = " + decimal milliseconds without leading zeros +
// "ms" and one line feed, nothing else.
inline bool IsTimingLine(const std::string& text) {
    const std::string label = "AO Multi Thread Time = ";
    const std::string tail = "ms\n";
    if (text.size() < label.size() + 1 + tail.size()) return false;
    if (text.compare(0, label.size(), label) != 0) return false;
    if (text.compare(text.size() - tail.size(), tail.size(), tail) != 0) return false;
    const std::string digits = text.substr(label.size(), text.size() - label.size() - tail.size());
    if (digits.find_first_not_of("0123456789") != std::string::npos) return false;
    return digits == "0" || digits[0] != '0';
}

}  // namespace KavTest
