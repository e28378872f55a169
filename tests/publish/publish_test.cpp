// Publishing on real files in temporary folders: the package put in place in one
// step, dated after the one it replaces, never seen half-written by a reader, and a
// failure that leaves the target and its folder as they were.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <set>
#include <thread>

#include "core/dos_time.h"
#include "core/errors.h"
#include "platform/platform.h"
#include "platform/admin_files.h"
#include "publish/publish.h"
#include "publish/publish_lock.h"
#include "files.h"
#include "unzip/unzipper.h"

namespace kalv::publish {
namespace {

using namespace kalv::testing;
namespace fs = std::filesystem;

const std::string kPassword = "k3m8_q7rw_2x4";

PublishOptions program_options(bool newer_than_replaced = true) {
    PublishOptions o;
    o.entry_name = "Kalvo3main";
    o.password = kPassword;
    o.newer_than_replaced = newer_than_replaced;
    return o;
}

std::set<std::string> names_in(const fs::path& dir) {
    std::set<std::string> names;
    for (const auto& e : fs::directory_iterator(dir)) names.insert(e.path().filename().string());
    return names;
}

// What the launcher's component extracts from `package` as Kalvo3main; empty
// optional when it extracts nothing.
std::optional<std::string> extract(const std::string& package, const std::string& dest) {
    unzip::UnZipper zip{platform::native()};
    zip.DoProcessMessages = false;
    zip.OverwriteMode = unzip::UZOverwriteMode::Always;
    zip.Password = kPassword;
    zip.SetZipName(package);
    zip.SetDestDir(dest);
    zip.FilesList = {"Kalvo3main"};
    if (zip.UnZip() != 1) return std::nullopt;
    return read_file(dest + "/Kalvo3main");
}

TEST(Publish, TwoPackagesOfOneFileDifferInTheirRandomEncryptionHeaders) {
    TempDir dir;
    const std::string program = pseudo_random_bytes(5000, 1);
    write_file(dir.file("program"), program);
    publish_package(platform::native(), dir.file("program"), dir.file("a.zip"), program_options(false));
    publish_package(platform::native(), dir.file("program"), dir.file("b.zip"), program_options(false));
    const std::string a = read_file(dir.file("a.zip")), b = read_file(dir.file("b.zip"));
    ASSERT_EQ(a.size(), b.size());
    constexpr size_t kHeaderAt = 30 + 10;  // local header and name
    EXPECT_EQ(a.substr(0, kHeaderAt), b.substr(0, kHeaderAt));
    EXPECT_NE(a.substr(kHeaderAt, 11), b.substr(kHeaderAt, 11)) << "the random part of the encryption header";
    EXPECT_EQ(extract(dir.file("a.zip"), dir.file("out-a")), program);
    EXPECT_EQ(extract(dir.file("b.zip"), dir.file("out-b")), program);
}

TEST(Publish, ReplacesTheTargetInOneStepDatedAfterIt) {
    TempDir dir;
    fs::create_directories(dir.path() / "share");
    const std::string target = dir.file("share/Kalvo3pack");
    write_file(dir.file("v1"), "version 1 of the program");
    write_file(dir.file("v2"), "version 2 of the program, a little longer");
    const PublishResult first = publish_package(platform::native(), dir.file("v1"), target, program_options());
    EXPECT_EQ(extract(target, dir.file("out1")), "version 1 of the program");
    // At once again: within the same two seconds of the DOS form, so the date must be
    // pushed past the first one's or no launcher holding version 1 would fetch it.
    const PublishResult second = publish_package(platform::native(), dir.file("v2"), target, program_options());
    EXPECT_EQ(extract(target, dir.file("out2")), "version 2 of the program, a little longer");
    EXPECT_GT(second.age, first.age);
    EXPECT_EQ(platform::native().file_age(target), second.age);
    EXPECT_FALSE(second.ahead_of_clock);
    EXPECT_EQ(names_in(dir.path() / "share"), std::set<std::string>{"Kalvo3pack"}) << "no temporary file left";
}

// A target dated ahead of this clock (a file server's) is outrun by one DOS step at
// once, across the ends of days, months (February of leap and other years) and years.
TEST(Publish, ATargetDatedAheadOfTheClockIsOutrunByOneStep) {
    struct Step {
        DosFields replaced, expected;
    };
    const Step steps[] = {
        {{2030, 6, 15, 10, 20, 30}, {2030, 6, 15, 10, 20, 32}},
        {{2030, 6, 15, 10, 59, 58}, {2030, 6, 15, 11, 0, 0}},
        {{2028, 2, 28, 23, 59, 58}, {2028, 2, 29, 0, 0, 0}},
        {{2029, 2, 28, 23, 59, 58}, {2029, 3, 1, 0, 0, 0}},
        {{2030, 12, 31, 23, 59, 58}, {2031, 1, 1, 0, 0, 0}},
        // From 2044 on a DOS date-time has its top bit set: a signed comparison put
        // these before 1980, dated the package now, and no shop fetched it.
        {{2044, 1, 1, 0, 0, 0}, {2044, 1, 1, 0, 0, 2}},
        {{2099, 12, 31, 23, 59, 58}, {2100, 1, 1, 0, 0, 0}},
        {{2107, 12, 31, 23, 59, 56}, {2107, 12, 31, 23, 59, 58}},
    };
    TempDir dir;
    write_file(dir.file("program"), "the program");
    platform::Platform& os = platform::native();
    for (const Step& s : steps) {
        SCOPED_TRACE(pack_dos(s.replaced));
        write_file(dir.file("Kalvo3pack"), "the package in place");
        ASSERT_TRUE(os.set_file_dos_time(dir.file("Kalvo3pack"), pack_dos(s.replaced)));
        const PublishResult r = publish_package(platform::native(), dir.file("program"), dir.file("Kalvo3pack"), program_options());
        EXPECT_TRUE(r.ahead_of_clock);
        EXPECT_EQ(uint32_t(os.file_age(dir.file("Kalvo3pack"))), pack_dos(s.expected));
        EXPECT_EQ(extract(dir.file("Kalvo3pack"), dir.file("out")), "the program");
    }
}

// A lock left behind is taken over when its holder is gone or it is old; a live one
// is waited for, up to the bound, and then named in the failure.
TEST(PublishLock, StaleLocksAreTakenOverLiveOnesWaitedFor) {
    const int64_t now = std::chrono::duration_cast<std::chrono::seconds>(
                            std::chrono::system_clock::now().time_since_epoch())
                            .count();
    const std::string here = platform::host_name();
    auto lock_text = [](uint64_t pid, const std::string& host, int64_t since) {
        return "kalvtool publish\npid=" + std::to_string(pid) + "\nhost=" + host + "\ntime=" + std::to_string(since) +
               "\n";
    };
    struct Case {
        const char* what;
        std::string content;
        bool taken;
    };
    // Beyond Linux's PID_MAX_LIMIT, and no Windows process id either.
    constexpr uint64_t kEndedPid = 4194311;
    const Case cases[] = {
        {"holder on this computer ended", lock_text(kEndedPid, here, now), true},
        {"holder on this computer runs", lock_text(platform::process_id(), here, now), false},
        {"holder on another computer, recent", lock_text(kEndedPid, "elsewhere", now - 60), false},
        {"holder on another computer, 11 minutes old", lock_text(1, "elsewhere", now - 11 * 60), true},
        {"a holder never written (died at once)", "", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        const std::string target = dir.file("Kalvo3pack");
        write_file(PublishLock::file_name(target), c.content);
        const auto wait = std::chrono::milliseconds(c.content.empty() ? 6000 : 300);
        if (c.taken) {
            {
                const PublishLock lock(platform::native(), target, wait);
                EXPECT_NE(read_file(PublishLock::file_name(target)), c.content);
            }
            EXPECT_FALSE(fs::exists(PublishLock::file_name(target))) << "let go";
        } else {
            try {
                const PublishLock lock(platform::native(), target, wait);
                ADD_FAILURE() << "a live lock was taken over";
            } catch (const Error& e) {
                EXPECT_NE(std::string(e.what()).find("Another publish to the same target holds"), std::string::npos);
                EXPECT_NE(std::string(e.what()).find(PublishLock::holder_text(c.content)), std::string::npos);
            }
            EXPECT_EQ(read_file(PublishLock::file_name(target)), c.content) << "left to its holder";
        }
    }
}

TEST(Publish, AFailureLeavesTheTargetAndItsFolderAsTheyWere) {
    struct Failure {
        const char* what;
        std::string file;    // relative to the test folder
        std::string target;  // relative to the test folder
        bool read_only_target;
    };
    const Failure failures[] = {
        {"missing folder", "program", "missing/Kalvo3pack", false},
        {"read-only target", "program", "share/Kalvo3pack", true},
        {"missing FILE", "no-such-program", "share/Kalvo3pack", false},
        {"FILE is a folder", "share", "share/Kalvo3pack", false},
        {"TARGET is a folder", "program", "share/folder", false},
    };
    for (const Failure& f : failures) {
        SCOPED_TRACE(f.what);
        TempDir dir;
        fs::create_directories(dir.path() / "share" / "folder");
        write_file(dir.file("program"), "the new program");
        write_file(dir.file("share/Kalvo3pack"), "the package in place");
        if (f.read_only_target)
            fs::permissions(dir.file("share/Kalvo3pack"), fs::perms::owner_write | fs::perms::group_write |
                                                              fs::perms::others_write, fs::perm_options::remove);
        const std::set<std::string> before = names_in(dir.path() / "share");
        EXPECT_THROW(publish_package(platform::native(), dir.file(f.file), dir.file(f.target), program_options()), Error);
        EXPECT_EQ(read_file(dir.file("share/Kalvo3pack")), "the package in place");
        EXPECT_EQ(names_in(dir.path() / "share"), before);
        EXPECT_FALSE(fs::exists(dir.path() / "missing"));
    }
}

// Readers open the target over and over while it is replaced: each read that opens
// it gets a whole package of one of the versions, never a part or a mixture. On
// Windows a reader holds the file without FILE_SHARE_DELETE, so the replacement waits
// for it; and MoveFileExA holds the file it renames with DELETE access for an instant,
// in which such a reader cannot open it (a launcher's copy then fails, silently, and
// it fetches at its next start). On POSIX every open succeeds.
TEST(Publish, ReadersMeanwhileSeeTheOldPackageOrTheNewOne) {
    TempDir dir;
    const std::string target = dir.file("Kalvo3pack");
    std::vector<std::string> versions;
    for (int v = 0; v < 4; ++v) {
        versions.push_back(pseudo_random_bytes(300000 + 1000 * v, 20 + v));
        write_file(dir.file("v" + std::to_string(v)), versions.back());
    }
    publish_package(platform::native(), dir.file("v0"), target, program_options(false));

    std::atomic<bool> done{false};
    std::atomic<int> whole{0}, refused{0}, torn{0};
    std::string torn_reason;  // the first, written by the reader only
    std::thread reader([&] {
        int n = 0;
        while (!done) {
            const std::string dest = dir.file("read" + std::to_string(n++ % 2));
            try {
                const auto got = extract(target, dest);
                if (got && std::find(versions.begin(), versions.end(), *got) != versions.end()) {
                    ++whole;
                } else if (torn++ == 0) {
                    torn_reason = got ? "content of no version" : "no entry extracted";
                }
            } catch (const FileStreamError& e) {
                if (e.message() == "Cannot open file " + target) {
                    ++refused;
                } else if (torn++ == 0) {
                    torn_reason = e.message();
                }
            } catch (const Error& e) {
                if (torn++ == 0) torn_reason = e.message();
            }
        }
    });
    for (int v = 1; v < 4; ++v) publish_package(platform::native(), dir.file("v" + std::to_string(v)), target, program_options(false));
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (whole < 3 && std::chrono::steady_clock::now() < deadline) std::this_thread::yield();
    done = true;
    reader.join();
    EXPECT_EQ(torn, 0) << torn_reason;
#ifndef _WIN32
    EXPECT_EQ(refused, 0);
#endif
    EXPECT_LE(refused, whole) << "refusals are the instants of a rename, not the rule";
    EXPECT_EQ(extract(target, dir.file("last")), versions.back());
}

}  // namespace
}  // namespace kalv::publish
