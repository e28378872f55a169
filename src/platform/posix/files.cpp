// Files and directories on POSIX: plain file descriptors, stat and local time.
// Windows' share modes have no POSIX counterpart; the archive is simply opened
// read-only. Windows' read-only attribute is mirrored by "no write permission bit".
#include "platform/native_platform.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/time.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <optional>

#include "core/dos_time.h"
#include "core/errors.h"
#include "platform/file_copy.h"

namespace kalv::platform {

namespace {

// A DOS date-time taken as local time, as the seconds of the system's clock.
bool local_time_of(uint32_t dos_date_time, struct timespec& out) {
    const DosFields f = unpack_dos(dos_date_time);
    struct tm local {};
    local.tm_year = f.year - 1900;
    local.tm_mon = f.month - 1;
    local.tm_mday = f.day;
    local.tm_hour = f.hour;
    local.tm_min = f.minute;
    local.tm_sec = f.second;
    local.tm_isdst = -1;
    const time_t t = ::mktime(&local);
    if (t == time_t(-1)) return false;
    out = {};
    out.tv_sec = t;
    return true;
}

bool set_mtime(int fd_or_neg, const std::string& path, const struct timespec& mtime) {
    struct timespec times[2];
    times[0].tv_sec = 0;
    times[0].tv_nsec = UTIME_OMIT;  // only the last-write time, as SetFileTime is asked to
    times[1] = mtime;
    if (fd_or_neg >= 0) return ::futimens(fd_or_neg, times) == 0;
    return ::utimensat(AT_FDCWD, path.c_str(), times, 0) == 0;
}

// The mode that a file of mode `current` takes from an entry's stored attributes, or
// nullopt when it keeps its own.
std::optional<mode_t> stored_mode(mode_t current, uint32_t external_attributes, uint16_t version_made_by) {
    constexpr uint16_t kMadeOnUnix = 3;  // APPNOTE 4.4.2.2
    if ((version_made_by >> 8) == kMadeOnUnix) {
        // The high half is the Unix st_mode (APPNOTE 4.4.15); set-id and sticky bits
        // are not given to files out of an archive.
        const mode_t permissions = mode_t((external_attributes >> 16) & 0777);
        // No mode stored; or the file was created with it already: no call then, and
        // no inode changed again.
        if (permissions == 0 || (current & 07777) == permissions) return std::nullopt;
        return permissions;
    }
    constexpr uint32_t kReadOnly = 0x01;  // MS-DOS attribute bit
    if (external_attributes & kReadOnly) return mode_t(current & 0555);
    return std::nullopt;
}

constexpr int64_t kNanoseconds = 1000000000;

class PosixFile final : public FileHandle {
public:
    explicit PosixFile(int fd) : fd_(fd) {}
    ~PosixFile() override { ::close(fd_); }
    PosixFile(const PosixFile&) = delete;
    PosixFile& operator=(const PosixFile&) = delete;

    size_t read(void* buffer, size_t n) override {
        size_t done = 0;
        while (done < n) {
            const ssize_t got = ::read(fd_, static_cast<char*>(buffer) + done, n - done);
            if (got < 0 && errno == EINTR) continue;
            if (got <= 0) break;
            done += static_cast<size_t>(got);
        }
        return done;
    }

    size_t write(const void* buffer, size_t n) override {
        size_t done = 0;
        while (done < n) {
            const ssize_t put = ::write(fd_, static_cast<const char*>(buffer) + done, n - done);
            if (put < 0 && errno == EINTR) continue;
            if (put <= 0) break;
            done += static_cast<size_t>(put);
        }
        return done;
    }

    // ZIP64 archives and entries reach beyond 4 GiB; on a 32-bit system this needs
    // _FILE_OFFSET_BITS=64.
    static_assert(sizeof(off_t) == 8, "file positions must be 64 bits wide");

    int64_t seek(int64_t offset, SeekOrigin origin) override {
        const int whence = origin == SeekOrigin::Begin ? SEEK_SET : origin == SeekOrigin::Current ? SEEK_CUR : SEEK_END;
        const off_t at = ::lseek(fd_, off_t(offset), whence);
        return at < 0 ? -1 : static_cast<int64_t>(at);
    }

