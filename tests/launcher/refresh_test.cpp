// NET.INF and the refresh of the program package from the upgrade location.
#include "launcher_fixture.h"

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

class Refresh : public LauncherFixture {
protected:
    const std::string target = kInstallDir + "Kalvo3pack";
    const Transcript fetched = {"copy " + kUpgrade + " -> <D>Kalvo3pack.incoming", "replace <D>Kalvo3pack by <D>Kalvo3pack.incoming"};
};

TEST_F(Refresh, NetInfIsReadBesideTheLauncherNotInTheCurrentDirectory) {
    os.cwd = kOtherDir;
    os.put_file(kOtherDir + "/NET.INF", "[DB]\nUpgrade=wrong\n");
    launcher::ReadNetInf();
    EXPECT_EQ(launcher::UpgradePath, "Kalvo3pack");
    os.put_file(kInstallDir + "NET.INF", "[db]\nupgrade = \"" + kUpgrade + "\"\n");
    launcher::ReadNetInf();
    EXPECT_EQ(launcher::UpgradePath, kUpgrade);
}

TEST_F(Refresh, NewerUpgradeCopyReplacesThePackageAndKeepsItsAge) {
    os.put_file(target, "old package", kOlder);
    os.put_file(kUpgrade, "new package", kTwoSecondsLater);
    launcher::HaveNewVersion(target, kUpgrade);
    EXPECT_EQ(os.transcript, fetched);
    EXPECT_EQ(os.content(target), "new package");
    EXPECT_EQ(os.dos_time(target), kTwoSecondsLater) << "else the next run would copy again";
    EXPECT_FALSE(os.has_file(target + ".incoming"));
    os.transcript.clear();
    launcher::HaveNewVersion(target, kUpgrade);
    EXPECT_TRUE(os.transcript.empty()) << "the refreshed package has the upgrade copy's age";
}

TEST_F(Refresh, SameOrOlderUpgradeCopyIsNeverCopied) {
    for (const uint32_t upgrade_age : {kTwoSecondsLater, kOlder}) {
        os.put_file(target, "local", kTwoSecondsLater);
        os.put_file(kUpgrade, "upgrade", upgrade_age);
        launcher::HaveNewVersion(target, kUpgrade);
        EXPECT_TRUE(os.transcript.empty());
        EXPECT_EQ(os.content(target), "local");
    }
}

TEST_F(Refresh, MissingOrUndatablePackageIsFetched) {
    os.put_file(kUpgrade, "upgrade", kOlder);
    launcher::HaveNewVersion(target, kUpgrade);
    EXPECT_EQ(os.transcript.back(), fetched.back());
    EXPECT_EQ(os.content(target), "upgrade");

    os.transcript.clear();
    os.put_file(target, "from 1979", kNoAge);
    launcher::HaveNewVersion(target, kUpgrade);
    EXPECT_EQ(os.transcript, fetched);
    EXPECT_EQ(os.content(target), "upgrade");
}

// Regression: the copy went straight onto the package, so a copy that broke off left a
// torn package that no later run could open.
TEST_F(Refresh, CopyThatBreaksOffLeavesThePackageWhole) {
    os.put_file(target, "old package", kOlder);
    os.put_file(kUpgrade, "new package, longer", kTwoSecondsLater);
    os.copy_breaks_after = 5;
    launcher::HaveNewVersion(target, kUpgrade);
    EXPECT_EQ(os.transcript,
              (Transcript{"copy " + kUpgrade + " -> <D>Kalvo3pack.incoming", "delete <D>Kalvo3pack.incoming"}));
    EXPECT_EQ(os.content(target), "old package");
    EXPECT_EQ(os.dos_time(target), kOlder);
    EXPECT_FALSE(os.has_file(target + ".incoming"));
}

TEST_F(Refresh, TornCopyReportedAsCompleteIsNotPutInPlace) {
    os.put_file(target, "old package", kOlder);
    os.put_file(kUpgrade, "new package, longer", kTwoSecondsLater);
    os.copy_breaks_after = 5;
    os.torn_copy_reported_complete = true;
    launcher::HaveNewVersion(target, kUpgrade);
    EXPECT_EQ(os.content(target), "old package");
    EXPECT_FALSE(os.has_file(target + ".incoming"));
}

struct MissingCase {
    const char* why;
    std::string source;
    bool directory;
    std::string box;
};

class MissingUpgradeCopy : public Refresh, public ::testing::WithParamInterface<MissingCase> {};

TEST_P(MissingUpgradeCopy, FileNotFoundBoxAndNothingCopied) {
    os.put_file(target, "local", kOlder);
    if (GetParam().directory) os.put_directory(GetParam().source);
    launcher::HaveNewVersion(target, GetParam().source);
    EXPECT_EQ(os.transcript, (Transcript{"box CopyFile | " + GetParam().box})) << GetParam().why;
    EXPECT_EQ(os.content(target), "local");
}

INSTANTIATE_TEST_SUITE_P(
    Refresh, MissingUpgradeCopy,
    ::testing::Values(MissingCase{"nothing there", kUpgrade, false, "File not found :\\r" + kUpgrade},
                      MissingCase{"a directory is no file", kUpgrade, true, "File not found :\\r" + kUpgrade},
                      MissingCase{"empty Upgrade value", "", false, "File not found :\\r"}));

TEST_F(Refresh, DefaultNameInTheLaunchersDirectoryIsThePackageItself) {
    os.put_file(target, "local", kOlder);
    launcher::HaveNewVersion(target, "Kalvo3pack");
    EXPECT_TRUE(os.transcript.empty());
}

TEST_F(Refresh, DefaultNameInAnotherDirectoryIsNotFound) {
    os.cwd = kOtherDir;
    os.put_file(target, "local", kOlder);
    launcher::HaveNewVersion(target, "Kalvo3pack");
    EXPECT_EQ(os.transcript, (Transcript{"box CopyFile | File not found :\\rKalvo3pack"}));
}

TEST_F(Refresh, FailureInsideIsShownAndGoesNoFurther) {
    os.put_file(kUpgrade, "upgrade", kTwoSecondsLater);
    os.failing_file_age = target;
    EXPECT_NO_THROW(launcher::HaveNewVersion(target, kUpgrade));
    EXPECT_EQ(os.transcript,
              (Transcript{"box CopyFile | Problem in HaveNewVersion : \\rAccess denied to " + target}));
}

}  // namespace
}  // namespace kalv::testing
