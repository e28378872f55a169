// Batched durability (UZDurability::Batched), the mode of kalvtool extract: on real
// files it must give what the per-entry mode gives (files, dates, counts, events,
// failures); on the recording platform, every file is synced before any name of its
// batch is given, and a failure leaves no temporary file and no unsynced name.
#include <gtest/gtest.h>

#include <filesystem>
#include <algorithm>
#include <map>
#include <set>

#ifndef _WIN32
#include <sys/resource.h>
#endif

#include "core/errors.h"
#include "files.h"
#include "recording_platform.h"
#include "unzip/pending_files.h"
#include "unzip/unzipper.h"
#include "zip_craft.h"

namespace kalv::unzip {
namespace {

using namespace kalv::testing;
namespace fs = std::filesystem;

// "f<i>": appended, not prefixed, as GCC 12 flags `"literal" + std::string&&` at -O3
// with a false -Wrestrict (GCC bug 105329).
std::string numbered(size_t i) { return std::string("f") + std::to_string(i); }

CraftEntry with_bad_crc(CraftEntry entry) {
    entry.crc = 0x12345678;
    return entry;
}

// ---- on real files: batched gives what per-entry gives ---------------------------

struct Outcome {
    std::string result;  // the count, or the failure's message
    std::vector<std::string> events;
    std::map<std::string, std::string> tree;  // path below the destination -> content and date
};

struct Scene {
    const char* name;
    std::string result;  // what both modes give: the count, or the failure
    std::vector<CraftEntry> entries;
    bool recreate_dirs = false;
    UZOverwriteMode overwrite = UZOverwriteMode::Always;
    std::map<std::string, std::string> existing = {};  // files in the destination beforehand
};

Outcome run(const Scene& scene, UZDurability durability) {
    RecordedUiPlatform ui;
    platform::ScopedPlatform guard(ui);
    TempDir dir;
    const fs::path out = dir.path() / "out";
    fs::create_directories(out);
    // Files already there carry one date in both runs, so that trees compare whole.
    static const fs::file_time_type existing_date = fs::file_time_type::clock::now() - std::chrono::hours(24);
    for (const auto& [name, content] : scene.existing) {
        write_file((out / name).string(), content);
        fs::last_write_time(out / name, existing_date);
    }
    write_file(dir.file("t.zip"), craft_zip(scene.entries).bytes);

    Outcome got;
    const std::string prefix = out.string() + static_cast<char>(fs::path::preferred_separator);
    // Paths below the destination, with "/" between folders on every system.
    auto below = [&](const std::string& path) {
        std::string rest = path.substr(path.rfind(prefix, 0) == 0 ? prefix.size() : 0);
        std::replace(rest.begin(), rest.end(), static_cast<char>(fs::path::preferred_separator), '/');
        return rest;
    };
    UnZipper zip;
    zip.Durability = durability;
    zip.DoAll = true;
    zip.RecreateDirs = scene.recreate_dirs;
    zip.OverwriteMode = scene.overwrite;
    zip.SetZipName(dir.file("t.zip"));
    zip.SetDestDir(out.string());
    zip.OnStartUnZip = [&](UnZipper&, int i, const std::string& p, bool&) {
        got.events.push_back("start " + std::to_string(i) + " " + below(p));
    };
    zip.OnEndUnZip = [&](UnZipper& z, int i, const std::string& p) {
        // The file is in place, with what the entry holds, when it is reported.
        got.events.push_back("end " + std::to_string(i) + " " + below(p) + " = " + read_file(p) +
                             (z.LastEntryCheck().decoded ? "" : " (no check)"));
    };
    zip.OnSkippingFile = [&](UnZipper&, SkipReason r, const std::string& name, int i) {
        got.events.push_back("skip " + std::to_string(i) + " " + name + ": " + skip_reason_text(r));
    };
    zip.OnBadCRC = [&](UnZipper&, uint32_t, uint32_t, int i) { got.events.push_back("bad crc " + std::to_string(i)); };
    try {
        got.result = std::to_string(zip.UnZip());
    } catch (const Error& e) {
        const std::string text = e.what();
        const size_t at = text.find(prefix);
        got.result = at == std::string::npos ? text : text.substr(0, at) + "<out>/" + below(text.substr(at));
    }
    for (const fs::directory_entry& e : fs::recursive_directory_iterator(out)) {
        const std::string name = below(e.path().string());
        got.tree[name] = e.is_directory() ? "<dir>"
                                          : read_file(e.path().string()) + " @" +
                                                std::to_string(e.last_write_time().time_since_epoch().count());
    }
    return got;
}

std::vector<CraftEntry> many_entries() {
    std::vector<CraftEntry> entries;
    // Past one batch's bound on files, with a failing entry inside the first batch.
    for (size_t i = 0; i < PendingFiles::kMaxFiles + 44; ++i) {
        CraftEntry e{numbered(i) + ".txt", pseudo_random_bytes(i * 37 % 3000, uint32_t(i))};
        e.dos_time = 0x52CF6000 + uint32_t(i % 30);  // dates two seconds apart
        entries.push_back(i == 100 ? with_bad_crc(e) : e);
    }
    return entries;
}

const std::vector<Scene>& scenes() {
    static const std::vector<Scene> all = {
        {"many entries, one with a bad CRC", std::to_string(PendingFiles::kMaxFiles + 43), many_entries()},
        {"one name twice, folders flattened", "3", {{"a.txt", "1"}, {"sub/a.txt", "2"}, {"b.txt", "3"}}},
        {"one name twice, kept", "1", {{"a.txt", "1"}, {"sub/a.txt", "2"}}, false, UZOverwriteMode::Never},
        {"an existing file kept and a bad CRC over an old file",
         "1",
         {{"keep.txt", "new"}, with_bad_crc({"old.txt", "new"}), {"c.txt", "c"}},
         false,
         UZOverwriteMode::Never,
         {{"keep.txt", "mine"}, {"old.txt", "old"}}},
        {"a name and its temporary name, existing files kept",
         "4",
         {{"p", "1"}, {"p.partial", "2"}, {"q.partial", "3"}, {"q", "4"}},
         false,
         UZOverwriteMode::Never},
        {"a file, then a folder of that name", "Cannot create file <out>/d/x", {{"d", "1"}, {"d/x", "2"}}, true},
        {"a folder, then a file of that name", "Cannot create file <out>/e", {{"e/x", "1"}, {"e", "2"}}, true},
        {"spellings of one path", "4", {{"s/x", "1"}, {"s//x", "2"}, {"s/./x", "3"}, {"S/X", "4"}}, true},
    };
    return all;
}

TEST(BatchedDurability, GivesWhatPerEntryGives) {
    for (const Scene& scene : scenes()) {
        SCOPED_TRACE(scene.name);
        const Outcome per_entry = run(scene, UZDurability::PerEntry);
        const Outcome batched = run(scene, UZDurability::Batched);
        EXPECT_EQ(per_entry.result, scene.result);
        EXPECT_EQ(batched.result, per_entry.result);
        EXPECT_EQ(batched.tree, per_entry.tree);
        for (const auto& [name, content] : batched.tree)
            EXPECT_TRUE(name.find(".partial") == std::string::npos || content.rfind("2 @", 0) == 0 ||
                        content.rfind("3 @", 0) == 0)
                << "a temporary file left: " << name;
        // Each kind of event in the same order; OnEndUnZip merely comes later.
        for (const char* kind : {"start", "end", "skip", "bad"}) {
            auto only = [&](const std::vector<std::string>& events) {
                std::vector<std::string> kept;
                for (const std::string& e : events)
                    if (e.rfind(kind, 0) == 0) kept.push_back(e);
                return kept;
            };
            EXPECT_EQ(only(batched.events), only(per_entry.events)) << kind;
        }
    }
}

#ifndef _WIN32
// Regression: a batch holds a descriptor per waiting file, and under a low limit on
// open files (ulimit -n) the creation of the next file failed the whole extraction,
// which the per-entry mode finished.
TEST(BatchedDurability, ALowLimitOnOpenFilesPutsTheBatchInPlaceEarly) {
    rlimit before{};
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &before), 0);
    rlimit low = before;
    low.rlim_cur = 64;  // the test's own descriptors and a few dozen files
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &low), 0);
    Scene scene{"more files than descriptors", "200", {}};
    for (size_t i = 0; i < 200; ++i) scene.entries.push_back({numbered(i), "x"});
    const Outcome batched = run(scene, UZDurability::Batched);
    setrlimit(RLIMIT_NOFILE, &before);
    EXPECT_EQ(batched.result, "200");
    EXPECT_EQ(batched.tree.size(), 200u);
}
#endif

