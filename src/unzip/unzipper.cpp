#include "unzip/unzipper.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "core/crc32.h"
#include "core/errors.h"
#include "platform/platform.h"
#include "unzip/wild_match.h"

namespace kalv::unzip {

namespace {

platform::Platform& os() { return platform::current(); }

uint16_t get16(const uint8_t* p) { return uint16_t(p[0] | (p[1] << 8)); }
uint32_t get32(const uint8_t* p) { return uint32_t(get16(p)) | (uint32_t(get16(p + 2)) << 16); }

bool same_text_ignoring_case(const std::string& a, const std::string& b) { return ascii_lower(a) == ascii_lower(b); }

std::string ascii_upper(std::string text) {
    for (char& c : text)
        if (c >= 'a' && c <= 'z') c = char(c - 'a' + 'A');
    return text;
}

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

std::string extension_of(const std::string& name) {
    const std::string last = file_name_part(name);
    const size_t dot = last.find_last_of('.');
    return dot == std::string::npos ? std::string() : last.substr(dot);
}

bool file_exists(const std::string& path) {
    return !path.empty() && os().modification_stamp(path).has_value() && !os().directory_exists(path);
}

int percent_of(int64_t part, int64_t whole) {
    if (whole <= 0) return 0;
    const double percent = std::nearbyint(double(part) * 100.0 / double(whole));
    return int(std::min(100.0, percent));
}

// A path component that names a parent: "..", and on Windows also the forms that
// its path rules trim to ".." (trailing dots and blanks, "...", ".. "). Judged as the
// OS will read it, up to a zero byte: "..\0x" reaches the OS as "..".
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

// Frees the per-UnZip buffers on every way out of the pass.
struct PassBuffers {
    std::vector<uint8_t>& window;
    std::vector<uint8_t>& input;
    std::vector<uint8_t>& output;
    PassBuffers(std::vector<uint8_t>& w, std::vector<uint8_t>& i, std::vector<uint8_t>& o)
        : window(w), input(i), output(o) {
        window.assign(UnZipper::kWindowSize, 0);
        input.assign(UnZipper::kBlockSize + 1, 0);
        output.assign(UnZipper::kBlockSize + 1, 0);
    }
    ~PassBuffers() {
        std::vector<uint8_t>().swap(window);
        std::vector<uint8_t>().swap(input);
        std::vector<uint8_t>().swap(output);
    }
};

}  // namespace

const char* skip_reason_text(SkipReason reason) {
    switch (reason) {
        case SkipReason::srBadPassword: return "bad password";
        case SkipReason::srNoOverwrite: return "exists, not overwritten";
        case SkipReason::srOutsideDestDir: return "path leaves the destination directory";
        case SkipReason::srUnknownMethod: return "unknown compression method";
    }
    return "skipped";
}

// ---------------------------------------------------------------- plumbing ----

// The entry's compressed bytes in blocks of at most 16000, decrypted in place.
class EntryInput final : public InputSource {
public:
    explicit EntryInput(UnZipper& z) : z_(z) {}

    std::span<const uint8_t> next_block() override {
        ZipHeaderInfo& entry = z_.work_entry_;
        if (entry.CompressedSize <= 0) return {};
        // The launcher's splash window repaints between blocks of long entries.
        if (z_.DoProcessMessages) os().process_messages();
        const size_t n = std::min<size_t>(size_t(entry.CompressedSize), UnZipper::kBlockSize);
        entry.CompressedSize -= int32_t(n);
        uint8_t* block = z_.input_block_.data();
        size_t got = z_.archive_->read(block, n);
        while (got < n) {
            // A split archive goes on in its next part; anything else is truncated.
            if (z_.end_record_.ThisDisk == 0 || !z_.OnGetNextDisk) throw FatalUnzipError();
            z_.ChangeDisk(z_.current_disk_ + 2);
            const size_t more = z_.archive_->read(block + got, n - got);
            if (more == 0) throw FatalUnzipError();
            got += more;
        }
        if (entry.IsEncrypted()) z_.keys_.DecryptBuffer(block, n);
        return {block, n};
    }

private:
    UnZipper& z_;
};

// Decoded bytes, gathered into 16000-byte blocks and written out with the size
// check, the CRC-32 and the progress events.
class EntryOutput final : public OutputSink {
public:
    // Without a file (a test pass), the bytes are checked and counted, not kept.
    EntryOutput(UnZipper& z, BufferedStream* file) : z_(z), file_(file), buffer_(z.output_block_.data()) {}

