// The two halves of an encrypted entry on two cores. Traditional PKWARE decryption
// (APPNOTE 6.1) is a serial chain, one table look-up and one multiply per byte, that
// nothing can split; the decoder, the CRC-32 and the file write after it are as long
// again. DecryptAhead reads the entry's data from the archive and decrypts it on a
// thread of its own, a few runs ahead of the caller, who decodes, checks and writes:
//
//   helper thread:   read run ─ decrypt ─┐  read run ─ decrypt ─┐  ...
//                                        ▼                      ▼
//   ring of kSlots runs (kRunSize each): [ run ][ run ][ run ][ run ]
//                                        │                      │
//   caller's thread:                     decode ─ CRC ─ write   decode ─ CRC ─ write
//
// So an entry takes about as long as its chain alone. The helper touches only the
// archive stream and the keys, which the caller leaves alone until it is done, and
// never the observer: every event and question stays on the caller's thread, in
// the order the serial pass has them.
//
// The helper reads in the units the serial pass reads in, so that a short archive or
// a failing read shows at the same byte: a run carries the bytes that arrived and the
// failure that stopped it, and the caller meets them where the serial pass would.
// The destructor stops the helper and waits for it, whether the caller finished,
// stopped early (bad data, a full output) or is on its way out with a failure.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <memory>
#include <mutex>
#include <thread>

#include "unzip/buf_streams.h"
#include "unzip/zip_crypto.h"

namespace kalv::unzip {

class DecryptAhead {
public:
    // 16 blocks of 16000: the serial pass's blocks tile a run exactly, and the stored
    // copy's runs are of this size too. Four runs in flight: about 1 MB.
    static constexpr size_t kRunSize = 16 * 16000;
    static constexpr size_t kSlots = 4;

    struct Run {
        const uint8_t* data = nullptr;
        size_t got = 0;    // bytes read and decrypted
        size_t asked = 0;  // bytes the run stands for; got < asked: the data ended or failed here
        std::exception_ptr failure;  // what stopped the read, if anything raised
    };

    // Starts reading `bytes` bytes from the archive's position, `read_unit` bytes a
    // read (a divisor of kRunSize), decrypting them with `keys`. Throws
    // (std::bad_alloc, std::system_error) when the ring or the thread cannot be had;
    // nothing has been read then.
    DecryptAhead(BufferedStream& archive, ZipKeys& keys, int64_t bytes, size_t read_unit);
    ~DecryptAhead();
    DecryptAhead(const DecryptAhead&) = delete;
    DecryptAhead& operator=(const DecryptAhead&) = delete;

    // The next run, waiting for it; the run handed out before is given back to the
    // ring. As many runs as `bytes` makes, none after a short one: asked for more, an
    // empty run (asked 0).
    Run next();

private:
    void work() noexcept;
    void stop() noexcept;

    BufferedStream& archive_;
    ZipKeys& keys_;
    int64_t remaining_;  // the helper's: bytes not yet read
    const size_t read_unit_;
    std::unique_ptr<uint8_t[]> memory_;
    Run runs_[kSlots];

    std::mutex mutex_;
    std::condition_variable changed_;
    size_t produced_ = 0;  // runs the helper has filled
    size_t consumed_ = 0;  // runs the caller has given back
    bool handed_out_ = false;  // the caller holds run consumed_
    bool stopping_ = false;
    bool finished_ = false;  // the helper has published its last run
    std::thread helper_;
};

}  // namespace kalv::unzip
