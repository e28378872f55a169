// The operating system's files, folders and profile files, as one job of the OS layer
// (beside processes.h and user_interface.h). Code that only reads and writes files is
// given a FileSystem&; the product's is the native backend's (win32/ or posix/),
// tests give the recording fake.
//
// Texts are byte strings in the system's code page; paths are native paths
// (backslashes on Windows, slashes on POSIX). Nothing here converts characters,
// except oem_to_ansi and utf8_to_ansi, which exist for exactly that. Operations that
// change something answer with an OsStatus (os_error.h), which says whether a failure
// passes by itself.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/os_error.h"

namespace kalv::platform {

// The characters that end a folder's name in a native path (a drive's colon too on Windows).
#ifdef _WIN32
inline constexpr const char* kPathDelimiters = "\\/:";
#else
inline constexpr const char* kPathDelimiters = "/";
#endif

enum class OpenMode {
    ReadDenyWrite,    // the archive: read access, others may not write
    ReadShared,       // a further part of a split archive: read access, default sharing
    // An output file that did not exist, with exclusive access: O_CREAT | O_EXCL |
    // O_NOFOLLOW, CREATE_NEW without following a reparse point. Whatever stands at the
    // name (a planted link, somebody's own file, a read-only leftover) is never
    // truncated, deleted or written through: the open fails instead.
    CreateNew,
    // A file the program itself left beside another (a download to resume), read
    // access: a link at the name, or anything but a regular file there (a FIFO, a
    // device), fails the open rather than being followed or waited on.
    ReadOwnFile,
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
    // FileSystem::set_file_dos_time and set_file_attributes read their arguments.
    virtual bool set_dos_time(uint32_t /*dos_date_time*/) { return false; }
    // The last-write time as seconds since 1970 UTC (an archive's Unix timestamp): no
    // time zone takes part. False when the system cannot hold that time.
    virtual bool set_unix_time(int64_t /*seconds*/) { return false; }
    virtual bool set_attributes(uint32_t /*external_attributes*/, uint16_t /*version_made_by*/) { return false; }

    // The same transfers, telling a failure from the end of the file: a copy cut short
    // by a failing disk must not pass as complete. read_some makes one read (0 at the
    // end); write_all writes every byte or fails. The defaults know only the counts.
    virtual OsResult<size_t> read_some(void* buffer, size_t n) { return read(buffer, n); }
    virtual OsStatus write_all(const void* buffer, size_t n);
    // The last-write time in the system's own form, and that time given to another
    // file: what a copy keeps of its source. False where the handle cannot tell.
    virtual std::optional<int64_t> last_write_stamp() { return std::nullopt; }
    virtual bool set_last_write_stamp(int64_t /*stamp*/) { return false; }

    // Writes all of `n` bytes at `offset` from the start (positioned writes, for a
    // header patched once the data after it is known).
    OsStatus write_at(uint64_t offset, const void* buffer, size_t n);
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

class FileSystem {
public:
    virtual ~FileSystem() = default;

