#include <windows.h>

#include "platform/library_search.h"

namespace kalv::platform {

namespace {

// LOAD_LIBRARY_SEARCH_SYSTEM32 alone: neither the program's folder, nor the current
// directory, nor PATH. The imports bound at start are KnownDLLs, mapped from System32
// before any of this runs. Should the call fail, at least the current directory leaves
// the search.
void restrict_now() {
    if (!SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32)) SetDllDirectoryA("");
}

// main comes too late for the C runtime's constructors: the stack protector's (libssp)
// seeds its canary through CryptAcquireContext, which loads rsaenh.dll, whose imports
// were searched for beside the program. A TLS callback runs when the loader attaches
// the program, before its entry point and so before every constructor.
void NTAPI restrict_at_attach(PVOID, DWORD reason, PVOID) {
    if (reason == DLL_PROCESS_ATTACH) restrict_now();
}

// The loader calls what the .CRT$XL? sections list (the C runtime's TLS directory spans
// them); B sorts before the runtime's own entries.
[[gnu::section(".CRT$XLB"), gnu::used]] const PIMAGE_TLS_CALLBACK restrict_callback = restrict_at_attach;

}  // namespace

// Called first in main: it keeps this file, and so the callback above, in the program.
void restrict_library_search() { restrict_now(); }

}  // namespace kalv::platform
