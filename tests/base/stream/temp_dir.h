// TTempDir, a private directory under the system's temporary folder for one test.
#pragma once

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <system_error>
#include <vector>

namespace KavTest {

// Creates a fresh directory with a random name and removes it with its
// content on destruction, so tests never write into the current folder and
// parallel runs never share a file.
class TTempDir {
public:
    TTempDir() {
        std::random_device seed;
        std::mt19937_64 random(seed());
        const std::filesystem::path base = std::filesystem::temp_directory_path();
        for (;;) {
            path = base / ("kav_test_" + std::to_string(random()));
            if (std::filesystem::create_directory(path)) break;
        }
    }
    TTempDir(const TTempDir&) = delete;
    TTempDir& operator=(const TTempDir&) = delete;
    ~TTempDir() {
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
    }

    // Full name of a file in the directory, as text for the C runtime.
    std::string File(const std::string& name) const { return (path / name).string(); }

    std::filesystem::path path;
};

// The whole content of a file, or nothing when it cannot be read.
inline std::vector<unsigned char> ReadFileBytes(const std::string& name) {
    std::ifstream in(name, std::ios::binary);
    return std::vector<unsigned char>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void WriteFileBytes(const std::string& name, const std::string& content) {
    std::ofstream out(name, std::ios::binary | std::ios::trunc);
    out.write(content.data(), static_cast<std::streamsize>(content.size()));
}

}  // namespace KavTest
