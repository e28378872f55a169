// The archive's directory (APPNOTE 4.3.6): the end of central directory record
// found from the tail, with the ZIP64 records in front of it where its fields hold
// their escapes, the central directory it points to, and, where that is not there, a
// scan of the local headers from the front.
//
// An archive may have bytes in front of it that its offsets do not count: a
// self-extractor's stub prepended without `zip -A`, or `cat stub a.zip`. The records
// still lie where APPNOTE 4.3.6 puts them, each right before the next: the directory
// ends where the (ZIP64) end record begins, and the ZIP64 end record ends where its
// locator begins. Where they really are, against where the offsets say, gives the
// number of those bytes, which is added to every offset read, as Info-ZIP unzip does
// ("N extra bytes at beginning or within zipfile"). An archive whose records are where
// its offsets say is read with its offsets as they are.
#include <algorithm>
#include <optional>
#include <vector>

#include "core/errors.h"
#include "unzip/archive.h"
#include "unzip/extract.h"

namespace kalv::unzip {

namespace {

std::string extension_of(const std::string& name) {
    const std::string last = file_name_part(name);
    const size_t dot = last.find_last_of('.');
    return dot == std::string::npos ? std::string() : last.substr(dot);
}

}  // namespace

bool Archive::find_end_central() {
    using Record = EndOfCentralDirectoryRecord;
    const int64_t size = stream_->size();
    if (size < int64_t(Record::kSize)) return false;
    // The record is 22 bytes and its comment at most 65535; the search reaches
    // 65528 bytes back, so a comment longer than 65506 bytes hides the record.
    const int64_t window = std::min<int64_t>(size, kEndSearchWindow);
    std::vector<uint8_t> tail(size_t(window), 0);
    stream_->seek(size - window, BufferedStream::kFromBeginning);
    if (stream_->read(tail.data(), tail.size()) != tail.size()) return false;
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
        const int64_t end_at = size - window + i;
        if (!read_zip64_end(end_at)) prefix_bytes_ = prefix_before_directory(uint64_t(end_at));
        end_record_.CentralStart += prefix_bytes_;
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
//
// Returns whether a ZIP64 end record was read; it then decides the bytes in front of
// the archive.
bool Archive::read_zip64_end(int64_t end_at) {
    using Locator = Zip64EndOfCentralDirectoryLocator;
    using Record = Zip64EndOfCentralDirectoryRecord;
    EndCentral& e = end_record_;
    const bool escaped_disks = e.ThisDisk == zip64::kEscape16 || e.CentralDisk == zip64::kEscape16;
    const bool escaped_counts = e.EntriesThisDisk == zip64::kEscape16 || e.TotalEntries == zip64::kEscape16;
    const bool escaped_size = e.CentralSize == zip64::kEscape32;
    const bool escaped_start = e.CentralStart == zip64::kEscape32;
    const bool needed = escaped_disks || escaped_counts || escaped_size || escaped_start;

    uint8_t locator_bytes[Locator::kSize] = {};
    const int64_t locator_at = end_at - static_cast<int64_t>(Locator::kSize);
    const bool have_locator = locator_at >= 0 && stream_->seek(locator_at, BufferedStream::kFromBeginning) >= 0 &&
                              stream_->read(locator_bytes, Locator::kSize) == Locator::kSize &&
                              read_record<Locator>(locator_bytes).signature == Locator::kSignature;
    if (!have_locator) {
        if (escaped_start && !escaped_size && e.CentralSize <= uint64_t(end_at))
            e.CentralStart = uint64_t(end_at) - e.CentralSize;
        return false;
    }
    const Locator locator = read_record<Locator>(locator_bytes);
    if (locator.disk_with_zip64_end_record != 0 || locator.total_disks > 1 || (e.ThisDisk != 0 && !escaped_disks))
        throw BadZip64("ZIP64 archive split over several disks is not supported");

    // The record, with its extensible data, lies wholly before the locator: where the
    // locator points or, with bytes in front of the archive, right before the locator
    // (every producer writes it without extensible data), and then only when its
    // directory lies the same number of bytes on.
    const uint64_t recorded_at = locator.offset_of_zip64_end_record;
    const uint64_t locator_start = static_cast<uint64_t>(locator_at);
    uint64_t record_at = recorded_at;
    std::optional<Record> found = zip64_end_record_at(record_at, locator_start);
    if (!found && locator_start >= Record::kSize && locator_start - Record::kSize > recorded_at) {
        const uint64_t beside = locator_start - Record::kSize;
        const std::optional<Record> there = zip64_end_record_at(beside, locator_start);
        if (there && (there->total_entries == 0 || directory_at(there->offset_of_central_directory, beside - recorded_at))) {
            found = there;
            record_at = beside;
        }
    }
    if (!found) {
        if (needed) throw BadZip64("ZIP64 end of central directory record not found where its locator points");
        return false;
    }
    const Record& r = *found;
    if (r.number_of_this_disk != 0 || r.disk_where_central_directory_starts != 0)
        throw BadZip64("ZIP64 archive split over several disks is not supported");
    if (r.size_of_record < Record::kLeastRecordSize || r.size_of_record > locator_start - record_at - 12)
        throw BadZip64("ZIP64 end of central directory record has a wrong size");
    // The central directory lies before the record (APPNOTE 4.3.6), and each central
    // header takes at least its 46 fixed bytes; both offsets as recorded.
    const uint64_t directory_room = recorded_at - std::min(r.offset_of_central_directory, recorded_at);
    if (r.offset_of_central_directory > recorded_at || r.size_of_central_directory > directory_room)
        throw BadZip64("ZIP64 central directory runs past the ZIP64 end of central directory record");
    if (r.total_entries > r.size_of_central_directory / CentralDirectoryFileHeader::kSize)
        throw BadZip64("ZIP64 end of central directory record counts more entries than its directory holds");
    if (e.ThisDisk == zip64::kEscape16) e.ThisDisk = 0;
    if (e.CentralDisk == zip64::kEscape16) e.CentralDisk = 0;
    if (e.EntriesThisDisk == zip64::kEscape16) e.EntriesThisDisk = r.entries_on_this_disk;
    if (e.TotalEntries == zip64::kEscape16) e.TotalEntries = r.total_entries;
    if (escaped_size) e.CentralSize = r.size_of_central_directory;
    if (escaped_start) e.CentralStart = r.offset_of_central_directory;
    prefix_bytes_ = record_at - recorded_at;
    return true;
}

// The ZIP64 end record's fixed part at `at`, when its signature is there and it lies
// before the locator at `locator_at`.
std::optional<Zip64EndOfCentralDirectoryRecord> Archive::zip64_end_record_at(uint64_t at, uint64_t locator_at) {
    using Record = Zip64EndOfCentralDirectoryRecord;
    uint8_t bytes[Record::kSize] = {};
    if (at > locator_at || locator_at - at < Record::kSize ||
        stream_->seek(static_cast<int64_t>(at), BufferedStream::kFromBeginning) < 0 ||
        stream_->read(bytes, Record::kSize) != Record::kSize || read_record<Record>(bytes).signature != Record::kSignature)
        return std::nullopt;
    return read_record<Record>(bytes);
}

// An archive without ZIP64 records: the directory should end at `directory_end`, where
// the end record begins. When it is not where the end record says but the bytes that
// its recorded end falls short by further on, those bytes are in front of the archive.
// A directory that is where the end record says keeps its offsets (whatever lies
// between it and the end record), and so does a split archive.
uint64_t Archive::prefix_before_directory(uint64_t directory_end) {
    const EndCentral& e = end_record_;
    if (e.ThisDisk != 0 || e.CentralDisk != 0 || e.TotalEntries == 0) return 0;
    if (e.CentralSize > directory_end || e.CentralStart >= directory_end - e.CentralSize) return 0;
    const uint64_t prefix = directory_end - e.CentralSize - e.CentralStart;
    if (signature_at(e.CentralStart, CentralDirectoryFileHeader::kSignature) || !directory_at(e.CentralStart, prefix))
        return 0;
    return prefix;
}

// Whether the directory recorded at `recorded_start` lies `prefix` bytes on: its first
// central header there, and that entry's local header the same bytes after the offset
// it records. Bytes inserted between the entries and the directory move the directory
// but not the first entry, and are no prefix. A header found there whose ZIP64 field
// cannot be right fails the archive with its own message, as its read would.
bool Archive::directory_at(uint64_t recorded_start, uint64_t prefix) {
    const uint64_t size = static_cast<uint64_t>(stream_->size());
    if (prefix >= size || recorded_start >= size - prefix) return false;
    stream_->seek(static_cast<int64_t>(recorded_start + prefix), BufferedStream::kFromBeginning);
    ZipHeaderInfo first;
    if (!first.ReadCentralRecord(os_, *stream_, {})) return false;
    return first.RelativeOffset < size - prefix &&
           signature_at(first.RelativeOffset + prefix, LocalFileHeader::kSignature);
}

bool Archive::signature_at(uint64_t at, uint32_t signature) {
    uint8_t bytes[4] = {};
    const uint64_t size = static_cast<uint64_t>(stream_->size());
    return size >= sizeof bytes && at <= size - sizeof bytes &&
           stream_->seek(static_cast<int64_t>(at), BufferedStream::kFromBeginning) >= 0 &&
           stream_->read(bytes, sizeof bytes) == sizeof bytes && LittleEndianReader(bytes).u32() == signature;
}

std::unique_ptr<SortedZip> Archive::new_entry_list() const {
    auto list = std::make_unique<SortedZip>(ZipSortMode::ByNone, true, Duplicates::Error);
    if (unlimited_) list->lift_capacity_limit();
    return list;
}

// Reads the archive byte by byte up to the first local header's signature; the
// stream then stands at it.
bool Archive::find_first_local_header(Observer& observer) {
    // A self-extractor's stub lies in front of the archive; an upper-case ".EXE"
    // (as DOS tools named them) starts the search after the stub.
    const int64_t start = extension_of(name_) == ".EXE" ? kSelfExtractorSkip : 0;
    stream_->seek(start, BufferedStream::kFromBeginning);
    uint32_t last_four = 0;
    int64_t seen = 0, not_p = 0;
    uint8_t byte = 0;
    while (stream_->read(&byte, 1) == 1) {
        last_four = (last_four >> 8) | (uint32_t(byte) << 24);
        ++seen;
        if (seen >= 4 && last_four == LocalFileHeader::kSignature) {
            stream_->seek(-4, BufferedStream::kFromCurrent);
            return true;
        }
        if (byte != 0x50 && ++not_p % 10240 == 0) observer.keep_alive();
    }
    return false;
}

bool Archive::scan_local_headers(Observer& observer) {
    local_scanned_ = true;
    sorted_view_.reset();
    entry_list_.reset();
    if (!find_first_local_header(observer)) return false;
    entry_list_ = new_entry_list();

    const int64_t archive_size = stream_->size();
    for (;;) {
        auto entry = std::make_unique<ZipHeaderInfo>();
        if (!entry->ReadLocalRecord(os_, *stream_)) break;
        const int64_t data_at = stream_->position();
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
            stream_->seek(int64_t(entry->RelativeOffset), BufferedStream::kFromBeginning);
            break;
        }
        entry_list_->add(entry.release());
        stream_->seek(next, BufferedStream::kFromBeginning);
    }
    end_record_.ThisDisk = 0;
    current_disk_ = 0;
    end_record_.CentralStart = uint64_t(stream_->position());
    end_record_.TotalEntries = uint64_t(entry_list_->count());
    return true;
}

void Archive::scan_or_fail(Observer& observer) {
    observer.scanning(true);
    bool found = false;
    try {
        found = scan_local_headers(observer);
    } catch (...) {
        observer.scanning(false);
        throw;
    }
    observer.scanning(false);
    if (!found) throw BadZipFile();
}

// Leaves the stream at the first central record, or builds the directory by a scan of
// the local headers when the record is not where the end record says or there is no
// end record.
void Archive::locate_central_directory(const DirectoryOptions& options, Observer& observer) {
    if (find_end_central()) {
        current_disk_ = end_record_.ThisDisk;
        span_mode_ = span_mode_of_archive();
        if (end_record_.TotalEntries == 0) return;
        if (span_mode_ != kalv::unzip::SpanMode::smNone && end_record_.CentralDisk != current_disk_)
            change_disk(end_record_.CentralDisk + 1, observer);
        if (signature_at(end_record_.CentralStart, CentralDirectoryFileHeader::kSignature))
            stream_->seek(static_cast<int64_t>(end_record_.CentralStart), BufferedStream::kFromBeginning);
        else
            scan_or_fail(observer);
        return;
    }
    if (observer.incomplete_archive(options.incomplete) == kalv::unzip::IncompleteZipMode::izAssumeMulti)
        throw IncompleteZip();
    scan_or_fail(observer);
}

void Archive::read_directory(const DirectoryOptions& options, Observer& observer) {
    date_ = os_.modification_stamp(name_);
    free_directory();
    // A directory built by an earlier scan says nothing about this read.
    local_scanned_ = false;
    locate_central_directory(options, observer);
    if (!local_scanned_) entry_list_ = new_entry_list();
    read_central_records(observer);
    if (end_record_.ThisDisk != 0 && end_record_.CommentLength != 0) {
        if (current_disk_ != end_record_.ThisDisk) change_disk(end_record_.ThisDisk + 1, observer);
        load_archive_comment();
    }
    current_disk_ = end_record_.ThisDisk;
    directory_read_ = true;
    apply_sort_mode(options.sort);
}

// TotalEntries central records from the stream's position: each a new entry, or,
// after a scan, the completion of the scanned entry at its offset.
void Archive::read_central_records(Observer& observer) {
    NextDiskAction next_disk;
    if (span_mode_ != kalv::unzip::SpanMode::smNone && !local_scanned_) {
        next_disk = [this, &observer]() -> BufferedStream& {
            change_disk(current_disk_ + 2, observer);
            return *stream_;
        };
    }
    const int64_t archive_size = stream_->size();
    for (uint64_t i = 0; i < end_record_.TotalEntries; ++i) {
        auto record = std::make_unique<ZipHeaderInfo>();
        // A record that cannot be read (cut short, wrong signature) ends the read:
        // what follows it cannot be trusted to be the directory, and an entry made
        // of nothing would only stand for a file that is not there. The entries
        // read so far stay.
        if (!record->ReadCentralRecord(os_, *stream_, next_disk)) break;
        // Less than the archive's size: a 32-bit offset stays far below 2^63, and a
        // ZIP64 one is checked against the size next.
        record->RelativeOffset += prefix_bytes_;
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
            const int64_t resume = stream_->position();
            load_entry_comment(*entry);
            stream_->seek(resume, BufferedStream::kFromBeginning);
        }
    }
}

// Checked before any arithmetic meets a 64-bit value: a ZIP64 entry lies wholly in
// this one file. (An entry's 32-bit values are not checked: they fail where they are
// used, as they always did.)
void Archive::refuse_zip64_entry(const ZipHeaderInfo& entry, int64_t archive_size) const {
    if (end_record_.ThisDisk != 0) throw BadZip64("ZIP64 archive split over several disks is not supported");
    const uint64_t size = uint64_t(archive_size);
    if (entry.RelativeOffset > size || uint64_t(entry.CompressedSize) > size - entry.RelativeOffset)
        throw BadZip64("ZIP64 extended information of entry " + entry.StoredPath() + " points beyond the archive");
}

}  // namespace kalv::unzip
