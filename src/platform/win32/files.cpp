// Files and directories on Windows, through the ANSI entry points of kernel32 and
// user32, with the share modes the ZIP component asks for.
#include "platform/win32/win32_platform.h"

#include <windows.h>

#include <algorithm>
#include <vector>

#include "core/errors.h"

namespace kalv::platform {

namespace {

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
            const DWORD want = DWORD(std::min<size_t>(n - done, 1u << 30));
            if (!ReadFile(handle_, static_cast<char*>(buffer) + done, want, &got, nullptr) || got == 0) break;
            done += got;
        }
        return done;
    }

    size_t write(const void* buffer, size_t n) override {
        size_t done = 0;
        while (done < n) {
            DWORD put = 0;
            const DWORD want = DWORD(std::min<size_t>(n - done, 1u << 30));
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

}  // namespace

std::unique_ptr<FileHandle> Win32Platform::open_file(const std::string& path, OpenMode mode) {
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
        case OpenMode::CreateExclusive: {
            // Windows refuses to truncate a read-only file; said here as well, so that
            // the rule holds also where the kernel would let an administrator through.
            const DWORD existing = GetFileAttributesA(path.c_str());
            if (existing != INVALID_FILE_ATTRIBUTES && (existing & FILE_ATTRIBUTE_READONLY))
                throw FileStreamError("Cannot create file " + path);
            h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
            if (h == INVALID_HANDLE_VALUE) throw FileStreamError("Cannot create file " + path);
            return std::make_unique<Win32File>(h);
        }
    }
    if (h == INVALID_HANDLE_VALUE) throw FileStreamError("Cannot open file " + path);
    return std::make_unique<Win32File>(h);
}

int32_t Win32Platform::file_age(const std::string& path) {
    WIN32_FIND_DATAA data;
    if (!find_file(path, data) || (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) return -1;
    FILETIME local;
    WORD date = 0, time = 0;
    if (!FileTimeToLocalFileTime(&data.ftLastWriteTime, &local)) return -1;
    if (!FileTimeToDosDateTime(&local, &date, &time)) return -1;  // before 1980 or after 2107
    return int32_t((uint32_t(date) << 16) | time);
}

std::optional<int64_t> Win32Platform::modification_stamp(const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (path.empty() || !GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return std::nullopt;
    return (int64_t(data.ftLastWriteTime.dwHighDateTime) << 32) | data.ftLastWriteTime.dwLowDateTime;
}

bool Win32Platform::directory_exists(const std::string& path) {
    if (path.empty()) return false;
    const DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool Win32Platform::create_directories(const std::string& path) {
    if (path.empty()) return false;
    // Levels end before each backslash; a drive root ("C:\") or a UNC server and share
    // ("\\server\share") are never created, so start after them.
    size_t from = 1;
    if (path.size() >= 2 && path[1] == ':') from = 3;
    if (path.rfind("\\\\", 0) == 0) {
        const size_t share = path.find('\\', 2);
        from = share == std::string::npos ? path.size() : path.find('\\', share + 1);
        if (from == std::string::npos) from = path.size();
    }
    for (size_t slash = path.find('\\', from);; slash = path.find('\\', slash + 1)) {
        const std::string level = path.substr(0, slash);
        if (!level.empty() && !directory_exists(level)) CreateDirectoryA(level.c_str(), nullptr);
        if (slash == std::string::npos) break;
    }
    return directory_exists(path);
}

bool Win32Platform::delete_file(const std::string& path) { return DeleteFileA(path.c_str()) != 0; }

bool Win32Platform::move_file(const std::string& from, const std::string& to) {
    return MoveFileA(from.c_str(), to.c_str()) != 0;
}

bool Win32Platform::replace_file(const std::string& from, const std::string& to) {
    return MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

bool Win32Platform::copy_file(const std::string& from, const std::string& to, bool fail_if_exists) {
    return CopyFileA(from.c_str(), to.c_str(), fail_if_exists ? TRUE : FALSE) != 0;
}

bool Win32Platform::set_file_dos_time(const std::string& path, uint32_t dos_date_time) {
    FILETIME local, utc;
    if (!DosDateTimeToFileTime(WORD(dos_date_time >> 16), WORD(dos_date_time & 0xFFFF), &local)) return false;
    if (!LocalFileTimeToFileTime(&local, &utc)) return false;
    const HANDLE h = CreateFileA(path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                 FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    const bool ok = SetFileTime(h, nullptr, nullptr, &utc) != 0;
    CloseHandle(h);
    return ok;
}

bool Win32Platform::set_file_attributes(const std::string& path, uint32_t external_attributes,
                                        uint16_t version_made_by) {
    // Entries made on Unix carry st_mode in the high half (APPNOTE 4.4.15), which are
    // no Windows attribute bits; only the MS-DOS low half is meant for Windows there.
    constexpr uint16_t kMadeOnUnix = 3;
    const DWORD attributes = (version_made_by >> 8) == kMadeOnUnix ? (external_attributes & 0xFFFF)
                                                                   : external_attributes;
    return SetFileAttributesA(path.c_str(), attributes) != 0;
}

std::string Win32Platform::oem_to_ansi(const std::string& oem) {
    if (oem.empty()) return oem;
    std::vector<char> converted(oem.begin(), oem.end());
    OemToCharBuffA(oem.data(), converted.data(), DWORD(oem.size()));
    return std::string(converted.begin(), converted.end());
}

bool Win32Platform::is_removable_drive(const std::string& root) {
    return GetDriveTypeA(root.c_str()) == DRIVE_REMOVABLE;
}

std::string Win32Platform::volume_label(const std::string& root) {
    char label[MAX_PATH + 1] = {};
    if (!GetVolumeInformationA(root.c_str(), label, sizeof label, nullptr, nullptr, nullptr, nullptr, 0)) return {};
    return label;
}

}  // namespace kalv::platform
