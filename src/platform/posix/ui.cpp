// User-face group of the POSIX backend. There is no window system to ask: a message box
// is one line "caption: text" on stderr that the user need not answer, the cursor and
// the message queue do not exist. There are no file or folder dialogs either: the
// platform's choose_open_file and choose_folder answer as a cancel (platform.cpp).
#include <cstdio>

#include "platform/posix/posix_platform.h"

namespace kalv::platform {

// Without a user to ask, every box is answered with its first button, the one that
// Windows makes the default.
BoxAnswer PosixPlatform::message_box(const std::string& text, const std::string& caption, BoxButtons buttons,
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

void PosixPlatform::set_cursor(Cursor) {}

void PosixPlatform::process_messages() {}

}  // namespace kalv::platform
