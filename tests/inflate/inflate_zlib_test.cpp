// Differential tests against zlib: raw Deflate streams of every level, strategy
// and several window sizes, over corpora of different character, decoded by both
// paths of our decoder; the bytes and their CRC-32 must be zlib's input's.
#include <gtest/gtest.h>
#include <zlib.h>

#include <string>

#include "core/crc32.h"
#include "memory_io.h"

namespace kalv::unzip {
namespace {

using namespace kalv::testing;

class Random {
public:
    explicit Random(uint64_t seed) : state_(seed) {}
    uint32_t next() {
        state_ = state_ * 6364136223846793005ull + 1442695040888963407ull;
        return static_cast<uint32_t>(state_ >> 33);
    }
    uint32_t below(uint32_t n) { return next() % n; }

private:
    uint64_t state_;
};

std::vector<uint8_t> text_corpus(size_t n) {
    static const char* words[] = {"the",     "stock",  "of",    "item",   "sale",     "invoice", "customer", "price",
                                  "with",    "total",  "and",   "a",      "warehouse", "order",  "tax",      "date",
                                  "payment", "return", "is",    "for",    "quantity", "unit",    "discount", "supplier"};
    Random r(1);
    std::string s;
    while (s.size() < n) {
        s += words[r.below(24)];
        s += r.below(12) == 0 ? ".\n" : " ";
        if (r.below(40) == 0) s += std::to_string(r.below(100000));
    }
    s.resize(n);
    return {s.begin(), s.end()};
}

// Machine-code-like: short instruction patterns with varying immediates, tables of
// little-endian addresses, embedded strings and zero padding.
std::vector<uint8_t> binary_corpus(size_t n) {
    Random r(2);
    std::vector<uint8_t> b;
    static const uint8_t ops[][4] = {{0x48, 0x8B, 0x45, 0}, {0xE8, 0, 0, 0}, {0x89, 0xC7, 0, 0}, {0x0F, 0x84, 0, 0}};
    while (b.size() < n) {
        switch (r.below(5)) {
            case 0:
            case 1:
                for (int i = 0, k = 1 + r.below(30); i < k; ++i) {
                    const uint8_t* op = ops[r.below(4)];
                    b.insert(b.end(), op, op + 3);
                    b.push_back(static_cast<uint8_t>(r.below(16) * 8));
                }
                break;
            case 2:
                for (int i = 0, k = 1 + r.below(20); i < k; ++i) {
                    const uint32_t address = 0x401000 + r.below(0x8000) * 4;
                    for (int j = 0; j < 4; ++j) b.push_back(static_cast<uint8_t>(address >> (8 * j)));
                }
                break;
            case 3: {
                const std::string s = "KERNEL32.dll GetProcAddress LoadLibraryA " + std::to_string(r.below(999));
                b.insert(b.end(), s.begin(), s.end());
                break;
            }
            default: b.insert(b.end(), r.below(64), 0); break;
        }
    }
    b.resize(n);
    return b;
}

std::vector<uint8_t> random_corpus(size_t n) {
    Random r(3);
    std::vector<uint8_t> b(n);
    for (auto& x : b) x = static_cast<uint8_t>(r.next());
    return b;
}

std::vector<uint8_t> runs_corpus(size_t n) {
    Random r(4);
    std::vector<uint8_t> b;
    b.insert(b.end(), 70000, 0);  // longer than two windows
    while (b.size() < n) b.insert(b.end(), 1 + r.below(600), static_cast<uint8_t>("ab\0\xff"[r.below(4)]));
    b.resize(n);
    return b;
}

struct Corpus {
    const char* name;
    std::vector<uint8_t> bytes;
};

const std::vector<Corpus>& corpora() {
    static const std::vector<Corpus> all = {
        {"text", text_corpus(96 * 1024)},   {"binary", binary_corpus(96 * 1024)},
        {"random", random_corpus(48 * 1024)}, {"runs", runs_corpus(160 * 1024)},
        {"empty", {}},                       {"one byte", {'k'}},
        {"short text", text_corpus(100)},
    };
    return all;
}

std::vector<uint8_t> zlib_deflate(const std::vector<uint8_t>& data, int level, int window_bits, int strategy) {
    z_stream z{};
    EXPECT_EQ(deflateInit2(&z, level, Z_DEFLATED, -window_bits, 8, strategy), Z_OK);
    std::vector<uint8_t> out(deflateBound(&z, data.size()) + 16);
    z.next_in = const_cast<Bytef*>(data.data());
    z.avail_in = static_cast<uInt>(data.size());
    z.next_out = out.data();
    z.avail_out = static_cast<uInt>(out.size());
    EXPECT_EQ(deflate(&z, Z_FINISH), Z_STREAM_END);
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

// zlib's own verdict on a raw stream.
Decoded zlib_inflate(const std::vector<uint8_t>& stream) {
    z_stream z{};
    inflateInit2(&z, -15);
    std::vector<uint8_t> out;
    uint8_t chunk[65536];
    z.next_in = const_cast<Bytef*>(stream.data());
    z.avail_in = static_cast<uInt>(stream.size());
    int rc;
    do {
        z.next_out = chunk;
        z.avail_out = sizeof chunk;
        rc = inflate(&z, Z_NO_FLUSH);
        out.insert(out.end(), chunk, chunk + (sizeof chunk - z.avail_out));
    } while (rc == Z_OK && z.avail_out == 0);
    inflateEnd(&z);
    const DecodeStatus status =
        rc == Z_STREAM_END ? DecodeStatus::Done : rc == Z_DATA_ERROR ? DecodeStatus::BadData : DecodeStatus::EndOfInput;
    return {status, out};
}

uint32_t zlib_crc(const std::vector<uint8_t>& data) { return static_cast<uint32_t>(crc32(0L, data.data(), static_cast<uInt>(data.size()))); }

void expect_round_trip(const std::vector<uint8_t>& original, const std::vector<uint8_t>& stream, size_t block_size = 16000) {
    for (Path path : kAllPaths) {
        SCOPED_TRACE(path_name(path));
        const Decoded d = decode(stream, block_size, path, static_cast<int64_t>(original.size()));
        ASSERT_EQ(d.status, DecodeStatus::Done);
        ASSERT_EQ(d.bytes.size(), original.size());
        EXPECT_TRUE(d.bytes == original);
        EXPECT_EQ(kalv::crc32_of(d.bytes.data(), d.bytes.size()), zlib_crc(original));
    }
}

TEST(InflateVersusZlib, EveryLevelOverEveryCorpus) {
    for (const Corpus& c : corpora())
        for (int level = 0; level <= 9; ++level) {
            SCOPED_TRACE(std::string(c.name) + " level " + std::to_string(level));
            expect_round_trip(c.bytes, zlib_deflate(c.bytes, level, 15, Z_DEFAULT_STRATEGY));
        }
}

TEST(InflateVersusZlib, EveryStrategy) {
    const std::pair<const char*, int> strategies[] = {
        {"filtered", Z_FILTERED}, {"huffman only", Z_HUFFMAN_ONLY}, {"rle", Z_RLE}, {"fixed", Z_FIXED}};
    for (const Corpus& c : corpora())
        for (const auto& [name, strategy] : strategies)
            for (int level : {1, 6, 9}) {
                SCOPED_TRACE(std::string(c.name) + " " + name + " level " + std::to_string(level));
                expect_round_trip(c.bytes, zlib_deflate(c.bytes, level, 15, strategy));
            }
}

TEST(InflateVersusZlib, SmallerWindows) {
    for (const Corpus& c : corpora())
        for (int window_bits = 9; window_bits <= 14; ++window_bits)
            for (int level : {1, 9}) {
                SCOPED_TRACE(std::string(c.name) + " window " + std::to_string(window_bits) + " level " + std::to_string(level));
                expect_round_trip(c.bytes, zlib_deflate(c.bytes, level, window_bits, Z_DEFAULT_STRATEGY));
            }
}

TEST(InflateVersusZlib, InputInTinyAndOddBlocks) {
    for (const Corpus& c : corpora())
        for (size_t block_size : {1, 2, 13, 4093}) {
            SCOPED_TRACE(std::string(c.name) + " blocks of " + std::to_string(block_size));
            expect_round_trip(c.bytes, zlib_deflate(c.bytes, 6, 15, Z_DEFAULT_STRATEGY), block_size);
        }
    const std::vector<uint8_t>& random = corpora()[2].bytes;
    expect_round_trip(random, zlib_deflate(random, 0, 15, Z_DEFAULT_STRATEGY), 1);  // stored blocks byte by byte
}

TEST(InflateVersusZlib, EveryCutOfAStreamEndsAsEndOfInput) {
    const std::vector<uint8_t> original = text_corpus(6000);
    const std::vector<uint8_t> stream = zlib_deflate(original, 9, 15, Z_DEFAULT_STRATEGY);
    for (size_t cut = 0; cut < stream.size(); ++cut) {
        const std::vector<uint8_t> prefix(stream.begin(), stream.begin() + cut);
        for (Path path : kAllPaths) {
            const Decoded d = decode(prefix, 16000, path);
            ASSERT_EQ(d.status, DecodeStatus::EndOfInput) << "cut at " << cut;
        }
    }
}

TEST(InflateVersusZlib, DamagedStreamsAgreeWithZlib) {
    // Whatever zlib decodes whole, we decode to the same bytes; what zlib rejects as
    // bad data we never report as done. Nothing may crash (the sanitizer build).
    Random r(5);
    const std::vector<uint8_t> original = binary_corpus(20000);
    for (int level : {1, 6, 9}) {
        const std::vector<uint8_t> stream = zlib_deflate(original, level, 15, level == 1 ? Z_FIXED : Z_DEFAULT_STRATEGY);
        for (int trial = 0; trial < 150; ++trial) {
            std::vector<uint8_t> damaged = stream;
            for (int flips = 1 + r.below(3); flips > 0; --flips) damaged[r.below(static_cast<uint32_t>(damaged.size()))] ^= static_cast<uint8_t>(1u << r.below(8));
            const Decoded expected = zlib_inflate(damaged);
            for (Path path : kAllPaths) {
                const Decoded d = decode(damaged, 16000, path);
                if (expected.status == DecodeStatus::Done) {
                    EXPECT_EQ(d.status, DecodeStatus::Done) << "trial " << trial;
                    EXPECT_TRUE(d.bytes == expected.bytes) << "trial " << trial;
                }
                if (expected.status == DecodeStatus::BadData) {
                    EXPECT_NE(d.status, DecodeStatus::Done) << "trial " << trial;
                }
            }
        }
    }
}

}  // namespace
}  // namespace kalv::unzip
