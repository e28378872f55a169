// The startup sequence on the recording fake, one whole transcript per situation: each
// row of the sequence's and the refresh's failure tables, and the edge cases that a
// plausible fault would change (platform rename, existing database, quoting of the
// first argument, the cursor on every path, the entry's window).
#include <algorithm>
#include <fstream>

#include "cipher/text_cipher.h"
#include "launcher/run_log.h"
#include "launcher_fixture.h"

namespace kalv::testing {
namespace {

bool starts_with(const std::string& text, const std::string& prefix) { return text.rfind(prefix, 0) == 0; }

constexpr uint32_t kPackageAge = 0x5A8B6000;
constexpr uint32_t kNewerAge = 0x5A8C6000;

// The splash window of a whole run: the fake paints it and records its life.
struct Window final : splash::SplashView {
    RecordingPlatform& fake;
    explicit Window(RecordingPlatform& f) : fake(f) { fake.transcript.push_back("window shown"); }
    ~Window() override { fake.transcript.push_back("window freed"); }
    std::string caption() const override { return fake.caption(); }
    void set_caption(const std::string& t) override { fake.set_caption(t); }
    void set_status(const std::string& t) override { fake.set_status(t); }
    void set_progress_max(int m) override { fake.set_progress_max(m); }
    void set_progress_position(int p) override { fake.set_progress_position(p); }
};

class Startup : public LauncherFixture {
protected:
    Startup() {
        os.put_real_file(kInstallDir + "Kalvo3pack", package("program.zip"), kPackageAge);
        os.put_real_file(kInstallDir + "Volka.bpl", package("database.zip"), kPackageAge);
    }

    // Runs the sequence as the entry does: with the fake as the splash window.
    Transcript run() {
        launcher::RunStartup(launcher_os, installation, os);
        return os.transcript;
    }

    std::string token() const {
        return EncryptText("[SECTION],DBpath=" + kInstallDir + "KALVO3.IB,");
    }
    std::string start_line(const std::string& program, const std::string& first_argument = "") const {
        return "start <D>" + program + " | " + kInstallDir + program + " " + token() + " " + first_argument;
    }

    const Transcript opening = {"max 3", "position 1", "status Loading...", "cursor AppStart",
                                "delete <D>Kalvo3main", "pump", "position 2", "status Checking..."};
    // Each entry on the disk before its name: synced, then renamed in place at once
    // (not a rename whose folder is synced later), before the next step begins.
    const Transcript program_unpacked = {"create <D>Kalvo3main.tmp.partial", "pump", "sync <D>Kalvo3main.tmp.partial",
                                         "replace <D>Kalvo3main by <D>Kalvo3main.tmp.partial",
                                         "caption Kalvo... ( Setuping... )"};
    const Transcript database_unpacked = {"create <D>KALVO3.IB.tmp.partial", "pump", "sync <D>KALVO3.IB.tmp.partial",
                                          "replace <D>KALVO3.IB by <D>KALVO3.IB.tmp.partial"};
    const Transcript starting = {"position 3", "status Starting...", "pump"};
    const Transcript closing = {"status Ready !", "cursor Default"};
    const std::string file_processing_box =
        "box Kalvo... | Error in file processing : \\r" + kInstallDir + "Kalvo3pack";

