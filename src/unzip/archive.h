// An opened ZIP archive and its directory (APPNOTE 4.3.6): the end record (with the
// ZIP64 records in front of it), the central directory or, where that is not there,
// a scan of the local headers, and the parts of an archive split over disks or files.
//
// The directory is read by read() and then only read: extract() (extract.h) reads
// entries through it. What reading needs from the caller (the next disk of a split
// archive, what to do without an end record, a moment for window messages) it asks
// the observer it is given; it shows nothing itself.
//
// Its files, one job each:
//   archive.cpp        opening, the entry list and its views, comments
//   zip_directory.cpp  the end record, bytes in front of the archive, central
//                      directory, local-header scan
//   split_archive.cpp  archives split over disks or numbered files
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "platform/platform.h"
#include "unzip/buf_streams.h"
#include "unzip/zip_entries.h"

namespace kalv::unzip {

class Observer;

enum class IncompleteZipMode { izAssumeMulti = 0, izAssumeBad = 1 };

enum class SpanMode {
    smNone = 0,       // a single file
    smRemovable = 1,  // one disk per part on a removable drive
    smNumbered = 2,   // parts as numbered files: pack.001, pack.002, ...
};

// How the directory is read.
struct DirectoryOptions {
    // The order in which entries are addressed by index.
    ZipSortMode sort = ZipSortMode::ByNone;
    // Without an end record: fail (izAssumeMulti) or scan the local headers; the
    // observer may change it (Observer::incomplete_archive).
    IncompleteZipMode incomplete = IncompleteZipMode::izAssumeMulti;
    // The directory's lists hold at most 65520 entries, as the object lists always
    // have; a tool that must read any archive lifts the limit.
    bool unlimited = false;
    // A new disk of a removable drive is taken only when its volume label ends in
    // the disk's number.
    bool check_volume_labels = true;
};

class Archive {
public:
    static constexpr int64_t kEndSearchWindow = 0xFFF8;
    static constexpr int64_t kSelfExtractorSkip = 14000;  // where an SFX stub's archive may start

    // Opens `path` (read access, others denied writing); the directory is read by read().
    Archive(platform::FileSystem& os, const std::string& path);
    // Opens `path` and reads its directory.
    Archive(platform::FileSystem& os, const std::string& path, const DirectoryOptions& options, Observer& observer);
    ~Archive();
    Archive(const Archive&) = delete;
    Archive& operator=(const Archive&) = delete;

    // (Re)reads the directory. A failure leaves no directory (a duplicate entry
    // leaves the one read so far).
    void read(const DirectoryOptions& options, Observer& observer);
    bool directory_read() const { return directory_read_; }
    // The archive's modification stamp when its directory was read.
    const std::optional<int64_t>& date() const { return date_; }

    // The current part's name (a split archive's changes as its parts are read).
    const std::string& name() const { return name_; }
    platform::FileSystem& os() const { return os_; }
    bool is_open() const { return stream_ != nullptr; }
    void close() { stream_.reset(); }
    // Opens the current part again after close().
    void reopen();
    BufferedStream& stream() { return *stream_; }

    // The entries, addressed in the order of the sort mode (the physical order for ByNone).
    int count() const { return entry_list_ ? entry_list_->count() : 0; }
    const ZipHeaderInfo& entry(int index) const;
    // In the order of the local headers (disk, then offset).
    const ZipHeaderInfo& physical_entry(int index) const { return *entry_list_->item(index); }
    void apply_sort_mode(ZipSortMode mode);
    ZipSortMode sort_mode() const { return sort_mode_; }

    const EndCentral& end_record() const { return end_record_; }
    bool split() const { return end_record_.ThisDisk != 0; }
    kalv::unzip::SpanMode span_mode() const { return span_mode_; }
    int current_disk() const { return current_disk_; }
    bool local_scanned() const { return local_scanned_; }
    // The bytes in front of the archive that its offsets do not count (a
    // self-extractor's stub prepended without `zip -A`), added to every offset read;
    // Info-ZIP unzip's "extra bytes at beginning". 0 for an ordinary archive.
    uint64_t prefix_bytes() const { return prefix_bytes_; }

    // Comments, loaded from the open archive on first use.
    std::string entry_comment(int index);
    std::string archive_comment();
    void set_entry_comment(int index, const std::string& text);
    void set_archive_comment(const std::string& text);

    // Opens part n (counted from 1) of a split archive in place of the current one,
    // named by the observer (Observer::next_disk).
    void change_disk(int n, Observer& observer);
    void set_check_volume_labels(bool check) { check_volume_labels_ = check; }

private:
    ZipHeaderInfo& item(int index) const;
    void free_directory();
    // After a failed read: no directory, the archive closed.
    void forget();

    // The directory (zip_directory.cpp).
    bool find_end_central();
    bool read_zip64_end(int64_t end_at);
    std::optional<Zip64EndOfCentralDirectoryRecord> zip64_end_record_at(uint64_t at, uint64_t locator_at);
    uint64_t prefix_before_directory(uint64_t directory_end);
    bool directory_at(uint64_t recorded_start, uint64_t prefix);
    bool signature_at(uint64_t at, uint32_t signature);
    void read_directory(const DirectoryOptions& options, Observer& observer);
    void locate_central_directory(const DirectoryOptions& options, Observer& observer);
    void scan_or_fail(Observer& observer);
    void read_central_records(Observer& observer);
    void refuse_zip64_entry(const ZipHeaderInfo& entry, int64_t archive_size) const;
    std::unique_ptr<SortedZip> new_entry_list() const;
    bool scan_local_headers(Observer& observer);
    bool find_first_local_header(Observer& observer);
    std::string load_entry_comment(ZipHeaderInfo& entry);
    std::string load_archive_comment();

    // Split archives (split_archive.cpp).
    kalv::unzip::SpanMode span_mode_of_archive() const;

    platform::FileSystem& os_;
    std::string name_;
    std::unique_ptr<BufferedStream> stream_;
    std::unique_ptr<SortedZip> entry_list_;   // owns the entries, ByNone order
    std::unique_ptr<SortedZip> sorted_view_;  // a separate view; none when ByNone
    ZipSortMode sort_mode_ = ZipSortMode::ByNone;
    bool unlimited_ = false;
    EndCentral end_record_;
    std::optional<int64_t> date_;
    bool directory_read_ = false;
    bool local_scanned_ = false;
    bool check_volume_labels_ = true;
    uint64_t prefix_bytes_ = 0;
    int current_disk_ = 0;
    kalv::unzip::SpanMode span_mode_ = kalv::unzip::SpanMode::smNone;
};

}  // namespace kalv::unzip
