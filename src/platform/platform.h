// The one place where Kalv3 meets the operating system. Every layer above calls
// the current Platform; the product installs the native backend (win32/ or
// posix/), tests may install the recording fake, so that a whole run of the
// startup sequence can be compared as a transcript.
//
// Texts are byte strings in the system's code page; paths are native paths
// (backslashes on Windows, slashes on POSIX). Nothing here converts characters,
// except oem_to_ansi and utf8_to_ansi, which exist for exactly that.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace kalv::platform {

// ---------------------------------------------------------------- files ----

enum class OpenMode {
    ReadDenyWrite,    // the archive: read access, others may not write
    ReadShared,       // a further part of a split archive: read access, default sharing
    // An output file that did not exist, with exclusive access: O_CREAT | O_EXCL |
    // O_NOFOLLOW, CREATE_NEW without following a reparse point. Whatever stands at the
    // name (a planted link, somebody's own file, a read-only leftover) is never
    // truncated, deleted or written through: the open fails instead.
    CreateNew,
};

enum class SeekOrigin { Begin = 0, Current = 1, End = 2 };

// An open OS file, unbuffered (the buffered streams of the ZIP component sit on it).
// read/write return the bytes transferred (0 at the end of the file, or on failure);
// a closed handle is the destructor's job.
class FileHandle {
public:
    virtual ~FileHandle() = default;
    virtual size_t read(void* buffer, size_t n) = 0;
    virtual size_t write(const void* buffer, size_t n) = 0;
    // Returns the new position from the start, or -1 when the seek failed.
    virtual int64_t seek(int64_t offset, SeekOrigin origin) = 0;
    virtual int64_t size() = 0;
    // Puts what was written on the disk itself (FlushFileBuffers, fsync), so that a
    // rename that follows never publishes a file whose data a power cut can still lose.
    virtual bool sync() = 0;
    // Has the system start putting what was written so far on the disk, without
    // waiting for it: a long write that asks now and then leaves sync() only its
    // last stretch to wait for, and the disk works while the writer copies. A hint
    // only; where the system has no such call (Windows) it does nothing.
    virtual void start_sync() {}
    // The file's last-write time and stored attributes, given through this handle
    // (futimens, fchmod; SetFileTime, SetFileInformationByHandle) rather than by
    // name: whatever is swapped in at the file's name meanwhile is never touched. As
    // Platform::set_file_dos_time and set_file_attributes read their arguments.
    virtual bool set_dos_time(uint32_t /*dos_date_time*/) { return false; }
    // The last-write time as seconds since 1970 UTC (an archive's Unix timestamp): no
    // time zone takes part. False when the system cannot hold that time.
    virtual bool set_unix_time(int64_t /*seconds*/) { return false; }
    virtual bool set_attributes(uint32_t /*external_attributes*/, uint16_t /*version_made_by*/) { return false; }
};

// A file of this process's own beside another one, and its name.
struct TemporaryFile {
    std::unique_ptr<FileHandle> handle;
    std::string path;
};

// What one look at a path found: file_exists, file_age and file_size in one answer.
struct FileLook {
    bool exists = false;   // a file, whatever its date (file_exists)
    bool directory = false;
    int32_t age = -1;      // file_age
    int64_t size = -1;     // file_size
};

// A lock held across processes until its owner lets it go or ends.
class SystemLock {
public:
    virtual ~SystemLock() = default;
};

// ----------------------------------------------------------- user face ----

enum class Cursor : int { Default = 0, HourGlass = -11, AppStart = -19 };

enum class BoxButtons { Ok, OkCancel, YesNo };
enum class BoxIcon { None, Error, Warning, Information, Question };
enum class BoxAnswer { Ok, Cancel, Yes, No };

// --------------------------------------------------------------- the API ----

class Platform {
public:
    virtual ~Platform() = default;

