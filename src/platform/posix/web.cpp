// The HTTP client on POSIX systems: libcurl's easy interface, one handle per request.
//
// libcurl follows the redirects, checks the certificate chain and the host name, and
// ends a connection attempt after `connect_timeout`. The stall bound is ours: the
// progress callback, which libcurl calls at least once a second while it waits, ends
// the exchange once no byte came for `stall_bound` (curl's own low-speed limit counts
// in whole seconds and reports no reason). The answer's head is parsed here from the
// header lines, so that what the receiver sees is the final answer's, never that of a
// redirect on the way.
#include <curl/curl.h>

#include <chrono>
#include <cstdlib>
#include <memory>
#include <string>

#include "core/text.h"
#include "kalv_version.h"
#include "platform/web.h"

namespace kalv::platform {

namespace {

using Clock = std::chrono::steady_clock;

std::string SecondsText(std::chrono::milliseconds bound) {
    return bound.count() % 1000 == 0 ? std::to_string(bound.count() / 1000) + " s"
                                     : std::to_string(bound.count()) + " ms";
}

// A header value taken from a file or an earlier answer goes on the wire only when it
// cannot end its line: a CR or LF in it would add headers of its own (RFC 9110 5.5).
bool FitsOneHeaderLine(const std::string& value) {
    for (const char c : value)
        if (c == '\r' || c == '\n' || c == '\0') return false;
    return true;
}

// A decimal number of at most 18 digits (no sign, no blanks), else -1.
int64_t DecimalOrNone(std::string_view digits) {
    if (digits.empty() || digits.size() > 18) return -1;
    int64_t value = 0;
    for (const char c : digits) {
        if (c < '0' || c > '9') return -1;
        value = value * 10 + (c - '0');
    }
    return value;
}

std::string_view Trimmed(std::string_view text) {
    const size_t first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos) return {};
    const size_t last = text.find_last_not_of(" \t\r\n");
    return text.substr(first, last - first + 1);
}

// RFC 9110 14.4: "bytes first-last/complete" or "bytes first-last/*".
void ReadContentRange(std::string_view value, WebAnswerHead& head) {
    if (value.rfind("bytes ", 0) != 0) return;
    value.remove_prefix(6);
    const size_t dash = value.find('-'), slash = value.find('/');
    if (dash == std::string_view::npos || slash == std::string_view::npos || slash < dash) return;
    head.range_first = DecimalOrNone(value.substr(0, dash));
    const std::string_view complete = value.substr(slash + 1);
    head.complete_length = complete == "*" ? -1 : DecimalOrNone(complete);
}

struct Exchange {
    Exchange(const WebRequest& r, WebReceiver& w) : request(r), receiver(w), last_byte(Clock::now()) {}

    const WebRequest& request;
    WebReceiver& receiver;
    CURL* easy = nullptr;
    WebAnswerHead head;      // of the answer whose header lines come in
    bool head_seen = false;  // a status line came
    bool head_given = false;
    bool stopped = false;
    bool stalled = false;
    int64_t body_bytes = 0;
    Clock::time_point last_byte;

