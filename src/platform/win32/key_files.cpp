#include "platform/key_files.h"

#include <windows.h>
// <windows.h> first: these use its types.
#include <sddl.h>

#include "core/errors.h"
#include "platform/win32/error_text.h"

namespace kalv::platform {

namespace {

// OVERLAPPED-positioned WriteFile until all is written, then FlushFileBuffers; 0 or
// the error of the failure.
DWORD write_all(HANDLE h, uint64_t offset, const std::string& bytes) {
    const char* at = bytes.data();
    size_t left = bytes.size();
    while (left > 0) {
        OVERLAPPED where{};
        where.Offset = DWORD(offset);
        where.OffsetHigh = DWORD(offset >> 32);
        DWORD put = 0;
        const DWORD want = left > (1u << 30) ? (1u << 30) : DWORD(left);
        if (!WriteFile(h, at, want, &put, &where)) return GetLastError();
        if (put == 0) return ERROR_DISK_FULL;
        at += put;
        offset += put;
        left -= put;
    }
    return FlushFileBuffers(h) ? 0 : GetLastError();
}

// "D:P(A;;FA;;;<this user's SID>)": a protected DACL (nothing inherited from the
// folder) whose one entry gives this user full access; nobody else may open the file.
std::string owner_only_sddl() {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
        throw Error("Cannot read this user's identity: " + reason(GetLastError()));
    DWORD size = 0;
    GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    std::string buffer(size, '\0');
    const bool got = size > 0 && GetTokenInformation(token, TokenUser, buffer.data(), size, &size);
    const DWORD error = GetLastError();
    CloseHandle(token);
    if (!got) throw Error("Cannot read this user's identity: " + reason(error));
    char* sid = nullptr;
    if (!ConvertSidToStringSidA(reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid, &sid))
        throw Error("Cannot read this user's identity: " + reason(GetLastError()));
    std::string sddl = "D:P(A;;FA;;;";
    sddl += sid;
    sddl += ")";
    LocalFree(sid);
    return sddl;
}

}  // namespace

void write_owner_only_file(const std::string& path, const std::string& bytes) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(owner_only_sddl().c_str(), SDDL_REVISION_1,
                                                              &descriptor, nullptr))
        throw Error("Cannot describe who may read " + path + ": " + reason(GetLastError()));
    SECURITY_ATTRIBUTES security{sizeof security, descriptor, FALSE};
    // CREATE_NEW fails on anything at the name; a reparse point there is not followed.
    const HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, &security, CREATE_NEW,
                                 FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    const DWORD create_error = GetLastError();
    LocalFree(descriptor);
    if (h == INVALID_HANDLE_VALUE) throw FileStreamError("Cannot create file " + path + ": " + reason(create_error));
    const DWORD error = write_all(h, 0, bytes);
    CloseHandle(h);
    if (error != 0) {
        DeleteFileA(path.c_str());
        throw FileStreamError("Cannot write file " + path + ": " + reason(error));
    }
}

void write_into_file(const std::string& path, uint64_t offset, const std::string& bytes) {
    const HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                 FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (h == INVALID_HANDLE_VALUE) throw FileStreamError("Cannot open file " + path + ": " + reason(GetLastError()));
    const DWORD error = write_all(h, offset, bytes);
    CloseHandle(h);
    if (error != 0) throw FileStreamError("Cannot write file " + path + ": " + reason(error));
}

std::optional<unsigned> mode_open_to_others(const std::string&) { return std::nullopt; }

}  // namespace kalv::platform
