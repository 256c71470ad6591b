// A real folder on disk for one test, removed afterwards.
#pragma once
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

namespace testfs {
namespace fs = std::filesystem;

class TempFolder {
public:
    TempFolder() {
        std::random_device seed;
        std::mt19937 random(seed());
        for (int attempt = 0; attempt < 100; ++attempt) {
            fs::path candidate = fs::temp_directory_path() / ("mosslane-test-" + std::to_string(random()));
            std::error_code error;
            if (fs::create_directory(candidate, error)) {
                root_ = candidate;
                return;
            }
        }
        std::abort();
    }
    ~TempFolder() {
        std::error_code ignored;
        fs::permissions(root_, fs::perms::owner_all, fs::perm_options::add, ignored);
        fs::remove_all(root_, ignored);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    const fs::path& Path() const { return root_; }

private:
    fs::path root_;
};

// A relative path with backslashes as the wire uses them, on this platform.
inline fs::path Native(const std::string& relative) {
    std::string s = relative;
    for (char& c : s)
        if (c == '\\') c = static_cast<char>(fs::path::preferred_separator);
    return fs::path(s);
}

inline void WriteFile(const fs::path& path, const std::string& content) {
    fs::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary);
    out.write(content.data(), static_cast<std::streamsize>(content.size()));
}

// A file written a while ago, as the outgoing scan offers it; a file written
// this very moment may still be growing and waits for a later scan.
inline void WriteSettledFile(const fs::path& path, const std::string& content) {
    WriteFile(path, content);
    fs::last_write_time(path, fs::file_time_type::clock::now() - std::chrono::minutes(1));
}

inline std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline std::string Pattern(size_t size, unsigned seed = 1) {
    std::string s(size, '\0');
    std::mt19937 random(seed);
    for (char& c : s) c = static_cast<char>(random());
    return s;
}

}  // namespace testfs
