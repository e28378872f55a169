// The backend's one translation of native error codes: which failures pass by
// themselves (and are retried by the launcher) and which stay.
#ifdef _WIN32
#include <windows.h>
#else
#include <cerrno>
#endif

#include <gtest/gtest.h>

#include "platform/os_error.h"

namespace kalv::platform {
namespace {

struct Translation {
    const char* why;
    long code;
    bool transient;
};

#ifdef _WIN32
const Translation kTable[] = {
    {"a virus scanner holds the file open without sharing", ERROR_SHARING_VIOLATION, true},
    {"a backup holds a lock on a range of it", ERROR_LOCK_VIOLATION, true},
    {"a delete is pending, or an indexer holds it", ERROR_ACCESS_DENIED, true},
    {"nothing there: waiting does not make it", ERROR_FILE_NOT_FOUND, false},
    {"no such folder", ERROR_PATH_NOT_FOUND, false},
    {"the target exists", ERROR_ALREADY_EXISTS, false},
    {"a full disk stays full", ERROR_DISK_FULL, false},
};
#else
const Translation kTable[] = {
    {"the program is being written or run", ETXTBSY, true},
    {"a busy mount", EBUSY, true},
    {"nothing there: waiting does not make it", ENOENT, false},
    {"no permission stays no permission", EACCES, false},
    {"the target exists", EEXIST, false},
    {"a full disk stays full", ENOSPC, false},
    {"a folder where a file was meant", EISDIR, false},
};
#endif

TEST(OsError, TransientOnlyForWhatPassesByItself) {
    for (const Translation& t : kTable) {
        const OsError error = os_error(t.code);
        EXPECT_EQ(error.transient, t.transient) << t.why;
        EXPECT_EQ(error.code, t.code) << t.why;
        EXPECT_EQ(error.message(), os_error_text(t.code)) << t.why << ": the system's words";
        EXPECT_FALSE(error.message().empty()) << t.why;
    }
}

TEST(OsError, LastErrorIsReadFromTheCallingThread) {
#ifdef _WIN32
    SetLastError(ERROR_SHARING_VIOLATION);
    EXPECT_EQ(last_os_error().code, long(ERROR_SHARING_VIOLATION));
#else
    errno = ETXTBSY;
    EXPECT_EQ(last_os_error().code, long(ETXTBSY));
#endif
    EXPECT_TRUE(last_os_error().transient);
}

TEST(OsError, ARefusalOfOurOwnNeverPassesAndReadsAsAFailure) {
    const OsStatus refused = refusal("it is read-only");
    EXPECT_FALSE(refused);
    EXPECT_FALSE(refused.transient());
    EXPECT_EQ(refused.error().message(), "it is read-only");
    EXPECT_TRUE(OsStatus{});
}

}  // namespace
}  // namespace kalv::platform