    int64_t size() override {
        struct stat st;
        return ::fstat(fd_, &st) == 0 ? static_cast<int64_t>(st.st_size) : -1;
    }

    bool sync() override { return ::fsync(fd_) == 0; }

    OsResult<size_t> read_some(void* buffer, size_t n) override {
        for (;;) {
            const ssize_t got = ::read(fd_, buffer, n);
            if (got >= 0) return static_cast<size_t>(got);
            if (errno != EINTR) return last_os_error();
        }
    }

    OsStatus write_all(const void* buffer, size_t n) override {
        size_t done = 0;
        while (done < n) {
            const ssize_t put = ::write(fd_, static_cast<const char*>(buffer) + done, n - done);
            if (put < 0 && errno == EINTR) continue;
            if (put < 0) return last_os_error();
            if (put == 0) return os_error(ENOSPC);
            done += static_cast<size_t>(put);
        }
        return {};
    }

    // Nanoseconds since 1970, as modification_stamp gives them.
    std::optional<int64_t> last_write_stamp() override {
        struct stat st;
        if (::fstat(fd_, &st) != 0) return std::nullopt;
        return static_cast<int64_t>(st.st_mtim.tv_sec) * kNanoseconds + st.st_mtim.tv_nsec;
    }

    bool set_last_write_stamp(int64_t stamp) override {
        struct timespec mtime {};
        mtime.tv_sec = static_cast<time_t>(stamp / kNanoseconds);
        mtime.tv_nsec = static_cast<long>(stamp % kNanoseconds);
        return set_mtime(fd_, {}, mtime);
    }

    int fd() const { return fd_; }

    bool set_dos_time(uint32_t dos_date_time) override {
        struct timespec mtime {};
        return local_time_of(dos_date_time, mtime) && set_mtime(fd_, {}, mtime);
    }

    bool set_unix_time(int64_t seconds) override {
        struct timespec mtime {};
        mtime.tv_sec = static_cast<time_t>(seconds);
        return static_cast<int64_t>(mtime.tv_sec) == seconds && set_mtime(fd_, {}, mtime);
    }

