// kalvtool doctor [DIR]
// Checks an installation as its launcher will see it at its next start, and writes
// nothing. The launcher's own code decides wherever it can: ReadNetInf reads NET.INF
// (of the installation in DIR), UpgradeIsNewer decides the
// fetch and IsSoundProgramPackage whether a fetched copy would be kept; the packages
// are tested with the extraction component in its test mode and the package password.
//
//   folder readable? ── launcher ── folder writable? ── NET.INF ── upgrade copy (reachable? newer? sound?) ── Kalvo3pack
//   ── Volka.bpl ── Kalvo3main ── KALVO3.IB ── free space ── application running
//   ── the last run's block of Kalv3.log
#include <algorithm>
#include <cstdio>
#include <memory>
#include <optional>

#include "archive_test.h"
#include "commands.h"
#include "core/errors.h"
#include "core/text.h"
#include "doctor_report.h"
#include "doctor_signature.h"
#include "doctor_web.h"
#include "launcher/launcher.h"
#include "launcher/run_log.h"
#include "launcher/texts.h"
#include "platform/admin_files.h"
#include "platform/forwarding_platform.h"
#include "platform/platform.h"
#include "platform/web.h"
#include "publish/publish.h"
#include "unzip/extract.h"

namespace kalvtool {
namespace {

namespace launcher = kalv::launcher;
namespace platform = kalv::platform;
using doctor::Level;
using doctor::Report;

// The OS as the helper that reads the upgrade copy sees it: the files, and no user face.
// The thread that waits for the helper handles the window messages; the helper, which a
// hanging share may leave behind, shows nothing and touches no window or cursor.
class FilesOnly final : public platform::ForwardingPlatform {
public:
    using ForwardingPlatform::ForwardingPlatform;
    platform::BoxAnswer message_box(const std::string&, const std::string&, platform::BoxButtons,
                                    platform::BoxIcon) override {
        return platform::BoxAnswer::Cancel;  // nobody to ask on a helper
    }
    void set_cursor(platform::Cursor) override {}
    void process_messages() override {}
};

#ifdef _WIN32
constexpr char kDelimiter = '\\';
constexpr const char* kLauncherName = "Kalv3.exe";
#else
constexpr char kDelimiter = '/';
constexpr const char* kLauncherName = "kalv3";
#endif
// The run log beside the launcher, and where a launcher that cannot write its own
// folder puts it instead (the user's state folder: this user's is looked into too).
constexpr const char* kLogName = launcher::runlog::kLogName;
#ifdef _WIN32
constexpr const char* kFallbackLog = "%LOCALAPPDATA%\\Kalv3\\Kalv3.log";
#else
constexpr const char* kFallbackLog = "$XDG_STATE_HOME/kalv3/Kalv3.log";
#endif
constexpr uint32_t kPlatformNt = 2;

bool ends_with_delimiter(const std::string& path) {
#ifdef _WIN32
    return !path.empty() && (path.back() == '\\' || path.back() == '/' || path.back() == ':');
#else
    return !path.empty() && path.back() == '/';
#endif
}

bool is_absolute(const std::string& path) {
#ifdef _WIN32
    return (!path.empty() && (path[0] == '\\' || path[0] == '/')) || (path.size() >= 2 && path[1] == ':');
#else
    return !path.empty() && path[0] == '/';
#endif
}

bool same_path(const std::string& a, const std::string& b) {
#ifdef _WIN32
    return kalv::same_name(a, b);  // Windows paths ignore letter case
#else
    return a == b;
#endif
}

// What testing one entry of a package found.
struct PackageState {
    bool present = false;
    bool sound = false;
    std::string problem;  // when present and not sound
    std::string hint;
    bool entry_found = false;
    int64_t entry_size = 0;  // uncompressed, as its record says, sound or not
};

// A program package whose Kalvo3main decrypts and passes its CRC-32, as a launcher
// checks it, may still hold no program: an empty one (a failed build), or a package
// inside the package (a package published as the program). Every start installs it
// and then fails to start the application.
void inner_program_problem(platform::FileSystem& files, const std::string& package, PackageState& state) {
    const std::string entry = launcher::kProgramEntryName;
    const kalv::publish::ProgramFacts facts =
        kalv::publish::inspect_entry(files, package, entry, launcher::PackagePassword());
    if (facts.size != 0 && !facts.zip) return;
    state.sound = false;
    state.problem = entry + (facts.size == 0 ? " is empty" : " is itself a ZIP archive (a package inside the package)");
    state.hint = "publish the program itself with kalvtool publish, or make the package with kalvtool pack";
}

PackageState check_package(platform::FileSystem& files, const std::string& path, const std::string& entry) {
    PackageState state;
    state.present = files.file_exists(path);
    if (!state.present) return state;
    try {
        const ArchiveVerdict verdict = test_archive(files, "doctor", path, launcher::PackagePassword(), {entry});
        if (verdict.entries.empty()) {
            state.problem = "holds no entry " + entry;
            state.hint = "make the package with kalvtool pack, which names the entry " + entry;
            return state;
        }
        const EntryVerdict& found = verdict.entries.front();
        state.entry_found = true;
        state.entry_size = found.uncompressed_size;
        state.sound = found.ok;
        if (found.ok && entry == launcher::kProgramEntryName) inner_program_problem(files, path, state);
        if (!found.ok) {
            state.problem = entry + ": " + found.reason;
            state.hint = found.reason == "bad password"
                             ? "the package was not made with the launchers' password: make it with kalvtool pack"
                             : "the package is damaged: copy it again, or make it anew with kalvtool pack";
        }
    } catch (const kalv::Error& failure) {
        state.problem = std::string("not a readable package (") + failure.what() + ")";
        state.hint = "it is cut short or no ZIP archive: copy it again, or make it with kalvtool pack";
    }
    return state;
}

class Doctor {
public:
    Doctor(platform::Platform& os, platform::WebClient& web, std::string dir)
        : os_(os), web_client_(web), dir_(std::move(dir)) {}

