// kalvtool's administration needs on Windows: file identities from
// GetFileInformationByHandle, the error of GetFileAttributesA, CREATE_NEW lock files,
// OpenProcess, and a probe file. Owner and ACLs are left to inheritance.
#include "platform/admin_files.h"

#include <windows.h>


#include "core/errors.h"
#include "platform/win32/error_text.h"
#include "platform/platform.h"

namespace kalv::platform {

namespace {

// Opened for no access at all: enough to ask for the identity, and granted whatever
// share mode another process holds the file in. A folder needs the backup flag.
bool identity(const std::string& path, BY_HANDLE_FILE_INFORMATION& info) {
    const HANDLE h = CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                 OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    const bool got = GetFileInformationByHandle(h, &info) != 0;
    CloseHandle(h);
    return got;
}

std::string probe_name(const std::string& folder, const char* what) {
    return folder + ".kalvtool-probe-" + what + "-" + native().random_tag();
}

}  // namespace

bool same_file(const std::string& a, const std::string& b) {
    BY_HANDLE_FILE_INFORMATION ia, ib;
    if (!identity(a, ia) || !identity(b, ib)) return false;
    // A file server that tells no file index gives 0 for every file: no identity then.
    if (ia.nFileIndexHigh == 0 && ia.nFileIndexLow == 0) return false;
    return ia.dwVolumeSerialNumber == ib.dwVolumeSerialNumber && ia.nFileIndexHigh == ib.nFileIndexHigh &&
           ia.nFileIndexLow == ib.nFileIndexLow;
}

PathLook look_at(const std::string& path) {
    if (!path.empty() && GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES) return {PathState::Present, {}};
    const DWORD error = path.empty() ? ERROR_FILE_NOT_FOUND : GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND || error == ERROR_INVALID_NAME ||
        error == ERROR_BAD_NETPATH)
        return {PathState::Missing, {}};
    return {PathState::Unreadable, reason(error)};
}

void keep_owner_and_mode(const std::string&, const std::string&) {
    // The new file was created in the target's folder and inherited that folder's
    // ACLs, as a file copied there does; an ACL set on the old target alone is not
    // carried over.
}

bool create_lock_file(const std::string& path, const std::string& content) {
    // CREATE_NEW never follows a reparse point that is already there: it fails.
    const HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        if (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS) return false;
        throw Error("Cannot create " + path + ": " + reason(error));
    }
    DWORD put = 0;
    const bool written = WriteFile(h, content.data(), static_cast<DWORD>(content.size()), &put, nullptr) &&
                         put == content.size() && FlushFileBuffers(h);
    const DWORD error = GetLastError();
    CloseHandle(h);
    if (!written) {
        DeleteFileA(path.c_str());
        throw Error("Cannot write " + path + ": " + reason(error));
    }
    return true;
}

uint64_t process_id() { return GetCurrentProcessId(); }

std::string host_name() {
    char name[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD n = sizeof name;
    return GetComputerNameA(name, &n) ? std::string(name, n) : std::string("unknown");
}

bool process_running(uint64_t pid) {
    if (pid == 0 || pid > 0xFFFFFFFFu) return false;
    const HANDLE h = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, static_cast<DWORD>(pid));
    if (!h) return GetLastError() != ERROR_INVALID_PARAMETER;  // no such process
    // A handle to a process that has ended stays valid while someone holds it.
    const bool running = WaitForSingleObject(h, 0) == WAIT_TIMEOUT;
    CloseHandle(h);
    return running;
}

std::string probe_writable(const std::string& folder) {
    const std::string names[2] = {probe_name(folder, "a"), probe_name(folder, "b")};
    bool created[2] = {false, false};
    std::string failed;
    for (int i = 0; i < 2 && failed.empty(); ++i) {
        const HANDLE h = CreateFileA(names[i].c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL,
                                     nullptr);
        if (h == INVALID_HANDLE_VALUE) {
            failed = "cannot create a file in it (" + reason(GetLastError()) + ")";
        } else {
            created[i] = true;
            CloseHandle(h);
        }
    }
    if (failed.empty()) {
        if (!MoveFileExA(names[0].c_str(), names[1].c_str(), MOVEFILE_REPLACE_EXISTING)) {
            failed = "cannot replace a file in it (" + reason(GetLastError()) + ")";
        } else {
            created[0] = false;
            if (!DeleteFileA(names[1].c_str())) failed = "cannot delete a file in it (" + reason(GetLastError()) + ")";
            else created[1] = false;
        }
    }
    for (int i = 0; i < 2; ++i)
        if (created[i]) DeleteFileA(names[i].c_str());
    return failed;
}

}  // namespace kalv::platform