    bool set_attributes(uint32_t external_attributes, uint16_t version_made_by) override {
        struct stat st;
        if (::fstat(fd_, &st) != 0) return false;
        const std::optional<mode_t> mode = stored_mode(st.st_mode, external_attributes, version_made_by);
        return !mode || ::fchmod(fd_, *mode) == 0;
    }

#ifdef __linux__
    // Write-back of the file's dirty pages begins now; the call does not wait for
    // it (sync_file_range(2), SYNC_FILE_RANGE_WRITE; 0 bytes from 0: all of them).
    void start_sync() override { ::sync_file_range(fd_, 0, 0, SYNC_FILE_RANGE_WRITE); }
#endif

private:
    int fd_;
};

bool stat_path(const std::string& path, struct stat& st) { return !path.empty() && ::stat(path.c_str(), &st) == 0; }

// Windows refuses to truncate a file whose read-only attribute is set; a file
// without any write permission bit is our read-only file (also for root, whom the
// kernel would let through).
bool is_read_only_file(const std::string& path) {
    struct stat st;
    return stat_path(path, st) && S_ISREG(st.st_mode) && (st.st_mode & 0222) == 0;
}

int open_for_create(const std::string& path, bool fail_if_exists) {
    if (is_read_only_file(path)) {
        errno = EACCES;
        return -1;
    }
    const int flags = O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC | (fail_if_exists ? O_EXCL : O_TRUNC);
    return ::open(path.c_str(), flags, 0666);
}

// Code page 437 (the OEM page of DOS and of US/Western Windows) from 0x80 up, as
// Unicode code points; the lower half is ASCII.
constexpr uint16_t kCp437High[128] = {
    0x00C7, 0x00FC, 0x00E9, 0x00E2, 0x00E4, 0x00E0, 0x00E5, 0x00E7,  // 0x80
    0x00EA, 0x00EB, 0x00E8, 0x00EF, 0x00EE, 0x00EC, 0x00C4, 0x00C5,  // 0x88
    0x00C9, 0x00E6, 0x00C6, 0x00F4, 0x00F6, 0x00F2, 0x00FB, 0x00F9,  // 0x90
    0x00FF, 0x00D6, 0x00DC, 0x00A2, 0x00A3, 0x00A5, 0x20A7, 0x0192,  // 0x98
    0x00E1, 0x00ED, 0x00F3, 0x00FA, 0x00F1, 0x00D1, 0x00AA, 0x00BA,  // 0xA0
    0x00BF, 0x2310, 0x00AC, 0x00BD, 0x00BC, 0x00A1, 0x00AB, 0x00BB,  // 0xA8
    0x2591, 0x2592, 0x2593, 0x2502, 0x2524, 0x2561, 0x2562, 0x2556,  // 0xB0
    0x2555, 0x2563, 0x2551, 0x2557, 0x255D, 0x255C, 0x255B, 0x2510,  // 0xB8
    0x2514, 0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x255E, 0x255F,  // 0xC0
    0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550, 0x256C, 0x2567,  // 0xC8
    0x2568, 0x2564, 0x2565, 0x2559, 0x2558, 0x2552, 0x2553, 0x256B,  // 0xD0
    0x256A, 0x2518, 0x250C, 0x2588, 0x2584, 0x258C, 0x2590, 0x2580,  // 0xD8
    0x03B1, 0x00DF, 0x0393, 0x03C0, 0x03A3, 0x03C3, 0x00B5, 0x03C4,  // 0xE0
    0x03A6, 0x0398, 0x03A9, 0x03B4, 0x221E, 0x03C6, 0x03B5, 0x2229,  // 0xE8
    0x2261, 0x00B1, 0x2265, 0x2264, 0x2320, 0x2321, 0x00F7, 0x2248,  // 0xF0
    0x00B0, 0x2219, 0x00B7, 0x221A, 0x207F, 0x00B2, 0x25A0, 0x00A0,  // 0xF8
};

void append_utf8(std::string& out, uint32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

// A rename is durable only once the directory that holds the new name is on the disk.
OsStatus fsync_directory(const std::string& dir) {
    const int fd = ::open(dir.empty() ? "." : dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return last_os_error();
    const OsStatus synced = ::fsync(fd) == 0 ? OsStatus{} : last_os_error();
    ::close(fd);
    return synced;
}

OsStatus sync_directory_of(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    return fsync_directory(slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash));
}

// The ends of a copy on POSIX: a plain read-only source, and a target created with
// O_NOFOLLOW that takes the source's permissions and its owner's write permission.
class PosixCopyEnds final : public CopyEnds {
public:
    OsResult<std::unique_ptr<FileHandle>> open_source(const std::string& from) override {
        const int in = from.empty() ? -1 : ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
        if (in < 0) return from.empty() ? os_error(ENOENT) : last_os_error();
        auto source = std::make_unique<PosixFile>(in);
        struct stat st;
        if (::fstat(in, &st) != 0) return last_os_error();
        if (S_ISDIR(st.st_mode)) return os_error(EISDIR);
        return std::unique_ptr<FileHandle>(std::move(source));
    }

    OsResult<std::unique_ptr<FileHandle>> create_target(const std::string& to, bool fail_if_exists,
                                                        FileHandle& source) override {
        const int out = open_for_create(to, fail_if_exists);
        if (out < 0) return last_os_error();
        auto target = std::make_unique<PosixFile>(out);
        struct stat st;
        if (::fstat(static_cast<PosixFile&>(source).fd(), &st) == 0) ::fchmod(out, (st.st_mode & 0777) | 0200);
        return std::unique_ptr<FileHandle>(std::move(target));
    }

    void remove_target(const std::string& to) override { ::unlink(to.c_str()); }
};

}  // namespace

OsResult<std::unique_ptr<FileHandle>> NativePlatform::open(const std::string& path, OpenMode mode) {
    if (path.empty()) return os_error(ENOENT);
    // O_EXCL never follows a link at the name (POSIX open(2)); O_NOFOLLOW says so.
    // O_NONBLOCK: a FIFO planted at the name answers the open at once, and fstat
    // refuses it below; for a regular file the flag changes nothing.
    const int fd = mode == OpenMode::CreateNew
                       ? ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666)
                   : mode == OpenMode::ReadOwnFile ? ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC)
                                                   : ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return last_os_error();
    auto file = std::make_unique<PosixFile>(fd);
    struct stat st;
    if (mode != OpenMode::CreateNew && (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode))) return os_error(EISDIR);
    if (mode == OpenMode::ReadOwnFile && !S_ISREG(st.st_mode)) return os_error(EINVAL);
    return std::unique_ptr<FileHandle>(std::move(file));
}

