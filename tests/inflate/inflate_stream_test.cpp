// Deflate streams built bit by bit, each with one exact outcome, decoded through
// both paths of the decoder and with the input cut into blocks of several sizes
// (the driver's blocks are 16000 bytes, but a decoder must not depend on that).
// Over 500 lines: one table of cases, a few lines each, with the block writers they
// all share above it and the runs that take every case through every path below.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <random>
#include <string>

#include "bit_writer.h"
#include "memory_io.h"
#include "recording_platform.h"

namespace kalv::unzip {
namespace {

using namespace kalv::testing;

std::vector<uint8_t> text(const std::string& s) { return {s.begin(), s.end()}; }

// --- dynamic blocks ------------------------------------------------------------

constexpr unsigned kOrder[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};

// A complete code-length code: 0..13 on four bits, 14, 16, 17 and 18 on five.
std::vector<uint8_t> standard_precode() {
    std::vector<uint8_t> p(19, 4);
    p[14] = p[16] = p[17] = p[18] = 5;
    p[15] = 0;
    return p;
}

struct CodeLengthOp {
    unsigned symbol;
    unsigned extra = 0;
};

std::vector<CodeLengthOp> plain_ops(const std::vector<uint8_t>& lengths) {
    std::vector<CodeLengthOp> ops;
    for (uint8_t l : lengths) ops.push_back({l});
    return ops;
}

void dynamic_header(BitWriter& w, bool last, unsigned nl, unsigned nd, const std::vector<CodeLengthOp>& ops,
                    const std::vector<uint8_t>& precode = standard_precode()) {
    w.block_header(last, 2).bits(nl - 257, 5).bits(nd - 1, 5).bits(19 - 4, 4);
    for (unsigned symbol : kOrder) w.bits(precode[symbol], 3);
    const std::vector<uint32_t> codes = canonical_codes(precode);
    for (const CodeLengthOp& op : ops) {
        w.code(codes[op.symbol], precode[op.symbol]);
        if (op.symbol == 16) w.bits(op.extra, 2);
        if (op.symbol == 17) w.bits(op.extra, 3);
        if (op.symbol == 18) w.bits(op.extra, 7);
    }
}

// The literal/length and distance codes of one dynamic block, for writing its body.
struct DynamicCode {
    std::vector<uint8_t> litlen;
    std::vector<uint8_t> distance;

