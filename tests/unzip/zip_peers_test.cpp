// Archives made by independent producers (Info-ZIP zip, 7-Zip), extracted by the
// component and by Info-ZIP unzip: the same files with the same bytes. And
// kalvtool list / extract as a user runs them. Skipped where a peer is missing.
#include <gtest/gtest.h>

#include <map>

#include <sys/wait.h>

#include "core/errors.h"
#include "files.h"
#include "zip_craft.h"
#include "unzip/unzipper.h"

namespace kalv::unzip {
namespace {

using namespace kalv::testing;
namespace fs = std::filesystem;

// Every regular file below `root`, by relative path.
std::map<std::string, std::string> tree_of(const fs::path& root) {
    std::map<std::string, std::string> files;
    if (!fs::exists(root)) return files;
    for (const auto& e : fs::recursive_directory_iterator(root))
        if (e.is_regular_file()) files[fs::relative(e.path(), root).string()] = read_file(e.path().string());
    return files;
}

struct Producer {
    const char* archive;
    const char* command;  // run in the temporary directory
    const char* password;
    const char* tool;
};

class ZipPeers : public ::testing::Test {
protected:
    void SetUp() override {
        if (!have_tool("zip") || !have_tool("unzip")) GTEST_SKIP() << "Info-ZIP zip/unzip not installed";
        fs::create_directories(dir.path() / "src" / "sub");
        write_file(dir.file("src/big.bin"), pseudo_random_bytes(70000, 11));
        write_file(dir.file("src/a.txt"), "alpha\n");
        write_file(dir.file("src/empty.txt"), "");
        write_file(dir.file("src/sub/b.txt"), std::string(33000, 'b'));
    }

    // Extracts `archive` with the component (every entry, directories recreated).
    // `count` is UnZip's result, `entries` the archive's entry count.
    std::map<std::string, std::string> ours(const std::string& archive, const std::string& password, int& count,
                                            int* entries = nullptr) {
        UnZipper zip{platform::native()};
        zip.DoProcessMessages = false;
        zip.OverwriteMode = UZOverwriteMode::Always;
        zip.DoAll = true;
        zip.RecreateDirs = true;
        zip.Password = password;
        zip.SetZipName(dir.file(archive));
        const fs::path target = dir.path() / ("ours-" + archive + "-" + password);
        zip.SetDestDir(target.string());
        count = zip.UnZip();
        if (entries) *entries = zip.EntryCount();
        return tree_of(target);
    }

    // Makes `p`'s archive, where `wrong` must be refused at the encryption header of every
    // file entry. The header is random and its one check byte (APPNOTE 6.1.6) lets 1 wrong
    // password in 256 through to the data per entry; an empty entry then has no data
    // whose CRC could fail, and extracts. Made again until Info-ZIP unzip refuses `wrong`
    // at every file entry's header (its exit code 82: no file found for a bad password).
    bool make_refusing(const Producer& p, const std::string& wrong) {
        for (int attempt = 0; attempt < 20; ++attempt) {
            fs::remove(dir.file(p.archive));  // both producers add to an archive that exists
            if (run_in(dir.path(), p.command) != 0) return false;
            if (wrong.empty() || run_in(dir.path(), "unzip -qq -t -P '" + wrong + "' " + p.archive + " -x '*/'") == 82)
                return true;
        }
        return false;
    }

    std::map<std::string, std::string> theirs(const std::string& archive, const std::string& password) {
        const fs::path target = dir.path() / ("theirs-" + archive);
        const std::string p = password.empty() ? "" : "-P '" + password + "' ";
        run_in(dir.path(), "unzip -qq -o " + p + "-d '" + target.string() + "' " + archive);
        return tree_of(target);
    }