    // The receiver gets the head once, before the first byte of the body (or at the
    // end, for an answer without one).
    bool give_head() {
        if (head_given) return !stopped;
        head_given = true;
        char* url = nullptr;
        if (curl_easy_getinfo(easy, CURLINFO_EFFECTIVE_URL, &url) == CURLE_OK && url) head.url = url;
        if (!receiver.head(head)) stopped = true;
        return !stopped;
    }
};

extern "C" size_t OnHeaderLine(char* data, size_t size, size_t count, void* context) {
    Exchange& x = *static_cast<Exchange*>(context);
    const size_t n = size * count;
    x.last_byte = Clock::now();
    const std::string_view line(data, n);
    if (line.rfind("HTTP/", 0) == 0) {
        // Each answer on the way (a 1xx, a redirect) starts afresh: the last one counts.
        x.head = {};
        x.head_seen = true;
        const size_t space = line.find(' ');
        if (space != std::string_view::npos)
            x.head.status = static_cast<int>(DecimalOrNone(line.substr(space + 1, 3)));
        return n;
    }
    const size_t colon = line.find(':');
    if (colon == std::string_view::npos) return n;
    const std::string name = lower_ascii(Trimmed(line.substr(0, colon)));
    const std::string_view value = Trimmed(line.substr(colon + 1));
    if (name == "last-modified") {
        x.head.last_modified = value;
    } else if (name == "etag") {
        x.head.etag = value;
    } else if (name == "content-length") {
        x.head.content_length = DecimalOrNone(value);
    } else if (name == "content-range") {
        ReadContentRange(value, x.head);
    }
    return n;
}

extern "C" size_t OnBody(char* data, size_t size, size_t count, void* context) {
    Exchange& x = *static_cast<Exchange*>(context);
    const size_t n = size * count;
    x.last_byte = Clock::now();
    if (!x.give_head()) return CURL_WRITEFUNC_ERROR;
    if (!x.receiver.body(data, n)) {
        x.stopped = true;
        return CURL_WRITEFUNC_ERROR;
    }
    x.body_bytes += static_cast<int64_t>(n);
    return n;
}

// Called once the connection stands, before the request is sent: the stall bound
// counts from there, the connection time has its own bound.
extern "C" int OnConnected(void* context, char*, char*, int, int) {
    static_cast<Exchange*>(context)->last_byte = Clock::now();
    return CURL_PREREQFUNC_OK;
}

extern "C" int OnProgress(void* context, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    Exchange& x = *static_cast<Exchange*>(context);
    if (Clock::now() - x.last_byte < x.request.stall_bound) return 0;
    x.stalled = true;
    return 1;
}

std::string Failure(CURLcode code, const Exchange& x, const char* detail) {
    const std::string more = *detail ? std::string(" (") + detail + ")" : std::string();
    switch (code) {
        case CURLE_ABORTED_BY_CALLBACK:
            if (!x.stalled) break;
            if (!x.head_seen) return "no answer within " + SecondsText(x.request.stall_bound);
            return "no answer within " + SecondsText(x.request.stall_bound) + " after " +
                   std::to_string(x.body_bytes) + " bytes of the body";
        case CURLE_OPERATION_TIMEDOUT:
            return "no connection within " + SecondsText(x.request.connect_timeout);
        case CURLE_COULDNT_CONNECT:
            return "connection refused" + more;
        case CURLE_COULDNT_RESOLVE_HOST:
            return "the server's name is not known" + more;
        case CURLE_COULDNT_RESOLVE_PROXY:
            return "the proxy's name is not known" + more;
        case CURLE_PEER_FAILED_VERIFICATION:
            return "certificate not trusted" + more;
        case CURLE_SSL_CACERT_BADFILE:
            return "the trusted certificates (CURL_CA_BUNDLE) cannot be read" + more;
        case CURLE_SSL_CONNECT_ERROR:
            return "the TLS handshake failed" + more;
        case CURLE_TOO_MANY_REDIRECTS:
            return "too many redirects (more than " + std::to_string(x.request.max_redirects) + ")";
        case CURLE_UNSUPPORTED_PROTOCOL:
            return "a URL this client does not fetch (only http and https, and no redirect from https to http)";
        case CURLE_URL_MALFORMAT:
            return "the URL is malformed";
        case CURLE_PARTIAL_FILE:
            return "the answer ended after " + std::to_string(x.body_bytes) + " of " +
                   std::to_string(x.head.content_length) + " bytes";
        case CURLE_GOT_NOTHING:
            return "the server closed the connection without an answer";
        case CURLE_RECV_ERROR:
        case CURLE_SEND_ERROR:
            return "the connection broke off after " + std::to_string(x.body_bytes) + " bytes" + more;
        case CURLE_WEIRD_SERVER_REPLY:
            return "the server's answer is not HTTP";
        default:
            break;
    }
    return curl_easy_strerror(code) + more;
}

struct EasyDeleter {
    void operator()(CURL* easy) const { curl_easy_cleanup(easy); }
};
struct ListDeleter {
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};

class CurlClient final : public WebClient {
public:
    CurlClient() { curl_global_init(CURL_GLOBAL_DEFAULT); }

