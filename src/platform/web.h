// The system's HTTP client, for an upgrade location named by a URL: WinHTTP on Windows
// (the system's proxy settings and automatic proxy configuration, the system's
// certificate store), libcurl elsewhere. Certificates are always checked; there is no
// way to turn that off.
//
// One request is one exchange with the server (after redirects): the final answer's
// status line and headers go to the receiver first, then its body in order. Every wait
// is bounded: the connection within `connect_timeout`, then no stretch without a byte
// longer than `stall_bound`. Nothing here throws for a network failure: the answer
// says what happened, in words fit for the run log.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace kalv::platform {

// "http://..." or "https://..." (the scheme in any case): a location to fetch, not a path.
bool IsWebLocation(std::string_view location);

struct WebRequest {
    std::string url;
    // Conditional and partial requests (RFC 9110 13.1, 14.2); empty or negative: not sent.
    std::string if_modified_since;  // an HTTP-date (IMF-fixdate)
    std::string if_none_match;      // an entity tag exactly as the server sent it
    int64_t range_from = -1;        // "Range: bytes=<range_from>-"
    std::string if_range;           // an entity tag or HTTP-date, with range_from only
    std::chrono::milliseconds connect_timeout{10000};
    std::chrono::milliseconds stall_bound{30000};
    int max_redirects = 5;
};

// The final answer's head, as far as the refresh needs it.
struct WebAnswerHead {
    int status = 0;                 // 200, 206, 304, 404, ...
    std::string last_modified;      // the Last-Modified header as sent, empty when none
    std::string etag;               // the ETag header as sent, empty when none
    int64_t content_length = -1;    // of this answer's body; -1 when not sent
    int64_t range_first = -1;       // 206: the first byte of Content-Range
    int64_t complete_length = -1;   // 206: the complete length of Content-Range, -1 for "*"
    std::string url;                // the URL that answered, after redirects
};

class WebReceiver {
public:
    virtual ~WebReceiver() = default;
    // The final answer's head; false: its body is not wanted and the exchange ends.
    virtual bool head(const WebAnswerHead& head) = 0;
    // The next block of the body; false stops the transfer.
    virtual bool body(const char* data, size_t size) = 0;
};

struct WebAnswer {
    // True when a final answer's head was received (whatever its status) and, unless the
    // receiver stopped it, its whole body.
    bool complete = false;
    // The receiver ended the exchange (head or body gave false).
    bool stopped = false;
    // Why not complete, for the run log: "connection refused", "no answer within 30 s",
    // "certificate not trusted", "too many redirects", "the answer ended after N of M bytes".
    std::string failure;
    WebAnswerHead head;
};

class WebClient {
public:
    virtual ~WebClient() = default;
    virtual WebAnswer fetch(const WebRequest& request, WebReceiver& receiver) = 0;
};

// The system's client; lives as long as the process.
WebClient& native_web();

}  // namespace kalv::platform
