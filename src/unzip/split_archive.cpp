// Archives split over several disks or files (APPNOTE 8.0, "Splitting and Spanning
// ZIP files"): which kind of split the end record's disk number makes, the name of a
// numbered part, and the change from one part to the next.
#include <cstdio>

#include "core/errors.h"
#include "unzip/archive.h"
#include "unzip/extract.h"
#include "unzip/wild_match.h"

namespace kalv::unzip {

namespace {

// "%3.3d": at least three digits.
std::string three_digits(int n) {
    char text[16];
    std::snprintf(text, sizeof text, "%03d", n);
    return text;
}

// The extension begins at the last "." of the last path component.
std::string change_extension(const std::string& name, const std::string& extension) {
    const size_t dot = name.find_last_of('.');
    const std::string last = file_name_part(name);
    if (dot == std::string::npos || dot < name.size() - last.size()) return name + extension;
    return name.substr(0, dot) + extension;
}

std::string drive_root(const std::string& name) {
    std::string root = name.substr(0, 3);
    for (char& c : root)
        if (c >= 'a' && c <= 'z') c = char(c - 'a' + 'A');
    return root;
}

}  // namespace

std::string numbered_part_name(const std::string& name, int disk) {
    std::string extension(1, '.');
    extension += three_digits(disk);
    return change_extension(name, extension);
}

// Nobody to ask for a disk: a removable drive's part cannot come.
bool Observer::next_disk(int disk, kalv::unzip::SpanMode mode, std::string& name) {
    if (mode == kalv::unzip::SpanMode::smRemovable)
        name.clear();
    else
        name = numbered_part_name(name, disk);
    return false;
}

kalv::unzip::SpanMode Archive::span_mode_of_archive() const {
    if (end_record_.ThisDisk == 0) return kalv::unzip::SpanMode::smNone;
    const std::string root = drive_root(name_);
    const bool removable = root.size() >= 2 && root[1] == ':' && os_.is_removable_drive(root);
    return removable ? kalv::unzip::SpanMode::smRemovable : kalv::unzip::SpanMode::smNumbered;
}

void Archive::change_disk(int n, Observer& observer) {
    stream_.reset();
    std::string name = name_;
    for (;;) {
        // Only a person at a removable drive, or a caller's handler that can offer
        // another name, can make a missing part appear; the numbered part that is not
        // there (as a damaged end record's disk number asks for: pack.8303) will not
        // be there on the next try either.
        const bool may_change = observer.next_disk(n, span_mode_, name);
        bool label_ok = true;
        if (check_volume_labels_ && !name.empty() && span_mode_ == kalv::unzip::SpanMode::smRemovable) {
            const std::string label = os_.volume_label(drive_root(name_)).substr(0, 11);
            const std::string wanted = three_digits(n);
            label_ok = label.size() >= wanted.size() && label.compare(label.size() - wanted.size(), wanted.size(), wanted) == 0;
        }
        if (label_ok) {
            if (name.empty()) throw UserCanceled("User canceled loading new disk.");
            if (!name.empty() && os_.modification_stamp(name).has_value() && !os_.directory_exists(name)) break;
        }
        if (!may_change) throw FileStreamError("Cannot open file " + name);
    }
    stream_ = std::make_unique<BufferedFileStream>(os_, name, platform::OpenMode::ReadShared);
    current_disk_ = n - 1;
    date_ = os_.modification_stamp(name);
    name_ = name;
}

}  // namespace kalv::unzip
