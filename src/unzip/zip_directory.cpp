// The archive's directory (APPNOTE 4.3.6): the end of central directory record
// found from the tail, with the ZIP64 records in front of it where its fields hold
// their escapes, the central directory it points to, and, where that is not there, a
// scan of the local headers from the front.
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
        end_record_.CommentOffset = uint64_t(size - end_record_.CommentLength);
        read_zip64_end(size - window + i);
        return true;
    }
    return false;
}

// APPNOTE 4.3.14, 4.3.15, 4.4.1.4. The locator lies right in front of the end record
// and points to the ZIP64 end record, which holds every field of the end record at
// full width; only the fields that hold their escape are taken from it.
//
// Without a locator, an escaped field keeps its value (an archive with exactly 65535
// entries has no ZIP64 records), except the directory's offset: Info-ZIP zip, written
// to a pipe, escapes it and writes no ZIP64 records, and the directory then ends
// right before the end record. A locator whose record is not there counts only when
// a field needs it: an ordinary archive's last bytes may look like a locator.
void UnZipper::read_zip64_end(int64_t end_at) {
    using Locator = Zip64EndOfCentralDirectoryLocator;
    using Record = Zip64EndOfCentralDirectoryRecord;
    EndCentral& e = end_record_;
    const bool escaped_disks = e.ThisDisk == zip64::kEscape16 || e.CentralDisk == zip64::kEscape16;
    const bool escaped_counts = e.EntriesThisDisk == zip64::kEscape16 || e.TotalEntries == zip64::kEscape16;
    const bool escaped_size = e.CentralSize == zip64::kEscape32;
    const bool escaped_start = e.CentralStart == zip64::kEscape32;
    const bool needed = escaped_disks || escaped_counts || escaped_size || escaped_start;

    uint8_t locator_bytes[Locator::kSize] = {};
    const int64_t locator_at = end_at - int64_t(Locator::kSize);
    const bool have_locator = locator_at >= 0 && archive_->seek(locator_at, BufferedStream::kFromBeginning) >= 0 &&
                              archive_->read(locator_bytes, Locator::kSize) == Locator::kSize &&
                              read_record<Locator>(locator_bytes).signature == Locator::kSignature;
    if (!have_locator) {
        if (escaped_start && !escaped_size && e.CentralSize <= uint64_t(end_at))
            e.CentralStart = uint64_t(end_at) - e.CentralSize;
        return;
    }
    const Locator locator = read_record<Locator>(locator_bytes);
    if (locator.disk_with_zip64_end_record != 0 || locator.total_disks > 1 || (e.ThisDisk != 0 && !escaped_disks))
        throw BadZip64("ZIP64 archive split over several disks is not supported");

    // The record, with its extensible data, lies wholly before the locator.
    uint8_t record_bytes[Record::kSize] = {};
    const uint64_t record_at = locator.offset_of_zip64_end_record;
    const bool have_record = record_at <= uint64_t(locator_at) && uint64_t(locator_at) - record_at >= Record::kSize &&
                             archive_->seek(int64_t(record_at), BufferedStream::kFromBeginning) >= 0 &&
                             archive_->read(record_bytes, Record::kSize) == Record::kSize &&
                             read_record<Record>(record_bytes).signature == Record::kSignature;
    if (!have_record) {
        if (needed) throw BadZip64("ZIP64 end of central directory record not found where its locator points");
        return;
    }
    const Record r = read_record<Record>(record_bytes);
    if (r.number_of_this_disk != 0 || r.disk_where_central_directory_starts != 0)
        throw BadZip64("ZIP64 archive split over several disks is not supported");
    if (r.size_of_record < Record::kLeastRecordSize || r.size_of_record > uint64_t(locator_at) - record_at - 12)
        throw BadZip64("ZIP64 end of central directory record has a wrong size");
    // The central directory lies before the record (APPNOTE 4.3.6), and each central
    // header takes at least its 46 fixed bytes.
    const uint64_t directory_room = record_at - std::min(r.offset_of_central_directory, record_at);
    if (r.offset_of_central_directory > record_at || r.size_of_central_directory > directory_room)
        throw BadZip64("ZIP64 central directory runs past the ZIP64 end of central directory record");
    if (r.total_entries > r.size_of_central_directory / CentralDirectoryFileHeader::kSize)
        throw BadZip64("ZIP64 end of central directory record counts more entries than its directory holds");
    if (e.ThisDisk == zip64::kEscape16) e.ThisDisk = 0;
    if (e.CentralDisk == zip64::kEscape16) e.CentralDisk = 0;
    if (e.EntriesThisDisk == zip64::kEscape16) e.EntriesThisDisk = r.entries_on_this_disk;
    if (e.TotalEntries == zip64::kEscape16) e.TotalEntries = r.total_entries;
    if (escaped_size) e.CentralSize = r.size_of_central_directory;
    if (escaped_start) e.CentralStart = r.offset_of_central_directory;
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

    const int64_t archive_size = archive_->size();
    for (;;) {
        auto entry = std::make_unique<ZipHeaderInfo>();
        if (!entry->ReadLocalRecord(*archive_)) break;
        const int64_t data_at = archive_->position();
        // APPNOTE 4.3.9.2: behind an entry whose local header is ZIP64 the descriptor's
        // sizes take 8 bytes each.
        const int64_t descriptor = !entry->HasDescriptor() ? 0
                                   : entry->Zip64      ? int64_t(DataDescriptor::kZip64Size)
                                                       : int64_t(DataDescriptor::kSize);
        // A 64-bit size is checked before it is added to a position.
        if (entry->Zip64 && entry->CompressedSize > archive_size - std::min(data_at, archive_size))
            throw BadZip64("ZIP64 extended information of entry " + entry->StoredPath() + " points beyond the archive");
        const int64_t next = data_at + entry->CompressedSize + descriptor;
        // Sizes are never negative, so the scan moves forward; a step back onto a
        // header already read would go round for ever: it ends the scan as an
        // unreadable record does.
        if (next <= int64_t(entry->RelativeOffset)) {
            archive_->seek(int64_t(entry->RelativeOffset), BufferedStream::kFromBeginning);
            break;
        }
        entry_list_->add(entry.release());
        archive_->seek(next, BufferedStream::kFromBeginning);
    }
    end_record_.ThisDisk = 0;
    current_disk_ = 0;
    end_record_.CentralStart = uint64_t(archive_->position());
    end_record_.TotalEntries = uint64_t(entry_list_->count());
    return true;
}

