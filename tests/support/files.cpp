#include "files.h"

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#ifndef _WIN32
#include <sys/wait.h>
#endif

namespace kalv::testing {

namespace fs = std::filesystem;

TempDir::TempDir() {
    static std::atomic<unsigned> serial{0};
    const fs::path base = fs::temp_directory_path();
    // Test programs run side by side: a name already taken is passed over.
    do {
        const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
        path_ = base / ("kalv-test-" + std::to_string(stamp) + "-" + std::to_string(serial++));
    } while (!fs::create_directory(path_));
}

TempDir::~TempDir() {
    std::error_code ignored;
    // Read-only files left by attribute tests must not keep the folder alive.
    for (auto it = fs::recursive_directory_iterator(path_, ignored); it != fs::recursive_directory_iterator();
         it.increment(ignored))
        fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ignored);
    fs::remove_all(path_, ignored);
}

std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream all;
    all << in.rdbuf();
    return all.str();
}

void write_file(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), std::streamsize(bytes.size()));
}

bool file_exists(const std::string& path) {
    std::error_code ignored;
    return fs::exists(path, ignored);
}

std::string pseudo_random_bytes(size_t n, uint32_t seed) {
    std::string out(n, '\0');
    uint32_t x = seed * 2654435761u + 1;
    for (size_t i = 0; i < n; ++i) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        out[i] = char(x >> 24);
    }
    return out;
}

bool have_tool(const std::string& tool) {
#ifdef _WIN32
    (void)tool;
    return false;
#else
    return std::system(("command -v " + tool + " >/dev/null 2>&1").c_str()) == 0;
#endif
}

int run_in(const fs::path& dir, const std::string& command) {
    const std::string line = "cd '" + dir.string() + "' && " + command + " >/dev/null 2>&1";
    const int status = std::system(line.c_str());
#ifdef _WIN32
    return status;
#else
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
#endif
}

}  // namespace kalv::testing
