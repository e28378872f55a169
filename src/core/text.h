// Byte-string helpers: the profile API's notion of white space (every byte up to the
// blank) and ASCII-only letter case, as Windows compares INI names and paths. Only
// A-Z and a-z change case: a byte from 0x80 up is a code-page character and stays as
// it is, whatever the locale.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace kalv {

inline bool is_blank(char c) { return static_cast<unsigned char>(c) <= ' '; }

inline std::string_view trim(std::string_view s) {
    while (!s.empty() && is_blank(s.front())) s.remove_prefix(1);
    while (!s.empty() && is_blank(s.back())) s.remove_suffix(1);
    return s;
}

inline char lower_ascii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }
inline char upper_ascii(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

inline std::string lower_ascii(std::string_view text) {
    std::string lowered(text);
    for (char& c : lowered) c = lower_ascii(c);
    return lowered;
}

inline std::string upper_ascii(std::string_view text) {
    std::string raised(text);
    for (char& c : raised) c = upper_ascii(c);
    return raised;
}

// Equal but for the letter case of A-Z.
inline bool same_name(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (lower_ascii(a[i]) != lower_ascii(b[i])) return false;
    return true;
}

}  // namespace kalv