    WebAnswer fetch(const WebRequest& request, WebReceiver& receiver) override {
        WebAnswer answer;
        const std::unique_ptr<CURL, EasyDeleter> easy(curl_easy_init());
        if (!easy) {
            answer.failure = "the HTTP client could not be set up";
            return answer;
        }
        Exchange x(request, receiver);
        x.easy = easy.get();
        CURL* const e = easy.get();

        std::unique_ptr<curl_slist, ListDeleter> headers;
        const auto add_header = [&headers](const char* name, const std::string& value) {
            if (value.empty() || !FitsOneHeaderLine(value)) return;
            const std::string line = std::string(name) + ": " + value;
            curl_slist* const longer = curl_slist_append(headers.get(), line.c_str());
            if (longer) {
                (void)headers.release();  // now part of `longer`
                headers.reset(longer);
            }
        };
        add_header("If-Modified-Since", request.if_modified_since);
        add_header("If-None-Match", request.if_none_match);
        const std::string range = request.range_from >= 0 ? std::to_string(request.range_from) + "-" : std::string();
        if (!range.empty()) add_header("If-Range", request.if_range);

        char detail[CURL_ERROR_SIZE] = "";
        const std::string redirect_schemes = lower_ascii(std::string_view(request.url).substr(0, 8)) == "https://"
                                           ? "https"
                                           : "http,https";
        curl_easy_setopt(e, CURLOPT_URL, request.url.c_str());
        curl_easy_setopt(e, CURLOPT_PROTOCOLS_STR, "http,https");
        // An answer fetched over TLS never continues in plain text.
        curl_easy_setopt(e, CURLOPT_REDIR_PROTOCOLS_STR, redirect_schemes.c_str());
        curl_easy_setopt(e, CURLOPT_FOLLOWLOCATION, 1L);
        curl_easy_setopt(e, CURLOPT_MAXREDIRS, static_cast<long>(request.max_redirects));
        curl_easy_setopt(e, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(request.connect_timeout.count()));
        curl_easy_setopt(e, CURLOPT_NOSIGNAL, 1L);  // the refresh runs this on a helper thread
        curl_easy_setopt(e, CURLOPT_USERAGENT, "Kalv3/" KALV_VERSION_TEXT);
        curl_easy_setopt(e, CURLOPT_ERRORBUFFER, detail);
        if (headers) curl_easy_setopt(e, CURLOPT_HTTPHEADER, headers.get());
        if (!range.empty()) curl_easy_setopt(e, CURLOPT_RANGE, range.c_str());
        // As the curl tool does: a test or a shop's own CA named by the environment.
        const char* const bundle = std::getenv("CURL_CA_BUNDLE");
        if (bundle && *bundle) curl_easy_setopt(e, CURLOPT_CAINFO, bundle);
        curl_easy_setopt(e, CURLOPT_HEADERFUNCTION, OnHeaderLine);
        curl_easy_setopt(e, CURLOPT_HEADERDATA, &x);
        curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, OnBody);
        curl_easy_setopt(e, CURLOPT_WRITEDATA, &x);
        curl_easy_setopt(e, CURLOPT_PREREQFUNCTION, OnConnected);
        curl_easy_setopt(e, CURLOPT_PREREQDATA, &x);
        curl_easy_setopt(e, CURLOPT_XFERINFOFUNCTION, OnProgress);
        curl_easy_setopt(e, CURLOPT_XFERINFODATA, &x);
        curl_easy_setopt(e, CURLOPT_NOPROGRESS, 0L);

        const CURLcode code = curl_easy_perform(e);
        if (code == CURLE_OK && x.head_seen) x.give_head();
        // Only the head the receiver heard is the final answer's: not that of a redirect
        // past the last one allowed, nor of one refused (https down to http).
        if (x.head_given) answer.head = x.head;
        answer.stopped = x.stopped;
        answer.complete = x.head_seen && (code == CURLE_OK || x.stopped);
        if (!answer.complete) answer.failure = x.head_seen || code != CURLE_OK ? Failure(code, x, detail)
                                                                                : "no answer";
        return answer;
    }
};

}  // namespace

WebClient& native_web() {
    static CurlClient client;
    return client;
}

}  // namespace kalv::platform
