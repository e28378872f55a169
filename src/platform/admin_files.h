// What kalvtool's administration commands (publish, pack, doctor) need of the
// operating system beyond the launcher's interface (platform.h) and publishing's
// (publishing.h): a file's identity, the reason a path cannot be looked at, a
// replaced file's owner and mode, an exclusive lock file, and a probe of a folder's
// write rights. The launcher never calls them; they are plain functions of the
// backend that CMake chooses.
#pragma once

#include <cstdint>
#include <string>

namespace kalv::platform {

// Whether two paths name one and the same file, by identity (st_dev and st_ino; the
// volume serial number and file index), not by spelling: a hard link, a "./" or a
// share's other name are caught. false when either cannot be opened.
bool same_file(const std::string& a, const std::string& b);

enum class PathState {
    Present,     // something (a file or a folder) is there
    Missing,     // nothing is there (ENOENT, ENOTDIR; ERROR_FILE_NOT_FOUND, ERROR_PATH_NOT_FOUND)
    Unreadable,  // it cannot be looked at (EACCES and the rest; ERROR_ACCESS_DENIED...)
};
struct PathLook {
    PathState state = PathState::Missing;
    std::string reason;  // the system's words, for Unreadable
};
PathLook look_at(const std::string& path);

// Gives `copy` the permission bits, owner and group of `original` where the system
// lets this user do so (POSIX: fchown, then fchmod, so that the kept set-id bits are
// not cleared by the change of owner; a group or owner that may not be given is left
// as it is). Nothing when `original` is not there. On Windows nothing is done: a file
// created in the folder inherits the folder's ACLs, as a copy of it does.
void keep_owner_and_mode(const std::string& original, const std::string& copy);

// Creates `path` exclusively (O_CREAT | O_EXCL | O_NOFOLLOW; CREATE_NEW) with
// `content` in it. false when something is already at the path (a symbolic link
// included); throws Error "Cannot create PATH: reason" for any other failure.
bool create_lock_file(const std::string& path, const std::string& content);

// This process's id and this computer's name, as a lock file records its holder.
uint64_t process_id();
std::string host_name();

// false only when no process with this id runs on this computer; a process that
// may not be asked is taken as running.
bool process_running(uint64_t pid);

// Creates a uniquely named file in `folder` (ending in its delimiter) exclusively,
// replaces a second one with it in one step, and deletes it: what a launcher does to
// its files at every start. Empty when all three worked, else which step failed and
// the system's reason. Nothing is left behind either way.
std::string probe_writable(const std::string& folder);

}  // namespace kalv::platform
