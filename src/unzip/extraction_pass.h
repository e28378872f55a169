// The state of one extract() (extract.h) and its steps; nothing outside the core's
// own files (extraction.cpp, entry_checks.cpp, entry_streams.cpp, output_path.cpp)
// includes this header.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "unzip/entry_streams.h"
#include "unzip/extract.h"
#include "unzip/pending_files.h"
#include "unzip/zip_crypto.h"

namespace kalv::unzip {

// min(100, round(part * 100 / whole)), 0 for no whole: the progress events' percent.
inline int percent_of(int64_t part, int64_t whole) {
    if (whole <= 0) return 0;
    const double percent = std::nearbyint(double(part) * 100.0 / double(whole));
    return int(std::min(100.0, percent));
}

class ExtractionPass {
public:
    static constexpr size_t kBlockSize = 16000;   // input and output blocks
    static constexpr size_t kWindowSize = 32780;  // 32768-byte window and slack
    // An entry is written beside its target under the target's name, a random tag and
    // this suffix, and renamed once it is good.
    static constexpr const char* kPartialSuffix = ".partial";
    // From this many bytes of data an encrypted entry is decrypted ahead on its own
    // thread (UZThreading::Auto).
    static constexpr int64_t kDecryptAheadFrom = 512 * 1024;

    ExtractionPass(platform::FileSystem& os, Archive& archive, const ExtractOptions& options, Observer& observer);
    int run();

private:
    friend class EntryInput;
    friend class EntryOutput;

    // The entry in hand: its record, where its output goes, and what became of it.
    struct Target {
        std::string path;
        bool link = false;
    };
    enum class Verdict { Good, Retry, Failed };

    const ZipHeaderInfo& entry_at(int index) const;
    int choose_entries(std::vector<bool>& chosen);
    void refuse_overlapping_entries() const;
    void extract_chosen(const std::vector<bool>& chosen);
    // Several entries at once (several_entries.cpp): each on a worker with a pass of
    // its own, its events kept and told here, in entry order.
    class Recorder;
    struct Finished;
    class Crew;
    bool several_at_once(const std::vector<int>& entries) const;
    void extract_several(const std::vector<int>& entries);
    std::vector<std::unique_ptr<ExtractionPass>> worker_passes(std::vector<std::unique_ptr<Recorder>>& recorders);
    void extract_one_by_one(const std::vector<int>& entries);
    void put_in_place(Finished& done);
    // The archive as this pass reads it: a worker's own reader, else the archive's.
    BufferedStream& stream() { return own_stream_ ? *own_stream_ : archive_.stream(); }
    // A written block's progress event: the entry's percent and the pass's, which
    // counts the block's bytes (a worker keeps both for the caller's pass).
    void tell_progress(int file_percent, int64_t bytes);
    // Extracts entry `index`; returns whether it asks to be extracted again.
    bool extract_entry(int index);
    bool skip(int index, SkipReason reason);
    // The steps before any output (entry_checks.cpp): the refusals, the password, the
    // overwrite rule; nullopt when the entry ends there.
    std::optional<Target> prepare(int index);
    void seek_entry_data();
    bool check_password(int index);
    uint8_t check_header(const std::string& password);
    bool may_overwrite(int index, std::string& path);
    // Decoding into `file` (none: a test pass) and the verdict on the result.
    std::optional<DecodeStatus> decode(EntryOutput& output, int index);
    bool decrypts_ahead() const;
    Verdict judge(int index);
    bool finish_file(int index, const std::string& path, platform::TemporaryFile partial);
    // The output file (entry_checks.cpp).
    platform::TemporaryFile create_partial(const std::string& path);
    void apply_stored_metadata(platform::FileHandle& file) const;
    void put_in_place(const std::string& path, platform::TemporaryFile partial);
    // The folder the entry goes to, with its delimiter; nullopt (and why in `refused`)
    // when its stored path would leave the destination or pass through a link below it.
    std::optional<std::string> target_directory(SkipReason& refused);
    // Batched durability (pending_files.h): the waiting entries put in place with their
    // attributes, then told; a failure is raised after the entries that did get in place.
    void publish_pending();
    // The same on the way out of a failed pass; a failure of its own is dropped, so
    // that the pass's failure is the one reported.
    void publish_pending_after_failure() noexcept;
    void queue_finished(int index, const std::string& path, platform::TemporaryFile partial);
    // Links, made at the end of the pass.
    bool link_stays_inside(const std::string& path, const std::string& target) const;
    void make_links();

    platform::FileSystem& os_;
    Archive& archive_;
    const ExtractOptions& options_;
    Observer& observer_;
    std::string password_;  // the options', or the last one the observer gave

    // The entry in hand.
    ZipHeaderInfo entry_;
    int64_t remaining_ = 0;  // compressed bytes not yet read (without the encryption header)
    EntryCheck check_;
    ZipKeys keys_;

    int count_ = 0;
    int64_t total_bytes_ = 0;
    int64_t total_done_ = 0;
    // Allocated once per pass, freed with it.
    std::vector<uint8_t> window_;
    std::vector<uint8_t> input_block_;
    std::vector<uint8_t> output_block_;
    PendingFiles pending_;
    struct DeferredLink {
        int index;
        std::string path, target;
        EntryCheck check;
    };
    std::vector<DeferredLink> links_;
    UZThreading threading_;         // Off or On, for this pass
    const bool forced_threading_;   // On asked for, not just allowed: small entries too

    // A worker's pass (several_entries.cpp): its own reader of the archive, its events
    // kept, and its finished file left to the caller's pass to put in place.
    struct DeferredFile {
        ZipHeaderInfo entry;
        int index = 0;
        std::string path;
        platform::TemporaryFile partial;
        EntryCheck check;
    };
    std::unique_ptr<BufferedStream> own_stream_;
    Recorder* recorder_ = nullptr;
    std::optional<DeferredFile> deferred_;
};

}  // namespace kalv::unzip
