#include "core/http_date.h"

#include <gtest/gtest.h>

#include <ctime>
#include <optional>
#include <string>

namespace {

struct Row {
    const char* text;
    std::optional<int64_t> seconds;
    const char* why;
};

// RFC 9110 5.6.7's example date is 784111777 in all three forms.
const Row kRows[] = {
    {"Sun, 06 Nov 1994 08:49:37 GMT", 784111777, "IMF-fixdate"},
    {"Sunday, 06-Nov-94 08:49:37 GMT", 784111777, "RFC 850, the obsolete form"},
    {"Sun Nov  6 08:49:37 1994", 784111777, "asctime, a blank before a one-digit day"},
    {"Thu, 29 Feb 2024 23:59:59 GMT", 1709251199, "a leap day"},
    {"Wed, 01 Mar 2100 00:00:00 GMT", 4107542400, "2100 is no leap year: 1 March follows 28 February"},
    {"Tue, 29 Feb 2000 12:00:00 GMT", 951825600, "2000 is a leap year (divisible by 400)"},
    {"Thu, 01 Jan 1970 00:00:00 GMT", 0, "the epoch"},
    {"Wed, 31 Dec 1969 23:59:59 GMT", -1, "before the epoch"},
    {"Friday, 01-Jan-27 00:00:00 GMT", 1798761600, "RFC 850's two-digit year 27 is 2027"},
    {"Thu, 01 Jan 1970 00:00:00 UTC", std::nullopt, "only GMT is an HTTP-date's zone"},
    {"Mon, 31 Apr 2026 10:00:00 GMT", std::nullopt, "April has 30 days"},
    {"Mon, 29 Feb 2026 10:00:00 GMT", std::nullopt, "2026 has no leap day"},
    {"Mon, 01 Jun 2026 24:00:00 GMT", std::nullopt, "hour 24"},
    {"Mon, 01 Foo 2026 10:00:00 GMT", std::nullopt, "no such month"},
    {"Mon, 1 Jun 2026 10:00:00 GMT", std::nullopt, "IMF-fixdate's day has two digits"},
    {"Mon, 01 Jun 2026 10:00:00 GMT trailing", std::nullopt, "text after the date"},
    {"1780000000", std::nullopt, "a number is no date"},
    {"", std::nullopt, "empty"},
};

TEST(HttpDate, ParsesTheThreeFormsAndRefusesTheRest) {
    for (const Row& row : kRows) {
        SCOPED_TRACE(row.why);
        EXPECT_EQ(kalv::parse_http_date(row.text), row.seconds) << row.text;
    }
}

TEST(HttpDate, FormatsImfFixdateWithItsWeekday) {
    EXPECT_EQ(kalv::http_date(784111777), "Sun, 06 Nov 1994 08:49:37 GMT");
    EXPECT_EQ(kalv::http_date(-1), "Wed, 31 Dec 1969 23:59:59 GMT");  // a day's rounding below zero
    EXPECT_EQ(kalv::http_date(253402300800), "");                      // year 10000
}

// The civil arithmetic against the C library's gmtime, one date every 40 days and 7
// hours from 1970 to 2110 (every weekday, month end and leap rule is met), each
// formatted, compared and read back.
TEST(HttpDate, AgreesWithGmtimeAndReadsBackWhatItWrites) {
    for (int64_t t = 0; t < int64_t{4418064000}; t += 40 * 86400 + 7 * 3600 + 13) {
        const std::time_t native = static_cast<std::time_t>(t);
        std::tm parts{};
#ifdef _WIN32
        ASSERT_EQ(gmtime_s(&parts, &native), 0);
#else
        ASSERT_NE(gmtime_r(&native, &parts), nullptr);
#endif
        char expected[40];
        std::strftime(expected, sizeof expected, "%a, %d %b %Y %H:%M:%S GMT", &parts);
        const std::string written = kalv::http_date(t);
        ASSERT_EQ(written, expected) << t;
        ASSERT_EQ(kalv::parse_http_date(written), t) << written;
    }
}

}  // namespace
