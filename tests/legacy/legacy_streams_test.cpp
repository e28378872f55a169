// Streams built bit by bit for each corner of the three legacy formats, each with
// one exact expected outcome. (Hostile variants of the real test data are in
// legacy_data_test.cpp.)
// Over 500 lines: the three formats' cases share one runner and one bit writer, and
// Implode's trees are built by the same helpers for every case.
#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <string>

#include "bit_writer.h"
#include "legacy_support.h"
#include "recording_platform.h"
#include "unzip/shannon_fano.h"

namespace {

using namespace legacy_test;
using kalv::testing::BitWriter;
using kalv::testing::MemoryInput;
using kalv::unzip::DecodeStatus;

constexpr uint16_t kShrink = 1;
constexpr uint16_t kImplode = 6;
constexpr uint16_t kBigDictionary = 0x0002;
constexpr uint16_t kLiteralTree = 0x0004;

std::string text(const Bytes& b) { return std::string(b.begin(), b.end()); }

// A window buffer as the driver leaves it after earlier entries: full of old bytes.
std::vector<uint8_t> stale_window() { return std::vector<uint8_t>(32780, 0xEE); }

Decoded run(uint16_t method, uint16_t flag, const Bytes& data, int64_t size, int64_t csize = -1) {
    auto window = stale_window();
    return decode(method, flag, data, csize < 0 ? static_cast<int64_t>(data.size()) : csize, size, window);
}

// --- Shrink -----------------------------------------------------------------

Bytes shrink_codes(std::initializer_list<std::pair<uint32_t, int>> codes) {
    BitWriter w;
    for (auto [code, bits] : codes) w.bits(code, bits);
    return w.finish();
}

TEST(Unshrink, LiteralsAndKnownStrings) {
    // a b (257=ab) then 257 (adds 258=ba) then 259, the code being assigned: ab + a.
    const Bytes s = shrink_codes({{'a', 9}, {'b', 9}, {257, 9}, {259, 9}});
    const Decoded d = run(kShrink, 0, s, 100);
    EXPECT_EQ(d.status, DecodeStatus::Done);
    EXPECT_EQ(text(d.bytes), std::string("a") + "b" + "ab" + "aba");
}

TEST(Unshrink, EmptyStreamIsAnEmptyEntry) {
    const Decoded d = run(kShrink, 0, {}, 0);
    EXPECT_EQ(d.status, DecodeStatus::Done);
    EXPECT_TRUE(d.bytes.empty());
}

TEST(Unshrink, WideningChangesTheCodeSizeAtOnce) {
    // 256,1 read at 9 bits; the next code is read at 10 bits without any alignment.
    const Bytes s = shrink_codes({{'x', 9}, {256, 9}, {1, 9}, {'y', 10}, {257, 10}});
    const Decoded d = run(kShrink, 0, s, 100);
    EXPECT_EQ(d.status, DecodeStatus::Done);
    EXPECT_EQ(text(d.bytes), "xyxy");
}

// Regression: the code size was widened without an upper bound, so a sixth
// widening made 14-bit codes that indexed past the 8192-entry table.
TEST(Unshrink, WideningPastThirteenBitsIsBadData) {
    const Bytes s = shrink_codes({{'a', 9},
                                  {256, 9}, {1, 9},
                                  {256, 10}, {1, 10},
                                  {256, 11}, {1, 11},
                                  {256, 12}, {1, 12},
                                  {256, 13}, {1, 13},
                                  {16383, 14}, {16383, 14}});
    EXPECT_EQ(run(kShrink, 0, s, 100).status, DecodeStatus::BadData);
}

TEST(Unshrink, InvalidCodesAreBadData) {
    struct Case {
        const char* why;
        Bytes stream;
    } cases[] = {
        {"escape followed by an unknown command", shrink_codes({{'a', 9}, {256, 9}, {3, 9}})},
        {"first code is not a literal", shrink_codes({{257, 9}, {'a', 9}})},
        {"free code other than the next one to be assigned", shrink_codes({{'a', 9}, {300, 9}})},
    };
    for (const Case& c : cases) EXPECT_EQ(run(kShrink, 0, c.stream, 100).status, DecodeStatus::BadData) << c.why;
}

TEST(Unshrink, PartialClearFreesLeavesAndReusesTheLowestCodes) {
    // a b 257(ab) 257(ab): 258=ba, 259=aba (prefix 257). The clear frees the leaves
    // 258 and 259 but keeps 257; 258 is then the next code (ab + a), then 259.
    const Bytes s = shrink_codes({{'a', 9}, {'b', 9}, {257, 9}, {257, 9}, {256, 9}, {2, 9}, {258, 9}, {259, 9}, {257, 9}});
    const Decoded d = run(kShrink, 0, s, 100);
    EXPECT_EQ(d.status, DecodeStatus::Done);
    EXPECT_EQ(text(d.bytes), std::string("a") + "b" + "ab" + "ab" + "aba" + "abaa" + "ab");

    // After the same clear, 259 is free but 258 comes first: 259 is invalid.
    const Bytes bad = shrink_codes({{'a', 9}, {'b', 9}, {257, 9}, {257, 9}, {256, 9}, {2, 9}, {259, 9}});
    EXPECT_EQ(run(kShrink, 0, bad, 100).status, DecodeStatus::BadData);
}

TEST(Unshrink, ChainThroughAFreedPrefixIsBadData) {
    // a b c d then 258 (260 = d+b); the clear frees 257..260, and the previous code
    // 258 with them; 'e' then adds 257 = (freed 258) + e, whose chain is broken.
    const Bytes s = shrink_codes(
        {{'a', 9}, {'b', 9}, {'c', 9}, {'d', 9}, {258, 9}, {256, 9}, {2, 9}, {'e', 9}, {257, 9}});
    EXPECT_EQ(run(kShrink, 0, s, 100).status, DecodeStatus::BadData);
}

TEST(Unshrink, SelfReferencingCodeIsBadDataNotAnEndlessChain) {
    // a b 257: 258 = ba. The clear frees 257 and 258 while 257 is the previous code,
    // so 'c' adds 257 = (257) + c: a cycle the expansion must refuse.
    const Bytes s = shrink_codes({{'a', 9}, {'b', 9}, {257, 9}, {256, 9}, {2, 9}, {'c', 9}, {257, 9}});
    EXPECT_EQ(run(kShrink, 0, s, 100).status, DecodeStatus::BadData);
}

TEST(Unshrink, OutputBeyondTheEntrySizeStopsDecoding) {
    const Bytes s = shrink_codes({{'a', 9}, {'b', 9}, {257, 9}, {259, 9}});
    const Decoded d = run(kShrink, 0, s, 3);  // the driver's writer refuses the 7 bytes
    EXPECT_EQ(d.status, DecodeStatus::Done);
    EXPECT_TRUE(d.bytes.empty());
}

// --- Reduce -----------------------------------------------------------------

// Follower sets 255 down to 0, each given as its member list.
struct ReduceWriter {
    BitWriter w;
    std::array<std::vector<uint8_t>, 256> sets;
    uint8_t last = 0;

