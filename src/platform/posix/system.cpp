#include "platform/posix/posix_platform.h"

#include "core/errors.h"

namespace kalv::platform {

// Scaffolding: replaced by the real backend.
std::string PosixPlatform::profile_string(const std::string&, const std::string&, const std::string&, const std::string&, size_t) { throw Error("profile_string: not built"); }
bool PosixPlatform::mutex_exists(const std::string&) { throw Error("mutex_exists: not built"); }
std::string PosixPlatform::module_path() { throw Error("module_path: not built"); }
std::vector<std::string> PosixPlatform::command_line_arguments() { throw Error("command_line_arguments: not built"); }
uint32_t PosixPlatform::platform_id() { throw Error("platform_id: not built"); }
uint32_t PosixPlatform::start_program(const std::string&, const std::string&) { throw Error("start_program: not built"); }
std::string PosixPlatform::current_directory() { throw Error("current_directory: not built"); }

Platform& native() {
    static PosixPlatform instance;
    return instance;
}

}  // namespace kalv::platform
