// Publishing's OS needs on Windows: BCryptGenRandom, a scratch folder in GetTempPathA's
// folder, and the MS-DOS attributes to store.
#include "platform/publishing.h"

#include <windows.h>
// <windows.h> first: bcrypt.h uses its types.
#include <bcrypt.h>

#include <algorithm>

#include "core/errors.h"
#include "platform/win32/error_text.h"

namespace kalv::platform {

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
