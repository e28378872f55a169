// Where the launcher finds itself, and the small helpers of the startup sequence.
#include "launcher/launcher.h"

namespace kalv::launcher {

std::string LauncherDir(platform::Processes& processes) {
    const std::string path = processes.module_path();
#ifdef _WIN32
    const size_t last = path.find_last_of("\\:");
#else
    const size_t last = path.find_last_of('/');
#endif
    return last == std::string::npos ? std::string() : path.substr(0, last + 1);
}

uint32_t GetPlatformId(platform::Processes& processes) { return processes.platform_id(); }

std::string CharsToText(const char* chars, int high_index) {
    if (high_index < 0) return {};
    return std::string(chars, static_cast<size_t>(high_index) + 1);
}

}  // namespace kalv::launcher
