// The extraction pass: the choice of entries by FilesList, then per entry the local
// header, the output path, the password check, the overwrite rule, the decoder, the
// CRC check and the file put in place (see the map in unzipper.h).
#include <algorithm>
#include <cstring>

#include "core/errors.h"
#include "unzip/entry_streams.h"
#include "unzip/output_path.h"
#include "unzip/pending_files.h"
#include "unzip/unzipper.h"
#include "unzip/unzipper_internal.h"

namespace kalv::unzip {

namespace {

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

// A link's data (its target's name) decoded into memory rather than into a file.
class LinkTargetBytes final : public platform::FileHandle {
public:
    std::string bytes;
    size_t read(void*, size_t) override { return 0; }
    size_t write(const void* buffer, size_t n) override {
        bytes.append(static_cast<const char*>(buffer), n);
        return n;
    }
    int64_t seek(int64_t, platform::SeekOrigin) override { return int64_t(bytes.size()); }
    int64_t size() override { return int64_t(bytes.size()); }
    bool sync() override { return true; }
};

// A link's target is a path name: a few hundred bytes, not an entry's worth of data.
constexpr int64_t kMaxLinkTarget = 4096;

#ifdef _WIN32
constexpr bool kLinksHere = false;  // a Windows link needs a privilege; a skip says so
#else
constexpr bool kLinksHere = true;
#endif

}  // namespace

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
        const int64_t data_end = int64_t(entry.RelativeOffset) + int64_t(LocalFileHeader::kSize) +
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
    links_.clear();
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
        // Saturating: ZIP64 sizes of up to 2^63 - 1 each may add up beyond int64_t.
        if (entry.Selected)
            total_bytes_ += std::min(entry.UncompressedSize, INT64_MAX - total_bytes_);
        else
            --count;
    }

    bool stop_now = false;
    if (OnStartUnZipInfo) OnStartUnZipInfo(*this, count, total_bytes_, stop_now);
    // Stopped before the first entry, nothing was extracted: the count says so.
    if (stop_now) return 0;
    if (count > 0) {
        try {
            for (int i = 0; i < EntryCount(); ++i) {
                if (!DoAll && !view().item(i)->Selected) continue;
                while (extract_entry(i, count)) {
                }
            }
        } catch (...) {
            // The entries finished before the failure are in place, as they would be
            // had each been put in place at once.
            links_.clear();
            publish_pending_after_failure();
            throw;
        }
        publish_pending();
        make_links();
    }
    return count;
}

void UnZipper::publish_pending() {
    if (pending_->empty()) return;
    std::exception_ptr failure;
    const PendingFiles::Published placed = pending_->publish(failure);
    // The entry in hand, if any, keeps its own check for its own events.
    struct RestoreCheck {
        EntryCheck& check;
        const EntryCheck in_hand;
        ~RestoreCheck() { check = in_hand; }
    } restore{last_check_, last_check_};
    // The events: only for the files whose names are on the disk.
    for (size_t i = 0; i < placed.durable; ++i) {
        const PendingFile& file = placed.in_place[i];
        last_check_ = file.check;
        if (OnEndUnZip) OnEndUnZip(*this, file.index, file.target);
    }
    if (failure) std::rethrow_exception(failure);
}

void UnZipper::publish_pending_after_failure() noexcept {
    try {
        publish_pending();
    } catch (...) {
    }
}

void UnZipper::queue_finished(int index, const std::string& path, platform::TemporaryFile partial) {
    const size_t slash = path.find_last_of(kPathDelimiter);
    pending_->add({index, path.substr(0, slash + 1), path, partial.path, std::move(partial.handle), last_check_},
                  work_entry_.UncompressedSize);
    if (pending_->full()) publish_pending();
}

uint8_t UnZipper::CheckHeader(const std::string& password) {
    uint8_t header[ZipKeys::kHeaderSize] = {};
    archive_->read(header, sizeof header);
    work_entry_.CompressedSize -= int64_t(ZipKeys::kHeaderSize);
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
        work_entry_.CompressedSize += int64_t(ZipKeys::kHeaderSize);
    }
}

