#include "legacy_support.h"

#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>

#include "core/crc32.h"
#include "core/errors.h"

namespace legacy_test {

using kalv::unzip::DecodeJob;
using kalv::unzip::DecodeStatus;

std::optional<std::string> testdata_dir() {
    std::vector<std::string> candidates;
    if (const char* env = std::getenv("KALV_TESTDATA")) candidates.emplace_back(env);
    candidates.emplace_back(KALV_SOURCE_DIR "/../shared/testdata/legacy");
    candidates.emplace_back("/work/shared/testdata/legacy");
    for (const std::string& dir : candidates) {
        std::ifstream probe(dir + "/MANIFEST.tsv", std::ios::binary);
        if (probe) return dir;
    }
    return std::nullopt;
}

std::optional<Bytes> read_file(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    if (!f) return std::nullopt;
    return Bytes(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

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

std::span<const uint8_t> BlockSource::next_block() {
    if (pos_ >= data_.size()) {
        ++blocks_after_end_;
        return {};
    }
    const size_t n = std::min(block_size_, data_.size() - pos_);
    auto block = data_.subspan(pos_, n);
    pos_ += n;
    return block;
}

bool CollectingSink::write(const uint8_t* data, size_t n) {
    if (full_ || static_cast<int64_t>(bytes.size() + n) > limit_) {
        full_ = true;
        return false;
    }
    bytes.insert(bytes.end(), data, data + n);
    return true;
}

namespace {

uint16_t le16(const Bytes& b, size_t at) { return static_cast<uint16_t>(b.at(at) | b.at(at + 1) << 8); }
uint32_t le32(const Bytes& b, size_t at) { return uint32_t{le16(b, at)} | uint32_t{le16(b, at + 2)} << 16; }

// Traditional PKWARE decryption (APPNOTE 6.1).
class ZipCrypto {
public:
    explicit ZipCrypto(const std::string& password) {
        for (char c : password) update(static_cast<uint8_t>(c));
    }
    uint8_t decrypt(uint8_t cipher) {
        const uint32_t t = (k2_ | 2) & 0xFFFF;
        const uint8_t plain = cipher ^ static_cast<uint8_t>((t * (t ^ 1)) >> 8);
        update(plain);
        return plain;
    }

private:
    void update(uint8_t b) {
        k0_ = kalv::crc32_byte(k0_, b);
        k1_ = (k1_ + (k0_ & 0xFF)) * 134775813u + 1;
        k2_ = kalv::crc32_byte(k2_, static_cast<uint8_t>(k1_ >> 24));
    }
    uint32_t k0_ = 0x12345678, k1_ = 0x23456789, k2_ = 0x34567890;
};

}  // namespace

std::optional<std::vector<Entry>> read_archive(const Bytes& zip, const std::string& password) {
    if (zip.size() < 22) return std::nullopt;
    size_t end = zip.size() - 22;
    while (le32(zip, end) != 0x06054b50) {
        if (end == 0) return std::nullopt;
        --end;
    }
    const uint16_t count = le16(zip, end + 10);
    size_t at = le32(zip, end + 16);
    std::vector<Entry> entries;
    for (uint16_t i = 0; i < count; ++i) {
        if (le32(zip, at) != 0x02014b50) return std::nullopt;
        Entry e;
        e.bit_flag = le16(zip, at + 8);
        e.method = le16(zip, at + 10);
        e.crc = le32(zip, at + 16);
        e.compressed_size = le32(zip, at + 20);
        e.uncompressed_size = le32(zip, at + 24);
        const uint16_t name_len = le16(zip, at + 28);
        const size_t local = le32(zip, at + 42);
        e.name.assign(reinterpret_cast<const char*>(&zip.at(at + 46)), name_len);
        at += 46 + name_len + le16(zip, at + 30) + le16(zip, at + 32);

        const size_t data = local + 30 + le16(zip, local + 26) + le16(zip, local + 28);
        if (data + e.compressed_size > zip.size()) return std::nullopt;
        e.data.assign(zip.begin() + data, zip.begin() + data + e.compressed_size);
        if (e.bit_flag & 1) {
            if (e.data.size() < 12) return std::nullopt;
            ZipCrypto crypto(password);
            Bytes plain;
            for (uint8_t c : e.data) plain.push_back(crypto.decrypt(c));
            const uint8_t check = (e.bit_flag & 8) ? static_cast<uint8_t>(le16(zip, local + 10) >> 8)
                                                    : static_cast<uint8_t>(e.crc >> 24);
            if (plain[11] != check) return std::nullopt;
            e.data.assign(plain.begin() + 12, plain.end());
        }
        entries.push_back(std::move(e));
    }
    return entries;
}

Decoded decode(uint16_t method, uint16_t bit_flag, std::span<const uint8_t> data, int64_t compressed_size,
               int64_t uncompressed_size, std::span<uint8_t> window, size_t block_size) {
    BlockSource source(data, block_size);
    CollectingSink sink(uncompressed_size);
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

void BitWriter::put(uint32_t value, int bits) {
    for (int i = 0; i < bits; ++i) {
        acc_ |= ((value >> i) & 1u) << count_;
        if (++count_ == 8) {
            out_.push_back(static_cast<uint8_t>(acc_));
            acc_ = 0;
            count_ = 0;
        }
    }
}

void BitWriter::put_msb_first(uint32_t code, int bits) {
    for (int i = bits - 1; i >= 0; --i) put((code >> i) & 1u, 1);
}

Bytes BitWriter::finish() {
    if (count_ > 0) out_.push_back(static_cast<uint8_t>(acc_));
    acc_ = 0;
    count_ = 0;
    return std::move(out_);
}

}  // namespace legacy_test