int32_t NativePlatform::file_age(const std::string& path) {
    struct stat st;
    if (!stat_path(path, st) || S_ISDIR(st.st_mode)) return -1;
    return local_dos_age(st.st_mtim.tv_sec);
}

int64_t unix_seconds_of_stamp(int64_t stamp) {
    constexpr int64_t kPerSecond = 1000000000;
    return stamp >= 0 ? stamp / kPerSecond : -((-stamp + kPerSecond - 1) / kPerSecond);
}

int32_t local_dos_age(int64_t unix_seconds) {
    struct tm local;
    const time_t t = static_cast<time_t>(unix_seconds);
    if (!::localtime_r(&t, &local)) return -1;
    const int year = local.tm_year + 1900;
    if (year < 1980 || year > 2107) return -1;  // outside what the DOS form holds
    const uint32_t packed =
        pack_dos({year, local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec});
    return static_cast<int32_t>(packed);
}

bool NativePlatform::file_exists(const std::string& path) {
    struct stat st;
    return stat_path(path, st) && !S_ISDIR(st.st_mode);
}

int64_t NativePlatform::file_size(const std::string& path) {
    struct stat st;
    return stat_path(path, st) && !S_ISDIR(st.st_mode) ? static_cast<int64_t>(st.st_size) : -1;
}

std::optional<int64_t> NativePlatform::modification_stamp(const std::string& path) {
    struct stat st;
    if (!stat_path(path, st)) return std::nullopt;
    return static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
}

bool NativePlatform::directory_exists(const std::string& path) {
    struct stat st;
    return stat_path(path, st) && S_ISDIR(st.st_mode);
}

bool NativePlatform::is_link(const std::string& path) {
    struct stat st;
    return !path.empty() && ::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

OsStatus NativePlatform::create_link(const std::string& target, const std::string& path) {
    struct stat st;
    if (::lstat(path.c_str(), &st) == 0 && (S_ISDIR(st.st_mode) || is_read_only_file(path)))
        return refusal("a folder or a read-only file is not replaced by a link");
    for (int attempt = 0; attempt < 4; ++attempt) {
        const std::string made = path + "." + random_tag() + ".link";
        if (::symlink(target.c_str(), made.c_str()) != 0) {
            if (errno == EEXIST) continue;  // a name taken: another one
            return last_os_error();
        }
        if (::rename(made.c_str(), path.c_str()) == 0) return sync_directory_of(path);
        const OsError failed = last_os_error();
        ::unlink(made.c_str());
        return failed;
    }
    return os_error(EEXIST);
}

OsStatus NativePlatform::create_directories(const std::string& path) {
    if (path.empty()) return os_error(ENOENT);
    // Each prefix ending before a "/" is one level; the path itself is the last.
    OsStatus made;
    for (size_t slash = path.find('/', 1); ; slash = path.find('/', slash + 1)) {
        const std::string level = path.substr(0, slash);
        if (!level.empty() && !directory_exists(level) && ::mkdir(level.c_str(), 0777) != 0) made = last_os_error();
        if (slash == std::string::npos) break;
    }
    if (directory_exists(path)) return {};
    return made ? os_error(ENOTDIR) : made;
}

OsStatus NativePlatform::delete_file(const std::string& path) {
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0) return last_os_error();
    if (S_ISDIR(st.st_mode)) return os_error(EISDIR);
    return ::unlink(path.c_str()) == 0 ? OsStatus{} : last_os_error();
}

OsStatus NativePlatform::move_file(const std::string& from, const std::string& to) {
    if (from.empty() || to.empty()) return os_error(ENOENT);
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return {};
    if (errno != EINVAL && errno != ENOSYS) return last_os_error();
    // A file system without RENAME_NOREPLACE: link() also refuses an existing target.
    if (::link(from.c_str(), to.c_str()) != 0) return last_os_error();
    ::unlink(from.c_str());
    return {};
}

OsStatus NativePlatform::replace_file(const std::string& from, const std::string& to) {
    if (OsStatus replaced = replace_file_deferred(from, to); !replaced) return replaced;
    return sync_directory_of(to);
}

