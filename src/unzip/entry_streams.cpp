#include "unzip/entry_streams.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "core/crc32.h"
#include "core/errors.h"
#include "unzip/unzipper.h"
#include "unzip/unzipper_internal.h"

namespace kalv::unzip {

namespace {

int percent_of(int64_t part, int64_t whole) {
    if (whole <= 0) return 0;
    const double percent = std::nearbyint(double(part) * 100.0 / double(whole));
    return int(std::min(100.0, percent));
}

}  // namespace

std::span<const uint8_t> EntryInput::next_block() {
    ZipHeaderInfo& entry = z_.work_entry_;
    if (entry.CompressedSize <= 0) return {};
    // The launcher's splash window repaints between blocks of long entries.
    if (z_.DoProcessMessages) os().process_messages();
    const size_t n = std::min<size_t>(size_t(entry.CompressedSize), UnZipper::kBlockSize);
    entry.CompressedSize -= int32_t(n);
    uint8_t* block = z_.input_block_.data();
    size_t got = z_.archive_->read(block, n);
    while (got < n) {
        // A split archive goes on in its next part; anything else is truncated.
        if (z_.end_record_.ThisDisk == 0 || !z_.OnGetNextDisk) throw FatalUnzipError();
        z_.ChangeDisk(z_.current_disk_ + 2);
        const size_t more = z_.archive_->read(block + got, n - got);
        if (more == 0) throw FatalUnzipError();
        got += more;
    }
    if (entry.IsEncrypted()) z_.keys_.DecryptBuffer(block, n);
    return {block, n};
}

EntryOutput::EntryOutput(UnZipper& z, BufferedStream* file) : z_(z), file_(file), buffer_(z.output_block_.data()) {}

void EntryOutput::write(const uint8_t* data, size_t n) {
    while (n > 0) {
        const size_t piece = std::min(n, UnZipper::kBlockSize - fill_);
        std::memcpy(buffer_ + fill_, data, piece);
        fill_ += piece;
        data += piece;
        n -= piece;
        if (fill_ == UnZipper::kBlockSize) {
            fill_ = 0;
            write_out(buffer_, UnZipper::kBlockSize);
        }
    }
}

void EntryOutput::finish() {
    const size_t rest = fill_;
    fill_ = 0;
    if (rest) write_out(buffer_, rest);
}

void EntryOutput::write_out(const uint8_t* data, size_t n) {
    const int64_t size = z_.work_entry_.UncompressedSize;
    if (written_ + int64_t(n) > size) throw BiggerThanUncompressed();
    // A short write (a full disk) must not pass as an extracted file.
    if (file_ && file_->write(data, n) != n) throw StreamError("Stream write error");
    crc_ = crc32_update(crc_, data, n);
    written_ += int64_t(n);
    z_.total_done_ += int64_t(n);
    if (z_.OnFilePercentDone) z_.OnFilePercentDone(z_, percent_of(written_, size));
    if (z_.OnTotalPercentDone) z_.OnTotalPercentDone(z_, percent_of(z_.total_done_, z_.total_bytes_));
}

}  // namespace kalv::unzip
