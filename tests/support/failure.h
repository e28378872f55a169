// The message of the failure that a piece of code raises, so that a check of the
// failure's class and text is one line.
#pragma once

#include <string>

#include "core/errors.h"

namespace kalv::testing {

// What `run` raises as an E (or a class derived from it): its message. A failure of
// another class passes through and fails the test; `none` when nothing is raised.
template <class E = Error, class Run>
std::string failure_of(Run&& run, const std::string& none = "(no failure)") {
    try {
        run();
    } catch (const E& e) {
        return e.what();
    }
    return none;
}

}  // namespace kalv::testing
