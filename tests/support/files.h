// Real files for the tests: a temporary directory that cleans up after itself,
// whole-file reads and writes, and the peers (Info-ZIP zip/unzip, 7-Zip) run in a
// folder when they are installed.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

namespace kalv::testing {

// A fresh directory under the system's temporary folder, removed with its content,
// read-only files included.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& path() const { return path_; }
    // The native path of `name` inside the directory.
    std::string file(const std::string& name) const { return (path_ / name).string(); }

private:
    std::filesystem::path path_;
};

// `path` with each "/" turned into the system's delimiter (a backslash on Windows), as
// the ZIP component builds its output paths.
inline std::string native(std::string path) {
#ifdef _WIN32
    for (char& c : path)
        if (c == '/') c = '\\';
#endif
    return path;
}

// The whole file; empty when it cannot be read.
std::string read_file(const std::string& path);
void write_file(const std::string& path, const std::string& bytes);
bool file_exists(const std::string& path);

// Deterministic bytes that neither compress away nor repeat in short periods.
std::string pseudo_random_bytes(size_t n, uint32_t seed);

// True when `tool` runs here (the peers are missing under Wine).
bool have_tool(const std::string& tool);
// Runs a shell command in `dir`; returns its exit status.
int run_in(const std::filesystem::path& dir, const std::string& command);

}  // namespace kalv::testing
