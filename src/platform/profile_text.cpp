#include "platform/profile_text.h"

#include "core/text.h"

#include <optional>
#include <vector>

namespace kalv::platform {

namespace {

std::string_view strip_one_pair_of_quotes(std::string_view value) {
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
        return value.substr(1, value.size() - 2);
    return value;
}

std::string cut_to_buffer(std::string_view value, size_t buffer_size) {
    if (buffer_size == 0) return {};
    return std::string(value.substr(0, buffer_size - 1));
}

// A UTF-8 byte-order mark (as Notepad writes) is no part of the first line.
std::string_view without_bom(std::string_view content) {
    constexpr std::string_view kBom = "\xEF\xBB\xBF";
    return content.substr(0, kBom.size()) == kBom ? content.substr(kBom.size()) : content;
}

// Calls visit(name, line after the name) for each key line of the first section named
// `section`, until it returns true; the rest is nullopt for a line without "=". False
// when there is no such section.
template <typename Visit>
bool scan_section(std::string_view content, std::string_view section, Visit visit) {
    content = without_bom(content);
    const std::string_view wanted_section = trim(section);
    bool in_section = false, section_seen = false;
    size_t pos = 0;
    while (pos < content.size()) {
        size_t end = content.find('\n', pos);
        if (end == std::string_view::npos) end = content.size();
        const std::string_view line = trim(content.substr(pos, end - pos));
        pos = end + 1;
        if (line.empty() || line.front() == ';') continue;
        if (line.front() == '[') {
            // Only the first section of a name counts; a later one of the same name
            // is passed over like any other.
            if (in_section) return true;
            const size_t close = line.rfind(']');
            const std::string_view name =
                trim(close == std::string_view::npos ? line.substr(1) : line.substr(1, close - 1));
            in_section = !section_seen && same_name(name, wanted_section);
            section_seen = section_seen || in_section;
            continue;
        }
        if (!in_section) continue;
        const size_t equals = line.find('=');
        const std::optional<std::string_view> rest =
            equals == std::string_view::npos ? std::nullopt : std::optional(trim(line.substr(equals + 1)));
        if (visit(trim(line.substr(0, equals)), rest)) return true;
    }
    return section_seen;
}

std::optional<std::string_view> find_value(std::string_view content, std::string_view section,
                                           std::string_view key) {
    const std::string_view wanted_key = trim(key);
    std::optional<std::string_view> found;
    scan_section(content, section, [&](std::string_view name, std::optional<std::string_view> rest) {
        if (!same_name(name, wanted_key)) return false;
        found = rest.value_or(std::string_view{});
        return true;
    });
    return found;
}

}  // namespace

std::string profile_value(std::string_view content, std::string_view section, std::string_view key,
                          std::string_view default_value, size_t buffer_size) {
    if (const auto value = find_value(content, section, key))
        return cut_to_buffer(strip_one_pair_of_quotes(*value), buffer_size);
    std::string_view fallback = default_value;
    while (!fallback.empty() && fallback.back() == ' ') fallback.remove_suffix(1);
    return cut_to_buffer(fallback, buffer_size);
}


std::optional<std::vector<std::string>> profile_section_keys(std::string_view content, std::string_view section) {
    std::vector<std::string> keys;
    const bool found = scan_section(content, section, [&](std::string_view name, std::optional<std::string_view>) {
        keys.emplace_back(name);
        return false;
    });
    if (!found) return std::nullopt;
    return keys;
}

}  // namespace kalv::platform
