// The archive's directory (APPNOTE 4.3.6): the end of central directory record
// found from the tail, the central directory it points to, and, where that is not
// there, a scan of the local headers from the front.
#include <algorithm>
#include <vector>

#include "core/errors.h"
#include "unzip/unzipper.h"
#include "unzip/unzipper_internal.h"

namespace kalv::unzip {

namespace {

std::string extension_of(const std::string& name) {
    const std::string last = file_name_part(name);
    const size_t dot = last.find_last_of('.');
    return dot == std::string::npos ? std::string() : last.substr(dot);
}

}  // namespace

bool UnZipper::FindEndCentral() {
    using Record = EndOfCentralDirectoryRecord;
    const int64_t size = archive_->size();
    if (size < int64_t(Record::kSize)) return false;
    // The record is 22 bytes and its comment at most 65535; the search reaches
    // 65528 bytes back, so a comment longer than 65506 bytes hides the record.
    const int64_t window = std::min<int64_t>(size, kEndSearchWindow);
    std::vector<uint8_t> tail(size_t(window), 0);
    archive_->seek(size - window, BufferedStream::kFromBeginning);
    if (archive_->read(tail.data(), tail.size()) != tail.size()) return false;
    // The last signature wins: a comment may hold the signature's bytes itself.
    for (int64_t i = window - int64_t(Record::kSize); i >= 0; --i) {
        const std::span<const uint8_t, Record::kSize> at(tail.data() + i, Record::kSize);
        if (at[0] != 0x50) continue;  // "P": most positions fail here, cheaply
        const Record r = read_record<Record>(at);
        if (r.signature != Record::kSignature) continue;
        end_record_.ThisDisk = r.number_of_this_disk;
        end_record_.CentralDisk = r.disk_where_central_directory_starts;
        end_record_.EntriesThisDisk = r.entries_on_this_disk;
        end_record_.TotalEntries = r.total_entries;
        end_record_.CentralSize = r.size_of_central_directory;
        end_record_.CentralStart = r.offset_of_central_directory;
        end_record_.CommentLength = r.comment_length;
        end_record_.CommentOffset = uint32_t(size - end_record_.CommentLength);
        return true;
    }
    return false;
}

bool UnZipper::ScanLocalHeaders() {
    local_scanned_ = true;
    sorted_view_.reset();
    entry_list_.reset();
    // A self-extractor's stub lies in front of the archive; an upper-case ".EXE"
    // (as DOS tools named them) starts the search after the stub.
    const int64_t start = extension_of(zip_name_) == ".EXE" ? kSelfExtractorSkip : 0;
    archive_->seek(start, BufferedStream::kFromBeginning);

    uint32_t last_four = 0;
    int64_t seen = 0, not_p = 0;
    bool found = false;
    uint8_t byte = 0;
    while (archive_->read(&byte, 1) == 1) {
        last_four = (last_four >> 8) | (uint32_t(byte) << 24);
        ++seen;
        if (seen >= 4 && last_four == LocalFileHeader::kSignature) {
            found = true;
            break;
        }
        if (byte != 0x50 && ++not_p % 10240 == 0 && DoProcessMessages) os().process_messages();
    }
    if (!found) return false;
    archive_->seek(-4, BufferedStream::kFromCurrent);
    entry_list_ = std::make_unique<SortedZip>(ZipSortMode::ByNone, true, Duplicates::Error);

    for (;;) {
        auto entry = std::make_unique<ZipHeaderInfo>();
        if (!entry->ReadLocalRecord(*archive_)) break;
        const int64_t next = archive_->position() + int64_t(entry->CompressedSize) + entry->ExtraFieldLength +
                             (entry->HasDescriptor() ? 16 : 0);
        // A negative size would step back onto a header already read and go round
        // for ever: such a record ends the scan as an unreadable one does.
        if (next <= int64_t(entry->RelativeOffset)) {
            archive_->seek(entry->RelativeOffset, BufferedStream::kFromBeginning);
            break;
        }
        entry_list_->add(entry.release());
        archive_->seek(next, BufferedStream::kFromBeginning);
    }
    end_record_.ThisDisk = 0;
    current_disk_ = 0;
    end_record_.CentralStart = uint32_t(archive_->position());
    end_record_.TotalEntries = uint16_t(entry_list_->count());
    return true;
}

void UnZipper::ReadZip() {
    archive_date_ = os().modification_stamp(zip_name_);
    free_directory();
    // A directory built by an earlier scan says nothing about this read.
    local_scanned_ = false;

    auto scan_or_fail = [this] {
        os().set_cursor(platform::Cursor::HourGlass);
        const bool found = ScanLocalHeaders();
        os().set_cursor(platform::Cursor::Default);
        if (!found) {
            ResetDirectory();
            throw BadZipFile();
        }
    };

    if (FindEndCentral()) {
        current_disk_ = end_record_.ThisDisk;
        span_mode_ = span_mode_of_archive();
        if (end_record_.TotalEntries != 0) {
            if (span_mode_ != kalv::unzip::SpanMode::smNone && end_record_.CentralDisk != current_disk_)
                ChangeDisk(end_record_.CentralDisk + 1);
            uint8_t signature[4] = {};
            archive_->seek(end_record_.CentralStart, BufferedStream::kFromBeginning);
            if (archive_->read(signature, 4) == 4 &&
                LittleEndianReader(signature).u32() == CentralDirectoryFileHeader::kSignature)
                archive_->seek(-4, BufferedStream::kFromCurrent);
            else
                scan_or_fail();
        }
    } else {
        if (OnInCompleteZip) OnInCompleteZip(*this, IncompleteZipMode);
        if (IncompleteZipMode == kalv::unzip::IncompleteZipMode::izAssumeMulti) {
            ResetDirectory();
            throw IncompleteZip();
        }
        scan_or_fail();
    }

    if (!local_scanned_) entry_list_ = std::make_unique<SortedZip>(ZipSortMode::ByNone, true, Duplicates::Error);

    NextDiskAction next_disk;
    if (span_mode_ != kalv::unzip::SpanMode::smNone && !local_scanned_) {
        next_disk = [this]() -> BufferedStream& {
            ChangeDisk(current_disk_ + 2);
            return *archive_;
        };
    }
    for (int i = 0; i < end_record_.TotalEntries; ++i) {
        auto record = std::make_unique<ZipHeaderInfo>();
        // A record that cannot be read (cut short, wrong signature) ends the read:
        // what follows it cannot be trusted to be the directory, and an entry made
        // of nothing would only stand for a file that is not there. The entries
        // read so far stay.
        if (!record->ReadCentralRecord(*archive_, next_disk)) break;
        ZipHeaderInfo* entry = nullptr;
        if (local_scanned_) {
            int at = 0;
            if (entry_list_->find(*record, at)) {
                entry = entry_list_->item(at);
                const uint32_t scanned_offset = entry->RelativeOffset;
                entry->Assign(*record);
                entry->RelativeOffset = scanned_offset;
            }
        } else {
            entry = record.get();
            entry_list_->add(record.release());
        }
        if (entry && end_record_.ThisDisk != 0 && entry->HasComment()) {
            // Parts change under a split archive's later reads: load the comment now.
            const int64_t resume = archive_->position();
            load_entry_comment(*entry);
            archive_->seek(resume, BufferedStream::kFromBeginning);
        }
    }
    if (end_record_.ThisDisk != 0 && end_record_.CommentLength != 0) {
        if (current_disk_ != end_record_.ThisDisk) ChangeDisk(end_record_.ThisDisk + 1);
        load_archive_comment();
    }
    current_disk_ = end_record_.ThisDisk;
    directory_read_ = true;
    ApplySortMode(SortMode);
}

// The comment follows the central record's fixed part, name and extra field. The
// entry keeps its stored comment length whatever the read brings.
std::string UnZipper::load_entry_comment(ZipHeaderInfo& entry) {
    using Header = CentralDirectoryFileHeader;
    uint8_t record[Header::kSize] = {};
    std::string comment;
    if (archive_->seek(entry.CentralOffset, BufferedStream::kFromBeginning) >= 0 &&
        archive_->read(record, sizeof record) == sizeof record) {
        const Header h = read_record<Header>(record);
        if (archive_->seek(int64_t(h.file_name_length) + h.extra_field_length, BufferedStream::kFromCurrent) >= 0) {
            comment.resize(entry.FileCommentLength);
            comment.resize(archive_->read(comment.data(), comment.size()));
        }
    }
    const uint16_t stored_length = entry.FileCommentLength;
    entry.SetFileComment(comment);
    entry.FileCommentLength = stored_length;
    return comment;
}

// The archive comment ends the file: CommentLength bytes at CommentOffset.
std::string UnZipper::load_archive_comment() {
    std::string comment(end_record_.CommentLength, '\0');
    if (archive_->seek(end_record_.CommentOffset, BufferedStream::kFromBeginning) >= 0)
        comment.resize(archive_->read(comment.data(), comment.size()));
    else
        comment.clear();
    end_record_.ZipComment = comment;
    return comment;
}

}  // namespace kalv::unzip
