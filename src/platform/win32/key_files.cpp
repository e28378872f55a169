#include "platform/key_files.h"

#include <windows.h>
// <windows.h> first: these use its types.
#include <aclapi.h>
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

// This user's TOKEN_USER, which holds the user's SID.
std::string this_user() {
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
    return buffer;
}

PSID user_sid(std::string& token_user) { return reinterpret_cast<TOKEN_USER*>(token_user.data())->User.Sid; }

// "D:P(A;;FA;;;<this user's SID>)": a protected DACL (nothing inherited from the
// folder) whose one entry gives this user full access; nobody else may open the file.
std::string owner_only_sddl() {
    std::string user = this_user();
    char* sid = nullptr;
    if (!ConvertSidToStringSidA(user_sid(user), &sid))
        throw Error("Cannot read this user's identity: " + reason(GetLastError()));
    std::string sddl = "D:P(A;;FA;;;";
    sddl += sid;
    sddl += ")";
    LocalFree(sid);
    return sddl;
}

// Rights that let a holder read the key, change it, or give themselves either.
constexpr ACCESS_MASK kOpeningRights =
    FILE_READ_DATA | FILE_WRITE_DATA | FILE_APPEND_DATA | GENERIC_READ | GENERIC_WRITE | GENERIC_ALL | WRITE_DAC | WRITE_OWNER;

// This user, and the system and the administrators, who can read any file anyway.
bool counts_as_owner(PSID sid, PSID user) {
    return EqualSid(sid, user) || IsWellKnownSid(sid, WinLocalSystemSid) ||
           IsWellKnownSid(sid, WinBuiltinAdministratorsSid);
}

std::string account_name(PSID sid) {
    char name[256], domain[256];
    DWORD name_size = sizeof name, domain_size = sizeof domain;
    SID_NAME_USE use;
    if (LookupAccountSidA(nullptr, sid, name, &name_size, domain, &domain_size, &use))
        return domain[0] ? std::string(domain) + "\\" + name : std::string(name);
    char* text = nullptr;
    if (!ConvertSidToStringSidA(sid, &text)) return "an unknown account";
    std::string named = text;
    LocalFree(text);
    return named;
}

// The accounts other than the owner's that `acl` lets open the file. Denying entries
// are not weighed: a warning too many is cheaper than a key left open.
std::string others_allowed(const ACL& acl, PSID user) {
    std::string others;
    for (DWORD i = 0; i < acl.AceCount; ++i) {
        void* entry = nullptr;
        if (!GetAce(const_cast<ACL*>(&acl), i, &entry)) continue;
        auto* const allowed = static_cast<ACCESS_ALLOWED_ACE*>(entry);
        if (allowed->Header.AceType != ACCESS_ALLOWED_ACE_TYPE || (allowed->Header.AceFlags & INHERIT_ONLY_ACE) ||
            !(allowed->Mask & kOpeningRights))
            continue;
        const PSID sid = &allowed->SidStart;
        if (counts_as_owner(sid, user)) continue;
        if (!others.empty()) others += ", ";
        others += account_name(sid);
    }
    return others;
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

std::optional<std::string> who_else_may_open(const std::string& path) {
    PACL acl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (GetNamedSecurityInfoA(path.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &acl,
                              nullptr, &descriptor) != ERROR_SUCCESS)
        return std::nullopt;
    std::string others;
    try {
        std::string user = this_user();
        others = acl ? others_allowed(*acl, user_sid(user)) : "Everyone";  // no access list: open to all
    } catch (const Error&) {
        // Whose the key is cannot be told: no warning rather than a wrong one.
    }
    LocalFree(descriptor);
    if (others.empty()) return std::nullopt;
    return others + " may open it; its access list should name you alone";
}

}  // namespace kalv::platform
