#include "doctor_web.h"

#include <algorithm>
#include <memory>
#include <optional>

#include "core/http_date.h"
#include "launcher/launcher.h"

namespace kalvtool::doctor {

namespace launcher = kalv::launcher;
namespace platform = kalv::platform;

namespace {

// What a GET of the upgrade URL answers, its head only: the body is not wanted.
struct HeadOnly final : platform::WebReceiver {
    bool head(const platform::WebAnswerHead&) override { return false; }
    bool body(const char*, size_t) override { return false; }
};

}  // namespace

WebUpgradeFinding check_web_upgrade(Report& report, platform::Platform& os, platform::WebClient& web,
                                    const std::string& url, const std::string& local) {
    const std::string subject = "upgrade copy";
    platform::WebRequest request;
    request.url = url;
    request.stall_bound = launcher::kCopyStallTimeout;
    const bool local_exists = os.file_exists(local);
    if (local_exists)
        if (const std::optional<int64_t> stamp = os.modification_stamp(local))
            request.if_modified_since = kalv::http_date(platform::unix_seconds_of_stamp(*stamp));
    platform::WebClient* const client = &web;
    auto answer = std::make_shared<platform::WebAnswer>();
    const bool ended = platform::finish_within(os, launcher::kWebDownloadLimit, [client, request, answer] {
        HeadOnly only;
        *answer = client->fetch(request, only);
    });
    if (!ended || (!answer->complete && answer->head.status == 0)) {
        report.line(Level::Warn, subject, url + ": " + (ended ? answer->failure : std::string("no answer")),
                    "Every start goes on with the local package without a refresh (no box): check this "
                    "PC's connection to the server, its name and its certificate");
        return {};
    }
    const platform::WebAnswerHead& head = answer->head;
    const std::string status = "the server answered " + std::to_string(head.status);
    if (head.status == 304) {
        report.line(Level::Ok, subject, url + ": " + status + " (not modified since the local package)",
                    "The next start keeps the local package, at the cost of one small request");
        return {};
    }
    if (head.status == 404 || head.status == 410) {
        report.line(Level::Warn, subject, url + ": " + status + " (not there)",
                    "Every start shows \"File not found :\" and goes on with the local package: publish the "
                    "package there, or correct Upgrade= in NET.INF");
        return {};
    }
    if (head.status != 200) {
        report.line(Level::Warn, subject, url + ": " + status,
                    "Every start goes on with the local package without a refresh (no box): check the "
                    "server's configuration and log");
        return {};
    }
    const std::optional<int64_t> modified = kalv::parse_http_date(head.last_modified);
    const int32_t copy_age = modified ? platform::local_dos_age(*modified) : -1;
    const std::string found =
        url + ": " +
        size_and_date(head.content_length < 0 ? std::nullopt : std::optional(head.content_length), copy_age) +
        (head.url != url ? " (from " + head.url + ")" : std::string());
    if (!launcher::UpgradeIsNewer(local_exists, os.file_age(local), copy_age)) {
        if (copy_age == -1) {
            report.line(Level::Warn, subject, found + ", without a usable Last-Modified",
                        "A copy without a date from 1980 to 2107 is never fetched: have the server send "
                        "Last-Modified (a file server does)");
        } else {
            report.line(Level::Ok, subject, found + ", not newer than the local package",
                        "The next start keeps the local package");
        }
        return {};
    }
    if (head.content_length > launcher::kWebDownloadCap) {
        report.line(Level::Warn, subject, found + ", larger than the launcher fetches",
                    "Every start stops the download and goes on with the local package");
        return {};
    }
    std::string fetch = "The next start fetches it";
    if (const std::optional<launcher::PendingDownload> pending = launcher::PendingWebDownload(os, local)) {
        const std::string kept = std::to_string(pending->size) + " bytes kept from a download cut short";
        fetch = launcher::ResumesFrom(*pending, head) ? "The next start fetches the rest of it (" + kept + ")"
                                                      : "The next start drops the " + kept + " (another copy) and "
                                                        "fetches it anew";
    }
    report.line(Level::Ok, subject, found + ", newer than the local package",
                fetch + ", and installs it once its signature (when keys are trusted) and its Kalvo3main "
                        "check out; it was not downloaded here");
    return {true, std::max<int64_t>(head.content_length, 0)};
}

}  // namespace kalvtool::doctor
