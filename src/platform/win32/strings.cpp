#include "platform/win32/win32_platform.h"

#include "core/errors.h"

namespace kalv::platform {

// Scaffolding: replaced by the program's string table.
std::string Win32Platform::load_string(unsigned) { throw Error("load_string: not built"); }

}  // namespace kalv::platform
