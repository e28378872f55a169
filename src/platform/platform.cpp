#include "platform/platform.h"

#include <algorithm>
#include <atomic>
#include <system_error>
#include <thread>

namespace kalv::platform {

namespace {
Platform* installed = nullptr;

// Enough waits at once to keep a disk's queue full; more would only add threads. A
// thread is worth its start only with several files to sync.
constexpr size_t kMaxConcurrentSyncs = 8;
constexpr size_t kFilesPerSyncThread = 8;
}  // namespace

size_t Platform::sync_files(const std::vector<FileHandle*>& files) {
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
std::optional<std::string> Platform::choose_open_file(const std::string&, const std::string&, const std::string&) {
    return std::nullopt;
}

std::optional<std::string> Platform::choose_folder(const std::string&) { return std::nullopt; }

Platform& current() { return installed ? *installed : native(); }

ScopedPlatform::ScopedPlatform(Platform& replacement) : previous_(installed) { installed = &replacement; }

ScopedPlatform::~ScopedPlatform() { installed = previous_; }

}  // namespace kalv::platform
