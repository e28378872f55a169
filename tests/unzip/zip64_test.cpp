// ZIP64 (APPNOTE 4.3.14, 4.3.15, 4.5.3) on crafted archives: which values come from
// the ZIP64 records and extra fields, the damaged ones that must fail with a ZIP64
// message, and an archive that lies beyond 4 GiB in a sparse file. And archives with
// a self-extractor's stub in front, crafted and made by Info-ZIP zip, with their
// offsets adjusted (zip -A) or not, against Info-ZIP unzip.
#include <gtest/gtest.h>

#include <fstream>

#include "core/errors.h"
#include "failure.h"
#include "files.h"
#include "recording_platform.h"
#include "unzip/unzipper.h"
#include "zip_craft.h"

namespace kalv::unzip {
namespace {

using namespace kalv::testing;

constexpr uint8_t kSizesAndOffset = kZip64Uncompressed | kZip64Compressed | kZip64Offset;

void set32(std::string& bytes, size_t at, uint32_t v) {
    std::string le;
    put32(le, v);
    bytes.replace(at, 4, le);
}

void set64(std::string& bytes, size_t at, uint64_t v) {
    set32(bytes, at, uint32_t(v));
    set32(bytes, at + 4, uint32_t(v >> 32));
}

// A ZIP64 extended information field holding `eights` (APPNOTE 4.5.3).
std::string zip64_field(std::initializer_list<uint64_t> eights) {
    std::string field;
    put16(field, 0x0001);
    put16(field, uint16_t(8 * eights.size()));
    for (const uint64_t v : eights) {
        put32(field, uint32_t(v));
        put32(field, uint32_t(v >> 32));
    }
    return field;
}

// A self-extractor's stub: an executable's first bytes, then a stray local header
// and its entry (an archive without its directory) that a scan from the front would
// take for the archive's first entry.
std::string self_extractor_stub() {
    const std::string stray = craft_zip({{"stub-entry.txt", "not in the archive"}}).bytes;
    return "MZ" + pseudo_random_bytes(3000, 5) + stray.substr(0, stray.size() - EndOfCentralDirectoryRecord::kSize) +
           std::string(500, '\0');
}

class Zip64 : public ::testing::Test {
protected:
    Zip64() : zip(fake) {
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
    std::string read_failure(const std::string& bytes) {
        return failure_of<BadZipFile>([&] { test(bytes); });
    }

    RecordedUiPlatform fake;
    TempDir dir;
    UnZipper zip;
};

// A plain entry, then an encrypted one (its compressed size 12 more than its size)
// whose escaped fields go into its ZIP64 field.
std::vector<CraftEntry> two_entries(uint8_t fields) {
    CraftEntry plain{"plain.txt", "plain data"}, wide{"wide.txt", std::string(300, 'w')};
    wide.password = "pw";
    wide.zip64 = fields;
    return {plain, wide};
}

// Only the escaped fields are in the ZIP64 field, in APPNOTE's order: a reader that
// takes them from fixed places, or all of them, reads one as another.
TEST_F(Zip64, ValuesComeFromTheEscapedFieldsInOrder) {
    const struct {
        const char* why;
        uint8_t fields;
        bool zip64_end;
    } cases[] = {
        {"both sizes and the offset, as zip -fz writes them", kSizesAndOffset, true},
        {"the uncompressed size alone, as zip -fz writes an entry from stdin", kZip64Uncompressed, true},
        {"the compressed size alone", kZip64Compressed, false},
        {"the offset alone", kZip64Offset, false},
        {"the disk after the three others", kSizesAndOffset | kZip64Disk, true},
    };
    for (const auto& c : cases) {
        CraftOptions o;
        o.zip64_end = c.zip64_end;
        const Crafted a = craft_zip(two_entries(c.fields), o);
        EXPECT_EQ(test(a.bytes), 2) << c.why;
        ASSERT_EQ(zip.EntryCount(), 2) << c.why;
        const ZipHeaderInfo& wide = zip.Entry(1);
        EXPECT_EQ(wide.UncompressedSize, 300) << c.why;
        EXPECT_EQ(wide.CompressedSize, 312) << c.why;
        EXPECT_EQ(wide.RelativeOffset, a.local_offsets[1]) << c.why;
        EXPECT_EQ(wide.DiskNumberStart, 0) << c.why;
        EXPECT_TRUE(wide.Zip64) << c.why;
        EXPECT_FALSE(zip.Entry(0).Zip64) << c.why;
        EXPECT_EQ(zip.EndRecord().TotalEntries, 2u) << c.why;
        EXPECT_EQ(zip.EndRecord().CentralStart, a.central_start) << c.why;
        EXPECT_FALSE(zip.LocalScanned()) << c.why;
    }
}

// The end record's fields hold their escapes, or some of them, or a locator is there
// whose record is not needed, or missing where it is.
TEST_F(Zip64, TheEndRecordTakesEachEscapedFieldFromTheZip64Record) {
    const struct {
        const char* why;
        bool zip64_end;
        void (*damage)(Crafted&);
    } cases[] = {
        {"counts, size and offset escaped", true, [](Crafted&) {}},
        {"only the count escaped", true,
         [](Crafted& a) {
             set32(a.bytes, a.end_offset + 12, uint32_t(a.zip64_end_offset - a.central_start));
             set32(a.bytes, a.end_offset + 16, uint32_t(a.central_start));
         }},
        {"nothing escaped, and the locator points nowhere", true,
         [](Crafted& a) {
             a.bytes.replace(a.end_offset + 8, 4, "\x02\x00\x02\x00", 4);
             set32(a.bytes, a.end_offset + 12, uint32_t(a.zip64_end_offset - a.central_start));
             set32(a.bytes, a.end_offset + 16, uint32_t(a.central_start));
             set64(a.bytes, a.locator_offset + 8, 1u << 30);
         }},
        // Info-ZIP zip writing to a pipe escapes the offset and writes no ZIP64 records:
        // the directory ends right before the end record.
        {"the offset escaped without a locator", false,
         [](Crafted& a) { set32(a.bytes, a.end_offset + 16, 0xFFFFFFFF); }},
    };
    for (const auto& c : cases) {
        CraftOptions o;
        o.zip64_end = c.zip64_end;
        Crafted a = craft_zip(two_entries(kSizesAndOffset), o);
        c.damage(a);
        EXPECT_EQ(test(a.bytes), 2) << c.why;
        EXPECT_EQ(zip.EndRecord().TotalEntries, 2u) << c.why;
        EXPECT_EQ(zip.EndRecord().CentralStart, a.central_start) << c.why;
        EXPECT_FALSE(zip.LocalScanned()) << c.why;
    }
}

// Damage to a ZIP64 record or field fails the archive with a message that names the
// rule, never as a CRC failure, a crash or an endless read; the directory is reset.
TEST_F(Zip64, DamagedZip64RecordsFailWithTheirRule) {
    const std::string split = "ZIP64 archive split over several disks is not supported";
    const struct {
        const char* why;
        uint8_t fields;
        std::optional<std::string> central_extra;
        void (*damage)(Crafted&);
        std::string message;
    } cases[] = {
        {"a field too short for the escaped sizes", kZip64Uncompressed | kZip64Compressed, zip64_field({300}),
         [](Crafted&) {}, "ZIP64 extended information of entry wide.txt is cut short"},
        {"a size of 2^63", kZip64Uncompressed, zip64_field({uint64_t(1) << 63}), [](Crafted&) {},
         "ZIP64 extended information of entry wide.txt holds a size or offset beyond 2^63 bytes"},
        {"an offset beyond the file", kZip64Offset, zip64_field({uint64_t(1) << 40}), [](Crafted&) {},
         "ZIP64 extended information of entry wide.txt points beyond the archive"},
        {"data running past the end of the file", kZip64Compressed, zip64_field({uint64_t(1) << 33}),
         [](Crafted&) {}, "ZIP64 extended information of entry wide.txt points beyond the archive"},
        {"an entry on disk 3", kZip64Disk, std::string("\x01\x00\x04\x00\x03\x00\x00\x00", 8), [](Crafted&) {},
         split},
        {"a locator that counts two disks", 0, std::nullopt,
         [](Crafted& a) { set32(a.bytes, a.locator_offset + 16, 2); }, split},
        {"an end record on disk 1", 0, std::nullopt,
         [](Crafted& a) { a.bytes.replace(a.end_offset + 4, 2, "\x01\x00", 2); }, split},
        {"a locator that points beyond the file", 0, std::nullopt,
         [](Crafted& a) { set64(a.bytes, a.locator_offset + 8, uint64_t(1) << 62); },
         "ZIP64 end of central directory record not found where its locator points"},
        {"a record whose size is too small", 0, std::nullopt,
         [](Crafted& a) { set64(a.bytes, a.zip64_end_offset + 4, 10); },
         "ZIP64 end of central directory record has a wrong size"},
        {"a directory offset beyond the record", 0, std::nullopt,
         [](Crafted& a) { set64(a.bytes, a.zip64_end_offset + 48, uint64_t(-2)); },
         "ZIP64 central directory runs past the ZIP64 end of central directory record"},
        {"2^40 entries in a directory of two", 0, std::nullopt,
         [](Crafted& a) { set64(a.bytes, a.zip64_end_offset + 32, uint64_t(1) << 40); },
         "ZIP64 end of central directory record counts more entries than its directory holds"},
        // The record is right before its locator, but the directory it names is not the
        // same bytes further on: no shift fits every record.
        {"a stub in front and the directory cut short", 0, std::nullopt,
         [](Crafted& a) { a.bytes = self_extractor_stub() + a.bytes.erase(a.zip64_end_offset - 10, 10); },
         "ZIP64 end of central directory record not found where its locator points"},
        {"a stub in front and a field too short", kZip64Uncompressed | kZip64Compressed, zip64_field({300}),
         [](Crafted& a) { a.bytes = self_extractor_stub() + a.bytes; },
         "ZIP64 extended information of entry wide.txt is cut short"},
        {"a stub in front and the record's directory offset 1 off", 0, std::nullopt,
         [](Crafted& a) {
             set64(a.bytes, a.zip64_end_offset + 48, a.central_start + 1);
             a.bytes = self_extractor_stub() + a.bytes;
         },
         "ZIP64 end of central directory record not found where its locator points"},
    };
    for (const auto& c : cases) {
        std::vector<CraftEntry> entries = two_entries(c.fields);
        entries[1].central_extra = c.central_extra;
        CraftOptions o;
        o.zip64_end = true;
        Crafted a = craft_zip(entries, o);
        c.damage(a);
        EXPECT_EQ(read_failure(a.bytes), c.message) << c.why;
        EXPECT_EQ(zip.ZipName(), "") << c.why;
    }
}

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

// The local-header scan (no end record) reads the local ZIP64 field, steps over a
// ZIP64 data descriptor (24 bytes, APPNOTE 4.3.9.2), and checks a size before it
// adds it to a position.
TEST_F(Zip64, TheScanReadsZip64LocalHeaders) {
    std::vector<CraftEntry> entries = two_entries(kSizesAndOffset);
    entries[0].zip64 = kSizesAndOffset;
    Crafted a = craft_zip(entries);
    std::string no_end = a.bytes.substr(0, a.central_start);
    no_end[6] |= 0x08;  // the first entry's CRC and sizes follow its data, too
    std::string descriptor = "PK\x07\x08" + no_end.substr(14, 4);
    put32(descriptor, 10), put32(descriptor, 0), put32(descriptor, 10), put32(descriptor, 0);
    no_end.insert(a.local_offsets[1], descriptor);
    zip.IncompleteZipMode = IncompleteZipMode::izAssumeBad;
    EXPECT_EQ(test(no_end), 2);
    EXPECT_TRUE(zip.LocalScanned());
    ASSERT_EQ(zip.EntryCount(), 2);
    EXPECT_EQ(zip.Entry(1).CompressedSize, 312);
    // After the second header's 30 bytes and name: the field's ID, size and uncompressed size.
    set64(no_end, a.local_offsets[1] + descriptor.size() + 30 + 8 + 12, uint64_t(1) << 62);
    EXPECT_EQ(read_failure(no_end), "ZIP64 extended information of entry wide.txt points beyond the archive");
}

// Every offset beyond 4 GiB: the entries, the directory with its comments, the ZIP64
// end record and the archive comment. The file is sparse: 4 GiB of hole, then the archive.
TEST_F(Zip64, AnArchiveBeyond4GiBListsAndExtracts) {
    CraftEntry first{"first.txt", "the first entry, past 4 GiB"}, second{"sub/second.txt", std::string(40000, 's')};
    first.zip64 = second.zip64 = kSizesAndOffset;
    first.comment = "an entry comment past 4 GiB";
    second.password = "pw";
    CraftOptions o;
    o.zip64_end = true;
    o.base = (uint64_t(1) << 32) + 1000;
    o.archive_comment = "the archive comment";
    const Crafted a = craft_zip({first, second}, o);
    const std::string path = dir.file("big.zip");
    {
        std::ofstream out(path, std::ios::binary);
        out.seekp(std::streamoff(o.base));
        out.write(a.bytes.data(), std::streamsize(a.bytes.size()));
        ASSERT_TRUE(out.good());
    }
    zip.TestMode = false;
    zip.OverwriteMode = UZOverwriteMode::Always;
    zip.SetDestDir(dir.file("out"));
    zip.SetZipName(path);
    EXPECT_EQ(zip.UnZip(), 2);
    ASSERT_EQ(zip.EntryCount(), 2);
    EXPECT_EQ(zip.Entry(1).RelativeOffset, o.base + a.local_offsets[1]);
    EXPECT_EQ(zip.EndRecord().CentralStart, o.base + a.central_start);
    EXPECT_EQ(zip.EndRecord().CommentOffset, o.base + a.bytes.size() - o.archive_comment.size());
    EXPECT_EQ(zip.EntryComment(0), first.comment);
    EXPECT_EQ(zip.ArchiveComment(), o.archive_comment);
    EXPECT_EQ(read_file(dir.file("out/first.txt")), first.data);
    EXPECT_EQ(read_file(dir.file("out/second.txt")), second.data);
    if (have_tool("unzip")) {
        ASSERT_EQ(run_in(dir.path(), "unzip -qq -P pw -d theirs big.zip"), 0);
        EXPECT_EQ(read_file(dir.file("theirs/sub/second.txt")), second.data);
    }
}

// ---- a stub in front of the archive ------------------------------------------------

// With the stub's bytes counted in every offset (zip -A) the archive reads as it is;
// without, the records are found that many bytes further on than recorded, and that
// many bytes are added to every offset: the directory's, each entry's (from its ZIP64
// field too) and the ZIP64 end record's. Entries still come from the directory, never
// from the stub's stray header.
TEST_F(Zip64, AStubInFrontShiftsEveryOffsetByItsSize) {
    const std::string stub = self_extractor_stub();
    const struct {
        const char* why;
        bool zip64_end;
        uint8_t fields;
        bool adjusted;
    } cases[] = {
        {"32-bit, not adjusted", false, 0, false},
        {"32-bit, adjusted", false, 0, true},
        {"ZIP64 records and offsets in ZIP64 fields, not adjusted", true, kSizesAndOffset, false},
        {"ZIP64 records and offsets in ZIP64 fields, adjusted", true, kSizesAndOffset, true},
        {"ZIP64 records, 32-bit entries, not adjusted", true, 0, false},
        {"ZIP64 sizes, offsets in the headers, not adjusted", false, kZip64Uncompressed | kZip64Compressed, false},
    };
    for (const auto& c : cases) {
        CraftOptions o;
        o.zip64_end = c.zip64_end;
        if (c.adjusted) o.lead_in_bytes = stub;
        const Crafted a = craft_zip(two_entries(c.fields), o);
        const uint64_t prefix = c.adjusted ? 0 : stub.size();
        EXPECT_EQ(test(c.adjusted ? a.bytes : stub + a.bytes), 2) << c.why;
        ASSERT_EQ(zip.EntryCount(), 2) << c.why;
        EXPECT_EQ(zip.PrefixBytes(), prefix) << c.why;
        EXPECT_FALSE(zip.LocalScanned()) << c.why;
        EXPECT_EQ(zip.Entry(0).FileName(), "plain.txt") << c.why;
        EXPECT_EQ(zip.Entry(0).RelativeOffset, prefix + a.local_offsets[0]) << c.why;
        EXPECT_EQ(zip.Entry(1).RelativeOffset, prefix + a.local_offsets[1]) << c.why;
        EXPECT_EQ(zip.EndRecord().CentralStart, prefix + a.central_start) << c.why;
    }
}

// What is not a stub keeps its reading: bytes between the entries and the directory
// move the directory but not the entries (the first entry's header is not the same
// bytes on), so the scan reads it as before; a gap between the directory and the end
// record leaves the directory where the end record says.
TEST_F(Zip64, BytesThatMoveOnlyTheDirectoryAreNoStub) {
    const std::string gap(700, '\x55');
    for (const bool before_directory : {true, false}) {
        const Crafted a = craft_zip(two_entries(0));
        std::string bytes = a.bytes;
        bytes.insert(before_directory ? a.central_start : a.end_offset, gap);
        EXPECT_EQ(test(bytes), 2) << before_directory;
        EXPECT_EQ(zip.PrefixBytes(), 0u) << before_directory;
        EXPECT_EQ(zip.LocalScanned(), before_directory);
        EXPECT_EQ(zip.Entry(1).RelativeOffset, a.local_offsets[1]) << before_directory;
    }
}

// Archives made by Info-ZIP zip, with a stub in front, adjusted or not: every entry
// extracts to the bytes that Info-ZIP unzip -p gives (unzip reads the unadjusted ones
// with its warning "N extra bytes at beginning or within zipfile").
TEST_F(Zip64, AStubInFrontOfInfoZipArchivesReadsAsUnzipReadsIt) {
    if (!have_tool("zip") || !have_tool("unzip")) GTEST_SKIP() << "Info-ZIP zip/unzip not installed";
    const std::string stub = self_extractor_stub();
    write_file(dir.file("stub.bin"), stub);
    std::filesystem::create_directories(dir.path() / "src" / "sub");
    write_file(dir.file("src/a.txt"), "alpha\n");
    std::string text;
    for (int i = 0; i < 3000; ++i) text += "line " + std::to_string(i) + "\n";
    write_file(dir.file("src/c.txt"), text);
    write_file(dir.file("src/sub/b.bin"), pseudo_random_bytes(70000, 11));
    const std::vector<std::string> names = {"a.txt", "c.txt", "sub/b.bin"};
    const std::string files = " a.txt c.txt sub/b.bin";
    const std::string prepend = " && cat ../stub.bin ../made.zip > ../sfx.zip";
    // zip -A refuses a ZIP64 archive; an adjusted one is the adjusted 32-bit archive
    // rewritten with -fz (its files newer than their entries).
    const std::string adjusted64 = "touch -d 2020-01-01" + files + " && zip -q ../made.zip" + files + prepend +
                                   " && zip -q -A ../sfx.zip && touch" + files + " && zip -q -fz -f ";
    const struct {
        const char* why;
        std::string make;  // run in src/, leaves ../sfx.zip
        const char* password;
        bool adjusted;
        bool zip64;
    } cases[] = {
        {"32-bit, not adjusted", "zip -q ../made.zip" + files + prepend, "", false, false},
        {"32-bit, adjusted by zip -A", "zip -q ../made.zip" + files + prepend + " && zip -q -A ../sfx.zip", "",
         true, false},
        {"32-bit written to a pipe (sizes after the data), not adjusted",
         "zip -q -" + files + " | cat > ../made.zip" + prepend, "", false, false},
        {"-fz, not adjusted", "zip -q -fz ../made.zip" + files + prepend, "", false, true},
        {"-fz -P, not adjusted", "zip -q -fz -P 'pa ss' ../made.zip" + files + prepend, "pa ss", false, true},
        {"-fz, adjusted", adjusted64 + "../sfx.zip", "", true, true},
        {"-fz -P, adjusted", adjusted64 + "-P 'pa ss' ../sfx.zip", "pa ss", true, true},
    };
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        ASSERT_EQ(run_in(dir.path() / "src", "(" + c.make + ")"), 0) << c.make;
        const std::string sfx = read_file(dir.file("sfx.zip"));
        ASSERT_TRUE(sfx.size() > stub.size() && sfx.compare(0, stub.size(), stub) == 0);
        // Without an archive comment the locator, when there is one, ends 22 bytes before the end.
        const size_t locator_at = sfx.size() - EndOfCentralDirectoryRecord::kSize - Zip64EndOfCentralDirectoryLocator::kSize;
        EXPECT_EQ(sfx.compare(locator_at, 4, "PK\x06\x07") == 0, c.zip64);

        const std::string ours = dir.file("ours" + std::to_string(++n));
        zip.TestMode = false;
        zip.OverwriteMode = UZOverwriteMode::Always;
        zip.RecreateDirs = true;
        zip.Password = c.password;
        zip.SetDestDir(ours);
        EXPECT_EQ(test(sfx), 3);
        ASSERT_EQ(zip.EntryCount(), 3);
        EXPECT_EQ(zip.PrefixBytes(), c.adjusted ? 0 : stub.size());
        EXPECT_EQ(zip.Entry(0).RelativeOffset, stub.size());
        EXPECT_FALSE(zip.LocalScanned());
        // The rewrite of an adjusted archive did happen: ZIP64 fields, encryption.
        for (int i = 0; i < zip.EntryCount(); ++i) {
            EXPECT_EQ(zip.Entry(i).Zip64, c.zip64) << i;
            EXPECT_EQ(zip.Entry(i).IsEncrypted(), *c.password != '\0') << i;
        }
        for (const std::string& name : names) {
            const std::string theirs = dir.file("theirs" + std::to_string(n));
            const std::string p = *c.password ? std::string("-P '") + c.password + "' " : "";
            // Exit 1: the warning about the bytes in front.
            EXPECT_LE(run_in(dir.path(), "(unzip -p " + p + "sfx.zip '" + name + "' > '" + theirs + "')"), 1);
            const std::string reference = read_file(theirs);
            ASSERT_FALSE(reference.empty()) << name;
            EXPECT_TRUE(read_file(ours + "/" + name) == reference) << name;
        }
        std::filesystem::remove(dir.file("made.zip"));
    }
}

}  // namespace
}  // namespace kalv::unzip
