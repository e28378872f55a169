// The extraction driver on archives from crafted bytes: choice of entries, paths,
// overwrite rules, passwords and their check bytes, CRC checks, decoder outcomes,
// progress, and what is left on disk when an entry or the whole operation fails.
// Over 500 lines: one fixture's cases, one driver rule each, kept side by side.
#include <gtest/gtest.h>

#include "core/dos_time.h"
#include "core/errors.h"
#include "failure.h"
#include "files.h"
#include "recording_platform.h"
#include "unzip/unzipper.h"
#include "zip_craft.h"

namespace kalv::unzip {
namespace {

using namespace kalv::testing;

class ZipExtract : public ::testing::Test {
protected:
    ZipExtract() : zip(fake) {
        zip.OverwriteMode = UZOverwriteMode::Always;
        zip.SetDestDir(out());
        zip.OnSkippingFile = [this](UnZipper&, SkipReason r, const std::string& name, int) {
            skipped.push_back(name + ": " + skip_reason_text(r));
        };
        zip.OnBadCRC = [this](UnZipper&, uint32_t calc, uint32_t stored, int) { bad_crcs.push_back({calc, stored}); };
    }

    std::string out() const { return dir.file("out"); }
    std::string out(const std::string& name) const { return native(dir.file("out") + "/" + name); }

    int extract(const std::vector<CraftEntry>& entries, const CraftOptions& options = {}) {
        write_file(dir.file("t.zip"), craft_zip(entries, options).bytes);
        zip.SetZipName(dir.file("t.zip"));
        return zip.UnZip();
    }

