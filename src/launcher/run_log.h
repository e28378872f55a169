// The run log: every launcher run appends one block to Kalv3.log beside the launcher
// (or, where that folder cannot be written, in the user's state folder), so that an
// administrator who hears "it shows an error" can read what the launcher read, decided
// and showed. A block begins with a line "=== Kalv3 <version> run <local time>".
//
// The lines are gathered in memory and written once, when the run ends: the log never
// delays the run, and a failure to write it is ignored. Past kRotateBytes the file
// becomes Kalv3.log.1 (one old file is kept). Never written: the package password and
// the start token.
#pragma once

#include <cstdint>
#include <string>

namespace kalv::launcher::runlog {

inline constexpr const char* kLogName = "Kalv3.log";
inline constexpr int64_t kRotateBytes = 1 << 20;

// Starts a new block (forgetting lines of an earlier one that was never written).
void Begin();
// Adds one line to the block, its control characters as \xNN (core/printable.h).
void Note(const std::string& line);
// Writes the block and starts afresh.
void Write();

// A DOS date-time as "YYYY-MM-DD hh:mm:ss", or "no representable date" for -1.
std::string DosTimeText(int32_t dos_date_time);

}  // namespace kalv::launcher::runlog