// ---- on the recording platform: the order of syncs and renames ---------------------

#ifdef _WIN32
const std::string kDir = "C:\\Shop\\";
#else
const std::string kDir = "/srv/shop/";
#endif

struct Order {
    const char* name;
    UZDurability durability;
    std::vector<CraftEntry> entries;
    std::vector<std::string> transcript;
    std::vector<std::string> files;     // "name = content" after the pass, the archive left out
    std::vector<std::string> reported;  // what each file held when OnEndUnZip told of it
    std::string failure = {};           // none when empty
    std::map<std::string, std::string> existing = {};
    std::set<std::string> read_only = {};
    std::set<std::string> failing_syncs = {};
};

std::string replaced_later(const std::string& name) {
    return "replace <D>" + name + " by <D>" + name + ".partial, name synced later";
}

const std::vector<Order>& orders() {
    static const std::vector<Order> all = {
        {.name = "per entry: each synced and renamed before the next",
         .durability = UZDurability::PerEntry,
         .entries = {{"a", "1"}, {"b", "2"}},
         .transcript = {"create <D>a.partial", "sync <D>a.partial", "replace <D>a by <D>a.partial",
                        "create <D>b.partial", "sync <D>b.partial", "replace <D>b by <D>b.partial"},
         .files = {"a = 1", "b = 2"},
         .reported = {"1", "2"}},
        {.name = "batched: all synced, then all renamed, then their folder",
         .durability = UZDurability::Batched,
         .entries = {{"a", "1"}, {"b", "2"}, {"c", "3"}},
         .transcript = {"create <D>a.partial", "create <D>b.partial", "create <D>c.partial", "sync <D>a.partial",
                        "sync <D>b.partial", "sync <D>c.partial", replaced_later("a"), replaced_later("b"),
                        replaced_later("c"), "sync folder <D>"},
         .files = {"a = 1", "b = 2", "c = 3"},
         .reported = {"1", "2", "3"}},
        {.name = "a bad CRC in the middle of a batch",
         .durability = UZDurability::Batched,
         .entries = {{"a", "1"}, with_bad_crc({"b", "2"}), {"c", "3"}},
         .transcript = {"create <D>a.partial", "create <D>b.partial", "delete <D>b.partial", "create <D>c.partial",
                        "sync <D>a.partial", "sync <D>c.partial", replaced_later("a"), replaced_later("c"),
                        "sync folder <D>"},
         .files = {"a = 1", "c = 3"},
         .reported = {"1", "3"}},
        {.name = "an entry of a waiting name puts the batch in place first",
         .durability = UZDurability::Batched,
         .entries = {{"a", "1"}, {"b", "2"}, {"a", "3"}},
         .transcript = {"create <D>a.partial", "create <D>b.partial", "sync <D>a.partial", "sync <D>b.partial",
                        replaced_later("a"), replaced_later("b"), "sync folder <D>", "create <D>a.partial",
                        "sync <D>a.partial", replaced_later("a"), "sync folder <D>"},
         .files = {"a = 3", "b = 2"},
         .reported = {"1", "2", "3"}},
        {.name = "a file the disk does not take: the files before it only",
         .durability = UZDurability::Batched,
         .entries = {{"a", "1"}, {"b", "2"}, {"c", "3"}},
         .transcript = {"create <D>a.partial", "create <D>b.partial", "create <D>c.partial", "sync <D>a.partial",
                        "sync <D>b.partial", "sync <D>c.partial", replaced_later("a"), "delete <D>b.partial",
                        "delete <D>c.partial", "sync folder <D>"},
         .files = {"a = 1"},
         .reported = {"1"},
         .failure = "Stream write error",
         .failing_syncs = {kDir + "b.partial"}},
        {.name = "a target that cannot be replaced keeps what it was",
         .durability = UZDurability::Batched,
         .entries = {{"a", "1"}, {"b", "2"}, {"c", "3"}},
         .transcript = {"create <D>a.partial", "create <D>b.partial", "create <D>c.partial", "sync <D>a.partial",
                        "sync <D>b.partial", "sync <D>c.partial", replaced_later("a"), replaced_later("b"),
                        "delete <D>b.partial", "delete <D>c.partial", "sync folder <D>"},
         .files = {"a = 1", "b = old"},
         .reported = {"1"},
         .failure = "Cannot create file " + kDir + "b",
         .existing = {{"b", "old"}},
         .read_only = {kDir + "b"}},
        {.name = "a file that cannot be created: the batch before it is put in place, then it is tried again",
         .durability = UZDurability::Batched,
         .entries = {{"a", "1"}, {"b", "2"}, {"c", "3"}},
         .transcript = {"create <D>a.partial", "create <D>b.partial", "create <D>c.partial", "sync <D>a.partial",
                        "sync <D>b.partial", replaced_later("a"), replaced_later("b"), "sync folder <D>",
                        "create <D>c.partial"},
         .files = {"a = 1", "b = 2"},
         .reported = {"1", "2"},
         .failure = "Cannot create file " + kDir + "c",
         .read_only = {kDir + "c.partial"}},
    };
    return all;
}

