// Several entries at once, for a pass whose observer answers nothing
// (ExtractOptions::answers_nothing):
//
//   workers (kWorkers threads, each with a pass and an archive reader of its own):
//     take the next entry in index order ─ extract it up to its finished, CRC-checked
//     temporary file ─ keep its events (Recorder) ─ hand it over (Finished)
//   caller's thread, entry after entry in index order:
//     wait for the entry ─ tell its events (the pass's percent counted here) ─ count
//     it ─ put its file in place (finish_file: the durability, the Batched queue)
//     ─ or raise its failure
//
// So the observer hears exactly what one thread would have told it, in the same
// order, and the files reach their names in entry order. Entries are taken in index
// order and, as several_at_once demands, that is the order of their data: the
// workers read the archive forwards. A worker runs at most kAhead entries ahead of
// the caller, which bounds the finished files and kept events waiting.
//
// Nothing a worker does can depend on another entry: the names are distinct, no
// folder is made (recreate_dirs keeps the pass serial), no link is deferred, the
// password never changes and no question is asked. On a failure the workers are
// stopped and joined before the failure passes on, and every finished file that was
// not put in place is removed.
#include <condition_variable>
#include <mutex>
#include <optional>
#include <thread>
#include <unordered_set>

#include "unzip/core_helpers.h"
#include "unzip/extraction_pass.h"
#include "unzip/output_path.h"

namespace kalv::unzip {

namespace {

constexpr size_t kWorkers = 2;
constexpr size_t kAhead = kWorkers + 2;

}  // namespace

using Told = std::function<void(ExtractionPass&)>;

// A worker's events, each kept as what the caller's pass will do with it.
class ExtractionPass::Recorder final : public Observer {
public:
    std::vector<Told> told;

    void keep_alive() override {
        told.push_back([](ExtractionPass& pass) { pass.observer_.keep_alive(); });
    }
    void entry_starting(int index, const std::string& path, bool&) override {
        told.push_back([index, path](ExtractionPass& pass) {
            bool skip = false;  // never set by an observer that answers nothing
            pass.observer_.entry_starting(index, path, skip);
        });
    }
    void extracted(int index, const std::string& path, const EntryCheck& check) override {
        told.push_back([=](ExtractionPass& pass) { pass.observer_.extracted(index, path, check); });
    }
    void skipped(int index, SkipReason reason, const std::string& stored_path, const EntryCheck& check) override {
        told.push_back([=](ExtractionPass& pass) { pass.observer_.skipped(index, reason, stored_path, check); });
    }
    void failed(int index, const EntryCheck& check, uint32_t stored_crc) override {
        told.push_back([=](ExtractionPass& pass) { pass.observer_.failed(index, check, stored_crc); });
    }
    void problem(int index, ZipProblem what) override {
        told.push_back([=](ExtractionPass& pass) { pass.observer_.problem(index, what); });
    }
    void progress_bytes(int file_percent, int64_t bytes) {
        told.push_back([=](ExtractionPass& pass) { pass.tell_progress(file_percent, bytes); });
    }
};

// One entry as a worker left it.
struct ExtractionPass::Finished {
    bool ready = false;
    std::vector<Told> told;
    int counted = 0;  // what the entry did to the count (0, or -1 when left out)
    std::optional<DeferredFile> file;
    std::exception_ptr failure;
};

void ExtractionPass::tell_progress(int file_percent, int64_t bytes) {
    if (recorder_) return recorder_->progress_bytes(file_percent, bytes);
    total_done_ += bytes;
    observer_.progress(file_percent, percent_of(total_done_, total_bytes_));
}

bool ExtractionPass::several_at_once(const std::vector<int>& entries) const {
    if (!options_.answers_nothing || threading_ != UZThreading::On || entries.size() < 2 || archive_.split())
        return false;
    if (options_.overwrite == UZOverwriteMode::Prompt && !options_.test_only) return false;
    if (options_.recreate_dirs) return false;
    std::unordered_set<std::string> names;
    uint64_t data_at = 0;
    for (const int index : entries) {
        const ZipHeaderInfo& entry = entry_at(index);
        if (entry.IsSymbolicLink() || entry.FileName().empty() || entry.RelativeOffset < data_at) return false;
        data_at = entry.RelativeOffset;
        // Two entries of one output name (letter case aside, as Windows sees names)
        // meet at that file: the second must see the first in place.
        if (!names.insert(ascii_lower(windows_file_names(entry.FileName()))).second) return false;
    }
    return true;
}

// What the workers and the caller's thread share: the entries as the workers leave
// them, and how far each side is.
class ExtractionPass::Crew {
public:
    Crew(const std::vector<int>& entries, platform::FileSystem& os)
        : entries_(entries), finished_(entries.size()), os_(os) {}
    Crew(const Crew&) = delete;
    Crew& operator=(const Crew&) = delete;