    void symbol(BitWriter& w, unsigned s) const {
        const auto codes = canonical_codes(litlen);
        w.code(codes[s], litlen[s]);
    }
    void match(BitWriter& w, unsigned length, unsigned dist) const {
        const CodeAndExtra l = length_code(length);
        symbol(w, l.code);
        w.bits(l.extra_value, l.extra_bits);
        const CodeAndExtra d = distance_code(dist);
        const auto codes = canonical_codes(distance);
        w.code(codes[d.code], distance[d.code]);
        w.bits(d.extra_value, d.extra_bits);
    }
    std::vector<uint8_t> lengths() const {
        std::vector<uint8_t> all = litlen;
        all.insert(all.end(), distance.begin(), distance.end());
        return all;
    }
};

// Literals on 9 bits (half the space), end of block on 2, lengths 3 and 4 on 3:
// complete. Two one-bit distance codes (distances 1 and 2): complete.
DynamicCode small_code() {
    DynamicCode c;
    c.litlen.assign(259, 9);
    c.litlen[256] = 2;
    c.litlen[257] = 3;
    c.litlen[258] = 3;
    c.distance = {1, 1};
    return c;
}

// "xy", then a match of 3 at distance 2: "xyxyx".
std::vector<uint8_t> dynamic_stream(const DynamicCode& c, std::vector<CodeLengthOp> ops = {}) {
    BitWriter w;
    if (ops.empty()) ops = plain_ops(c.lengths());
    dynamic_header(w, true, static_cast<unsigned>(c.litlen.size()), static_cast<unsigned>(c.distance.size()), ops);
    c.symbol(w, 'x');
    c.symbol(w, 'y');
    c.match(w, 3, 2);
    c.symbol(w, 256);
    return w.finish();
}

// --- the cases -----------------------------------------------------------------

struct StreamCase {
    const char* name;
    std::function<std::vector<uint8_t>()> build;
    DecodeStatus status;
    std::vector<uint8_t> output;  // checked when the status is Done
};

std::vector<uint8_t> repeated(uint8_t byte, size_t n) { return std::vector<uint8_t>(n, byte); }

const std::vector<StreamCase>& stream_cases() {
    static const std::vector<StreamCase> cases = {
        {"empty fixed block: only end-of-block",
         [] {
             BitWriter w;
             w.block_header(true, 1);
             fixed_end(w);
             return w.finish();
         },
         DecodeStatus::Done, {}},
        {"final stored block of length 0",
         [] { return BitWriter().block_header(true, 0).align().bits(0, 16).bits(0xFFFF, 16).finish(); },
         DecodeStatus::Done, {}},
        {"stored block after a fixed block, aligned to the byte",
         [] {
             BitWriter w;
             w.block_header(false, 1);
             fixed_literals(w, text("ab"));
             fixed_end(w);
             w.block_header(true, 0).align().bits(5, 16).bits(0xFFFF ^ 5, 16).bytes(text("hello"));
             return w.finish();
         },
         DecodeStatus::Done, text("abhello")},
        {"stored block whose NLEN is not the complement of LEN",
         [] { return BitWriter().block_header(true, 0).align().bits(5, 16).bits(0xFFFF ^ 4, 16).bytes(text("hello")).finish(); },
         DecodeStatus::BadData, {}},
        {"stored block cut short",
         [] { return BitWriter().block_header(true, 0).align().bits(10, 16).bits(0xFFFF ^ 10, 16).bytes(text("hello")).finish(); },
         DecodeStatus::EndOfInput, {}},
        {"block type 3 is reserved", [] { return BitWriter().block_header(true, 3).bits(0, 16).finish(); },
         DecodeStatus::BadData, {}},
        {"a 258-byte match at distance 1 repeats one byte",
         [] {
             BitWriter w;
             w.block_header(true, 1);
             fixed_literals(w, text("z"));
             fixed_match(w, 258, 1);
             fixed_end(w);
             return w.finish();
         },
         DecodeStatus::Done, repeated('z', 259)},
        {"overlapping match at distance 3 repeats the pattern",
         [] {
             BitWriter w;
             w.block_header(true, 1);
             fixed_literals(w, text("abc"));
             fixed_match(w, 10, 3);
             fixed_end(w);
             return w.finish();
         },
         DecodeStatus::Done, text("abcabcabcabca")},
        {"a match reaching exactly the entry's first byte",
         [] {
             BitWriter w;
             w.block_header(true, 1);
             fixed_literals(w, text("abc"));
             fixed_match(w, 3, 3);
             fixed_end(w);
             return w.finish();
         },
         DecodeStatus::Done, text("abcabc")},
        {"a distance reaching before the entry's first byte",
         [] {
             BitWriter w;
             w.block_header(true, 1);
             fixed_literals(w, text("abc"));
             fixed_match(w, 3, 4);
             fixed_end(w);
             return w.finish();
         },
         DecodeStatus::BadData, {}},
        {"a match as the entry's very first symbol",
         [] {
             BitWriter w;
             w.block_header(true, 1);
             fixed_match(w, 3, 1);
             fixed_end(w);
             return w.finish();
         },
         DecodeStatus::BadData, {}},
        {"a far distance found in the middle of a long block",
         [] {
             BitWriter w;
             w.block_header(true, 1);
             for (int i = 0; i < 300; ++i) fixed_literals(w, {static_cast<uint8_t>(i * 7)});
             fixed_match(w, 20, 301);
             fixed_end(w);
             return w.finish();
         },
         DecodeStatus::BadData, {}},
        {"fixed literal/length code 286 has no meaning",
         [] {
             BitWriter w;
             w.block_header(true, 1);
             fixed_literals(w, text("a"));
             fixed_symbol(w, 286);
             w.code(0, 5);
             fixed_end(w);
             return w.finish();
         },
         DecodeStatus::BadData, {}},
        {"fixed literal/length code 287 has no meaning",
         [] {
             BitWriter w;
             w.block_header(true, 1);
             fixed_literals(w, text("a"));
             fixed_symbol(w, 287);
             w.code(0, 5);
             fixed_end(w);
             return w.finish();
         },
         DecodeStatus::BadData, {}},
        {"fixed distance code 30 has no meaning",
         [] {
             BitWriter w;
             w.block_header(true, 1);
             fixed_literals(w, text("a"));
             fixed_symbol(w, 257);
             w.code(30, 5);
             fixed_end(w);
             return w.finish();
         },
         DecodeStatus::BadData, {}},
        {"fixed distance code 31 has no meaning",
         [] {
             BitWriter w;
             w.block_header(true, 1);
             fixed_literals(w, text("a"));
             fixed_symbol(w, 257);
             w.code(31, 5);
             fixed_end(w);
             return w.finish();
         },
         DecodeStatus::BadData, {}},
        {"the last-block flag never comes",
         [] {
             BitWriter w;
             w.block_header(false, 1);
             fixed_literals(w, text("abc"));
             fixed_end(w);
             return w.finish();
         },
         DecodeStatus::EndOfInput, {}},
        {"input ends inside a code",
         [] {
             BitWriter w;
             w.block_header(true, 1);
             fixed_literals(w, text("abcdefgh"));
             std::vector<uint8_t> bytes = w.finish();
             bytes.pop_back();
             return bytes;
         },
         DecodeStatus::EndOfInput, {}},
        {"no input at all", [] { return std::vector<uint8_t>{}; }, DecodeStatus::EndOfInput, {}},
        {"bytes after the final block are left alone",
         [] {
             BitWriter w;
             w.block_header(true, 1);
             fixed_literals(w, text("ok"));
             fixed_end(w);
             w.bytes(repeated(0xFF, 40));
             return w.finish();
         },
         DecodeStatus::Done, text("ok")},
        {"dynamic block", [] { return dynamic_stream(small_code()); }, DecodeStatus::Done, text("xyxyx")},
        {"dynamic block with HLIT 29 (286 codes, the most)",
         [] {
             DynamicCode c = small_code();
             c.litlen.resize(286, 0);
             return dynamic_stream(c);
         },
         DecodeStatus::Done, text("xyxyx")},
        {"dynamic block with HLIT 30 (287 codes)",
         [] {
             DynamicCode c = small_code();
             c.litlen.resize(287, 0);
             return dynamic_stream(c);
         },
         DecodeStatus::BadData, {}},
        {"dynamic block with HDIST 29 (30 codes, the most)",
         [] {
             DynamicCode c = small_code();
             c.distance.resize(30, 0);
             return dynamic_stream(c);
         },
         DecodeStatus::Done, text("xyxyx")},
        {"dynamic block with HDIST 30 (31 codes)",
         [] {
             DynamicCode c = small_code();
             c.distance.resize(31, 0);
             return dynamic_stream(c);
         },
         DecodeStatus::BadData, {}},
        {"incomplete literal/length code",
         [] {
             DynamicCode c = small_code();
             c.litlen[258] = 0;
             return dynamic_stream(c);
         },
         DecodeStatus::BadData, {}},
        {"over-subscribed literal/length code",
         [] {
             DynamicCode c = small_code();
             c.litlen[258] = 2;
             return dynamic_stream(c);
         },
         DecodeStatus::BadData, {}},
        {"literal/length code without end-of-block",
         [] {
             DynamicCode c = small_code();
             c.litlen[256] = 0;
             c.litlen[257] = 1;
             c.litlen[258] = 0;
             BitWriter w;
             dynamic_header(w, true, 259, 2, plain_ops(c.lengths()));
             c.symbol(w, 'x');
             return w.finish();
         },
         DecodeStatus::BadData, {}},
        {"a lone one-bit distance code counts as complete",
         [] {
             DynamicCode c = small_code();
             c.distance = {0, 1};
             return dynamic_stream(c);
         },
         DecodeStatus::Done, text("xyxyx")},
        {"incomplete distance code",
         [] {
             DynamicCode c = small_code();
             c.distance = {1, 2, 0};
             return dynamic_stream(c);
         },
         DecodeStatus::BadData, {}},
        {"over-subscribed distance code",
         [] {
             DynamicCode c = small_code();
             c.distance = {1, 1, 1};
             return dynamic_stream(c);
         },
         DecodeStatus::BadData, {}},
        {"no distance code: literals only",
         [] {
             DynamicCode c = small_code();
             c.distance = {0};
             BitWriter w;
             dynamic_header(w, true, 259, 1, plain_ops(c.lengths()));
             c.symbol(w, 'q');
             c.symbol(w, 256);
             return w.finish();
         },
         DecodeStatus::Done, text("q")},
        {"no distance code, yet a match",
         [] {
             DynamicCode c = small_code();
             c.distance = {0};
             BitWriter w;
             dynamic_header(w, true, 259, 1, plain_ops(c.lengths()));
             c.symbol(w, 'q');
             c.symbol(w, 257);
             w.bits(0, 16);
             return w.finish();
         },
         DecodeStatus::BadData, {}},
        {"zero runs ending exactly at the last length",
         [] {
             DynamicCode c = small_code();
             c.distance = {1, 1, 0, 0, 0};
             std::vector<CodeLengthOp> ops = plain_ops(c.litlen);
             ops.insert(ops.end(), {{1}, {1}, {17, 0}});
             return dynamic_stream(c, ops);
         },
         DecodeStatus::Done, text("xyxyx")},
        {"a zero run past the last length",
         [] {
             DynamicCode c = small_code();
             c.distance = {1, 1, 0, 0, 0};
             std::vector<CodeLengthOp> ops = plain_ops(c.litlen);
             ops.insert(ops.end(), {{1}, {1}, {17, 1}});
             return dynamic_stream(c, ops);
         },
         DecodeStatus::BadData, {}},
        {"a repeat of the previous length past the last length",
         [] {
             DynamicCode c = small_code();
             c.distance = {1, 1, 0, 0, 0};
             std::vector<CodeLengthOp> ops = plain_ops(c.litlen);
             ops.insert(ops.end(), {{1}, {1}, {0}, {16, 0}});
             return dynamic_stream(c, ops);
         },
         DecodeStatus::BadData, {}},
        {"repeats running from the literal/length into the distance lengths",
         [] {
             DynamicCode c = small_code();
             c.litlen[257] = 3;
             c.litlen[258] = 3;
             c.distance = {3, 3, 3, 3, 3, 3, 3, 3};  // eight 3-bit codes: complete
             std::vector<CodeLengthOp> ops = plain_ops(std::vector<uint8_t>(c.litlen.begin(), c.litlen.begin() + 257));
             ops.insert(ops.end(), {{3}, {16, 3}, {16, 0}});  // 257: 3, then 6 more (258 and five distances), then 3
             return dynamic_stream(c, ops);
         },
         DecodeStatus::Done, text("xyxyx")},
        {"a repeat as the very first code length repeats the length 0 it starts from",
         [] {
             DynamicCode c = small_code();
             c.litlen[0] = c.litlen[1] = c.litlen[2] = 0;
             c.litlen[3] = c.litlen[4] = c.litlen[5] = 8;  // keeps the code complete
             std::vector<CodeLengthOp> ops = {{16, 0}};
             const std::vector<uint8_t> all = c.lengths();
             for (size_t i = 3; i < all.size(); ++i) ops.push_back({all[i]});
             return dynamic_stream(c, ops);
         },
         DecodeStatus::Done, text("xyxyx")},
        {"incomplete code-length code",
         [] {
             BitWriter w;
             std::vector<uint8_t> precode = standard_precode();
             precode[14] = 0;
             dynamic_header(w, true, 259, 2, plain_ops(small_code().lengths()), precode);
             return w.finish();
         },
         DecodeStatus::BadData, {}},
        {"over-subscribed code-length code",
         [] {
             BitWriter w;
             std::vector<uint8_t> precode = standard_precode();
             precode[15] = 4;
             dynamic_header(w, true, 259, 2, plain_ops(small_code().lengths()), precode);
             return w.finish();
         },
         DecodeStatus::BadData, {}},
    };
    return cases;
}

struct Variant {
    Path path;
    size_t block_size;
    bool padded;  // 24 zero bytes after the stream, so the fast loop gets to run
};

class DeflateStreams : public ::testing::TestWithParam<Variant> {};

TEST_P(DeflateStreams, EachCaseHasItsOneOutcome) {
    const Variant v = GetParam();
    for (const StreamCase& c : stream_cases()) {
        SCOPED_TRACE(c.name);
        std::vector<uint8_t> stream = c.build();
        if (v.padded) {
            if (c.status == DecodeStatus::EndOfInput) continue;  // padding would feed it
            stream.resize(stream.size() + 24, 0);
        }
        const Decoded d = decode(stream, v.block_size, v.path);
        EXPECT_EQ(d.status, c.status);
        if (c.status == DecodeStatus::Done) {
            EXPECT_EQ(d.bytes, c.output);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(PathsAndBlocks, DeflateStreams,
                         ::testing::Values(Variant{Path::Fast, 16000, false}, Variant{Path::Fast, 16000, true},
                                           Variant{Path::Fast, 1, false}, Variant{Path::Fast, 1, true},
                                           Variant{Path::Fast, 7, true}, Variant{Path::FastBaseline, 16000, true},
                                           Variant{Path::FastBaseline, 7, true}, Variant{Path::Careful, 16000, false},
                                           Variant{Path::Careful, 16000, true}, Variant{Path::Careful, 1, false}));

// --- code shapes at the table widths' extremes ---------------------------------
//
// The first levels are 11 bits wide (literal/length) and 8 (distance): shorter
// codes are repeated across the first level, longer ones go through sub-tables.
// Each shape below is a complete dynamic code; its block uses every literal,
// length code and distance code the code defines, in shuffled order, so each
// entry is read with varied bits after it, by each path and with the input whole
// or a byte at a time. The expected bytes are worked out here, independently.

// A code-length code reaching 15: 0..12 on four bits, 13..18 on five (complete).
std::vector<uint8_t> full_precode() {
    std::vector<uint8_t> p(19, 4);
    std::fill(p.begin() + 13, p.end(), uint8_t{5});
    return p;
}

// `count` lengths of a complete code: `prefixes` first-level entries of a
// `root`-bit table filled by codes of `long_length`, the rest of the space by
// shorter codes (the fewest that fit, split until there are enough), handed to
// the symbols in a scattered order so each kind of symbol gets several lengths.
std::vector<uint8_t> complete_lengths(unsigned count, unsigned root, unsigned prefixes, unsigned long_length) {
    std::vector<uint8_t> lengths(prefixes << (long_length - root), static_cast<uint8_t>(long_length));
    const unsigned rest = (1u << root) - prefixes;
    std::vector<uint8_t> short_codes;
    for (unsigned bit = 0; bit < root; ++bit)
        if (rest & (1u << bit)) short_codes.push_back(static_cast<uint8_t>(root - bit));
    while (lengths.size() + short_codes.size() < count) {
        auto shortest = std::min_element(short_codes.begin(), short_codes.end());
        const uint8_t split = static_cast<uint8_t>(*shortest + 1);
        *shortest = split;
        short_codes.push_back(split);
    }
    lengths.insert(lengths.end(), short_codes.begin(), short_codes.end());
    EXPECT_EQ(lengths.size(), count) << "no such code";
    std::vector<uint8_t> scattered(count);
    for (unsigned i = 0; i < count; ++i) scattered[(i * 97u) % count] = lengths[i];  // 97 shares no factor with 286 or 30
    return scattered;
}

// Lengths 1, 2, ..., 14, 15, 15 for the given symbols (complete), zero elsewhere.
std::vector<uint8_t> one_to_fifteen(unsigned count, const std::vector<unsigned>& symbols) {
    std::vector<uint8_t> lengths(count, 0);
    for (size_t i = 0; i < symbols.size(); ++i) lengths[symbols[i]] = static_cast<uint8_t>(std::min<size_t>(i + 1, 15));
    return lengths;
}

// One dynamic block over the code, and the bytes it stands for.
std::pair<std::vector<uint8_t>, std::vector<uint8_t>> block_using_every_code(const DynamicCode& c) {
    std::mt19937 rng(1951);
    std::vector<unsigned> literals, length_symbols, distance_codes;
    for (unsigned s = 0; s < 256; ++s)
        if (c.litlen[s]) literals.push_back(s);
    for (unsigned s = 257; s < c.litlen.size(); ++s)
        if (c.litlen[s]) length_symbols.push_back(s);
    for (unsigned d = 0; d < c.distance.size(); ++d)
        if (c.distance[d]) distance_codes.push_back(d);
    // The lengths each length symbol stands for; the farthest distance of each code.
    std::vector<std::vector<unsigned>> lengths_of(286);
    for (unsigned length = 3; length <= 258; ++length) lengths_of[length_code(length).code].push_back(length);
    std::vector<unsigned> farthest(30);
    for (unsigned d = 1; d <= 32768; ++d) farthest[distance_code(d).code] = d;

    struct Op {
        unsigned literal_or_length;  // < 256: a literal; else the match length
        unsigned distance;
    };
    auto any = [&](const std::vector<unsigned>& v) { return v[rng() % v.size()]; };
    auto length_of = [&](unsigned symbol) { return any(lengths_of[symbol]); };
    std::vector<Op> ops;
    for (unsigned s : literals) ops.push_back({s, 0});
    for (unsigned s : length_symbols) ops.push_back({length_of(s), farthest[any(distance_codes)]});
    for (unsigned d : distance_codes) ops.push_back({length_of(any(length_symbols)), farthest[d]});
    std::shuffle(ops.begin(), ops.end(), rng);

    BitWriter w;
    dynamic_header(w, true, static_cast<unsigned>(c.litlen.size()), static_cast<unsigned>(c.distance.size()),
                   plain_ops(c.lengths()), full_precode());
    std::vector<uint8_t> out;
    while (out.size() < 32768) {  // history for the farthest distance
        out.push_back(static_cast<uint8_t>(any(literals)));
        c.symbol(w, out.back());
    }
    for (const Op& op : ops) {
        if (op.distance == 0) {
            out.push_back(static_cast<uint8_t>(op.literal_or_length));
            c.symbol(w, op.literal_or_length);
            continue;
        }
        c.match(w, op.literal_or_length, op.distance);
        for (unsigned i = 0; i < op.literal_or_length; ++i) out.push_back(out[out.size() - op.distance]);
    }
    c.symbol(w, 256);
    return {w.finish(), out};
}

struct CodeShape {
    const char* why;
    DynamicCode code;
};

TEST(InflateCodeShapes, EveryCodeOfEachShapeDecodesOnEveryPath) {
    const std::vector<unsigned> spread_litlen = {'e', 't', 257, 'a', 'o', 'i', 285, 'n', 's', 'h', 'r', 'd', 270, 'l', 256, 'u'};
    const std::vector<unsigned> spread_distance = {4, 0, 29, 1, 2, 3, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14};
    const CodeShape shapes[] = {
        {"one-bit and fifteen-bit codes in both codes (a 1-bit entry fills half the first level)",
         {one_to_fifteen(286, spread_litlen), one_to_fifteen(30, spread_distance)}},
        {"the most sub-tables: 139 first-level entries each lead to two 12-bit codes, 12 to two 9-bit distance codes",
         {complete_lengths(286, 11, 139, 12), complete_lengths(30, 8, 12, 9)}},
        {"the widest sub-tables: 17 first-level entries each lead to sixteen 15-bit codes",
         {complete_lengths(286, 11, 17, 15), one_to_fifteen(30, spread_distance)}},
        {"codes exactly as wide as the first levels: 200 of 11 bits, 20 distance codes of 8",
         {complete_lengths(286, 11, 200, 11), complete_lengths(30, 8, 20, 8)}},
    };
    for (const CodeShape& shape : shapes) {
        SCOPED_TRACE(shape.why);
        const auto [stream, expected] = block_using_every_code(shape.code);
        for (Path path : kAllPaths) {
            SCOPED_TRACE(path_name(path));
            for (size_t block_size : {size_t{16000}, size_t{1}}) {
                const Decoded d = decode(stream, block_size, path);
                EXPECT_EQ(d.status, DecodeStatus::Done) << block_size;
                EXPECT_TRUE(d.bytes == expected) << block_size;
            }
        }
    }
}

// Matches at the short distances (1 to 7 repeat a pattern shorter than a word)
// and just past them, at lengths around the word and the fast loop's 40-byte copy,
// one after another as a literal changes the bytes they repeat.
TEST(InflateMatches, ShortDistancesRepeatTheirPatternAtEveryLength) {
    BitWriter w;
    w.block_header(true, 1);
    std::vector<uint8_t> expected = text("0123456789");
    fixed_literals(w, expected);
    for (unsigned distance = 1; distance <= 9; ++distance) {
        for (unsigned length : {3, 4, 5, 7, 8, 9, 13, 16, 17, 24, 40, 41, 100, 258}) {
            fixed_match(w, length, distance);
            for (unsigned i = 0; i < length; ++i) expected.push_back(expected[expected.size() - distance]);
            const uint8_t changed = static_cast<uint8_t>('a' + (length + distance) % 26);
            fixed_literals(w, {changed});
            expected.push_back(changed);
        }
    }
    fixed_end(w);
    std::vector<uint8_t> stream = w.finish();
    stream.resize(stream.size() + 24, 0);  // so the fast loop decodes up to the end-of-block code
    for (Path path : kAllPaths) {
        SCOPED_TRACE(path_name(path));
        const Decoded d = decode(stream, 16000, path);
        EXPECT_EQ(d.status, DecodeStatus::Done);
        EXPECT_TRUE(d.bytes == expected);
    }
}

// --- output size and the window ------------------------------------------------

std::vector<uint8_t> pattern(size_t n) {
    std::vector<uint8_t> bytes(n);
    uint32_t x = 12345;
    for (auto& b : bytes) {
        x = x * 1103515245 + 12345;
        b = static_cast<uint8_t>(x >> 24);
    }
    return bytes;
}

// Stored blocks of at most 65535 bytes each.
std::vector<uint8_t> stored_stream(const std::vector<uint8_t>& data) {
    BitWriter w;
    size_t at = 0;
    do {
        const size_t n = std::min<size_t>(65535, data.size() - at);
        w.block_header(at + n == data.size(), 0).align().bits(static_cast<uint32_t>(n), 16).bits(0xFFFF ^ static_cast<uint32_t>(n), 16);
        w.bytes(std::vector<uint8_t>(data.begin() + at, data.begin() + at + n));
        at += n;
    } while (at < data.size());
    return w.finish();
}

TEST(InflateOutput, MultiplesOfTheWindowComeOutWhole) {
    for (size_t k : {1, 2, 3, 9}) {
        SCOPED_TRACE(k);
        const std::vector<uint8_t> data = pattern(k * 32768);
        for (int64_t stated_size : {static_cast<int64_t>(data.size()), int64_t{0}}) {
            const Decoded d = decode(stored_stream(data), 16000, Path::Fast, stated_size);
            EXPECT_EQ(d.status, DecodeStatus::Done);
            EXPECT_EQ(d.bytes, data);
        }
    }
}

TEST(InflateOutput, RunsOfMatchesAcrossManyWindowsAndSlides) {
    // 'z' then 4000 matches of 258 at distance 1: 1032001 bytes, several slides
    // of the working buffer with matches straddling each.
    BitWriter w;
    w.block_header(true, 1);
    fixed_literals(w, text("z"));
    for (int i = 0; i < 4000; ++i) fixed_match(w, 258, 1);
    fixed_end(w);
    const std::vector<uint8_t> stream = w.finish();
    for (Path path : kAllPaths) {
        const Decoded d = decode(stream, 16000, path, 1000);  // a stated size far too small is only a hint
        EXPECT_EQ(d.status, DecodeStatus::Done);
        EXPECT_EQ(d.bytes, repeated('z', 1 + 4000 * 258));
    }
}

TEST(InflateOutput, TheWriterRefusingMoreEndsDecodingAsOutputFull) {
    BitWriter w;
    w.block_header(true, 1);
    fixed_literals(w, text("z"));
    for (int i = 0; i < 1000; ++i) fixed_match(w, 258, 1);
    fixed_end(w);
    const std::vector<uint8_t> stream = w.finish();
    MemoryInput input(stream, 16000);
    MemoryOutput output(100000);
    std::vector<uint8_t> window(32780);
    DecodeJob job{input, output, window, 0, static_cast<int64_t>(stream.size()), 100000};
    EXPECT_EQ(inflate(job), DecodeStatus::OutputFull);
    EXPECT_LE(output.bytes.size(), 100000u);
    EXPECT_EQ(output.bytes, repeated('z', output.bytes.size()));
}

TEST(InflateOutput, AnEntryNeverSeesThePreviousEntrysBytes) {
    // The window is shared by the entries of one extraction and not cleared: the
    // first symbol of the second entry, a match, must not copy the first entry's bytes.
    std::vector<uint8_t> window(32780);
    BitWriter first;
    first.block_header(true, 1);
    fixed_literals(first, text("secret"));
    fixed_end(first);
    BitWriter second;
    second.block_header(true, 1);
    fixed_match(second, 6, 6);
    fixed_end(second);
    const std::vector<uint8_t> streams[2] = {first.finish(), second.finish()};
    DecodeStatus statuses[2];
    for (int i = 0; i < 2; ++i) {
        MemoryInput input(streams[i], 16000);
        MemoryOutput output;
        DecodeJob job{input, output, window, 0, static_cast<int64_t>(streams[i].size()), 6};
        statuses[i] = inflate(job);
    }
    EXPECT_EQ(statuses[0], DecodeStatus::Done);
    EXPECT_EQ(statuses[1], DecodeStatus::BadData);
}

TEST(InflateInput, NothingIsAskedForAfterTheEmptyBlock) {
    // The last-block flag never comes: the decoder stops at the first empty block
    // instead of inventing bits (the old reader repeated its last byte forever).
    BitWriter w;
    w.block_header(false, 1);
    fixed_literals(w, text("abc"));
    fixed_end(w);
    const std::vector<uint8_t> stream = w.finish();
    MemoryInput input(stream, 2);
    MemoryOutput output;
    std::vector<uint8_t> window(32780);
    DecodeJob job{input, output, window, 0, static_cast<int64_t>(stream.size()), 3};
    EXPECT_EQ(inflate(job), DecodeStatus::EndOfInput);
    EXPECT_EQ(input.calls_after_end(), 1u);
    EXPECT_TRUE(output.bytes.empty());
}

// The decoder only says how it ended; the driver tells the user (in a box, or
// through its OnZipProblem event).
TEST(InflateMemory, AFailedAllocationEndsTheEntryWithoutABox) {
    BitWriter w;
    w.block_header(true, 1);
    fixed_literals(w, text("abc"));
    fixed_end(w);
    const std::vector<uint8_t> stream = w.finish();
    MemoryInput input(stream, 16000);
    MemoryOutput output;
    std::vector<uint8_t> window(32780);
    DecodeJob job{input, output, window, 0, static_cast<int64_t>(stream.size()), 3};

    EXPECT_EQ(inflate_with(job, InflateOptions{true, 4096}), DecodeStatus::OutOfMemory);
    EXPECT_TRUE(output.bytes.empty());

    MemoryInput again(stream, 16000);
    DecodeJob enough{again, output, window, 0, static_cast<int64_t>(stream.size()), 3};
    EXPECT_EQ(inflate_with(enough, InflateOptions{true, 1u << 20}), DecodeStatus::Done);  // the whole need, well under 1 MiB
}

}  // namespace
}  // namespace kalv::unzip
