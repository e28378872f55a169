// Where a program loads its libraries from. A program started from a folder that others
// can write to (Downloads, a shared folder, the current directory of a prompt) must not
// load a DLL planted there in place of the system's.
#pragma once

namespace kalv::platform {

// Restricts every later library load, the delay-loaded imports included, to the system
// folder (Windows: System32 alone, neither the program's folder nor the current
// directory nor PATH). A program that calls it, first thing in main, has the restriction
// from the moment the loader attaches it, before the C runtime's constructors. POSIX
// programs never search their own folder or the current directory for libraries:
// nothing to do there.
void restrict_library_search();

}  // namespace kalv::platform
