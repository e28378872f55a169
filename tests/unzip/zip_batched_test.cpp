// Batched durability (kalvtool extract's): on real files it gives what the per-entry
// mode gives (files, dates, counts, events, failures); on the recording platform each
// file is synced before any name of its batch is given, and a failure leaves no
// temporary file and no unsynced name.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <set>

#ifndef _WIN32
#include <sys/resource.h>
#endif

#include "core/errors.h"
#include "failure.h"
#include "files.h"
#include "recording_platform.h"
#include "unzip/pending_files.h"
#include "unzip/unzipper.h"
#include "zip_craft.h"

namespace kalv::unzip {
namespace {

using namespace kalv::testing;
namespace fs = std::filesystem;

// Appended, not prefixed: GCC 12 flags `"literal" + std::string&&` at -O3 with a
// false -Wrestrict (GCC bug 105329).
std::string numbered(size_t i) { return std::string("f") + std::to_string(i); }

// Sets `zip` to extract every entry of `archive` into `dest`, in batches.
void extract_batched(UnZipper& zip, const std::string& archive, const std::string& dest) {
    zip.Durability = UZDurability::Batched;
    zip.DoAll = true;
    zip.DoProcessMessages = false;
    zip.SetZipName(archive);
    zip.SetDestDir(dest);
}

CraftEntry with_bad_crc(CraftEntry entry) {
    entry.crc = 0x12345678;
    return entry;
}

struct Scene {
    std::string result;  // what both modes give: the count, or the failure
    std::vector<CraftEntry> entries;
    bool recreate_dirs = false;
    UZOverwriteMode overwrite = UZOverwriteMode::Always;
    std::map<std::string, std::string> existing = {};  // files in the destination beforehand
    int failing_at = -1;  // the entry whose OnStartUnZip throws
};

// The count or failure, every event (OnEndUnZip with what its file holds then), and
// the destination's tree with contents and dates; paths below it, "/" between folders.
std::vector<std::string> run(const Scene& scene, UZDurability durability) {
    RecordedUiPlatform ui;
    TempDir dir;
    const fs::path out = dir.path() / "out";
    fs::create_directories(out);
    static const fs::file_time_type existing_date = fs::file_time_type::clock::now() - std::chrono::hours(24);
    for (const auto& [name, content] : scene.existing) {
        write_file((out / name).string(), content);
        fs::last_write_time(out / name, existing_date);
    }
    write_file(dir.file("t.zip"), craft_zip(scene.entries).bytes);
    auto below = [prefix = (out / "").string()](std::string path) {
        if (const size_t at = path.find(prefix); at != std::string::npos) path.replace(at, prefix.size(), "<out>/");
        std::replace(path.begin(), path.end(), static_cast<char>(fs::path::preferred_separator), '/');
        return path;
    };
    std::vector<std::string> got(1);
    UnZipper zip{ui};
    zip.Durability = durability;
    zip.DoAll = true;
    zip.RecreateDirs = scene.recreate_dirs;
    zip.OverwriteMode = scene.overwrite;
    zip.SetZipName(dir.file("t.zip"));
    zip.SetDestDir(out.string());
    zip.OnStartUnZip = [&](UnZipper&, int i, const std::string& p, bool&) {
        got.push_back("start " + std::to_string(i) + " " + below(p));
        if (i == scene.failing_at) throw Error("stopped");
    };
    zip.OnEndUnZip = [&](UnZipper& z, int i, const std::string& p) {
        got.push_back("end " + std::to_string(i) + " " + below(p) + " = " + read_file(p) +
                      (z.LastEntryCheck().decoded ? "" : " unchecked"));
    };
    zip.OnSkippingFile = [&](UnZipper&, SkipReason r, const std::string& name, int i) {
        got.push_back("skip " + std::to_string(i) + " " + name + ": " + skip_reason_text(r));
    };
    zip.OnBadCRC = [&](UnZipper&, uint32_t, uint32_t, int i) { got.push_back("bad crc " + std::to_string(i)); };
    const std::string failure = failure_of([&] { got[0] = std::to_string(zip.UnZip()); }, "");
    if (!failure.empty()) got[0] = below(failure);
    for (const fs::directory_entry& e : fs::recursive_directory_iterator(out)) {
        const std::string content = e.is_directory() ? std::string("<dir>")
                                                     : read_file(e.path().string()) + " @" +
                                                           std::to_string(e.last_write_time().time_since_epoch().count());
        got.push_back("file " + below(e.path().string()) + " = " + content);
    }
    return got;
}

std::vector<CraftEntry> many_entries() {
    std::vector<CraftEntry> entries;
    // Past one batch's bound on files, a bad CRC inside the first batch.
    for (size_t i = 0; i < PendingFiles::kMaxFiles + 44; ++i) {
        CraftEntry e{numbered(i), pseudo_random_bytes(i * 37 % 3000, static_cast<uint32_t>(i))};
        e.dos_time = 0x52CF6000 + static_cast<uint32_t>(i % 30);
        entries.push_back(i == 100 ? with_bad_crc(e) : e);
    }
    return entries;
}

TEST(BatchedDurability, GivesWhatPerEntryGives) {
    const std::map<std::string, Scene> scenes = {
        {"many entries", {std::to_string(PendingFiles::kMaxFiles + 43), many_entries()}},
        {"one name twice, folders flattened, a bad CRC over an old file",
         {"3", {{"a", "1"}, {"sub/a", "2"}, with_bad_crc({"old", "new"}), {"b", "3"}}, false,
          UZOverwriteMode::Always, {{"old", "x"}}}},
        {"one name twice, kept", {"1", {{"a", "1"}, {"sub/a", "2"}}, false, UZOverwriteMode::Never}},
        {"a failure in the middle", {"stopped", {{"a", "1"}, {"b", "2"}, {"c", "3"}}, false, UZOverwriteMode::Always, {}, 2}},
        {"names and temporary names",
         {"4", {{"p", "1"}, {"p.partial", "2"}, {"q.partial", "3"}, {"q", "4"}}, false, UZOverwriteMode::Never}},
        {"a file, then a folder of that name", {"Cannot create file <out>/d/x", {{"d", "1"}, {"d/x", "2"}}, true}},
        {"a folder, then a file of that name", {"Cannot create file <out>/e", {{"e/x", "1"}, {"e", "2"}}, true}},
        {"spellings of one path", {"4", {{"s/x", "1"}, {"s//x", "2"}, {"s/./x", "3"}, {"S/X", "4"}}, true}},
    };
    // OnEndUnZip only comes later: each kind of event keeps its order.
    auto by_kind = [](std::vector<std::string> got) {
        std::stable_sort(got.begin() + 1, got.end(),
                         [](const std::string& a, const std::string& b) { return a.substr(0, 3) < b.substr(0, 3); });
        return got;
    };
    for (const auto& [name, scene] : scenes) {
        SCOPED_TRACE(name);
        const std::vector<std::string> batched = run(scene, UZDurability::Batched);
        EXPECT_EQ(batched[0], scene.result);
        EXPECT_EQ(by_kind(batched), by_kind(run(scene, UZDurability::PerEntry)));
        if (std::none_of(scene.entries.begin(), scene.entries.end(),
                         [](const CraftEntry& e) { return e.name.find(".partial") != std::string::npos; })) {
            for (const std::string& e : batched) EXPECT_EQ(e.find(".partial"), std::string::npos) << e;
        }
    }
}

#ifndef _WIN32
// Regression: a batch holds a descriptor per waiting file, and under a low limit on
// open files (ulimit -n) creating the next file failed the whole extraction.
TEST(BatchedDurability, ALowLimitOnOpenFilesPutsTheBatchInPlaceEarly) {
    rlimit before{};
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &before), 0);
    rlimit low = before;
    low.rlim_cur = 64;
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &low), 0);
    Scene scene{"200", {}};
    for (size_t i = 0; i < 200; ++i) scene.entries.push_back({numbered(i), "x"});
    const std::vector<std::string> batched = run(scene, UZDurability::Batched);
    setrlimit(RLIMIT_NOFILE, &before);
    EXPECT_EQ(batched[0], "200");
    EXPECT_EQ(std::count_if(batched.begin(), batched.end(), [](const std::string& e) { return e.rfind("file", 0) == 0; }),
              200);
}
#endif