    void write_sets() {
        for (int v = 255; v >= 0; --v) {
            w.bits(static_cast<uint32_t>(sets[v].size()), 6);
            for (uint8_t m : sets[v]) w.bits(m, 8);
        }
    }
    // A byte of the follower stage, by index when it is in the last byte's set.
    void byte(uint8_t b) {
        const auto& set = sets[last];
        if (!set.empty()) {
            auto it = std::find(set.begin(), set.end(), b);
            if (it != set.end()) {
                int bits = 1;
                while ((1u << bits) < set.size()) ++bits;
                w.bits(0, 1);
                w.bits(static_cast<uint32_t>(it - set.begin()), bits);
                last = b;
                return;
            }
            w.bits(1, 1);
        }
        w.bits(b, 8);
        last = b;
    }
};

TEST(Unreduce, DleZeroIsALiteral144AndFollowersDecodeByIndex) {
    ReduceWriter r;
    r.sets['a'] = {'x', 'b', 'y'};  // 'b' after 'a' is index 1 of a 3-member set (2 bits)
    r.write_sets();
    for (uint8_t b : {uint8_t('a'), uint8_t('b'), uint8_t(144), uint8_t(0), uint8_t('a'), uint8_t('y')}) r.byte(b);
    const Bytes s = r.w.finish();
    const Decoded d = run(5, 0, s, 5);
    EXPECT_EQ(d.status, DecodeStatus::Done);
    EXPECT_EQ(d.bytes, (Bytes{'a', 'b', 144, 'a', 'y'}));
}

// APPNOTE: an index takes "the minimal number of bits required to encode N - 1",
// which for a one-member set is still one bit.
TEST(Unreduce, IndexWidthFollowsTheSetSize) {
    const std::pair<int, int> size_and_bits[] = {{1, 1},  {2, 1},  {3, 2},  {4, 2},  {5, 3},  {8, 3},
                                                 {9, 4},  {16, 4}, {17, 5}, {32, 5}, {33, 6}, {63, 6}};
    for (auto [size, bits] : size_and_bits) {
        SCOPED_TRACE("set of " + std::to_string(size));
        BitWriter w;
        for (int v = 255; v >= 0; --v) {
            const int n = v == 0 ? size : 0;  // only byte 0 (the start) has followers
            w.bits(static_cast<uint32_t>(n), 6);
            for (int i = 0; i < n; ++i) w.bits(static_cast<uint32_t>(100 + i), 8);
        }
        w.bits(0, 1);
        w.bits(static_cast<uint32_t>(size - 1), bits);  // the last member
        w.bits('k', 8);  // that member's own set is empty: raw, without a flag
        const Decoded d = run(3, 0, w.finish(), 2);
        EXPECT_EQ(d.status, DecodeStatus::Done);
        EXPECT_EQ(d.bytes, (Bytes{static_cast<uint8_t>(100 + size - 1), 'k'}));
    }
}

TEST(Unreduce, FollowerIndexOutsideTheSetIsBadData) {
    ReduceWriter r;
    r.sets[0] = {'p', 'q', 'r'};  // 2-bit indices, 3 is out of range
    r.write_sets();
    r.w.bits(0, 1);
    r.w.bits(3, 2);
    EXPECT_EQ(run(2, 0, r.w.finish(), 10).status, DecodeStatus::BadData);
}

// Each factor splits the byte after DLE differently: length mask 127/63/31/15,
// distance shift 7/6/5/4. A run of length 5 from distance 256 + 7 + 1 checks both.
TEST(Unreduce, EachFactorSplitsLengthAndDistance) {
    for (int factor = 1; factor <= 4; ++factor) {
        SCOPED_TRACE("factor " + std::to_string(factor));
        ReduceWriter r;
        r.write_sets();
        Bytes expected;
        for (int i = 0; i < 300; ++i) {
            const uint8_t b = static_cast<uint8_t>((i * 7 + 3) % 143);  // never DLE
            r.byte(b);
            expected.push_back(b);
        }
        const uint32_t v = (1u << (8 - factor)) | 2u;  // high distance bits 1, length 2 (+3)
        r.byte(144);
        r.byte(static_cast<uint8_t>(v));
        r.byte(7);
        const uint32_t distance = 256 + 7 + 1;
        for (int i = 0; i < 5; ++i) expected.push_back(expected[expected.size() - distance]);
        const Decoded d = run(static_cast<uint16_t>(factor + 1), 0, r.w.finish(), static_cast<int64_t>(expected.size()));
        EXPECT_EQ(d.status, DecodeStatus::Done);
        EXPECT_EQ(d.bytes, expected);
    }
}

TEST(Unreduce, LengthEqualToTheMaskTakesAnotherLengthByte) {
    ReduceWriter r;
    r.write_sets();
    r.byte('z');
    r.byte(144);
    r.byte(0x0F);  // factor 4: length 15 = mask, distance high bits 0
    r.byte(200);   // length 15 + 200 + 3 = 218
    r.byte(0);     // distance 1
    const Decoded d = run(5, 0, r.w.finish(), 219);
    EXPECT_EQ(d.status, DecodeStatus::Done);
    EXPECT_EQ(d.bytes, Bytes(219, 'z'));
}

// A run that starts before the entry's first byte copies zeros there, not what an
// earlier entry left in the window buffer.
TEST(Unreduce, RunBeforeTheStartYieldsZerosNotStaleWindowBytes) {
    ReduceWriter r;
    r.write_sets();
    r.byte('x');
    r.byte('y');
    r.byte(144);
    r.byte(5);  // factor 1: length 5 + 3
    r.byte(3);  // distance 4, two bytes before the start
    const Decoded d = run(2, 0, r.w.finish(), 10);
    EXPECT_EQ(d.status, DecodeStatus::Done);
    EXPECT_EQ(d.bytes, (Bytes{'x', 'y', 0, 0, 'x', 'y', 0, 0, 'x', 'y'}));
}

TEST(Unreduce, RunIsCutAtTheUncompressedSize) {
    ReduceWriter r;
    r.write_sets();
    r.byte('q');
    r.byte(144);
    r.byte(100);  // factor 1: length 103 from distance 1
    r.byte(0);
    const Decoded d = run(2, 0, r.w.finish(), 20);
    EXPECT_EQ(d.status, DecodeStatus::Done);
    EXPECT_EQ(d.bytes, Bytes(20, 'q'));
}

TEST(Unreduce, StreamShorterThanTheSizeIsEndOfInput) {
    ReduceWriter r;
    r.write_sets();
    r.byte('a');
    EXPECT_EQ(run(3, 0, r.w.finish(), 50).status, DecodeStatus::EndOfInput);
    EXPECT_EQ(run(3, 0, Bytes(10, 0), 50).status, DecodeStatus::EndOfInput);  // inside the sets
}

// --- Implode ----------------------------------------------------------------

// The codes exactly as APPNOTE 5.3 constructs them: stable sort by bit length,
// count up from the longest, 2^(16 - length) apart. Left-aligned in 16 bits.
std::vector<uint32_t> appnote_codes(const std::vector<uint8_t>& lengths) {
    std::vector<size_t> order(lengths.size());
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) { return lengths[a] < lengths[b]; });
    std::vector<uint32_t> codes(lengths.size());
    uint32_t code = 0, increment = 0, last = 0;
    for (size_t i = order.size(); i-- > 0;) {
        code += increment;
        if (lengths[order[i]] != last) {
            last = lengths[order[i]];
            increment = 1u << (16 - last);
        }
        codes[order[i]] = code;
    }
    return codes;
}