    // Files and directories ------------------------------------------------
    // Throws FileStreamError "Cannot open file %s" / "Cannot create file %s".
    virtual std::unique_ptr<FileHandle> open_file(const std::string& path, OpenMode mode) = 0;
    // Last-write time of a file in local time, packed in the DOS form, read as a
    // signed 32-bit value; -1 when nothing is there, for a directory, and for a
    // time before 1980 or after 2107.
    virtual int32_t file_age(const std::string& path) = 0;
    // A regular file is at the path, whatever its date (file_age says -1 for a file
    // dated before 1980, which is still there and still somebody's data).
    virtual bool file_exists(const std::string& path) = 0;
    // The size of the file in bytes, -1 when it cannot be had. The native backends ask
    // the directory (stat, FindFirstFileA) and never open the file: opening a FIFO, or
    // a file that a publisher holds, can block or fail where a look answers.
    virtual int64_t file_size(const std::string& path);
    // One look at `path` (exists, directory, age, size) that answers within `bound`,
    // or nullopt when it did not: a hung network share blocks stat(2) and
    // FindFirstFileA in the kernel, where no time-out reaches them. The look runs on a
    // helper thread while this one handles window messages; a helper that never comes
    // back is left behind, owns nothing the caller still needs, and ends with the
    // process, whose end it does not hold up. Failures of the look pass to the caller.
    virtual std::optional<FileLook> look_within(const std::string& path, std::chrono::milliseconds bound);
    // Modification time in the system's own units, for "has the archive changed";
    // nullopt when the file cannot be stat'ed.
    virtual std::optional<int64_t> modification_stamp(const std::string& path) = 0;
    virtual bool directory_exists(const std::string& path) = 0;
    // A symbolic link, a junction or another reparse point stands at the path itself
    // (lstat; FILE_ATTRIBUTE_REPARSE_POINT): a name that may lead out of the folder
    // that holds it.
    virtual bool is_link(const std::string& path) = 0;
    // Makes `path` a symbolic link to `target`, replacing a file there in one step (a
    // link made beside it under a new name, then renamed over it), never a folder or a
    // read-only file; false when it could not be made (always where links need a
    // privilege the program does not ask for: Windows).
    virtual bool create_link(const std::string& /*target*/, const std::string& /*path*/) { return false; }
    // Creates the directory and every missing parent; false when that failed.
    virtual bool create_directories(const std::string& path) = 0;
    virtual bool delete_file(const std::string& path) = 0;
    // A plain rename that fails when the target exists (MoveFileA).
    virtual bool move_file(const std::string& from, const std::string& to) = 0;
    // Puts `from` in the place of `to` in one step, replacing an existing `to`
    // (MoveFileExA with MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH; rename(2)
    // and an fsync of the directory): there is no moment at which neither file is
    // there, and the new name is on the disk when it returns true. A read-only `to`
    // is not replaced (Windows refuses; POSIX mirrors it).
    virtual bool replace_file(const std::string& from, const std::string& to) = 0;
    // replace_file for files put in place in a batch: the same one step, but the new
    // name need not be on the disk yet when it returns. sync_directory then puts the
    // names of a whole batch on the disk at once, where a directory sync after each
    // rename would cost one disk write each. A read-only `to` is not replaced.
    virtual bool replace_file_deferred(const std::string& from, const std::string& to) = 0;
    // Puts the names that replace_file_deferred gave in `directory` on the disk; false
    // when that failed.
    virtual bool sync_directory(const std::string& directory) = 0;
    // Puts what was written to each of the files on the disk, as FileHandle::sync does;
    // returns how many of them, from the first, are there (all: files.size()). Every
    // file is synced, whatever the others' outcome. By default several at once: one
    // sync after another waits for the disk once per file, while waits that overlap
    // let the disk (and a journal) serve them together.
    virtual size_t sync_files(const std::vector<FileHandle*>& files);
    // Copies, keeping the source's last-write time (not its read-only attribute);
    // replaces `to` unless fail_if_exists. The copy is on the disk when it returns
    // true. A source that delivers nothing for `stall_timeout` (a share that hangs)
    // ends the copy as failed; window messages are handled while it runs.
    virtual bool copy_file(const std::string& from, const std::string& to, bool fail_if_exists,
                           std::chrono::milliseconds stall_timeout) = 0;
    // Takes away a file's read-only attribute (on POSIX: gives the owner write
    // permission); true when the file is writable afterwards.
    virtual bool clear_read_only(const std::string& path) = 0;
    // Sets a file's last-write time from a DOS date-time taken as local time.
    virtual bool set_file_dos_time(const std::string& path, uint32_t dos_date_time) = 0;
    // Gives an extracted file its stored attributes. version_made_by tells how to read
    // them (APPNOTE 4.4.2: high byte 3 = Unix, permission bits in the high 16 bits).
    virtual bool set_file_attributes(const std::string& path, uint32_t external_attributes,
                                     uint16_t version_made_by) = 0;
    // Archive names from the OEM code page to the system's ANSI/text encoding.
    virtual std::string oem_to_ansi(const std::string& oem) = 0;
    // Archive names flagged UTF-8 (APPNOTE 4.4.4, bit 11) to the same encoding; a
    // character that the ANSI code page lacks becomes "_".
    virtual std::string utf8_to_ansi(const std::string& utf8) = 0;
    // The drive named by a path's root is removable media (split archives on disks).
    virtual bool is_removable_drive(const std::string& root) = 0;
    virtual std::string volume_label(const std::string& root) = 0;
    // Bytes that this user may still write on the volume holding `directory`
    // (GetDiskFreeSpaceExA's caller-available bytes, statvfs's f_bavail); nullopt when
    // the volume cannot be asked.
    virtual std::optional<uint64_t> free_disk_space(const std::string& directory) = 0;

    // The profile API: GetPrivateProfileStringA's rules (names without regard to case,
    // value trimmed, one pair of quotes removed, cut to buffer_size - 1 characters).
    virtual std::string profile_string(const std::string& file, const std::string& section,
                                       const std::string& key, const std::string& default_value,
                                       size_t buffer_size) = 0;

