#include "unzip/decrypt_ahead.h"

#include <algorithm>

namespace kalv::unzip {

DecryptAhead::DecryptAhead(BufferedStream& archive, ZipKeys& keys, int64_t bytes, size_t read_unit)
    : archive_(archive),
      keys_(keys),
      remaining_(bytes),
      read_unit_(read_unit),
      memory_(new uint8_t[kSlots * kRunSize]) {
    helper_ = std::thread([this] { work(); });
}

DecryptAhead::~DecryptAhead() { stop(); }

void DecryptAhead::stop() noexcept {
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
    if (helper_.joinable()) helper_.join();
}

DecryptAhead::Run DecryptAhead::next() {
    std::unique_lock<std::mutex> lock(mutex_);
    if (handed_out_) {
        ++consumed_;
        handed_out_ = false;
        changed_.notify_all();  // a slot is free again
    }
    // The helper fills every run it has to or ends; only the destructor stops it
    // before, so this wait ends.
    changed_.wait(lock, [this] { return produced_ > consumed_ || finished_; });
    if (produced_ == consumed_) return {};
    handed_out_ = true;
    return runs_[consumed_ % kSlots];
}

// One run after another into the ring, each waiting for a free slot. A run that
// comes out short or with a failure is the last: the caller stops there.
void DecryptAhead::work() noexcept {
    struct Finish {
        DecryptAhead& ahead;
        ~Finish() {
            {
                const std::lock_guard<std::mutex> lock(ahead.mutex_);
                ahead.finished_ = true;
            }
            ahead.changed_.notify_all();
        }
    } finish{*this};
    while (remaining_ > 0) {
        size_t slot = 0;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            changed_.wait(lock, [this] { return stopping_ || produced_ - consumed_ < kSlots; });
            if (stopping_) return;
            slot = produced_ % kSlots;
        }
        // The slot is the helper's until it is published below.
        uint8_t* const data = memory_.get() + slot * kRunSize;
        const size_t asked = size_t(std::min<int64_t>(remaining_, int64_t(kRunSize)));
        remaining_ -= int64_t(asked);
        Run run{data, 0, asked, nullptr};
        try {
            while (run.got < asked) {
                const size_t unit = std::min(read_unit_, asked - run.got);
                const size_t got = archive_.read_through(data + run.got, unit);
                run.got += got;
                if (got < unit) break;
            }
        } catch (...) {
            run.failure = std::current_exception();
        }
        keys_.DecryptBuffer(data, run.got);
        const bool last = run.got < asked || run.failure;
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            runs_[slot] = run;
            ++produced_;
        }
        changed_.notify_all();
        if (last) return;
    }
}

}  // namespace kalv::unzip