TEST(BatchedDurability, SyncsEveryFileBeforeAnyRename) {
    for (const Order& order : orders()) {
        SCOPED_TRACE(order.name);
        RecordingPlatform os(kDir);
        platform::ScopedPlatform guard(os);
        os.put_file(kDir + "t.zip", craft_zip(order.entries).bytes);
        for (const auto& [name, content] : order.existing) os.put_file(kDir + name, content);
        os.read_only = order.read_only;
        os.failing_syncs = order.failing_syncs;
        UnZipper zip;
        zip.Durability = order.durability;
        zip.DoAll = true;
        zip.OverwriteMode = UZOverwriteMode::Always;
        zip.DoProcessMessages = false;
        zip.SetZipName(kDir + "t.zip");
        zip.SetDestDir(kDir);
        std::vector<std::string> reported;
        zip.OnEndUnZip = [&](UnZipper&, int, const std::string& path) { reported.push_back(os.content(path)); };
        std::string failure;
        try {
            zip.UnZip();
        } catch (const Error& e) {
            failure = e.what();
        }
        EXPECT_EQ(failure, order.failure);
        EXPECT_EQ(os.transcript, order.transcript);
        EXPECT_EQ(reported, order.reported);
        std::vector<std::string> files;
        for (const std::string& shown : os.file_names()) {
            const std::string name = shown.substr(std::string("<D>").size());
            if (name != "t.zip") files.push_back(name + " = " + os.content(kDir + name));
        }
        EXPECT_EQ(files, order.files);
    }
}