    int run() {
        if (!check_folder_readable()) {
            report_.summary(dir_);
            return report_.exit_code();
        }
        check_launcher();
        check_folder_writable();
        check_net_inf();
        check_upgrade();
        check_program_package();
        check_database_package();
        check_program();
        check_database();
        check_free_space();
        check_running();
        check_log();
        report_.summary(dir_);
        return report_.exit_code();
    }

private:
    platform::Platform& os() { return os_; }
    std::string path(const char* name) const { return dir_ + name; }

    // A folder whose files cannot be looked at (no right to it) would show every file
    // as missing, and a missing KALVO3.IB advises a restore from the backup: over a
    // live database. So nothing is checked then.
    bool check_folder_readable() {
        for (const char* name : {launcher::kProgramPackageName, launcher::kDatabaseEntryName, kLauncherName}) {
            const platform::PathLook look = platform::look_at(path(name));
            if (look.state != platform::PathState::Unreadable) continue;
            report_.line(Level::Fail, "folder", "cannot read " + dir_ + " (" + look.reason + ")",
                         "Run kalvtool doctor as a user who may read it (the shop's user, or an administrator); "
                         "nothing in it was checked, and nothing in it is known to be missing");
            return false;
        }
        return true;
    }

    // Every start deletes and unpacks the program, and replaces the package with a
    // fetched copy, in this folder: one that the user cannot change (the usual
    // Program Files mistake) fails every start.
    void check_folder_writable() {
        const std::string failed = platform::probe_writable(dir_);
        folder_writable_ = failed.empty();
        if (folder_writable_) {
            report_.line(Level::Ok, "folder", "this user can create, replace and delete files in it");
        } else {
            report_.line(Level::Fail, "folder", dir_ + ": " + failed,
                         "Every start fails: the launcher unpacks the program there. Give the shop's users the "
                         "right to change files in this folder, or install it in a folder of their own (not "
                         "under Program Files)");
        }
    }

    // An upgrade copy that a launcher would keep, but whose Kalvo3main is no program.
    bool fetched_holds_no_program(const std::string& found, const PackageState& program) {
        if (program.sound) return false;
        report_.line(Level::Fail, "upgrade copy", found + ", newer than the local package, but " + program.problem,
                     "The next start fetches it and cannot start the application: " + program.hint);
        return true;
    }

    void check_launcher() {
        const std::string launcher_path = path(kLauncherName);
        if (os().file_exists(launcher_path)) {
            report_.line(Level::Ok, kLauncherName, doctor::size_and_date(os(), launcher_path));
        } else {
            report_.line(Level::Warn, kLauncherName, "not in " + dir_,
                         "Is this the installation's folder? The checks below read it as one");
        }
    }

