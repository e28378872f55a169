// Sizes and offsets of 2 GiB and more on crafted archives.
#include <gtest/gtest.h>

#include "core/errors.h"
#include "test_support.h"
#include "unzip/unzipper.h"
#include "zip_craft.h"

namespace kalv::unzip {
namespace {

using namespace kalv::unzip::testing;

void set32(std::string& bytes, size_t at, uint32_t v) {
    std::string le;
    put32(le, v);
    bytes.replace(at, 4, le);
}

class Zip64 : public ::testing::Test {
protected:
    Zip64() : guard_(fake) {
        zip.TestMode = true;  // decoded and CRC-checked, nothing written
        zip.DoAll = true;
        zip.Password = "pw";
    }

    // Reads and tests the archive; returns how many entries passed.
    int test(const std::string& bytes) {
        write_file(dir.file("t.zip"), bytes);
        zip.SetZipName("");
        zip.SetZipName(dir.file("t.zip"));
        return zip.UnZip();
    }

    // The message of the BadZipFile-family failure that reading `bytes` raises.
    std::string failure_of(const std::string& bytes) {
        try {
            test(bytes);
        } catch (const BadZipFile& e) {
            return e.what();
        }
        return "(no BadZipFile)";
    }

    RecordedUiPlatform fake;
    platform::ScopedPlatform guard_;
    TempDir dir;
    UnZipper zip;
};

// Regression: 32-bit sizes were signed, so an ordinary entry of 2 GiB or more had a
// negative size (-2147479552, or -1 for 0xFFFFFFFF, which keeps its value without a
// ZIP64 field, as Info-ZIP unzip keeps it), sorted last and lowered the total.
TEST_F(Zip64, OrdinarySizesOf2GiBAndMoreAreUnsigned) {
    Crafted a = craft_zip({{"small.txt", "12345"}, {"two.bin", "x"}, {"four.bin", "y"}});
    set32(a.bytes, a.central_offsets[1] + 24, 0x80001000);
    set32(a.bytes, a.central_offsets[2] + 24, 0xFFFFFFFF);
    int64_t total = 0;
    zip.OnStartUnZipInfo = [&](UnZipper&, int, int64_t bytes, bool& stop) {
        total = bytes;
        stop = true;
    };
    zip.SortMode = ZipSortMode::ByUnCompressedSize;
    test(a.bytes);
    ASSERT_EQ(zip.EntryCount(), 3);
    EXPECT_EQ(zip.Entry(0).UncompressedSize, 0xFFFFFFFF);
    EXPECT_EQ(zip.Entry(1).UncompressedSize, 0x80001000);
    EXPECT_EQ(zip.Entry(2).FileName(), "small.txt");
    EXPECT_EQ(total, int64_t(0xFFFFFFFF) + 0x80001000 + 5);
}

}  // namespace
}  // namespace kalv::unzip