// A batch is put in place when it reaches its bound on files or on bytes, before the
// next entry begins.
TEST(BatchedDurability, ABatchEndsAtItsBounds) {
    struct Bound {
        const char* name;
        std::vector<CraftEntry> entries;
        std::string first_of_next_batch;
    };
    std::vector<CraftEntry> small;
    for (size_t i = 0; i <= PendingFiles::kMaxFiles; ++i) small.push_back({numbered(i), "x"});
    const std::string half(static_cast<size_t>(PendingFiles::kMaxBytes / 2), 'h');
    const std::vector<Bound> bounds = {
        {"files", small, "create <D>" + numbered(PendingFiles::kMaxFiles) + ".partial"},
        {"bytes", {{"x", half}, {"y", half}, {"z", "z"}}, "create <D>z.partial"},
    };
    for (const Bound& bound : bounds) {
        SCOPED_TRACE(bound.name);
        RecordingPlatform os(kDir);
        platform::ScopedPlatform guard(os);
        os.put_file(kDir + "t.zip", craft_zip(bound.entries).bytes);
        UnZipper zip;
        zip.Durability = UZDurability::Batched;
        zip.DoAll = true;
        zip.OverwriteMode = UZOverwriteMode::Always;
        zip.DoProcessMessages = false;
        zip.SetZipName(kDir + "t.zip");
        zip.SetDestDir(kDir);
        EXPECT_EQ(zip.UnZip(), static_cast<int>(bound.entries.size()));
        const auto next = std::find(os.transcript.begin(), os.transcript.end(), bound.first_of_next_batch);
        ASSERT_NE(next, os.transcript.end());
        EXPECT_EQ(*std::prev(next), "sync folder <D>");
        EXPECT_EQ(std::count(os.transcript.begin(), os.transcript.end(), "sync folder <D>"), 2);
    }
}

}  // namespace
}  // namespace kalv::unzip
