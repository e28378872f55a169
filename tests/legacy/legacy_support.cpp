#include "legacy_support.h"

#include <algorithm>
#include <array>
#include <cstdio>

#include "core/crc32.h"
#include "core/errors.h"

namespace legacy_test {

using kalv::unzip::DecodeJob;
using kalv::unzip::DecodeStatus;

uint32_t crc32(std::span<const uint8_t> data) { return kalv::crc32_of(data.data(), data.size()); }

// FIPS 180-4 SHA-256, written for the tests' comparisons with the manifest.
std::string sha256_hex(std::span<const uint8_t> data) {
    static constexpr std::array<uint32_t, 64> k = {
        0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
        0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
        0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
        0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
        0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
        0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
        0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
        0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};
    std::array<uint32_t, 8> h = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                                 0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
    auto rotr = [](uint32_t x, int n) { return (x >> n) | (x << (32 - n)); };

    Bytes msg(data.begin(), data.end());
    const uint64_t bit_length = uint64_t{data.size()} * 8;
    msg.push_back(0x80);
    while (msg.size() % 64 != 56) msg.push_back(0);
    for (int i = 7; i >= 0; --i) msg.push_back(static_cast<uint8_t>(bit_length >> (8 * i)));

    for (size_t block = 0; block < msg.size(); block += 64) {
        std::array<uint32_t, 64> w{};
        for (int t = 0; t < 16; ++t) {
            const uint8_t* p = &msg[block + 4 * t];
            w[t] = uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3];
        }
        for (int t = 16; t < 64; ++t) {
            const uint32_t s0 = rotr(w[t - 15], 7) ^ rotr(w[t - 15], 18) ^ (w[t - 15] >> 3);
            const uint32_t s1 = rotr(w[t - 2], 17) ^ rotr(w[t - 2], 19) ^ (w[t - 2] >> 10);
            w[t] = w[t - 16] + s0 + w[t - 7] + s1;
        }
        auto [a, b, c, d, e, f, g, hh] = h;
        for (int t = 0; t < 64; ++t) {
            const uint32_t t1 = hh + (rotr(e, 6) ^ rotr(e, 11) ^ rotr(e, 25)) + ((e & f) ^ (~e & g)) + k[t] + w[t];
            const uint32_t t2 = (rotr(a, 2) ^ rotr(a, 13) ^ rotr(a, 22)) + ((a & b) ^ (a & c) ^ (b & c));
            hh = g;
            g = f;
            f = e;
            e = d + t1;
            d = c;
            c = b;
            b = a;
            a = t1 + t2;
        }
        const std::array<uint32_t, 8> add = {a, b, c, d, e, f, g, hh};
        for (int i = 0; i < 8; ++i) h[i] += add[i];
    }
    std::string hex;
    char buf[9];
    for (uint32_t v : h) {
        std::snprintf(buf, sizeof buf, "%08x", v);
        hex += buf;
    }
    return hex;
}

Decoded decode(uint16_t method, uint16_t bit_flag, std::span<const uint8_t> data, int64_t compressed_size,
               int64_t uncompressed_size, std::span<uint8_t> window, size_t block_size) {
    kalv::testing::MemoryInput source(data, block_size);
    kalv::testing::MemoryOutput sink(size_t(std::max<int64_t>(uncompressed_size, 0)));
    const DecodeJob job{source, sink, window, bit_flag, compressed_size, uncompressed_size};
    DecodeStatus status = DecodeStatus::BadData;
    switch (method) {
        case 0: status = sink.write(data.data(), data.size()) ? DecodeStatus::Done : DecodeStatus::OutputFull; break;
        case 1: status = kalv::unzip::unshrink(job); break;
        case 2:
        case 3:
        case 4:
        case 5: status = kalv::unzip::unreduce(job, method - 1); break;
        case 6: status = kalv::unzip::explode(job); break;
        default: break;
    }
    if (status == DecodeStatus::OutputFull) status = DecodeStatus::Done;
    return Decoded{status, std::move(sink.bytes)};
}

}  // namespace legacy_test
