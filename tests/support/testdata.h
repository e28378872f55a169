// The shared test data (archives of old producers with their manifest) lives outside
// the repository, in the folder "shared/testdata" beside the checkout. A clone made
// elsewhere finds it through KALV_TESTDATA, which scripts/test.sh sets from the clone's
// origin. Never a fixed absolute path.
#pragma once

#include <optional>
#include <string>

namespace kalv::testing {

struct TestData {
    std::optional<std::string> dir;  // the part's folder, when found
    bool demanded = false;           // KALV_TESTDATA is set: a missing part is a failure
    std::string explanation;         // where it was looked for, for the test's message
};

// The folder `part` (e.g. "legacy") of the shared test data: $KALV_TESTDATA/part when
// the variable is set, else <source>/../shared/testdata/part.
TestData find_testdata(const std::string& part);

// The line a test skips with when the data is absent. Its words "shared test data
// absent" mark the test program as skipped in CTest (SKIP_REGULAR_EXPRESSION).
std::string testdata_absent(const TestData& data);

}  // namespace kalv::testing
