// Files and directories on Windows, through the ANSI entry points of kernel32 and
// user32, with the share modes the ZIP component asks for.
#include "platform/native_platform.h"

#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <vector>

#include "core/errors.h"
#include "platform/file_copy.h"

namespace kalv::platform {

namespace {

// A DOS date-time taken as local time, as the UTC file time that SetFileTime takes.
bool utc_time_of(uint32_t dos_date_time, FILETIME& utc) {
    FILETIME local;
    const WORD date = static_cast<WORD>(dos_date_time >> 16), time = static_cast<WORD>(dos_date_time & 0xFFFF);
    return DosDateTimeToFileTime(date, time, &local) && LocalFileTimeToFileTime(&local, &utc);
}

// The Windows attributes meant by an entry's stored ones. Entries made on Unix carry
// st_mode in the high half (APPNOTE 4.4.15), which are no Windows attribute bits; only
// the MS-DOS low half is meant for Windows there.
DWORD stored_attributes(uint32_t external_attributes, uint16_t version_made_by) {
    constexpr uint16_t kMadeOnUnix = 3;
    return (version_made_by >> 8) == kMadeOnUnix ? (external_attributes & 0xFFFF) : external_attributes;
}

// Owns one kernel handle (closed when it goes).
class Win32File final : public FileHandle {
public:
    explicit Win32File(HANDLE handle) : handle_(handle) {}
    ~Win32File() override { CloseHandle(handle_); }
    Win32File(const Win32File&) = delete;
    Win32File& operator=(const Win32File&) = delete;

    size_t read(void* buffer, size_t n) override {
        size_t done = 0;
        while (done < n) {
            DWORD got = 0;
            const DWORD want = static_cast<DWORD>(std::min<size_t>(n - done, 1u << 30));
            if (!ReadFile(handle_, static_cast<char*>(buffer) + done, want, &got, nullptr) || got == 0) break;
            done += got;
        }
        return done;
    }

    size_t write(const void* buffer, size_t n) override {
        size_t done = 0;
        while (done < n) {
            DWORD put = 0;
            const DWORD want = static_cast<DWORD>(std::min<size_t>(n - done, 1u << 30));
            if (!WriteFile(handle_, static_cast<const char*>(buffer) + done, want, &put, nullptr) || put == 0) break;
            done += put;
        }
        return done;
    }

    int64_t seek(int64_t offset, SeekOrigin origin) override {
        const DWORD method = origin == SeekOrigin::Begin ? FILE_BEGIN : origin == SeekOrigin::Current ? FILE_CURRENT : FILE_END;
        LARGE_INTEGER distance, at;
        distance.QuadPart = offset;
        if (!SetFilePointerEx(handle_, distance, &at, method)) return -1;
        return at.QuadPart;
    }

    int64_t size() override {
        LARGE_INTEGER size;
        return GetFileSizeEx(handle_, &size) ? size.QuadPart : -1;
    }

    bool sync() override { return FlushFileBuffers(handle_) != 0; }

    OsResult<size_t> read_some(void* buffer, size_t n) override {
        DWORD got = 0;
        const DWORD want = static_cast<DWORD>(std::min<size_t>(n, 1u << 30));
        if (!ReadFile(handle_, buffer, want, &got, nullptr)) return last_os_error();
        return static_cast<size_t>(got);
    }

    OsStatus write_all(const void* buffer, size_t n) override {
        size_t done = 0;
        while (done < n) {
            DWORD put = 0;
            const DWORD want = static_cast<DWORD>(std::min<size_t>(n - done, 1u << 30));
            if (!WriteFile(handle_, static_cast<const char*>(buffer) + done, want, &put, nullptr)) return last_os_error();
            if (put == 0) return os_error(ERROR_DISK_FULL);
            done += put;
        }
        return {};
    }

    // The FILETIME's 100 ns steps since 1601, as modification_stamp gives them.
    std::optional<int64_t> last_write_stamp() override {
        FILETIME written;
        if (!GetFileTime(handle_, nullptr, nullptr, &written)) return std::nullopt;
        return (static_cast<int64_t>(written.dwHighDateTime) << 32) | written.dwLowDateTime;
    }

    bool set_last_write_stamp(int64_t stamp) override {
        FILETIME written;
        written.dwLowDateTime = static_cast<DWORD>(static_cast<uint64_t>(stamp) & 0xFFFFFFFFu);
        written.dwHighDateTime = static_cast<DWORD>(static_cast<uint64_t>(stamp) >> 32);
        return SetFileTime(handle_, nullptr, nullptr, &written) != 0;
    }

