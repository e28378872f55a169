// The Win32 backend's one translation of GetLastError() into an OsError.
#include <windows.h>

#include "platform/os_error.h"
#include "platform/win32/error_text.h"

namespace kalv::platform {

// A virus scanner, an indexer or a backup holding a file for a moment shows as a
// sharing or lock violation, or as access denied (a file whose delete is pending);
// each passes by itself. The rest (a missing file, a full disk) stay.
OsError os_error(long native_code) {
    const DWORD error = static_cast<DWORD>(native_code);
    const bool transient =
        error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION || error == ERROR_ACCESS_DENIED;
    return OsError{native_code, transient, {}};
}

std::string os_error_text(long native_code) { return reason(static_cast<DWORD>(native_code)); }

OsError last_os_error() { return os_error(static_cast<long>(GetLastError())); }

std::string OsError::message() const { return text.empty() ? os_error_text(code) : text; }

}  // namespace kalv::platform