struct Tree {
    std::vector<uint8_t> lengths;
    std::vector<uint32_t> codes;
    explicit Tree(std::vector<uint8_t> l) : lengths(std::move(l)), codes(appnote_codes(lengths)) {}

    void write(BitWriter& w) const {
        std::vector<uint8_t> bytes;
        for (size_t i = 0; i < lengths.size();) {
            size_t run = 1;
            while (i + run < lengths.size() && lengths[i + run] == lengths[i] && run < 16) ++run;
            bytes.push_back(static_cast<uint8_t>((run - 1) << 4 | (lengths[i] - 1)));
            i += run;
        }
        w.bits(static_cast<uint32_t>(bytes.size() - 1), 8);
        for (uint8_t b : bytes) w.bits(b, 8);
    }
    void symbol(BitWriter& w, size_t s) const { w.code(codes[s] >> (16 - lengths[s]), lengths[s]); }
};

Tree uniform(size_t n, uint8_t length) { return Tree(std::vector<uint8_t>(n, length)); }

// 64 symbols with codes of 2 to 16 bits, the short ones on scattered symbols.
Tree skewed64() {
    std::vector<uint8_t> l(64, 0);
    const size_t chain[] = {40, 3, 63, 0, 20, 9, 33, 17, 50, 5, 27, 44, 12, 58, 1};  // lengths 2..16
    for (int i = 0; i < 15; ++i) l[chain[i]] = static_cast<uint8_t>(2 + i);
    l[61] = 16;  // the chain 2..16 plus one more 16 sums to 1/2
    int sixes = 16;
    for (size_t s = 0; s < 64; ++s) {
        if (l[s] != 0) continue;
        l[s] = sixes-- > 0 ? 6 : 7;  // 16 of 6 bits and 32 of 7 bits: the other half
    }
    return Tree(l);
}

