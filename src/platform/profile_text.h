// The profile (INI) reading rules of the Windows profile API, GetPrivateProfileStringA,
// over a file's bytes. The Win32 backend asks Windows itself, but for a file that begins
// with a UTF-8 byte-order mark; the POSIX backend and the fuzz target read through this
// parser, so both builds give NET.INF the same meaning.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kalv::platform {

// The value of `key` in `section` of the profile text `content`, by the profile API's
// rules:
//  - "[name]" opens a section; section and key names match without regard to case
//    (ASCII letters), blanks around them are not part of the name;
//  - a line "key=value" gives the value without its surrounding blanks and without one
//    pair of enclosing quotes (double or single, the same at both ends); a line without
//    "=" is a key with an empty value; lines starting with ";" are comments;
//  - the first matching section and, in it, the first matching key win;
//  - a UTF-8 byte-order mark before the first line is skipped (Notepad writes one;
//    Windows' own reader would take it for part of the first section's name);
//  - a missing section or key gives `default_value` without its trailing blanks;
//  - the result is cut to buffer_size - 1 characters (the caller's buffer holds the
//    terminating zero), and is empty for a buffer_size of 0.
std::string profile_value(std::string_view content, std::string_view section, std::string_view key,
                          std::string_view default_value, size_t buffer_size);

// The key names of the first section named `section`, in order, by the same rules;
// nullopt when the text has no such section.
std::optional<std::vector<std::string>> profile_section_keys(std::string_view content, std::string_view section);

}  // namespace kalv::platform
