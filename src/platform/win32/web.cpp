// The WinHTTP backend of web.h.
//
// One fetch, hop by hop (redirects are followed here, not by WinHTTP, so that their
// count, their target's scheme and the final URL are ours to check):
//   crack the URL -> connect -> open the GET -> timeouts, proxy, headers -> send ->
//   receive the head -> a redirect? next hop : head to the receiver -> body in blocks.
// The session (and with it the system's proxy settings) is made once per process.
// Bytes stay bytes: the URL is ASCII and is widened only where WinHTTP takes it; the
// headers come back wide and are narrowed one character to one byte.
#include <windows.h>
#include <winhttp.h>

#include <algorithm>
#include <cstdio>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/text.h"
#include "platform/web.h"
#include "platform/win32/error_text.h"

namespace kalv::platform {
namespace {

struct InternetCloser {
    void operator()(void* handle) const { WinHttpCloseHandle(handle); }
};
using Internet = std::unique_ptr<void, InternetCloser>;

// The global strings WinHTTP hands out with the proxy settings are the caller's to free.
struct GlobalString {
    LPWSTR text = nullptr;
    GlobalString() = default;
    GlobalString(const GlobalString&) = delete;
    GlobalString& operator=(const GlobalString&) = delete;
    ~GlobalString() {
        if (text) GlobalFree(text);
    }
};

std::wstring widen_ascii(std::string_view text) { return std::wstring(text.begin(), text.end()); }

// A header's value as the server sent it: WinHTTP widens each byte of it to one
// character, so each character below 256 is that byte again.
std::string narrow_header(std::wstring_view text) {
    std::string out;
    out.reserve(text.size());
    for (wchar_t c : text) out += c < 256 ? static_cast<char>(c) : '?';
    return out;
}

DWORD clamp_ms(std::chrono::milliseconds ms) {
    const auto count = ms.count();
    if (count <= 0) return 1;
    return static_cast<DWORD>(std::min<long long>(count, std::numeric_limits<int>::max()));
}

std::string seconds(std::chrono::milliseconds ms) {
    char text[32];
    if (ms.count() % 1000 == 0)
        std::snprintf(text, sizeof text, "%lld s", static_cast<long long>(ms.count() / 1000));
    else
        std::snprintf(text, sizeof text, "%.1f s", static_cast<double>(ms.count()) / 1000.0);
    return text;
}

std::string ended_after(int64_t received, int64_t expected) {
    std::string text = "the answer ended after " + std::to_string(received);
    if (expected >= 0) {
        text += " of ";
        text += std::to_string(expected);
    }
    text += " bytes";
    return text;
}

constexpr const char* kNotFetched =
    "a URL this client does not fetch (only http and https, and no redirect from https to http)";

// Where in the exchange a WinHTTP call failed: a timeout means something else in each.
enum class Stage { connecting, waiting_for_head, reading_body };

// WinHTTP's own code, or the socket's as Wine passes it on.
bool is_timeout(DWORD error) { return error == ERROR_WINHTTP_TIMEOUT || error == WSAETIMEDOUT; }

std::string failure_text(DWORD error, Stage stage, const WebRequest& request) {
    if (is_timeout(error)) error = ERROR_WINHTTP_TIMEOUT;
    switch (error) {
    case ERROR_WINHTTP_CANNOT_CONNECT:
    case WSAECONNREFUSED: return "connection refused";
    case ERROR_WINHTTP_NAME_NOT_RESOLVED: return "the server's name is not known";
    case ERROR_WINHTTP_TIMEOUT:
        if (stage == Stage::connecting) return "no connection within " + seconds(request.connect_timeout);
        return "no answer within " + seconds(request.stall_bound);
    case ERROR_WINHTTP_SECURE_FAILURE:
    case ERROR_WINHTTP_SECURE_INVALID_CA:
    case ERROR_WINHTTP_SECURE_INVALID_CERT:
    case ERROR_WINHTTP_SECURE_CERT_REVOKED:
    case ERROR_WINHTTP_SECURE_CERT_REV_FAILED:
    case ERROR_WINHTTP_SECURE_CERT_WRONG_USAGE: return "certificate not trusted";
    case ERROR_WINHTTP_SECURE_CERT_CN_INVALID: return "certificate not trusted (made out to another name)";
    case ERROR_WINHTTP_SECURE_CERT_DATE_INVALID: return "certificate not trusted (expired or not yet valid)";
    case ERROR_WINHTTP_SECURE_CHANNEL_ERROR: return "the TLS handshake failed";
    case ERROR_WINHTTP_CONNECTION_ERROR:
    case WSAECONNRESET:
    case WSAECONNABORTED: return "the connection broke off";
    case ERROR_WINHTTP_INVALID_SERVER_RESPONSE: return "the server's answer is not HTTP";
    case ERROR_WINHTTP_INVALID_URL: return "the URL is malformed";
    case ERROR_WINHTTP_UNRECOGNIZED_SCHEME: return kNotFetched;
    default: return "WinHTTP error " + std::to_string(error) + " (" + reason(error) + ")";
    }
}

// Why the server's certificate was refused, as WinHTTP tells the status callback
// (WINHTTP_CALLBACK_STATUS_SECURE_FAILURE): its error code after a failed send may
// only say that the TLS channel failed.
struct CertificateProblems {
    DWORD flags = 0;
};

void CALLBACK on_status(HINTERNET, DWORD_PTR context, DWORD status, LPVOID info, DWORD info_size) {
    if (status == WINHTTP_CALLBACK_STATUS_SECURE_FAILURE && context && info && info_size >= sizeof(DWORD))
        reinterpret_cast<CertificateProblems*>(context)->flags |= *static_cast<const DWORD*>(info);
}

std::string certificate_failure(DWORD flags) {
    if (flags & WINHTTP_CALLBACK_STATUS_FLAG_CERT_CN_INVALID)
        return failure_text(ERROR_WINHTTP_SECURE_CERT_CN_INVALID, Stage::connecting, {});
    if (flags & WINHTTP_CALLBACK_STATUS_FLAG_CERT_DATE_INVALID)
        return failure_text(ERROR_WINHTTP_SECURE_CERT_DATE_INVALID, Stage::connecting, {});
    return failure_text(ERROR_WINHTTP_SECURE_INVALID_CA, Stage::connecting, {});
}

// A header of the answer, or nothing when it was not sent.
std::optional<std::string> query_header(HINTERNET request, DWORD which) {
    DWORD size = 0;
    WinHttpQueryHeaders(request, which, WINHTTP_HEADER_NAME_BY_INDEX, nullptr, &size, WINHTTP_NO_HEADER_INDEX);
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER) return std::nullopt;
    std::wstring value(size / sizeof(wchar_t) + 1, L'\0');
    if (!WinHttpQueryHeaders(request, which, WINHTTP_HEADER_NAME_BY_INDEX, value.data(), &size,
                             WINHTTP_NO_HEADER_INDEX))
        return std::nullopt;
    value.resize(size / sizeof(wchar_t));
    return narrow_header(value);
}

// A decimal count without sign or blanks inside; -1 for anything else.
int64_t parse_count(std::string_view text) {
    text = trim(text);
    if (text.empty() || text.size() > 18) return -1;
    int64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return -1;
        value = value * 10 + (c - '0');
    }
    return value;
}

