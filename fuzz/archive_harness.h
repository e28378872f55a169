// What the archive fuzz targets share: a private directory on a RAM disk holding
// the archive under test and a destination folder, and the jail platform that the
// targets hand to the extraction core, so that every path it gives the OS is checked
// before it reaches it.
#pragma once

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "jail_platform.h"

namespace kalv::fuzz {

class ArchiveSandbox {
public:
    static ArchiveSandbox& instance() {
        static ArchiveSandbox sandbox;
        return sandbox;
    }

    const std::string& archive() const { return archive_; }
    const std::string& dest() const { return dest_; }
    JailPlatform& jail() { return jail_; }

    void write_archive(const uint8_t* data, size_t size) {
        std::ofstream out(archive_, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
        if (!out) abort();
    }

    // Empties the destination and checks that nothing else appeared beside it, and
    // that no extracted file carries a set-id bit.
    void check_and_clear() {
        namespace fs = std::filesystem;
        for (const auto& e : fs::directory_iterator(root_)) {
            const std::string name = e.path().filename().string();
            if (name != "archive.zip" && name != "dest") {
                std::fprintf(stderr, "sandbox: %s appeared beside the destination\n", e.path().c_str());
                abort();
            }
        }
        for (const auto& e : fs::recursive_directory_iterator(dest_)) {
            struct stat st;
            if (::lstat(e.path().c_str(), &st) == 0 && (st.st_mode & (S_ISUID | S_ISGID))) {
                std::fprintf(stderr, "sandbox: %s was given a set-id bit\n", e.path().c_str());
                abort();
            }
            if (S_ISLNK(st.st_mode)) {
                std::fprintf(stderr, "sandbox: %s is a symbolic link\n", e.path().c_str());
                abort();
            }
        }
        fs::remove_all(dest_);
        fs::create_directory(dest_);
    }

private:
    ArchiveSandbox()
        : root_(make_root()),
          archive_(root_ + "/archive.zip"),
          dest_(root_ + "/dest"),
          jail_(platform::native(), archive_, dest_) {
        std::filesystem::create_directory(dest_);
    }

    static std::string make_root() {
        std::string base = std::filesystem::is_directory("/dev/shm") ? "/dev/shm" : "/tmp";
        remove_abandoned(base);
        std::string templ = base + "/kalv-fuzz-" + std::to_string(::getpid()) + "-XXXXXX";
        if (!::mkdtemp(templ.data())) abort();
        // The sandbox lives as long as the fuzzing process; a run ends with exit(),
        // so the folder is removed then.
        static std::string to_remove;
        to_remove = templ;
        std::atexit([] { std::filesystem::remove_all(to_remove); });
        return templ;
    }

    // A run that found something ends by abort(), leaving its folder: the next run
    // removes the folders whose process is gone.
    static void remove_abandoned(const std::string& base) {
        namespace fs = std::filesystem;
        std::error_code ignored;
        for (const auto& e : fs::directory_iterator(base, ignored)) {
            const std::string name = e.path().filename().string();
            const std::string prefix = "kalv-fuzz-";
            if (name.compare(0, prefix.size(), prefix) != 0) continue;
            const long pid = std::strtol(name.c_str() + prefix.size(), nullptr, 10);
            if (pid > 0 && ::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH) fs::remove_all(e.path(), ignored);
        }
    }

    std::string root_;
    std::string archive_;
    std::string dest_;
    JailPlatform jail_;
};

}  // namespace kalv::fuzz
