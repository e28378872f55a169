#include "launcher/run_log.h"

#include <cstdio>
#include <ctime>
#include <vector>

#include "core/dos_time.h"
#include "core/printable.h"
#include "kalv_version.h"
#include "platform/file_system.h"

namespace kalv::launcher::runlog {

namespace {

// The block's lines not yet on the disk, and where the block goes once it is written.
struct Block {
    platform::FileSystem* files = nullptr;  // where the block is written; none: nowhere
    std::string folder;                     // the launcher's own folder
    std::vector<std::string> pending;
    bool live = false;     // lines go to the disk as they come
    std::string path;      // the log that took the block's first lines
};

Block& Current() {
    static Block block;
    return block;
}

std::string LocalTimeNow() {
    const std::time_t now = std::time(nullptr);
    const std::tm* local = std::localtime(&now);  // one thread: the static result is ours
    char text[32] = "unknown time";
    if (local) std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", local);
    return text;
}

// Appends to the log in `dir`, first making room when it has grown past the bound;
// the path written, or empty when it could not be.
std::string AppendIn(platform::FileSystem& files, const std::string& dir, const std::string& lines) {
    if (dir.empty()) return {};
    const std::string path = dir + kLogName;
    // A log that cannot be rotated grows on: the append below still adds the block.
    if (files.file_size(path) > kRotateBytes) (void)files.replace_file(path, path + ".1");
    return files.append_file(path, lines) ? path : std::string();
}

// Puts the pending lines on the disk: the block's first ones in the launcher's folder
// or else the user's, the later ones after them in the same file.
void Flush() {
    Block& block = Current();
    if (block.pending.empty() || !block.files) return;
    platform::FileSystem& files = *block.files;
    std::string lines;
    for (const std::string& line : block.pending) lines += line + "\r\n";
    block.pending.clear();
    try {
        if (!block.path.empty()) {
            files.append_file(block.path, lines);
            return;
        }
        block.path = AppendIn(files, block.folder, lines);
        if (block.path.empty()) block.path = AppendIn(files, files.user_state_directory(), lines);
    } catch (const std::exception&) {
        // The log serves the administrator; it never changes how the run ends.
    }
}

}  // namespace

void Begin(platform::FileSystem& files, const std::string& folder) {
    Current() = Block{};
    Current().files = &files;
    Current().folder = folder;
    Current().pending.push_back("=== Kalv3 " KALV_VERSION_TEXT " run " + LocalTimeNow());
}

void Note(const std::string& line) {
    // One line stays one line: a name holding a line feed would otherwise forge lines,
    // or a whole run block that doctor takes for the last run.
    Current().pending.push_back(printable(line));
    if (Current().live) Flush();
}

void StartWriting() {
    Current().live = true;
    Flush();
}

void Write() {
    if (Current().pending.empty() && !Current().live) return;
    Current().pending.push_back("");  // a blank line ends the block
    Flush();
    Current() = Block{};  // forgets the file system too: nothing is written after the run
}

std::string DosTimeText(int32_t dos_date_time) {
    if (dos_date_time == -1) return "no representable date";
    const DosFields f = unpack_dos(static_cast<uint32_t>(dos_date_time));
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", f.year, f.month, f.day, f.hour, f.minute,
                  f.second);
    return text;
}

std::string PackageText(bool exists, int32_t age, int64_t size) {
    if (!exists) return "missing";
    return DosTimeText(age) + ", " + std::to_string(size) + " bytes";
}

}  // namespace kalv::launcher::runlog
