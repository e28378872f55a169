#include "platform/platform.h"

namespace kalv::platform {

namespace {
Platform* installed = nullptr;
}

// Without a user to ask, nothing can be chosen: the caller sees a cancel and raises
// its own "User canceled ..." failure, so a "?" never stands for a guessed path.
std::optional<std::string> Platform::choose_open_file(const std::string&, const std::string&, const std::string&) {
    return std::nullopt;
}

std::optional<std::string> Platform::choose_folder(const std::string&) { return std::nullopt; }

Platform& current() { return installed ? *installed : native(); }

ScopedPlatform::ScopedPlatform(Platform& replacement) : previous_(installed) { installed = &replacement; }

ScopedPlatform::~ScopedPlatform() { installed = previous_; }

}  // namespace kalv::platform
