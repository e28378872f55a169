#include "testdata.h"

#include <cstdlib>
#include <filesystem>

namespace kalv::testing {

TestData find_testdata(const std::string& part) {
    namespace fs = std::filesystem;
    TestData found;
    fs::path root;
    if (const char* given = std::getenv("KALV_TESTDATA"); given && *given) {
        found.demanded = true;
        root = given;
        found.explanation = "KALV_TESTDATA=" + std::string(given);
    } else {
        root = fs::path(KALV_SOURCE_DIR).parent_path() / "shared" / "testdata";
        found.explanation = "beside the checkout (" + root.string() + "; KALV_TESTDATA is not set)";
    }
    std::error_code ignored;
    if (fs::is_directory(root / part, ignored)) found.dir = (root / part).string();
    return found;
}

std::string testdata_absent(const TestData& data) {
    return "*** shared test data absent: no folder found " + data.explanation +
           ". Set KALV_TESTDATA to the shared testdata folder to run these tests. ***";
}

}  // namespace kalv::testing
