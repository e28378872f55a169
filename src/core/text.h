// Byte-string helpers shared by the INI readers: the profile API's notion of white
// space (every byte up to the blank) and its ASCII-only letter case.
#pragma once

#include <cstddef>
#include <string_view>

namespace kalv {

inline bool is_blank(char c) { return static_cast<unsigned char>(c) <= ' '; }

inline std::string_view trim(std::string_view s) {
    while (!s.empty() && is_blank(s.front())) s.remove_prefix(1);
    while (!s.empty() && is_blank(s.back())) s.remove_suffix(1);
    return s;
}

inline char lower_ascii(char c) { return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c; }

inline bool same_name(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (lower_ascii(a[i]) != lower_ascii(b[i])) return false;
    return true;
}

}  // namespace kalv