    void check_net_inf() {
        launcher::Installation installation;
        installation.Folder = dir_;
        launcher::ReadNetInf(os(), installation);
        configured_ = installation.UpgradeConfigured;
        upgrade_ = installation.UpgradePath;
        const char* name = launcher::kNetInfName;
        if (!configured_) {
            report_.line(Level::Warn, name, "no readable [DB] Upgrade key: " + launcher::WhyNoUpgradePath(os(), path(name)),
                         "The launcher then never refreshes the program package: name the upgrade copy on a line "
                         "Upgrade=... under [DB]");
        } else if (upgrade_.empty()) {
            report_.line(Level::Warn, name, "[DB] Upgrade= is empty",
                         "Every start shows \"File not found :\" and fetches nothing: name the upgrade copy there, "
                         "or remove the line");
        } else {
            report_.line(Level::Ok, name, "[DB] Upgrade=" + upgrade_);
        }
        // Told even where no upgrade is configured, for the day one is.
        trusted_ = configured_ ? installation.TrustedKeys : launcher::ReadTrustedKeys(os(), path(name));
        doctor::report_trusted_keys(report_, trusted_);
        // The launcher opens a relative path from the folder it is started in, which is
        // its own folder when it is started from there (a double click, a shortcut
        // whose "Start in" is that folder).
        web_ = platform::IsWebLocation(upgrade_);
        relative_ = !upgrade_.empty() && !web_ && !is_absolute(upgrade_);
        upgrade_path_ = relative_ ? dir_ + upgrade_ : upgrade_;
    }

    // What reading the upgrade copy as a package found.
    struct UpgradeVerdict {
        bool sound = false;
        int64_t entry_size = 0;
        PackageState state;
        PackageState program;  // of a sound copy: whether its Kalvo3main is a program
        doctor::SignatureFinding signature;
    };

    // Reads the upgrade copy as the launcher would check its fetched copy, within the
    // launcher's bound: a share can answer a look and hang on the read. A helper that
    // does not come back holds its own verdict and path, and ends with the process.
    std::optional<UpgradeVerdict> read_upgrade_copy() {
        const auto verdict = std::make_shared<UpgradeVerdict>();
        const std::string copy = upgrade_path_, local = path(launcher::kProgramPackageName);
        // Over the native platform, which outlives a helper left behind; the helper holds it.
        const auto helpers_os = std::make_shared<FilesOnly>(os());
        const bool answered = platform::finish_within(os(), launcher::kCopyStallTimeout,
                                                      [verdict, copy, local, helpers_os, trusted = trusted_] {
            platform::Platform& files = *helpers_os;
            verdict->signature = doctor::inspect_signature(files, trusted, copy, local);
            verdict->sound = launcher::IsSoundProgramPackage(files, files, copy);
            if (!verdict->sound) {
                verdict->state = check_package(files, copy, launcher::kProgramEntryName);
                return;
            }
            verdict->entry_size = chosen_size(files, "doctor", copy, {launcher::kProgramEntryName});
            verdict->program.sound = true;
            try {
                inner_program_problem(files, copy, verdict->program);
            } catch (const kalv::Error&) {
                // It passed the launcher's check; what it holds is told as it is fetched.
            }
        });
        if (!answered) return std::nullopt;
        return *verdict;
    }

    void no_answer(const std::string& what) {
        report_.line(Level::Warn, "upgrade copy",
                     what + " did not answer within " + std::to_string(launcher::kCopyStallTimeout.count() / 1000) +
                         " s",
                     "Every start waits that long for it, then goes on with the local package without a refresh: "
                     "check the share and this PC's connection to it");
    }

