// Inflate (method 8, RFC 1951) on arbitrary streams, with zlib's raw inflate as the
// control: what zlib decodes, ours must decode to the same bytes; what ours calls
// done, zlib must decode the same way (or reject only for a distance that reaches
// before the first output byte, which ours may fill from the window instead).
// The fast loop (both of its builds) must also agree exactly with the careful
// one-symbol path: same status, same bytes, same stop at the size limit.
#include <zlib.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "decoder_harness.h"
#include "unzip/inflate_internal.h"

namespace {

struct ZlibOutcome {
    enum Kind { StreamEnd, NeedsInput, OutputFull, DistanceTooFar, DataError } kind;
    std::vector<uint8_t> output;
    const char* message = "";
};

ZlibOutcome zlib_inflate(std::span<const uint8_t> stream, int64_t limit) {
    ZlibOutcome z{ZlibOutcome::DataError, std::vector<uint8_t>(static_cast<size_t>(limit) + 1)};
    z_stream s{};
    if (inflateInit2(&s, -15) != Z_OK) abort();
    s.next_in = const_cast<Bytef*>(stream.data());
    s.avail_in = static_cast<uInt>(stream.size());
    s.next_out = z.output.data();
    s.avail_out = static_cast<uInt>(z.output.size());
    int rc = inflate(&s, Z_NO_FLUSH);
    z.output.resize(s.total_out);
    if (rc == Z_STREAM_END) {
        z.kind = ZlibOutcome::StreamEnd;
    } else if (rc == Z_OK || rc == Z_BUF_ERROR) {
        z.kind = s.avail_out == 0 ? ZlibOutcome::OutputFull : ZlibOutcome::NeedsInput;
    } else {
        z.message = s.msg ? s.msg : "";
        z.kind = std::strcmp(z.message, "invalid distance too far back") == 0 ? ZlibOutcome::DistanceTooFar
                                                                              : ZlibOutcome::DataError;
    }
    inflateEnd(&s);
    return z;
}

bool is_prefix(const std::vector<uint8_t>& shorter, const std::vector<uint8_t>& longer) {
    return shorter.size() <= longer.size() && std::equal(shorter.begin(), shorter.end(), longer.begin());
}

[[noreturn]] void mismatch(const char* what, const kalv::fuzz::DecodeOutcome& ours, const ZlibOutcome& z) {
    std::fprintf(stderr, "inflate differs from zlib: %s (ours: status %d, stopped at size %d, %zu bytes; "
                 "zlib: kind %d \"%s\", %zu bytes)\n",
                 what, static_cast<int>(ours.status), ours.stopped_at_size, ours.output.size(),
                 static_cast<int>(z.kind), z.message, z.output.size());
    abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    auto header = kalv::fuzz::parse_job_header(data, size);
    if (!header) return 0;
    std::span<const uint8_t> stream(data + kalv::fuzz::kJobHeaderSize, size - kalv::fuzz::kJobHeaderSize);

    auto ours = kalv::fuzz::run_decoder(*header, stream,
                                        [](const kalv::unzip::DecodeJob& job) { return kalv::unzip::inflate(job); });
    auto careful = kalv::fuzz::run_decoder(
        *header, stream, [](const kalv::unzip::DecodeJob& job) { return kalv::unzip::inflate_careful(job); });
    if (careful.status != ours.status || careful.stopped_at_size != ours.stopped_at_size ||
        careful.output != ours.output) {
        std::fprintf(stderr, "fast loop differs from the careful path: status %d/%d, %zu/%zu bytes\n",
                     static_cast<int>(ours.status), static_cast<int>(careful.status), ours.output.size(),
                     careful.output.size());
        abort();
    }
    // The fast loop's baseline build (the one above is the BMI2 build where the CPU has it).
    auto baseline = kalv::fuzz::run_decoder(*header, stream, [](const kalv::unzip::DecodeJob& job) {
        kalv::unzip::InflateOptions options;
        options.loop = kalv::unzip::FastLoop::Baseline;
        return kalv::unzip::inflate_with(job, options);
    });
    if (baseline.status != ours.status || baseline.stopped_at_size != ours.stopped_at_size ||
        baseline.output != ours.output) {
        std::fprintf(stderr, "the fast loop's two builds differ: status %d/%d, %zu/%zu bytes\n",
                     static_cast<int>(ours.status), static_cast<int>(baseline.status), ours.output.size(),
                     baseline.output.size());
        abort();
    }

    ZlibOutcome z = zlib_inflate(stream, header->uncompressed_size);
    const bool ours_done = ours.status == kalv::unzip::DecodeStatus::Done && !ours.stopped_at_size;
    const int64_t limit = header->uncompressed_size;

    switch (z.kind) {
    case ZlibOutcome::StreamEnd:
        if (static_cast<int64_t>(z.output.size()) <= limit) {
            if (!ours_done) mismatch("a stream zlib decodes was not decoded", ours, z);
            if (ours.output != z.output) mismatch("different bytes", ours, z);
        } else if (!is_prefix(ours.output, z.output)) {
            mismatch("output over the size limit is not a prefix of zlib's", ours, z);
        }
        break;
    case ZlibOutcome::OutputFull:
        if (!is_prefix(ours.output, z.output)) mismatch("output is not a prefix of zlib's", ours, z);
        if (ours_done) mismatch("done although the stream runs past the size limit", ours, z);
        break;
    case ZlibOutcome::NeedsInput:
    case ZlibOutcome::DataError:
        if (ours_done) mismatch("a stream zlib rejects or finds truncated was called done", ours, z);
        if (!is_prefix(ours.output, z.output)) mismatch("output is not a prefix of zlib's", ours, z);
        break;
    case ZlibOutcome::DistanceTooFar:
        break;  // ours may copy from the uncleared window here; the entry's CRC decides
    }
    return 0;
}
