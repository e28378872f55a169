#include "launcher/run_log.h"

#include <cstdio>
#include <ctime>
#include <vector>

#include "core/dos_time.h"
#include "core/printable.h"
#include "kalv_version.h"
#include "launcher/launcher.h"
#include "platform/platform.h"

namespace kalv::launcher::runlog {

namespace {

std::vector<std::string>& Lines() {
    static std::vector<std::string> lines;
    return lines;
}

std::string LocalTimeNow() {
    const std::time_t now = std::time(nullptr);
    const std::tm* local = std::localtime(&now);  // one thread: the static result is ours
    char text[32] = "unknown time";
    if (local) std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", local);
    return text;
}

// Appends to the log in `dir`, first making room when it has grown past the bound.
bool AppendIn(const std::string& dir, const std::string& block) {
    if (dir.empty()) return false;
    platform::Platform& os = platform::current();
    const std::string path = dir + kLogName;
    try {
        if (os.file_exists(path) && os.open_file(path, platform::OpenMode::ReadShared)->size() > kRotateBytes)
            os.replace_file(path, path + ".1");
    } catch (const std::exception&) {
        // An unreadable log is appended to as it is.
    }
    return os.append_file(path, block);
}

}  // namespace

void Begin() {
    Lines().clear();
    Lines().push_back("=== Kalv3 " KALV_VERSION_TEXT " run " + LocalTimeNow());
}

void Note(const std::string& line) {
    // One line stays one line: a name holding a line feed would otherwise forge lines,
    // or a whole run block that doctor takes for the last run.
    Lines().push_back(printable(line));
}

void Write() {
    if (Lines().empty()) return;
    std::string block;
    for (const std::string& line : Lines()) block += line + "\r\n";
    block += "\r\n";
    Lines().clear();
    try {
        if (!AppendIn(LauncherDir(), block)) AppendIn(platform::current().user_state_directory(), block);
    } catch (const std::exception&) {
        // The log serves the administrator; it never changes how the run ends.
    }
}

std::string DosTimeText(int32_t dos_date_time) {
    if (dos_date_time == -1) return "no representable date";
    const DosFields f = unpack_dos(static_cast<uint32_t>(dos_date_time));
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", f.year, f.month, f.day, f.hour, f.minute,
                  f.second);
    return text;
}

}  // namespace kalv::launcher::runlog
