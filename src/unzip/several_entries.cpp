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

void ExtractionPass::extract_several(const std::vector<int>& entries) {
    // The workers' passes and readers, made here: what cannot be had (memory, a second
    // handle on the archive) leaves the pass on this thread, as if never tried.
    std::vector<std::unique_ptr<ExtractionPass>> passes;
    std::vector<std::unique_ptr<Recorder>> recorders;
    try {
        for (size_t w = 0; w < kWorkers; ++w) {
            recorders.push_back(std::make_unique<Recorder>());
            auto pass = std::make_unique<ExtractionPass>(os_, archive_, options_, *recorders.back());
            pass->own_stream_ =
                std::make_unique<BufferedFileStream>(os_, archive_.name(), platform::OpenMode::ReadShared);
            pass->recorder_ = recorders.back().get();
            pass->password_ = password_;
            // The other core is the other worker's.
            pass->threading_ = UZThreading::Off;
            passes.push_back(std::move(pass));
        }
    } catch (const std::exception&) {
        for (const int i : entries) {
            while (extract_entry(i)) {
            }
        }
        return;
    }

    std::vector<Finished> finished(entries.size());
    std::mutex mutex;
    std::condition_variable changed;
    size_t next = 0;      // the next entry a worker takes
    size_t told = 0;      // entries told and put in place here
    bool stopping = false;

    auto work = [&](ExtractionPass& pass) {
        for (;;) {
            size_t at = 0;
            {
                std::unique_lock<std::mutex> lock(mutex);
                changed.wait(lock, [&] { return stopping || next >= entries.size() || next < told + kAhead; });
                if (stopping || next >= entries.size()) return;
                at = next++;
            }
            Finished done;
            try {
                pass.count_ = 0;
                // The password never changes: no retry.
                static_cast<void>(pass.extract_entry(entries[at]));
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
                const std::lock_guard<std::mutex> lock(mutex);
                finished[at] = std::move(done);
            }
            changed.notify_all();
        }
    };

    // Stops and joins the workers, then removes every finished file not put in place:
    // on the way out of a failure as after the last entry.
    std::vector<std::thread> workers;
    struct Stop {
        std::mutex& mutex;
        std::condition_variable& changed;
        bool& stopping;
        std::vector<std::thread>& workers;
        std::vector<Finished>& finished;
        platform::FileSystem& os;
        ~Stop() {
            {
                const std::lock_guard<std::mutex> lock(mutex);
                stopping = true;
            }
            changed.notify_all();
            for (std::thread& worker : workers) worker.join();
            for (Finished& done : finished) {
                if (!done.file) continue;
                done.file->partial.handle.reset();
                discard_temporary(os, done.file->partial.path);
            }
        }
    } stop{mutex, changed, stopping, workers, finished, os_};
    for (const auto& pass : passes) {
        try {
            workers.emplace_back(work, std::ref(*pass));
        } catch (const std::system_error&) {
            break;  // fewer workers; with none, the entries are done here below
        }
    }
    if (workers.empty()) {
        for (const int i : entries) {
            while (extract_entry(i)) {
            }
        }
        return;
    }

    for (size_t at = 0; at < entries.size(); ++at) {
        Finished* done = nullptr;
        {
            std::unique_lock<std::mutex> lock(mutex);
            changed.wait(lock, [&] { return finished[at].ready; });
            done = &finished[at];  // the workers are done with it
        }
        for (const Told& tell : done->told) tell(*this);
        count_ += done->counted;
        if (done->failure) std::rethrow_exception(done->failure);
        if (done->file) {
            DeferredFile file = std::move(*done->file);
            done->file.reset();
            entry_.Assign(file.entry);
            check_ = file.check;
            finish_file(file.index, file.path, std::move(file.partial));
        }
        {
            const std::lock_guard<std::mutex> lock(mutex);
            ++told;
        }
        changed.notify_all();
    }
}

}  // namespace kalv::unzip
