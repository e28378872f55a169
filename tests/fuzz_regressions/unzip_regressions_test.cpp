// Faults of the ZIP component found by the extraction fuzz target (fuzz_zip_extract),
// each replayed on an archive crafted to the same shape.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/errors.h"
#include "files.h"
#include "unzip/unzipper.h"
#include "zip_craft.h"

namespace kalv::unzip {
namespace {

using namespace kalv::testing;

class ExtractRegression : public ::testing::Test {
protected:
    ExtractRegression() {
        zip.OverwriteMode = UZOverwriteMode::Always;
        zip.DoAll = true;
        zip.SetDestDir(dir.file("dest"));
        zip.OnSkippingFile = [this](UnZipper&, SkipReason reason, const std::string&, int) {
            reasons.push_back(reason);
        };
    }

    int extract(const std::vector<CraftEntry>& entries) {
        write_file(dir.file("t.zip"), craft_zip(entries).bytes);
        zip.SetZipName(dir.file("t.zip"));
        return zip.UnZip();
    }

    TempDir dir;
    UnZipper zip{platform::native()};
    std::vector<SkipReason> reasons;
};

// The name ".." followed by zero bytes passed the parent-name check, which looked at
// every byte, while the OS reads a path only up to its first zero byte: "dest/..\0..."
// reached the OS as "dest/..", the folder above the destination (found with an entry
// named "..\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0"). The check judges what the OS will see.
TEST_F(ExtractRegression, NameThatIsAParentBeforeAZeroByteIsKeptInsideTheDestination) {
    const std::string name("..\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0", 17);
    int count = -1;
    EXPECT_NO_THROW(count = extract({{name, "escape"}}));
    EXPECT_EQ(count, 0);
    EXPECT_EQ(reasons, std::vector<SkipReason>{SkipReason::srOutsideDestDir});
}

// The same in a stored folder, with the folders recreated: "..\0x/" must not name
// the destination's parent either.
TEST_F(ExtractRegression, FolderThatIsAParentBeforeAZeroByteIsKeptInsideTheDestination) {
    zip.RecreateDirs = true;
    int count = -1;
    EXPECT_NO_THROW(count = extract({{std::string("..\0x/file.txt", 13), "escape"}}));
    EXPECT_EQ(count, 0);
    EXPECT_EQ(reasons, std::vector<SkipReason>{SkipReason::srOutsideDestDir});
    EXPECT_FALSE(file_exists(dir.file("file.txt")));
}

// The control: names that merely contain dots and zero bytes elsewhere still extract.
TEST_F(ExtractRegression, DotsAndZeroBytesThatNameNoParentStillExtract) {
    EXPECT_EQ(extract({{"..data", "1"}, {std::string("x\0..", 4), "2"}}), 2);
    EXPECT_TRUE(reasons.empty());
}

}  // namespace
}  // namespace kalv::unzip
