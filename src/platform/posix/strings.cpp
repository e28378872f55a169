#include "platform/native_platform.h"

#include <utility>

namespace kalv::platform {

namespace {

// The texts of resources/strings.rc, which the Windows build links as its
// STRINGTABLE. An identifier that is not there gives an empty text, as
// LoadStringA does.
constexpr std::pair<unsigned, const char*> kStringTable[] = {
    {65313, "Kalvo..."},
    {65318, "Please, wait now ..."},
    {65319, "File not found :"},
    {65320, "Loading..."},
    {65321, "Checking..."},
    {65322, "Starting..."},
    {65324, " ( Setuping... )"},
    {65325, "Error in file processing : "},
    {65326, "Ready !"},
    {65343, "Can run only one instance of the program !"},
};

}  // namespace

std::string NativePlatform::load_string(unsigned id) {
    for (const auto& [number, text] : kStringTable)
        if (number == id) return text;
    return {};
}

}  // namespace kalv::platform
