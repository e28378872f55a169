// The operating system's processes, as one job of the OS layer: the application's
// mutex, the program's own path and arguments, the start of another program, locks
// across processes, and the clock.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/os_error.h"

namespace kalv::platform {

// A lock held across processes until its owner lets it go or ends.
class SystemLock {
public:
    virtual ~SystemLock() = default;
};

class Processes {
public:
    virtual ~Processes() = default;

    // True when a mutex of that name exists and could be opened for SYNCHRONIZE
    // (on POSIX: a process of this user holds its lock file, see hold_mutex).
    // The handle is closed before returning; nothing is created.
    virtual bool mutex_exists(const std::string& name) = 0;
    virtual std::string module_path() = 0;       // the launcher's own full path
    virtual std::vector<std::string> command_line_arguments() = 0;  // without the program
    virtual uint32_t platform_id() = 0;          // dwPlatformId; 2 = the NT family
    // WinExec semantics: starts `explicit_program` with `command_line` and waits for
    // its first input. A failure's code is WinExec's for it (below 32: 2 file not
    // found, 5 access denied, 0 out of resources).
    [[nodiscard]] virtual OsStatus start_program(const std::string& command_line,
                                                 const std::string& explicit_program) = 0;
    virtual std::string current_directory() = 0;
    // A lock of that name across the processes of this user's session (a named mutex;
    // on POSIX flock(2) on a file of the user's own in $XDG_RUNTIME_DIR or beside the
    // program, or a lock that holds nothing where no such file can be had), or nullptr
    // when another process holds it.
    // It is let go when the returned object goes or the process ends.
    virtual std::unique_ptr<SystemLock> try_lock(const std::string& name) = 0;
    // A clock for time-outs that never steps back, and a pause of the thread.
    virtual std::chrono::milliseconds monotonic_time() = 0;
    virtual void sleep(std::chrono::milliseconds duration) = 0;
};

}  // namespace kalv::platform
