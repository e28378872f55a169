#include "unzip/wild_match.h"

#include <bitset>
#include <optional>
#include <vector>

namespace kalv::unzip {

namespace {

// One step of a pattern, parsed ahead so that matching never backtracks.
struct Token {
    enum Kind { Literal, AnyOne, AnyRun, Set, SetRun } kind;
    unsigned char literal = 0;
    std::bitset<256> set;  // for Set and SetRun, already inverted when asked
};

// Parses "<...>" starting after the "<" at `i`; leaves `i` after the ">".
std::optional<std::bitset<256>> parse_set(const std::string& p, size_t& i) {
    std::bitset<256> set;
    bool invert = false;
    if (i < p.size() && (p[i] == '!' || p[i] == '^')) {
        invert = true;
        ++i;
    }
    bool empty = true;
    while (i < p.size() && p[i] != '>') {
        const auto from = static_cast<unsigned char>(p[i]);
        if (i + 1 < p.size() && p[i + 1] == '-') {
            if (i + 2 >= p.size() || p[i + 2] == '>') return std::nullopt;  // range runs out
            const auto to = static_cast<unsigned char>(p[i + 2]);
            for (unsigned c = from; c <= to; ++c) set.set(c);  // high to low: nothing
            i += 3;
        } else {
            set.set(from);
            ++i;
        }
        empty = false;
    }
    if (i >= p.size() || empty) return std::nullopt;  // no ">", or "<>"
    ++i;
    if (invert) set.flip();
    return set;
}

std::optional<std::vector<Token>> parse(const std::string& pattern) {
    std::vector<Token> tokens;
    size_t i = 0;
    while (i < pattern.size()) {
        const char c = pattern[i++];
        if (c == '*') {
            if (i < pattern.size() && pattern[i] == '<') {
                ++i;
                auto set = parse_set(pattern, i);
                if (!set) return std::nullopt;
                tokens.push_back({Token::SetRun, 0, *set});
            } else {
                tokens.push_back({Token::AnyRun, 0, {}});
            }
        } else if (c == '?') {
            tokens.push_back({Token::AnyOne, 0, {}});
        } else if (c == '<') {
            auto set = parse_set(pattern, i);
            if (!set) return std::nullopt;
            tokens.push_back({Token::Set, 0, *set});
        } else {
            tokens.push_back({Token::Literal, static_cast<unsigned char>(c), {}});
        }
    }
    return tokens;
}

}  // namespace

std::string ascii_lower(std::string text) {
    for (char& c : text)
        if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
    return text;
}

bool MatchesPattern(const std::string& pattern, const std::string& subject) {
    const auto tokens = parse(ascii_lower(pattern));
    if (!tokens) return false;
    const std::string s = ascii_lower(subject);
    const size_t n = s.size();
    // reach[j]: the tokens so far can consume exactly the first j subject bytes.
    // One pass per token keeps the cost at tokens x subject, whatever the stars.
    std::vector<char> reach(n + 1, 0), next(n + 1, 0);
    reach[0] = 1;
    for (const Token& t : *tokens) {
        std::fill(next.begin(), next.end(), 0);
        switch (t.kind) {
            case Token::Literal:
            case Token::AnyOne:
            case Token::Set:
                for (size_t j = 0; j < n; ++j) {
                    if (!reach[j]) continue;
                    const auto c = static_cast<unsigned char>(s[j]);
                    const bool ok = t.kind == Token::AnyOne || (t.kind == Token::Literal ? c == t.literal : t.set[c]);
                    if (ok) next[j + 1] = 1;
                }
                break;
            case Token::AnyRun: {
                char any = 0;
                for (size_t j = 0; j <= n; ++j) {
                    any |= reach[j];
                    next[j] = any;
                }
                break;
            }
            case Token::SetRun:
                for (size_t j = 1; j <= n; ++j) {
                    const auto c = static_cast<unsigned char>(s[j - 1]);
                    if (t.set[c] && (reach[j - 1] || next[j - 1])) next[j] = 1;
                }
                break;
        }
        reach.swap(next);
    }
    return reach[n] != 0;
}

}  // namespace kalv::unzip
