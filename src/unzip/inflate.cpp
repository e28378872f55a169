#include "unzip/decoder_io.h"

namespace kalv::unzip {

// Scaffolding until the Deflate decoder lands.
DecodeStatus inflate(const DecodeJob&) { return DecodeStatus::BadData; }

}  // namespace kalv::unzip
