// The recording fake: a Platform and a splash window in one, for running the launcher's
// startup sequence in a unit test. It keeps the installation as an in-memory file set
// (loaded from real files, e.g. packages made by Info-ZIP zip) and writes, in order,
// every message box, cursor change, message pump, splash change, file change and
// program start into a transcript that a test compares whole. Beside it, for tests on
// real files, RecordedUiPlatform records only the boxes, pumps and cursor changes.
//
// Transcript lines (paths below `dir` are shown as "<D>" + the rest):
//   box <caption> | <text>          (a carriage return in the text shows as "\r"), for an
//                                   error box: the error icon and an OK button alone
//   box <caption> | <text> [<icon>, <buttons>]   any other box, e.g. [no icon, OK],
//                                   [question icon, Yes No] (as the box watcher logs them)
//   cursor AppStart / cursor Default
//   pump
//   caption <text> / status <text> / max <n> / position <n>
//   create <path>                   (a file opened for writing)
//   delete <path> / move <from> -> <to> / copy <from> -> <to>   (attempts, also failed ones)
//   replace <to> by <from>
//   replace <to> by <from>, name synced later   (a rename whose directory is synced after
//                                   a batch of them)
//   sync <path>                     (a file written so far put on the disk)
//   sync folder <path>              (the names a batch of renames gave put on the disk)
//   writable <path>                 (a read-only attribute taken away)
//   start <program> | <command line>
//   lock <name> waited <ms>         (a lock that another process held for a while)
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/forwarding_platform.h"
#include "platform/platform.h"
#include "splash/splash_view.h"

namespace kalv::testing {

class RecordingPlatform final : public platform::Platform, public splash::SplashView {
public:
    // A DOS date-time (local time) that tests use as "now" for files they put in place.
    static constexpr uint32_t kSomeDosTime = 0x5A8B6000;  // 2025-04-11 12:00:00

    explicit RecordingPlatform(std::string dir);

    // ---- the scene -------------------------------------------------------------
    std::string dir;                              // LauncherDir, with its delimiter
    std::string module_name = "Kalv3.exe";
    std::string cwd;                              // relative paths resolve here
    std::vector<std::string> arguments;
    uint32_t platform_id_value = 2;
    std::set<std::string> held_mutexes;
    uint32_t start_result = 33;
    std::optional<std::string> start_failure;     // start_program throws kalv::Error(this)
    // copy_file stops after this many bytes and fails (the network went away).
    std::optional<size_t> copy_breaks_after;
    // ... and still reports success (a read error taken for the end of the source).
    bool torn_copy_reported_complete = false;
    std::optional<std::string> failing_file_age;  // file_age and file_exists of this path throw
    std::set<std::string> read_only;              // files with the read-only attribute
    // The copy's source stops delivering: copy_file waits out its stall time-out.
    bool copy_stalls = false;
    // Paths on a share that never answers: a bounded look waits out its bound, a copy
    // its stall time-out, and an unbounded look or open throws "hung for good: ..."
    // (on a real share it would hang the launcher for good).
    std::set<std::string> hung;
    // Called at each bounded look, before it answers (a test reads the scene then).
    std::function<void(const std::string& path)> on_look;
    // Locks that another process holds until the fake clock reaches the given time.
    std::map<std::string, std::chrono::milliseconds> locks_held_until;
    std::chrono::milliseconds clock{0};           // advanced by sleep() and stalls
    std::string state_dir;                        // the user's state folder (none by default)
    std::set<std::string> unwritable;             // files that cannot be appended to
    // Files another process holds open without sharing (a virus scanner) until the
    // fake clock reaches the given time: every operation on them fails transiently.
    std::map<std::string, std::chrono::milliseconds> held_open_until;
    std::string caption_text = "Kalvo...";
    std::optional<uint64_t> free_space = uint64_t(1) << 40;  // what free_disk_space reports
    std::set<std::string> failing_syncs;          // files and folders whose sync fails (the disk refused them)
    std::set<std::string> links;                  // symbolic links (full paths); nothing is behind them
    std::string tag = "tmp";                      // what random_tag() gives

    void put_file(const std::string& path, std::string content, uint32_t dos_time = kSomeDosTime);
    void put_real_file(const std::string& path, const std::string& real_path, uint32_t dos_time = kSomeDosTime);
    void put_directory(const std::string& path);
    bool has_file(const std::string& path) const;
    std::string content(const std::string& path) const;
    uint32_t dos_time(const std::string& path) const;
    std::vector<std::string> file_names() const;

    std::vector<std::string> transcript;
    // The transcript without the lines of the listed kinds (first words).
    std::vector<std::string> without(std::initializer_list<const char*> kinds) const;