struct ImplodeWriter {
    uint16_t flag;
    Tree literals = uniform(256, 8);
    Tree lengths = uniform(64, 6);
    Tree distances = uniform(64, 6);
    BitWriter w;

    explicit ImplodeWriter(uint16_t f) : flag(f) {}
    int low_bits() const { return (flag & kBigDictionary) ? 7 : 6; }
    uint32_t min_match() const { return (flag & kLiteralTree) ? 3 : 2; }

    void trees() {
        if (flag & kLiteralTree) literals.write(w);
        lengths.write(w);
        distances.write(w);
    }
    void literal(uint8_t b) {
        w.bits(1, 1);
        if (flag & kLiteralTree) literals.symbol(w, b);
        else w.bits(b, 8);
    }
    void match(uint32_t distance, uint32_t length) {
        w.bits(0, 1);
        const uint32_t d = distance - 1;
        w.bits(d & ((1u << low_bits()) - 1), low_bits());
        distances.symbol(w, d >> low_bits());
        const uint32_t l = length - min_match();
        if (l >= 63) {
            lengths.symbol(w, 63);
            w.bits(l - 63, 8);
        } else {
            lengths.symbol(w, l);
        }
    }
};

// The reference: what a list of literals and matches means, zeros before the start.
struct Expect {
    Bytes out;
    void literal(uint8_t b) { out.push_back(b); }
    void match(uint32_t distance, uint32_t length) {
        for (uint32_t i = 0; i < length; ++i) {
            const int64_t from = static_cast<int64_t>(out.size()) - distance;
            out.push_back(from < 0 ? 0 : out[static_cast<size_t>(from)]);
        }
    }
};

