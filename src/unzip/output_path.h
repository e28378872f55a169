// Path confinement: where an entry's file goes below DestDir, and the stored names
// that are refused because they would leave it.
#pragma once

#include <string>

namespace kalv::unzip {

// A path component that names a parent: "..", and on Windows also the forms that
// its path rules trim to ".." (trailing dots and blanks, "...", ".. "). Judged as the
// OS will read it, up to a zero byte: "..\0x" reaches the OS as "..".
bool names_a_parent(const std::string& stored_component);

// Whether any component of `path` names a parent.
bool has_parent_component(const std::string& path);

}  // namespace kalv::unzip
