// Narrowing of a value that may truly not fit its new type (a buffer's size handed
// to an interface that counts in 32 bits): the value is refused with IntegerOverflow
// rather than cut down. Where a value fits by construction, a static_cast beside the
// reason says so instead.
#pragma once

#include <utility>

#include "core/errors.h"

namespace kalv {

template <typename To, typename From>
constexpr To checked_narrow(From value) {
    if (!std::in_range<To>(value)) throw IntegerOverflow();
    return static_cast<To>(value);
}

}  // namespace kalv
