// User-face group of the Win32 backend: modal message boxes without an owner, the
// screen's mouse cursor, and the handling of pending window messages.
#include <windows.h>

#include "platform/native_platform.h"

namespace kalv::platform {

namespace {

UINT box_style(BoxButtons buttons, BoxIcon icon) {
    UINT style = MB_OK;
    switch (buttons) {
        case BoxButtons::Ok: style = MB_OK; break;
        case BoxButtons::OkCancel: style = MB_OKCANCEL; break;
        case BoxButtons::YesNo: style = MB_YESNO; break;
    }
    switch (icon) {
        case BoxIcon::None: break;
        case BoxIcon::Error: style |= MB_ICONERROR; break;
        case BoxIcon::Warning: style |= MB_ICONWARNING; break;
        case BoxIcon::Information: style |= MB_ICONINFORMATION; break;
        case BoxIcon::Question: style |= MB_ICONQUESTION; break;
    }
    return style;
}

LPCSTR cursor_resource(Cursor cursor) {
    switch (cursor) {
        case Cursor::AppStart: return IDC_APPSTARTING;
        case Cursor::HourGlass: return IDC_WAIT;
        case Cursor::Default: break;
    }
    return IDC_ARROW;
}

BOOL CALLBACK give_class_cursor(HWND window, LPARAM cursor) {
    SetClassLongPtrA(window, GCLP_HCURSOR, cursor);
    return TRUE;
}

BOOL CALLBACK give_cursor_to_window_and_children(HWND window, LPARAM cursor) {
    give_class_cursor(window, cursor);
    EnumChildWindows(window, give_class_cursor, cursor);
    return TRUE;
}

}  // namespace

BoxAnswer NativePlatform::message_box(const std::string& text, const std::string& caption, BoxButtons buttons,
                                      BoxIcon icon) {
    switch (MessageBoxA(nullptr, text.c_str(), caption.c_str(), box_style(buttons, icon))) {
        case IDCANCEL: return BoxAnswer::Cancel;
        case IDYES: return BoxAnswer::Yes;
        case IDNO: return BoxAnswer::No;
        default: return BoxAnswer::Ok;
    }
}

// The screen's cursor holds over every window of the program, not only until the mouse
// next moves: each window's class shows it too, since a window answers WM_SETCURSOR with
// its class cursor.
void NativePlatform::set_cursor(Cursor cursor) {
    HCURSOR shape = LoadCursorA(nullptr, cursor_resource(cursor));
    EnumThreadWindows(GetCurrentThreadId(), give_cursor_to_window_and_children, LPARAM(shape));
    SetCursor(shape);
}

// A quit request is left for nobody: the launcher has no main loop that could end on it.
void NativePlatform::process_messages() {
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message == WM_QUIT) continue;
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
}

}  // namespace kalv::platform
