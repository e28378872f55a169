#include "platform/win32/win32_platform.h"

#include "core/errors.h"

namespace kalv::platform {

// Scaffolding: replaced by the real backend.
std::string Win32Platform::profile_string(const std::string&, const std::string&, const std::string&, const std::string&, size_t) { throw Error("profile_string: not built"); }
bool Win32Platform::mutex_exists(const std::string&) { throw Error("mutex_exists: not built"); }
std::string Win32Platform::module_path() { throw Error("module_path: not built"); }
std::vector<std::string> Win32Platform::command_line_arguments() { throw Error("command_line_arguments: not built"); }
uint32_t Win32Platform::platform_id() { throw Error("platform_id: not built"); }
uint32_t Win32Platform::start_program(const std::string&, const std::string&) { throw Error("start_program: not built"); }
std::string Win32Platform::current_directory() { throw Error("current_directory: not built"); }

Platform& native() {
    static Win32Platform instance;
    return instance;
}

}  // namespace kalv::platform