TEST(ShannonFano, AppnoteExampleTree) {
    // APPNOTE 5.3's example: lengths (3,3,3,3,3,2,4,4) and the reversed codes of its
    // "Order Restored" column, i.e. the bits as they arrive, first bit lowest.
    const std::vector<uint8_t> lengths = {3, 3, 3, 3, 3, 2, 4, 4};
    const uint32_t arriving[] = {0b101, 0b001, 0b110, 0b010, 0b100, 0b11, 0b1000, 0b0000};
    kalv::unzip::legacy::ShannonFanoTable table;
    ASSERT_EQ(table.build(lengths, 2), kalv::unzip::legacy::ShannonFanoTable::BuildStatus::Complete);
    for (uint32_t s = 0; s < 8; ++s) {
        BitWriter w;
        w.bits(arriving[s], lengths[s]);
        w.bits(0x3FF, 10);  // what follows must not matter
        const Bytes b = w.finish();
        MemoryInput src(b, 16);
        kalv::unzip::legacy::BitReader in(src);
        EXPECT_EQ(table.decode(in), s);
    }
}

TEST(ShannonFano, BuildRejectsAllButCompleteTrees) {
    using Status = kalv::unzip::legacy::ShannonFanoTable::BuildStatus;
    kalv::unzip::legacy::ShannonFanoTable t;
    EXPECT_EQ(t.build(std::vector<uint8_t>(64, 6), 7), Status::Complete);
    EXPECT_EQ(t.build(std::vector<uint8_t>(64, 7), 7), Status::Incomplete);
    EXPECT_EQ(t.build(std::vector<uint8_t>(64, 5), 7), Status::OverSubscribed);
    EXPECT_EQ(t.build(skewed64().lengths, 7), Status::Complete);
}

// Every symbol of trees with codes up to 16 bits decodes through the sub-tables,
// at each lookup size used (7, 8, 9 bits).
TEST(ShannonFano, DecodesWhatTheAppnoteConstructionEncodes) {
    for (int lookup : {7, 8, 9}) {
        const Tree tree = skewed64();
        kalv::unzip::legacy::ShannonFanoTable table;
        ASSERT_EQ(table.build(tree.lengths, lookup), kalv::unzip::legacy::ShannonFanoTable::BuildStatus::Complete);
        BitWriter w;
        for (size_t s = 0; s < 64; ++s) tree.symbol(w, s);
        const Bytes b = w.finish();
        MemoryInput src(b, 5);
        kalv::unzip::legacy::BitReader in(src);
        for (uint32_t s = 0; s < 64; ++s) EXPECT_EQ(table.decode(in), s) << "lookup " << lookup;
        EXPECT_FALSE(in.overran());
    }
}

struct ImplodeCase {
    const char* why;
    uint16_t flag;
};

class ExplodeVariants : public ::testing::TestWithParam<ImplodeCase> {};

