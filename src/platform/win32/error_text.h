// The system's own words for a Win32 error code, for the messages of the Windows
// backend's files (publishing, the administrator's checks).
#pragma once

#include <windows.h>

#include <string>

namespace kalv::platform {

// FormatMessageA's text for `error`, without its trailing line break and full stop.
inline std::string reason(DWORD error) {
    char* text = nullptr;
    const DWORD n = FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                       FORMAT_MESSAGE_IGNORE_INSERTS,
                                   nullptr, error, 0, reinterpret_cast<char*>(&text), 0, nullptr);
    std::string out = n && text ? std::string(text, n) : "error " + std::to_string(error);
    if (text) LocalFree(text);
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r' || out.back() == ' ' || out.back() == '.'))
        out.pop_back();
    return out;
}

}  // namespace kalv::platform
