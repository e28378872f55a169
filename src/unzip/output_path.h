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

// A path component that Windows opens as a DOS device in every folder: CON, PRN, AUX,
// NUL, COM0-9, LPT0-9 (also with the superscript digits 1-3 of code page 1252),
// CONIN$, CONOUT$; in any letter case, and alone or followed by blanks and then the
// end, a dot (any extension: "NUL.txt", "con .txt", "con.  ") or a colon.
bool names_a_dos_device(const std::string& component);

// On Windows, `path` as a file name there can hold it, as 7-Zip writes such names:
// "_" in front of every component that names a DOS device ("COM1" is written as
// "_COM1", "sub\\aux.log" as "sub\\_aux.log"), and "_" for each character that no
// Windows name may hold (0x01-0x1F, < > " | ? *). The device would take the entry's
// bytes, and a name that cannot be created would fail the whole pass, in place of one
// file. Elsewhere those are ordinary names, and `path` is returned as it is.
std::string windows_file_names(const std::string& path);

}  // namespace kalv::unzip
