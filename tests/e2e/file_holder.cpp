// Holds a file open without sharing for a while, as a virus scanner or a backup agent
// does with a freshly written program:
//   file_holder.exe PATH MILLISECONDS READY_FILE
// READY_FILE is created once the file is held, so the test starts the launcher only
// then; the exit code is 0 when the file could be held.
#include <windows.h>

#include <cstdlib>

int main(int argc, char** argv) {
    if (argc != 4) return 64;
    const HANDLE held = CreateFileA(argv[1], GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (held == INVALID_HANDLE_VALUE) return 2;
    const HANDLE ready = CreateFileA(argv[3], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (ready != INVALID_HANDLE_VALUE) CloseHandle(ready);
    Sleep(DWORD(std::strtoul(argv[2], nullptr, 10)));
    CloseHandle(held);
    return 0;
}