void UnZipper::report_problem(ZipProblem problem, int index) {
    if (OnZipProblem) {
        OnZipProblem(*this, problem, index);
        return;
    }
    // A test pass shows no unknown-method box: nobody may be there to answer it, and
    // OnSkippingFile reports the entry.
    if (problem == ZipProblem::UnknownMethod && TestMode) return;
    const char* caption = problem == ZipProblem::UnknownMethod ? "Zip Error" : "Error";
    os().message_box(zip_problem_text(problem), caption, platform::BoxButtons::Ok, platform::BoxIcon::None);
}

std::optional<DecodeStatus> UnZipper::decode(EntryOutput& output, int index) {
    const ZipHeaderInfo& entry = work_entry_;
    EntryInput input(*this);
    const DecodeJob job{input, output, std::span<uint8_t>(window_), entry.BitFlag, int64_t(entry.CompressedSize),
                        int64_t(entry.UncompressedSize)};
    DecodeStatus status = DecodeStatus::Done;
    switch (entry.Method()) {
        case CompressionMethod::Stored: input.copy_stored(output); break;
        case CompressionMethod::Shrunk: status = unshrink(job); break;
        case CompressionMethod::Reduced1:
        case CompressionMethod::Reduced2:
        case CompressionMethod::Reduced3:
        case CompressionMethod::Reduced4: status = unreduce(job, reduction_factor(entry.Method())); break;
        case CompressionMethod::Imploded: status = explode(job); break;
        case CompressionMethod::Deflated: status = inflate(job); break;
        default: report_problem(ZipProblem::UnknownMethod, index); return std::nullopt;
    }
    switch (status) {
        case DecodeStatus::Done: output.finish(); break;
        case DecodeStatus::OutputFull:
            // More data than the record announced: decoding ended where the output
            // reached the uncompressed size. A normal end: the CRC check judges what
            // was written.
            return DecodeStatus::Done;
        case DecodeStatus::OutOfMemory:
            // The table-building decoders, Deflate and Implode, tell the user; Shrink
            // and Reduce end such an entry without a word, as one with bad data.
            if (entry.Method() == CompressionMethod::Deflated || entry.Method() == CompressionMethod::Imploded)
                report_problem(ZipProblem::OutOfMemory, index);
            break;
        case DecodeStatus::BadData:
        case DecodeStatus::EndOfInput: break;
    }
    return status;
}

// Reaches the entry's data: the local header's name and extra field may differ in
// length from the central record's, so they are stepped over as the local header
// gives them. The local extra field's time dates the file, and without one the DOS
// time: so Info-ZIP unzip dates it. The central record may say otherwise: a tool that
// rewrote the directory and kept the local headers, or a jar tool that put the time
// field in the central record alone (one second on from the DOS time, which has two).
void UnZipper::seek_entry_data(ZipHeaderInfo& entry) {
    if (end_record_.ThisDisk != 0 && entry.DiskNumberStart != current_disk_) ChangeDisk(entry.DiskNumberStart + 1);
    uint8_t local[LocalFileHeader::kSize] = {};
    archive_->seek(int64_t(entry.RelativeOffset), BufferedStream::kFromBeginning);
    if (archive_->read(local, sizeof local) != sizeof local) throw FatalUnzipError();
    const LocalFileHeader header = read_record<LocalFileHeader>(local);
    const int64_t data_at = archive_->position() + header.variable_size();
    std::vector<uint8_t> extra(header.extra_field_length);
    if (!extra.empty() && archive_->seek(header.file_name_length, BufferedStream::kFromCurrent) >= 0)
        extra.resize(archive_->read(extra.data(), extra.size()));
    else
        extra.clear();
    entry.UnixModTime = unix_mod_time(extra, entry.FileDateTime);
    archive_->seek(data_at, BufferedStream::kFromBeginning);
}

