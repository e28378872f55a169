// The startup sequence: three visible steps from the configuration to the started
// application.
//
//   1 "Loading..."   read NET.INF, delete the old executable, pump
//   2 "Checking..."  refresh the program package, unpack "Kalvo3main", on first use
//                    unpack "KALVO3.IB"
//   3 "Starting..."  (rename for non-NT), build and encrypt the token, start, "Ready !"
//
// Every failure ends in a box; the sequence never fails towards its caller.
#include <exception>

#include "cipher/text_cipher.h"
#include "launcher/boxes.h"
#include "launcher/launcher.h"

namespace kalv::launcher {

std::string DatabasePath;

namespace {

constexpr uint32_t kPlatformNt = 2;

// The screen cursor shows the application-starting cursor while the guarded steps
// run and is back to the default however they end.
class AppStartCursor {
public:
    AppStartCursor() { platform::current().set_cursor(platform::Cursor::AppStart); }
    ~AppStartCursor() { platform::current().set_cursor(platform::Cursor::Default); }
    AppStartCursor(const AppStartCursor&) = delete;
    AppStartCursor& operator=(const AppStartCursor&) = delete;
};

std::string FirstArgument() {
    const std::vector<std::string> arguments = platform::current().command_line_arguments();
    return arguments.empty() ? std::string() : arguments.front();
}

}  // namespace

std::string PackagePassword() { return CharsToText(kPackagePasswordChars, kPackagePasswordHighIndex); }

void RunStartup() {
    platform::Platform& os = platform::current();
    splash::SplashView& window = *frmSplash;

    ReadNetInf();
    window.set_progress_max(3);
    window.set_progress_position(1);
    window.set_status(Text(kTextLoading));

    const AppStartCursor cursor;
    try {
        const std::string password = PackagePassword();
        const std::string first_argument = FirstArgument();
        const std::string dir = LauncherDir();
        const uint32_t platform_id = GetPlatformId();
        const std::string unpacked_path = dir + kProgramEntryName;
        const std::string exe_path = platform_id == kPlatformNt ? unpacked_path : unpacked_path + kProgramExtension;

        // A program unpacked from a read-only file (checked out of version control,
        // copied from a CD) must not outlive its first run.
        os.clear_read_only(exe_path);
        os.delete_file(exe_path);
        os.process_messages();

        window.set_progress_position(2);
        window.set_status(Text(kTextChecking));
        const std::string program_package = dir + kProgramPackageName;
        // ReadNetInf has logged why there is none.
        if (UpgradeConfigured) HaveNewVersion(program_package, UpgradePath);
        bool success = UnCompress(program_package, dir, password, kProgramEntryName);
        if (success) {
            window.set_caption(window.caption() + Text(kTextSetuping));
            // The database is unpacked once; an existing one is never touched, whatever
            // its date (a PC whose clock battery died still has its shop's data).
            if (!os.file_exists(dir + kDatabaseEntryName)) {
                runlog::Note("database: missing, unpacked from " + std::string(kDatabasePackageName));
                success = UnCompress(dir + kDatabasePackageName, dir, password, kDatabaseEntryName);
            } else {
                runlog::Note("database: present, kept");
            }
            DatabasePath = dir + kDatabaseEntryName;
        }

        window.set_progress_position(3);
        window.set_status(Text(kTextStarting));
        if (success) {
            os.process_messages();
            if (platform_id != kPlatformNt) {
                os.move_file(unpacked_path, exe_path);
                os.process_messages();
            }
            const std::string token = EncryptText(BuildStartToken(DatabasePath));
            RunProgram(exe_path + " " + token + " " + first_argument, exe_path);
        } else {
            // Names the program package also when the database package failed.
            ShowErrorBox(Text(kTextFileProcessing) + kBoxLineBreak + program_package, Text(kTextCaption));
        }
        window.set_status(Text(kTextReady));
    } catch (const std::exception& failure) {
        ShowProblemBox("Kalv3.exe", failure.what(), Text(kTextCaption));
    }
}

}  // namespace kalv::launcher