    bool set_dos_time(uint32_t dos_date_time) override {
        FILETIME utc;
        return utc_time_of(dos_date_time, utc) && SetFileTime(handle_, nullptr, nullptr, &utc);
    }

    // A FILETIME counts 100 ns steps from 1601 UTC; 1970 lies 11644473600 s after it.
    bool set_unix_time(int64_t seconds) override {
        constexpr int64_t kFrom1601 = 11644473600LL, kSteps = 10000000LL;
        if (seconds < -kFrom1601 || seconds > INT64_MAX / kSteps - kFrom1601) return false;
        const uint64_t steps = static_cast<uint64_t>((seconds + kFrom1601) * kSteps);
        FILETIME utc;
        utc.dwLowDateTime = static_cast<DWORD>(steps & 0xFFFFFFFFu);
        utc.dwHighDateTime = static_cast<DWORD>(steps >> 32);
        return SetFileTime(handle_, nullptr, nullptr, &utc) != 0;
    }

    // SetFileAttributesA's rule for a value of 0: FILE_ATTRIBUTE_NORMAL.
    bool set_attributes(uint32_t external_attributes, uint16_t version_made_by) override {
        FILE_BASIC_INFO basic{};
        basic.FileAttributes = stored_attributes(external_attributes, version_made_by);
        if (basic.FileAttributes == 0) basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
        return SetFileInformationByHandle(handle_, FileBasicInfo, &basic, sizeof basic) != 0;
    }

private:
    HANDLE handle_;
};

// FindFirstFileA would take wildcards as a pattern; a path with them names no one file.
bool has_wildcards(const std::string& path) { return path.find_first_of("*?") != std::string::npos; }

bool find_file(const std::string& path, WIN32_FIND_DATAA& data) {
    if (path.empty() || has_wildcards(path)) return false;
    const HANDLE found = FindFirstFileA(path.c_str(), &data);
    if (found == INVALID_HANDLE_VALUE) return false;
    FindClose(found);
    return true;
}

// One kernel handle, closed when its owner goes.
class Handle {
public:
    explicit Handle(HANDLE handle = INVALID_HANDLE_VALUE) : handle_(handle) {}
    ~Handle() {
        if (valid()) CloseHandle(handle_);
    }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    bool valid() const { return handle_ != INVALID_HANDLE_VALUE && handle_ != nullptr; }
    HANDLE get() const { return handle_; }

private:
    HANDLE handle_;
};

// The ends of a copy on Windows: a source shared with its publisher (also for
// deleting), and a target opened as itself (never through a reparse point), with
// FILE_SHARE_DELETE so that its name can be removed while the copy still holds it.
class Win32CopyEnds final : public CopyEnds {
public:
    OsResult<std::unique_ptr<FileHandle>> open_source(const std::string& from) override {
        const HANDLE in = CreateFileA(from.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
        // A share's file held open by its publisher passes.
        if (in == INVALID_HANDLE_VALUE) return last_os_error();
        auto source = std::make_unique<Win32File>(in);
        BY_HANDLE_FILE_INFORMATION info;
        if (!GetFileInformationByHandle(in, &info)) return last_os_error();
        if (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return os_error(ERROR_DIRECTORY);
        return std::unique_ptr<FileHandle>(std::move(source));
    }

    // FILE_ATTRIBUTE_NORMAL: the copy never takes a read-only attribute along.
    OsResult<std::unique_ptr<FileHandle>> create_target(const std::string& to, bool fail_if_exists,
                                                        FileHandle&) override {
        const HANDLE out = CreateFileA(to.c_str(), GENERIC_WRITE, FILE_SHARE_DELETE, nullptr,
                                       fail_if_exists ? CREATE_NEW : CREATE_ALWAYS,
                                       FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
        if (out == INVALID_HANDLE_VALUE) return last_os_error();
        return std::unique_ptr<FileHandle>(std::make_unique<Win32File>(out));
    }

    void remove_target(const std::string& to) override { DeleteFileA(to.c_str()); }
};

}  // namespace

OsResult<std::unique_ptr<FileHandle>> NativePlatform::open(const std::string& path, OpenMode mode) {
    HANDLE h = INVALID_HANDLE_VALUE;
    switch (mode) {
        case OpenMode::ReadDenyWrite:
            h = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
            break;
        case OpenMode::ReadShared:
            h = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
            break;
        case OpenMode::CreateNew:
            // CREATE_NEW fails on whatever stands at the name; FILE_FLAG_OPEN_REPARSE_POINT
            // keeps a planted link from being followed even so.
            h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                            FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
            break;
        case OpenMode::ReadOwnFile:
            // The reparse point itself is opened, never what it leads to; it is refused
            // below, as is anything that is no file on a disk (a pipe, a device).
            h = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
            break;
    }
    if (h == INVALID_HANDLE_VALUE) return last_os_error();
    if (mode == OpenMode::ReadOwnFile) {
        BY_HANDLE_FILE_INFORMATION info;
        if (GetFileType(h) != FILE_TYPE_DISK || !GetFileInformationByHandle(h, &info) ||
            (info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY))) {
            CloseHandle(h);
            return os_error(ERROR_INVALID_PARAMETER);
        }
    }
    return std::unique_ptr<FileHandle>(std::make_unique<Win32File>(h));
}

namespace {

int32_t dos_age_of(const FILETIME& written) {
    FILETIME local;
    WORD date = 0, time = 0;
    if (!FileTimeToLocalFileTime(&written, &local)) return -1;
    if (!FileTimeToDosDateTime(&local, &date, &time)) return -1;  // before 1980 or after 2107
    return static_cast<int32_t>((static_cast<uint32_t>(date) << 16) | time);
}

// FILETIME counts 100 ns steps since 1601-01-01 UTC.
constexpr int64_t kStepsPerSecond = 10000000;
constexpr int64_t kStepsTo1970 = 116444736000000000;

}  // namespace

int32_t NativePlatform::file_age(const std::string& path) {
    WIN32_FIND_DATAA data;
    if (!find_file(path, data) || (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) return -1;
    return dos_age_of(data.ftLastWriteTime);
}

int64_t unix_seconds_of_stamp(int64_t stamp) {
    const int64_t since_1970 = stamp - kStepsTo1970;
    return since_1970 >= 0 ? since_1970 / kStepsPerSecond : -((-since_1970 + kStepsPerSecond - 1) / kStepsPerSecond);
}

int32_t local_dos_age(int64_t unix_seconds) {
    if (unix_seconds < 0) return -1;  // before 1970, long before what the DOS form holds
    const uint64_t steps = static_cast<uint64_t>(unix_seconds) * kStepsPerSecond + kStepsTo1970;
    FILETIME written;
    written.dwLowDateTime = static_cast<DWORD>(steps & 0xFFFFFFFFu);
    written.dwHighDateTime = static_cast<DWORD>(steps >> 32);
    return dos_age_of(written);
}

bool NativePlatform::file_exists(const std::string& path) {
    if (path.empty() || has_wildcards(path)) return false;
    const DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

int64_t NativePlatform::file_size(const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (path.empty() || has_wildcards(path) || !GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data) ||
        (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
        return -1;
    return static_cast<int64_t>((static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow);
}

std::optional<int64_t> NativePlatform::modification_stamp(const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (path.empty() || !GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return std::nullopt;
    return (static_cast<int64_t>(data.ftLastWriteTime.dwHighDateTime) << 32) | data.ftLastWriteTime.dwLowDateTime;
}

bool NativePlatform::directory_exists(const std::string& path) {
    if (path.empty()) return false;
    const DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool NativePlatform::is_link(const std::string& path) {
    if (path.empty()) return false;
    const DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

OsStatus NativePlatform::create_directories(const std::string& path) {
    if (path.empty()) return os_error(ERROR_PATH_NOT_FOUND);
    // Levels end before each backslash; a drive root ("C:\") or a UNC server and share
    // ("\\server\share") are never created, so start after them.
    size_t from = 1;
    if (path.size() >= 2 && path[1] == ':') from = 3;
    if (path.rfind("\\\\", 0) == 0) {
        const size_t share = path.find('\\', 2);
        from = share == std::string::npos ? path.size() : path.find('\\', share + 1);
        if (from == std::string::npos) from = path.size();
    }
    OsStatus made;
    for (size_t slash = path.find('\\', from);; slash = path.find('\\', slash + 1)) {
        const std::string level = path.substr(0, slash);
        if (!level.empty() && !directory_exists(level) && !CreateDirectoryA(level.c_str(), nullptr))
            made = last_os_error();
        if (slash == std::string::npos) break;
    }
    if (directory_exists(path)) return {};
    return made ? os_error(ERROR_DIRECTORY) : made;
}

OsStatus NativePlatform::delete_file(const std::string& path) {
    return DeleteFileA(path.c_str()) ? OsStatus{} : last_os_error();
}

OsStatus NativePlatform::move_file(const std::string& from, const std::string& to) {
    return MoveFileA(from.c_str(), to.c_str()) ? OsStatus{} : last_os_error();
}

OsStatus NativePlatform::replace_file(const std::string& from, const std::string& to) {
    // Windows refuses to replace a read-only file; said here as well, since not every
    // implementation of the call does.
    const DWORD existing = GetFileAttributesA(to.c_str());
    if (existing != INVALID_FILE_ATTRIBUTES && (existing & FILE_ATTRIBUTE_READONLY)) return refusal("it is read-only");
    return MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)
               ? OsStatus{}
               : last_os_error();
}

// Written through at once here too: Windows documents no flush of one directory's
// entries short of flushing the whole volume, which needs an administrator; NTFS
// logs a rename as any change of a directory, so the batch loses little by it.
OsStatus NativePlatform::replace_file_deferred(const std::string& from, const std::string& to) {
    return replace_file(from, to);
}

OsStatus NativePlatform::sync_directory(const std::string&) { return {}; }

OsStatus NativePlatform::copy_file(const std::string& from, const std::string& to, bool fail_if_exists,
                                   std::chrono::milliseconds stall_timeout) {
    static Win32CopyEnds ends;
    return copy_watched(ends, *this, from, to, fail_if_exists, stall_timeout);
}

OsStatus NativePlatform::append_file(const std::string& path, const std::string& bytes) {
    // A link planted at a log's name is opened as itself, and then not written to.
    const Handle file(CreateFileA(path.c_str(), FILE_APPEND_DATA | FILE_READ_ATTRIBUTES, FILE_SHARE_READ, nullptr,
                                  OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!file.valid()) return last_os_error();
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(file.get(), &info)) return last_os_error();
    if (info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY))
        return refusal("not a regular file");
    DWORD put = 0;
    if (!WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &put, nullptr)) return last_os_error();
    return put == bytes.size() ? OsStatus{} : os_error(ERROR_DISK_FULL);
}

std::string NativePlatform::user_state_directory() {
    // The local (not roaming) application-data folder: a log belongs to this PC.
    const DWORD needed = GetEnvironmentVariableA("LOCALAPPDATA", nullptr, 0);
    if (needed == 0) return {};
    std::string base(needed, '\0');
    base.resize(GetEnvironmentVariableA("LOCALAPPDATA", base.data(), needed));
    const std::string dir = base + "\\Kalv3";
    return create_directories(dir) ? dir + "\\" : std::string();
}

OsStatus NativePlatform::clear_read_only(const std::string& path) {
    const DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return last_os_error();
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) return os_error(ERROR_DIRECTORY);
    if (!(attributes & FILE_ATTRIBUTE_READONLY)) return {};
    return SetFileAttributesA(path.c_str(), attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY)) ? OsStatus{}
                                                                                                          : last_os_error();
}

bool NativePlatform::set_file_dos_time(const std::string& path, uint32_t dos_date_time) {
    FILETIME utc;
    if (!utc_time_of(dos_date_time, utc)) return false;
    const Handle h(CreateFileA(path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr));
    return h.valid() && SetFileTime(h.get(), nullptr, nullptr, &utc);
}

bool NativePlatform::set_file_attributes(const std::string& path, uint32_t external_attributes,
                                         uint16_t version_made_by) {
    return SetFileAttributesA(path.c_str(), stored_attributes(external_attributes, version_made_by)) != 0;
}

bool NativePlatform::is_removable_drive(const std::string& root) {
    return GetDriveTypeA(root.c_str()) == DRIVE_REMOVABLE;
}

std::string NativePlatform::volume_label(const std::string& root) {
    char label[MAX_PATH + 1] = {};
    if (!GetVolumeInformationA(root.c_str(), label, sizeof label, nullptr, nullptr, nullptr, nullptr, 0)) return {};
    return label;
}

std::optional<uint64_t> NativePlatform::free_disk_space(const std::string& directory) {
    // The caller's share, which a disk quota may keep below the volume's free bytes.
    ULARGE_INTEGER available{};
    if (!GetDiskFreeSpaceExA(directory.empty() ? nullptr : directory.c_str(), &available, nullptr, nullptr))
        return std::nullopt;
    return static_cast<uint64_t>(available.QuadPart);
}

}  // namespace kalv::platform
