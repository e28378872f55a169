// Files and directories on Windows, through the ANSI entry points of kernel32 and
// user32, with the share modes the ZIP component asks for.
#include "platform/native_platform.h"

#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <vector>

#include "core/errors.h"

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

// One copy, done by a worker thread so that the caller can give up on a source that
// stops delivering (a read from a hung share blocks in the kernel). The worker owns its
// half through a shared_ptr and may outlive the call it served; its output is opened
// with FILE_SHARE_DELETE, so the caller can remove the file's name meanwhile.
struct CopyJob {
    std::string from, to;
    bool fail_if_exists = false;
    volatile LONG64 progress = 0;  // blocks read so far
    volatile LONG created = 0;     // `to` is this copy's own, to remove when it is given up
    bool succeeded = false;        // read once the thread has ended
    DWORD error = ERROR_SUCCESS;   // why it failed, read once the thread has ended

    static DWORD WINAPI thread_main(void* parameter) {
        const auto* held = static_cast<std::shared_ptr<CopyJob>*>(parameter);
        const std::shared_ptr<CopyJob> job = *held;
        delete held;
        job->succeeded = job->copy();
        if (!job->succeeded && job->error == ERROR_SUCCESS) job->error = ERROR_GEN_FAILURE;
        return 0;
    }

