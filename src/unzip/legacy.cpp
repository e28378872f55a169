#include "unzip/decoder_io.h"

namespace kalv::unzip {

// Scaffolding until the legacy decoders land.
DecodeStatus unshrink(const DecodeJob&) { return DecodeStatus::BadData; }
DecodeStatus unreduce(const DecodeJob&, int) { return DecodeStatus::BadData; }
DecodeStatus explode(const DecodeJob&) { return DecodeStatus::BadData; }

}  // namespace kalv::unzip