// Regression: a handler that stopped the pass at a batch's first event left the later
// files of that batch in place without their attributes (a read-only file writable).
TEST(BatchedDurability, AStoppingEventLeavesThePlacedFilesWhole) {
    TempDir dir;
    CraftEntry read_only{"b.txt", "b"};
    read_only.external_attributes = 0x01;  // MS-DOS read-only
    write_file(dir.file("t.zip"), craft_zip({{"a.txt", "a"}, read_only}).bytes);
    UnZipper zip{platform::native()};
    extract_batched(zip, dir.file("t.zip"), dir.file("out"));
    zip.OnEndUnZip = [](UnZipper&, int, const std::string&) { throw Error("stopped"); };
    EXPECT_THROW(zip.UnZip(), Error);
    EXPECT_EQ(read_file(dir.file("out/b.txt")), "b");
    EXPECT_EQ(fs::status(dir.file("out/b.txt")).permissions() & fs::perms::owner_write, fs::perms::none);
    fs::permissions(dir.file("out/b.txt"), fs::perms::owner_write, fs::perm_options::add);
}

#ifdef _WIN32
const std::string kDir = "C:\\Shop\\";
#else
const std::string kDir = "/srv/shop/";
#endif

std::string replaced(const std::string& name) {
    return "replace <D>" + name + " by <D>" + name + ".tmp.partial, name synced later";
}

