// Helpers shared by the extraction core's own files; nothing outside src/unzip
// includes this header.
#pragma once

#include <string>

#include "platform/platform.h"
#include "unzip/wild_match.h"

namespace kalv::unzip {

inline bool same_text_ignoring_case(const std::string& a, const std::string& b) { return ascii_lower(a) == ascii_lower(b); }

// A file, not a folder, of that name exists.
inline bool file_exists(platform::FileSystem& os, const std::string& path) {
    return !path.empty() && os.modification_stamp(path).has_value() && !os.directory_exists(path);
}

// Removes a temporary file of the core's own. One given a read-only attribute
// already (Windows refuses to delete it) loses the attribute first.
inline void discard_temporary(platform::FileSystem& os, const std::string& path) {
    if (!os.delete_file(path) && os.clear_read_only(path)) os.delete_file(path);
}

}  // namespace kalv::unzip