    void write(const uint8_t* data, size_t n) override {
        while (n > 0) {
            const size_t piece = std::min(n, UnZipper::kBlockSize - fill_);
            std::memcpy(buffer_ + fill_, data, piece);
            fill_ += piece;
            data += piece;
            n -= piece;
            if (fill_ == UnZipper::kBlockSize) {
                fill_ = 0;
                write_out(buffer_, UnZipper::kBlockSize);
            }
        }
    }

    // What a decoder that ended normally left in the buffer.
    void finish() {
        const size_t rest = fill_;
        fill_ = 0;
        if (rest) write_out(buffer_, rest);
    }

    void write_out(const uint8_t* data, size_t n) {
        const int64_t size = z_.work_entry_.UncompressedSize;
        if (written_ + int64_t(n) > size) throw BiggerThanUncompressed();
        // A short write (a full disk) must not pass as an extracted file.
        if (file_ && file_->write(data, n) != n) throw StreamError("Stream write error");
        crc_ = crc32_update(crc_, data, n);
        written_ += int64_t(n);
        z_.total_done_ += int64_t(n);
        if (z_.OnFilePercentDone) z_.OnFilePercentDone(z_, percent_of(written_, size));
        if (z_.OnTotalPercentDone) z_.OnTotalPercentDone(z_, percent_of(z_.total_done_, z_.total_bytes_));
    }