// Entries a, b and c; b's target read-only or its sync failing, or c's file uncreatable.
TEST(BatchedDurability, SyncsEveryFileBeforeAnyRenameAndFailsWithoutATrace) {
    auto syncs_then = [](std::vector<std::string> rest) {
        rest.insert(rest.begin(), {"sync <D>a.tmp.partial", "sync <D>b.tmp.partial", "sync <D>c.tmp.partial"});
        return rest;
    };
    struct Order {
        const char* name;
        std::set<std::string> read_only, failing_syncs;
        std::vector<std::string> after_creates;  // the transcript after the three creates
        std::vector<std::string> files;
        std::string failure;
    };
    const std::vector<Order> orders = {
        {"all synced, then all renamed, then their folder",
         {},
         {},
         syncs_then({replaced("a"), replaced("b"), replaced("c"), "sync folder <D>"}),
         {"a = 1", "b = 2", "c = 3"},
         ""},
        {"a file the disk does not take: the files before it only",
         {},
         {kDir + "b.tmp.partial"},
         syncs_then({replaced("a"), "delete <D>b.tmp.partial", "delete <D>c.tmp.partial", "sync folder <D>"}),
         {"a = 1", "b = old"},
         "Stream write error"},
        {"a target that cannot be replaced keeps what it was",
         {kDir + "b"},
         {},
         syncs_then({replaced("a"), replaced("b"), "delete <D>b.tmp.partial", "delete <D>c.tmp.partial", "sync folder <D>"}),
         {"a = 1", "b = old"},
         "Cannot create file " + kDir + "b"},
        {"a file that cannot be created: the batch before it in place, then it is tried again",
         {kDir + "c.tmp.partial"},
         {},
         {"sync <D>a.tmp.partial", "sync <D>b.tmp.partial", replaced("a"), replaced("b"), "sync folder <D>",
          "create <D>c.tmp.partial"},
         {"a = 1", "b = 2"},
         "Cannot create file " + kDir + "c"},
    };
    for (const Order& order : orders) {
        SCOPED_TRACE(order.name);
        RecordingPlatform os(kDir);
        os.put_file(kDir + "t.zip", craft_zip({{"a", "1"}, {"b", "2"}, {"c", "3"}}).bytes);
        os.put_file(kDir + "b", "old");
        os.read_only = order.read_only;
        os.failing_syncs = order.failing_syncs;
        UnZipper zip{os};
        extract_batched(zip, kDir + "t.zip", kDir);
        zip.OverwriteMode = UZOverwriteMode::Always;
        EXPECT_EQ(failure_of([&] { zip.UnZip(); }, ""), order.failure);
        std::vector<std::string> expected = {"create <D>a.tmp.partial", "create <D>b.tmp.partial", "create <D>c.tmp.partial"};
        expected.insert(expected.end(), order.after_creates.begin(), order.after_creates.end());
        EXPECT_EQ(os.transcript, expected);
        std::vector<std::string> files;
        for (const std::string& shown : os.file_names())
            if (shown != "<D>t.zip") files.push_back(shown.substr(3) + " = " + os.content(kDir + shown.substr(3)));
        EXPECT_EQ(files, order.files);
    }
}

// Regression: a folder that did not sync left the files of the batch, in place already,
// without their attributes. They get no event: their names may not outlive a power cut.
TEST(BatchedDurability, AFolderThatDoesNotSyncLeavesItsFilesWithTheirAttributes) {
    RecordingPlatform os(kDir);
    CraftEntry read_only{"b", "2"};
    read_only.external_attributes = 0x01;  // MS-DOS read-only
    os.put_file(kDir + "t.zip", craft_zip({{"a", "1"}, read_only}).bytes);
    os.failing_syncs = {kDir};
    UnZipper zip{os};
    extract_batched(zip, kDir + "t.zip", kDir);
    int events = 0;
    zip.OnEndUnZip = [&](UnZipper&, int, const std::string&) { ++events; };
    EXPECT_EQ(failure_of([&] { zip.UnZip(); }), "Cannot create file " + kDir + "a");
    EXPECT_EQ(os.content(kDir + "b"), "2");
    EXPECT_EQ(os.read_only.count(kDir + "b"), 1u);
    EXPECT_EQ(events, 0);
}

}  // namespace
}  // namespace kalv::unzip
