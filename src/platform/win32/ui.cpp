#include "platform/win32/win32_platform.h"

#include "core/errors.h"

namespace kalv::platform {

// Scaffolding: replaced by the real backend.
BoxAnswer Win32Platform::message_box(const std::string&, const std::string&, BoxButtons, BoxIcon) { throw Error("message_box: not built"); }
void Win32Platform::set_cursor(Cursor) { throw Error("set_cursor: not built"); }
void Win32Platform::process_messages() { throw Error("process_messages: not built"); }

}  // namespace kalv::platform
