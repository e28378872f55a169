#include "doctor_report.h"

#include <algorithm>
#include <cstdio>

#include "core/dos_time.h"
#include "core/errors.h"
#include "core/printable.h"
#include "platform/platform.h"

namespace kalvtool::doctor {

void Report::line(Level level, const std::string& subject, const std::string& finding, const std::string& hint) {
    static const char* const kWords[] = {"OK", "WARN", "FAIL"};
    const auto index = static_cast<size_t>(level);
    ++counts_[index];
    // Findings name files, NET.INF's values and the log's lines: none reaches the
    // terminal with its control characters.
    std::printf("%-4s  %s: %s%s%s\n", kWords[index], kalv::printable(subject).c_str(), kalv::printable(finding).c_str(),
                hint.empty() ? "" : ". ", kalv::printable(hint).c_str());
}

void Report::detail(const std::string& text) {
    size_t start = 0;
    while (start < text.size()) {
        const size_t end = std::min(text.find('\n', start), text.size());
        std::printf("      | %s\n", kalv::printable(text.substr(start, end - start)).c_str());
        start = end + 1;
    }
}

void Report::summary(const std::string& dir) const {
    std::printf("checked %s: %d OK, %d WARN, %d FAIL\n", kalv::printable(dir).c_str(), counts_[0], counts_[1],
                counts_[2]);
}

int Report::exit_code() const { return counts_[2] ? 2 : counts_[1] ? 1 : 0; }

std::optional<int64_t> file_size(kalv::platform::FileSystem& files, const std::string& path) {
    auto opened = files.open(path, kalv::platform::OpenMode::ReadShared);
    if (!opened) return std::nullopt;
    return (*opened)->size();
}

std::string dos_date_text(int32_t age) {
    const kalv::DosFields t = kalv::unpack_dos(static_cast<uint32_t>(age));
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", t.year, t.month, t.day, t.hour, t.minute,
                  t.second);
    return text;
}

std::string size_and_date(kalv::platform::FileSystem& files, const std::string& path) {
    return size_and_date(file_size(files, path), files.file_age(path));
}

std::string size_and_date(std::optional<int64_t> size, int32_t age) {
    std::string text = !size ? std::string("unreadable") : *size == 1 ? std::string("1 byte") : std::to_string(*size) + " bytes";
    return text + ", dated " + (age == -1 ? std::string("before 1980 or after 2107") : dos_date_text(age));
}

std::string amount(uint64_t bytes) {
    if (bytes < 10 * 1024) return std::to_string(bytes) + " bytes";
    char text[32];
    if (bytes < static_cast<uint64_t>(10) << 30) {
        std::snprintf(text, sizeof text, "%.1f MiB", double(bytes) / double(1 << 20));
    } else {
        std::snprintf(text, sizeof text, "%.1f GiB", double(bytes) / double(1 << 30));
    }
    return text;
}

std::string last_run_block(const std::string& log) {
    size_t start = std::string::npos;
    for (size_t at = 0; at < log.size();) {
        if (log.compare(at, 4, "=== ") == 0) start = at;
        const size_t newline = log.find('\n', at);
        if (newline == std::string::npos) break;
        at = newline + 1;
    }
    if (start == std::string::npos) return {};
    std::string block = log.substr(start);
    block.erase(std::remove(block.begin(), block.end(), '\r'), block.end());
    while (!block.empty() && block.back() == '\n') block.pop_back();
    return block;
}

std::optional<std::string> read_whole_file(kalv::platform::FileSystem& files, const std::string& path) {
    auto opened = files.open(path, kalv::platform::OpenMode::ReadShared);
    if (!opened) return std::nullopt;
    std::string content;
    char buffer[16384];
    for (size_t n; (n = (*opened)->read(buffer, sizeof buffer)) > 0;) content.append(buffer, n);
    return content;
}

}  // namespace kalvtool::doctor
