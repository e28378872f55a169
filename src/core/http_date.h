// HTTP-dates (RFC 9110 5.6.7): what Last-Modified brings and If-Modified-Since sends.
// Worked out on the proleptic Gregorian calendar in UTC, without the C library's time
// functions: no time zone, and no year the system's time_t cannot hold, takes part.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kalv {

// `unix_seconds` (since 1970-01-01 00:00:00 UTC) as an IMF-fixdate:
// "Sun, 06 Nov 1994 08:49:37 GMT". Years 0 to 9999 only; empty outside them.
std::string http_date(int64_t unix_seconds);

// An HTTP-date in any of the three forms a recipient must take (RFC 9110 5.6.7):
// IMF-fixdate, the obsolete RFC 850 form ("Sunday, 06-Nov-94 08:49:37 GMT") and
// asctime's ("Sun Nov  6 08:49:37 1994"); nullopt for anything else, an impossible
// date (31 April) included. The weekday's name is not checked against the date.
std::optional<int64_t> parse_http_date(std::string_view text);

}  // namespace kalv
