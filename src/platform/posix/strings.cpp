#include "platform/native_platform.h"

#include <utility>

namespace kalv::platform {

namespace {

// The program's string table, made from the same list as the Windows build's
// STRINGTABLE. An identifier that is not there gives an empty text, as LoadStringA
// does.
constexpr std::pair<unsigned, const char*> kStringTable[] = {
#define KALV_STRING(id, name, text) {id, text},
#include "resources/string_table.def"
#undef KALV_STRING
};

}  // namespace

std::string NativePlatform::load_string(unsigned id) {
    for (const auto& [number, text] : kStringTable)
        if (number == id) return text;
    return {};
}

}  // namespace kalv::platform
