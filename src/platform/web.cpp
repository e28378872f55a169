// What both HTTP backends share.
#include "platform/web.h"

#include "core/text.h"

namespace kalv::platform {

bool IsWebLocation(std::string_view location) {
    // RFC 3986 3.1: the scheme is matched without regard to case. A share path never
    // holds "://", so nothing that names a file is mistaken for a URL.
    const std::string start = lower_ascii(std::string(location.substr(0, 8)));
    return start.rfind("http://", 0) == 0 || start.rfind("https://", 0) == 0;
}

}  // namespace kalv::platform