// Whether the entry may take `path`: always when nothing is there or the mode says
// so; otherwise as the handler (which may give another path) or the user answers
// (Prompt), or never.
bool UnZipper::may_overwrite(int index, std::string& path) {
    if (TestMode || OverwriteMode == UZOverwriteMode::Always || !file_exists(path)) return true;
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
    return overwrite;
}

// Creates the temporary file that the entry is written to, beside `path` under a name
// nobody can predict. Waiting files hold a handle each, and a low limit on open files
// may have been reached: the batch is put in place, its handles closed, and the file
// tried once more.
platform::TemporaryFile UnZipper::create_partial(const std::string& path) {
    try {
        return platform::create_temporary_beside(os(), path, kPartialSuffix);
    } catch (const FileStreamError&) {
        if (pending_->empty()) throw;
    }
    publish_pending();
    return platform::create_temporary_beside(os(), path, kPartialSuffix);
}

// An entry whose decoder gave up or whose CRC failed: an encrypted one may be tried
// again with the password that OnBadPassword gives; returns whether it is.
bool UnZipper::failed_entry(int index, uint32_t crc, int& count) {
    const ZipHeaderInfo& entry = work_entry_;
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

void UnZipper::apply_stored_metadata(platform::FileHandle& file) const {
    // The UTC time where the entry has one; the DOS time, taken as local, otherwise, or
    // where the system cannot hold the UTC one.
    const std::optional<int64_t>& utc = work_entry_.UnixModTime;
    if (!utc || !file.set_unix_time(*utc)) file.set_dos_time(work_entry_.FileDateTime);
    if (RetainAttributes) file.set_attributes(work_entry_.ExternalAttributes, work_entry_.VersionMadeBy);
}

// Puts the finished, CRC-checked, dated and synced entry in hand in place of its
// target. A target that cannot be replaced (read-only, a directory, in use) keeps what
// it was; the failure names it as its creation would have.
void UnZipper::put_in_place(const std::string& path, platform::TemporaryFile partial) {
    partial.handle.reset();  // Windows renames no file that a handle holds unshared
    if (!os().replace_file(partial.path, path)) {
        discard_temporary(partial.path);
        throw FileStreamError("Cannot create file " + path);
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

    if (!entry.FileName().empty()) seek_entry_data(work_entry_);
    if (names_a_parent(entry.FileName())) return skip(SkipReason::srOutsideDestDir);
    SkipReason refused = SkipReason::srOutsideDestDir;
    const std::optional<std::string> target = target_directory(entry, refused);
    if (!target) return skip(refused);

    if (entry.FileName().empty()) {
        if (RecreateDirs && OnStartUnZip) {
            bool ignored = false;
            OnStartUnZip(*this, index, *target, ignored);
        }
        return false;
    }
    std::string path = *target + windows_file_names(entry.FileName());
    // A waiting file that this entry would meet (an entry of the same name, say) is
    // put in place first: the overwrite rule and the new file see it there.
    if (pending_->claims(path)) publish_pending();

    // WinZip AES (method 99) also sets bit 0, but its data begins with a salt, not the
    // traditional header: any password would fail the check, and the entry is named as
    // what it is instead.
    if (entry.IsAesEncrypted()) return skip(SkipReason::srAesEncrypted);
    // A link's data is its target's name. Written as a file it would be a file holding a
    // path; made a link at once, later entries could be led out of the destination
    // through it. It is read into memory and made at the end of the pass, or skipped.
    // A test reads its data all the same.
    const bool link = entry.IsSymbolicLink() && !TestMode;
    if (link && (!MakeLinks || !kLinksHere || entry.UncompressedSize > kMaxLinkTarget))
        return skip(SkipReason::srSymbolicLink);
    if (entry.IsEncrypted() && !check_password(index)) return skip(SkipReason::srBadPassword);
    if (!may_overwrite(index, path)) return skip(SkipReason::srNoOverwrite);

    // The entry is written beside its target (the name the overwrite rule settled on)
    // under a temporary name and put in place in one step once its CRC passed, so a
    // failed entry never costs the file it would have replaced, and no half-written
    // file ever carries the target's name.
    platform::TemporaryFile partial;
    std::unique_ptr<BufferedStream> file;
    LinkTargetBytes* link_target = nullptr;
    if (link) {
        auto bytes = std::make_unique<LinkTargetBytes>();
        link_target = bytes.get();
        file = std::make_unique<BufferedStream>(std::move(bytes));
    } else if (!TestMode) {
        partial = create_partial(path);
        file = std::make_unique<BufferedStream>(std::move(partial.handle));
    }
    auto remove_partial = [&] {
        if (TestMode || link) return;
        file.reset();
        partial.handle.reset();
        discard_temporary(partial.path);
    };
    std::optional<DecodeStatus> decoded;
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
        decoded = decode(output, index);
        crc = output.crc();
        last_check_ = {true, decoded.value_or(DecodeStatus::Done), crc};
        if (file) partial.handle = file->release();
    } catch (...) {
        remove_partial();
        throw;
    }

    if (!decoded) {
        remove_partial();
        return skip(SkipReason::srUnknownMethod);
    }
    // A decoder that gave up has not produced the file, whatever the CRC says.
    if (*decoded != DecodeStatus::Done || crc != entry.Crc32) {
        remove_partial();
        return failed_entry(index, crc, count);
    }
    if (link) {
        if (!link_stays_inside(path, link_target->bytes)) return skip(SkipReason::srLinkOutsideDestDir);
        links_.push_back({index, path, link_target->bytes});
        return false;
    }
    if (!TestMode) {
        // Date and attributes go through the handle before the rename: a name swapped
        // for a link meanwhile is never given them.
        apply_stored_metadata(*partial.handle);
        if (Durability == UZDurability::Batched) {
            // A batch syncs its files together, once they are all written.
            queue_finished(index, path, std::move(partial));
            return false;
        }
        // On the disk before the rename can publish it: a power cut leaves the old
        // file or the new one, never a name over lost data.
        if (!partial.handle->sync()) {
            remove_partial();
            throw StreamError("Stream write error");
        }
        put_in_place(path, std::move(partial));
    }
    if (OnEndUnZip) OnEndUnZip(*this, index, path);
    return false;
}

// Whether the link that `path` would be stays inside DestDir when followed: its target
// relative (an absolute one names any place), and its ".." levels, taken from the
// link's own folder, never climbing above DestDir. Links inside DestDir are never
// followed by the pass, so a chain of links that each stay inside stays inside.
bool UnZipper::link_stays_inside(const std::string& path, const std::string& target) const {
    const std::string base = (dest_dir_.empty() ? std::string(".") : dest_dir_) + kPathDelimiter;
    if (target.empty() || target[0] == '/' || target.find('\0') != std::string::npos) return false;
    if (path.compare(0, base.size(), base) != 0) return false;  // sent elsewhere by a handler
    size_t depth = 0;
    auto walk = [&depth](const std::string& text, char delimiter, size_t end) {
        size_t start = 0;
        while (start < end) {
            size_t stop = text.find(delimiter, start);
            if (stop == std::string::npos || stop > end) stop = end;
            const std::string level = text.substr(start, stop - start);
            if (level == "..") {
                if (depth == 0) return false;
                --depth;
            } else if (!level.empty() && level != ".") {
                ++depth;
            }
            start = stop + 1;
        }
        return true;
    };
    const std::string below = path.substr(base.size());
    const size_t folder_end = below.find_last_of(kPathDelimiter);
    return walk(below, kPathDelimiter, folder_end == std::string::npos ? 0 : folder_end) &&
           walk(target, '/', target.size());
}

void UnZipper::make_links() {
    std::vector<DeferredLink> links = std::move(links_);
    links_.clear();
    for (const DeferredLink& made : links) {
        if (!os().create_link(made.target, made.path)) throw FileStreamError("Cannot create file " + made.path);
        if (OnEndUnZip) OnEndUnZip(*this, made.index, made.path);
    }
}

}  // namespace kalv::unzip
