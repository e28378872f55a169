// The one place where Kalv3 meets the operating system, by job: files (file_system.h),
// processes (processes.h) and the user face (user_interface.h). Code is given the
// narrowest of them that it needs, by its caller; only the program entries (the
// launcher's, kalvtool's, the stand-in's) take the native backend (native()) and hand
// it down. Tests hand down the recording fake, so that a whole run of the startup
// sequence can be compared as a transcript.
//
// Platform is the three in one: what the native backend, the recording fake and
// the layers over them (ForwardingPlatform, RetryingPlatform) implement.
#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <string>

#include "platform/file_system.h"
#include "platform/os_error.h"
#include "platform/processes.h"
#include "platform/user_interface.h"

namespace kalv::platform {

class Platform : public FileSystem, public Processes, public UserInterface {};

// Starts `job` on a thread of its own that nobody joins: false when the system has no
// thread to give. Defined by the backend: on Windows a thread of the system's own, since
// a detached thread of the mingw-w64 threads library now and then never ran its job
// (seen under Wine: a bounded look or copy waited out its bound on a helper that had
// never started).
bool start_detached(std::function<void()> job);

// Runs `job` on a helper thread and waits for it at most `bound`, handling window
// messages of `ui` meanwhile: true when it ended in time. A job that does not is left
// to run on, and must hold everything it touches itself (by value, by shared_ptr).
bool finish_within(UserInterface& ui, std::chrono::milliseconds bound, std::function<void()> job);

// FileSystem::look_within written once for every backend: the looks of `files` run on
// a helper thread while `ui` handles window messages. A helper that never comes back
// is left behind, owns nothing the caller still needs, and ends with the process,
// whose end it does not hold up; so only a file system that lives as long as the
// process (the native one) may be given here.
std::optional<FileLook> look_within_bound(FileSystem& files, UserInterface& ui, const std::string& path,
                                          std::chrono::milliseconds bound);

// Defined by the backend that CMake chooses (win32/ or posix/). Taken by the program
// entries alone.
Platform& native();

}  // namespace kalv::platform
