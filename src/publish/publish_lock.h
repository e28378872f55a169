// One publisher at a time per target. Each publisher reads the target's date and
// dates its package after it; two that do so at once give both packages the same
// date, and a shop that fetched the first never fetches the second. So the span from
// reading that date to the rename is held under a lock file beside the target,
//
//   <TARGET>.publish-lock      "kalvtool publish\npid=...\nhost=...\ntime=...\n"
//
// created exclusively (no link followed), so that it works on a share between
// computers as well. A lock is stale, and taken over, when its holder was on this
// computer and runs no more, when it is older than kStaleAfter (a publish takes
// seconds; a computer that died holding it is not waited for), or when it has held no
// readable holder for kUnreadableGrace (a publisher that died between creating and
// writing it). Otherwise the publisher waits for it, up to a bound.
#pragma once

#include "platform/platform.h"

#include <chrono>
#include <string>

namespace kalv::publish {

constexpr std::chrono::seconds kStaleAfter{10 * 60};
constexpr std::chrono::seconds kUnreadableGrace{5};
constexpr std::chrono::seconds kLongestLockWait{120};

class PublishLock {
public:
    // Takes the lock of `target`, waiting up to `longest_wait` for another publisher.
    // Throws Error naming the holder when it is still held then, and when the lock
    // file cannot be created at all (the folder is missing or not writable).
    PublishLock(platform::Platform& os, const std::string& target,
                std::chrono::milliseconds longest_wait = kLongestLockWait);
    ~PublishLock();
    PublishLock(const PublishLock&) = delete;
    PublishLock& operator=(const PublishLock&) = delete;

    static std::string file_name(const std::string& target);
    // What a lock file says of its holder: "pid 123 on host shop-7 since 2026-12-07 13:31:32 UTC".
    static std::string holder_text(const std::string& content);

private:
    platform::Platform& os_;
    std::string path_;
};

}  // namespace kalv::publish
