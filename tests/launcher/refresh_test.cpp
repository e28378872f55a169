// NET.INF and the refresh of the program package from the upgrade location.
#include <functional>
#include <optional>
#include <set>

#include "files.h"
#include "launcher/run_log.h"
#include "launcher_fixture.h"

#ifndef _WIN32
#include <sys/stat.h>

#include <filesystem>
#endif

namespace kalv::testing {
namespace {

constexpr uint32_t kOlder = 0x5A8B6000;          // 2025-04-11 12:00:00
constexpr uint32_t kTwoSecondsLater = 0x5A8B6001;
constexpr uint32_t kNoAge = 0xFFFFFFFF;         // a last-write time the DOS form cannot hold

#ifdef _WIN32
const std::string kUpgrade = "\\\\server\\share\\Kalvo3pack";
#else
const std::string kUpgrade = "/mnt/server/Kalvo3pack";
#endif

std::string read_package(const std::string& name) {
    RecordingPlatform loader("");
    loader.put_real_file("/p", package(name));
    return loader.content("/p");
}

class Refresh : public LauncherFixture {
protected:
    Refresh() {
        local = read_package("program.zip");
        upgrade = read_package("program_v2.zip");
    }
    const std::string target = kInstallDir + "Kalvo3pack";
    std::string local, upgrade;  // two sound packages, version 1 and version 2
    // The copy, the test pass over it (one pump per input block), the replacement.
    const Transcript fetched = {"copy " + kUpgrade + " -> <D>Kalvo3pack.tmp.incoming", "pump",
                                "replace <D>Kalvo3pack by <D>Kalvo3pack.tmp.incoming"};
    const Transcript refused = {"copy " + kUpgrade + " -> <D>Kalvo3pack.tmp.incoming",
                                "delete <D>Kalvo3pack.tmp.incoming"};
    // A copy that failed removed what it made itself: nothing is deleted by name, so
    // nothing that stood at the name before it is lost.
    const Transcript failed = {refused[0]};
};

TEST_F(Refresh, NetInfIsReadBesideTheLauncherNotInTheCurrentDirectory) {
    os.cwd = kOtherDir;
    os.put_file(kOtherDir + "/NET.INF", "[DB]\nUpgrade=wrong\n");
    launcher::ReadNetInf(os, installation);
    EXPECT_FALSE(installation.UpgradeConfigured);
    os.put_file(kInstallDir + "NET.INF", "[db]\nupgrade = \"" + kUpgrade + "\"\n");
    launcher::ReadNetInf(os, installation);
    EXPECT_TRUE(installation.UpgradeConfigured);
    EXPECT_EQ(installation.UpgradePath, kUpgrade);
}

struct NetInfCase {
    const char* why;
    std::optional<std::string> content;  // none: no NET.INF
    std::optional<std::string> upgrade;  // none: no refresh at all
    std::string logged;                  // the run log's "upgrade path: ..." line
};

class NetInfRead : public Refresh, public ::testing::WithParamInterface<NetInfCase> {};

// Regression: without NET.INF (or its key) the default "Kalvo3pack" was looked up in
// the current directory, so a package lying in the folder the launcher was started
// from (a download folder) was fetched and installed; a NET.INF saved with a UTF-8
// byte-order mark was ignored without a word.
TEST_P(NetInfRead, OnlyAnUpgradeKeyOfTheFileGivesARefresh) {
    if (GetParam().content) os.put_file(kInstallDir + "NET.INF", *GetParam().content);
    launcher::runlog::Begin(os, kInstallDir);
    launcher::ReadNetInf(os, installation);
    EXPECT_EQ(installation.UpgradeConfigured, GetParam().upgrade.has_value()) << GetParam().why;
    EXPECT_EQ(installation.UpgradePath, GetParam().upgrade.value_or("")) << GetParam().why;
    launcher::runlog::Write();
    const std::string log = os.content(kInstallDir + "Kalv3.log");
    EXPECT_NE(log.find("\r\nupgrade path: " + GetParam().logged + "\r\n"), std::string::npos) << log;
}

INSTANTIATE_TEST_SUITE_P(
    Refresh, NetInfRead,
    ::testing::Values(
        NetInfCase{"no file", std::nullopt, std::nullopt, "none, there is no NET.INF; no refresh"},
        NetInfCase{"no [DB] section", "[NET]\nUpgrade=x\n", std::nullopt,
                   "none, NET.INF has no [DB] section; no refresh"},
        NetInfCase{"a typo in the key", "[DB]\nUpgarde=x\nMode=1\n", std::nullopt,
                   "none, NET.INF's [DB] section has no Upgrade key (it has: Upgarde, Mode); no refresh"},
        NetInfCase{"UTF-16 text", std::string("\xFF\xFE[\0D\0B\0]\0", 10), std::nullopt,
                   "none, NET.INF is UTF-16 text, which is not read (save it as ANSI or UTF-8); no refresh"},
        NetInfCase{"a UTF-8 byte-order mark", "\xEF\xBB\xBF[DB]\r\nUpgrade=" + kUpgrade + "\r\n", kUpgrade,
                   kUpgrade},
        NetInfCase{"an explicit relative name stays", "[DB]\nUpgrade=Kalvo3pack\n", "Kalvo3pack", "Kalvo3pack"},
        NetInfCase{"an explicit empty value stays", "[DB]\nUpgrade=\n", "", ""}));

TEST_F(Refresh, NewerUpgradeCopyReplacesThePackageAndKeepsItsAge) {
    os.put_file(target, local, kOlder);
    os.put_file(kUpgrade, upgrade, kTwoSecondsLater);
    launcher::HaveNewVersion(os, os, target, kUpgrade);
    EXPECT_EQ(os.transcript, fetched);
    EXPECT_EQ(os.content(target), upgrade);
    EXPECT_EQ(os.dos_time(target), kTwoSecondsLater) << "else the next run would copy again";
    EXPECT_FALSE(os.has_file(target + ".tmp.incoming"));
    os.transcript.clear();
    launcher::HaveNewVersion(os, os, target, kUpgrade);
    EXPECT_TRUE(os.transcript.empty()) << "the refreshed package has the upgrade copy's age";
}

struct AgeCase {
    const char* why;
    std::optional<uint32_t> local_age;  // none: no local package
    uint32_t upgrade_age;
    bool fetched;
};

class RefreshByAge : public Refresh, public ::testing::WithParamInterface<AgeCase> {};

TEST_P(RefreshByAge, OnlyANewerCopyIsFetched) {
    if (GetParam().local_age) os.put_file(target, local, *GetParam().local_age);
    os.put_file(kUpgrade, upgrade, GetParam().upgrade_age);
    launcher::HaveNewVersion(os, os, target, kUpgrade);
    EXPECT_EQ(os.transcript, GetParam().fetched ? fetched : Transcript{}) << GetParam().why;
    EXPECT_EQ(os.content(target), GetParam().fetched ? upgrade : local) << GetParam().why;
}

constexpr uint32_t k2025 = 0x5A8B6000, k2045 = 0xCA8B6000;  // 2045: the top bit is set

INSTANTIATE_TEST_SUITE_P(
    Refresh, RefreshByAge,
    ::testing::Values(AgeCase{"two seconds newer", kOlder, kTwoSecondsLater, true},
                      AgeCase{"same age", kTwoSecondsLater, kTwoSecondsLater, false},
                      AgeCase{"older", kTwoSecondsLater, kOlder, false},
                      AgeCase{"no local package", std::nullopt, kOlder, true},
                      AgeCase{"no local package, undatable copy", std::nullopt, kNoAge, true},
                      AgeCase{"undatable local package", kNoAge, kOlder, true},
                      AgeCase{"undatable copy is not shown to be newer", kOlder, kNoAge, false},
                      // Regression: ages compared as signed numbers put 2044 and later before 1980.
                      AgeCase{"local 2045, copy 2025", k2045, k2025, false},
                      AgeCase{"local 2025, copy 2045", k2025, k2045, true}));

struct BrokenCopyCase {
    const char* why;
    std::function<std::string(std::string)> damage;  // applied to the sound upgrade package
};

class BrokenUpgradeCopy : public Refresh, public ::testing::WithParamInterface<BrokenCopyCase> {};

// Regression: any copy as long as its source replaced the package, so a truncated or
// damaged upgrade copy (or one still being published) broke every shop that fetched it.
TEST_P(BrokenUpgradeCopy, IsNeverInstalledAndLeavesNothingBehind) {
    os.put_file(target, local, kOlder);
    os.put_file(kUpgrade, GetParam().damage(upgrade), kTwoSecondsLater);
    launcher::HaveNewVersion(os, os, target, kUpgrade);
    EXPECT_EQ(os.without({"pump"}), refused) << GetParam().why;
    EXPECT_EQ(os.content(target), local) << GetParam().why;
    EXPECT_EQ(os.dos_time(target), kOlder);
    EXPECT_FALSE(os.has_file(target + ".tmp.incoming"));
}

INSTANTIATE_TEST_SUITE_P(
    Refresh, BrokenUpgradeCopy,
    ::testing::Values(
        BrokenCopyCase{"half published", [](std::string p) { return p.substr(0, p.size() / 2); }},
        BrokenCopyCase{"end record cut off", [](std::string p) { return p.substr(0, p.size() - 10); }},
        BrokenCopyCase{"one bit flipped in the data", [](std::string p) { p[p.size() / 3] ^= 0x10; return p; }},
        BrokenCopyCase{"wrong password", [](std::string) { return read_package("wrong_password.zip"); }},
        BrokenCopyCase{"no program entry", [](std::string) { return read_package("without_entry.zip"); }},
        BrokenCopyCase{"not an archive", [](std::string) { return read_package("not_a_zip.bin"); }}));

// Regression: an upgrade location that stopped delivering kept the launcher at
// "Checking..." for ever.
TEST_F(Refresh, StalledCopyEndsAfterItsTimeOutAsAFailedCopy) {
    os.put_file(target, local, kOlder);
    os.put_file(kUpgrade, upgrade, kTwoSecondsLater);
    os.copy_stalls = true;
    launcher::HaveNewVersion(os, os, target, kUpgrade);
    EXPECT_EQ(os.transcript, failed);
    EXPECT_EQ(os.clock, launcher::kCopyStallTimeout);
    EXPECT_EQ(os.content(target), local);
}

// Regression: the copy went to the fixed name Kalvo3pack.incoming, so a read-only
// leftover there blocked every upgrade, and a file planted there was truncated.
TEST_F(Refresh, WhatStandsAtTheOldCopyNameBlocksNothingAndIsKept) {
    os.put_file(target, local, kOlder);
    os.put_file(target + ".incoming", "somebody's");
    os.read_only.insert(target + ".incoming");
    os.put_file(kUpgrade, upgrade, kTwoSecondsLater);
    launcher::HaveNewVersion(os, os, target, kUpgrade);
    EXPECT_EQ(os.transcript, fetched);
    EXPECT_EQ(os.content(target), upgrade);
    EXPECT_EQ(os.content(target + ".incoming"), "somebody's");
}

TEST_F(Refresh, AReadOnlyPackageIsStillReplaced) {
    os.put_file(target, local, kOlder);
    os.read_only.insert(target);
    os.put_file(kUpgrade, upgrade, kTwoSecondsLater);
    launcher::HaveNewVersion(os, os, target, kUpgrade);
    EXPECT_EQ(os.transcript, (Transcript{fetched[0], fetched[1], "writable <D>Kalvo3pack", fetched[2]}));
    EXPECT_EQ(os.content(target), upgrade);
}

// Regression: the copy went straight onto the package, so a copy that broke off left a
// torn package that no later run could open. A copy cut short is not installed even
// when what it got reads as a package (the source has bytes after its end record).
TEST_F(Refresh, CopyThatBreaksOffLeavesThePackageWhole) {
    os.put_file(target, local, kOlder);
    os.put_file(kUpgrade, upgrade + std::string(1000, '\0'), kTwoSecondsLater);
    for (const auto& [breaks_after, reported_complete] :
         {std::pair{size_t{5}, false}, {size_t{5}, true}, {upgrade.size(), true}}) {
        os.transcript.clear();
        os.copy_breaks_after = breaks_after;
        os.torn_copy_reported_complete = reported_complete;
        launcher::HaveNewVersion(os, os, target, kUpgrade);
        EXPECT_EQ(os.transcript, reported_complete ? refused : failed);
        EXPECT_EQ(os.content(target), local);
        EXPECT_FALSE(os.has_file(target + ".tmp.incoming"));
    }
}

struct MissingCase {
    const char* why;
    std::string source;
    bool directory;
    std::string box;
};

class MissingUpgradeCopy : public Refresh, public ::testing::WithParamInterface<MissingCase> {};

TEST_P(MissingUpgradeCopy, FileNotFoundBoxAndNothingCopied) {
    os.put_file(target, local, kOlder);
    if (GetParam().directory) os.put_directory(GetParam().source);
    launcher::HaveNewVersion(os, os, target, GetParam().source);
    EXPECT_EQ(os.transcript, (Transcript{"box CopyFile | " + GetParam().box})) << GetParam().why;
    EXPECT_EQ(os.content(target), local);
}

INSTANTIATE_TEST_SUITE_P(
    Refresh, MissingUpgradeCopy,
    ::testing::Values(MissingCase{"nothing there", kUpgrade, false, "File not found :\\r" + kUpgrade},
                      MissingCase{"a directory is no file", kUpgrade, true, "File not found :\\r" + kUpgrade},
                      MissingCase{"empty Upgrade value", "", false, "File not found :\\r"}));

TEST_F(Refresh, DefaultNameInTheLaunchersDirectoryIsThePackageItself) {
    os.put_file(target, local, kOlder);
    launcher::HaveNewVersion(os, os, target, "Kalvo3pack");
    EXPECT_TRUE(os.transcript.empty());
}

TEST_F(Refresh, DefaultNameInAnotherDirectoryIsNotFound) {
    os.cwd = kOtherDir;
    os.put_file(target, local, kOlder);
    launcher::HaveNewVersion(os, os, target, "Kalvo3pack");
    EXPECT_EQ(os.transcript, (Transcript{"box CopyFile | File not found :\\rKalvo3pack"}));
}

TEST_F(Refresh, FailureInsideIsShownAndGoesNoFurther) {
    os.put_file(kUpgrade, "upgrade", kTwoSecondsLater);
    os.failing_file_age = target;
    EXPECT_NO_THROW(launcher::HaveNewVersion(os, os, target, kUpgrade));
    EXPECT_EQ(os.transcript,
              (Transcript{"box CopyFile | Problem in HaveNewVersion : \\rAccess denied to " + target}));
}

#ifndef _WIN32
// A FIFO at the upgrade path, natively: a look at it answers, but its open never
// returns, as a file on a share that hangs does. The refresh gives up after the bound.
TEST(RefreshNative, AnUpgradeCopyWhoseOpenNeverReturnsCostsOneBoundAndLeavesThePackage) {
    TempDir dir;
    const std::string target = dir.file("Kalvo3pack"), fifo = dir.file("upgrade");
    const std::string local = read_file(package("program.zip"));
    write_file(target, local);
    std::filesystem::last_write_time(target, std::filesystem::last_write_time(target) - std::chrono::hours(1));
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    RecordedUiPlatform ui;
    const std::chrono::milliseconds bound(300);
    const auto before = std::chrono::steady_clock::now();
    launcher::HaveNewVersion(ui, ui, target, fifo, bound);
    const auto took = std::chrono::steady_clock::now() - before;
    EXPECT_GE(took, bound);
    EXPECT_LT(took, 10 * bound);
    EXPECT_TRUE(ui.boxes.empty());
    EXPECT_EQ(read_file(target), local);
    std::set<std::string> left;  // no temporary copy among them
    for (const auto& entry : std::filesystem::directory_iterator(dir.path())) left.insert(entry.path().filename());
    EXPECT_EQ(left, (std::set<std::string>{"Kalvo3pack", "upgrade"}));
}
#endif

}  // namespace
}  // namespace kalv::testing
