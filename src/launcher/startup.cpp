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

namespace {

constexpr uint32_t kPlatformNt = 2;

// The screen cursor shows the application-starting cursor while the guarded steps
// run and is back to the default however they end.
class AppStartCursor {
public:
    explicit AppStartCursor(platform::UserInterface& ui) : ui_(ui) { ui_.set_cursor(platform::Cursor::AppStart); }
    ~AppStartCursor() { ui_.set_cursor(platform::Cursor::Default); }
    AppStartCursor(const AppStartCursor&) = delete;
    AppStartCursor& operator=(const AppStartCursor&) = delete;

private:
    platform::UserInterface& ui_;
};

std::string FirstArgument(platform::Processes& processes) {
    const std::vector<std::string> arguments = processes.command_line_arguments();
    return arguments.empty() ? std::string() : arguments.front();
}

}  // namespace

std::string PackagePassword() { return CharsToText(kPackagePasswordChars, kPackagePasswordHighIndex); }

void RunStartup(const LauncherOs& os, Installation& installation, splash::SplashView& frmSplash) {
    platform::FileSystem& files = os.files;
    platform::UserInterface& ui = os.ui;
    splash::SplashView& window = frmSplash;

    ReadNetInf(files, installation);
    window.set_progress_max(3);
    window.set_progress_position(1);
    window.set_status(Text(ui, kTextLoading));

    const AppStartCursor cursor(ui);
    try {
        const std::string password = PackagePassword();
        const std::string first_argument = FirstArgument(os.processes);
        const std::string& dir = installation.Folder;
        const uint32_t platform_id = GetPlatformId(os.processes);
        const std::string unpacked_path = dir + kProgramEntryName;
        const std::string exe_path = platform_id == kPlatformNt ? unpacked_path : unpacked_path + kProgramExtension;

        // A program unpacked from a read-only file (checked out of version control,
        // copied from a CD) must not outlive its first run.
        // The results are not looked at: the unpack that follows reports what it finds.
        files.clear_read_only(exe_path);
        files.delete_file(exe_path);
        ui.process_messages();

        window.set_progress_position(2);
        window.set_status(Text(ui, kTextChecking));
        const std::string program_package = dir + kProgramPackageName;
        // ReadNetInf has logged why there is none.
        if (installation.UpgradeConfigured) {
            if (platform::IsWebLocation(installation.UpgradePath))
                HaveNewVersionFromWeb(os, program_package, installation.UpgradePath, installation.TrustedKeys);
            else
                HaveNewVersion(files, ui, program_package, installation.UpgradePath, kCopyStallTimeout,
                               installation.TrustedKeys);
        }
        bool success = UnCompress(os, program_package, dir, password, kProgramEntryName);
        if (success) {
            window.set_caption(window.caption() + Text(ui, kTextSetuping));
            // The database is unpacked once; an existing one is never touched, whatever
            // its date (a PC whose clock battery died still has its shop's data).
            if (!files.file_exists(dir + kDatabaseEntryName)) {
                runlog::Note("database: missing, unpacked from " + std::string(kDatabasePackageName));
                success = UnCompress(os, dir + kDatabasePackageName, dir, password, kDatabaseEntryName);
            } else {
                runlog::Note("database: present, kept");
            }
            installation.DatabasePath = dir + kDatabaseEntryName;
        }

        window.set_progress_position(3);
        window.set_status(Text(ui, kTextStarting));
        if (success) {
            ui.process_messages();
            if (platform_id != kPlatformNt) {
                // A rename that fails leaves no program: the start below reports it.
                (void)files.move_file(unpacked_path, exe_path);
                ui.process_messages();
            }
            const std::string token = EncryptText(BuildStartToken(files, installation.DatabasePath));
            RunProgram(os.processes, ui, exe_path + " " + token + " " + first_argument, exe_path);
        } else {
            // Names the program package also when the database package failed.
            ShowErrorBox(ui, Text(ui, kTextFileProcessing) + kBoxLineBreak + program_package, Text(ui, kTextCaption));
        }
        window.set_status(Text(ui, kTextReady));
    } catch (const std::exception& failure) {
        ShowProblemBox(ui, "Kalv3.exe", failure.what(), Text(ui, kTextCaption));
    }
}

}  // namespace kalv::launcher
