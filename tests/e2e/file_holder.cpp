// Holds a file open without sharing, as a virus scanner or a backup agent does with a
// freshly written program:
//   file_holder.exe PATH MILLISECONDS READY_FILE [RELEASE_FILE]
// READY_FILE is created once the file is held, so the test starts the launcher only
// then. The file is held for MILLISECONDS; with RELEASE_FILE, until that file exists
// (the test creates it once the launcher has ended), MILLISECONDS then being only the
// limit for a test that died. The exit code is 0 when the file could be held.
#include <windows.h>

#include <cstdlib>

int main(int argc, char** argv) {
    if (argc != 4 && argc != 5) return 64;
    const HANDLE held = CreateFileA(argv[1], GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (held == INVALID_HANDLE_VALUE) return 2;
    const HANDLE ready = CreateFileA(argv[3], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (ready != INVALID_HANDLE_VALUE) CloseHandle(ready);
    const DWORD limit = DWORD(std::strtoul(argv[2], nullptr, 10));
    if (argc == 5) {
        const ULONGLONG until = GetTickCount64() + limit;
        while (GetFileAttributesA(argv[4]) == INVALID_FILE_ATTRIBUTES && GetTickCount64() < until) Sleep(50);
    } else {
        Sleep(limit);
    }
    CloseHandle(held);
    return 0;
}