    // ---- Platform ---------------------------------------------------------------
    platform::OsResult<std::unique_ptr<platform::FileHandle>> open(const std::string& path,
                                                                   platform::OpenMode mode) override;
    int32_t file_age(const std::string& path) override;
    bool file_exists(const std::string& path) override;
    // Answered at once (or, for a hung path, after the fake clock passed the bound).
    std::optional<platform::FileLook> look_within(const std::string& path, std::chrono::milliseconds bound) override;
    std::optional<int64_t> modification_stamp(const std::string& path) override;
    bool directory_exists(const std::string& path) override;
    bool is_link(const std::string& path) override;
    // Always `tag`, so that temporary names read the same in every transcript (a
    // temporary file that outlived its use would make the next one fail).
    std::string random_tag() override { return tag; }
    platform::OsStatus create_directories(const std::string& path) override;
    platform::OsStatus delete_file(const std::string& path) override;
    platform::OsStatus move_file(const std::string& from, const std::string& to) override;
    platform::OsStatus replace_file(const std::string& from, const std::string& to) override;
    platform::OsStatus replace_file_deferred(const std::string& from, const std::string& to) override;
    platform::OsStatus sync_directory(const std::string& directory) override;
    // One after another, in order, so that the transcript is the same at every run.
    size_t sync_files(const std::vector<platform::FileHandle*>& files) override;
    platform::OsStatus copy_file(const std::string& from, const std::string& to, bool fail_if_exists,
                   std::chrono::milliseconds stall_timeout) override;
    platform::OsStatus clear_read_only(const std::string& path) override;
    // Not recorded: the run log is read back from the file set instead.
    platform::OsStatus append_file(const std::string& path, const std::string& bytes) override;
    std::string user_state_directory() override { return state_dir; }
    bool set_file_dos_time(const std::string& path, uint32_t dos_date_time) override;
    bool set_file_attributes(const std::string& path, uint32_t external_attributes,
                             uint16_t version_made_by) override;
    std::string oem_to_ansi(const std::string& oem) override;
    std::string utf8_to_ansi(const std::string& utf8) override { return utf8; }
    bool is_removable_drive(const std::string& root) override;
    std::string volume_label(const std::string& root) override;
    std::optional<uint64_t> free_disk_space(const std::string& directory) override;
    std::string profile_string(const std::string& file, const std::string& section, const std::string& key,
                               const std::string& default_value, size_t buffer_size) override;
    bool mutex_exists(const std::string& name) override;
    std::string module_path() override;
    std::vector<std::string> command_line_arguments() override;
    uint32_t platform_id() override;
    platform::OsStatus start_program(const std::string& command_line, const std::string& explicit_program) override;
    std::string current_directory() override;
    std::unique_ptr<platform::SystemLock> try_lock(const std::string& name) override;
    std::chrono::milliseconds monotonic_time() override;
    void sleep(std::chrono::milliseconds duration) override;
    platform::BoxAnswer message_box(const std::string& text, const std::string& caption,
                                    platform::BoxButtons buttons, platform::BoxIcon icon) override;
    void set_cursor(platform::Cursor cursor) override;
    void process_messages() override;
    std::string load_string(unsigned id) override;

    // ---- SplashView -------------------------------------------------------------
    std::string caption() const override;
    void set_caption(const std::string& text) override;
    void set_status(const std::string& text) override;
    void set_progress_max(int max) override;
    void set_progress_position(int position) override;

private:
    struct File {
        std::shared_ptr<std::string> bytes;
        uint32_t dos_time;
        int64_t stamp;
    };
    std::string resolve(const std::string& path) const;
    std::string shown(const std::string& path) const;
    void record(const std::string& line);

    // True while another process holds the file.
    bool held_open(const std::string& path) const;
    // Throws when an unbounded operation reaches a hung path.
    void never_unbounded(const char* operation, const std::string& path) const;
    std::map<std::string, File> files_;
    std::map<std::string, std::chrono::milliseconds> lock_waits_;  // first refusal of each lock
    std::set<std::string> directories_;
    int64_t next_stamp_ = 1;
};

// The launcher's string table, as the product's resources hold it.
std::string launcher_text(unsigned id);

// For the ZIP component's tests on real files: the file work is done natively, and
// only the user face is recorded. Boxes are answered from `answers` (then Ok/Yes) and
// kept with their caption; message pumps and cursor changes are counted.
class RecordedUiPlatform final : public platform::ForwardingPlatform {
public:
    RecordedUiPlatform() : platform::ForwardingPlatform(platform::native()) {}

    struct Box {
        std::string caption, text;
        platform::BoxButtons buttons = platform::BoxButtons::Ok;
        platform::BoxIcon icon = platform::BoxIcon::None;
    };
    std::vector<Box> boxes;
    std::vector<platform::BoxAnswer> answers;
    int pumps = 0;
    int cursor_changes = 0;
    bool removable = false;  // every drive (a drive letter's root) is removable

    bool is_removable_drive(const std::string&) override { return removable; }
    std::string volume_label(const std::string&) override { return {}; }
    platform::BoxAnswer message_box(const std::string& text, const std::string& caption, platform::BoxButtons buttons,
                                    platform::BoxIcon) override;
    void set_cursor(platform::Cursor) override { ++cursor_changes; }
    void process_messages() override { ++pumps; }
};

}  // namespace kalv::testing
