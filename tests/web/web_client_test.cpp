// The HTTP client's contract, one table for both backends, against the local package
// server that run_web_client_test.sh starts (its ports and served folder in the
// environment). "$ETAG" and "$LM" in a case stand for the validators of the served
// file, as a first plain fetch reports them.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

#include "platform/web.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace kalv::platform {
namespace {

constexpr const char* kLastModified = "Fri, 02 Jan 2026 03:04:05 GMT";  // set by the runner

std::string env(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

// Wine 8's WinHTTP refuses a certificate it cannot chain to a trusted root, but reports
// that as a failed TLS channel (ERROR_WINHTTP_SECURE_CHANNEL_ERROR) and calls no
// secure-failure callback, so the client cannot name the reason there.
bool under_wine() {
#ifdef _WIN32
    const HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return ntdll && GetProcAddress(ntdll, "wine_get_version");
#else
    return false;
#endif
}

std::string served_file() {
    std::ifstream in(env("KALV_WEB_ROOT") + "/pkg", std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Which server a case asks.
enum class Server { http, https, https_by_address, wrong_certificate, closed_port };

std::string base_url(Server server) {
    switch (server) {
    case Server::http: return "http://127.0.0.1:" + env("KALV_WEB_HTTP");
    case Server::https: return "https://localhost:" + env("KALV_WEB_HTTPS");
    case Server::https_by_address: return "https://127.0.0.1:" + env("KALV_WEB_HTTPS");
    case Server::wrong_certificate: return "https://127.0.0.1:" + env("KALV_WEB_WRONG");
    case Server::closed_port: return "http://127.0.0.1:" + env("KALV_WEB_CLOSED");
    }
    return {};
}

struct Collector final : WebReceiver {
    bool stop_at_head = false;
    int heads = 0;
    WebAnswerHead seen;
    std::string data;
    bool head(const WebAnswerHead& h) override {
        ++heads;
        seen = h;
        return !stop_at_head;
    }
    bool body(const char* bytes, size_t size) override {
        data.append(bytes, size);
        return true;
    }
};

// What arrives as the body.
enum class Body { whole, tail_from_1000, first_5000, none, any };

struct Case {
    const char* why;
    Server server;
    std::string path;
    std::string if_modified_since, if_none_match;
    int64_t range_from = -1;
    std::string if_range;
    int max_redirects = 5;
    bool stop_at_head = false;
    // Expected:
    bool complete = true;
    int status = 200;
    Body body = Body::whole;
    std::string failure;  // a part of the failure's words; empty: no failure
};

std::string fill(std::string text, const WebAnswerHead& validators) {
    for (auto [mark, value] : {std::pair<std::string, std::string>{"$ETAG", validators.etag},
                               std::pair<std::string, std::string>{"$LM", validators.last_modified}})
        if (const size_t at = text.find(mark); at != std::string::npos) text.replace(at, mark.size(), value);
    return text;
}

WebAnswer fetch(const std::string& url, Collector& into, const Case* c = nullptr,
                const WebAnswerHead* validators = nullptr) {
    WebRequest request;
    request.url = url;
    request.connect_timeout = std::chrono::seconds(5);
    // Short, so that the cases of a silent server end soon.
    request.stall_bound = std::chrono::seconds(2);
    if (c) {
        request.if_modified_since = fill(c->if_modified_since, *validators);
        request.if_none_match = fill(c->if_none_match, *validators);
        request.range_from = c->range_from;
        request.if_range = fill(c->if_range, *validators);
        request.max_redirects = c->max_redirects;
        into.stop_at_head = c->stop_at_head;
    }
    return native_web().fetch(request, into);
}

TEST(WebClient, PlainFetchReportsTheHeadAndTheWholeBody) {
    const std::string file = served_file();
    ASSERT_EQ(file.size(), 200000u) << "the runner serves a 200000-byte pkg";
    Collector got;
    const std::string url = base_url(Server::http) + "/pkg";
    const WebAnswer answer = fetch(url, got);
    ASSERT_TRUE(answer.complete) << answer.failure;
    EXPECT_FALSE(answer.stopped);
    EXPECT_EQ(got.heads, 1);
    EXPECT_EQ(answer.head.status, 200);
    EXPECT_EQ(answer.head.last_modified, kLastModified);
    EXPECT_EQ(answer.head.etag.front(), '"') << "a strong tag, exactly as sent";
    EXPECT_EQ(answer.head.content_length, 200000);
    EXPECT_EQ(answer.head.range_first, -1);
    EXPECT_EQ(answer.head.url, url);
    EXPECT_TRUE(got.data == file) << "body differs from the served file";
}

TEST(WebClient, ContractTable) {
    const std::string file = served_file();
    Collector first;
    ASSERT_TRUE(fetch(base_url(Server::http) + "/pkg", first).complete);
    const WebAnswerHead validators = first.seen;

    const Case cases[] = {
        {"If-Modified-Since equal to Last-Modified: not modified", Server::http, "/pkg", "$LM", "", -1, "", 5, false,
         true, 304, Body::none, ""},
        {"If-Modified-Since a day earlier: the whole file", Server::http, "/pkg", "Thu, 01 Jan 2026 03:04:05 GMT", "",
         -1, "", 5, false, true, 200, Body::whole, ""},
        {"If-None-Match with the file's tag: not modified", Server::http, "/pkg", "", "$ETAG", -1, "", 5, false, true,
         304, Body::none, ""},
        {"If-None-Match with another tag: the whole file", Server::http, "/pkg", "", "\"another\"", -1, "", 5, false,
         true, 200, Body::whole, ""},
        {"a resume whose If-Range tag matches: 206 and the rest", Server::http, "/pkg", "", "", 1000, "$ETAG", 5, false,
         true, 206, Body::tail_from_1000, ""},
        {"a resume whose If-Range date matches: 206 and the rest", Server::http, "/pkg", "", "", 1000, "$LM", 5, false,
         true, 206, Body::tail_from_1000, ""},
        {"a resume after the file changed (stale If-Range): 200 and the whole file", Server::http, "/pkg", "", "", 1000,
         "\"stale\"", 5, false, true, 200, Body::whole, ""},
        {"a missing file: a complete 404", Server::http, "/missing", "", "", -1, "", 5, false, true, 404, Body::any,
         ""},
        {"three redirects followed to the file", Server::http, "/redirect/3/pkg", "", "", -1, "", 5, false, true, 200,
         Body::whole, ""},
        {"as many redirects as allowed are followed", Server::http, "/redirect/2/pkg", "", "", -1, "", 2, false, true,
         200, Body::whole, ""},
        {"one redirect more than allowed: refused", Server::http, "/redirect/3/pkg", "", "", -1, "", 2, false, false, 0,
         Body::none, "too many redirects"},
        {"an absolute Location is followed", Server::http, "/to-http/" + env("KALV_WEB_HTTP") + "/pkg", "", "", -1, "",
         5, false, true, 200, Body::whole, ""},
        {"no redirect from https down to http", Server::https, "/to-http/" + env("KALV_WEB_HTTP") + "/pkg", "", "", -1,
         "", 5, false, false, 0, Body::none, "no redirect from https to http"},
        {"a blank in the URL: refused before anything is sent", Server::http, "/p kg", "", "", -1, "", 5, false,
         false, 0, Body::none, "the URL is malformed"},
        {"a connection closed inside the body: a failure, not a short file", Server::http, "/cut/5000/pkg", "", "", -1,
         "", 5, false, false, 200, Body::first_5000, "the answer ended after 5000 of 200000 bytes"},
        {"a body that stops flowing ends at the stall bound", Server::http, "/stall/5000/pkg", "", "", -1, "", 5, false,
         false, 200, Body::first_5000, "no answer within 2 s after 5000 bytes of the body"},
        {"a server that never answers ends at the stall bound", Server::http, "/hang/pkg", "", "", -1, "", 5, false,
         false, 0, Body::none, "no answer within 2 s"},
        {"nothing listening: connection refused", Server::closed_port, "/pkg", "", "", -1, "", 5, false, false, 0,
         Body::none, "connection refused"},
        {"HTTPS with a certificate of the trusted test CA", Server::https, "/pkg", "", "", -1, "", 5, false, true, 200,
         Body::whole, ""},
        {"HTTPS to an address the certificate names (its IP SAN)", Server::https_by_address, "/pkg", "", "", -1, "",
         5, false, true, 200, Body::whole, ""},
        {"HTTPS redirected and resumed", Server::https, "/redirect/1/pkg", "", "", 1000, "$ETAG", 5, false, true, 206,
         Body::tail_from_1000, ""},
        {"HTTPS with a certificate nothing vouches for: refused before any answer", Server::wrong_certificate, "/pkg",
         "", "", -1, "", 5, false, false, 0, Body::none, "certificate not trusted"},
        {"a receiver that wants no body ends the exchange at the head", Server::http, "/pkg", "", "", -1, "", 5, true,
         true, 200, Body::none, ""},
    };
    for (const Case& c : cases) {
        // Wine 8's chain policy matches the host only against DNS names: it refuses a
        // certificate for the address it was made out to (Windows takes it).
        if (c.server == Server::https_by_address && under_wine()) continue;
        SCOPED_TRACE(c.why);
        Collector got;
        const std::string url = base_url(c.server) + c.path;
        const WebAnswer answer = fetch(url, got, &c, &validators);
        EXPECT_EQ(answer.complete, c.complete) << answer.failure;
        EXPECT_EQ(answer.stopped, c.stop_at_head);
        if (c.failure.empty())
            EXPECT_EQ(answer.failure, "");
        else if (c.server == Server::wrong_certificate && under_wine())
            EXPECT_EQ(answer.failure, "the TLS handshake failed");
        else
            EXPECT_NE(answer.failure.find(c.failure), std::string::npos) << answer.failure;
        // A failure before the final answer's head: the receiver never hears of it.
        EXPECT_EQ(got.heads, c.status ? 1 : 0);
        EXPECT_EQ(answer.head.status, c.status);
        if (c.status == 206) {
            EXPECT_EQ(answer.head.range_first, 1000);
            EXPECT_EQ(answer.head.complete_length, 200000);
            EXPECT_EQ(answer.head.content_length, 199000);
        }
        if (c.status == 200 || c.status == 206) {
            // The URL that answered: past any redirect, the file's own.
            const bool redirected = c.path.rfind("/redirect/", 0) == 0 || c.path.rfind("/to-http/", 0) == 0;
            EXPECT_EQ(answer.head.url, base_url(c.server) + (redirected ? "/pkg" : c.path));
        }
        switch (c.body) {
        case Body::whole: EXPECT_TRUE(got.data == file) << got.data.size() << " bytes"; break;
        case Body::tail_from_1000: EXPECT_TRUE(got.data == file.substr(1000)) << got.data.size() << " bytes"; break;
        case Body::first_5000: EXPECT_TRUE(got.data == file.substr(0, 5000)) << got.data.size() << " bytes"; break;
        case Body::none: EXPECT_EQ(got.data.size(), 0u); break;
        case Body::any: break;
        }
    }
}

}  // namespace
}  // namespace kalv::platform
