// Publishing's OS needs on Windows: BCryptGenRandom, CREATE_NEW files with
// FlushFileBuffers, MoveFileExA with REPLACE_EXISTING | WRITE_THROUGH.
#include "platform/publishing.h"

#include <windows.h>
// <windows.h> first: bcrypt.h uses its types.
#include <bcrypt.h>

#include <algorithm>

#include "core/errors.h"
#include "platform/win32/error_text.h"

namespace kalv::platform {

namespace {

class Win32NewFile final : public NewFile {
public:
    Win32NewFile(HANDLE handle, std::string path) : handle_(handle), path_(std::move(path)) {}
    ~Win32NewFile() override { CloseHandle(handle_); }
    Win32NewFile(const Win32NewFile&) = delete;
    Win32NewFile& operator=(const Win32NewFile&) = delete;

    void write(const void* data, size_t n) override {
        write_at(position_, data, n);
        position_ += n;
    }

    void write_at(uint64_t offset, const void* data, size_t n) override {
        const char* bytes = static_cast<const char*>(data);
        while (n > 0) {
            OVERLAPPED at{};
            at.Offset = static_cast<DWORD>(offset);
            at.OffsetHigh = static_cast<DWORD>(offset >> 32);
            const DWORD want = static_cast<DWORD>(std::min<size_t>(n, 1u << 30));
            DWORD put = 0;
            if (!WriteFile(handle_, bytes, want, &put, &at)) fail(GetLastError());
            if (put == 0) fail(ERROR_DISK_FULL);
            bytes += put;
            offset += put;
            n -= put;
        }
    }

    uint64_t position() const override { return position_; }

    void flush_to_disk() override {
        if (!FlushFileBuffers(handle_)) fail(GetLastError());
    }

private:
    [[noreturn]] void fail(DWORD error) {
        throw FileStreamError("Cannot write file " + path_ + ": " + reason(error));
    }

    HANDLE handle_;
    std::string path_;
    uint64_t position_ = 0;
};

// A launcher copying or reading the package holds it without FILE_SHARE_DELETE, and
// MoveFileExA fails until it lets go. Launchers start at random moments, so gaps come
// between their copies; 20 s covers copies of a large package over a slow share.
constexpr int kReplaceAttempts = 200;
constexpr DWORD kReplaceRetryMs = 100;

}  // namespace

void random_bytes(void* buffer, size_t n) {
    char* out = static_cast<char*>(buffer);
    while (n > 0) {
        const ULONG chunk = ULONG(std::min<size_t>(n, 1u << 20));
        const NTSTATUS status = BCryptGenRandom(nullptr, reinterpret_cast<PUCHAR>(out), chunk,
                                                BCRYPT_USE_SYSTEM_PREFERRED_RNG);
        if (status < 0)
            throw Error("The system's random source failed: NTSTATUS " + std::to_string(static_cast<unsigned>(status)));
        out += chunk;
        n -= chunk;
    }
}

std::unique_ptr<NewFile> create_new_file(const std::string& path) {
    const HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) throw FileStreamError("Cannot create file " + path + ": " + reason(GetLastError()));
    return std::make_unique<Win32NewFile>(h, path);
}

void replace_durably(const std::string& from, const std::string& to) {
    const DWORD attributes = GetFileAttributesA(to.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES) {
        if (attributes & FILE_ATTRIBUTE_DIRECTORY) throw Error("Cannot replace " + to + ": it is a folder");
        if (attributes & FILE_ATTRIBUTE_READONLY) throw Error("Cannot replace " + to + ": it is read-only");
    }
    DWORD error = ERROR_SUCCESS;
    for (int attempt = 0; attempt < kReplaceAttempts; ++attempt) {
        if (MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) return;
        error = GetLastError();
        // Only a file held open by someone else is worth waiting for.
        if (error != ERROR_SHARING_VIOLATION && error != ERROR_ACCESS_DENIED && error != ERROR_LOCK_VIOLATION) break;
        Sleep(kReplaceRetryMs);
    }
    throw Error("Cannot replace " + to + ": " + reason(error));
}

std::string create_scratch_directory() {
    char buffer[MAX_PATH + 1];
    const DWORD n = GetTempPathA(sizeof buffer, buffer);
    if (n == 0 || n >= sizeof buffer) throw Error("Cannot find the folder for temporary files: " + reason(GetLastError()));
    std::string base(buffer, n);
    if (base.back() != '\\') base += '\\';
    static const char kHex[] = "0123456789abcdef";
    DWORD error = ERROR_SUCCESS;
    for (int attempt = 0; attempt < 16; ++attempt) {
        uint8_t tag[6];
        random_bytes(tag, sizeof tag);
        std::string dir = base + "kalvtool-";
        for (const uint8_t b : tag) {
            dir += kHex[b >> 4];
            dir += kHex[b & 15];
        }
        if (CreateDirectoryA(dir.c_str(), nullptr)) return dir + '\\';
        error = GetLastError();
        if (error != ERROR_ALREADY_EXISTS) break;
    }
    throw Error("Cannot create a temporary folder in " + base + ": " + reason(error));
}

bool remove_empty_directory(const std::string& path) { return RemoveDirectoryA(path.c_str()) != 0; }

StoredAttributes attributes_to_store(const std::string&) {
    // The MS-DOS archive bit alone: no read-only, hidden or system bit is passed on
    // to the unpacked file.
    return StoredAttributes{0, FILE_ATTRIBUTE_ARCHIVE};
}

}  // namespace kalv::platform
