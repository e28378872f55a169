#include "platform/platform.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <system_error>
#include <thread>

#include "core/errors.h"
#include "platform/publishing.h"

namespace kalv::platform {

namespace {

// Enough waits at once to keep a disk's queue full; more would only add threads. A
// thread is worth its start only with several files to sync.
constexpr size_t kMaxConcurrentSyncs = 8;
constexpr size_t kFilesPerSyncThread = 8;
}  // namespace

size_t FileSystem::sync_files(const std::vector<FileHandle*>& files) {
    std::vector<char> synced(files.size(), 0);
    std::atomic<size_t> next{0};
    auto work = [&] {
        for (size_t i = next++; i < files.size(); i = next++) synced[i] = files[i]->sync() ? 1 : 0;
    };
    const size_t helpers =
        std::min(kMaxConcurrentSyncs, (files.size() + kFilesPerSyncThread - 1) / kFilesPerSyncThread);
    std::vector<std::thread> threads;
    for (size_t t = 1; t < helpers; ++t) {
        try {
            threads.emplace_back(work);
        } catch (const std::system_error&) {
            break;  // no thread to be had: the threads there (this one at least) do it all
        }
    }
    work();
    for (std::thread& thread : threads) thread.join();
    return static_cast<size_t>(std::find(synced.begin(), synced.end(), 0) - synced.begin());
}

// Without a user to ask, nothing can be chosen: the caller sees a cancel and raises
// its own "User canceled ..." failure, so a "?" never stands for a guessed path.
std::optional<std::string> UserInterface::choose_open_file(const std::string&, const std::string&, const std::string&) {
    return std::nullopt;
}

std::optional<std::string> UserInterface::choose_folder(const std::string&) { return std::nullopt; }

std::string FileSystem::random_tag() {
    static const char kHex[] = "0123456789abcdef";
    uint8_t bytes[6];
    random_bytes(bytes, sizeof bytes);
    std::string tag;
    for (const uint8_t b : bytes) {
        tag += kHex[b >> 4];
        tag += kHex[b & 15];
    }
    return tag;
}

TemporaryFile create_temporary_beside(FileSystem& files, const std::string& path, const std::string& suffix) {
    // A name component holds at most 255 bytes (NAME_MAX, MAX_PATH's component limit):
    // a long name gives up its end to the tag rather than fail for its length.
    constexpr size_t kMaxComponent = 255;
    const size_t leaf_start = path.find_last_of(kPathDelimiters) + 1;
    std::string stem = path;
    for (int attempt = 0; attempt < 4; ++attempt) {
        std::string tail(1, '.');
        tail += files.random_tag();
        tail += suffix;
        if (path.size() - leaf_start + tail.size() > kMaxComponent)
            stem = path.substr(0, leaf_start + kMaxComponent - std::min(tail.size(), kMaxComponent));
        std::string name = stem + tail;
        OsResult<std::unique_ptr<FileHandle>> made = files.open(name, OpenMode::CreateNew);
        if (made) return {std::move(*made), std::move(name)};
        // Taken (most likely by a file planted under a guessed name): another name.
        // Any other failure (no folder, no right to write) would meet every name.
        if (!files.file_exists(name) && !files.directory_exists(name) && !files.is_link(name)) break;
    }
    throw FileStreamError("Cannot create file " + path);
}

std::unique_ptr<FileHandle> FileSystem::open_file(const std::string& path, OpenMode mode) {
    OsResult<std::unique_ptr<FileHandle>> opened = open(path, mode);
    if (!opened) throw FileStreamError((mode == OpenMode::CreateNew ? "Cannot create file " : "Cannot open file ") + path);
    return std::move(*opened);
}

OsStatus FileSystem::create_link(const std::string&, const std::string&) {
    return refusal("symbolic links are not made here");
}

OsStatus FileHandle::write_all(const void* buffer, size_t n) {
    if (write(buffer, n) == n) return {};
    return refusal("the file took fewer bytes than were written");
}

OsStatus FileHandle::write_at(uint64_t offset, const void* buffer, size_t n) {
    if (seek(static_cast<int64_t>(offset), SeekOrigin::Begin) != static_cast<int64_t>(offset))
        return refusal("the position cannot be reached");
    return write_all(buffer, n);
}

int64_t FileSystem::file_size(const std::string& path) {
    OsResult<std::unique_ptr<FileHandle>> opened = open(path, OpenMode::ReadShared);
    return opened ? (*opened)->size() : -1;
}

namespace {

// What the waiting thread and a helper share; the helper's copy keeps it alive when
// the waiter has long given up.
struct Rendezvous {
    std::mutex lock;
    std::condition_variable changed;
    bool done = false;
};

// Window messages are handled this often while a helper works.
constexpr std::chrono::milliseconds kPumpInterval{50};

}  // namespace

bool finish_within(UserInterface& ui, std::chrono::milliseconds bound, std::function<void()> job) {
    const auto meeting = std::make_shared<Rendezvous>();
    const bool started = start_detached([meeting, job = std::move(job)] {
        try {
            job();
        } catch (...) {
            // The job reports its own failures; none may end the process.
        }
        const std::lock_guard<std::mutex> hold(meeting->lock);
        meeting->done = true;
        meeting->changed.notify_all();
    });
    if (!started) return false;  // no helper to be had: nothing that could block is done here
    const auto deadline = std::chrono::steady_clock::now() + bound;
    std::unique_lock<std::mutex> hold(meeting->lock);
    while (!meeting->done) {
        const auto now = std::chrono::steady_clock::now();
        if (now >= deadline) return false;
        meeting->changed.wait_for(hold, std::min<std::chrono::steady_clock::duration>(kPumpInterval, deadline - now));
        if (meeting->done) break;
        hold.unlock();
        ui.process_messages();
        hold.lock();
    }
    return true;
}

std::optional<FileLook> look_within_bound(FileSystem& files, UserInterface& ui, const std::string& path,
                                          std::chrono::milliseconds bound) {
    struct Answer {
        FileLook look;
        std::exception_ptr failure;
    };
    const auto answer = std::make_shared<Answer>();
    FileSystem* const looker = &files;
    const bool answered = finish_within(ui, bound, [looker, path, answer] {
        try {
            answer->look.exists = looker->file_exists(path);
            answer->look.directory = !answer->look.exists && looker->directory_exists(path);
            answer->look.age = answer->look.exists ? looker->file_age(path) : -1;
            answer->look.size = answer->look.exists ? looker->file_size(path) : -1;
        } catch (...) {
            answer->failure = std::current_exception();
        }
    });
    if (!answered) return std::nullopt;
    if (answer->failure) std::rethrow_exception(answer->failure);
    return answer->look;
}

}  // namespace kalv::platform
