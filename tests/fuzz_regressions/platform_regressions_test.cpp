// Faults of the platform backends found with hostile installations.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "files.h"
#include "platform/platform.h"

namespace {

namespace fs = std::filesystem;
using kalv::testing::TempDir;

// A NET.INF that is a directory made the POSIX profile reader throw the C++ library's
// read failure ("basic_filebuf::underflow error reading the file: Is a directory"), which
// escaped as "Problem in Kalv3.exe" and kept the application from starting. The profile
// API reads a file it cannot read as no file: the default comes back.
TEST(ProfileStringRegression, NetInfThatIsADirectoryGivesTheDefault) {
    TempDir dir;
    fs::create_directory(dir.file("NET.INF"));
    std::string value;
    EXPECT_NO_THROW(value = kalv::platform::native().profile_string(dir.file("NET.INF"), "DB", "Upgrade",
                                                                     "Kalvo3pack", 2048));
    EXPECT_EQ("Kalvo3pack", value);
}

// The control beside it: a readable NET.INF is still read.
TEST(ProfileStringRegression, ReadableNetInfStillGivesItsValue) {
    TempDir dir;
    std::ofstream(dir.file("NET.INF"), std::ios::binary) << "[DB]\r\nUpgrade=elsewhere\r\n";
    EXPECT_EQ("elsewhere",
              kalv::platform::native().profile_string(dir.file("NET.INF"), "DB", "Upgrade", "Kalvo3pack", 2048));
}

}  // namespace
