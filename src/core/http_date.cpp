#include "core/http_date.h"

#include <array>
#include <cstdio>

#include "core/civil_date.h"

namespace kalv {

namespace {

constexpr std::array<const char*, 12> kMonths = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                 "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
constexpr std::array<const char*, 7> kWeekdays = {"Thu", "Fri", "Sat", "Sun", "Mon", "Tue", "Wed"};  // from 1970-01-01
constexpr int64_t kSecondsPerDay = 86400;

int days_in_month(int64_t year, int month) {
    static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return month == 2 && leap ? 29 : kDays[month - 1];
}

// A small reader over the text: each step takes one field or fails.
class Fields {
public:
    explicit Fields(std::string_view text) : text_(text) {}

    bool literal(std::string_view expected) {
        if (text_.substr(0, expected.size()) != expected) return false;
        text_.remove_prefix(expected.size());
        return true;
    }
    // Exactly `width` digits (with `pad_blank`, a leading blank may stand for a zero).
    bool digits(size_t width, int64_t& out, bool pad_blank = false) {
        if (text_.size() < width) return false;
        out = 0;
        for (size_t i = 0; i < width; ++i) {
            const char c = text_[i];
            if (c == ' ' && pad_blank && i == 0 && width > 1) continue;
            if (c < '0' || c > '9') return false;
            out = out * 10 + (c - '0');
        }
        text_.remove_prefix(width);
        return true;
    }
    bool month(int& out) {
        for (size_t i = 0; i < kMonths.size(); ++i)
            if (literal(kMonths[i])) {
                out = static_cast<int>(i) + 1;
                return true;
            }
        return false;
    }
    // A weekday's name, short or long, then `after`.
    bool weekday(std::string_view after) {
        const size_t end = text_.find(after);
        if (end == std::string_view::npos || end < 3 || end > 9) return false;
        for (size_t i = 0; i < end; ++i)
            if (!((text_[i] >= 'A' && text_[i] <= 'Z') || (text_[i] >= 'a' && text_[i] <= 'z'))) return false;
        text_.remove_prefix(end + after.size());
        return true;
    }
    bool time(int64_t& h, int64_t& m, int64_t& s) {
        return digits(2, h) && literal(":") && digits(2, m) && literal(":") && digits(2, s);
    }
    bool done() const { return text_.empty(); }

private:
    std::string_view text_;
};

std::optional<int64_t> seconds_of(int64_t year, int month, int64_t day, int64_t h, int64_t m, int64_t s) {
    // 60 seconds: a leap second (RFC 5322 3.3), counted as the next minute's first.
    if (day < 1 || day > days_in_month(year, month) || h > 23 || m > 59 || s > 60) return std::nullopt;
    return days_from_civil(year, month, static_cast<int>(day)) * kSecondsPerDay + h * 3600 + m * 60 + s;
}

}  // namespace

std::string http_date(int64_t unix_seconds) {
    const int64_t days = unix_seconds >= 0 ? unix_seconds / kSecondsPerDay
                                           : -((-unix_seconds + kSecondsPerDay - 1) / kSecondsPerDay);
    const int64_t in_day = unix_seconds - days * kSecondsPerDay;
    const CivilDate c = civil_from_days(days);
    if (c.year < 0 || c.year > 9999) return {};
    const int64_t weekday = ((days % 7) + 7) % 7;
    char text[32];
    std::snprintf(text, sizeof text, "%s, %02d %s %04d %02d:%02d:%02d GMT", kWeekdays[static_cast<size_t>(weekday)],
                  c.day, kMonths[static_cast<size_t>(c.month - 1)], static_cast<int>(c.year),
                  static_cast<int>(in_day / 3600), static_cast<int>(in_day / 60 % 60), static_cast<int>(in_day % 60));
    return text;
}

std::optional<int64_t> parse_http_date(std::string_view text) {
    int64_t day = 0, year = 0, h = 0, m = 0, s = 0;
    int month = 0;
    // IMF-fixdate: "Sun, 06 Nov 1994 08:49:37 GMT"
    {
        Fields f(text);
        if (f.weekday(", ") && f.digits(2, day) && f.literal(" ") && f.month(month) && f.literal(" ") &&
            f.digits(4, year) && f.literal(" ") && f.time(h, m, s) && f.literal(" GMT") && f.done())
            return seconds_of(year, month, day, h, m, s);
    }
    // RFC 850: "Sunday, 06-Nov-94 08:49:37 GMT". A two-digit year is taken as the
    // one of 1970 to 2069: the dates a file server gives lie after 1970.
    {
        Fields f(text);
        if (f.weekday(", ") && f.digits(2, day) && f.literal("-") && f.month(month) && f.literal("-") &&
            f.digits(2, year) && f.literal(" ") && f.time(h, m, s) && f.literal(" GMT") && f.done())
            return seconds_of(year + (year < 70 ? 2000 : 1900), month, day, h, m, s);
    }
    // asctime: "Sun Nov  6 08:49:37 1994"
    {
        Fields f(text);
        if (f.weekday(" ") && f.month(month) && f.literal(" ") && f.digits(2, day, true) && f.literal(" ") &&
            f.time(h, m, s) && f.literal(" ") && f.digits(4, year) && f.done())
            return seconds_of(year, month, day, h, m, s);
    }
    return std::nullopt;
}

}  // namespace kalv
