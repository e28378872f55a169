// The native backend's process and user-face groups, on the machine itself (and, for
// the Windows build, under Wine).
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "files.h"
#include "platform/platform.h"
#include "platform/process.h"

#ifdef _WIN32
// Only to look at a window's class cursor from outside the backend.
#include <windows.h>
#endif

namespace kalv::platform {
namespace {

namespace fs = std::filesystem;
using kalv::testing::TempDir;
using kalv::testing::write_file;

std::string unique_name(const char* what) {
    return std::string("KalvTest_") + what + "_" +
           std::to_string(std::chrono::steady_clock::now().time_since_epoch().count());
}

bool appears_within_seconds(const std::string& path, int seconds) {
    for (int i = 0; i < seconds * 20; ++i) {
        if (fs::exists(path)) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
}

TEST(NativeMutex, SeenWhileHeldAndGoneWithItsHolder) {
    Platform& os = native();
    const std::string name = unique_name("mutex");
    EXPECT_FALSE(os.mutex_exists(name));
    {
        const auto held = hold_mutex(name);
        ASSERT_NE(held, nullptr);
        EXPECT_TRUE(os.mutex_exists(name));
        EXPECT_TRUE(os.mutex_exists(name)) << "probing must not use the mutex up";
    }
    EXPECT_FALSE(os.mutex_exists(name)) << "the probe must leave nothing behind";
}

TEST(NativeProcess, ModulePathIsThisProgram) {
    const std::string path = native().module_path();
    EXPECT_TRUE(fs::path(path).is_absolute()) << path;
    EXPECT_NE(path.find("platform_process_tests"), std::string::npos) << path;
    EXPECT_TRUE(fs::exists(path)) << path;
}

TEST(NativeProcess, ArgumentsAreTheProcessArgumentsWithoutTheProgram) {
    const std::vector<std::string> argv = ::testing::internal::GetArgvs();
    const std::vector<std::string> expected(argv.begin() + 1, argv.end());
    EXPECT_EQ(native().command_line_arguments(), expected);
    EXPECT_NE(raw_command_line().find("platform_process_tests"), std::string::npos);
}

TEST(NativeProcess, NtFamilyAndCurrentDirectory) {
    EXPECT_EQ(native().platform_id(), 2u);
    EXPECT_TRUE(fs::equivalent(native().current_directory(), fs::current_path()));
}

TEST(NativeProfile, RealFileReadByTheProfileRules) {
    TempDir dir;
    const std::string ini = dir.file("NET.INF");
    write_file(ini, "[Other]\r\nUpgrade=no\r\n[db]\r\n  UPGRADE = \"C:\\My Shop\\Kalvo3pack\"  \r\nEmpty=\r\nLong=" +
                   std::string(3000, 'x') + "\r\n");
    Platform& os = native();
    EXPECT_EQ(os.profile_string(ini, "DB", "Upgrade", "Kalvo3pack", 2048), "C:\\My Shop\\Kalvo3pack");
    EXPECT_EQ(os.profile_string(ini, "DB", "Empty", "Kalvo3pack", 2048), "");
    EXPECT_EQ(os.profile_string(ini, "DB", "Missing", "Kalvo3pack", 2048), "Kalvo3pack");
    EXPECT_EQ(os.profile_string(ini, "DB", "Long", "", 2048), std::string(2047, 'x'));
    EXPECT_EQ(os.profile_string(dir.file("absent.inf"), "DB", "Upgrade", "Kalvo3pack", 2048), "Kalvo3pack");
}

#ifdef _WIN32
TEST(NativeStart, ProgramStartedByItsExplicitPath) {
    TempDir dir;
    const std::string marker = dir.file("started.txt");
    // The first part of the command line names no program at all: only the explicit
    // path may be started.
    const uint32_t code = native().start_program("no-such-program /c echo ok > \"" + marker + "\"",
                                                 "C:\\windows\\system32\\cmd.exe");
    EXPECT_GE(code, 32u);
    EXPECT_TRUE(appears_within_seconds(marker, 20));
}

TEST(NativeCursor, ScreenCursorShowsOverTheProgramsWindowsUntilSetBack) {
    WNDCLASSA window_class{};
    window_class.lpfnWndProc = DefWindowProcA;
    window_class.hInstance = GetModuleHandleA(nullptr);
    window_class.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    window_class.lpszClassName = "KalvCursorTest";
    RegisterClassA(&window_class);
    HWND window = CreateWindowA("KalvCursorTest", "", WS_OVERLAPPED, 0, 0, 10, 10, nullptr, nullptr,
                                window_class.hInstance, nullptr);
    ASSERT_NE(window, nullptr);
    native().set_cursor(Cursor::AppStart);
    EXPECT_EQ(HCURSOR(GetClassLongPtrA(window, GCLP_HCURSOR)), LoadCursorA(nullptr, IDC_APPSTARTING));
    native().set_cursor(Cursor::Default);
    EXPECT_EQ(HCURSOR(GetClassLongPtrA(window, GCLP_HCURSOR)), LoadCursorA(nullptr, IDC_ARROW));
    DestroyWindow(window);
}

TEST(NativeStart, MissingProgramGivesWinExecFileNotFound) {
    EXPECT_LT(native().start_program("C:\\no\\such\\Kalvo3main token ", "C:\\no\\such\\Kalvo3main"), 32u);
    EXPECT_EQ(native().start_program("C:\\Kalvo3main_missing token ", "C:\\Kalvo3main_missing"), 2u);
}
#else
TEST(NativeStart, ProgramStartedByItsExplicitPathWithTheCommandLineSplitOnBlanks) {
    TempDir dir;
    const std::string marker = dir.file("started");
    const uint32_t code = native().start_program("no-such-program " + marker, "/bin/touch");
    EXPECT_GE(code, 32u);
    EXPECT_TRUE(appears_within_seconds(marker, 10));
}

TEST(NativeStart, MissingOrUnrunnableProgramGivesWinExecCodes) {
    TempDir dir;
    EXPECT_EQ(native().start_program("x token ", dir.file("Kalvo3main")), 2u);
    const std::string not_a_program = dir.file("data");
    write_file(not_a_program, "plain data");
    fs::permissions(not_a_program, fs::perms::owner_read);
    EXPECT_LT(native().start_program(not_a_program, not_a_program), 32u);
}

TEST(NativeBox, OneLineCaptionAndTextOnStandardError) {
    ::testing::internal::CaptureStderr();
    const BoxAnswer answer = native().message_box("Problem in X : \rboom", "Kalvo...", BoxButtons::Ok, BoxIcon::Error);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "Kalvo...: Problem in X : \rboom\n");
    EXPECT_EQ(answer, BoxAnswer::Ok);
}
#endif

}  // namespace
}  // namespace kalv::platform
