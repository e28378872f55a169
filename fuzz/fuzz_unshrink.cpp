// Unshrink (method 1, APPNOTE Shrinking): dynamic LZW with partial clearing.
// Arbitrary streams must end in one of the decoder's statuses or at the size limit:
// never a sanitizer report, an exception of another kind, or a hang.
#include "decoder_harness.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    auto header = kalv::fuzz::parse_job_header(data, size);
    if (!header) return 0;
    std::span<const uint8_t> stream(data + kalv::fuzz::kJobHeaderSize, size - kalv::fuzz::kJobHeaderSize);
    auto outcome = kalv::fuzz::run_decoder(*header, stream, [](const kalv::unzip::DecodeJob& job) {
        return kalv::unzip::unshrink(job);
    });
    if (static_cast<int64_t>(outcome.output.size()) > header->uncompressed_size) __builtin_trap();
    return 0;
}