    // Adds `bytes` at the end of the file, creating it when missing; false when the
    // file cannot be written.
    virtual bool append_file(const std::string& path, const std::string& bytes) = 0;
    // A folder of the user's own for the program's state, with its delimiter (the
    // local application-data folder + "Kalv3" on Windows, $XDG_STATE_HOME/kalv3 on
    // POSIX); created when missing; empty when there is none.
    virtual std::string user_state_directory() = 0;

    // Whether the last open, delete, move, replace, copy or start that failed here
    // failed for a reason that passes by itself: a sharing or lock violation or access
    // denied on Windows (a virus scanner, an indexer or a backup holding the file for a
    // moment), "text file busy" on POSIX. Operations that succeed leave it alone.
    virtual bool last_failure_transient() = 0;

    // Process ------------------------------------------------------------------
    // True when a mutex of that name exists and could be opened for SYNCHRONIZE
    // (on POSIX: a process of this user holds its lock file, see hold_mutex).
    // The handle is closed before returning; nothing is created.
    virtual bool mutex_exists(const std::string& name) = 0;
    virtual std::string module_path() = 0;       // the launcher's own full path
    virtual std::vector<std::string> command_line_arguments() = 0;  // without the program
    virtual uint32_t platform_id() = 0;          // dwPlatformId; 2 = the NT family
    // WinExec semantics: returns a value >= 32 on success, < 32 on failure.
    virtual uint32_t start_program(const std::string& command_line, const std::string& explicit_program) = 0;
    virtual std::string current_directory() = 0;
    // A lock of that name across the processes of this user's session (a named mutex;
    // on POSIX flock(2) on a file of the user's own in $XDG_RUNTIME_DIR or beside the
    // program, or a lock that holds nothing where no such file can be had), or nullptr
    // when another process holds it.
    // It is let go when the returned object goes or the process ends.
    virtual std::unique_ptr<SystemLock> try_lock(const std::string& name) = 0;
    // A tag for a temporary file's name that nobody can predict: 12 hex digits from
    // the OS's cryptographic random source (a fake gives them in order).
    virtual std::string random_tag();
    // A clock for time-outs that never steps back, and a pause of the thread.
    virtual std::chrono::milliseconds monotonic_time() = 0;
    virtual void sleep(std::chrono::milliseconds duration) = 0;

    // User face ----------------------------------------------------------------
    virtual BoxAnswer message_box(const std::string& text, const std::string& caption, BoxButtons buttons,
                                  BoxIcon icon) = 0;
    virtual void set_cursor(Cursor cursor) = 0;
    virtual void process_messages() = 0;        // handle every pending window message
    virtual std::string load_string(unsigned id) = 0;  // the program's string table

    // The user chooses a file or a folder (the "?" forms of the extraction component's
    // names). choose_open_file: a file-open dialog titled `title`, whose `filter` is
    // written as label|pattern pairs ("Zip Files (*.ZIP)|*.zip|All Files (*.*)|*.*"),
    // opened in `start_dir`. choose_folder: the shell's folder browser, in which the
    // user may also make a new folder, opened at `start_dir`. Each returns the chosen
    // path, or nullopt when the user cancelled. A platform without a user to ask (the
    // POSIX build, the test fakes) answers as a cancel.
    virtual std::optional<std::string> choose_open_file(const std::string& title, const std::string& filter,
                                                        const std::string& start_dir);
    virtual std::optional<std::string> choose_folder(const std::string& start_dir);
};

// Creates `path` + "." + a random tag + `suffix` with OpenMode::CreateNew, beside `path`
// and so on its volume, where a rename can put it in place in one step. A name that is
// taken is given up for another; throws FileStreamError "Cannot create file <path>"
// when no name could be created.
TemporaryFile create_temporary_beside(Platform& os, const std::string& path, const std::string& suffix);

// Runs `job` on a helper thread and waits for it at most `bound`, handling window
// messages of `os` meanwhile: true when it ended in time. A job that does not is left
// to run on, and must hold everything it touches itself (by value, by shared_ptr).
bool finish_within(Platform& os, std::chrono::milliseconds bound, std::function<void()> job);

// The platform the process runs on (the native backend unless a test installed another).
Platform& current();

// Installs `replacement` for the lifetime of the guard (a test's fake, or a layer over
// the platform such as the launcher's RetryingPlatform).
class ScopedPlatform {
public:
    explicit ScopedPlatform(Platform& replacement);
    ~ScopedPlatform();
    ScopedPlatform(const ScopedPlatform&) = delete;
    ScopedPlatform& operator=(const ScopedPlatform&) = delete;

private:
    Platform* previous_;
};

// Defined by the backend that CMake chooses (win32/ or posix/).
Platform& native();

}  // namespace kalv::platform