    static Transcript join(std::initializer_list<Transcript> parts) {
        Transcript all;
        for (const Transcript& part : parts) all.insert(all.end(), part.begin(), part.end());
        return all;
    }
};

TEST_F(Startup, FirstRunUnpacksProgramAndDatabaseAndStartsTheApplication) {
    EXPECT_EQ(run(), join({opening, program_unpacked, database_unpacked, starting, {start_line("Kalvo3main")},
                           closing}));
    EXPECT_TRUE(starts_with(os.content(kInstallDir + "KALVO3.IB"), "database page 1\n"));
    EXPECT_TRUE(starts_with(os.content(kInstallDir + "Kalvo3main"), "program version 1, line 1\n"));
    EXPECT_EQ(installation.DatabasePath, kInstallDir + "KALVO3.IB");
}

TEST_F(Startup, TokenDecryptsToTheDatabasePathWithItsFinalComma) {
    run();
    const std::string plain = DecryptText(token());
    EXPECT_EQ(plain.substr(0, plain.find('\0')), "[SECTION],DBpath=" + kInstallDir + "KALVO3.IB,");
}

// Regression: a database whose date the DOS form cannot hold (before 1980, after 2107:
// a dead clock battery, a restore without times) counted as missing and was replaced
// by the blank one from the package.
TEST_F(Startup, ExistingDatabaseIsNeitherReplacedNorItsPackageRequiredWhateverItsDate) {
    for (const uint32_t age : {kPackageAge, 0xFFFFFFFFu}) {
        os.caption_text = "Kalvo...";
        os.put_file(kInstallDir + "KALVO3.IB", "the shop's data", age);
        os.delete_file(kInstallDir + "Volka.bpl");
        os.transcript.clear();
        EXPECT_EQ(run(), join({opening, program_unpacked, starting, {start_line("Kalvo3main")}, closing}));
        EXPECT_EQ(os.content(kInstallDir + "KALVO3.IB"), "the shop's data");
    }
}

// Regression: a program unpacked read-only could be neither deleted nor replaced by the
// next run, which then failed on every start.
TEST_F(Startup, AReadOnlyProgramIsReplacedRunAfterRun) {
    run();
    for (int runs = 0; runs < 3; ++runs) {
        os.read_only.insert(kInstallDir + "Kalvo3main");
        os.transcript.clear();
        const Transcript transcript = run();
        EXPECT_EQ(transcript[4], "writable <D>Kalvo3main");
        EXPECT_EQ(transcript[5], "delete <D>Kalvo3main");
        EXPECT_EQ(transcript[transcript.size() - 3], start_line("Kalvo3main"));
    }
}

TEST_F(Startup, OutsideTheNtFamilyTheProgramIsRenamedAndStartedWithItsExtension) {
    os.platform_id_value = 1;
    os.put_file(kInstallDir + "Kalvo3main.exe", "left from the last run");
    Transcript expected = join({opening, program_unpacked, database_unpacked, starting,
                                {"move <D>Kalvo3main -> <D>Kalvo3main.exe", "pump", start_line("Kalvo3main.exe")},
                                closing});
    expected[4] = "delete <D>Kalvo3main.exe";
    EXPECT_EQ(run(), expected);
    EXPECT_TRUE(os.has_file(kInstallDir + "Kalvo3main.exe"));
    EXPECT_FALSE(os.has_file(kInstallDir + "Kalvo3main"));
}

TEST_F(Startup, FirstArgumentIsPassedOnUnquotedAndNoArgumentLeavesATrailingBlank) {
    os.arguments = {"two words", "ignored"};
    const Transcript transcript = run();
    EXPECT_EQ(transcript[transcript.size() - 3], start_line("Kalvo3main", "two words"));

    os.transcript.clear();
    os.arguments.clear();
    const Transcript without = run();
    const std::string& start = without[without.size() - 3];
    EXPECT_EQ(start.substr(start.size() - token().size() - 1), token() + " ");
}

TEST_F(Startup, NewerUpgradeCopyIsFetchedBeforeTheProgramIsUnpacked) {
    const std::string upgrade = kOtherDir + "/Kalvo3pack";
    os.put_file(kInstallDir + "NET.INF", "[DB]\r\nUpgrade=" + upgrade + "\r\n");
    os.put_real_file(upgrade, package("program_v2.zip"), kNewerAge);
    const Transcript transcript = run();
    const Transcript fetch = {"copy " + upgrade + " -> <D>Kalvo3pack.tmp.incoming", "pump",
                              "replace <D>Kalvo3pack by <D>Kalvo3pack.tmp.incoming"};
    EXPECT_EQ(transcript, join({opening, fetch, program_unpacked, database_unpacked, starting,
                                {start_line("Kalvo3main")}, closing}));
    EXPECT_TRUE(starts_with(os.content(kInstallDir + "Kalvo3main"), "program version 2, line 1\n"));
}

// ---- the failure tables, row by row ------------------------------------------------

TEST_F(Startup, UpgradeCopyMissingIsToldAndTheLocalPackageUsed) {
    os.put_file(kInstallDir + "NET.INF", "[DB]\nUpgrade=" + kOtherDir + "/gone\n");
    EXPECT_EQ(run(), join({opening, {"box CopyFile | File not found :\\r" + kOtherDir + "/gone"}, program_unpacked,
                           database_unpacked, starting, {start_line("Kalvo3main")}, closing}));
}

TEST_F(Startup, CopyThatFailsIsSilentAndTheLocalPackageUsed) {
    const std::string upgrade = kOtherDir + "/Kalvo3pack";
    os.put_file(kInstallDir + "NET.INF", "[DB]\nUpgrade=" + upgrade + "\n");
    os.put_real_file(upgrade, package("program_v2.zip"), kNewerAge);
    os.copy_breaks_after = 100;
    EXPECT_EQ(run(), join({opening,
                           {"copy " + upgrade + " -> <D>Kalvo3pack.tmp.incoming"},
                           program_unpacked, database_unpacked, starting, {start_line("Kalvo3main")}, closing}));
    EXPECT_TRUE(starts_with(os.content(kInstallDir + "Kalvo3main"), "program version 1, line 1\n"));
}

TEST_F(Startup, FailureInsideTheRefreshIsShownAndTheSequenceGoesOn) {
    os.put_file(kInstallDir + "NET.INF", "[DB]\nUpgrade=Kalvo3pack\n");
    os.failing_file_age = "Kalvo3pack";
    EXPECT_EQ(run(), join({opening, {"box CopyFile | Problem in HaveNewVersion : \\rAccess denied to Kalvo3pack"},
                           program_unpacked, database_unpacked, starting, {start_line("Kalvo3main")}, closing}));
}

TEST_F(Startup, MissingPackageAndMissingUpgradeCopyGiveTwoBoxesInOrder) {
    os.put_file(kInstallDir + "NET.INF", "[DB]\nUpgrade=" + kOtherDir + "/gone\n");
    os.delete_file(kInstallDir + "Kalvo3pack");
    os.transcript.clear();
    EXPECT_EQ(run(), join({opening,
                           {"box CopyFile | File not found :\\r" + kOtherDir + "/gone", "position 3",
                            "status Starting...", file_processing_box},
                           closing}));
}

// Regression: started from another folder (a download folder), a launcher without
// NET.INF fetched the "Kalvo3pack" lying there and kept it installed.
TEST_F(Startup, WithoutNetInfNothingIsFetchedFromTheCurrentDirectory) {
    os.cwd = kOtherDir;
    os.put_real_file(kOtherDir + "/Kalvo3pack", package("program_v2.zip"), kNewerAge);
    for (const bool local_package : {true, false}) {
        if (!local_package) os.delete_file(kInstallDir + "Kalvo3pack");
        os.transcript.clear();
        const Transcript transcript = run();
        EXPECT_EQ(std::count_if(transcript.begin(), transcript.end(),
                                [](const std::string& line) { return starts_with(line, "box CopyFile"); }),
                  0);
        EXPECT_EQ(std::count(transcript.begin(), transcript.end(), start_line("Kalvo3main")), local_package ? 1 : 0);
        EXPECT_EQ(starts_with(os.content(kInstallDir + "Kalvo3main"), "program version 1, line 1\n"), local_package);
    }
}

struct UnextractedCase {
    const char* why;
    const char* package;
    Transcript extraction;  // what the extraction itself leaves in the transcript
};

class ProgramNotExtracted : public Startup, public ::testing::WithParamInterface<UnextractedCase> {};

TEST_P(ProgramNotExtracted, ErrorInFileProcessingAndNothingStarted) {
    os.put_real_file(kInstallDir + "Kalvo3pack", package(GetParam().package), kPackageAge);
    EXPECT_EQ(run(), join({opening, GetParam().extraction, {"position 3", "status Starting...", file_processing_box},
                           closing}))
        << GetParam().why;
    EXPECT_FALSE(os.has_file(kInstallDir + "Kalvo3main"));
}

INSTANTIATE_TEST_SUITE_P(
    Startup, ProgramNotExtracted,
    ::testing::Values(UnextractedCase{"wrong password", "wrong_password.zip", {}},
                      UnextractedCase{"entry absent", "without_entry.zip", {}},
                      UnextractedCase{"failure raised inside the extraction (no end record)",
                                      "not_a_zip.bin",
                                      {"box UnCompress | Problem in UnCompress : \\rIncomplete Zip File"}}));

TEST_F(Startup, FailedDatabaseExtractionNamesTheProgramPackage) {
    for (const bool package_missing : {true, false}) {
        os.caption_text = "Kalvo...";
        if (package_missing)
            os.delete_file(kInstallDir + "Volka.bpl");
        else
            os.put_real_file(kInstallDir + "Volka.bpl", package("database_wrong_password.zip"), kPackageAge);
        os.transcript.clear();
        EXPECT_EQ(run(), join({opening, program_unpacked, {"position 3", "status Starting...", file_processing_box},
                               closing}));
        EXPECT_TRUE(os.has_file(kInstallDir + "Kalvo3main")) << "the unpacked program stays";
        EXPECT_FALSE(os.has_file(kInstallDir + "KALVO3.IB"));
        EXPECT_EQ(installation.DatabasePath, kInstallDir + "KALVO3.IB");
    }
}

TEST_F(Startup, ApplicationThatCannotStartIsToldAndTheSequenceEndsNormally) {
    os.start_result = 2;
    EXPECT_EQ(run(), join({opening, program_unpacked, database_unpacked, starting,
                           {start_line("Kalvo3main"), "box ERROR | Can not start this program "}, closing}));
}

TEST_F(Startup, FailureRaisedWhileStartingIsToldTwiceAndReadyIsNotShown) {
    os.start_failure = "out of handles";
    EXPECT_EQ(run(), join({opening, program_unpacked, database_unpacked, starting,
                           {start_line("Kalvo3main"), "box ERROR | Can not start this program ",
                            "box Kalvo... | Problem in Kalv3.exe : \\rout of handles", "cursor Default"}}));
}

TEST_F(Startup, FailureInAnEarlyStepSkipsTheRestAndRestoresTheCursor) {
    os.failing_file_age = kInstallDir + "KALVO3.IB";
    EXPECT_EQ(run(), join({opening, program_unpacked,
                           {"box Kalvo... | Problem in Kalv3.exe : \\rAccess denied to " + kInstallDir + "KALVO3.IB",
                            "cursor Default"}}));
}

// ---- the entry --------------------------------------------------------------------------

TEST_F(Startup, EntryRunsTheSequenceOnItsWindowAndFreesItAlsoAfterAFailure) {
    os.delete_file(kInstallDir + "Kalvo3pack");
    os.start_failure = "never reached";
    os.transcript.clear();
    EXPECT_EQ(launcher::RunLauncher(os, [&] { return std::make_unique<Window>(os); }), 0);
    EXPECT_EQ(os.transcript.front(), "window shown");
    EXPECT_EQ(os.transcript.back(), "window freed");
    EXPECT_EQ(os.transcript[os.transcript.size() - 2], "cursor Default");

    EXPECT_EQ(launcher::RunLauncher(os, []() -> std::unique_ptr<splash::SplashView> { throw Error("no window"); }), 0);
}

// ---- the run log -------------------------------------------------------------------

TEST_F(Startup, EachRunAppendsABlockOfWhatItReadDecidedAndShowed) {
    const std::string upgrade = kOtherDir + "/Kalvo3pack";
    os.put_file(kInstallDir + "NET.INF", "[DB]\nUpgrade=" + upgrade + "\n");
    os.put_real_file(upgrade, package("program_v2.zip"), kNewerAge);
    os.arguments = {"secret-looking argument"};
    launcher::RunLauncher(os, [&] { return std::make_unique<Window>(os); });
    os.delete_file(kInstallDir + "Kalvo3pack");
    os.delete_file(upgrade);
    launcher::RunLauncher(os, [&] { return std::make_unique<Window>(os); });

    const std::string log = os.content(kInstallDir + "Kalv3.log");
    for (const std::string& expected : std::vector<std::string>{
             "=== Kalv3 ", "upgrade path: " + upgrade + "\r\n", "local package: 2025-04-11 12:00:00, ",
          "refresh: fetched\r\n", "extract " + kInstallDir + "Kalvo3main: 5492 bytes, CRC-32 E09B0788, ",
          "database: missing, unpacked from Volka.bpl\r\n", "start " + kInstallDir + "Kalvo3main: started\r\n",
          // the second run
          "box CopyFile | File not found :\\x0D" + upgrade + "\r\n",
          "box Kalvo... | Error in file processing : \\x0D"}) {
        EXPECT_NE(log.find(expected), std::string::npos) << expected << "\n--- in ---\n" << log;
    }
    EXPECT_EQ(log.find("k3m8_q7rw_2x4"), std::string::npos) << "never the password";
    EXPECT_EQ(log.find(token()), std::string::npos) << "never the start token";
    EXPECT_EQ(std::count(log.begin(), log.end(), '='), 6) << "two blocks";
}

// Regression: only CR was escaped, so a name holding LF forged lines, or a whole run
// block that doctor showed as the last run.
TEST_F(Startup, ALoggedLineStaysOneLine) {
    launcher::runlog::Begin(os, kInstallDir);
    launcher::runlog::Note("extract x\r\n=== Kalv3 run 2026-01-01 00:00:00\nOK\x1B[8m");
    launcher::runlog::Write();
    const std::string log = os.content(kInstallDir + "Kalv3.log");
    EXPECT_EQ(log.substr(log.find("\r\n") + 2),
              "extract x\\x0D\\x0A=== Kalv3 run 2026-01-01 00:00:00\\x0AOK\\x1B[8m\r\n\r\n");
}

// Regression: a share that never answered an open (the upgrade copy's size for the log
// was read by opening it on the launcher's only thread) hung the launcher for good,
// with the old program deleted and no log written (the log was written at the end).
TEST_F(Startup, AHungUpgradeLocationEndsWithTheApplicationStartedAndATraceWrittenBeforeTheWait) {
    const std::string upgrade = kOtherDir + "/Kalvo3pack";
    os.put_file(kInstallDir + "NET.INF", "[DB]\nUpgrade=" + upgrade + "\n");
    os.put_real_file(upgrade, package("program_v2.zip"), kNewerAge);
    os.hung.insert(upgrade);
    std::string log_while_hung;
    os.on_look = [&](const std::string&) { log_while_hung = os.content(kInstallDir + "Kalv3.log"); };
    launcher::RunLauncher(os, [&] { return std::make_unique<Window>(os); });
    EXPECT_EQ(std::count(os.transcript.begin(), os.transcript.end(), start_line("Kalvo3main")), 1);
    EXPECT_TRUE(starts_with(os.content(kInstallDir + "Kalvo3main"), "program version 1, line 1\n"));
    EXPECT_EQ(os.clock, launcher::kCopyStallTimeout);
    EXPECT_TRUE(starts_with(log_while_hung, "=== Kalv3 ")) << log_while_hung;
    for (const std::string& line : {"\r\nlauncher: " + kInstallDir + "Kalv3.exe\r\n",
                                    "\r\nupgrade path: " + upgrade + "\r\n"})
        EXPECT_NE(log_while_hung.find(line), std::string::npos) << line << "\n--- in ---\n" << log_while_hung;
    EXPECT_NE(os.content(kInstallDir + "Kalv3.log").find("refresh: not fetched, the upgrade location did not answer"),
              std::string::npos);
}

TEST_F(Startup, TheLogIsRotatedPastItsBoundAndFallsBackToTheUsersFolder) {
    const std::string log = kInstallDir + "Kalv3.log";
    os.put_file(log, std::string(launcher::runlog::kRotateBytes + 1, 'x'));
    launcher::RunLauncher(os, [&] { return std::make_unique<Window>(os); });
    EXPECT_EQ(os.content(log + ".1").size(), size_t(launcher::runlog::kRotateBytes + 1));
    EXPECT_EQ(os.content(log).rfind("=== Kalv3 ", 0), 0u);

    os.unwritable.insert(log);
    os.state_dir = kOtherDir + "/state/";
    launcher::RunLauncher(os, [&] { return std::make_unique<Window>(os); });
    EXPECT_EQ(os.content(os.state_dir + "Kalv3.log").rfind("=== Kalv3 ", 0), 0u);
}

// ---- files held for a moment by another process ------------------------------------

struct HeldCase {
    const char* file;  // below the installation, or the upgrade copy
    std::chrono::milliseconds held;
    Transcript boxes;
    bool started;
};

class HeldFile : public Startup, public ::testing::WithParamInterface<HeldCase> {};

// Regression: a virus scanner or a backup holding one of the launcher's files for a
// moment failed the start with a box, although a second later all would have worked.
TEST_P(HeldFile, AMomentsLockIsWaitedOutALongOneFailsAsBefore) {
    const std::string upgrade = kOtherDir + "/Kalvo3pack";
    os.put_file(kInstallDir + "NET.INF", "[DB]\nUpgrade=" + upgrade + "\n");
    os.put_real_file(upgrade, package("program_v2.zip"), kNewerAge);
    os.put_file(kInstallDir + "Kalvo3main", "the last run's program");
    const std::string file = GetParam().file;
    os.held_open_until[file == "upgrade" ? upgrade : kInstallDir + file] = GetParam().held;
    launcher::RunLauncher(os, [&] { return std::make_unique<Window>(os); });
    Transcript boxes;
    for (const std::string& line : os.transcript)
        if (starts_with(line, "box ")) boxes.push_back(line);
    EXPECT_EQ(boxes, GetParam().boxes) << file;
    EXPECT_EQ(std::count_if(os.transcript.begin(), os.transcript.end(),
                            [](const std::string& line) { return starts_with(line, "start "); }),
              GetParam().started ? 1 : 0)
        << file;
}

using std::chrono::milliseconds;
const std::string kProcessingBox = "box Kalvo... | Error in file processing : \\r" + kInstallDir + "Kalvo3pack";
INSTANTIATE_TEST_SUITE_P(
    Startup, HeldFile,
    ::testing::Values(
        HeldCase{"Kalvo3main", milliseconds(1000), {}, true},
        HeldCase{"Kalvo3pack", milliseconds(1000), {}, true},
        HeldCase{"upgrade", milliseconds(1000), {}, true},
        HeldCase{"Kalvo3main", milliseconds(10000),
                 {"box UnCompress | Problem in UnCompress : \\rCannot create file " + kInstallDir + "Kalvo3main",
                  kProcessingBox},
                 false},
        HeldCase{"Kalvo3pack", milliseconds(10000),
                 {"box UnCompress | Problem in UnCompress : \\rCannot open file " + kInstallDir + "Kalvo3pack",
                  kProcessingBox},
                 false},
        HeldCase{"upgrade", milliseconds(10000), {}, true}));

}  // namespace
}  // namespace kalv::testing