    void check_upgrade() {
        const std::string subject = "upgrade copy";
        const std::string local = path(launcher::kProgramPackageName);
        const std::string where = relative_ ? " (relative: from the folder the launcher starts in, taken as its own)" : "";
        if (!configured_) {
            report_.line(Level::Ok, subject, "none named in NET.INF", "No start fetches anything");
            return;
        }
        if (web_) {
            const doctor::WebUpgradeFinding finding =
                doctor::check_web_upgrade(report_, os(), web_client_, upgrade_, path(launcher::kProgramPackageName));
            web_fetch_ = will_fetch_ = finding.will_fetch;
            fetch_size_ = finding.fetch_size;
            return;
        }
        // Every look at the upgrade location is bounded, as the launcher's are.
        const std::optional<platform::FileLook> look = os().look_within(upgrade_path_, launcher::kCopyStallTimeout);
        if (!look) return no_answer(upgrade_path_ + where);
        if (!look->exists) {
            const std::string what = upgrade_path_.empty() ? std::string("no path to look at")
                                     : look->directory     ? upgrade_path_ + " is a folder"
                                                           : upgrade_path_ + " is not there";
            report_.line(Level::Warn, subject, what + where,
                         "Every start shows \"File not found :\" and goes on with the local package: check that "
                         "this PC reaches the share as the shop's user, or correct Upgrade= in NET.INF");
            return;
        }
        if (same_path(upgrade_path_, local)) {
            report_.line(Level::Ok, subject, "the upgrade path names the local package itself" + where,
                         "Nothing is ever fetched");
            return;
        }
        const int32_t local_age = os().file_age(local), upgrade_age = look->age;
        const std::string found = upgrade_path_ + where + ": " +
                                  doctor::size_and_date(look->size < 0 ? std::nullopt : std::optional(look->size),
                                                        upgrade_age);
        if (!launcher::UpgradeIsNewer(os().file_exists(local), local_age, upgrade_age)) {
            if (upgrade_age == -1) {
                report_.line(Level::Warn, subject, found,
                             "A copy without a date from 1980 to 2107 is never fetched: publish it again with "
                             "kalvtool publish");
            } else {
                report_.line(Level::Ok, subject, found + ", not newer than the local package",
                             "The next start keeps the local package");
            }
            return;
        }
        const std::optional<UpgradeVerdict> verdict = read_upgrade_copy();
        if (!verdict) return no_answer(found + ", newer than the local package, but reading it");
        // In the launcher's order: the signature and the program's date before the soundness.
        if (doctor::report_untrusted(report_, found, verdict->signature)) return;
        if (verdict->sound) {
            if (fetched_holds_no_program(found, verdict->program)) return;
            fetch_size_ = std::max<int64_t>(look->size, 0);
            fetched_entry_size_ = verdict->entry_size;
            will_fetch_ = true;
            report_.line(Level::Ok, subject, found + ", newer than the local package" + verdict->signature.note,
                         "The next start fetches it");
            return;
        }
        const PackageState& state = verdict->state;
        report_.line(Level::Warn, subject,
                     found + ", newer than the local package, but " +
                         (state.problem.empty() ? std::string("not sound") : state.problem),
                     "Every start copies it, drops it and goes on with the local package: publish it again "
                     "with kalvtool publish");
    }

    void check_program_package() {
        const char* name = launcher::kProgramPackageName;
        const PackageState state = check_package(os(), path(name), launcher::kProgramEntryName);
        // What a URL would bring is not read here: the local program's size stands in.
        const bool fetched_known = will_fetch_ && !web_fetch_;
        program_size_ = fetched_known ? fetched_entry_size_ : state.entry_size;
        program_size_known_ = fetched_known || state.entry_found;
        if (will_fetch_) {
            const std::string now = !state.present ? "missing" : state.sound ? "sound" : state.problem;
            report_.line(Level::Ok, name, now + "; the next start replaces it with the upgrade copy");
        } else if (!state.present) {
            report_.line(Level::Fail, name, "missing, and no newer upgrade copy to fetch",
                         "The application cannot start: put the package here (kalvtool pack), or publish it at "
                         "the upgrade path");
        } else if (!state.sound) {
            report_.line(Level::Fail, name, state.problem, "The application cannot start: " + state.hint);
        } else {
            report_.line(Level::Ok, name,
                         doctor::size_and_date(os(), path(name)) + "; " + launcher::kProgramEntryName + " (" +
                             std::to_string(state.entry_size) + " bytes) opens with the package password and "
                             "passes its CRC-32");
        }
    }

    void check_database_package() {
        const char* name = launcher::kDatabasePackageName;
        database_missing_ = !os().file_exists(path(launcher::kDatabaseEntryName));
        const PackageState state = check_package(os(), path(name), launcher::kDatabaseEntryName);
        database_size_ = state.entry_size;
        database_supplied_ = state.sound;
        // Read only by a start that finds no database.
        const Level level = database_missing_ ? Level::Fail : Level::Warn;
        const std::string needed = database_missing_ ? "The database is missing, so the application cannot start: "
                                                     : "Needed only when KALVO3.IB is missing; ";
        if (!state.present) {
            if (database_missing_) {
                report_.line(level, name, "missing", needed + "restore KALVO3.IB from the shop's backup");
            } else {
                report_.line(Level::Ok, name, "missing", "Not needed while KALVO3.IB is there");
            }
        } else if (!state.sound) {
            report_.line(level, name, state.problem, needed + state.hint);
        } else {
            report_.line(Level::Ok, name,
                         doctor::size_and_date(os(), path(name)) + "; " + launcher::kDatabaseEntryName + " (" +
                             std::to_string(state.entry_size) + " bytes) opens and passes its CRC-32");
        }
    }