    uint32_t crc() const { return ~crc_; }

private:
    UnZipper& z_;
    BufferedStream* file_;
    uint8_t* buffer_;
    size_t fill_ = 0;
    int64_t written_ = 0;
    uint32_t crc_ = 0xFFFFFFFF;
};

// ----------------------------------------------------------- the component ----

UnZipper::UnZipper() {
    OnGetNextDisk = BuiltInNextDisk{this};
}

UnZipper::~UnZipper() {
    ResetDirectory();
    keys_.Wipe();
}

// ---- the "?" forms: the user chooses the archive or the destination -------------

namespace {

constexpr const char* kOpenZipTitle = "Open a Zip File";
constexpr const char* kOpenZipFilter =
    "Zip Files (*.ZIP)|*.zip|SFX Files (*.EXE)|*.exe|Jar Files (*.JAR)|*.jar|All Files (*.*)|*.*";
#ifdef _WIN32
constexpr const char* kFallbackDialogFolder = "C:\\";
#else
constexpr const char* kFallbackDialogFolder = "/";
#endif

// A name ending in "?" asks for the archive, starting in the name's own folder when
// that exists. A platform without a user answers as a cancel.
std::string ask_for_zip_name(const std::string& name) {
    std::string folder = name.substr(0, name.size() - file_name_part(name).size());
    if (!os().directory_exists(folder)) folder = kFallbackDialogFolder;
    std::optional<std::string> chosen = os().choose_open_file(kOpenZipTitle, kOpenZipFilter, folder);
    if (!chosen) throw UserCanceled("User canceled setting zip file name.");
    return *chosen;
}

std::string ask_for_dest_dir(const std::string& current) {
    const std::string start = os().directory_exists(current) ? current : os().current_directory();
    std::optional<std::string> chosen = os().choose_folder(start);
    if (!chosen) throw UserCanceled("User canceled Set Desination Directory");
    return *chosen;
}

}  // namespace

void UnZipper::SetZipName(const std::string& value) {
    if (same_text_ignoring_case(value, zip_name_)) return;
    const std::string name = !value.empty() && value.back() == '?' ? ask_for_zip_name(value) : value;
    zip_name_ = name;
    free_directory();
    end_record_.Clear();
    archive_date_.reset();
    archive_.reset();
    local_scanned_ = false;
}

void UnZipper::SetDestDir(const std::string& dir) {
    dest_dir_ = dir == "?" ? ask_for_dest_dir(dest_dir_) : dir;
    if (!dest_dir_.empty() && dest_dir_.back() == kPathDelimiter) dest_dir_.pop_back();
}

void UnZipper::SetRootDir(const std::string& dir) {
    root_dir_ = dir;
    if (!root_dir_.empty() && root_dir_.back() != kPathDelimiter) root_dir_ += kPathDelimiter;
}

void UnZipper::free_directory() {
    sorted_view_.reset();
    entry_list_.reset();
    directory_read_ = false;
}

void UnZipper::ResetDirectory() {
    archive_.reset();
    free_directory();
    end_record_.Clear();
    local_scanned_ = false;
    archive_date_.reset();
    span_mode_ = kalv::unzip::SpanMode::smNone;
    zip_name_.clear();
}

int UnZipper::EntryCount() const { return entry_list_ ? entry_list_->count() : 0; }

void UnZipper::check_index(int index) const {
    if (index < 0 || index >= EntryCount()) throw ListError("Index " + std::to_string(index) + " is out of range");
}

const ZipHeaderInfo& UnZipper::Entry(int index) const {
    check_index(index);
    return *view().item(index);
}

std::string UnZipper::EntryName(int index) const { return Entry(index).FileName(); }

std::string UnZipper::EntryComment(int index) {
    check_index(index);
    ZipHeaderInfo& entry = *view().item(index);
    if (!entry.HasComment()) return {};
    if (entry.FileComment()) return *entry.FileComment();
    if (!archive_) archive_ = std::make_unique<BufferedFileStream>(zip_name_, platform::OpenMode::ReadDenyWrite);
    // The comment follows the central record's fixed part, name and extra field.
    uint8_t record[ZipHeaderInfo::kCentralRecordSize] = {};
    std::string comment;
    if (archive_->seek(entry.CentralOffset, BufferedStream::kFromBeginning) >= 0 &&
        archive_->read(record, sizeof record) == sizeof record &&
        archive_->seek(int64_t(get16(record + 28)) + get16(record + 30), BufferedStream::kFromCurrent) >= 0) {
        comment.resize(entry.FileCommentLength);
        comment.resize(archive_->read(comment.data(), comment.size()));
    }
    const uint16_t stored_length = entry.FileCommentLength;
    entry.SetFileComment(comment);
    entry.FileCommentLength = stored_length;
    CloseArchive();
    return comment;
}

std::string UnZipper::ArchiveComment() {
    if (end_record_.CommentLength == 0) return {};
    if (end_record_.ZipComment) return *end_record_.ZipComment;
    if (!archive_) archive_ = std::make_unique<BufferedFileStream>(zip_name_, platform::OpenMode::ReadDenyWrite);
    std::string comment(end_record_.CommentLength, '\0');
    if (archive_->seek(end_record_.CommentOffset, BufferedStream::kFromBeginning) >= 0)
        comment.resize(archive_->read(comment.data(), comment.size()));
    else
        comment.clear();
    end_record_.ZipComment = comment;
    CloseArchive();
    return comment;
}

void UnZipper::SetEntryComment(int index, const std::string& text) {
    check_index(index);
    ZipHeaderInfo& entry = *view().item(index);
    if (entry.FileComment() && *entry.FileComment() == text) return;
    entry.SetFileComment(text);
    end_record_.CommentModified = true;
}

void UnZipper::SetArchiveComment(const std::string& text) {
    if (end_record_.ZipComment && *end_record_.ZipComment == text) return;
    end_record_.ZipComment = text;
    end_record_.CommentLength = uint16_t(text.size());
    end_record_.CommentModified = true;
}

void UnZipper::OpenArchive() {
    if (!archive_) archive_ = std::make_unique<BufferedFileStream>(zip_name_, platform::OpenMode::ReadDenyWrite);
    if (!directory_read_ || os().modification_stamp(zip_name_) != archive_date_) ReadZip();
}

void UnZipper::CloseArchive() {
    if (!KeepZipOpen) archive_.reset();
}

void UnZipper::ApplySortMode(ZipSortMode mode) {
    sorted_view_.reset();
    if (mode != ZipSortMode::ByNone && entry_list_) {
        sorted_view_ = std::make_unique<SortedZip>(mode, false, Duplicates::Accept);
        for (int i = 0; i < entry_list_->count(); ++i) sorted_view_->add(entry_list_->item(i));
    }
    SortMode = mode;
}

// ---------------------------------------------------------------- directory ----

bool UnZipper::FindEndCentral() {
    const int64_t size = archive_->size();
    if (size < int64_t(EndCentral::kRecordSize)) return false;
    // The record is 22 bytes and its comment at most 65535; the search reaches
    // 65528 bytes back, so a comment longer than 65506 bytes hides the record.
    const int64_t window = std::min<int64_t>(size, kEndSearchWindow);
    std::vector<uint8_t> tail(size_t(window), 0);
    archive_->seek(size - window, BufferedStream::kFromBeginning);
    if (archive_->read(tail.data(), tail.size()) != tail.size()) return false;
    for (int64_t i = window - int64_t(EndCentral::kRecordSize); i >= 0; --i) {
        const uint8_t* p = tail.data() + i;
        if (p[0] != 0x50 || get32(p) != EndCentral::kSignature) continue;
        end_record_.ThisDisk = get16(p + 4);
        end_record_.CentralDisk = get16(p + 6);
        end_record_.EntriesThisDisk = get16(p + 8);
        end_record_.TotalEntries = get16(p + 10);
        end_record_.CentralSize = get32(p + 12);
        end_record_.CentralStart = get32(p + 16);
        end_record_.CommentLength = get16(p + 20);
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
        if (seen >= 4 && last_four == ZipHeaderInfo::kLocalSignature) {
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
        if (end_record_.ThisDisk == 0) {
            span_mode_ = kalv::unzip::SpanMode::smNone;
        } else {
            const std::string root = ascii_upper(zip_name_.substr(0, 3));
            const bool removable = root.size() >= 2 && root[1] == ':' && os().is_removable_drive(root);
            span_mode_ = removable ? kalv::unzip::SpanMode::smRemovable : kalv::unzip::SpanMode::smNumbered;
        }
        if (end_record_.TotalEntries != 0) {
            if (span_mode_ != kalv::unzip::SpanMode::smNone && end_record_.CentralDisk != current_disk_)
                ChangeDisk(end_record_.CentralDisk + 1);
            uint8_t signature[4] = {};
            archive_->seek(end_record_.CentralStart, BufferedStream::kFromBeginning);
            if (archive_->read(signature, 4) == 4 && get32(signature) == ZipHeaderInfo::kCentralSignature)
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
            uint8_t fixed[ZipHeaderInfo::kCentralRecordSize];
            std::string comment;
            if (archive_->seek(entry->CentralOffset, BufferedStream::kFromBeginning) >= 0 &&
                archive_->read(fixed, sizeof fixed) == sizeof fixed) {
                archive_->seek(int64_t(get16(fixed + 28)) + get16(fixed + 30), BufferedStream::kFromCurrent);
                comment.resize(entry->FileCommentLength);
                comment.resize(archive_->read(comment.data(), comment.size()));
            }
            const uint16_t stored_length = entry->FileCommentLength;
            entry->SetFileComment(comment);
            entry->FileCommentLength = stored_length;
            archive_->seek(resume, BufferedStream::kFromBeginning);
        }
    }
    if (end_record_.ThisDisk != 0 && end_record_.CommentLength != 0) {
        if (current_disk_ != end_record_.ThisDisk) ChangeDisk(end_record_.ThisDisk + 1);
        std::string comment(end_record_.CommentLength, '\0');
        archive_->seek(end_record_.CommentOffset, BufferedStream::kFromBeginning);
        comment.resize(archive_->read(comment.data(), comment.size()));
        end_record_.ZipComment = comment;
    }
    current_disk_ = end_record_.ThisDisk;
    directory_read_ = true;
    ApplySortMode(SortMode);
}

void UnZipper::built_in_next_disk(int next_disk, std::string& name) {
    if (span_mode_ == kalv::unzip::SpanMode::smRemovable) {
        os().set_cursor(platform::Cursor::Default);
        const auto answer = os().message_box("Please insert disk " + std::to_string(next_disk) + " of the multi-disk set.",
                                             "Confirm", platform::BoxButtons::OkCancel, platform::BoxIcon::Question);
        if (answer == platform::BoxAnswer::Cancel) name.clear();
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

// --------------------------------------------------------------- extraction ----

int UnZipper::UnZip() {
    OpenArchive();
    const int count = extraction_pass();
    CloseArchive();
    return count;
}

// The directory's list is in physical order (disk, then local-header offset): each
// entry's local header, at least 30 bytes, and its data must end before the next
// entry of the same part begins. The stored name and extra field only widen the gap,
// so a sound archive never fails this.
void UnZipper::refuse_overlapping_entries() const {
    for (int i = 0; i + 1 < EntryCount(); ++i) {
        const ZipHeaderInfo& entry = *entry_list_->item(i);
        const ZipHeaderInfo& next = *entry_list_->item(i + 1);
        if (entry.DiskNumberStart != next.DiskNumberStart) continue;
        const int64_t data_end = int64_t(entry.RelativeOffset) + int64_t(ZipHeaderInfo::kLocalRecordSize) +
                                 std::max<int64_t>(entry.CompressedSize, 0);
        if (data_end > int64_t(next.RelativeOffset)) throw OverlappedEntries();
    }
}

int UnZipper::extraction_pass() {
    refuse_overlapping_entries();
    PassBuffers buffers(window_, input_block_, output_block_);
    if (!TestMode && !dest_dir_.empty() && !os().directory_exists(dest_dir_)) os().create_directories(dest_dir_);

    // A split archive is read part after part: entries go in physical order.
    const ZipSortMode caller_mode = SortMode;
    const bool physical_order = end_record_.ThisDisk != 0 && SortMode != ZipSortMode::ByNone;
    if (physical_order) ApplySortMode(ZipSortMode::ByNone);
    struct RestoreMode {
        UnZipper& z;
        bool active;
        ZipSortMode mode;
        ~RestoreMode() {
            if (active) z.ApplySortMode(mode);
        }
    } restore{*this, physical_order, caller_mode};

    total_bytes_ = 0;
    total_done_ = 0;
    int count = EntryCount();
    for (int i = 0; i < EntryCount(); ++i) {
        ZipHeaderInfo& entry = *view().item(i);
        entry.Selected = DoAll;
        if (entry.FileName().empty() && !RecreateDirs) {
            entry.Selected = false;
        } else {
            const std::string subject = ascii_lower(entry.StoredPath());
            for (const std::string& line : FilesList) {
                if (MatchesPattern(ascii_lower(file_name_part(line)), subject)) {
                    entry.Selected = true;
                    break;
                }
            }
        }
        if (entry.Selected)
            total_bytes_ += entry.UncompressedSize;
        else
            --count;
    }

    bool stop_now = false;
    if (OnStartUnZipInfo) OnStartUnZipInfo(*this, count, total_bytes_, stop_now);
    // Stopped before the first entry, nothing was extracted: the count says so.
    if (stop_now) return 0;
    if (count > 0) {
        for (int i = 0; i < EntryCount(); ++i) {
            if (!DoAll && !view().item(i)->Selected) continue;
            while (extract_entry(i, count)) {
            }
        }
    }
    return count;
}

std::optional<std::string> UnZipper::target_directory(const ZipHeaderInfo& entry) const {
    // An empty DestDir is the current directory. Taken literally it would put "x.txt"
    // at "\x.txt", the root of the file system, and a stored "\etc\" at "\etc\".
    const std::string base = dest_dir_.empty() ? std::string(".") : dest_dir_;
    if (!RecreateDirs || entry.Directory().empty()) return base + kPathDelimiter;
    std::string dir = entry.Directory();
    if (!root_dir_.empty() && dir.size() >= root_dir_.size() &&
        same_text_ignoring_case(dir.substr(0, root_dir_.size()), root_dir_))
        dir.erase(0, root_dir_.size());
    if (has_parent_component(dir)) return std::nullopt;
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
        // A stored root or drive lands below DestDir. After a drive, the delimiter is
        // put back when the name had none ("C:sub\"), so that the result cannot
        // become a sibling of DestDir ("D:\outsub\").
        std::string below = drive ? dir.substr(2) : dir;
        if (below.empty() || below[0] != kPathDelimiter) below.insert(below.begin(), kPathDelimiter);
        target = base + below;
    }
    if (!TestMode && !os().directory_exists(target)) os().create_directories(target);
    return target;
}

uint8_t UnZipper::CheckHeader(const std::string& password) {
    uint8_t header[ZipKeys::kHeaderSize] = {};
    archive_->read(header, sizeof header);
    work_entry_.CompressedSize -= int32_t(ZipKeys::kHeaderSize);
    keys_.InitKeys(password);
    keys_.DecryptBuffer(header, sizeof header);
    return header[ZipKeys::kHeaderSize - 1];
}

bool UnZipper::check_password(int index) {
    // APPNOTE 6.1.6: the header's last byte repeats the CRC's high byte, or, when the
    // CRC follows the data (bit 3), the high byte of the time as stored (a clamped hour
    // 25 would no longer match the byte the producer wrote).
    const uint8_t check = work_entry_.HasDescriptor() ? uint8_t(work_entry_.StoredDateTime >> 8)
                                                      : uint8_t(work_entry_.Crc32 >> 24);
    for (;;) {
        if (CheckHeader(Password) == check) return true;
        if (!OnBadPassword) return false;
        std::string new_password = Password;
        OnBadPassword(*this, index, new_password);
        if (new_password == Password) return false;
        Password = new_password;
        archive_->seek(-int64_t(ZipKeys::kHeaderSize), BufferedStream::kFromCurrent);
        work_entry_.CompressedSize += int32_t(ZipKeys::kHeaderSize);
    }
}

void UnZipper::copy_stored(EntryOutput& output) {
    uint8_t* block = input_block_.data();
    while (work_entry_.CompressedSize > 0) {
        const size_t n = std::min<size_t>(size_t(work_entry_.CompressedSize), kBlockSize);
        // A short read ends the copy; the CRC check then rejects the entry.
        const size_t got = archive_->read(block, n);
        if (work_entry_.IsEncrypted()) keys_.DecryptBuffer(block, got);
        work_entry_.CompressedSize -= int32_t(n);
        output.write_out(block, got);
        if (got < n) break;
    }
}

bool UnZipper::extract_entry(int index, int& count) {
    struct WipeKeys {
        ZipKeys& keys;
        ~WipeKeys() { keys.Wipe(); }
    } wipe{keys_};
    work_entry_.Assign(*view().item(index));
    last_check_ = {};
    const ZipHeaderInfo& entry = work_entry_;
    auto skip = [&](SkipReason reason) {
        if (OnSkippingFile) OnSkippingFile(*this, reason, entry.StoredPath(), index);
        --count;
        return false;
    };

    if (!entry.FileName().empty()) {
        if (end_record_.ThisDisk != 0 && entry.DiskNumberStart != current_disk_) ChangeDisk(entry.DiskNumberStart + 1);
        // The local header's name and extra field may differ in length from the
        // central record's: step over the local ones to reach the data.
        uint8_t local[ZipHeaderInfo::kLocalRecordSize] = {};
        archive_->seek(entry.RelativeOffset, BufferedStream::kFromBeginning);
        if (archive_->read(local, sizeof local) != sizeof local) throw FatalUnzipError();
        archive_->seek(int64_t(get16(local + 26)) + get16(local + 28), BufferedStream::kFromCurrent);
    }

    if (names_a_parent(entry.FileName())) return skip(SkipReason::srOutsideDestDir);
    const std::optional<std::string> target = target_directory(entry);
    if (!target) return skip(SkipReason::srOutsideDestDir);

    if (entry.FileName().empty()) {
        if (RecreateDirs && OnStartUnZip) {
            bool ignored = false;
            OnStartUnZip(*this, index, *target, ignored);
        }
        return false;
    }
    std::string path = *target + entry.FileName();

    if (entry.IsEncrypted() && !check_password(index)) return skip(SkipReason::srBadPassword);

    if (!TestMode && OverwriteMode != UZOverwriteMode::Always && file_exists(path)) {
        bool overwrite = false;
        if (OverwriteMode == UZOverwriteMode::Prompt) {
            if (OnPromptForOverwrite) {
                OnPromptForOverwrite(*this, overwrite, index, path);
            } else {
                overwrite = os().message_box("Replace existing file " + EntryName(index) + "?", "File Exists Alert",
                                             platform::BoxButtons::YesNo,
                                             platform::BoxIcon::Question) == platform::BoxAnswer::Yes;
            }
        }
        if (!overwrite) return skip(SkipReason::srNoOverwrite);
    }

    // The entry is written beside its target under a temporary name and put in place
    // in one step once its CRC passed, so a failed entry never costs the file it would
    // have replaced, and no half-written file ever carries the target's name.
    const std::string partial = path + kPartialSuffix;
    std::unique_ptr<BufferedFileStream> file;
    if (!TestMode) {
        try {
            file = std::make_unique<BufferedFileStream>(partial, platform::OpenMode::CreateExclusive);
        } catch (const FileStreamError&) {
            throw FileStreamError("Cannot create file " + path);
        }
    }
    auto remove_partial = [&] {
        if (!TestMode) {
            file.reset();
            os().delete_file(partial);
        }
    };
    bool unknown_method = false;
    DecodeStatus status = DecodeStatus::Done;
    uint32_t crc = 0;
    try {
        EntryOutput output(*this, file.get());
        bool skip_entry = false;
        if (OnStartUnZip) OnStartUnZip(*this, index, path, skip_entry);
        if (skip_entry) {
            remove_partial();
            --count;
            return false;
        }

        EntryInput input(*this);
        const DecodeJob job{input, output, std::span<uint8_t>(window_), entry.BitFlag,
                            int64_t(work_entry_.CompressedSize), int64_t(entry.UncompressedSize)};
        try {
            switch (entry.CompressionMethod) {
                case 0: copy_stored(output); break;
                case 1: status = unshrink(job); break;
                case 2: case 3: case 4: case 5: status = unreduce(job, entry.CompressionMethod - 1); break;
                case 6: status = explode(job); break;
                case 8: status = inflate(job); break;
                default:
                    // A test pass reports through OnSkippingFile only: nobody may be
                    // there to answer a box.
                    if (!TestMode)
                        os().message_box("Unknown Compression Method", "Zip Error", platform::BoxButtons::Ok,
                                         platform::BoxIcon::None);
                    unknown_method = true;
                    break;
            }
            if (status == DecodeStatus::Done && !unknown_method) output.finish();
        } catch (const BiggerThanUncompressed&) {
            // More data than the record announced: decoding ends here and the CRC
            // check judges what was written.
        }
        crc = output.crc();
        last_check_ = {true, status, crc};
        // On the disk before the rename can publish it: a power cut leaves the old
        // file or the new one, never a name over lost data.
        if (file && !file->sync()) throw StreamError("Stream write error");
        file.reset();
    } catch (...) {
        remove_partial();
        throw;
    }

    if (unknown_method) {
        remove_partial();
        return skip(SkipReason::srUnknownMethod);
    }
    // A decoder that gave up has not produced the file, whatever the CRC says.
    if (status != DecodeStatus::Done || crc != entry.Crc32) {
        remove_partial();
        bool retry = false;
        if (entry.IsEncrypted()) {
            if (OnBadPassword) {
                std::string new_password = Password;
                OnBadPassword(*this, index, new_password);
                if (new_password != Password) {
                    Password = new_password;
                    retry = true;
                }
            }
            if (!retry && OnSkippingFile) OnSkippingFile(*this, SkipReason::srBadPassword, entry.StoredPath(), index);
        } else if (OnBadCRC) {
            OnBadCRC(*this, crc, entry.Crc32, index);
        }
        if (!retry) --count;
        return retry;
    }
    if (!TestMode) {
        os().set_file_dos_time(partial, entry.FileDateTime);
        // A target that cannot be replaced (read-only, a directory, in use) keeps
        // what it was; the failure names it as its creation would have.
        if (!os().replace_file(partial, path)) {
            remove_partial();
            throw FileStreamError("Cannot create file " + path);
        }
        // Given only once in place: a read-only attribute would otherwise keep the
        // temporary file from being removed after a failed replace.
        if (RetainAttributes) os().set_file_attributes(path, entry.ExternalAttributes, entry.VersionMadeBy);
    }
    if (OnEndUnZip) OnEndUnZip(*this, index, path);
    return false;
}

}  // namespace kalv::unzip
