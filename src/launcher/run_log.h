// The run log: every launcher run appends one block to Kalv3.log beside the launcher
// (or, where that folder cannot be written, in the user's state folder), so that an
// administrator who hears "it shows an error" can read what the launcher read, decided
// and showed. A block begins with a line "=== Kalv3 <version> run <local time>".
//
// The lines are gathered in memory until the run has its turn at the installation
// (StartWriting), so that a launcher waiting for another one never writes into that
// one's block; from then on each line goes to the disk as it comes, so a run that is
// killed or hangs leaves what it did so far. A failure to write is ignored. Past
// kRotateBytes the file becomes Kalv3.log.1 (one old file is kept) before a block's
// first lines. Never written: the package password and the start token.
#pragma once

#include <cstdint>
#include <string>

#include "platform/file_system.h"

namespace kalv::launcher::runlog {

inline constexpr const char* kLogName = "Kalv3.log";
inline constexpr int64_t kRotateBytes = 1 << 20;

// Starts a new block (forgetting lines of an earlier one that was never written),
// written through `files` into the launcher's `folder` (or the user's state folder).
// Before Begin, and after Write, lines are gathered but never written.
void Begin(platform::FileSystem& files, const std::string& folder);
// Adds one line to the block, its control characters as \xNN (core/printable.h).
void Note(const std::string& line);
// Writes the lines gathered so far, and every later one as it comes.
void StartWriting();
// Ends the block (a blank line), writing what is left, and starts afresh.
void Write();

// A DOS date-time as "YYYY-MM-DD hh:mm:ss", or "no representable date" for -1.
std::string DosTimeText(int32_t dos_date_time);

// A package as the refresh notes it: "missing", or "<DosTimeText>, <size> bytes".
std::string PackageText(bool exists, int32_t age, int64_t size);

}  // namespace kalv::launcher::runlog