void UnZipper::ReadZip() {
    // A ZIP64 record that cannot be right fails the archive as a missing end record does.
    try {
        read_directory();
    } catch (const BadZip64&) {
        ResetDirectory();
        throw;
    }
}

void UnZipper::read_directory() {
    archive_date_ = os().modification_stamp(zip_name_);
    free_directory();
    // A directory built by an earlier scan says nothing about this read.
    local_scanned_ = false;

    auto scan_or_fail = [this] {
        os().set_cursor(platform::Cursor::HourGlass);
        bool found = false;
        try {
            found = ScanLocalHeaders();
        } catch (...) {
            os().set_cursor(platform::Cursor::Default);
            throw;
        }
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
            archive_->seek(int64_t(end_record_.CentralStart), BufferedStream::kFromBeginning);
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
    const int64_t archive_size = archive_->size();
    for (uint64_t i = 0; i < end_record_.TotalEntries; ++i) {
        auto record = std::make_unique<ZipHeaderInfo>();
        // A record that cannot be read (cut short, wrong signature) ends the read:
        // what follows it cannot be trusted to be the directory, and an entry made
        // of nothing would only stand for a file that is not there. The entries
        // read so far stay.
        if (!record->ReadCentralRecord(*archive_, next_disk)) break;
        if (record->Zip64) refuse_zip64_entry(*record, archive_size);
        ZipHeaderInfo* entry = nullptr;
        if (local_scanned_) {
            int at = 0;
            if (entry_list_->find(*record, at)) {
                entry = entry_list_->item(at);
                const uint64_t scanned_offset = entry->RelativeOffset;
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

// Checked before any arithmetic meets a 64-bit value: a ZIP64 entry lies wholly in
// this one file. (An entry's 32-bit values are not checked: they fail where they are
// used, as they always did.)
void UnZipper::refuse_zip64_entry(const ZipHeaderInfo& entry, int64_t archive_size) const {
    if (end_record_.ThisDisk != 0) throw BadZip64("ZIP64 archive split over several disks is not supported");
    const uint64_t size = uint64_t(archive_size);
    if (entry.RelativeOffset > size || uint64_t(entry.CompressedSize) > size - entry.RelativeOffset)
        throw BadZip64("ZIP64 extended information of entry " + entry.StoredPath() + " points beyond the archive");
}

// The comment follows the central record's fixed part, name and extra field. The
// entry keeps its stored comment length whatever the read brings.
std::string UnZipper::load_entry_comment(ZipHeaderInfo& entry) {
    using Header = CentralDirectoryFileHeader;
    uint8_t record[Header::kSize] = {};
    std::string comment;
    if (archive_->seek(int64_t(entry.CentralOffset), BufferedStream::kFromBeginning) >= 0 &&
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
    if (archive_->seek(int64_t(end_record_.CommentOffset), BufferedStream::kFromBeginning) >= 0)
        comment.resize(archive_->read(comment.data(), comment.size()));
    else
        comment.clear();
    end_record_.ZipComment = comment;
    return comment;
}

}  // namespace kalv::unzip