    void check_program() {
        const std::string name = std::string(launcher::kProgramEntryName) +
                                 (launcher::GetPlatformId(os()) == kPlatformNt ? "" : launcher::kProgramExtension);
        program_now_ = doctor::file_size(os(), path(name.c_str())).value_or(0);
        if (os().file_exists(path(name.c_str()))) {
            report_.line(Level::Ok, name, doctor::size_and_date(os(), path(name.c_str())),
                         "Every start deletes it and unpacks it anew");
        } else {
            report_.line(Level::Ok, name, "not unpacked now", "The next start unpacks it");
        }
    }

    void check_database() {
        const char* name = launcher::kDatabaseEntryName;
        const std::string db = path(name);
        if (os().directory_exists(db)) {
            report_.line(Level::Fail, name, "is a folder", "The launcher cannot unpack the database over it: move "
                                                           "the folder away");
        } else if (database_missing_) {
            report_.line(database_supplied_ ? Level::Warn : Level::Fail, name, "missing",
                         database_supplied_ ? "The next start unpacks a new, empty database from Volka.bpl: if "
                                              "this shop had data, restore its KALVO3.IB from a backup first"
                                            : "Volka.bpl cannot supply one: restore KALVO3.IB from a backup");
        } else if (os().file_age(db) == -1) {
            report_.line(Level::Warn, name, doctor::size_and_date(os(), db),
                         "The launcher keeps it as it is, but this date is outside what it can compare: set "
                         "this PC's clock and date (a flat clock battery?)");
        } else {
            report_.line(Level::Ok, name, doctor::size_and_date(os(), db), "Kept as it is");
        }
    }

    void check_free_space() {
        const std::string subject = "free space";
        // The start unpacks the program (after deleting the old one), copies a newer
        // upgrade copy beside the package, and unpacks a missing database.
        const uint64_t needed = static_cast<uint64_t>(program_size_) +
                                static_cast<uint64_t>(will_fetch_ ? fetch_size_ : 0) +
                                static_cast<uint64_t>(database_missing_ ? database_size_ : 0);
        const std::optional<uint64_t> free = os().free_disk_space(dir_);
        if (!free) {
            report_.line(Level::Warn, subject, "the volume of " + dir_ + " does not tell",
                         "Check by hand that the program fits");
            return;
        }
        const uint64_t room = *free + static_cast<uint64_t>(program_now_);
        const std::string found =
            doctor::amount(*free) + " free, the next start needs " + doctor::amount(needed) +
            (program_size_known_ ? "" : " and the program, whose size no package tells");
        if (room < needed) {
            report_.line(Level::Fail, subject, found,
                         "The program cannot be unpacked: make room on this disk");
        } else {
            report_.line(Level::Ok, subject, found);
        }
    }

    void check_running() {
        if (os().mutex_exists(launcher::kApplicationMutexName)) {
            report_.line(Level::Warn, "application", "running now",
                         "A start now only says \"Can run only one instance of the program !\": close the "
                         "application first");
        } else {
            report_.line(Level::Ok, "application", "not running");
        }
    }

    // The run log that holds the latest run: the folder's, or this user's fallback log
    // (where a launcher writes when it cannot write the folder), whichever was written
    // last; empty `from` when neither holds a run.
    struct RunLog {
        std::string from, block;
        bool fallback = false;
    };
    RunLog latest_run_log() {
        RunLog latest;
        const std::string state = os().user_state_directory();
        for (const std::string& log : {path(kLogName), state.empty() ? std::string() : state + kLogName}) {
            if (log.empty()) continue;
            const std::optional<std::string> text = doctor::read_whole_file(os(), log);
            const std::string block = text ? doctor::last_run_block(*text) : std::string();
            if (block.empty()) continue;
            const std::optional<int64_t> stamp = os().modification_stamp(log);
            if (!latest.from.empty() && !(stamp && (!latest_stamp_ || *stamp > *latest_stamp_))) continue;
            latest = {log, block, log != path(kLogName)};
            latest_stamp_ = stamp;
        }
        return latest;
    }

