#include "platform/native_platform.h"

#include <windows.h>

namespace kalv::platform {

// The program's STRINGTABLE (resources/strings.rc, linked into each program
// through kalv_resources). A missing identifier gives an empty text.
std::string NativePlatform::load_string(unsigned id) {
    char buffer[1024];
    int length = LoadStringA(GetModuleHandleA(nullptr), id, buffer, sizeof buffer);
    return std::string(buffer, length > 0 ? static_cast<size_t>(length) : 0);
}

}  // namespace kalv::platform