    // Stops and joins the workers, then removes every finished file not put in place:
    // on the way out of a failure as after the last entry.
    ~Crew() {
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            stopping_ = true;
        }
        changed_.notify_all();
        for (std::thread& worker : workers_) worker.join();
        for (Finished& done : finished_) {
            if (!done.file) continue;
            done.file->partial.handle.reset();
            discard_temporary(os_, done.file->partial.path);
        }
    }

    // A worker on each pass, as many as the system gives; false when none.
    bool start(const std::vector<std::unique_ptr<ExtractionPass>>& passes) {
        for (const auto& pass : passes) {
            try {
                workers_.emplace_back([this, &pass] { work(*pass); });
            } catch (const std::system_error&) {
                break;
            }
        }
        return !workers_.empty();
    }

    // The entry at `at`, once a worker has finished with it.
    Finished& wait_for(size_t at) {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [&] { return finished_[at].ready; });
        return finished_[at];
    }

    // One more entry told and in place: a worker may run one further ahead.
    void told_one() {
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            ++told_;
        }
        changed_.notify_all();
    }

private:
    // The next entry's position for a worker; none when stopping or at the end.
    std::optional<size_t> take() {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [&] { return stopping_ || next_ >= entries_.size() || next_ < told_ + kAhead; });
        if (stopping_ || next_ >= entries_.size()) return std::nullopt;
        return next_++;
    }

    void work(ExtractionPass& pass) {
        while (const std::optional<size_t> at = take()) {
            Finished done;
            try {
                pass.count_ = 0;
                // The password never changes: no retry.
                static_cast<void>(pass.extract_entry(entries_[*at]));
                done.counted = pass.count_;
                done.file = std::move(pass.deferred_);
            } catch (...) {
                done.failure = std::current_exception();
            }
            pass.deferred_.reset();
            done.told = std::move(pass.recorder_->told);
            pass.recorder_->told.clear();
            done.ready = true;
            {
                const std::lock_guard<std::mutex> lock(mutex_);
                finished_[*at] = std::move(done);
            }
            changed_.notify_all();
        }
    }

    const std::vector<int>& entries_;
    std::vector<Finished> finished_;
    platform::FileSystem& os_;
    std::mutex mutex_;
    std::condition_variable changed_;
    size_t next_ = 0;  // the next entry a worker takes
    size_t told_ = 0;  // entries told and put in place on the caller's thread
    bool stopping_ = false;
    std::vector<std::thread> workers_;  // last: joined before anything above goes
};

// The workers' passes and readers, each telling its own recorder; none when they
// cannot be had (memory, a second handle on the archive), and the pass stays on this
// thread, as if never tried.
std::vector<std::unique_ptr<ExtractionPass>> ExtractionPass::worker_passes(
    std::vector<std::unique_ptr<Recorder>>& recorders) {
    std::vector<std::unique_ptr<ExtractionPass>> passes;
    try {
        for (size_t w = 0; w < kWorkers; ++w) {
            recorders.push_back(std::make_unique<Recorder>());
            auto pass = std::make_unique<ExtractionPass>(os_, archive_, options_, *recorders.back());
            pass->own_stream_ = std::make_unique<BufferedFileStream>(os_, archive_.name(), platform::OpenMode::ReadShared);
            pass->recorder_ = recorders.back().get();
            pass->password_ = password_;
            // The other core is the other worker's.
            pass->threading_ = UZThreading::Off;
            passes.push_back(std::move(pass));
        }
    } catch (const std::exception&) {
        passes.clear();
    }
    return passes;
}

void ExtractionPass::extract_one_by_one(const std::vector<int>& entries) {
    for (const int i : entries) {
        while (extract_entry(i)) {
        }
    }
}

// A worker's entry on the caller's thread: its events told, its count, then its
// failure raised or its file put in place.
void ExtractionPass::put_in_place(Finished& done) {
    for (const Told& tell : done.told) tell(*this);
    count_ += done.counted;
    if (done.failure) std::rethrow_exception(done.failure);
    if (!done.file) return;
    DeferredFile file = std::move(*done.file);
    done.file.reset();
    entry_.Assign(file.entry);
    check_ = file.check;
    finish_file(file.index, file.path, std::move(file.partial));
}

void ExtractionPass::extract_several(const std::vector<int>& entries) {
    std::vector<std::unique_ptr<Recorder>> recorders;
    const std::vector<std::unique_ptr<ExtractionPass>> passes = worker_passes(recorders);
    if (passes.empty()) return extract_one_by_one(entries);
    Crew crew(entries, os_);
    if (!crew.start(passes)) return extract_one_by_one(entries);
    for (size_t at = 0; at < entries.size(); ++at) {
        put_in_place(crew.wait_for(at));
        crew.told_one();
    }
}

}  // namespace kalv::unzip