OsStatus NativePlatform::replace_file_deferred(const std::string& from, const std::string& to) {
    if (from.empty() || to.empty()) return os_error(ENOENT);
    struct stat st;
    // rename(2) would also put a directory in place of an empty one.
    if (::stat(from.c_str(), &st) != 0) return last_os_error();
    if (!S_ISREG(st.st_mode)) return os_error(EISDIR);
    if (is_read_only_file(to)) return refusal("it is read-only");  // as MoveFileExA refuses
    return ::rename(from.c_str(), to.c_str()) == 0 ? OsStatus{} : last_os_error();
}

OsStatus NativePlatform::sync_directory(const std::string& directory) { return fsync_directory(directory); }

OsStatus NativePlatform::copy_file(const std::string& from, const std::string& to, bool fail_if_exists,
                                   std::chrono::milliseconds stall_timeout) {
    static PosixCopyEnds ends;
    return copy_watched(ends, *this, from, to, fail_if_exists, stall_timeout);
}

OsStatus NativePlatform::append_file(const std::string& path, const std::string& bytes) {
    // A link or a FIFO planted at a log's name is not written through, nor waited on.
    if (path.empty()) return os_error(ENOENT);
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0666);
    if (fd < 0) return last_os_error();
    PosixFile file(fd);
    struct stat st;
    if (::fstat(fd, &st) != 0) return last_os_error();
    if (!S_ISREG(st.st_mode)) return refusal("not a regular file");
    return file.write_all(bytes.data(), bytes.size());
}

std::string NativePlatform::user_state_directory() {
    // The XDG base directory rules: $XDG_STATE_HOME, or ~/.local/state.
    std::string base;
    if (const char* state = std::getenv("XDG_STATE_HOME"); state && *state == '/')
        base = state;
    else if (const char* home = std::getenv("HOME"); home && *home)
        base = std::string(home) + "/.local/state";
    else
        return {};
    const std::string dir = base + "/kalv3";
    return create_directories(dir) ? dir + "/" : std::string();
}

OsStatus NativePlatform::clear_read_only(const std::string& path) {
    struct stat st;
    if (!stat_path(path, st)) return path.empty() ? os_error(ENOENT) : last_os_error();
    if (S_ISDIR(st.st_mode)) return os_error(EISDIR);
    if (!is_read_only_file(path)) return {};
    return ::chmod(path.c_str(), (st.st_mode & 07777) | 0200) == 0 ? OsStatus{} : last_os_error();
}

bool NativePlatform::set_file_dos_time(const std::string& path, uint32_t dos_date_time) {
    struct timespec mtime {};
    return local_time_of(dos_date_time, mtime) && set_mtime(-1, path, mtime);
}

bool NativePlatform::set_file_attributes(const std::string& path, uint32_t external_attributes,
                                         uint16_t version_made_by) {
    struct stat st;
    if (!stat_path(path, st)) return false;
    const std::optional<mode_t> mode = stored_mode(st.st_mode, external_attributes, version_made_by);
    return !mode || ::chmod(path.c_str(), *mode) == 0;
}

std::string NativePlatform::oem_to_ansi(const std::string& oem) {
    std::string out;
    out.reserve(oem.size());
    for (const char c : oem) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x80)
            out += c;
        else
            append_utf8(out, kCp437High[byte - 0x80]);
    }
    return out;
}

// The system's encoding is UTF-8 already.
std::string NativePlatform::utf8_to_ansi(const std::string& utf8) { return utf8; }

// POSIX paths have no drive letters: no path names a removable drive's root.
bool NativePlatform::is_removable_drive(const std::string&) { return false; }

std::string NativePlatform::volume_label(const std::string&) { return {}; }

std::optional<uint64_t> NativePlatform::free_disk_space(const std::string& directory) {
    struct statvfs volume {};
    if (statvfs(directory.empty() ? "." : directory.c_str(), &volume) != 0) return std::nullopt;
    // f_bavail, not f_bfree: the blocks kept for root are no room for the shop's user.
    return static_cast<uint64_t>(volume.f_bavail) * static_cast<uint64_t>(volume.f_frsize);
}

}  // namespace kalv::platform
