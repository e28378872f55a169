// The start token's plain text (in-memory INI document, comma text), the start of the
// application and the instance guard.
#include "launcher/ini_document.h"
#include "launcher_fixture.h"

namespace kalv::testing {
namespace {

using launcher::CommaText;
using launcher::IniDocument;

struct CommaCase {
    const char* why;
    std::string path;
    std::string expected;
};

class TokenPlainText : public ::testing::TestWithParam<CommaCase> {};

TEST_P(TokenPlainText, OfTheDatabasePath) {
    IniDocument document;
    document.write_string("SECTION", "DBpath", GetParam().path);
    EXPECT_EQ(CommaText(document.lines()), GetParam().expected) << GetParam().why;
}

INSTANTIATE_TEST_SUITE_P(
    Quoting, TokenPlainText,
    ::testing::Values(
        CommaCase{"plain path stands unquoted, final comma kept", "D:\\Shop\\KALVO3.IB",
                  "[SECTION],DBpath=D:\\Shop\\KALVO3.IB,"},
        CommaCase{"a blank quotes the element", "D:\\My Shop\\KALVO3.IB", "[SECTION],\"DBpath=D:\\My Shop\\KALVO3.IB\","},
        CommaCase{"inner quotes are doubled", "D:\\a\"b\\KALVO3.IB", "[SECTION],\"DBpath=D:\\a\"\"b\\KALVO3.IB\","},
        CommaCase{"a comma quotes", "D:\\a,b\\KALVO3.IB", "[SECTION],\"DBpath=D:\\a,b\\KALVO3.IB\","},
        CommaCase{"a control character quotes", "D:\\a\tb", "[SECTION],\"DBpath=D:\\a\tb\","},
        CommaCase{"a zero byte quotes", std::string("D:\\a\0b", 6), std::string("[SECTION],\"DBpath=D:\\a\0b\",", 26)},
        CommaCase{"letters beyond ASCII do not quote", "D:\\Caf\xE9\\KALVO3.IB", "[SECTION],DBpath=D:\\Caf\xE9\\KALVO3.IB,"}));

TEST(CommaText, EmptyListAndEmptyLines) {
    EXPECT_EQ(CommaText({}), "");
    EXPECT_EQ(CommaText({"a", "", "b"}), "a,,b");
    EXPECT_EQ(CommaText({"", ""}), ",");
}

TEST(IniDocument, SectionsAndKeysKeepTheirFirstOrderAndMatchWithoutCase) {
    IniDocument document = IniDocument::parse(
        "stray=before any section\r\n[B]\r\n  x=1  \r\n; comment\r\n\r\ny=2\r\n[SECTION]\ndbPATH=old\nz=3\r[c]");
    document.write_string("Section", "DBpath", "new");
    document.write_string("b", "w", "4");
    document.write_string("NEW", "k", "v");
    const std::vector<std::string> expected = {"[B]",       "x=1",      "y=2", "w=4", "",  "[SECTION]", "DBpath=new",
                                               "z=3",       "",         "[c]", "",    "[NEW]", "k=v",   ""};
    EXPECT_EQ(document.lines(), expected);
}

TEST(IniDocument, TextEndsAtItsFirstZeroByte) {
    const IniDocument document = IniDocument::parse(std::string("[A]\nx=1\0[B]\ny=2\n", 16));
    EXPECT_EQ(document.lines(), (std::vector<std::string>{"[A]", "x=1", ""}));
}

class StartToken : public LauncherFixture {};

TEST_F(StartToken, WithoutDummyFileOnlyTheDatabasePath) {
    EXPECT_EQ(launcher::BuildStartToken(os, kInstallDir + "KALVO3.IB"), "[SECTION],DBpath=" + kInstallDir + "KALVO3.IB,");
    EXPECT_TRUE(os.transcript.empty());
}

TEST_F(StartToken, DummyFileInTheCurrentDirectoryAddsItsSectionsAndIsLeftAlone) {
    os.cwd = kOtherDir;
    const std::string dummy = "[Extra]\r\nuser=anna\r\n[section]\r\nfirst=1\r\nDBPATH=C:\\old\r\nlast=2\r\n";
    os.put_file("DummyFile", dummy);
    EXPECT_EQ(launcher::BuildStartToken(os, "P"), "[Extra],user=anna,,[section],first=1,DBpath=P,last=2,");
    EXPECT_EQ(os.content("DummyFile"), dummy);
    EXPECT_TRUE(os.transcript.empty()) << "DummyFile is never created, changed or deleted";
}

TEST_F(StartToken, DummyFileBesideTheLauncherButNotInTheCurrentDirectoryIsIgnored) {
    os.cwd = kOtherDir;
    os.put_file(kInstallDir + "DummyFile", "[Extra]\nuser=anna\n");
    EXPECT_EQ(launcher::BuildStartToken(os, "P"), "[SECTION],DBpath=P,");
}

TEST_F(StartToken, ProgramStartedOnceWithoutABoxWhenItStarts) {
    launcher::RunProgram(os, os, "P token arg", "P");
    EXPECT_EQ(os.transcript, (Transcript{"start P | P token arg"}));
}

TEST_F(StartToken, FailureCodeGivesExactlyOneBox) {
    os.start_result = 2;
    launcher::RunProgram(os, os, "P token ", "P");
    EXPECT_EQ(os.transcript, (Transcript{"start P | P token ", "box ERROR | Can not start this program "}));
}

TEST_F(StartToken, RaisedFailureIsShownAndPassedOn) {
    os.start_failure = "no memory";
    EXPECT_THROW(launcher::RunProgram(os, os, "P token ", "P"), Error);
    EXPECT_EQ(os.transcript, (Transcript{"start P | P token ", "box ERROR | Can not start this program "}));
}

TEST_F(StartToken, GuardPassesWithoutTheApplicationsMutex) {
    os.held_mutexes = {"SomeOtherMutex"};
    EXPECT_TRUE(launcher::CheckSingleInstance(os, os));
    EXPECT_TRUE(os.transcript.empty());
}

TEST_F(StartToken, RefusedStartShowsOneBoxAndCreatesNoWindow) {
    os.held_mutexes = {"KalvMutexName"};
    bool window_created = false;
    const int exit_code = launcher::RunLauncher(os, [&]() -> std::unique_ptr<splash::SplashView> {
        window_created = true;
        return nullptr;
    });
    EXPECT_EQ(exit_code, 0);
    EXPECT_FALSE(window_created);
    EXPECT_EQ(os.transcript, (Transcript{"box Kalv | Can run only one instance of the program !"}));
}

struct TurnCase {
    const char* why;
    std::chrono::milliseconds other_launcher_for;  // how long another launcher holds the installation
    bool application_started;                     // ... and whether it started the application
    std::chrono::milliseconds waited;
    bool runs_the_sequence;
};

class LauncherBesideLauncher : public StartToken, public ::testing::WithParamInterface<TurnCase> {};

// Regression: two launchers started together both passed the guard and tore the
// program out from under each other ("Cannot create file", "Can not start").
TEST_P(LauncherBesideLauncher, WaitsItsTurnAndThenSeesTheApplication) {
    const TurnCase& c = GetParam();
    const std::string lock = launcher::InstallationLockName(kInstallDir);
    os.locks_held_until[lock] = c.other_launcher_for;
    if (c.application_started) os.held_mutexes = {"KalvMutexName"};
    bool window_created = false;
    launcher::RunLauncher(os, [&]() -> std::unique_ptr<splash::SplashView> {
        window_created = true;
        throw Error("no window here");
    });
    EXPECT_EQ(os.clock, c.waited) << c.why;
    EXPECT_EQ(window_created, c.runs_the_sequence) << c.why;
    EXPECT_EQ(os.transcript.front(), c.other_launcher_for.count() ? "pump" : "box Kalv | Can run only one instance of the program !");
    if (c.other_launcher_for < launcher::kOtherLauncherWait) {
        EXPECT_EQ(os.without({"pump"}).front(), "lock " + lock + " waited " + std::to_string(c.other_launcher_for.count()));
    }
}

using std::chrono::milliseconds;
INSTANTIATE_TEST_SUITE_P(
    StartToken, LauncherBesideLauncher,
    ::testing::Values(
        TurnCase{"the other one started the application", milliseconds(5000), true, milliseconds(5000), false},
        TurnCase{"the other one failed: the application is given its moment, then this one runs",
                 milliseconds(5000), false, milliseconds(5000) + launcher::kApplicationStartWait, true},
        TurnCase{"a hung launcher holds the installation: the turn is taken after the bound", milliseconds(600000),
                 false, launcher::kOtherLauncherWait + launcher::kApplicationStartWait, true}));

TEST_F(StartToken, InstallationsHaveTheirOwnLockWhateverTheLetterCase) {
    const auto lock_of = [&](const std::string& dir) { return launcher::InstallationLockName(dir); };
    const char d = kInstallDir.back();
    const std::string upper = lock_of(std::string(1, d) + "SHOP" + d);
    EXPECT_EQ(lock_of(std::string(1, d) + "shop" + d), upper);
    EXPECT_NE(lock_of(std::string(1, d) + "Other Shop" + d), upper);
    EXPECT_EQ(upper.find_first_of("\\/"), std::string::npos) << "mutex names take no backslash";
}

}  // namespace
}  // namespace kalv::testing
