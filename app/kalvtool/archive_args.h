// The command line of the commands that read an archive's entries (extract, test):
//   [-P PASSWORD] [-d DIR] [-o always|never] [-r] ARCHIVE [PATTERN...]
// with the options also between and after ARCHIVE and the patterns, as unzip takes
// them; "--" ends the options.
// parsed once, and the patterns handed to the extraction component as the launcher
// hands it its entry: as FilesList lines.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "commands.h"
#include "unzip/unzipper.h"

namespace kalvtool {

struct ArchiveArgs {
    std::string password;
    std::string dest = ".";
    kalv::unzip::UZOverwriteMode overwrite = kalv::unzip::UZOverwriteMode::Always;
    bool recreate_dirs = false;
    std::string archive;
    std::vector<std::string> patterns;
};

// The options a command takes, as a string of their letters ("Pdor" for extract).
// Returns the arguments, or nullopt after usage_error has told what was wrong.
std::optional<ArchiveArgs> parse_archive_args(const Args& args, const std::string& options, const char* command);

// Chooses the entries of `zip` that the patterns match, every entry when none is given.
void choose_entries(kalv::unzip::UnZipper& zip, const std::vector<std::string>& patterns);

// What the component would put in a box goes to stderr as "kalvtool COMMAND: ..."
// instead: an entry's unknown compression method, a decoder out of memory, and the
// question for the next disk of a split archive on a removable drive, which is
// answered with Cancel. A command line never waits on a box that nobody may be
// there to press. (Overwriting needs no question: -o answers it.)
void report_on_stderr(kalv::unzip::UnZipper& zip, const char* command);

}  // namespace kalvtool
