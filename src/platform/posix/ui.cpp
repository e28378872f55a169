#include "platform/posix/posix_platform.h"

#include "core/errors.h"

namespace kalv::platform {

// Scaffolding: replaced by the real backend.
BoxAnswer PosixPlatform::message_box(const std::string&, const std::string&, BoxButtons, BoxIcon) { throw Error("message_box: not built"); }
void PosixPlatform::set_cursor(Cursor) { throw Error("set_cursor: not built"); }
void PosixPlatform::process_messages() { throw Error("process_messages: not built"); }

}  // namespace kalv::platform
