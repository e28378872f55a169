// Helpers shared by the extraction component's own files (unzipper.cpp,
// zip_directory.cpp, split_archive.cpp, output_path.cpp, entry_streams.cpp,
// extraction.cpp); nothing outside src/unzip includes this header.
#pragma once

#include <string>

#include "platform/platform.h"
#include "unzip/wild_match.h"

namespace kalv::unzip {

inline platform::Platform& os() { return platform::current(); }

inline bool same_text_ignoring_case(const std::string& a, const std::string& b) { return ascii_lower(a) == ascii_lower(b); }

inline std::string ascii_upper(std::string text) {
    for (char& c : text)
        if (c >= 'a' && c <= 'z') c = char(c - 'a' + 'A');
    return text;
}

// A file, not a folder, of that name exists.
inline bool file_exists(const std::string& path) {
    return !path.empty() && os().modification_stamp(path).has_value() && !os().directory_exists(path);
}

// Removes a temporary file of the component's own. One given a read-only attribute
// already (Windows refuses to delete it) loses the attribute first.
inline void discard_temporary(const std::string& path) {
    if (!os().delete_file(path) && os().clear_read_only(path)) os().delete_file(path);
}

}  // namespace kalv::unzip
