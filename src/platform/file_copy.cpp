#include "platform/file_copy.h"

#include <condition_variable>
#include <mutex>
#include <vector>

#include "platform/platform.h"

namespace kalv::platform {

namespace {

// Read and written a block at a time; each block read counts as progress.
constexpr size_t kChunk = size_t(1) << 20;
// Window messages are handled this often while the worker copies.
constexpr std::chrono::milliseconds kPumpInterval{50};

OsError lasting(OsError error) {
    error.transient = false;
    return error;
}

// What the caller and the worker share; the worker's copy keeps it alive when the
// caller has long given up.
struct CopyJob {
    CopyEnds& ends;
    std::string from, to;
    bool fail_if_exists = false;

    std::mutex lock;
    std::condition_variable changed;
    uint64_t progress = 0;   // blocks read so far
    bool created = false;    // `to` is ours to remove when the copy fails
    bool abandoned = false;  // the caller gave up waiting
    bool finished = false;
    OsStatus outcome;

    CopyJob(CopyEnds& e, std::string f, std::string t, bool fail) : ends(e), from(std::move(f)), to(std::move(t)), fail_if_exists(fail) {}

    void run() {
        OsStatus result = copy();
        const std::lock_guard<std::mutex> hold(lock);
        if (!result && created && !abandoned) ends.remove_target(to);
        finished = true;
        outcome = std::move(result);
        changed.notify_all();
    }

    // Called with `lock` held: from now on the copy is the caller's failure.
    void abandon() {
        abandoned = true;
        if (created) ends.remove_target(to);
    }

    void advance() {
        const std::lock_guard<std::mutex> hold(lock);
        ++progress;
        changed.notify_all();
    }

    OsStatus copy() {
        OsResult<std::unique_ptr<FileHandle>> source = ends.open_source(from);
        if (!source) return source.error();
        advance();
        OsResult<std::unique_ptr<FileHandle>> target = ends.create_target(to, fail_if_exists, **source);
        if (!target) return lasting(target.error());
        {
            const std::lock_guard<std::mutex> hold(lock);
            if (abandoned) {
                target = refusal("given up");
                ends.remove_target(to);
                return refusal("the copy was given up");
            }
            created = true;
        }
        OsStatus written = transfer(**source, **target);
        // Closed before a failed copy's name is removed (run), as Windows wants it.
        target = refusal("closed");
        return written;
    }

    OsStatus transfer(FileHandle& source, FileHandle& target) {
        std::vector<char> chunk(kChunk);
        for (;;) {
            const OsResult<size_t> got = source.read_some(chunk.data(), chunk.size());
            if (!got) return lasting(got.error());
            if (*got == 0) break;
            if (OsStatus put = target.write_all(chunk.data(), *got); !put) return lasting(put.error());
            advance();
        }
        const std::optional<int64_t> stamp = source.last_write_stamp();
        if (!stamp || !target.set_last_write_stamp(*stamp)) return refusal("the copy's time cannot be set");
        if (!target.sync()) return refusal("the copy cannot be put on the disk");
        return {};
    }
};

}  // namespace

OsStatus copy_watched(CopyEnds& ends, UserInterface& ui, const std::string& from, const std::string& to,
                      bool fail_if_exists, std::chrono::milliseconds stall_timeout) {
    const auto job = std::make_shared<CopyJob>(ends, from, to, fail_if_exists);
    if (!start_detached([job] { job->run(); })) return refusal("no thread for the copy");
    std::unique_lock<std::mutex> hold(job->lock);
    uint64_t seen = job->progress;
    auto quiet_since = std::chrono::steady_clock::now();
    while (!job->finished) {
        job->changed.wait_for(hold, kPumpInterval);
        if (job->finished) break;
        if (job->progress != seen) {
            seen = job->progress;
            quiet_since = std::chrono::steady_clock::now();
        } else if (std::chrono::steady_clock::now() - quiet_since >= stall_timeout) {
            job->abandon();
            return refusal("the source delivered nothing for " + std::to_string(stall_timeout.count()) + " ms");
        }
        hold.unlock();
        ui.process_messages();
        hold.lock();
    }
    return job->outcome;
}

}  // namespace kalv::platform