// Content-Range of a 206 (RFC 9110 14.4): "bytes first-last/complete" or "bytes first-last/*".
void parse_content_range(std::string_view text, WebAnswerHead& head) {
    text = trim(text);
    constexpr std::string_view unit = "bytes ";
    if (text.size() < unit.size() || !same_name(text.substr(0, unit.size()), unit)) return;
    text.remove_prefix(unit.size());
    const size_t dash = text.find('-');
    const size_t slash = text.find('/');
    if (dash == std::string_view::npos || slash == std::string_view::npos || dash > slash) return;
    head.range_first = parse_count(text.substr(0, dash));
    const std::string_view complete = trim(text.substr(slash + 1));
    head.complete_length = complete == "*" ? -1 : parse_count(complete);
}

// A redirect's Location resolved against the URL that answered (RFC 3986 5.2, for the
// forms servers send: absolute, scheme-relative, absolute path, query, relative path).
// Empty when it leads anywhere but http or https, so a server cannot send us to a file.
std::string resolve_location(const std::string& base, std::string_view raw) {
    std::string location;
    for (char c : trim(raw.substr(0, raw.find('#')))) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F) return {};
        if (byte >= 0x80 || c == ' ') {  // percent-encoded, as a URL may not hold it as it is
            char hex[4];
            std::snprintf(hex, sizeof hex, "%%%02X", byte);
            location += hex;
        } else {
            location += c;
        }
    }
    if (location.empty()) return {};
    if (IsWebLocation(location)) return location;
    const size_t colon = location.find(':');
    if (colon != std::string::npos && colon < location.find_first_of("/?")) return {};  // another scheme
    const size_t scheme_end = base.find("://");
    if (location.rfind("//", 0) == 0) return base.substr(0, scheme_end + 1) + location;
    const size_t path_start = base.find('/', scheme_end + 3);
    const std::string origin = base.substr(0, path_start);
    std::string path = path_start == std::string::npos ? "/" : base.substr(path_start);
    path.resize(std::min(path.size(), path.find('?')));
    if (location.front() == '/') return origin + location;
    if (location.front() == '?') return origin + path + location;
    return origin + path.substr(0, path.rfind('/') + 1) + location;
}