    RecordedUiPlatform fake;
    TempDir dir;
    UnZipper zip;
    std::vector<std::string> skipped;
    std::vector<std::pair<uint32_t, uint32_t>> bad_crcs;
};

TEST_F(ZipExtract, FilesListMatchesTheLastComponentAgainstTheWholeStoredPath) {
    const std::vector<CraftEntry> entries = {
        {"a.txt", "1"}, {"sub/b.txt", "2"}, {"c.dat", "3"}, {"kalvo3.ib", "4"}, {"data/KALVO3.IB", "5"}};
    zip.FilesList = {native("/elsewhere/dir/*.txt")};
    EXPECT_EQ(extract(entries), 2);
    EXPECT_EQ(read_file(out("a.txt")), "1");
    EXPECT_EQ(read_file(out("b.txt")), "2");  // without RecreateDirs, into DestDir itself
    EXPECT_FALSE(file_exists(out("c.dat")));

    zip.FilesList = {native("/launcher/dir/KALVO3.IB")};
    EXPECT_EQ(zip.UnZip(), 1);  // kalvo3.ib at the root, not data/KALVO3.IB
    EXPECT_EQ(read_file(out("kalvo3.ib")), "4");

    zip.FilesList = {"c.dat", "*.dat"};  // two lines, one entry: counted once
    int announced = -1;
    int64_t announced_bytes = -1;
    zip.OnStartUnZipInfo = [&](UnZipper&, int files, int64_t bytes, bool&) {
        announced = files;
        announced_bytes = bytes;
    };
    EXPECT_EQ(zip.UnZip(), 1);
    EXPECT_EQ(announced, 1);
    EXPECT_EQ(announced_bytes, 1);

    zip.FilesList = {"nothing*"};
    EXPECT_EQ(zip.UnZip(), 0);
    EXPECT_EQ(announced, 0);
}

TEST_F(ZipExtract, DoAllPassesOverDirectoryEntriesWithoutRecreateDirs) {
    zip.DoAll = true;
    EXPECT_EQ(extract({{"d/", ""}, {"d/x.txt", "x"}, {"y.txt", "y"}}), 2);
    EXPECT_FALSE(std::filesystem::exists(out("d")));
    zip.RecreateDirs = true;
    std::vector<std::string> started;
    zip.OnStartUnZip = [&](UnZipper&, int, const std::string& name, bool&) { started.push_back(name); };
    EXPECT_EQ(zip.UnZip(), 3);
    EXPECT_TRUE(std::filesystem::is_directory(out("d")));
    EXPECT_EQ(read_file(out("d/x.txt")), "x");
    EXPECT_EQ(started.front(), out("d/"));  // a directory entry reports its directory
}

TEST_F(ZipExtract, RecreateDirsWithRootDir) {
    zip.DoAll = true;
    zip.RecreateDirs = true;
    zip.SetRootDir(native("/DATA"));
    EXPECT_EQ(extract({{"/data/sub/x.txt", "x"}, {"/abs/y.txt", "y"}, {"rel/z.txt", "z"}}), 3);
    EXPECT_EQ(read_file(out("sub/x.txt")), "x");  // RootDir taken off, letter case ignored
    EXPECT_EQ(read_file(out("abs/y.txt")), "y");  // a stored root lands below DestDir
    EXPECT_EQ(read_file(out("rel/z.txt")), "z");
}

// Regression: a stored directory with ".." put files outside DestDir.
TEST_F(ZipExtract, ParentComponentsNeverLeaveDestDir) {
    zip.DoAll = true;
    zip.RecreateDirs = true;
    EXPECT_EQ(extract({{"../escape.txt", "e"},
                       {"a/../../escape2.txt", "e"},
                       {"ok/../inside.txt", "i"},
                       {"dots/..", "d"},
                       {"fine/f.txt", "f"}}),
              1);
    EXPECT_FALSE(file_exists(dir.file("escape.txt")));
    EXPECT_FALSE(file_exists(dir.file("escape2.txt")));
    EXPECT_EQ(read_file(out("fine/f.txt")), "f");
    ASSERT_EQ(skipped.size(), 4u);
    EXPECT_EQ(skipped[0], native("../escape.txt") + ": path leaves the destination directory");
    // Without RecreateDirs only the file name is used: it lands inside.
    zip.RecreateDirs = false;
    skipped.clear();
    EXPECT_EQ(zip.UnZip(), 4);
    EXPECT_EQ(read_file(out("escape.txt")), "e");
    EXPECT_EQ(skipped.size(), 1u);  // "dots/.." names no file
}

#ifdef _WIN32
// Regression: a stored drive without a backslash ("C:sub\") made DestDir's sibling
// ("...\outsub\") the target.
TEST_F(ZipExtract, AStoredDriveWithoutABackslashStaysBelowDestDir) {
    zip.DoAll = true;
    zip.RecreateDirs = true;
    EXPECT_EQ(extract({{"C:sub/x.txt", "x"}}), 1);
    EXPECT_EQ(read_file(out("sub/x.txt")), "x");
    EXPECT_FALSE(std::filesystem::exists(dir.file("outsub")));
}
#endif

TEST_F(ZipExtract, OverwriteModes) {
    zip.FilesList = {"a.txt"};
    std::filesystem::create_directories(out());
    write_file(out("a.txt"), "old");
    zip.OverwriteMode = UZOverwriteMode::Never;
    EXPECT_EQ(extract({{"a.txt", "new"}}), 0);
    EXPECT_EQ(read_file(out("a.txt")), "old");
    EXPECT_EQ(skipped, (std::vector<std::string>{"a.txt: exists, not overwritten"}));

    zip.OverwriteMode = UZOverwriteMode::Prompt;  // no handler: a Yes/No box
    fake.answers = {platform::BoxAnswer::No};
    EXPECT_EQ(zip.UnZip(), 0);
    ASSERT_EQ(fake.boxes.size(), 1u);
    EXPECT_EQ(fake.boxes[0].caption, "File Exists Alert");
    EXPECT_EQ(fake.boxes[0].text, "Replace existing file a.txt?");
    EXPECT_EQ(fake.boxes[0].buttons, platform::BoxButtons::YesNo);
    // Regression: the box carried a question icon; the alert has none.
    EXPECT_EQ(fake.boxes[0].icon, platform::BoxIcon::None);
    fake.answers = {platform::BoxAnswer::Yes};
    EXPECT_EQ(zip.UnZip(), 1);
    EXPECT_EQ(read_file(out("a.txt")), "new");

    zip.OnPromptForOverwrite = [&](UnZipper&, bool& overwrite, int, std::string& name) {
        overwrite = true;
        name = out("renamed.txt");
    };
    EXPECT_EQ(zip.UnZip(), 1);
    EXPECT_EQ(read_file(out("renamed.txt")), "new");

    zip.OverwriteMode = UZOverwriteMode::Always;
    write_file(out("a.txt"), "older");
    EXPECT_EQ(zip.UnZip(), 1);
    EXPECT_EQ(read_file(out("a.txt")), "new");
    EXPECT_EQ(fake.boxes.size(), 2u);
}

TEST_F(ZipExtract, AReadOnlyOutputMakesCreationFail) {
    zip.DoAll = true;
    std::filesystem::create_directories(out());
    write_file(out("a.txt"), "old");
    platform::native().set_file_attributes(out("a.txt"), 0x01, 20);
    EXPECT_EQ(failure_of<FileStreamError>([&] { extract({{"a.txt", "new"}}); }), "Cannot create file " + out("a.txt"));
    EXPECT_EQ(read_file(out("a.txt")), "old");
}

TEST_F(ZipExtract, PasswordsAndCheckBytes) {
    CraftEntry one{"one.txt", "first secret"}, two{"two.txt", "second secret"};
    one.password = two.password = "right";
    zip.DoAll = true;
    zip.Password = "wrong";
    EXPECT_EQ(extract({one, two}), 0);
    EXPECT_FALSE(file_exists(out("one.txt")));
    EXPECT_EQ(skipped, (std::vector<std::string>{"one.txt: bad password", "two.txt: bad password"}));

    int asked = 0;
    zip.OnBadPassword = [&](UnZipper&, int, std::string& password) {
        ++asked;
        password = "right";
    };
    EXPECT_EQ(zip.UnZip(), 2);
    EXPECT_EQ(asked, 1);  // the new password stays for the second entry
    EXPECT_EQ(zip.Password, "right");
    EXPECT_EQ(read_file(out("two.txt")), "second secret");
}

TEST_F(ZipExtract, WithADataDescriptorTheTimeIsTheCheckByte) {
    CraftEntry e{"d.txt", "descriptor"};
    e.flags = 8;
    e.password = "pw";
    e.dos_time = 0x52CF7A00;  // the time's high byte 0x7A differs from the CRC's
    zip.DoAll = true;
    zip.Password = "pw";
    EXPECT_EQ(extract({e}), 1);
    EXPECT_EQ(read_file(out("d.txt")), "descriptor");
    // Regression: the byte was taken from the time after its hour was clamped to 24,
    // so hour 25 (0xCF..) rejected the right password.
    e.dos_time = 0x52CFCF00;
    EXPECT_EQ(extract({e}), 1);
    // Checked against the CRC's byte instead, the header check would fail.
    e.flags = 0;
    CraftEntry lying = e;
    lying.flags = 8;
    Crafted c = craft_zip({e});
    c.bytes[6] |= 8;  // local flags
    c.bytes[c.central_offsets[0] + 8] |= 8;
    write_file(dir.file("t.zip"), c.bytes);
    zip.SetZipName(dir.file("u.zip"));
    zip.SetZipName(dir.file("t.zip"));
    EXPECT_EQ(zip.UnZip(), 0);
}

TEST_F(ZipExtract, AnUnencryptedEntryIgnoresThePassword) {
    zip.DoAll = true;
    zip.Password = "whatever";
    EXPECT_EQ(extract({{"p.txt", "plain"}}), 1);
    EXPECT_EQ(read_file(out("p.txt")), "plain");
}

TEST_F(ZipExtract, ACrcMismatchLeavesNoFile) {
    CraftEntry e{"c.txt", "content"};
    e.crc = 0x12345678;
    zip.DoAll = true;
    EXPECT_EQ(extract({e, {"ok.txt", "fine"}}), 1);
    EXPECT_FALSE(file_exists(out("c.txt")));
    ASSERT_EQ(bad_crcs.size(), 1u);
    EXPECT_EQ(bad_crcs[0].second, 0x12345678u);
    EXPECT_EQ(bad_crcs[0].first, crc32_of(reinterpret_cast<const uint8_t*>("content"), 7));
    // Encrypted, it is a bad password (the header check passes 1 time in 256).
    e.password = "pw";
    zip.Password = "pw";
    bad_crcs.clear();
    EXPECT_EQ(extract({e}), 0);
    EXPECT_TRUE(bad_crcs.empty());
    EXPECT_EQ(skipped.back(), "c.txt: bad password");
    EXPECT_FALSE(file_exists(out("c.txt")));
}

TEST_F(ZipExtract, ACrcMismatchOfAnEncryptedEntryAsksForAnotherPasswordOnce) {
    CraftEntry e{"c.txt", "content"};
    e.crc = 0x12345678;  // the header check passes (it uses this CRC), the data fail
    e.password = "pw";
    zip.Password = "pw";
    zip.DoAll = true;
    std::vector<std::string> offered;
    zip.OnBadPassword = [&](UnZipper&, int, std::string& password) {
        offered.push_back(password);
        password = "other";
    };
    EXPECT_EQ(extract({e}), 0);
    // After the CRC: "pw" -> "other" (retry); the retry's header check: "other" stays.
    EXPECT_EQ(offered, (std::vector<std::string>{"pw", "other"}));
    EXPECT_EQ(skipped, (std::vector<std::string>{"c.txt: bad password"}));
    EXPECT_FALSE(file_exists(out("c.txt")));
}

TEST_F(ZipExtract, StopNowAndSkip) {
    zip.DoAll = true;
    zip.OnStartUnZipInfo = [](UnZipper&, int, int64_t, bool& stop) { stop = true; };
    // Regression: the count of chosen entries came back although nothing was extracted.
    EXPECT_EQ(extract({{"a.txt", "a"}, {"b.txt", "b"}}), 0);
    EXPECT_FALSE(file_exists(out("a.txt")));
    zip.OnStartUnZipInfo = nullptr;
    zip.OnStartUnZip = [](UnZipper&, int index, const std::string&, bool& skip) { skip = index == 0; };
    // Regression: a skipped entry left an empty file (truncating one that was there)
    // and was still counted as extracted.
    write_file(out("a.txt"), "kept");
    EXPECT_EQ(zip.UnZip(), 1);
    EXPECT_EQ(read_file(out("a.txt")), "kept");
    EXPECT_EQ(read_file(out("b.txt")), "b");
}

// Regression: the output was created over the existing file, so an entry that failed
// its CRC, its password or its data left nothing where the old file had been.
TEST_F(ZipExtract, AFailedEntryLeavesTheFileItWouldReplaceAsItWas) {
    CraftEntry bad_crc{"a.txt", "new"}, wrong_password{"a.txt", "new"}, bad_data{"a.txt", "new"};
    bad_crc.crc = 0x12345678;
    wrong_password.password = "right";
    bad_data.method = 8;
    bad_data.raw = "\x07";  // a final block of the reserved type 3 (RFC 1951 3.2.3)
    zip.DoAll = true;
    zip.Password = "wrong";
    std::filesystem::create_directories(out());
    for (const CraftEntry& failing : {bad_crc, wrong_password, bad_data}) {
        write_file(out("a.txt"), "old");
        EXPECT_EQ(extract({failing}), 0);
        EXPECT_EQ(read_file(out("a.txt")), "old");
        EXPECT_FALSE(file_exists(out("a.txt.partial")));
    }
    EXPECT_EQ(extract({{"a.txt", "new"}}), 1);
    EXPECT_EQ(read_file(out("a.txt")), "new");
    EXPECT_FALSE(file_exists(out("a.txt.partial")));
}

// Regression: an empty destination put "x.txt" at "/x.txt" and, with RecreateDirs, a
// stored "etc/" into "/etc"; it is the current directory.
TEST_F(ZipExtract, AnEmptyDestinationIsTheCurrentDirectory) {
    std::filesystem::create_directories(out());
    const std::filesystem::path before = std::filesystem::current_path();
    std::filesystem::current_path(out());
    zip.SetDestDir("");
    zip.DoAll = true;
    zip.RecreateDirs = true;
    const int count = extract({{"kalv-x.txt", "x"}, {"kalv-etc/y", "y"}, {"/kalv-abs/z", "z"}});
    std::filesystem::current_path(before);
    EXPECT_EQ(count, 3);
    EXPECT_EQ(read_file(out("kalv-x.txt")), "x");
    EXPECT_EQ(read_file(out("kalv-etc/y")), "y");
    EXPECT_EQ(read_file(out("kalv-abs/z")), "z");
}

// Regression: names flagged UTF-8 (as jars and wheels write them) were read as code
// page 437, and on POSIX a stored "\" made a file named "d\e\f.txt".
TEST_F(ZipExtract, UtfEightNamesAndBackslashesFromAnywhere) {
    CraftEntry utf8{"h\xC3\xA9llo_\xE6\x97\xA5.txt", "u"}, dos{"d\\e\\f.txt", "f"};
    utf8.flags = 0x800;
    zip.DoAll = true;
    zip.RecreateDirs = true;
    EXPECT_EQ(extract({utf8, dos}), 2);
#ifdef _WIN32
    EXPECT_EQ(read_file(out("h\xE9llo__.txt")), "u");  // code page 1252 has the e acute, not the CJK letter
#else
    EXPECT_EQ(read_file(out("h\xC3\xA9llo_\xE6\x97\xA5.txt")), "u");
#endif
    EXPECT_EQ(read_file(out("d/e/f.txt")), "f");
}

// Regression: entries whose data run over the following entries' headers (the
// overlapping-entry bomb: 29 KB that extract to 2 GB) were extracted in full.
TEST_F(ZipExtract, OverlappingEntriesAreRefusedBeforeAnythingIsWritten) {
    Crafted c = craft_zip({{"a.txt", std::string(100, 'a')}, {"b.txt", "b"}});
    c.bytes[c.central_offsets[0] + 20] = char(200);  // a's compressed size runs into b
    write_file(dir.file("t.zip"), c.bytes);
    zip.SetZipName(dir.file("t.zip"));
    zip.DoAll = true;
    EXPECT_THROW(zip.UnZip(), OverlappedEntries);
    EXPECT_FALSE(std::filesystem::exists(out()));
}

TEST_F(ZipExtract, ATestPassChecksEveryEntryAndWritesNothing) {
    CraftEntry bad{"b.txt", "b"}, unknown{"u.bin", "u"};
    bad.crc = 1;
    unknown.method = 19;  // no decoder (99, WinZip AES, is named as such)
    zip.DoAll = true;
    zip.RecreateDirs = true;
    zip.TestMode = true;
    EXPECT_EQ(extract({{"sub/a.txt", "a"}, bad, unknown, {"c.txt", "c"}}), 2);
    EXPECT_FALSE(std::filesystem::exists(out())) << "not even the destination folder";
    EXPECT_EQ(bad_crcs.size(), 2u);  // the unknown method's too: nothing decoded, CRC 0
    EXPECT_TRUE(skipped.empty());
    EXPECT_TRUE(fake.boxes.empty()) << "nobody may be there to answer a box";
}

TEST_F(ZipExtract, CompressedInputPumpsMessagesBeforeEachBlock) {
    // A Deflate stream of one final stored block (RFC 1951 3.2.4) of 40000 bytes:
    // 40005 compressed bytes are read as blocks of 16000, 16000 and 8005.
    CraftEntry e{"d.bin", pseudo_random_bytes(40000, 9)};
    e.method = 8;
    std::string raw = "\x01";
    put16(raw, 40000);
    put16(raw, uint16_t(~40000));
    e.raw = raw + e.data;
    zip.DoAll = true;
    EXPECT_EQ(extract({e}), 1);
    EXPECT_EQ(read_file(out("d.bin")), e.data);
    EXPECT_EQ(fake.pumps, 3);
    zip.DoProcessMessages = false;
    EXPECT_EQ(zip.UnZip(), 1);
    EXPECT_EQ(fake.pumps, 3);
}

TEST_F(ZipExtract, DataLongerThanItsRecordedSizeIsCutAndFails) {
    CraftEntry e{"long.txt", "short"};
    e.raw = std::string("short and then some");
    zip.DoAll = true;
    EXPECT_EQ(extract({e}), 0);
    EXPECT_FALSE(file_exists(out("long.txt")));
}

TEST_F(ZipExtract, EmptyEntryAndDates) {
    CraftEntry empty{"empty.bin", ""}, dated{"dated.txt", "d"};
    dated.dos_time = pack_dos({2019, 3, 4, 5, 6, 8});
    zip.DoAll = true;
    EXPECT_EQ(extract({empty, dated}), 2);
    EXPECT_EQ(read_file(out("empty.bin")), "");
    EXPECT_EQ(platform::native().file_age(out("empty.bin")), int32_t(empty.dos_time));
    EXPECT_EQ(platform::native().file_age(out("dated.txt")), int32_t(dated.dos_time));
}

TEST_F(ZipExtract, StoredBlocksProgressAndNoPumping) {
    CraftEntry e{"big.bin", pseudo_random_bytes(40000, 7)};
    e.password = "pw";
    zip.Password = "pw";
    zip.DoAll = true;
    std::vector<int> file_percent, total_percent;
    zip.OnFilePercentDone = [&](UnZipper&, int p) { file_percent.push_back(p); };
    zip.OnTotalPercentDone = [&](UnZipper&, int p) { total_percent.push_back(p); };
    EXPECT_EQ(extract({e, {"small", std::string(10000, 's')}}), 2);
    EXPECT_EQ(read_file(out("big.bin")), e.data);
    EXPECT_EQ(file_percent, (std::vector<int>{40, 80, 100, 100}));  // 16000, 16000, 8000; then 10000
    EXPECT_EQ(total_percent, (std::vector<int>{32, 64, 80, 100}));
    EXPECT_EQ(fake.pumps, 0);  // stored entries are copied without message handling
}

// Stored entries go to the file in runs of blocks, decoded ones in pieces of the
// decoder's window; either way the size limit stops the entry at the first 16000-byte
// block that would pass its recorded size, with the events and the CRC of the blocks
// before it.
TEST_F(ZipExtract, TheSizeLimitStopsAtTheFirstBlockPastTheRecordedSize) {
    const std::string bytes = pseudo_random_bytes(40000, 11);
    std::string deflated = "\x01";  // one final stored block (RFC 1951 3.2.4)
    put16(deflated, 40000);
    put16(deflated, uint16_t(~40000));
    deflated += bytes;
    std::vector<int> file_percent;
    zip.OnFilePercentDone = [&](UnZipper&, int p) { file_percent.push_back(p); };
    zip.DoAll = true;
    for (const uint16_t method : {uint16_t{0}, uint16_t{8}}) {
        SCOPED_TRACE(method);
        CraftEntry e{"long.bin", bytes.substr(0, 20000)};  // the size recorded: 20000
        e.method = method;
        e.raw = method == 0 ? bytes : deflated;
        file_percent.clear();
        bad_crcs.clear();
        EXPECT_EQ(extract({e}), 0);
        EXPECT_EQ(file_percent, (std::vector<int>{80}));  // 16000 of 20000; a second block would pass it
        ASSERT_EQ(bad_crcs.size(), 1u);
        EXPECT_EQ(bad_crcs[0].first, crc32_of(reinterpret_cast<const uint8_t*>(bytes.data()), 16000));
        EXPECT_FALSE(file_exists(out("long.bin")));
    }
}

// Regression: an unknown method was skipped with a reason of its own. It decodes
// nothing, and the CRC check judges that empty output: OnBadCRC with CalcCRC 0, or,
// for an entry stored with CRC 0, an extracted empty file.
TEST_F(ZipExtract, AnUnknownMethodShowsTheBoxAndTheCrcCheckJudgesTheEmptyOutput) {
    CraftEntry e{"m9.bin", "x"}, empty{"e9.bin", ""};
    e.method = empty.method = 9;
    e.raw = empty.raw = std::string("whatever");
    zip.DoAll = true;
    EXPECT_EQ(extract({e, empty}), 1);
    ASSERT_EQ(fake.boxes.size(), 2u);
    EXPECT_EQ(fake.boxes[0].caption, "Zip Error");
    EXPECT_EQ(fake.boxes[0].text, "Unknown Compression Method");
    EXPECT_TRUE(skipped.empty());
    EXPECT_EQ(bad_crcs, (std::vector<std::pair<uint32_t, uint32_t>>{{0, crc32_of(reinterpret_cast<const uint8_t*>("x"), 1)}}));
    EXPECT_FALSE(file_exists(out("m9.bin")));
    EXPECT_EQ(read_file(out("e9.bin")), "");
}

// Regression: an encrypted entry of an unknown method lost the second chance that
// every encrypted entry failing its CRC check has.
TEST_F(ZipExtract, AnEncryptedEntryOfAnUnknownMethodIsAskedForAnotherPassword) {
    CraftEntry e{"m9.bin", "secret"};
    e.method = 9;
    e.raw = std::string("whatever");
    e.password = "pw";
    zip.Password = "pw";
    zip.DoAll = true;
    std::vector<std::string> offered;
    zip.OnBadPassword = [&](UnZipper&, int, std::string& password) { offered.push_back(password); };
    EXPECT_EQ(extract({e}), 0);
    EXPECT_EQ(offered, (std::vector<std::string>{"pw"}));
    EXPECT_EQ(skipped, (std::vector<std::string>{"m9.bin: bad password"}));
    EXPECT_TRUE(bad_crcs.empty());
}

// kalvtool reports problems on stderr: with a handler nobody has to press a box.
TEST_F(ZipExtract, AnOnZipProblemHandlerReportsInsteadOfTheBox) {
    CraftEntry e{"m7.bin", "x"};
    e.method = 7;  // Tokenizing: reserved, never decoded
    e.raw = std::string("whatever");
    std::vector<std::pair<ZipProblem, int>> problems;
    zip.OnZipProblem = [&](UnZipper&, ZipProblem p, int index) { problems.push_back({p, index}); };
    zip.DoAll = true;
    EXPECT_EQ(extract({{"first.txt", "1"}, e}), 1);
    EXPECT_TRUE(fake.boxes.empty());
    EXPECT_EQ(problems, (std::vector<std::pair<ZipProblem, int>>{{ZipProblem::UnknownMethod, 1}}));
    EXPECT_EQ(bad_crcs.size(), 1u);
}

// A Deflate stream that decodes to more than the recorded size: the 16000-byte
// blocks that fit are written, the first that does not ends decoding as a normal
// end, and the CRC check judges what was written (here the CRC of those blocks).
TEST_F(ZipExtract, ADeflateEntryLongerThanItsSizeKeepsTheBlocksThatFit) {
    const std::string payload = pseudo_random_bytes(40000, 3);
    std::string stream = {'\x01', char(40000 & 0xFF), char(40000 >> 8), char(~40000 & 0xFF), char((~40000 >> 8) & 0xFF)};
    stream += payload;  // RFC 1951 3.2.4: one final stored block
    CraftEntry e{"long.bin", payload.substr(0, 32000)};
    e.method = 8;
    e.raw = stream;
    std::vector<int> percent;
    zip.OnFilePercentDone = [&](UnZipper&, int p) { percent.push_back(p); };
    zip.DoAll = true;
    EXPECT_EQ(extract({e}), 1);
    EXPECT_EQ(read_file(out("long.bin")), payload.substr(0, 32000));
    EXPECT_EQ(percent, (std::vector<int>{50, 100}));
    EXPECT_TRUE(bad_crcs.empty());
}

TEST_F(ZipExtract, ADecoderThatGivesUpLeavesNoFile) {
    CraftEntry e{"bad.bin", "anything"};
    e.method = 8;
    e.raw = std::string("\xFF\xFF\xFF\xFF", 4);  // a final block of the reserved type 3
    zip.DoAll = true;
    EXPECT_EQ(extract({e}), 0);
    EXPECT_FALSE(file_exists(out("bad.bin")));
}

// Regression: a failure inside an entry left its partial file behind, which the
// launcher then took for a good "KALVO3.IB" on every later run.
TEST_F(ZipExtract, AFailureLeavesNoPartialOutput) {
    // A reduced entry whose data are cut short in the archive: the decoder asks for
    // more input than the file holds.
    CraftEntry e{"KALVO3.IB", std::string(200000, 'q')};
    e.method = 2;
    // 256 empty follower sets (6 zero bits each), then every byte raw.
    e.raw = std::string(192, '\0') + std::string(39808, 'q');
    const Crafted whole = craft_zip({e});
    // Keep a readable directory after the cut: central record, then end record.
    std::string bytes = whole.bytes.substr(0, whole.local_offsets[0] + 30 + 9 + 20000);
    const size_t central = bytes.size();
    bytes += whole.bytes.substr(whole.central_start, whole.end_offset - whole.central_start);
    std::string end = whole.bytes.substr(whole.end_offset);
    for (int k = 0; k < 4; ++k) end[16 + k] = char((central >> (8 * k)) & 0xFF);
    bytes += end;
    write_file(dir.file("t.zip"), bytes);
    zip.SetZipName(dir.file("t.zip"));
    zip.FilesList = {"KALVO3.IB"};
    EXPECT_EQ(failure_of<FatalUnzipError>([&] { zip.UnZip(); }), "Premature end of file reached");
    EXPECT_FALSE(file_exists(out("KALVO3.IB")));
    EXPECT_GE(fake.pumps, 1);  // compressed input pumps messages before each block

    // A failure from an event handler is no different.
    zip.FilesList.clear();
    zip.DoAll = true;
    zip.OnFilePercentDone = [](UnZipper&, int) { throw Error("stop"); };
    EXPECT_THROW(extract({{"half.bin", std::string(20000, 'h')}}), Error);
    EXPECT_FALSE(file_exists(out("half.bin")));
}

#ifndef _WIN32
// Without a GUI nobody can answer a "?": each form fails as a cancel would, with its
// own text, and the property keeps its value.
TEST(QuestionMarkWithoutGui, FailsAsACancel) {
    UnZipper zipper{platform::native()};
    zipper.SetZipName("/somewhere/pack.zip");
    zipper.SetDestDir("/somewhere/out");
    const struct {
        std::function<void()> set;
        const char* failure;
    } cases[] = {
        {[&] { zipper.SetZipName("/tmp/?"); }, "User canceled setting zip file name."},
        {[&] { zipper.SetDestDir("?"); }, "User canceled Set Desination Directory"},
    };
    for (const auto& c : cases) EXPECT_EQ(failure_of<UserCanceled>(c.set), c.failure);
    EXPECT_EQ(zipper.ZipName(), "/somewhere/pack.zip");
    EXPECT_EQ(zipper.DestDir(), "/somewhere/out");
}
#endif

}  // namespace
}  // namespace kalv::unzip
