// The extraction pass: the choice of entries, then per entry its preparation
// (entry_checks.cpp), its output, its decoding, the verdict and the file put in
// place (see the map in extract.h).
#include <algorithm>
#include <atomic>
#include <thread>

#include "core/errors.h"
#include "unzip/core_helpers.h"
#include "unzip/extraction_pass.h"
#include "unzip/wild_match.h"

namespace kalv::unzip {

namespace {

std::atomic<UZThreading> g_process_threading{UZThreading::Auto};

// The options' threading as this process and this machine have it: Off or On.
UZThreading resolved_threading(UZThreading asked) {
    if (asked == UZThreading::Auto) asked = g_process_threading.load();
    if (asked != UZThreading::Auto) return asked;
    return std::thread::hardware_concurrency() > 1 ? UZThreading::On : UZThreading::Off;
}

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

}  // namespace

const char* skip_reason_text(SkipReason reason) {
    switch (reason) {
        case SkipReason::srBadPassword: return "bad password";
        case SkipReason::srNoOverwrite: return "exists, not overwritten";
        case SkipReason::srOutsideDestDir: return "path leaves the destination directory";
        case SkipReason::srUnknownMethod: return "unknown compression method";
        case SkipReason::srThroughLink: return "path goes through a symbolic link or junction";
        case SkipReason::srSymbolicLink: return "a symbolic link: not extracted";
        case SkipReason::srAesEncrypted: return "encrypted with AES: not supported";
        case SkipReason::srLinkOutsideDestDir: return "a symbolic link leading out of the destination: not extracted";
    }
    return "skipped";
}

const char* zip_problem_text(ZipProblem problem) {
    switch (problem) {
        case ZipProblem::UnknownMethod: return "Unknown Compression Method";
        case ZipProblem::OutOfMemory: return "*** inflate out of memory ***";
    }
    return "";
}

void set_process_threading(UZThreading threading) { g_process_threading.store(threading); }

std::optional<UZThreading> threading_from_text(const char* text) {
    if (!text) return std::nullopt;
    const std::string word = ascii_lower(text);
    if (word == "0") return UZThreading::Off;
    if (word == "1") return UZThreading::On;
    if (word == "auto") return UZThreading::Auto;
    return std::nullopt;
}

int extract(platform::FileSystem& os, Archive& archive, const ExtractOptions& options, Observer& observer) {
    return ExtractionPass(os, archive, options, observer).run();
}

ExtractionPass::ExtractionPass(platform::FileSystem& os, Archive& archive, const ExtractOptions& options,
                               Observer& observer)
    : os_(os),
      archive_(archive),
      options_(options),
      observer_(observer),
      password_(options.password),
      window_(kWindowSize),
      input_block_(kBlockSize + 1),
      output_block_(kBlockSize + 1),
      pending_(os),
      threading_(resolved_threading(options.threading)),
      forced_threading_(options.threading == UZThreading::On ||
                        (options.threading == UZThreading::Auto && g_process_threading.load() == UZThreading::On)) {}

// An encrypted entry's data is decrypted on a second core while this one decodes it
// (decrypt_ahead.h). A split archive may ask for its next part midway, a question
// for the caller's thread, so it stays serial; so do small entries unless forced,
// where a thread's start costs more than the overlap gains.
bool ExtractionPass::decrypts_ahead() const {
    if (threading_ != UZThreading::On || !entry_.IsEncrypted() || archive_.split() || remaining_ <= 0) return false;
    return forced_threading_ || remaining_ >= kDecryptAheadFrom;
}

// A split archive is read part after part: its entries go in physical order.
const ZipHeaderInfo& ExtractionPass::entry_at(int index) const {
    return archive_.split() ? archive_.physical_entry(index) : archive_.entry(index);
}

int ExtractionPass::run() {
    refuse_overlapping_entries();
    const std::string& destination = options_.destination;
    // A destination that cannot be made shows as its first file that cannot be created.
    if (!options_.test_only && !destination.empty() && !os_.directory_exists(destination))
        static_cast<void>(os_.create_directories(destination));
    std::vector<bool> chosen;
    count_ = choose_entries(chosen);
    bool stop = false;
    observer_.starting(count_, total_bytes_, stop);
    // Stopped before the first entry, nothing was extracted: the count says so.
    if (stop) return 0;
    if (count_ > 0) {
        try {
            extract_chosen(chosen);
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
    return count_;
}

// The directory's list is in physical order (disk, then local-header offset): each
// entry's local header, at least 30 bytes, and its data must end before the next
// entry of the same part begins. The stored name and extra field only widen the gap,
// so a sound archive never fails this.
void ExtractionPass::refuse_overlapping_entries() const {
    for (int i = 0; i + 1 < archive_.count(); ++i) {
        const ZipHeaderInfo& entry = archive_.physical_entry(i);
        const ZipHeaderInfo& next = archive_.physical_entry(i + 1);
        if (entry.DiskNumberStart != next.DiskNumberStart) continue;
        const int64_t data_end = int64_t(entry.RelativeOffset) + int64_t(LocalFileHeader::kSize) +
                                 std::max<int64_t>(entry.CompressedSize, 0);
        if (data_end > int64_t(next.RelativeOffset)) throw OverlappedEntries();
    }
}

// Each pattern's last path component against the entry's whole stored path, letter
// case ignored; every entry with `all`. Returns how many are chosen, and their bytes
// in total_bytes_.
int ExtractionPass::choose_entries(std::vector<bool>& chosen) {
    std::vector<std::string> patterns;
    for (const std::string& line : options_.patterns) patterns.push_back(ascii_lower(file_name_part(line)));
    total_bytes_ = 0;
    total_done_ = 0;
    int count = archive_.count();
    chosen.assign(size_t(count), false);
    for (int i = 0; i < archive_.count(); ++i) {
        const ZipHeaderInfo& entry = entry_at(i);
        bool selected = options_.all;
        if (entry.FileName().empty() && !options_.recreate_dirs) {
            selected = false;
        } else {
            const std::string subject = ascii_lower(entry.StoredPath());
            selected = selected || std::any_of(patterns.begin(), patterns.end(), [&](const std::string& pattern) {
                           return MatchesPattern(pattern, subject);
                       });
        }
        chosen[size_t(i)] = selected;
        // Saturating: ZIP64 sizes of up to 2^63 - 1 each may add up beyond int64_t.
        if (selected)
            total_bytes_ += std::min(entry.UncompressedSize, INT64_MAX - total_bytes_);
        else
            --count;
    }
    return count;
}

void ExtractionPass::extract_chosen(const std::vector<bool>& chosen) {
    std::vector<int> entries;
    for (int i = 0; i < archive_.count(); ++i)
        if (options_.all || chosen[size_t(i)]) entries.push_back(i);
    if (several_at_once(entries)) return extract_several(entries);
    for (const int i : entries) {
        while (extract_entry(i)) {
        }
    }
}

bool ExtractionPass::skip(int index, SkipReason reason) {
    observer_.skipped(index, reason, entry_.StoredPath(), check_);
    --count_;
    return false;
}

bool ExtractionPass::extract_entry(int index) {
    struct WipeKeys {
        ZipKeys& keys;
        ~WipeKeys() { keys.Wipe(); }
    } wipe{keys_};
    entry_.Assign(entry_at(index));
    remaining_ = entry_.CompressedSize;
    check_ = {};
    const std::optional<Target> target = prepare(index);
    if (!target) return false;
    const std::string& path = target->path;

    // The entry is written beside its target (the name the overwrite rule settled on)
    // under a temporary name and put in place in one step once its CRC passed, so a
    // failed entry never costs the file it would have replaced, and no half-written
    // file ever carries the target's name.
    platform::TemporaryFile partial;
    std::unique_ptr<BufferedStream> file;
    LinkTargetBytes* link_target = nullptr;
    if (target->link) {
        auto bytes = std::make_unique<LinkTargetBytes>();
        link_target = bytes.get();
        file = std::make_unique<BufferedStream>(std::move(bytes));
    } else if (!options_.test_only) {
        partial = create_partial(path);
        file = std::make_unique<BufferedStream>(std::move(partial.handle));
    }
    auto remove_partial = [&] {
        if (options_.test_only || target->link) return;
        file.reset();
        partial.handle.reset();
        discard_temporary(os_, partial.path);
    };
    try {
        EntryOutput output(*this, file.get());
        bool skip_entry = false;
        observer_.entry_starting(index, path, skip_entry);
        if (skip_entry) {
            remove_partial();
            --count_;
            return false;
        }
        const std::optional<DecodeStatus> decoded = decode(output, index);
        check_ = {true, decoded.value_or(DecodeStatus::Done), output.crc(), decoded.has_value()};
        if (file) partial.handle = file->release();
    } catch (...) {
        remove_partial();
        throw;
    }
    const Verdict verdict = judge(index);
    if (verdict != Verdict::Good) {
        remove_partial();
        return verdict == Verdict::Retry;
    }
    if (target->link) {
        if (!link_stays_inside(path, link_target->bytes)) return skip(index, SkipReason::srLinkOutsideDestDir);
        links_.push_back({index, path, link_target->bytes, check_});
        return false;
    }
    if (recorder_ && !options_.test_only) {
        deferred_ = DeferredFile{entry_, index, path, std::move(partial), check_};
        return false;
    }
    if (!options_.test_only) return finish_file(index, path, std::move(partial));
    observer_.extracted(index, path, check_);
    return false;
}

// The CRC check. A decoder that gave up has not produced the file, whatever the CRC
// says; an entry without a decoder decoded nothing, and the CRC of nothing (0) judges
// it only where the options say so. An encrypted entry that fails may be tried again
// with another password: the header check lets a wrong one through 1 time in 256.
ExtractionPass::Verdict ExtractionPass::judge(int index) {
    const bool crc_good = check_.computed_crc == entry_.Crc32;
    if (check_.status == DecodeStatus::Done && crc_good && (check_.method_known || options_.judge_undecoded_by_crc))
        return Verdict::Good;
    if (entry_.IsEncrypted()) {
        const std::optional<std::string> other = observer_.other_password(index, password_);
        if (other && *other != password_) {
            password_ = *other;
            return Verdict::Retry;
        }
        observer_.skipped(index, SkipReason::srBadPassword, entry_.StoredPath(), check_);
    } else {
        observer_.failed(index, check_, entry_.Crc32);
    }
    --count_;
    return Verdict::Failed;
}

// The finished, CRC-checked entry in hand: dated, given its attributes, synced and
// renamed over its target (PerEntry), or queued for its batch (Batched).
bool ExtractionPass::finish_file(int index, const std::string& path, platform::TemporaryFile partial) {
    // Date and attributes go through the handle before the rename: a name swapped for
    // a link meanwhile is never given them.
    apply_stored_metadata(*partial.handle);
    if (options_.durability == UZDurability::Batched) {
        // A batch syncs its files together, once they are all written.
        queue_finished(index, path, std::move(partial));
        return false;
    }
    // On the disk before the rename can publish it: a power cut leaves the old file or
    // the new one, never a name over lost data.
    if (!partial.handle->sync()) {
        partial.handle.reset();
        discard_temporary(os_, partial.path);
        throw StreamError("Stream write error");
    }
    put_in_place(path, std::move(partial));
    observer_.extracted(index, path, check_);
    return false;
}

void ExtractionPass::publish_pending() {
    if (pending_.empty()) return;
    std::exception_ptr failure;
    const PendingFiles::Published placed = pending_.publish(failure);
    // The events: only for the files whose names are on the disk.
    for (size_t i = 0; i < placed.durable; ++i) {
        const PendingFile& file = placed.in_place[i];
        observer_.extracted(file.index, file.target, file.check);
    }
    if (failure) std::rethrow_exception(failure);
}

void ExtractionPass::publish_pending_after_failure() noexcept {
    try {
        publish_pending();
    } catch (...) {
    }
}

void ExtractionPass::queue_finished(int index, const std::string& path, platform::TemporaryFile partial) {
    const size_t slash = path.find_last_of(kPathDelimiter);
    pending_.add({index, path.substr(0, slash + 1), path, partial.path, std::move(partial.handle), check_},
                 entry_.UncompressedSize);
    if (pending_.full()) publish_pending();
}

}  // namespace kalv::unzip
