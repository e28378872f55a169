// The launcher's error boxes: modal, without an owner window, with the error icon and
// an OK button.
#pragma once

#include <string>

#include "launcher/run_log.h"
#include "launcher/texts.h"
#include "platform/user_interface.h"

namespace kalv::launcher {

inline void ShowErrorBox(platform::UserInterface& ui, const std::string& text, const std::string& caption) {
    runlog::Note("box " + caption + " | " + text);
    ui.message_box(text, caption, platform::BoxButtons::Ok, platform::BoxIcon::Error);
}

// "Problem in <where> : ", a carriage return and the failure's message.
inline void ShowProblemBox(platform::UserInterface& ui, const std::string& where, const std::string& message,
                           const std::string& caption) {
    ShowErrorBox(ui, "Problem in " + where + " : " + kBoxLineBreak + message, caption);
}

inline std::string Text(platform::UserInterface& ui, TextId id) { return ui.load_string(id); }

}  // namespace kalv::launcher
