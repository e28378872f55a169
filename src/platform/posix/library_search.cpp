#include "platform/library_search.h"

namespace kalv::platform {

void restrict_library_search() {}

}  // namespace kalv::platform
