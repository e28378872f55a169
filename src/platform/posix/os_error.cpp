// The POSIX backend's one translation of errno into an OsError.
#include <cerrno>
#include <cstring>

#include "platform/os_error.h"

namespace kalv::platform {

// A program file being written or run ("text file busy") and a busy mount pass by
// themselves; the rest (a missing file, no permission, a full disk) stay.
OsError os_error(long native_code) {
    const int error = static_cast<int>(native_code);
    return OsError{native_code, error == ETXTBSY || error == EBUSY, {}};
}

std::string os_error_text(long native_code) { return std::strerror(static_cast<int>(native_code)); }

OsError last_os_error() { return os_error(errno); }

std::string OsError::message() const { return text.empty() ? os_error_text(code) : text; }

}  // namespace kalv::platform
