// The command line of the commands that read an archive's entries (extract, test):
//   [-P PASSWORD] [-d DIR] [-o always|never] [-r] ARCHIVE [PATTERN...]
// with the options also between and after ARCHIVE and the patterns, as unzip takes
// them; "--" ends the options.
// parsed once, and the patterns handed to the extraction core as the launcher hands
// the component its entry: as FilesList lines.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "commands.h"
#include "unzip/extract.h"

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

// Chooses the entries that the patterns match, every entry when none is given.
void choose_entries(kalv::unzip::ExtractOptions& options, const std::vector<std::string>& patterns);

// What the component would put in a box goes to stderr as "kalvtool COMMAND: ..."
// instead: an entry's unknown compression method, a decoder out of memory, and the
// question for the next disk of a split archive on a removable drive, which is
// answered with Cancel. A command line never waits on a box that nobody may be
// there to press. (Overwriting needs no question: -o answers it.)
class StderrObserver : public kalv::unzip::Observer {
public:
    explicit StderrObserver(const char* command) : command_(command) {}
    void problem(int index, kalv::unzip::ZipProblem what) override;
    bool next_disk(int disk, kalv::unzip::SpanMode mode, std::string& name) override;

    // The archive, for the names in the lines; set by open_archive.
    const kalv::unzip::Archive* archive = nullptr;

protected:
    const char* command_;
};

// Opens `path` and reads its directory, of any entry count.
std::unique_ptr<kalv::unzip::Archive> open_archive(kalv::platform::FileSystem& files, const std::string& path, StderrObserver& observer);

}  // namespace kalvtool
