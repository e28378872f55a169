#include "platform/posix/posix_platform.h"

#include "core/errors.h"

namespace kalv::platform {

// Scaffolding: replaced by the program's string table.
std::string PosixPlatform::load_string(unsigned) { throw Error("load_string: not built"); }

}  // namespace kalv::platform
