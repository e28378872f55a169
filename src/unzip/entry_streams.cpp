#include "unzip/entry_streams.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <new>
#include <system_error>

#include "core/crc32.h"
#include "core/errors.h"
#include "unzip/extraction_pass.h"

namespace kalv::unzip {

namespace {

// The stored copy works in runs of whole blocks: one read from the archive and one
// write to the file per run, where a block at a time through the file buffers took
// two of each per block, and the bytes are not copied between buffers on the way.
// What the output sees is still a sequence of 16000-byte blocks (EntryOutput).
constexpr size_t kStoredRunBlocks = 16;

// See EntryOutput::to_file.
constexpr size_t kWriteBehind = size_t{1} << 20;

}  // namespace

void EntryInput::start_decrypting_ahead(bool stored) {
    if (!pass_.decrypts_ahead()) return;
    static_assert(DecryptAhead::kRunSize == kStoredRunBlocks * ExtractionPass::kBlockSize,
                  "the helper's runs are the stored copy's runs, tiled by whole blocks");
    // The helper reads as the serial pass would: in blocks for a decoder, in runs
    // for the stored copy.
    const size_t unit = stored ? DecryptAhead::kRunSize : ExtractionPass::kBlockSize;
    try {
        ahead_ = std::make_unique<DecryptAhead>(pass_.stream(), pass_.keys_, pass_.remaining_, unit);
    } catch (const std::bad_alloc&) {
    } catch (const std::system_error&) {
    }
}

std::span<const uint8_t> EntryInput::next_block() {
    int64_t& remaining = pass_.remaining_;
    if (remaining <= 0) return {};
    // The launcher's splash window repaints between blocks of long entries.
    pass_.observer_.keep_alive();
    const size_t n = std::min<size_t>(size_t(remaining), ExtractionPass::kBlockSize);
    remaining -= int64_t(n);
    if (ahead_) return next_block_ahead(n);
    uint8_t* block = pass_.input_block_.data();
    Archive& archive = pass_.archive_;
    size_t got = pass_.stream().read_through(block, n);
    while (got < n) {
        // A split archive goes on in its next part; anything else is truncated.
        if (!archive.split() || !pass_.observer_.reads_on_next_part()) throw FatalUnzipError();
        archive.change_disk(archive.current_disk() + 2, pass_.observer_);
        const size_t more = archive.stream().read_through(block + got, n - got);
        if (more == 0) throw FatalUnzipError();
        got += more;
    }
    if (pass_.entry_.IsEncrypted()) pass_.keys_.DecryptBuffer(block, n);
    return {block, n};
}

// The block of n bytes from the helper's runs, which the blocks tile: a run holds
// whole blocks but for the entry's last. A block that the run does not hold whole is
// where the serial pass's read came up short or failed, and fails the same way.
std::span<const uint8_t> EntryInput::next_block_ahead(size_t n) {
    if (run_at_ == run_.asked) {
        run_ = ahead_->next();
        run_at_ = 0;
    }
    if (run_at_ + n > run_.got) {
        if (run_.failure) std::rethrow_exception(run_.failure);
        throw FatalUnzipError();
    }
    const uint8_t* block = run_.data + run_at_;
    run_at_ += n;
    return {block, n};
}

// The stored copy over the helper's runs, which are the serial copy's runs: each
// judged as copy_stored judges the one it read.
void EntryInput::copy_stored_ahead(EntryOutput& output) {
    constexpr size_t kBlock = ExtractionPass::kBlockSize;
    int64_t& remaining = pass_.remaining_;
    while (remaining > 0) {
        const DecryptAhead::Run run = ahead_->next();
        if (run.failure) std::rethrow_exception(run.failure);
        const size_t n = run.asked, got = run.got;
        if (n == 0) return;
        if (got == n) {
            remaining -= int64_t(n);
            if (!output.write_out_blocks(run.data, n)) return;  // the sink is full
            continue;
        }
        const size_t whole = got - got % kBlock;
        remaining -= int64_t(whole + std::min(kBlock, n - whole));
        if (output.write_out_blocks(run.data, whole)) (void)output.write_out(run.data + whole, got - whole);
        return;
    }
}

void EntryInput::copy_stored(EntryOutput& output) {
    if (ahead_) return copy_stored_ahead(output);
    constexpr size_t kBlock = ExtractionPass::kBlockSize;
    int64_t& remaining = pass_.remaining_;
    const bool encrypted = pass_.entry_.IsEncrypted();
    BufferedStream& archive = pass_.stream();
    if (remaining <= 0) return;
    const size_t run_size = std::min<size_t>(size_t(remaining), kStoredRunBlocks * kBlock);
    const std::unique_ptr<uint8_t[]> run(new uint8_t[run_size]);
    while (remaining > 0) {
        const size_t n = std::min<size_t>(size_t(remaining), run_size);
        const size_t got = archive.read_through(run.get(), n);
        if (encrypted) pass_.keys_.DecryptBuffer(run.get(), got);
        if (got == n) {
            remaining -= int64_t(n);
            if (!output.write_out_blocks(run.get(), n)) return;  // the sink is full
            continue;
        }
        // A short read ends the copy as it ended the block-by-block one: the whole
        // blocks, then the block the data ran out in with what it holds (nothing
        // when they ran out on a block's edge); the CRC check then rejects the entry.
        const size_t whole = got - got % kBlock;
        remaining -= int64_t(whole + std::min(kBlock, n - whole));
        if (output.write_out_blocks(run.get(), whole)) (void)output.write_out(run.get() + whole, got - whole);
        return;
    }
}

EntryOutput::EntryOutput(ExtractionPass& pass, BufferedStream* file)
    : pass_(pass), file_(file), buffer_(pass.output_block_.data()) {}

bool EntryOutput::write(const uint8_t* data, size_t n) {
    constexpr size_t kBlock = ExtractionPass::kBlockSize;
    if (fill_ > 0) {
        // The block begun by an earlier call is completed first.
        const size_t piece = std::min(n, kBlock - fill_);
        std::memcpy(buffer_ + fill_, data, piece);
        fill_ += piece;
        data += piece;
        n -= piece;
        if (fill_ < kBlock) return !full_;
        fill_ = 0;
        if (!write_out(buffer_, kBlock)) return false;
    }
    // Whole blocks go out from the decoder's own memory; only a last partial block
    // waits in the buffer for more.
    const size_t whole = n - n % kBlock;
    if (whole > 0 && !write_out_blocks(data, whole)) return false;
    std::memcpy(buffer_, data + whole, n - whole);
    fill_ = n - whole;
    return !full_;
}

void EntryOutput::finish() {
    const size_t rest = fill_;
    fill_ = 0;
    if (rest) (void)write_out(buffer_, rest);  // a refusal here ends the entry as any other
}

bool EntryOutput::write_out(const uint8_t* data, size_t n) {
    if (full_ || written_ + int64_t(n) > pass_.entry_.UncompressedSize) {
        full_ = true;
        return false;
    }
    // A short write (a full disk) must not pass as an extracted file.
    if (to_file(data, n) != n) throw StreamError("Stream write error");
    account(data, n);
    return true;
}

// The blocks are judged, counted and reported one by one, in order, exactly as
// write_out() does them, so the sequence of percent events, the size limit and the
// CRC are those of a block-by-block write. Only the moment the bytes reach the file
// changes: every block of the run is in the file before the first block's events,
// not each just before its own. The file is the entry's temporary file, which no
// handler is told of, and its bytes already trailed the events by up to the 8192
// of the file buffer; what a handler can see is unchanged. Should the file take
// only part of the run (a full disk), the blocks it took wholly are reported before
// the failure, as they would have been.
bool EntryOutput::write_out_blocks(const uint8_t* data, size_t n) {
    constexpr size_t kBlock = ExtractionPass::kBlockSize;
    if (full_) return false;
    const int64_t size = pass_.entry_.UncompressedSize;
    size_t fit = 0;  // the leading blocks that pass the size check
    while (fit < n) {
        const size_t block = std::min(kBlock, n - fit);
        if (written_ + int64_t(fit + block) > size) break;
        fit += block;
    }
    const size_t took = to_file(data, fit);
    size_t at = 0;
    while (at < fit) {
        const size_t block = std::min(kBlock, fit - at);
        if (at + block > took) throw StreamError("Stream write error");
        account(data + at, block);
        at += block;
    }
    if (fit < n) full_ = true;
    return !full_;
}

// The file is synced before it is renamed into place. Asked to start its write-back
// after every kWriteBehind bytes, it has the disk write while the entry is still
// being copied or decoded, and the sync waits for the last stretch only.
size_t EntryOutput::to_file(const uint8_t* data, size_t n) {
    if (!file_ || n == 0) return n;
    const size_t took = file_->write_through(data, n);
    unsynced_ += took;
    if (unsynced_ >= kWriteBehind) {
        file_->start_sync();
        unsynced_ = 0;
    }
    return took;
}

void EntryOutput::account(const uint8_t* data, size_t n) {
    const int64_t size = pass_.entry_.UncompressedSize;
    crc_ = crc32_update(crc_, data, n);
    written_ += int64_t(n);
    pass_.tell_progress(percent_of(written_, size), int64_t(n));
}

}  // namespace kalv::unzip