    void check_log() {
        const RunLog log = latest_run_log();
        if (log.from.empty()) {
            const bool present = doctor::read_whole_file(os(), path(kLogName)).has_value();
            report_.line(Level::Ok, kLogName, present ? "holds no run" : "none in this folder",
                         present ? std::string()
                                 : std::string("No start has written here yet; a launcher that cannot write its "
                                               "folder logs to ") + kFallbackLog + " of the user who starts it");
            return;
        }
        if (log.fallback) {
            report_.line(Level::Ok, kLogName,
                         "the last run, from " + log.from + " (this user's log, kept when the folder cannot be "
                         "written):");
        } else if (!folder_writable_) {
            report_.line(Level::Warn, kLogName,
                         "the last run in this folder's log, which may be old: no start can write to the folder "
                         "now:");
        } else {
            report_.line(Level::Ok, kLogName, "the last run:");
        }
        report_.detail(log.block);
    }

    platform::Platform& os_;
    platform::WebClient& web_client_;  // lives as long as the process: a helper may outlast us
    std::string dir_;  // with its delimiter
    Report report_;
    std::string upgrade_, upgrade_path_;
    bool configured_ = false;
    std::vector<launcher::NamedKey> trusted_;
    bool relative_ = false;
    bool web_ = false;        // the upgrade location is a URL
    bool web_fetch_ = false;  // ... whose copy the next start fetches
    bool will_fetch_ = false;
    int64_t fetch_size_ = 0, fetched_entry_size_ = 0;
    int64_t program_size_ = 0, program_now_ = 0, database_size_ = 0;
    bool program_size_known_ = false;
    bool database_missing_ = false, database_supplied_ = false;
    bool folder_writable_ = true;
    std::optional<int64_t> latest_stamp_;
};

int run_doctor(platform::Platform& os, const Args& args) {
    if (args.size() > 1 || (!args.empty() && args[0].size() > 1 && args[0][0] == '-'))
        return usage_error("doctor takes at most one folder");
    std::string dir = args.empty() ? std::string() : args[0];
    if (!is_absolute(dir)) {
        const std::string cwd = os.current_directory();
        dir = dir.empty() || dir == "." ? cwd : cwd + (ends_with_delimiter(cwd) ? "" : std::string(1, kDelimiter)) + dir;
    }
    if (!os.directory_exists(dir)) {
        const platform::PathLook look = platform::look_at(dir);
        if (look.state == platform::PathState::Unreadable)
            throw kalv::FileStreamError("cannot read folder " + dir + " (" + look.reason +
                                        "): run kalvtool doctor as a user who may read it");
        throw kalv::FileStreamError("no folder " + dir);
    }
    if (!ends_with_delimiter(dir)) dir += kDelimiter;
    // The packages are read on a helper that a hanging share may leave behind: it starts
    // no threads of its own (which it would have to join), and a check needs no second core.
    kalv::unzip::set_process_threading(kalv::unzip::UZThreading::Off);
    return Doctor(os, platform::native_web(), dir).run();
}

const Registration registration{
    {"doctor", "kalvtool doctor [DIR]           check an installation as its launcher will see it", run_doctor,
     "Checks the installation in DIR (default: the current folder) as its launcher will see\n"
     "it at its next start, and writes nothing: NET.INF and its upgrade path (a relative one\n"
     "read from DIR, the folder the launcher starts in); the publisher keys it names; whether\n"
     "the upgrade copy is there, newer, signed by which key, and would be fetched or dropped (an\n"
     "http(s):// upgrade location is asked with the launcher's conditional request, its body\n"
     "not downloaded); whether Kalvo3pack and Volka.bpl open with the\n"
     "package password and pass their CRC-32; Kalvo3main and KALVO3.IB with sizes and dates\n"
     "(a date before 1980 or after 2107 is flagged); free space for the next start; whether\n"
     "the application runs now; and the last run's block of Kalv3.log (the folder's, or this\n"
     "user's fallback log when that holds a later run). Before all that: whether DIR can be\n"
     "read at all (if not, nothing else is checked), and whether this user can create,\n"
     "replace and delete files in it (a probe file, deleted at once).\n"
     "One line per check, starting with OK, WARN (the shop starts, but look) or FAIL (the\n"
     "application will not start), with a hint.\n\n"
     "Exit codes: 0 all OK, 1 warnings, 2 failures (or no such DIR), 64 usage error."}};

}  // namespace
}  // namespace kalvtool
