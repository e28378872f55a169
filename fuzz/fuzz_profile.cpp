// The profile-file reader (NET.INF under the profile API's rules) on arbitrary bytes.
//
// Input: one byte choosing the caller's buffer size, one byte choosing the names
// asked for, then the file's content. With the names byte's top bit set, the section
// and key names are taken from the first two lines of the content instead, so odd
// names (blanks, brackets, "=", zero bytes) are tried as well. Checked:
//   - the value fits the caller's buffer (buffer_size - 1 characters at most);
//   - a smaller buffer gives a prefix of what a larger one gives;
//   - names match without regard to case;
//   - a key that appears nowhere in the file gives the default.
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/profile_text.h"

namespace {

void check(bool ok, const char* rule) {
    if (!ok) {
        std::fprintf(stderr, "profile reader broke a rule: %s\n", rule);
        abort();
    }
}

std::string swap_case(std::string_view s) {
    std::string out(s);
    for (char& c : out) {
        unsigned char u = static_cast<unsigned char>(c);
        if (u < 128 && std::isupper(u)) c = static_cast<char>(std::tolower(u));
        else if (u < 128 && std::islower(u)) c = static_cast<char>(std::toupper(u));
    }
    return out;
}

bool contains_ignoring_case(std::string_view hay, std::string_view needle) {
    auto lower = [](char c) {
        unsigned char u = static_cast<unsigned char>(c);
        return u < 128 ? static_cast<char>(std::tolower(u)) : c;
    };
    return std::search(hay.begin(), hay.end(), needle.begin(), needle.end(),
                       [&](char a, char b) { return lower(a) == lower(b); }) != hay.end();
}

std::string_view trimmed(std::string_view s) {
    while (!s.empty() && static_cast<unsigned char>(s.front()) <= ' ') s.remove_prefix(1);
    while (!s.empty() && static_cast<unsigned char>(s.back()) <= ' ') s.remove_suffix(1);
    return s;
}

std::string_view take_line(std::string_view& rest) {
    size_t end = rest.find('\n');
    std::string_view line = rest.substr(0, end);
    rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
    return line;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    const size_t buffer_size = data[0] == 255 ? 2048 : data[0];
    const uint8_t names = data[1];
    std::string_view content(reinterpret_cast<const char*>(data + 2), size - 2);

    std::string_view section = "DB", key = "Upgrade";
    if (names & 0x80) {
        section = take_line(content);
        key = take_line(content);
    } else if (names & 1) {
        section = "Other";
        key = "Key";
    }
    const std::string_view default_value = (names & 2) ? "Kalvo3pack  " : "Kalvo3pack";

    using kalv::platform::profile_value;
    const std::string value = profile_value(content, section, key, default_value, buffer_size);
    check(value.size() <= (buffer_size == 0 ? 0 : buffer_size - 1), "the value fits the buffer");

    const std::string wide = profile_value(content, section, key, default_value, 4096);
    check(wide.compare(0, value.size(), value) == 0, "a smaller buffer gives a prefix");

    check(profile_value(content, swap_case(section), swap_case(key), default_value, 4096) == wide,
          "names match without regard to case");

    // The reader trims blanks and control characters off the asked names, as off the file's.
    if (!trimmed(key).empty() && !contains_ignoring_case(content, trimmed(key)))
        check(wide == profile_value("", section, key, default_value, 4096), "a missing key gives the default");
    return 0;
}
