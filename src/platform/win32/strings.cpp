#include "platform/native_platform.h"

#include <windows.h>

namespace kalv::platform {

namespace {

// One character (one UTF-16 unit, or a surrogate pair) in the ANSI code page, or "_"
// when the page has no exact equal. WideCharToMultiByte's default best-fit mapping
// would turn U+FF0F (fullwidth solidus) and U+2215 (division slash) into "/", U+FF0E
// and U+2024 into ".", U+FF1A into ":": characters that pass every check of an entry's
// path as letters and then reach the file system as separators and parent names.
// WC_NO_BEST_FIT_CHARS alone leaves some such mappings in place on some pages, so a
// character is kept only when its bytes convert back to the very same character.
std::string ansi_character(const wchar_t* character, int units) {
    const bool utf8_page = GetACP() == CP_UTF8;  // takes neither the flag nor a default
    char bytes[8];
    BOOL used_default = FALSE;
    const int length = WideCharToMultiByte(CP_ACP, utf8_page ? 0 : WC_NO_BEST_FIT_CHARS, character, units, bytes,
                                           sizeof bytes, utf8_page ? nullptr : "_",
                                           utf8_page ? nullptr : &used_default);
    if (length <= 0 || used_default) return "_";
    wchar_t back[4];
    const int back_units = MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, bytes, length, back, 4);
    if (back_units != units) return "_";
    for (int i = 0; i < units; ++i)
        if (back[i] != character[i]) return "_";
    return std::string(bytes, static_cast<size_t>(length));
}

// Text of `code_page` in the ANSI code page, character by character ("_" for each
// character the page lacks: no file name may hold the system's "?").
std::string to_ansi(UINT code_page, const std::string& text) {
    if (text.empty()) return text;
    const int size = static_cast<int>(text.size());
    const int wide_length = MultiByteToWideChar(code_page, 0, text.data(), size, nullptr, 0);
    if (wide_length <= 0) return std::string(text.size(), '_');
    std::wstring wide(static_cast<size_t>(wide_length), L'\0');
    MultiByteToWideChar(code_page, 0, text.data(), size, wide.data(), wide_length);
    std::string ansi;
    ansi.reserve(text.size());
    for (size_t i = 0; i < wide.size();) {
        if (wide[i] < 0x80) {  // ASCII is the same in every ANSI page
            ansi += static_cast<char>(wide[i++]);
            continue;
        }
        const bool pair = IS_HIGH_SURROGATE(wide[i]) && i + 1 < wide.size() && IS_LOW_SURROGATE(wide[i + 1]);
        const int units = pair ? 2 : 1;
        ansi += ansi_character(wide.data() + i, units);
        i += static_cast<size_t>(units);
    }
    return ansi;
}

}  // namespace

// The program's STRINGTABLE (resources/strings.rc, made from string_table.def and
// linked into each program through kalv_resources). A missing identifier gives an empty text.
std::string NativePlatform::load_string(unsigned id) {
    char buffer[1024];
    int length = LoadStringA(GetModuleHandleA(nullptr), id, buffer, sizeof buffer);
    return std::string(buffer, length > 0 ? static_cast<size_t>(length) : 0);
}

// By way of UTF-16 rather than OemToCharBuffA, which maps best-fit: the line-drawing
// characters of code page 437 would arrive as "|", "-" and "+".
std::string NativePlatform::oem_to_ansi(const std::string& oem) { return to_ansi(CP_OEMCP, oem); }

std::string NativePlatform::utf8_to_ansi(const std::string& utf8) { return to_ansi(CP_UTF8, utf8); }

}  // namespace kalv::platform
