// The two file operations that keys and signatures need beyond publishing.h: a
// private key written where only its owner can read it, and a signature written
// into a finished package in place. Only kalvtool calls them.
//
// Failures are FileStreamError with a message naming the file and the OS's reason.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace kalv::platform {

// Creates `path` exclusively (it must not exist, a link there included) so that this
// user alone may read and write it (mode 0600; on Windows a protected DACL with one
// entry, for this user), writes `bytes` and flushes it to the disk. On a failure
// after the file was made, the file is removed again.
void write_owner_only_file(const std::string& path, const std::string& bytes);

// Writes `bytes` at `offset` into the existing regular file at `path` (a symbolic
// link there is not followed), extending it when they reach past its end, and
// flushes it to the disk.
void write_into_file(const std::string& path, uint64_t offset, const std::string& bytes);

// Who besides its owner may read or write the file at `path`, in words for a warning
// with the way to close it ("mode 0644; chmod 600 makes it yours alone"): nothing when
// only its owner may (the system and the administrators, who can read any file, are not
// counted), or when it cannot be told. POSIX: any group or other bit, as a copy from a
// backup leaves them; Windows: the entries of its access list.
std::optional<std::string> who_else_may_open(const std::string& path);

}  // namespace kalv::platform
