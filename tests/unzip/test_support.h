// Helpers shared by the ZIP tests: temporary directories, whole-file reads and
// writes, and running the peers (Info-ZIP zip/unzip, 7-Zip) when they are there.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace kalv::unzip::testing {

// A fresh directory under the system's temporary folder, removed with its content.
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

std::string read_file(const std::string& path);
void write_file(const std::string& path, const std::string& bytes);
bool file_exists(const std::string& path);

// Deterministic bytes that neither compress away nor repeat in short periods.
std::string pseudo_random_bytes(size_t n, uint32_t seed);

// True when `tool` runs here (the peers are missing under Wine).
bool have_tool(const std::string& tool);
// Runs a shell command in `dir`; returns its exit status.
int run_in(const std::filesystem::path& dir, const std::string& command);

// Little-endian record building for crafted archives.
void put16(std::string& out, uint16_t v);
void put32(std::string& out, uint32_t v);

}  // namespace kalv::unzip::testing