    bool copy() {
        const Handle in(CreateFileA(from.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
        if (!in.valid()) {
            error = GetLastError();  // a share's file held open by its publisher passes
            return false;
        }
        BY_HANDLE_FILE_INFORMATION info;
        if (!GetFileInformationByHandle(in.get(), &info) || (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            return false;
        InterlockedIncrement64(&progress);
        // FILE_ATTRIBUTE_NORMAL: the copy never takes a read-only attribute along, so
        // that the next refresh can replace it.
        const Handle out(CreateFileA(to.c_str(), GENERIC_WRITE, FILE_SHARE_DELETE, nullptr,
                                     fail_if_exists ? CREATE_NEW : CREATE_ALWAYS,
                                     FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
        if (!out.valid()) return false;
        InterlockedExchange(&created, 1);
        bool ok = true;
        static constexpr DWORD kChunk = 1 << 20;
        std::vector<char> chunk(kChunk);
        for (;;) {
            DWORD got = 0, put = 0;
            if (!ReadFile(in.get(), chunk.data(), kChunk, &got, nullptr)) {
                ok = false;
                break;
            }
            if (got == 0) break;
            if (!WriteFile(out.get(), chunk.data(), got, &put, nullptr) || put != got) {
                ok = false;
                break;
            }
            InterlockedIncrement64(&progress);
        }
        ok = ok && SetFileTime(out.get(), nullptr, nullptr, &info.ftLastWriteTime) && FlushFileBuffers(out.get());
        if (!ok) {
            FILE_DISPOSITION_INFO dispose{TRUE};
            SetFileInformationByHandle(out.get(), FileDispositionInfo, &dispose, sizeof dispose);
        }
        return ok;
    }
};

}  // namespace

std::unique_ptr<FileHandle> NativePlatform::open_file(const std::string& path, OpenMode mode) {
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
            if (h == INVALID_HANDLE_VALUE) {
                note_failure();
                throw FileStreamError("Cannot create file " + path);
            }
            return std::make_unique<Win32File>(h);
    }
    if (h == INVALID_HANDLE_VALUE) {
        note_failure();
        throw FileStreamError("Cannot open file " + path);
    }
    return std::make_unique<Win32File>(h);
}

int32_t NativePlatform::file_age(const std::string& path) {
    WIN32_FIND_DATAA data;
    if (!find_file(path, data) || (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) return -1;
    FILETIME local;
    WORD date = 0, time = 0;
    if (!FileTimeToLocalFileTime(&data.ftLastWriteTime, &local)) return -1;
    if (!FileTimeToDosDateTime(&local, &date, &time)) return -1;  // before 1980 or after 2107
    return static_cast<int32_t>((static_cast<uint32_t>(date) << 16) | time);
}

// Returns false, so that a failing operation can end in "return note_failure();".
bool NativePlatform::note_failure() {
    const DWORD error = GetLastError();
    transient_ = error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION || error == ERROR_ACCESS_DENIED;
    return false;
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

bool NativePlatform::create_directories(const std::string& path) {
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

bool NativePlatform::delete_file(const std::string& path) { return DeleteFileA(path.c_str()) || note_failure(); }

bool NativePlatform::move_file(const std::string& from, const std::string& to) {
    return MoveFileA(from.c_str(), to.c_str()) || note_failure();
}

bool NativePlatform::replace_file(const std::string& from, const std::string& to) {
    // Windows refuses to replace a read-only file; said here as well, since not every
    // implementation of the call does.
    const DWORD existing = GetFileAttributesA(to.c_str());
    if (existing != INVALID_FILE_ATTRIBUTES && (existing & FILE_ATTRIBUTE_READONLY)) return transient_ = false;
    return MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) ||
           note_failure();
}

// Written through at once here too: Windows documents no flush of one directory's
// entries short of flushing the whole volume, which needs an administrator; NTFS
// logs a rename as any change of a directory, so the batch loses little by it.
bool NativePlatform::replace_file_deferred(const std::string& from, const std::string& to) {
    return replace_file(from, to);
}

bool NativePlatform::sync_directory(const std::string&) { return true; }

bool NativePlatform::copy_file(const std::string& from, const std::string& to, bool fail_if_exists,
                             std::chrono::milliseconds stall_timeout) {
    const auto job = std::make_shared<CopyJob>();
    job->from = from;
    job->to = to;
    job->fail_if_exists = fail_if_exists;
    auto* handed = new std::shared_ptr<CopyJob>(job);
    const Handle thread(CreateThread(nullptr, 0, &CopyJob::thread_main, handed, 0, nullptr));
    if (!thread.valid()) {
        delete handed;
        return false;
    }
    static constexpr DWORD kPumpIntervalMs = 50;
    HANDLE worker = thread.get();
    LONG64 seen = InterlockedCompareExchange64(&job->progress, 0, 0);
    ULONGLONG quiet_since = GetTickCount64();
    for (;;) {
        const DWORD woke = MsgWaitForMultipleObjects(1, &worker, FALSE, kPumpIntervalMs, QS_ALLINPUT);
        if (woke == WAIT_OBJECT_0) {
            if (!job->succeeded) {
                SetLastError(job->error);
                return note_failure();
            }
            return true;
        }
        process_messages();
        const LONG64 now_seen = InterlockedCompareExchange64(&job->progress, 0, 0);
        if (now_seen != seen) {
            seen = now_seen;
            quiet_since = GetTickCount64();
        } else if (GetTickCount64() - quiet_since >= static_cast<ULONGLONG>(stall_timeout.count())) {
            // The share stopped delivering: cancel the blocked read if the system can,
            // and leave the thread to end on its own if it cannot.
            transient_ = false;
            CancelSynchronousIo(worker);
            if (WaitForSingleObject(worker, 1000) == WAIT_OBJECT_0) return false;
            // Only a file of this copy's own: nothing that stood at the name before.
            if (InterlockedCompareExchange(&job->created, 0, 0)) DeleteFileA(to.c_str());
            return false;
        }
    }
}

bool NativePlatform::append_file(const std::string& path, const std::string& bytes) {
    // A link planted at a log's name is opened as itself, and then not written to.
    const Handle file(CreateFileA(path.c_str(), FILE_APPEND_DATA | FILE_READ_ATTRIBUTES, FILE_SHARE_READ, nullptr,
                                  OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!file.valid()) return false;
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(file.get(), &info) ||
        (info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)))
        return false;
    DWORD put = 0;
    return WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &put, nullptr) && put == bytes.size();
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

bool NativePlatform::clear_read_only(const std::string& path) {
    const DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY)) return false;
    if (!(attributes & FILE_ATTRIBUTE_READONLY)) return true;
    return SetFileAttributesA(path.c_str(), attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY)) != 0;
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