    // The file opened in `mode`, or why not.
    virtual OsResult<std::unique_ptr<FileHandle>> open(const std::string& path, OpenMode mode) = 0;
    // open, failing as the ZIP component's streams do: throws FileStreamError "Cannot
    // open file %s" / "Cannot create file %s".
    std::unique_ptr<FileHandle> open_file(const std::string& path, OpenMode mode);
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
    // FindFirstFileA in the kernel, where no time-out reaches them. Window messages
    // are handled meanwhile (look_within_bound in platform.h). Failures of the look
    // pass to the caller.
    virtual std::optional<FileLook> look_within(const std::string& path, std::chrono::milliseconds bound) = 0;
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
    // read-only file; fails when it could not be made (always where links need a
    // privilege the program does not ask for: Windows).
    [[nodiscard]] virtual OsStatus create_link(const std::string& target, const std::string& path);
    // A tag for a temporary file's name that nobody can predict: 12 hex digits from
    // the OS's cryptographic random source (a fake gives them in order).
    virtual std::string random_tag();
    // Creates the directory and every missing parent.
    [[nodiscard]] virtual OsStatus create_directories(const std::string& path) = 0;
    // Not [[nodiscard]]: a delete is often done for good measure, and the next step
    // reports what it finds.
    virtual OsStatus delete_file(const std::string& path) = 0;
    // A plain rename that fails when the target exists (MoveFileA).
    [[nodiscard]] virtual OsStatus move_file(const std::string& from, const std::string& to) = 0;
    // Puts `from` in the place of `to` in one step, replacing an existing `to`
    // (MoveFileExA with MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH; rename(2)
    // and an fsync of the directory): there is no moment at which neither file is
    // there, and the new name is on the disk when it succeeds. A read-only `to` is not
    // replaced (Windows refuses; POSIX mirrors it).
    [[nodiscard]] virtual OsStatus replace_file(const std::string& from, const std::string& to) = 0;
    // replace_file for files put in place in a batch: the same one step, but the new
    // name need not be on the disk yet when it returns. sync_directory then puts the
    // names of a whole batch on the disk at once, where a directory sync after each
    // rename would cost one disk write each. A read-only `to` is not replaced.
    [[nodiscard]] virtual OsStatus replace_file_deferred(const std::string& from, const std::string& to) = 0;
    // Puts the names that replace_file_deferred gave in `directory` on the disk.
    [[nodiscard]] virtual OsStatus sync_directory(const std::string& directory) = 0;
    // Puts what was written to each of the files on the disk, as FileHandle::sync does;
    // returns how many of them, from the first, are there (all: files.size()). Every
    // file is synced, whatever the others' outcome. By default several at once: one
    // sync after another waits for the disk once per file, while waits that overlap
    // let the disk (and a journal) serve them together.
    virtual size_t sync_files(const std::vector<FileHandle*>& files);
    // Copies, keeping the source's last-write time (not its read-only attribute);
    // replaces `to` unless fail_if_exists. The copy is on the disk when it succeeds. A
    // source that delivers nothing for `stall_timeout` (a share that hangs) ends the
    // copy as failed; window messages are handled while it runs (file_copy.h).
    [[nodiscard]] virtual OsStatus copy_file(const std::string& from, const std::string& to, bool fail_if_exists,
                                             std::chrono::milliseconds stall_timeout) = 0;
    // Takes away a file's read-only attribute (on POSIX: gives the owner write
    // permission); succeeds when the file is writable afterwards.
    virtual OsStatus clear_read_only(const std::string& path) = 0;
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

    // Adds `bytes` at the end of the file, creating it when missing.
    virtual OsStatus append_file(const std::string& path, const std::string& bytes) = 0;
    // A folder of the user's own for the program's state, with its delimiter (the
    // local application-data folder + "Kalv3" on Windows, $XDG_STATE_HOME/kalv3 on
    // POSIX); created when missing; empty when there is none.
    virtual std::string user_state_directory() = 0;
};

// A modification_stamp (or FileHandle::last_write_stamp) as whole seconds since 1970
// UTC, rounded down: the time an HTTP-date carries.
int64_t unix_seconds_of_stamp(int64_t stamp);

// The file age (FileSystem::file_age) that a file last written at `unix_seconds` has
// on this system: local time in the DOS form, -1 outside 1980 to 2107.
int32_t local_dos_age(int64_t unix_seconds);

// Creates `path` + "." + a random tag + `suffix` with OpenMode::CreateNew, beside `path`
// and so on its volume, where a rename can put it in place in one step. A name that is
// taken is given up for another; throws FileStreamError "Cannot create file <path>"
// when no name could be created.
TemporaryFile create_temporary_beside(FileSystem& files, const std::string& path, const std::string& suffix);

}  // namespace kalv::platform
