// How an operation of the operating system fails: one value for every backend, made
// from errno or GetLastError() by one function per backend (os_error), that knows
// whether the failure passes by itself. A file held for a moment by a virus scanner,
// an indexer or a backup (a sharing or lock violation, access denied on Windows; "text
// file busy", a busy mount on POSIX) is transient: the same call may succeed a moment
// later. A missing file, a full disk or a refusal of our own never is.
#pragma once

#include <optional>
#include <string>
#include <utility>

namespace kalv::platform {

struct OsError {
    long code = 0;           // errno or GetLastError(); 0 for a refusal of this program's own
    bool transient = false;  // the same call may succeed a moment later
    std::string text;        // a refusal's own words; empty for the system's (see message)

    // What to tell a user: the refusal's text, or the system's words for the code.
    std::string message() const;
};

// The backend's translation of a native error code (errno; GetLastError()). The
// system's words are looked up only when a message is asked for: most failures (a
// probe for a file that is not there) are never shown, and FormatMessageA is no call
// to make at each of them.
OsError os_error(long native_code);
// The system's words for a native error code (strerror; FormatMessageA).
std::string os_error_text(long native_code);
// os_error of the calling thread's last error (errno; GetLastError()), read at once.
OsError last_os_error();
// A failure that no system call reported: a rule of this program's own (a read-only
// target not replaced, a copy that stopped delivering). Never transient.
inline OsError refusal(std::string text) { return OsError{0, false, std::move(text)}; }

// Success, or the OsError of a failure. Reads as a bool: `if (!files.delete_file(p))`.
class OsStatus {
public:
    OsStatus() = default;
    OsStatus(OsError error) : error_(std::move(error)) {}  // NOLINT: a failure converts
    explicit operator bool() const { return !error_; }
    // Only for a failure.
    const OsError& error() const { return *error_; }
    bool transient() const { return error_ && error_->transient; }

private:
    std::optional<OsError> error_;
};

// A value, or the OsError of a failure.
template <typename T>
class OsResult {
public:
    OsResult(T value) : value_(std::move(value)) {}         // NOLINT: a value converts
    OsResult(OsError error) : error_(std::move(error)) {}   // NOLINT: a failure converts
    explicit operator bool() const { return value_.has_value(); }
    T& operator*() { return *value_; }
    const T& operator*() const { return *value_; }
    T* operator->() { return &*value_; }
    // Only for a failure.
    const OsError& error() const { return error_; }
    bool transient() const { return !value_ && error_.transient; }

private:
    std::optional<T> value_;
    OsError error_;
};

}  // namespace kalv::platform