// Literals, short and long matches (length code 63 plus 8 bits), overlapping
// copies and the largest distance of each dictionary, in all four flag variants.
TEST_P(ExplodeVariants, DecodesLiteralsAndMatches) {
    const uint16_t flag = GetParam().flag;
    ImplodeWriter iw(flag);
    iw.lengths = skewed64();
    iw.distances = skewed64();
    iw.trees();
    Expect e;
    const uint32_t max_distance = (flag & kBigDictionary) ? 8192 : 4096;
    auto lit = [&](uint8_t b) { iw.literal(b), e.literal(b); };
    auto match = [&](uint32_t d, uint32_t l) { iw.match(d, l), e.match(d, l); };
    // More than the 32768-byte window, so the last matches read across its wrap.
    for (int i = 0; i < 40000; ++i) lit(static_cast<uint8_t>(i * 31 + i / 256));
    match(1, iw.min_match());
    match(3, 40);                      // overlapping: repeats a 3-byte pattern
    match(max_distance, 63 + iw.min_match() + 62);  // length code 63, plus 62
    match(max_distance, 63 + iw.min_match());       // length code 63, plus 0
    match(777, 255 + 63 + iw.min_match());          // the longest match
    lit('!');
    const Bytes s = iw.w.finish();

    const Decoded d = run(kImplode, flag, s, static_cast<int64_t>(e.out.size()));
    EXPECT_EQ(d.status, DecodeStatus::Done);
    EXPECT_TRUE(d.bytes == e.out);

    // Entries above 200000 compressed bytes use 8 lookup bits for distances.
    const Decoded big = run(kImplode, flag, s, static_cast<int64_t>(e.out.size()), 250000);
    EXPECT_EQ(big.status, DecodeStatus::Done);
    EXPECT_TRUE(big.bytes == e.out);
}

INSTANTIATE_TEST_SUITE_P(AllFlags, ExplodeVariants,
                         ::testing::Values(ImplodeCase{"4K, 2 trees", 0}, ImplodeCase{"8K, 2 trees", kBigDictionary},
                                           ImplodeCase{"4K, 3 trees", kLiteralTree},
                                           ImplodeCase{"8K, 3 trees", kBigDictionary | kLiteralTree}));

TEST(Explode, MatchBeforeTheStartYieldsZerosNotStaleWindowBytes) {
    ImplodeWriter iw(kBigDictionary | kLiteralTree);
    iw.trees();
    iw.literal('k');
    iw.match(5, 9);  // four bytes before the start, then 'k' and what was copied
    const Decoded d = run(kImplode, iw.flag, iw.w.finish(), 10);
    EXPECT_EQ(d.status, DecodeStatus::Done);
    EXPECT_EQ(d.bytes, (Bytes{'k', 0, 0, 0, 0, 'k', 0, 0, 0, 0}));
}

TEST(Explode, BadTreesAreBadData) {
    auto stream_with_lengths_tree = [](const std::vector<uint8_t>& bytes) {
        BitWriter w;
        w.bits(static_cast<uint32_t>(bytes.size() - 1), 8);
        for (uint8_t b : bytes) w.bits(b, 8);
        uniform(64, 6).write(w);
        w.bits(0, 32);
        return w.finish();
    };
    struct Case {
        const char* why;
        std::vector<uint8_t> tree;
    } cases[] = {
        {"incomplete: 64 codes of 7 bits", {0xF6, 0xF6, 0xF6, 0xF6}},
        {"over-subscribed: 64 codes of 5 bits", {0xF4, 0xF4, 0xF4, 0xF4}},
        {"runs cover 48 of 64 symbols", {0xF5, 0xF5, 0xF5}},
        {"runs cover 80 of 64 symbols", {0xF5, 0xF5, 0xF5, 0xF5, 0xF5}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(run(kImplode, 0, stream_with_lengths_tree(c.tree), 10).status, DecodeStatus::BadData) << c.why;
}

// Without room for its window and tables the decoder gives up and writes nothing;
// telling the user is the driver's part.
TEST(Explode, OutOfMemoryEndsTheEntryWithoutABox) {
    ImplodeWriter iw(0);
    iw.trees();
    iw.literal('a');
    const Bytes s = iw.w.finish();
    std::vector<uint8_t> small_window(1000);
    const Decoded d = decode(kImplode, 0, s, static_cast<int64_t>(s.size()), 1, small_window);
    EXPECT_EQ(d.status, DecodeStatus::OutOfMemory);
    EXPECT_TRUE(d.bytes.empty());
}

TEST(Explode, StreamShorterThanTheSizeIsEndOfInput) {
    ImplodeWriter iw(0);
    iw.trees();
    iw.literal('a');
    const Bytes s = iw.w.finish();
    EXPECT_EQ(run(kImplode, 0, s, 100).status, DecodeStatus::EndOfInput);
    EXPECT_EQ(run(kImplode, 0, Bytes(s.begin(), s.begin() + 5), 100).status, DecodeStatus::EndOfInput);
}

}  // namespace
