// The parts of `kalvtool doctor` that are not checks: its report lines, and what it
// reads of files (sizes, dates, the run log) through the platform.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "platform/file_system.h"

namespace kalvtool::doctor {

enum class Level { Ok, Warn, Fail };

// One line per check: "OK    subject: finding. hint", then a summary. The exit code
// follows the worst line: 0 all OK, 1 warnings, 2 failures.
class Report {
public:
    void line(Level level, const std::string& subject, const std::string& finding, const std::string& hint = {});
    // Lines printed below the last check, indented (the log's block).
    void detail(const std::string& text);
    void summary(const std::string& dir) const;
    int exit_code() const;

private:
    int counts_[3] = {};
};

// The file's size, or nullopt when it cannot be opened for reading.
std::optional<int64_t> file_size(kalv::platform::FileSystem& files, const std::string& path);

// "1234 bytes, dated 2026-12-07 13:31:32"; a file whose date the launcher cannot hold
// (file age -1) is "dated before 1980 or after 2107".
std::string size_and_date(kalv::platform::FileSystem& files, const std::string& path);
// The same of a size (nullopt: unreadable) and a file age already at hand.
std::string size_and_date(std::optional<int64_t> size, int32_t age);

// "2026-12-07 13:31:32" of a file age.
std::string dos_date_text(int32_t age);

// "N bytes" below 10 KiB, then "123.4 MiB", and from 10 GiB on "74.0 GiB".
std::string amount(uint64_t bytes);

// The last run's block of a run log: from its last line that begins with "=== " to
// the end, carriage returns dropped; empty when no line begins so.
std::string last_run_block(const std::string& log);

// The whole file, or nullopt when it cannot be opened.
std::optional<std::string> read_whole_file(kalv::platform::FileSystem& files, const std::string& path);

}  // namespace kalvtool::doctor