    TempDir dir;
};

const Producer kProducers[] = {
    {"stored.zip", "cd src && zip -q -r -0 ../stored.zip .", "", "zip"},
    {"encrypted.zip", "cd src && zip -q -r -0 -P 'pa ss' ../encrypted.zip .", "pa ss", "zip"},
    {"streamed.zip", "cat src/big.bin | zip -q -0 -P streamy streamed.zip -", "streamy", "zip"},
    {"commented.zip", "cd src && printf 'entry note\\n' | zip -q -0 -c ../commented.zip a.txt && "
                      "printf 'archive note\\n.\\n' | zip -q -z ../commented.zip", "", "zip"},
    {"seven.zip", "cd src && 7z a -bd -tzip -mx=0 -mem=ZipCrypto -p7pass ../seven.zip . ", "7pass", "7z"},
    {"seven-plain.zip", "cd src && 7z a -bd -tzip -mx=0 ../seven-plain.zip . ", "", "7z"},
    // ZIP64 forced (-fz): escaped sizes and offsets with ZIP64 extra fields, a ZIP64 end
    // record and locator; from stdin with -P, a ZIP64 data descriptor (24 bytes).
    {"zip64.zip", "cd src && zip -q -r -fz ../zip64.zip .", "", "zip"},
    {"zip64-stored.zip", "cd src && zip -q -r -0 -fz ../zip64-stored.zip .", "", "zip"},
    {"zip64-encrypted.zip", "cd src && zip -q -r -fz -P 'pa ss' ../zip64-encrypted.zip .", "pa ss", "zip"},
    {"zip64-streamed.zip", "cat src/big.bin | zip -q -fz -P streamy zip64-streamed.zip -", "streamy", "zip"},
};

TEST_F(ZipPeers, SameFilesAsInfoZipUnzip) {
    for (const Producer& p : kProducers) {
        if (!have_tool(p.tool)) continue;
        const std::string wrong = *p.password ? std::string(p.password) + "x" : "";
        ASSERT_TRUE(make_refusing(p, wrong)) << p.command;
        int count = -1, entries = -1;
        const auto mine = ours(p.archive, p.password, count, &entries);
        const auto reference = theirs(p.archive, p.password);
        ASSERT_FALSE(reference.empty()) << p.archive;
        EXPECT_EQ(mine, reference) << p.archive;
        EXPECT_EQ(count, entries) << p.archive;  // every entry, directories included
        EXPECT_GE(count, int(reference.size())) << p.archive;
        // A wrong password extracts no file with content from an encrypted archive.
        if (*p.password) {
            int through = -1;
            for (const auto& [name, content] : ours(p.archive, wrong, through))
                EXPECT_TRUE(content.empty()) << p.archive << " " << name;
            EXPECT_LT(through, 2) << p.archive;  // at most 7-Zip's unencrypted directory entry
        }
    }
}

TEST_F(ZipPeers, CommentsFromInfoZip) {
    ASSERT_EQ(run_in(dir.path(), kProducers[3].command), 0);
    UnZipper zip{platform::native()};
    zip.SetZipName(dir.file("commented.zip"));
    zip.OpenArchive();
    ASSERT_EQ(zip.EntryCount(), 1);
    EXPECT_EQ(zip.EntryComment(0), "entry note");
    EXPECT_EQ(zip.ArchiveComment(), "archive note");
}

TEST_F(ZipPeers, StreamedEntriesCarryADataDescriptor) {
    ASSERT_EQ(run_in(dir.path(), kProducers[2].command), 0);
    UnZipper zip{platform::native()};
    zip.SetZipName(dir.file("streamed.zip"));
    zip.OpenArchive();
    ASSERT_EQ(zip.EntryCount(), 1);
    EXPECT_TRUE(zip.Entry(0).HasDescriptor());
    EXPECT_TRUE(zip.Entry(0).IsEncrypted());
    EXPECT_EQ(zip.Entry(0).FileName(), "-");
}

// Written to a pipe, zip -fz escapes the directory's offset but writes no ZIP64 end
// record, which Info-ZIP unzip cannot read ("missing 4294... bytes"); the directory
// ends right before the end record, and is read from there.
TEST_F(ZipPeers, Zip64WrittenToAPipe) {
    ASSERT_EQ(run_in(dir.path(), "(cat src/big.bin | zip -q -fz - - | cat > piped64.zip)"), 0);
    int count = 0, entries = 0;
    const auto mine = ours("piped64.zip", "", count, &entries);
    EXPECT_EQ(count, 1);
    EXPECT_EQ(mine, (std::map<std::string, std::string>{{"-", read_file(dir.file("src/big.bin"))}}));
}

#ifndef _WIN32
TEST_F(ZipPeers, UnixPermissionsAndDatesComeBack) {
    fs::permissions(dir.path() / "src" / "a.txt", fs::perms(0750));
    platform::native().set_file_dos_time(dir.file("src/a.txt"), 0x52CF6000);
    ASSERT_EQ(run_in(dir.path(), "cd src && zip -q -0 ../perm.zip a.txt"), 0);
    int count = 0;
    ours("perm.zip", "", count);
    const std::string out = (dir.path() / "ours-perm.zip-" / "a.txt").string();
    EXPECT_EQ(unsigned(fs::status(out).permissions()) & 0777, 0750u);
    EXPECT_EQ(platform::native().file_age(out), int32_t(0x52CF6000));
}
#endif

// ---- kalvtool as a user runs it --------------------------------------------------

struct ToolRun {
    int status;
    std::string out, err;
};

ToolRun kalvtool(const TempDir& dir, const std::string& args) {
    const std::string line = std::string("cd '") + dir.path().string() + "' && '" + KALVTOOL_PATH + "' " + args +
                             " >stdout.txt 2>stderr.txt";
    const int status = std::system(line.c_str());
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, read_file(dir.file("stdout.txt")),
            read_file(dir.file("stderr.txt"))};
}

TEST_F(ZipPeers, KalvtoolListAndExtract) {
    ASSERT_EQ(run_in(dir.path(), "cd src && zip -q -r -0 -P pw ../k.zip a.txt sub/b.txt"), 0);
    const ToolRun list = kalvtool(dir, "list k.zip");
    EXPECT_EQ(list.status, 0);
    EXPECT_NE(list.out.find("  0 0x0009         18          6 "), std::string::npos) << list.out;
    EXPECT_NE(list.out.find(" a.txt\n"), std::string::npos);
    EXPECT_NE(list.out.find(" sub/b.txt\n"), std::string::npos);
    EXPECT_EQ(list.out.rfind("mth  flags     packed       size   crc-32     date       time name\n", 0), 0u);
    EXPECT_EQ(list.out.substr(list.out.rfind('\n', list.out.size() - 2) + 1),
              "2 entries, 33030 bytes packed, 33006 bytes\n");
    // Regression: a stored name's control characters reached the terminal raw.
    write_file(dir.file("esc.zip"), craft_zip({{"e\x1B[31mred\x7F.txt", "x"}}).bytes);
    EXPECT_NE(kalvtool(dir, "list esc.zip").out.find(" e\\x1B[31mred\\x7F.txt\n"), std::string::npos);
    // Bytes in front that the offsets do not count are named.
    write_file(dir.file("stub.zip"), std::string(1000, '\0') + read_file(dir.file("k.zip")));
    const ToolRun stub = kalvtool(dir, "list stub.zip");
    EXPECT_NE(stub.out.find("2 entries, 33030 bytes packed, 33006 bytes\n1000 bytes in front of the archive"),
              std::string::npos)
        << stub.out;

    ToolRun all = kalvtool(dir, "extract -P pw -d x -r k.zip");
    EXPECT_EQ(all.status, 0);
    EXPECT_EQ(all.out, "extracted 2 of 2\n");
    EXPECT_EQ(read_file(dir.file("x/sub/b.txt")), std::string(33000, 'b'));

    ToolRun never = kalvtool(dir, "extract -P pw -d x -r -o never k.zip '*.txt'");
    EXPECT_EQ(never.status, 1);
    EXPECT_EQ(never.out, "skipped a.txt: exists, not overwritten\nskipped sub/b.txt: exists, not overwritten\n"
                         "extracted 0 of 2\n");

    ToolRun wrong = kalvtool(dir, "extract -P nope -d y k.zip a.txt");
    EXPECT_EQ(wrong.status, 1);
    EXPECT_EQ(wrong.out, "skipped a.txt: bad password\nextracted 0 of 1\n");

    // A pattern that matches nothing is no success, as with unzip.
    ToolRun none = kalvtool(dir, "extract -P pw -d y k.zip missing.txt");
    EXPECT_EQ(none.status, 1);
    EXPECT_EQ(none.out, "no entry matches the patterns given\nextracted 0 of 0\n");

    write_file(dir.file("junk.zip"), "not an archive at all, and long enough to look");
    ToolRun junk = kalvtool(dir, "extract junk.zip");
    EXPECT_EQ(junk.status, 2);
    EXPECT_EQ(junk.err, "kalvtool extract: Incomplete Zip File\n");

    EXPECT_EQ(kalvtool(dir, "extract").status, 64);
    EXPECT_EQ(kalvtool(dir, "extract -o sometimes k.zip").status, 64);
    EXPECT_EQ(kalvtool(dir, "list").status, 64);
}

// Regression: the ZIP64 records were not read, so kalvtool list showed what the
// local-header scan found: one entry of 4294967295 bytes.
TEST_F(ZipPeers, KalvtoolListsTheSizesOfAZip64Archive) {
    ASSERT_EQ(run_in(dir.path(), "cd src && zip -q -0 -fz ../k64.zip a.txt sub/b.txt && zip -q -fz ../k64.zip big.bin"), 0);
    const ToolRun list = kalvtool(dir, "list k64.zip");
    EXPECT_EQ(list.status, 0);
    EXPECT_NE(list.out.find("  0 0x0000          6          6 "), std::string::npos) << list.out;
    EXPECT_NE(list.out.find("  0 0x0000      33000      33000 "), std::string::npos) << list.out;
    EXPECT_NE(list.out.find("      70000 "), std::string::npos) << list.out;
    EXPECT_NE(list.out.find("3 entries, "), std::string::npos) << list.out;
    EXPECT_NE(list.out.find(" bytes packed, 103006 bytes\n"), std::string::npos) << list.out;
    // A size of 4 GiB and more, from a ZIP64 field (APPNOTE 4.5.3), as listed.
    CraftEntry huge{"huge.bin", "x"};
    huge.zip64 = kZip64Uncompressed;
    huge.central_extra = std::string("\x01\x00\x08\x00\x00\x00\x00\x40\x01\x00\x00\x00", 12);
    write_file(dir.file("huge.zip"), craft_zip({huge}).bytes);
    EXPECT_NE(kalvtool(dir, "list huge.zip").out.find("          1 5368709120 "), std::string::npos);
}

// Regression: with -r, a ".." directory in the archive escaped the -d directory.
TEST_F(ZipPeers, KalvtoolReportsAnEscapingPath) {
    ASSERT_EQ(run_in(dir.path(), "mkdir -p w/in && cd w/in && echo x > ../out.txt && zip -q ../../esc.zip ../out.txt"), 0);
    ToolRun r = kalvtool(dir, "extract -d x -r esc.zip");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "skipped ../out.txt: path leaves the destination directory\nextracted 0 of 1\n");
    EXPECT_FALSE(file_exists(dir.file("out.txt")));
}

}  // namespace
}  // namespace kalv::unzip
