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

// The permission bits of the file at `path` when users other than its owner may read or
// write it (POSIX: any group or other bit, e.g. 0644 after a copy from a backup);
// nothing when only its owner may, or when it cannot be told. On Windows the access list
// is not examined (keygen makes it this user's alone): nothing.
std::optional<unsigned> mode_open_to_others(const std::string& path);

}  // namespace kalv::platform
