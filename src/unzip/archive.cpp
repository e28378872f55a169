// An opened archive: the entry list and its sorted view, the read step around the
// directory reader (zip_directory.cpp), and the comments loaded on demand.
#include "unzip/archive.h"

#include "core/errors.h"
#include "unzip/extract.h"

namespace kalv::unzip {

Archive::Archive(platform::FileSystem& os, const std::string& path)
    : os_(os), name_(path), stream_(std::make_unique<BufferedFileStream>(os, path, platform::OpenMode::ReadDenyWrite)) {}

Archive::Archive(platform::FileSystem& os, const std::string& path, const DirectoryOptions& options, Observer& observer)
    : Archive(os, path) {
    read(options, observer);
}

Archive::~Archive() = default;

void Archive::reopen() {
    if (!stream_) stream_ = std::make_unique<BufferedFileStream>(os_, name_, platform::OpenMode::ReadDenyWrite);
}

void Archive::free_directory() {
    sorted_view_.reset();
    entry_list_.reset();
    directory_read_ = false;
    prefix_bytes_ = 0;
}

void Archive::read(const DirectoryOptions& options, Observer& observer) {
    reopen();
    unlimited_ = options.unlimited;
    check_volume_labels_ = options.check_volume_labels;
    // A directory that cannot be right fails the archive: nothing of it stays.
    try {
        read_directory(options, observer);
    } catch (const BadZipFile&) {  // BadZip64 too
        forget();
        throw;
    } catch (const IncompleteZip&) {
        forget();
        throw;
    }
}

void Archive::forget() {
    stream_.reset();
    free_directory();
    end_record_.Clear();
    local_scanned_ = false;
    date_.reset();
    span_mode_ = kalv::unzip::SpanMode::smNone;
}

ZipHeaderInfo& Archive::item(int index) const {
    if (index < 0 || index >= count()) throw ListError("Index " + std::to_string(index) + " is out of range");
    return sorted_view_ ? *sorted_view_->item(index) : *entry_list_->item(index);
}

const ZipHeaderInfo& Archive::entry(int index) const { return item(index); }

void Archive::apply_sort_mode(ZipSortMode mode) {
    sorted_view_.reset();
    if (mode != ZipSortMode::ByNone && entry_list_) {
        sorted_view_ = std::make_unique<SortedZip>(mode, false, Duplicates::Accept);
        if (unlimited_) sorted_view_->lift_capacity_limit();
        for (int i = 0; i < entry_list_->count(); ++i) sorted_view_->add(entry_list_->item(i));
    }
    sort_mode_ = mode;
}

std::string Archive::entry_comment(int index) {
    ZipHeaderInfo& entry = item(index);
    if (!entry.HasComment()) return {};
    if (entry.FileComment()) return *entry.FileComment();
    reopen();
    return load_entry_comment(entry);
}

std::string Archive::archive_comment() {
    if (end_record_.CommentLength == 0) return {};
    if (end_record_.ZipComment) return *end_record_.ZipComment;
    reopen();
    return load_archive_comment();
}

void Archive::set_entry_comment(int index, const std::string& text) {
    ZipHeaderInfo& entry = item(index);
    if (entry.FileComment() && *entry.FileComment() == text) return;
    entry.SetFileComment(text);
    end_record_.CommentModified = true;
}

void Archive::set_archive_comment(const std::string& text) {
    if (end_record_.ZipComment && *end_record_.ZipComment == text) return;
    end_record_.ZipComment = text;
    end_record_.CommentLength = uint16_t(text.size());
    end_record_.CommentModified = true;
}

// The comment follows the central record's fixed part, name and extra field. The
// entry keeps its stored comment length whatever the read brings.
std::string Archive::load_entry_comment(ZipHeaderInfo& entry) {
    using Header = CentralDirectoryFileHeader;
    uint8_t record[Header::kSize] = {};
    std::string comment;
    if (stream_->seek(int64_t(entry.CentralOffset), BufferedStream::kFromBeginning) >= 0 &&
        stream_->read(record, sizeof record) == sizeof record) {
        const Header h = read_record<Header>(record);
        if (stream_->seek(int64_t(h.file_name_length) + h.extra_field_length, BufferedStream::kFromCurrent) >= 0) {
            comment.resize(entry.FileCommentLength);
            comment.resize(stream_->read(comment.data(), comment.size()));
        }
    }
    const uint16_t stored_length = entry.FileCommentLength;
    entry.SetFileComment(comment);
    entry.FileCommentLength = stored_length;
    return comment;
}

// The archive comment ends the file: CommentLength bytes at CommentOffset.
std::string Archive::load_archive_comment() {
    std::string comment(end_record_.CommentLength, '\0');
    if (stream_->seek(int64_t(end_record_.CommentOffset), BufferedStream::kFromBeginning) >= 0)
        comment.resize(stream_->read(comment.data(), comment.size()));
    else
        comment.clear();
    end_record_.ZipComment = comment;
    return comment;
}

}  // namespace kalv::unzip
