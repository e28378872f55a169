// The startup sequence on the recording fake, one whole transcript per situation: each
// row of the sequence's and the refresh's failure tables, and the edge cases that a
// plausible fault would change (platform rename, existing database, quoting of the
// first argument, the cursor on every path, the entry's window).
#include <fstream>

#include "cipher/text_cipher.h"
#include "launcher_fixture.h"

namespace kalv::testing {
namespace {

bool starts_with(const std::string& text, const std::string& prefix) { return text.rfind(prefix, 0) == 0; }

constexpr uint32_t kPackageAge = 0x5A8B6000;
constexpr uint32_t kNewerAge = 0x5A8C6000;

class Startup : public LauncherFixture {
protected:
    Startup() {
        os.put_real_file(kInstallDir + "Kalvo3pack", package("program.zip"), kPackageAge);
        os.put_real_file(kInstallDir + "Volka.bpl", package("database.zip"), kPackageAge);
    }

    // Runs the sequence as the entry does: with the fake as the splash window.
    Transcript run() {
        launcher::frmSplash = &os;
        launcher::RunStartup();
        launcher::frmSplash = nullptr;
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
    const Transcript program_unpacked = {"create <D>Kalvo3main.partial", "pump",
                                         "replace <D>Kalvo3main by <D>Kalvo3main.partial",
                                         "caption Kalvo... ( Setuping... )"};
    const Transcript database_unpacked = {"create <D>KALVO3.IB.partial", "pump",
                                          "replace <D>KALVO3.IB by <D>KALVO3.IB.partial"};
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
    EXPECT_EQ(launcher::DatabasePath, kInstallDir + "KALVO3.IB");
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
    const Transcript fetch = {"copy " + upgrade + " -> <D>Kalvo3pack.incoming", "pump",
                              "replace <D>Kalvo3pack by <D>Kalvo3pack.incoming"};
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
                           {"copy " + upgrade + " -> <D>Kalvo3pack.incoming", "delete <D>Kalvo3pack.incoming"},
                           program_unpacked, database_unpacked, starting, {start_line("Kalvo3main")}, closing}));
    EXPECT_TRUE(starts_with(os.content(kInstallDir + "Kalvo3main"), "program version 1, line 1\n"));
}

TEST_F(Startup, FailureInsideTheRefreshIsShownAndTheSequenceGoesOn) {
    os.failing_file_age = "Kalvo3pack";
    EXPECT_EQ(run(), join({opening, {"box CopyFile | Problem in HaveNewVersion : \\rAccess denied to Kalvo3pack"},
                           program_unpacked, database_unpacked, starting, {start_line("Kalvo3main")}, closing}));
}

TEST_F(Startup, MissingPackageAndMissingUpgradeCopyGiveTwoBoxesInOrder) {
    os.delete_file(kInstallDir + "Kalvo3pack");
    os.transcript.clear();
    EXPECT_EQ(run(), join({opening,
                           {"box CopyFile | File not found :\\rKalvo3pack", "position 3", "status Starting...",
                            file_processing_box},
                           closing}));
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
        EXPECT_EQ(launcher::DatabasePath, kInstallDir + "KALVO3.IB");
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
    os.delete_file(kInstallDir + "Kalvo3pack");
    os.start_failure = "never reached";
    os.transcript.clear();
    EXPECT_EQ(launcher::RunLauncher([&] { return std::make_unique<Window>(os); }), 0);
    EXPECT_EQ(os.transcript.front(), "window shown");
    EXPECT_EQ(os.transcript.back(), "window freed");
    EXPECT_EQ(os.transcript[os.transcript.size() - 2], "cursor Default");
    EXPECT_EQ(launcher::frmSplash, nullptr);

    EXPECT_EQ(launcher::RunLauncher([]() -> std::unique_ptr<splash::SplashView> { throw Error("no window"); }), 0);
}

}  // namespace
}  // namespace kalv::testing
