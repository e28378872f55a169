#include "launcher/ini_document.h"

#include "core/text.h"

namespace kalv::launcher {

namespace {

// The name of a "name=value" line; a line without "=" has an empty name.
std::string_view name_of(std::string_view line) {
    const size_t equals = line.find('=');
    return equals == std::string_view::npos ? std::string_view{} : line.substr(0, equals);
}

bool needs_quotes(std::string_view line) {
    for (char c : line)
        if (is_blank(c) || c == '"' || c == ',') return true;
    return false;
}

}  // namespace

IniDocument IniDocument::parse(std::string_view text) {
    text = text.substr(0, text.find('\0'));
    IniDocument document;
    Section* current = nullptr;
    size_t pos = 0;
    while (pos < text.size()) {
        // CR, LF and CR LF each end a line.
        size_t end = text.find_first_of("\r\n", pos);
        if (end == std::string_view::npos) end = text.size();
        const std::string_view line = trim(text.substr(pos, end - pos));
        pos = end + ((end + 1 < text.size() && text[end] == '\r' && text[end + 1] == '\n') ? 2 : 1);
        if (line.empty() || line.front() == ';') continue;
        if (line.size() >= 2 && line.front() == '[' && line.back() == ']') {
            document.sections_.push_back({std::string(line.substr(1, line.size() - 2)), {}});
            current = &document.sections_.back();
        } else if (current) {
            current->lines.emplace_back(line);
        }
    }
    return document;
}

IniDocument::Section& IniDocument::section_named(std::string_view name) {
    for (Section& section : sections_)
        if (same_name(section.name, name)) return section;
    sections_.push_back({std::string(name), {}});
    return sections_.back();
}

void IniDocument::write_string(std::string_view section, std::string_view key, std::string_view value) {
    Section& target = section_named(section);
    std::string line = std::string(key) + "=" + std::string(value);
    for (std::string& existing : target.lines) {
        if (same_name(name_of(existing), key)) {
            existing = std::move(line);
            return;
        }
    }
    target.lines.push_back(std::move(line));
}

std::vector<std::string> IniDocument::lines() const {
    std::vector<std::string> out;
    for (const Section& section : sections_) {
        out.push_back("[" + section.name + "]");
        out.insert(out.end(), section.lines.begin(), section.lines.end());
        out.emplace_back();
    }
    return out;
}

std::string CommaText(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines) {
        if (needs_quotes(line)) {
            text += '"';
            for (char c : line) {
                if (c == '"') text += '"';
                text += c;
            }
            text += '"';
        } else {
            text += line;
        }
        text += ',';
    }
    if (!text.empty()) text.pop_back();
    return text;
}

}  // namespace kalv::launcher
