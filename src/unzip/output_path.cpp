#include "unzip/output_path.h"

#include <string_view>

#include "unzip/core_helpers.h"
#include "unzip/extraction_pass.h"

namespace kalv::unzip {

bool names_a_parent(const std::string& stored_component) {
    const std::string component = stored_component.substr(0, stored_component.find('\0'));
    if (component.size() < 2) return false;
    size_t dots = 0;
    for (const char c : component) {
        if (c == '.')
            ++dots;
        else if (c != ' ')
            return false;
    }
    return dots >= 2;
}

bool has_parent_component(const std::string& path) {
    size_t start = 0;
    for (size_t i = 0; i <= path.size(); ++i) {
        if (i == path.size() || ends_directory_part(path[i])) {
            if (names_a_parent(path.substr(start, i - start))) return true;
            start = i + 1;
        }
    }
    return false;
}

bool names_a_dos_device(const std::string& component) {
    // Windows judges the part before the first dot or colon, without its trailing
    // blanks (RtlIsDosDeviceName_U): "con .txt" and "con.  " are the console too.
    std::string base = component.substr(0, component.find_first_of(".:"));
    while (!base.empty() && base.back() == ' ') base.pop_back();
    base = ascii_lower(base);
    for (const char* device : {"con", "prn", "aux", "nul", "conin$", "conout$"})
        if (base == device) return true;
    if (base.size() != 4 || (base.compare(0, 3, "com") != 0 && base.compare(0, 3, "lpt") != 0)) return false;
    const char number = base[3];
    // '\xB9', '\xB2', '\xB3': superscript one, two, three in code page 1252.
    return (number >= '0' && number <= '9') || number == '\xB9' || number == '\xB2' || number == '\xB3';
}

std::string windows_file_names(const std::string& path) {
#ifdef _WIN32
    std::string written;
    size_t start = 0;
    for (size_t i = 0; i <= path.size(); ++i) {
        if (i < path.size() && !ends_directory_part(path[i])) continue;
        std::string component = path.substr(start, i - start);
        for (char& c : component)
            if ((c > 0 && c < 0x20) || std::string_view("<>\"|?*").find(c) != std::string_view::npos) c = '_';
        if (names_a_dos_device(component)) written += '_';
        written += component;
        if (i < path.size()) written += path[i];
        start = i + 1;
    }
    return written;
#else
    return path;
#endif
}

namespace {

// Whether a folder level of `target` below `base` is a link. The destination itself
// may be one (an administrator's choice); a link inside it would carry the entry's
// file out of it (dest/sub -> /etc and the entry sub/passwd), so no level is followed.
bool level_is_link(platform::FileSystem& os, const std::string& base, const std::string& target) {
    for (size_t at = target.find(kPathDelimiter, base.size() + 1); at != std::string::npos;
         at = target.find(kPathDelimiter, at + 1)) {
        if (os.is_link(target.substr(0, at))) return true;
    }
    return false;
}

}  // namespace

std::optional<std::string> ExtractionPass::target_directory(SkipReason& refused) {
    const ZipHeaderInfo& entry = entry_;
    const std::string& root = options_.root;
    refused = SkipReason::srOutsideDestDir;
    // An empty destination is the current directory. Taken literally it would put
    // "x.txt" at "\x.txt", the root of the file system, and a stored "\etc\" at "\etc\".
    const std::string base = options_.destination.empty() ? std::string(".") : options_.destination;
    if (!options_.recreate_dirs || entry.Directory().empty()) return base + kPathDelimiter;
    std::string dir = entry.Directory();
    if (!root.empty() && dir.size() >= root.size() && same_text_ignoring_case(dir.substr(0, root.size()), root))
        dir.erase(0, root.size());
    if (has_parent_component(dir)) return std::nullopt;
    dir = windows_file_names(dir);
    const bool rooted = !dir.empty() && dir[0] == kPathDelimiter;
#ifdef _WIN32
    const bool drive = dir.size() >= 2 && dir[1] == ':';
#else
    const bool drive = false;
#endif
    std::string target;
    if (!rooted && !drive) {
        target = base + kPathDelimiter + dir;
    } else {
        // A stored root or drive lands below the destination. After a drive, the delimiter is
        // put back when the name had none ("C:sub\"), so that the result cannot
        // become a sibling of the destination ("D:\outsub\").
        std::string below = drive ? dir.substr(2) : dir;
        if (below.empty() || below[0] != kPathDelimiter) below.insert(below.begin(), kPathDelimiter);
        target = base + below;
    }
    if (!options_.test_only && level_is_link(os_, base, target)) {
        refused = SkipReason::srThroughLink;
        return std::nullopt;
    }
    if (!options_.test_only && !os_.directory_exists(target)) {
        // A waiting file named as one of the new folders is put in place first, so
        // that the folder meets it as it would have after a per-entry extraction.
        if (pending_.claims_level_of(target)) publish_pending();
        // A folder that cannot be made shows as the entry's file that cannot be created.
        static_cast<void>(os_.create_directories(target));
    }
    return target;
}

}  // namespace kalv::unzip
