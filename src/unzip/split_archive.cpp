// Archives split over several disks or files (APPNOTE 8.0, "Splitting and Spanning
// ZIP files"): which kind of split the end record's disk number makes, and the
// change from one part to the next.
#include <cstdio>

#include "core/errors.h"
#include "unzip/unzipper.h"
#include "unzip/unzipper_internal.h"

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

}  // namespace

kalv::unzip::SpanMode UnZipper::span_mode_of_archive() const {
    if (end_record_.ThisDisk == 0) return kalv::unzip::SpanMode::smNone;
    const std::string root = ascii_upper(zip_name_.substr(0, 3));
    const bool removable = root.size() >= 2 && root[1] == ':' && os().is_removable_drive(root);
    return removable ? kalv::unzip::SpanMode::smRemovable : kalv::unzip::SpanMode::smNumbered;
}

void UnZipper::built_in_next_disk(int next_disk, std::string& name) {
    if (span_mode_ == kalv::unzip::SpanMode::smRemovable) {
        os().set_cursor(platform::Cursor::Default);
        bool cancel = false;
        if (OnInsertDisk) {
            OnInsertDisk(*this, next_disk, cancel);
        } else {
            cancel = os().message_box("Please insert disk " + std::to_string(next_disk) + " of the multi-disk set.",
                                      "Confirm", platform::BoxButtons::OkCancel,
                                      platform::BoxIcon::Question) == platform::BoxAnswer::Cancel;
        }
        if (cancel) name.clear();
        os().set_cursor(platform::Cursor::HourGlass);
    } else {
        std::string extension(1, '.');
        extension += three_digits(next_disk);
        name = change_extension(name, extension);
    }
}

void UnZipper::ChangeDisk(int n) {
    archive_.reset();
    std::string name = zip_name_;
    for (;;) {
        if (OnGetNextDisk) OnGetNextDisk(*this, n, name);
        bool label_ok = true;
        if (CheckVolumeLabels && !name.empty() && span_mode_ == kalv::unzip::SpanMode::smRemovable) {
            const std::string label = os().volume_label(ascii_upper(zip_name_.substr(0, 3))).substr(0, 11);
            const std::string wanted = three_digits(n);
            label_ok = label.size() >= wanted.size() && label.compare(label.size() - wanted.size(), wanted.size(), wanted) == 0;
        }
        if (label_ok) {
            if (name.empty()) throw UserCanceled("User canceled loading new disk.");
            if (file_exists(name)) break;
        }
        // Only a person at a removable drive, or a handler of the caller's that can
        // offer another name, can make a missing part appear; the built-in numbered
        // part that is not there (as a damaged end record's disk number asks for:
        // pack.8303) will not be there on the next try either.
        const bool built_in = OnGetNextDisk.target<BuiltInNextDisk>() != nullptr;
        if (built_in && span_mode_ != kalv::unzip::SpanMode::smRemovable)
            throw FileStreamError("Cannot open file " + name);
    }
    archive_ = std::make_unique<BufferedFileStream>(name, platform::OpenMode::ReadShared);
    current_disk_ = n - 1;
    archive_date_ = os().modification_stamp(name);
    zip_name_ = name;
}

}  // namespace kalv::unzip
