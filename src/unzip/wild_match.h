// Wildcard matching of entry names against FilesList lines.
//
//   *        any run of characters (also empty, also across path delimiters)
//   ?        exactly one character
//   <abc>    one character of the set; <a-f> a range of byte values; <!..> or <^..>
//            inverts the set
//   *<set>   a run of one or more characters that all belong to the set
//   other    itself ("\", ".", ":" included; there is no escape character)
//
// Letter case never matters (ASCII letters only). A malformed set (empty, without
// its ">", a range running into ">" or the end) matches nothing.
#pragma once

#include <string>

namespace kalv::unzip {

bool MatchesPattern(const std::string& pattern, const std::string& subject);

// ASCII letters lowered, every other byte kept.
std::string ascii_lower(std::string text);

}  // namespace kalv::unzip
