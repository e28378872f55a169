#include "platform/platform.h"

namespace kalv::platform {

namespace {
Platform* installed = nullptr;
}

Platform& current() { return installed ? *installed : native(); }

ScopedPlatform::ScopedPlatform(Platform& replacement) : previous_(installed) { installed = &replacement; }

ScopedPlatform::~ScopedPlatform() { installed = previous_; }

}  // namespace kalv::platform
