// The "files and directories" group of the platform, on the backend this build uses
// (POSIX natively, Win32 in the Windows build under Wine), on real files.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <atomic>
#include <filesystem>
#include <future>
#include <optional>

#include "core/dos_time.h"
#include "core/errors.h"
#include "platform/platform.h"
#include "files.h"

namespace kalv::platform {
namespace {

using kalv::testing::read_file;
using kalv::testing::TempDir;
using kalv::testing::write_file;

Platform& os() { return native(); }

const uint32_t kNoon2021 = pack_dos({2021, 6, 15, 12, 30, 44});
constexpr std::chrono::milliseconds kStall{5000};

TEST(PlatformFiles, FileAgeOfFilesDirectoriesAndNothing) {
    TempDir dir;
    write_file(dir.file("a.txt"), "a");
    ASSERT_TRUE(os().set_file_dos_time(dir.file("a.txt"), kNoon2021));
    EXPECT_EQ(os().file_age(dir.file("a.txt")), int32_t(kNoon2021));
    EXPECT_EQ(os().file_age(dir.file("missing")), -1);
    EXPECT_EQ(os().file_age(dir.path().string()), -1);  // a directory has no age
    EXPECT_EQ(os().file_age(dir.file("a*.txt")), -1);   // no wildcard lookups
}

// Regression: existence was "has an age", so a database dated 1979 counted as missing
// and was replaced by a blank one.
TEST(PlatformFiles, AFileBefore1980HasNoAgeButExists) {
    TempDir dir;
    write_file(dir.file("old.txt"), "o");
    std::filesystem::last_write_time(dir.path() / "old.txt",
                                     std::filesystem::file_time_type::clock::now() - std::chrono::hours(24 * 365 * 60));
    EXPECT_EQ(os().file_age(dir.file("old.txt")), -1);
    EXPECT_TRUE(os().file_exists(dir.file("old.txt")));
    EXPECT_FALSE(os().file_exists(dir.file("missing")));
    EXPECT_FALSE(os().file_exists(dir.path().string()));
}

// A read-only file is neither replaced nor deleted until its attribute is taken away
// (Windows' rule, mirrored on POSIX), and a copy never takes the attribute along.
TEST(PlatformFiles, ReadOnlyTargetsAndClearReadOnly) {
    TempDir dir;
    write_file(dir.file("program"), "old");
    ASSERT_TRUE(os().set_file_attributes(dir.file("program"), 0x01, 20));
    write_file(dir.file("new"), "new");
    EXPECT_FALSE(os().replace_file(dir.file("new"), dir.file("program")));
    EXPECT_EQ(read_file(dir.file("program")), "old");
    ASSERT_TRUE(os().copy_file(dir.file("program"), dir.file("copy"), false, kStall));
    EXPECT_TRUE(os().replace_file(dir.file("new"), dir.file("copy")));

    EXPECT_TRUE(os().clear_read_only(dir.file("program")));
    write_file(dir.file("new"), "new");
    EXPECT_TRUE(os().replace_file(dir.file("new"), dir.file("program")));
    EXPECT_EQ(read_file(dir.file("program")), "new");
    EXPECT_FALSE(os().clear_read_only(dir.file("missing")));
}

TEST(PlatformFiles, ALockHasOneHolderAtATime) {
    const std::string name = "kalv-test-lock-" + std::to_string(os().monotonic_time().count());
    // Asked from another thread: a Windows mutex lets its owning thread in again.
    const auto taken_elsewhere = [](const std::string& lock) {
        return std::async(std::launch::async, [&] { return os().try_lock(lock) != nullptr; }).get();
    };
    auto first = os().try_lock(name);
    ASSERT_NE(first, nullptr);
    EXPECT_FALSE(taken_elsewhere(name));
    EXPECT_TRUE(taken_elsewhere(name + "-other"));
    first.reset();
    EXPECT_TRUE(taken_elsewhere(name));
}

TEST(PlatformFiles, MoveRefusesAnExistingTarget) {
    TempDir dir;
    write_file(dir.file("from"), "new");
    write_file(dir.file("to"), "old");
    EXPECT_FALSE(os().move_file(dir.file("from"), dir.file("to")));
    EXPECT_EQ(read_file(dir.file("to")), "old");
    EXPECT_TRUE(os().move_file(dir.file("from"), dir.file("other")));
    EXPECT_EQ(read_file(dir.file("other")), "new");
    EXPECT_FALSE(std::filesystem::exists(dir.path() / "from"));
}

TEST(PlatformFiles, CopyKeepsTheModificationTimeAndHonoursFailIfExists) {
    TempDir dir;
    write_file(dir.file("src"), "payload");
    ASSERT_TRUE(os().set_file_dos_time(dir.file("src"), kNoon2021));
    write_file(dir.file("dst"), "old");
    EXPECT_FALSE(os().copy_file(dir.file("src"), dir.file("dst"), true, kStall));
    EXPECT_EQ(read_file(dir.file("dst")), "old");
    EXPECT_TRUE(os().copy_file(dir.file("src"), dir.file("dst"), false, kStall));
    EXPECT_EQ(read_file(dir.file("dst")), "payload");
    EXPECT_EQ(os().file_age(dir.file("dst")), int32_t(kNoon2021));
    EXPECT_FALSE(os().copy_file(dir.file("absent"), dir.file("x"), false, kStall));
}

// replace_file and replace_file_deferred (whose folder is synced afterwards) alike.
TEST(PlatformFiles, ReplacePutsAFileInPlaceOfAnotherKeepingItsTime) {
    for (const bool deferred : {false, true}) {
        SCOPED_TRACE(deferred ? "deferred" : "at once");
        auto replace = [&](const std::string& from, const std::string& to) {
            return deferred ? os().replace_file_deferred(from, to) : os().replace_file(from, to);
        };
        TempDir dir;
        write_file(dir.file("incoming"), "new");
        ASSERT_TRUE(os().set_file_dos_time(dir.file("incoming"), kNoon2021));
        write_file(dir.file("package"), "old");
        EXPECT_TRUE(replace(dir.file("incoming"), dir.file("package")));
        EXPECT_TRUE(os().sync_directory(dir.path().string()));
        EXPECT_EQ(read_file(dir.file("package")), "new");
        EXPECT_EQ(os().file_age(dir.file("package")), int32_t(kNoon2021));
        EXPECT_FALSE(std::filesystem::exists(dir.path() / "incoming"));
        // Nothing to put in place: the target stays as it was.
        EXPECT_FALSE(replace(dir.file("incoming"), dir.file("package")));
        EXPECT_EQ(read_file(dir.file("package")), "new");
        // A read-only target is not replaced.
        write_file(dir.file("incoming"), "newer");
        ASSERT_TRUE(os().set_file_attributes(dir.file("package"), 0x01, 20));
        EXPECT_FALSE(replace(dir.file("incoming"), dir.file("package")));
        EXPECT_EQ(read_file(dir.file("package")), "new");
    }
}

// A handle whose sync gives a set outcome and counts the calls.
class CountedSync final : public FileHandle {
public:
    explicit CountedSync(bool outcome) : outcome_(outcome) {}
    size_t read(void*, size_t) override { return 0; }
    size_t write(const void*, size_t n) override { return n; }
    int64_t seek(int64_t, SeekOrigin) override { return 0; }
    int64_t size() override { return 0; }
    bool sync() override {
        ++syncs;
        return outcome_;
    }
    std::atomic<int> syncs{0};

private:
    bool outcome_;
};

TEST(PlatformFiles, SyncFilesSyncsEachOnceAndTellsHowManyLeadingOnesAreOnTheDisk) {
    struct Case {
        size_t files;
        std::optional<size_t> failing;  // the one file whose sync fails
        size_t leading;
    };
    for (const Case& c : {Case{0, {}, 0}, Case{3, {}, 3}, Case{3, 1, 1}, Case{3, 0, 0}, Case{200, 157, 157}}) {
        SCOPED_TRACE(std::to_string(c.files) + " files");
        std::vector<std::unique_ptr<CountedSync>> handles;
        std::vector<FileHandle*> files;
        for (size_t i = 0; i < c.files; ++i) {
            handles.push_back(std::make_unique<CountedSync>(c.failing != i));
            files.push_back(handles.back().get());
        }
        EXPECT_EQ(os().sync_files(files), c.leading);
        for (const auto& handle : handles) EXPECT_EQ(handle->syncs.load(), 1);
    }
}

#ifndef _WIN32
// Regression: a read error in the middle of a copy ended it as if the source ended
// there, and the cut copy was reported complete. /proc/self/mem is a regular file
// whose first page cannot be read.
TEST(PlatformFiles, CopyThatCannotReadItsSourceFails) {
    TempDir dir;
    EXPECT_FALSE(os().copy_file("/proc/self/mem", dir.file("copy"), false, kStall));
    EXPECT_FALSE(std::filesystem::exists(dir.path() / "copy"));
}

// Regression: a source that stops delivering (here a FIFO whose writer went quiet, as
// a hung share does) kept the copy, and the launcher, waiting for ever.
TEST(PlatformFiles, CopyFromASourceThatStallsEndsAfterTheStallTimeout) {
    TempDir dir;
    const std::string fifo = dir.file("share");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const int writer = ::open(fifo.c_str(), O_RDWR);  // keeps the FIFO open, delivers nothing more
    ASSERT_GE(writer, 0);
    ASSERT_EQ(::write(writer, "PK", 2), 2);
    const auto started = std::chrono::steady_clock::now();
    EXPECT_FALSE(os().copy_file(fifo, dir.file("copy"), false, std::chrono::milliseconds(300)));
    const auto took = std::chrono::steady_clock::now() - started;
    EXPECT_GE(took, std::chrono::milliseconds(300));
    EXPECT_LT(took, std::chrono::seconds(5));
    EXPECT_FALSE(std::filesystem::exists(dir.path() / "copy"));
    ::close(writer);  // the abandoned reader sees the end and goes
}
#endif

TEST(PlatformFiles, DeleteAndDirectories) {
    TempDir dir;
    const std::string deep = (dir.path() / "a" / "b" / "c").string();
    EXPECT_FALSE(os().directory_exists(deep));
    EXPECT_TRUE(os().create_directories(deep));
    EXPECT_TRUE(os().directory_exists(deep));
    write_file(dir.file("gone"), "x");
    EXPECT_TRUE(os().delete_file(dir.file("gone")));
    EXPECT_FALSE(os().delete_file(dir.file("gone")));
    EXPECT_FALSE(os().delete_file(deep));  // directories are not files
}

// The standard library's filesystem::space is the peer: the room this user may still
// write, not the volume's size nor its free blocks with those kept for the system.
TEST(PlatformFiles, FreeSpaceIsTheRoomThisUserHas) {
    TempDir dir;
    const std::optional<uint64_t> ours = os().free_disk_space(dir.path().string());
    const uint64_t theirs = std::filesystem::space(dir.path()).available;
    ASSERT_TRUE(ours.has_value());
    const uint64_t tolerance = uint64_t(256) << 20;  // others write on this disk meanwhile
    EXPECT_LT(*ours > theirs ? *ours - theirs : theirs - *ours, tolerance) << *ours << " vs " << theirs;
    EXPECT_FALSE(os().free_disk_space(dir.file("missing")).has_value());
}

TEST(PlatformFiles, ReadOnlyFileCannotBeCreatedOver) {
    TempDir dir;
    write_file(dir.file("ro"), "keep");
    ASSERT_TRUE(os().set_file_attributes(dir.file("ro"), 0x01 /* read-only */, 20));
    EXPECT_THROW(os().open_file(dir.file("ro"), OpenMode::CreateNew), FileStreamError);
    EXPECT_EQ(read_file(dir.file("ro")), "keep");
    EXPECT_NO_THROW(os().open_file(dir.file("ro"), OpenMode::ReadDenyWrite));
}

// Regression: a link planted at the run log's name had the launcher append to its target.
TEST(PlatformFiles, NewFilesAndAppendsNeverGoThroughWhatStandsAtTheName) {
    TempDir dir;
    write_file(dir.file("victim"), "victim");
    std::error_code failed;
    std::filesystem::create_symlink(dir.file("victim"), dir.file("link"), failed);
    if (failed) GTEST_SKIP() << "no symbolic links here";
    EXPECT_THROW(os().open_file(dir.file("link"), OpenMode::CreateNew), FileStreamError);
    EXPECT_FALSE(os().append_file(dir.file("link"), "appended"));
    EXPECT_EQ(read_file(dir.file("victim")), "victim");
    EXPECT_TRUE(os().is_link(dir.file("link")));
    EXPECT_FALSE(os().is_link(dir.file("victim")));
#ifndef _WIN32
    ASSERT_EQ(::mkfifo(dir.file("fifo").c_str(), 0600), 0);
    EXPECT_FALSE(os().append_file(dir.file("fifo"), "x"));  // returns at once, nobody reading
#endif
}

// A file the launcher left itself (a download to resume) is read only where a regular
// file stands: a planted link is not followed, a FIFO does not block the start.
TEST(PlatformFiles, OwnFilesOpenOnlyWhereARegularFileStands) {
    TempDir dir;
    write_file(dir.file("own"), "own bytes");
    std::filesystem::create_directory(dir.path() / "folder");
    std::error_code failed;
    std::filesystem::create_symlink(dir.file("own"), dir.file("link"), failed);
    const bool links = !failed;
#ifndef _WIN32
    ASSERT_EQ(::mkfifo(dir.file("fifo").c_str(), 0600), 0);
#endif
    const struct {
        const char* name;
        bool opens;
    } rows[] = {{"own", true}, {"link", false}, {"folder", false}, {"missing", false},
#ifndef _WIN32
                {"fifo", false},
#endif
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        if (std::string(row.name) == "link" && !links) continue;
        OsResult<std::unique_ptr<FileHandle>> opened = os().open(dir.file(row.name), OpenMode::ReadOwnFile);
        ASSERT_EQ(bool(opened), row.opens);
        if (!row.opens) continue;
        char got[16] = {};
        EXPECT_EQ((*opened)->read(got, sizeof got), 9u);
        EXPECT_STREQ(got, "own bytes");
    }
}

// An HTTP-date's seconds and the file ages the refresh compares: a file last written
// at T has the age local_dos_age(T), and its stamp reads back as T.
TEST(PlatformFiles, UnixTimesMeetFileAgesAndStamps) {
    TempDir dir;
    const int64_t rows[] = {1623760244, 946684799, 2208988800, 315532799 - 86400};
    for (const int64_t t : rows) {
        SCOPED_TRACE(t);
        const std::string path = dir.file(std::to_string(t));
        TemporaryFile made = create_temporary_beside(os(), path, ".t");
        ASSERT_TRUE(made.handle->set_unix_time(t));
        made.handle.reset();
        EXPECT_EQ(local_dos_age(t), os().file_age(made.path));
        const std::optional<int64_t> stamp = os().modification_stamp(made.path);
        ASSERT_TRUE(stamp.has_value());
        EXPECT_EQ(unix_seconds_of_stamp(*stamp), t);
    }
    EXPECT_EQ(local_dos_age(315532799 - 86400), -1);  // 1979: before what the DOS form holds
}

TEST(PlatformFiles, OemNamesBecomeTheSystemEncoding) {
#ifdef _WIN32
    EXPECT_EQ(os().oem_to_ansi("\x8E" "rger.txt"), "\xC4" "rger.txt");  // OEM 437 -> ANSI 1252
#else
    EXPECT_EQ(os().oem_to_ansi("\x8E" "rger.txt"), "\xC3\x84" "rger.txt");  // 437 -> UTF-8 (U+00C4)
    EXPECT_EQ(os().oem_to_ansi("\xE1\xB0"), "\xC3\x9F\xE2\x96\x91");         // sharp s, light shade
#endif
    EXPECT_EQ(os().oem_to_ansi(std::string("a\0b", 3)), std::string("a\0b", 3));
}

#ifndef _WIN32
TEST(PlatformFiles, EntriesMadeOnUnixGetTheirPermissionBits) {
    TempDir dir;
    write_file(dir.file("tool"), "#!/bin/sh\n");
    ASSERT_TRUE(os().set_file_attributes(dir.file("tool"), (0100755u | 04000u) << 16, 0x031E));
    const auto perms = std::filesystem::status(dir.path() / "tool").permissions();
    EXPECT_EQ(unsigned(perms) & 07777, 0755u);  // without the set-user-id bit
    ASSERT_TRUE(os().set_file_attributes(dir.file("tool"), 0x20, 0x0014));  // made on DOS, archive bit
    EXPECT_EQ(unsigned(std::filesystem::status(dir.path() / "tool").permissions()) & 0777, 0755u);
}
#endif

}  // namespace
}  // namespace kalv::platform
