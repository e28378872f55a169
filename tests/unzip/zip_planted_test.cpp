// What stands in the destination before a pass: links, somebody's own files under
// names the component once used for its temporary files, read-only leftovers of a
// crashed run. None of it is written through, truncated or deleted, and none of it
// keeps an entry from its place. Run in both durability modes.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <optional>

#include "files.h"
#include "platform/forwarding_platform.h"
#include "unzip/unzipper.h"
#include "zip_craft.h"

namespace kalv::unzip {
namespace {

using namespace kalv::testing;
namespace fs = std::filesystem;

// Records the files created and checks, at each rename, that the file put in place
// has its date already (given through its handle, never by name afterwards).
class WatchingPlatform final : public platform::ForwardingPlatform {
public:
    WatchingPlatform() : ForwardingPlatform(platform::native()) {}
    std::vector<std::string> created;
    std::vector<std::string> by_name;      // dates or attributes given by path
    std::vector<int32_t> ages_at_rename;   // file_age of each temporary file as it is renamed

    platform::OsResult<std::unique_ptr<platform::FileHandle>> open(const std::string& path,
                                                                   platform::OpenMode mode) override {
        if (mode == platform::OpenMode::CreateNew) created.push_back(path);
        return ForwardingPlatform::open(path, mode);
    }
    bool set_file_dos_time(const std::string& path, uint32_t t) override {
        by_name.push_back(path);
        return ForwardingPlatform::set_file_dos_time(path, t);
    }
    bool set_file_attributes(const std::string& path, uint32_t a, uint16_t v) override {
        by_name.push_back(path);
        return ForwardingPlatform::set_file_attributes(path, a, v);
    }
    platform::OsStatus replace_file(const std::string& from, const std::string& to) override {
        ages_at_rename.push_back(file_age(from));
        return ForwardingPlatform::replace_file(from, to);
    }
    platform::OsStatus replace_file_deferred(const std::string& from, const std::string& to) override {
        ages_at_rename.push_back(file_age(from));
        return ForwardingPlatform::replace_file_deferred(from, to);
    }
};

constexpr uint32_t kStored = 0x52CF6000;  // the crafted entries' date

struct Planted {
    const char* why;
    std::function<bool(const TempDir&)> plant;  // false: this system cannot make the scene
    std::vector<CraftEntry> entries;
    UZOverwriteMode mode;
    int extracted;
    // Paths below the temporary folder and what they must hold afterwards (nullopt:
    // nothing there).
    std::vector<std::pair<std::string, std::optional<std::string>>> after;
    std::vector<std::string> skipped;
};

// False where this system makes no symbolic links (Wine).
bool link(const TempDir& dir, const std::string& target, const std::string& name, bool to_folder = false) {
    std::error_code failed;
    if (to_folder)
        fs::create_directory_symlink(target, dir.file(name), failed);
    else
        fs::create_symlink(target, dir.file(name), failed);
    return !failed;
}

const std::vector<Planted>& planted_cases() {
    static const std::vector<Planted> cases = {
        {"a link at the old temporary name sends no byte outside",
         [](const TempDir& d) {
             write_file(d.file("outside/victim"), "victim");
             return link(d, "../outside/victim", "out/x.txt.partial");
         },
         {{"x.txt", "archive bytes"}}, UZOverwriteMode::Always, 1,
         {{"out/x.txt", "archive bytes"}, {"outside/victim", "victim"}, {"out/x.txt.partial", "victim"}}, {}},
        {"somebody's own .partial file survives an entry that is not written",
         [](const TempDir& d) {
             write_file(d.file("out/report.txt"), "old");
             write_file(d.file("out/report.txt.partial"), "mine");
             return true;
         },
         {{"report.txt", "new"}}, UZOverwriteMode::Never, 0,
         {{"out/report.txt", "old"}, {"out/report.txt.partial", "mine"}}, {"report.txt: exists, not overwritten"}},
        {"... and one that is",
         [](const TempDir& d) {
             write_file(d.file("out/report.txt"), "old");
             write_file(d.file("out/report.txt.partial"), "mine");
             return true;
         },
         {{"report.txt", "new"}}, UZOverwriteMode::Always, 1,
         {{"out/report.txt", "new"}, {"out/report.txt.partial", "mine"}}, {}},
        {"an entry named as another's temporary file is a file of its own",
         [](const TempDir&) { return true; },
         {{"x.partial", "p"}, {"x", "q"}}, UZOverwriteMode::Always, 2,
         {{"out/x.partial", "p"}, {"out/x", "q"}}, {}},
        {"a read-only leftover of a crashed run blocks nothing",
         [](const TempDir& d) {
             write_file(d.file("out/Kalvo3main.partial"), "stale");
             fs::permissions(d.file("out/Kalvo3main.partial"), fs::perms::owner_write | fs::perms::group_write |
                                                                    fs::perms::others_write,
                             fs::perm_options::remove);
             return true;
         },
         {{"Kalvo3main", "program"}}, UZOverwriteMode::Always, 1,
         {{"out/Kalvo3main", "program"}, {"out/Kalvo3main.partial", "stale"}}, {}},
        {"a folder inside the destination that links out of it is not followed",
         [](const TempDir& d) {
             return link(d, "../outside", "out/sub", true);
         },
         {{"sub/passwd", "evil"}, {"sub/deeper/x", "evil"}, {"fine.txt", "fine"}}, UZOverwriteMode::Always, 1,
         {{"outside/passwd", std::nullopt}, {"outside/deeper", std::nullopt}, {"out/fine.txt", "fine"}},
         {native("sub/") + "passwd: path goes through a symbolic link or junction",
          native("sub/deeper/") + "x: path goes through a symbolic link or junction"}},
        {"a link at the entry's own name is replaced, its target untouched",
         [](const TempDir& d) {
             write_file(d.file("outside/victim"), "victim");
             return link(d, "../outside/victim", "out/y.txt");
         },
         {{"y.txt", "new"}}, UZOverwriteMode::Always, 1, {{"out/y.txt", "new"}, {"outside/victim", "victim"}}, {}},
    };
    return cases;
}

// Temporary files of the component's own ("<name>.<12 hex digits>.partial") left behind.
size_t leftovers(const TempDir& dir) {
    const std::string suffix = ".partial";
    constexpr size_t kTag = 12;
    size_t n = 0;
    for (const auto& e : fs::recursive_directory_iterator(dir.path())) {
        const std::string name = e.path().filename().string();
        if (name.size() < suffix.size() + kTag + 2 || !name.ends_with(suffix)) continue;
        const std::string tag = name.substr(name.size() - suffix.size() - kTag - 1, kTag + 1);
        n += tag[0] == '.' && tag.find_first_not_of("0123456789abcdef", 1) == std::string::npos ? 1 : 0;
    }
    return n;
}

TEST(ZipPlanted, NothingStandingInTheDestinationIsWrittenThroughOrLost) {
    for (const UZDurability durability : {UZDurability::PerEntry, UZDurability::Batched}) {
        for (const Planted& c : planted_cases()) {
            SCOPED_TRACE(c.why);
            TempDir dir;
            fs::create_directories(dir.file("out"));
            fs::create_directories(dir.file("outside"));
            if (!c.plant(dir)) {
                std::printf("skipped (no links here): %s\n", c.why);
                continue;
            }
            write_file(dir.file("t.zip"), craft_zip(c.entries).bytes);
            WatchingPlatform os;
            UnZipper zip{os};
            zip.Durability = durability;
            zip.DoAll = zip.RecreateDirs = true;
            zip.OverwriteMode = c.mode;
            zip.SetDestDir(dir.file("out"));
            zip.SetZipName(dir.file("t.zip"));
            std::vector<std::string> skipped;
            zip.OnSkippingFile = [&](UnZipper&, SkipReason r, const std::string& name, int) {
                skipped.push_back(name + ": " + skip_reason_text(r));
            };
            EXPECT_EQ(zip.UnZip(), c.extracted);
            EXPECT_EQ(skipped, c.skipped);
            for (const auto& [name, content] : c.after) {
                SCOPED_TRACE(name);
                EXPECT_EQ(file_exists(dir.file(name)) || fs::exists(dir.file(name)), content.has_value());
                if (content) {
                    EXPECT_EQ(read_file(dir.file(name)), *content);
                }
            }
            EXPECT_EQ(leftovers(dir), 0u);
            EXPECT_TRUE(os.by_name.empty()) << os.by_name.front();
            EXPECT_EQ(os.ages_at_rename, std::vector<int32_t>(size_t(c.extracted), int32_t(kStored)));
        }
    }
}

// An OnPromptForOverwrite handler may send the entry elsewhere, another volume even:
// its temporary file is made there, where the rename can put it in place.
TEST(ZipPlanted, ARedirectedEntryIsWrittenBesideItsNewName) {
    TempDir dir;
    fs::create_directories(dir.file("out"));
    fs::create_directories(dir.file("elsewhere"));
    write_file(dir.file("out/a.txt"), "old");
    write_file(dir.file("t.zip"), craft_zip({{"a.txt", "new"}}).bytes);
    WatchingPlatform os;
    UnZipper zip{os};
    zip.DoAll = true;
    zip.SetDestDir(dir.file("out"));
    zip.SetZipName(dir.file("t.zip"));
    zip.OnPromptForOverwrite = [&](UnZipper&, bool& overwrite, int, std::string& name) {
        overwrite = true;
        name = dir.file("elsewhere/a.txt");
    };
    EXPECT_EQ(zip.UnZip(), 1);
    EXPECT_EQ(read_file(dir.file("out/a.txt")), "old");
    EXPECT_EQ(read_file(dir.file("elsewhere/a.txt")), "new");
    ASSERT_EQ(os.created.size(), 1u);
    EXPECT_EQ(fs::path(os.created[0]).parent_path(), fs::path(dir.file("elsewhere")));
}

}  // namespace
}  // namespace kalv::unzip
