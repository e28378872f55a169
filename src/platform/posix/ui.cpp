// User-face group of the POSIX backend. There is no window system to ask: a message box
// is one line "caption: text" on stderr that the user need not answer, the cursor and
// the message queue do not exist. There are no file or folder dialogs either: the
// "?" dialogs answer as a cancel, as the interface's own answer does (platform.cpp).
#include <cstdio>

#include "platform/native_platform.h"

namespace kalv::platform {

// Without a user to ask, every box is answered with its first button, the one that
// Windows makes the default.
BoxAnswer NativePlatform::message_box(const std::string& text, const std::string& caption, BoxButtons buttons,
                                      BoxIcon) {
    const std::string line = caption + ": " + text + "\n";
    std::fwrite(line.data(), 1, line.size(), stderr);
    std::fflush(stderr);
    switch (buttons) {
        case BoxButtons::YesNo: return BoxAnswer::Yes;
        case BoxButtons::Ok:
        case BoxButtons::OkCancel: break;
    }
    return BoxAnswer::Ok;
}

void NativePlatform::set_cursor(Cursor) {}

void NativePlatform::process_messages() {}

std::optional<std::string> NativePlatform::choose_open_file(const std::string& title, const std::string& filter,
                                                            const std::string& start_dir) {
    return UserInterface::choose_open_file(title, filter, start_dir);
}

std::optional<std::string> NativePlatform::choose_folder(const std::string& start_dir) {
    return UserInterface::choose_folder(start_dir);
}

}  // namespace kalv::platform