bool is_redirect(int status) {
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

// Request header values come from the refresh's own records, but those once came from
// a server: a line break in one would add a header of its making.
bool header_value_safe(std::string_view value) {
    return std::all_of(value.begin(), value.end(), [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return byte >= 0x20 && byte < 0x7F;
    });
}

// One hop of a fetch: the GET of one URL. The certificate problems outlive the request
// handle, which holds their address as its status callback's context.
struct Exchange {
    CertificateProblems certificate;
    Internet connection;
    Internet request;
    bool secure = false;
};

class WinHttpWeb final : public WebClient {
public:
    WebAnswer fetch(const WebRequest& request, WebReceiver& receiver) override;

private:
    HINTERNET session();
    void use_system_proxy(HINTERNET session, HINTERNET request, const std::wstring& url);
    std::string send(Exchange& exchange, const std::string& url, const WebRequest& request);

    Internet session_;
    bool automatic_proxy_ = false;
    bool tried_ = false;
};


// Windows 8.1 and later find the proxy themselves (WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY:
// the system's settings, WPAD and PAC scripts). Earlier systems refuse that access type;
// there the session starts from netsh's WinHTTP proxy and each request then asks the
// user's Internet settings, as WinHTTP's documentation on proxies describes.
HINTERNET WinHttpWeb::session() {
    if (!tried_) {
        tried_ = true;
        session_.reset(WinHttpOpen(L"Kalv3", WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY, WINHTTP_NO_PROXY_NAME,
                                   WINHTTP_NO_PROXY_BYPASS, 0));
        automatic_proxy_ = session_ != nullptr;
        if (!session_)
            session_.reset(WinHttpOpen(L"Kalv3", WINHTTP_ACCESS_TYPE_DEFAULT_PROXY, WINHTTP_NO_PROXY_NAME,
                                       WINHTTP_NO_PROXY_BYPASS, 0));
    }
    return session_.get();
}

void WinHttpWeb::use_system_proxy(HINTERNET session, HINTERNET request, const std::wstring& url) {
    if (automatic_proxy_) return;
    WINHTTP_CURRENT_USER_IE_PROXY_CONFIG config{};
    if (!WinHttpGetIEProxyConfigForCurrentUser(&config)) return;
    GlobalString auto_config_url, proxy, bypass;
    auto_config_url.text = config.lpszAutoConfigUrl;
    proxy.text = config.lpszProxy;
    bypass.text = config.lpszProxyBypass;
    if (config.fAutoDetect || config.lpszAutoConfigUrl) {
        WINHTTP_AUTOPROXY_OPTIONS options{};
        if (config.fAutoDetect) {
            options.dwFlags |= WINHTTP_AUTOPROXY_AUTO_DETECT;
            options.dwAutoDetectFlags = WINHTTP_AUTO_DETECT_TYPE_DHCP | WINHTTP_AUTO_DETECT_TYPE_DNS_A;
        }
        if (config.lpszAutoConfigUrl) {
            options.dwFlags |= WINHTTP_AUTOPROXY_CONFIG_URL;
            options.lpszAutoConfigUrl = config.lpszAutoConfigUrl;
        }
        options.fAutoLogonIfChallenged = TRUE;
        WINHTTP_PROXY_INFO found{};
        if (WinHttpGetProxyForUrl(session, url.c_str(), &options, &found)) {
            GlobalString found_proxy, found_bypass;
            found_proxy.text = found.lpszProxy;
            found_bypass.text = found.lpszProxyBypass;
            WinHttpSetOption(request, WINHTTP_OPTION_PROXY, &found, sizeof found);
            return;
        }
        // No script found or it failed: fall through to the fixed proxy, if any.
    }
    if (config.lpszProxy) {
        WINHTTP_PROXY_INFO named{};
        named.dwAccessType = WINHTTP_ACCESS_TYPE_NAMED_PROXY;
        named.lpszProxy = config.lpszProxy;
        named.lpszProxyBypass = config.lpszProxyBypass;
        WinHttpSetOption(request, WINHTTP_OPTION_PROXY, &named, sizeof named);
    }
}

// The request headers of a conditional, perhaps resumed, GET.
std::wstring request_headers(const WebRequest& request) {
    std::string headers;
    auto add = [&headers](std::string_view name, std::string_view value) {
        headers.append(name).append(": ").append(value).append("\r\n");
    };
    if (!request.if_modified_since.empty()) add("If-Modified-Since", request.if_modified_since);
    if (!request.if_none_match.empty()) add("If-None-Match", request.if_none_match);
    if (request.range_from >= 0) {
        add("Range", "bytes=" + std::to_string(request.range_from) + "-");
        if (!request.if_range.empty()) add("If-Range", request.if_range);
    }
    return widen_ascii(headers);
}

// Resolving and connecting within the connect bound; sending and every wait for the
// answer's bytes within the stall bound.
void set_bounds(HINTERNET handle, const WebRequest& request) {
    const int connect_ms = static_cast<int>(clamp_ms(request.connect_timeout));
    const int stall_ms = static_cast<int>(clamp_ms(request.stall_bound));
    WinHttpSetTimeouts(handle, connect_ms, connect_ms, stall_ms, stall_ms);
}

// Opens the GET of `url` in `exchange` and sends it: empty, or why not.
std::string WinHttpWeb::send(Exchange& exchange, const std::string& url, const WebRequest& request) {
    if (!IsWebLocation(url)) return kNotFetched;
    // Nothing WinHTTP would put into the request line as it is: no blank, no control.
    if (!header_value_safe(url) || url.find(' ') != std::string::npos) return "the URL is malformed";
    const std::wstring wide_url = widen_ascii(url);
    URL_COMPONENTS parts{};
    parts.dwStructSize = sizeof parts;
    parts.dwHostNameLength = static_cast<DWORD>(-1);
    parts.dwUrlPathLength = static_cast<DWORD>(-1);
    parts.dwExtraInfoLength = static_cast<DWORD>(-1);
    if (!WinHttpCrackUrl(wide_url.c_str(), static_cast<DWORD>(wide_url.size()), 0, &parts))
        return failure_text(GetLastError(), Stage::connecting, request);
    const std::wstring host(parts.lpszHostName, parts.dwHostNameLength);
    std::wstring object(parts.lpszUrlPath, parts.dwUrlPathLength);
    object.append(parts.lpszExtraInfo, parts.dwExtraInfoLength);
    if (object.empty()) object = L"/";
    exchange.secure = parts.nScheme == INTERNET_SCHEME_HTTPS;

    exchange.connection.reset(WinHttpConnect(session_.get(), host.c_str(), parts.nPort, 0));
    if (!exchange.connection) return failure_text(GetLastError(), Stage::connecting, request);
    exchange.request.reset(WinHttpOpenRequest(exchange.connection.get(), L"GET", object.c_str(), nullptr,
                                              WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
                                              exchange.secure ? WINHTTP_FLAG_SECURE : 0));
    const HINTERNET get = exchange.request.get();
    if (!get) return failure_text(GetLastError(), Stage::connecting, request);
    set_bounds(get, request);
    DWORD head_ms = clamp_ms(request.stall_bound);
    WinHttpSetOption(get, WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &head_ms, sizeof head_ms);
    // No keep-alive: a fetch is one exchange a run, and a connection that is not kept
    // ends when the exchange does, also when the receiver stops it early (a kept one
    // would let the server go on sending the whole package into it).
    DWORD features = WINHTTP_DISABLE_REDIRECTS | WINHTTP_DISABLE_COOKIES | WINHTTP_DISABLE_KEEP_ALIVE;
    WinHttpSetOption(get, WINHTTP_OPTION_DISABLE_FEATURE, &features, sizeof features);
    use_system_proxy(session_.get(), get, wide_url);
    DWORD_PTR context = reinterpret_cast<DWORD_PTR>(&exchange.certificate);
    WinHttpSetOption(get, WINHTTP_OPTION_CONTEXT_VALUE, &context, sizeof context);
    WinHttpSetStatusCallback(get, on_status, WINHTTP_CALLBACK_FLAG_SECURE_FAILURE, 0);

    const std::wstring headers = request_headers(request);
    if (!WinHttpSendRequest(get, headers.empty() ? WINHTTP_NO_ADDITIONAL_HEADERS : headers.c_str(),
                            static_cast<DWORD>(headers.size()), WINHTTP_NO_REQUEST_DATA, 0, 0, 0)) {
        const DWORD error = GetLastError();
        if (exchange.certificate.flags) return certificate_failure(exchange.certificate.flags);
        return failure_text(error, Stage::connecting, request);
    }
    return {};
}

// The URL a redirect leads to, into `url`: empty, or why it is not followed.
std::string follow(std::string& url, std::string_view location, bool secure, int hop, const WebRequest& request) {
    if (hop >= request.max_redirects)
        return "too many redirects (more than " + std::to_string(request.max_redirects) + ")";
    const std::string next = resolve_location(url, location);
    // Down from https to http would hand the rest of the exchange to anyone on the way.
    if (next.empty() || (secure && lower_ascii(next.substr(0, 7)) == "http://")) return kNotFetched;
    url = next;
    return {};
}

WebAnswerHead read_head(HINTERNET get, int status, const std::string& url) {
    WebAnswerHead head;
    head.status = status;
    head.last_modified = query_header(get, WINHTTP_QUERY_LAST_MODIFIED).value_or("");
    head.etag = query_header(get, WINHTTP_QUERY_ETAG).value_or("");
    if (const auto length = query_header(get, WINHTTP_QUERY_CONTENT_LENGTH)) head.content_length = parse_count(*length);
    if (const auto range = query_header(get, WINHTTP_QUERY_CONTENT_RANGE); range && status == 206)
        parse_content_range(*range, head);
    head.url = url;
    return head;
}

// What has arrived is passed on at once: first wait for some of the body
// (WinHttpQueryDataAvailable), then read no more than that, so that a read never waits
// to fill its block while bytes already received are held back.
void receive_body(HINTERNET get, const WebRequest& request, WebReceiver& receiver, WebAnswer& answer) {
    std::vector<char> block(64 * 1024);
    int64_t received = 0;
    for (;;) {
        DWORD available = 0;
        DWORD got = 0;
        if (!WinHttpQueryDataAvailable(get, &available) ||
            (available > 0 &&
             !WinHttpReadData(get, block.data(), std::min(available, static_cast<DWORD>(block.size())), &got))) {
            if (is_timeout(GetLastError()))
                answer.failure = "no answer within " + seconds(request.stall_bound) + " after " +
                                 std::to_string(received) + " bytes of the body";
            else
                answer.failure = ended_after(received, answer.head.content_length);
            return;
        }
        if (got == 0) break;
        received += got;
        if (!receiver.body(block.data(), got)) {
            answer.complete = answer.stopped = true;
            return;
        }
    }
    // WinHTTP reports a connection closed early as the body's end: an answer shorter
    // than its Content-Length is cut, not complete (RFC 9112 6.3).
    if (answer.head.content_length >= 0 && received < answer.head.content_length) {
        answer.failure = ended_after(received, answer.head.content_length);
        return;
    }
    answer.complete = true;
}

WebAnswer WinHttpWeb::fetch(const WebRequest& request, WebReceiver& receiver) {
    WebAnswer answer;
    const HINTERNET internet = session();
    if (!internet) {
        answer.failure = "WinHTTP cannot start (" + reason(GetLastError()) + ")";
        return answer;
    }
    for (const std::string* value : {&request.if_modified_since, &request.if_none_match, &request.if_range}) {
        if (!header_value_safe(*value)) {
            answer.failure = "a request header holds a byte HTTP does not allow";
            return answer;
        }
    }
    // The session's bounds are those of finding the proxy (a WPAD search, a PAC script).
    set_bounds(internet, request);
    std::string url = request.url.substr(0, request.url.find('#'));  // a fragment is never sent
    for (int hop = 0;; ++hop) {
        Exchange exchange;
        answer.failure = send(exchange, url, request);
        if (!answer.failure.empty()) return answer;
        const HINTERNET get = exchange.request.get();
        DWORD status = 0;
        DWORD status_size = sizeof status;
        if (!WinHttpReceiveResponse(get, nullptr) ||
            !WinHttpQueryHeaders(get, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER, WINHTTP_HEADER_NAME_BY_INDEX,
                                 &status, &status_size, WINHTTP_NO_HEADER_INDEX)) {
            answer.failure = failure_text(GetLastError(), Stage::waiting_for_head, request);
            return answer;
        }
        const auto location = query_header(get, WINHTTP_QUERY_LOCATION);
        if (is_redirect(static_cast<int>(status)) && location) {
            answer.failure = follow(url, *location, exchange.secure, hop, request);
            if (!answer.failure.empty()) return answer;
            continue;
        }
        answer.head = read_head(get, static_cast<int>(status), url);
        if (!receiver.head(answer.head)) {
            answer.complete = answer.stopped = true;
            return answer;
        }
        receive_body(get, request, receiver, answer);
        return answer;
    }
}

}  // namespace

WebClient& native_web() {
    static WinHttpWeb web;
    return web;
}

}  // namespace kalv::platform
