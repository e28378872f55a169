// End to end: archives deflated by Info-ZIP zip at every level and by 7-Zip's own
// Deflate encoder, plain and with traditional encryption, extracted by the
// extraction component; every file must come out as Info-ZIP unzip extracts it.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "files.h"
#include "unzip/unzipper.h"

namespace kalv::unzip {
namespace {

using namespace kalv::testing;

namespace fs = std::filesystem;

struct Source {
    const char* name;
    std::string bytes;
};

std::string words(size_t n) {
    static const char* w[] = {"stock ", "sale ", "invoice ", "customer\n", "price ", "total ", "item ", "tax "};
    std::string s;
    uint32_t x = 7;
    while (s.size() < n) {
        x = x * 1103515245 + 12345;
        s += w[(x >> 16) % 8];
    }
    s.resize(n);
    return s;
}

std::vector<Source> sources() {
    std::string machine;  // short instruction-like patterns with varying operands
    for (uint32_t i = 0; machine.size() < 120000; ++i) {
        machine += "\x48\x8b\x45";
        machine += static_cast<char>((i * 37) & 0xF8);
        machine += "\xe8";
        machine.append(reinterpret_cast<const char*>(&i), 3);
        if (i % 13 == 0) machine.append(i % 50, '\0');
    }
    return {
        {"text.txt", words(150000)},
        {"machine.bin", machine},
        {"noise.bin", pseudo_random_bytes(70000, 11)},
        {"runs.dat", std::string(100000, 'a') + std::string(40000, '\0') + "end"},
        {"window.bin", pseudo_random_bytes(32768, 5) + pseudo_random_bytes(32768, 5)},
        {"one.txt", "k"},
        {"empty.txt", ""},
    };
}

// Extracts every entry with the component; returns the count it reports.
int extract(const std::string& archive, const fs::path& dest, const std::string& password, int* deflated) {
    UnZipper zip{platform::native()};
    zip.SetZipName(archive);
    zip.SetDestDir(dest.string());
    zip.DoAll = true;
    zip.OverwriteMode = UZOverwriteMode::Always;
    zip.Password = password;
    zip.OpenArchive();
    *deflated = 0;
    for (int i = 0; i < zip.EntryCount(); ++i)
        if (zip.Entry(i).CompressionMethod == 8) ++*deflated;
    zip.CloseArchive();
    return zip.UnZip();
}

struct Producer {
    const char* tool;
    std::string command;  // run in the folder of the sources; writes ../a.zip
    std::string password;
};

TEST(InflateArchives, ExtractLikeInfoZipUnzip) {
    if (!have_tool("zip") || !have_tool("unzip")) GTEST_SKIP() << "Info-ZIP zip and unzip are not installed";
    TempDir tmp;
    const fs::path src = tmp.path() / "src";
    fs::create_directories(src);
    std::string names;
    for (const Source& s : sources()) {
        write_file((src / s.name).string(), s.bytes);
        names += std::string(" ") + s.name;
    }

    std::vector<Producer> producers;
    for (int level = 1; level <= 9; ++level) producers.push_back({"zip", "zip -q -" + std::to_string(level) + " ../a.zip" + names, ""});
    producers.push_back({"zip", "zip -q -6 -P 'pass word' ../a.zip" + names, "pass word"});
    producers.push_back({"7z", "7z a -tzip -mx=9 ../a.zip" + names, ""});
    producers.push_back({"7z", "7z a -tzip -mx=9 -mem=ZipCrypto -p'se cret' ../a.zip" + names, "se cret"});

    int run = 0;
    for (const Producer& p : producers) {
        SCOPED_TRACE(p.command);
        if (!have_tool(p.tool)) {
            std::cout << "skipped (no " << p.tool << "): " << p.command << "\n";
            continue;
        }
        const fs::path work = tmp.path() / ("run" + std::to_string(run++));
        fs::create_directories(work);
        fs::copy(src, work / "src");
        ASSERT_EQ(run_in(work / "src", p.command), 0);
        const std::string archive = (work / "a.zip").string();
        ASSERT_EQ(run_in(work, "unzip -q " + (p.password.empty() ? std::string() : "-P '" + p.password + "' ") + "-d ref a.zip"), 0);

        int deflated = 0;
        const int extracted = extract(archive, work / "ours", p.password, &deflated);
        EXPECT_EQ(extracted, static_cast<int>(sources().size()));
        EXPECT_GE(deflated, 4);  // 7-Zip stores what does not shrink; the rest is deflated
        for (const Source& s : sources()) {
            SCOPED_TRACE(s.name);
            const std::string ours = read_file((work / "ours" / s.name).string());
            EXPECT_TRUE(ours == read_file((work / "ref" / s.name).string()));
            EXPECT_TRUE(ours == s.bytes);
        }
    }
}

TEST(InflateArchives, ADamagedDeflatedEntryLeavesNoFileAndIsNotCounted) {
    if (!have_tool("zip")) GTEST_SKIP() << "Info-ZIP zip is not installed";
    TempDir tmp;
    write_file(tmp.file("text.txt"), words(50000));
    ASSERT_EQ(run_in(tmp.path(), "zip -q -9 a.zip text.txt"), 0);
    std::string archive = read_file(tmp.file("a.zip"));
    // The local header is 30 bytes plus the name "text.txt": damage the stream's
    // middle, where the block header of the first block cannot hide it.
    archive[30 + 8 + 2000] ^= 0x55;
    write_file(tmp.file("bad.zip"), archive);
    int deflated = 0;
    EXPECT_EQ(extract(tmp.file("bad.zip"), tmp.path() / "out", "", &deflated), 0);
    EXPECT_EQ(deflated, 1);
    EXPECT_FALSE(file_exists((tmp.path() / "out" / "text.txt").string()));
}

}  // namespace
}  // namespace kalv::unzip
