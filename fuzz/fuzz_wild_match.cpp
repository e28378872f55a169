// The wildcard matcher of FilesList lines on arbitrary patterns and entry names
// (the name comes from the archive). Input: one byte giving the pattern's length,
// the pattern, then the subject. Checked, besides running to an end:
//   - letter case never matters, on either side;
//   - "*" matches every subject;
//   - a pattern without "*", "?" or "<" matches exactly the subjects equal to it
//     without regard to ASCII case;
//   - a subject matches itself when it holds none of those characters.
#include <cstdlib>
#include <string>

#include "unzip/wild_match.h"

namespace {

void check(bool ok) {
    if (!ok) abort();
}

std::string ascii_upper(std::string s) {
    for (char& c : s)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return s;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    size_t pattern_length = std::min<size_t>(data[0], size - 1);
    const std::string pattern(reinterpret_cast<const char*>(data + 1), pattern_length);
    const std::string subject(reinterpret_cast<const char*>(data + 1 + pattern_length), size - 1 - pattern_length);
    using kalv::unzip::ascii_lower;
    using kalv::unzip::MatchesPattern;

    const bool match = MatchesPattern(pattern, subject);
    check(MatchesPattern(ascii_upper(pattern), ascii_lower(subject)) == match);
    check(MatchesPattern(ascii_lower(pattern), ascii_upper(subject)) == match);
    check(MatchesPattern("*", subject));

    const bool plain_pattern = pattern.find_first_of("*?<") == std::string::npos;
    if (plain_pattern) check(match == (ascii_lower(pattern) == ascii_lower(subject)));
    if (subject.find_first_of("*?<") == std::string::npos) check(MatchesPattern(subject, subject));
    return 0;
}
