// An in-memory INI document: an ordered list of sections, each an ordered list of lines
// "key=value", as the start token is built from. Names compare without regard to case
// (ASCII letters). It is never written back anywhere.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace kalv::launcher {

class IniDocument {
public:
    IniDocument() = default;
    // Starts with the sections of an INI text: a trimmed line "[name]" opens a section;
    // empty lines, lines starting with ";" and lines before the first section are
    // dropped; the other lines are kept trimmed. The text ends at its first zero byte.
    static IniDocument parse(std::string_view text);

    // The section is appended when missing, the key appended at its section's end when
    // missing; an existing key's line is replaced in place by key=value.
    void write_string(std::string_view section, std::string_view key, std::string_view value);

    // For each section: "[name]", its lines, one empty line.
    std::vector<std::string> lines() const;

private:
    struct Section {
        std::string name;
        std::vector<std::string> lines;
    };
    Section& section_named(std::string_view name);

    std::vector<Section> sections_;
};

// The lines joined into comma text: a line holding a character from 0 to 32, a double
// quote or a comma is enclosed in double quotes with its own quotes doubled; every line
// is followed by a comma and the very last character is then removed.
std::string CommaText(const std::vector<std::string>& lines);

}  // namespace kalv::launcher
