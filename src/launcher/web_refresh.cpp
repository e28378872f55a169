// The refresh of the program package from an upgrade location named by a URL.
//
//   1 ask      one conditional GET: If-Modified-Since the local package's last-write
//              time, If-None-Match the ETag it was fetched with, and for a download
//              left cut short, Range from its end with If-Range its validator
//   2 decide   304: nothing to do; 404: the "File not found" box; another status or
//              a network failure: a line in the run log (the shop works offline, as
//              when the share is down); 200/206: the server's Last-Modified, as a file
//              age, must be newer than the local package's (UpgradeIsNewer)
//   3 receive  the body, into a file created exclusively beside the package, on a
//              helper thread while the splash window is kept alive; a transfer cut
//              short is kept under a stable name with its validator, for the next start
//   4 install  last-write time = Last-Modified, then checked and put in place as a
//              copy from a share is (InstallCheckedCopy)
//
// Every file beside the package that this keeps (the ETag, the download to resume and
// its validator) is written as a new file and renamed into place, and read only when a
// regular file stands at its name: what is planted there is never followed or written
// through, and what does not look as written is dropped.
#include <algorithm>
#include <atomic>
#include <exception>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/http_date.h"
#include "launcher/boxes.h"
#include "launcher/launcher.h"
#include "launcher/package_trust.h"
#include "launcher/run_log.h"
#include "platform/platform.h"
#include "platform/web.h"

namespace kalv::launcher {

namespace {

// Beside the package "Kalvo3pack": the ETag it was fetched with, the download left cut
// short, and that download's validator.
constexpr const char* kEtagSuffix = ".etag";
constexpr const char* kPartialSuffix = ".partial";
constexpr const char* kPartialTagSuffix = ".partial.tag";
constexpr const char* kIncomingSuffix = ".incoming";
// A side file holds two or three short lines; anything longer was not written by us.
constexpr size_t kSideFileLimit = 1024;
constexpr size_t kCopyBlock = 1 << 16;

struct SideFile {
    std::vector<std::string> lines;
};

// The lines of a side file of ours, or nullopt when none is there or what is there is
// not one (a link, a FIFO, too long, a control character other than the line ends).
std::optional<SideFile> ReadSideFile(platform::FileSystem& files, const std::string& path) {
    platform::OsResult<std::unique_ptr<platform::FileHandle>> opened =
        files.open(path, platform::OpenMode::ReadOwnFile);
    if (!opened) return std::nullopt;
    std::string text(kSideFileLimit + 1, '\0');
    text.resize((*opened)->read(text.data(), text.size()));
    if (text.size() > kSideFileLimit || text.empty() || text.back() != '\n') return std::nullopt;
    SideFile side;
    size_t start = 0;
    for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
        side.lines.push_back(text.substr(start, end - start));
        for (const char c : side.lines.back())
            if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) return std::nullopt;
    }
    return side;
}

// Writes `lines` to `path` as a new file put in place in one step.
bool WriteSideFile(platform::FileSystem& files, const std::string& path, const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines) text += line + "\n";
    try {
        platform::TemporaryFile made = platform::create_temporary_beside(files, path, ".new");
        const bool written = made.handle->write_all(text.data(), text.size()) && made.handle->sync();
        made.handle.reset();
        if (written && files.replace_file(made.path, path)) return true;
        files.delete_file(made.path);
    } catch (const std::exception&) {
    }
    return false;
}

std::optional<int64_t> DecimalLine(const std::string& line) {
    if (line.empty() || line.size() > 18 || line.find_first_not_of("0123456789") != std::string::npos)
        return std::nullopt;
    return std::stoll(line);
}

// What a server may send as an entity tag (RFC 9110 8.8.3): "..." or W/"...", with
// no control character; anything else is not sent back to it.
bool IsEntityTag(const std::string& tag) {
    const size_t quote = tag.rfind("W/", 0) == 0 ? 2 : 0;
    if (tag.size() < quote + 2 || tag[quote] != '"' || tag.back() != '"') return false;
    return std::none_of(tag.begin(), tag.end(), [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; });
}

// A weak tag (W/"...") says "equivalent", not "the same bytes": it may not guard a
// range request (RFC 9110 13.1.5), so a download resumes on a strong one only.
bool IsStrongTag(const std::string& tag) { return IsEntityTag(tag) && tag[0] == '"'; }

// The local package as the server's validators see it.
struct LocalPackage {
    bool exists = false;
    int32_t age = -1;
    int64_t size = -1;
    std::optional<int64_t> unix_time;  // its last-write time
};

// The ETag the installed package was fetched with: the file names the package's time
// and size too, so a package put there by other means (a copy from a share, a
// restore) is never taken for the one the tag was given with.
std::string InstalledEtag(platform::FileSystem& files, const std::string& target, const LocalPackage& local) {
    const std::optional<SideFile> side = ReadSideFile(files, target + kEtagSuffix);
    if (!side || side->lines.size() != 3 || !IsEntityTag(side->lines[0])) return {};
    if (DecimalLine(side->lines[1]) != local.unix_time || DecimalLine(side->lines[2]) != local.size) return {};
    return side->lines[0];
}

// A download left cut short: its bytes and the validator they were sent under.
struct Leftover {
    std::unique_ptr<platform::FileHandle> bytes;
    int64_t size = 0;
    std::string validator;
};

void DropLeftover(platform::FileSystem& files, const std::string& target) {
    // The validator first: bytes without one are never resumed.
    files.delete_file(target + kPartialTagSuffix);
    files.delete_file(target + kPartialSuffix);
}

// The kept bytes, open, and their validator, when both are there and agree;
// `anything_there` tells whether anything stood at either name.
std::optional<Leftover> ReadLeftover(platform::FileSystem& files, const std::string& target, bool& anything_there) {
    const std::string partial = target + kPartialSuffix;
    const std::optional<SideFile> side = ReadSideFile(files, target + kPartialTagSuffix);
    platform::OsResult<std::unique_ptr<platform::FileHandle>> opened =
        files.open(partial, platform::OpenMode::ReadOwnFile);
    anything_there = side || opened || files.file_exists(partial) || files.is_link(partial);
    if (!side || side->lines.size() != 2 || !opened) return std::nullopt;
    Leftover leftover;
    leftover.validator = side->lines[0];
    leftover.bytes = std::move(*opened);
    leftover.size = leftover.bytes->size();
    if (DecimalLine(side->lines[1]) != leftover.size || leftover.size <= 0 ||
        !(IsStrongTag(leftover.validator) || parse_http_date(leftover.validator)))
        return std::nullopt;
    return leftover;
}

std::optional<Leftover> FindLeftover(platform::FileSystem& files, const std::string& target) {
    bool anything_there = false;
    std::optional<Leftover> leftover = ReadLeftover(files, target, anything_there);
    // Anything odd (bytes without a validator, a length that is not the one noted, a
    // link or a FIFO at either name): start over. The handle is gone by now: an open
    // file cannot be deleted on Windows.
    if (!leftover && anything_there) DropLeftover(files, target);
    return leftover;
}

// The receiving end of one request, shared with the helper thread that runs it: the
// helper touches only this and the open handles in it, never the file system by name,
// the run log or the window.
struct Download final : platform::WebReceiver {
    // Set before the request.
    LocalPackage local;
    std::unique_ptr<platform::FileHandle> out;  // the incoming copy
    std::unique_ptr<platform::FileHandle> leftover;
    int64_t leftover_size = 0;
    std::atomic<bool> cancelled{false};

    // What the helper found.
    platform::WebAnswer answer;
    platform::WebAnswerHead answer_head;
    bool wanted = false;         // a 200 or 206 whose body is being kept
    int32_t source_age = -1;     // of Last-Modified, as a file age
    std::optional<int64_t> source_time;
    int64_t expected = -1;       // the whole package's length, when the server said it
    int64_t written = 0;         // bytes in `out`, the resumed ones included
    std::string why_stopped;     // set when this side ended the transfer
    bool resume_refused = false; // the answer does not continue the leftover

    bool head(const platform::WebAnswerHead& h) override {
        answer_head = h;
        if (h.status != 200 && h.status != 206) return false;
        source_time = parse_http_date(h.last_modified);
        source_age = source_time ? platform::local_dos_age(*source_time) : -1;
        expected = h.status == 200 ? h.content_length : h.complete_length;
        if (!UpgradeIsNewer(local.exists, local.age, source_age)) {
            why_stopped = source_time ? "the upgrade copy is not newer"
                                      : "the server gives no Last-Modified, so the copy cannot be shown to be newer";
            return false;
        }
        if (expected > kWebDownloadCap) return TooLarge();
        if (h.status == 206) {
            // Only a continuation of exactly our bytes may be appended (RFC 9110 14.4).
            if (!leftover || h.range_first != leftover_size || h.complete_length < leftover_size) {
                resume_refused = true;
                return false;
            }
            if (!CopyLeftover()) return false;
        }
        wanted = true;
        return true;
    }

    bool body(const char* data, size_t size) override {
        if (cancelled) return false;
        if (written + static_cast<int64_t>(size) > kWebDownloadCap) return TooLarge();
        if (!out->write_all(data, size)) {
            why_stopped = "the download could not be written beside the package";
            return false;
        }
        written += static_cast<int64_t>(size);
        return true;
    }

private:
    bool TooLarge() {
        why_stopped = "the upgrade copy is larger than " + std::to_string(kWebDownloadCap >> 20) + " MiB";
        return false;
    }

    bool CopyLeftover() {
        std::vector<char> block(kCopyBlock);
        if (leftover->seek(0, platform::SeekOrigin::Begin) != 0) return false;
        while (written < leftover_size) {
            const platform::OsResult<size_t> got = leftover->read_some(block.data(), block.size());
            if (!got || *got == 0 || !out->write_all(block.data(), *got)) {
                why_stopped = "the download to resume could not be read";
                return false;
            }
            written += static_cast<int64_t>(*got);
        }
        return written == leftover_size;
    }
};

// One request, run on a helper thread while the window is kept alive; false when it
// did not end within the limit. The helper then ends at its next byte or at the stall
// bound, and what it holds is its own: nothing of `download` may be touched after.
bool Fetch(const LauncherOs& os, platform::WebClient& web, const platform::WebRequest& request,
           const std::shared_ptr<Download>& download) {
    platform::WebClient* const client = &web;
    const bool ended = platform::finish_within(os.ui, kWebDownloadLimit, [client, request, download] {
        download->answer = client->fetch(request, *download);
    });
    if (!ended) download->cancelled = true;
    return ended;
}

std::string Validator(const platform::WebAnswerHead& head) {
    if (IsStrongTag(head.etag)) return head.etag;
    return parse_http_date(head.last_modified) ? head.last_modified : std::string();
}

std::string MinutesText(std::chrono::milliseconds limit) {
    return std::to_string(std::chrono::duration_cast<std::chrono::minutes>(limit).count()) + " min";
}

// The local package as the server's validators see it.
LocalPackage LookAtLocal(platform::FileSystem& files, const std::string& target) {
    LocalPackage local;
    local.exists = files.file_exists(target);
    local.age = files.file_age(target);
    local.size = files.file_size(target);
    if (local.exists)
        if (const std::optional<int64_t> stamp = files.modification_stamp(target))
            local.unix_time = platform::unix_seconds_of_stamp(*stamp);
    return local;
}

// One exchange and what it brought.
struct Asked {
    std::shared_ptr<Download> download;  // null: the fetch outran its limit (noted)
    std::string incoming;                // the copy beside the package
    bool had_leftover = false;           // a leftover was there (and may still be)
};

// 1 ask: the conditional request, resuming a leftover; asked again without it when the
// server would not continue it.
Asked Ask(const LauncherOs& os, const std::string& target, const std::string& url, const LocalPackage& local) {
    platform::FileSystem& files = os.files;
    std::optional<Leftover> leftover = FindLeftover(files, target);
    Asked asked;
    asked.had_leftover = leftover.has_value();
    for (int attempt = 0; attempt < 2; ++attempt) {
        platform::WebRequest request;
        request.url = url;
        request.stall_bound = kCopyStallTimeout;
        if (local.exists && local.unix_time) {
            request.if_modified_since = http_date(*local.unix_time);
            request.if_none_match = InstalledEtag(files, target, local);
        }
        const auto download = std::make_shared<Download>();
        download->local = local;
        if (leftover) {
            request.range_from = leftover->size;
            request.if_range = leftover->validator;
            download->leftover = std::move(leftover->bytes);
            download->leftover_size = leftover->size;
            runlog::Note("download to resume: " + std::to_string(leftover->size) + " bytes");
        }
        platform::TemporaryFile made = platform::create_temporary_beside(files, target, kIncomingSuffix);
        download->out = std::move(made.handle);
        asked.incoming = made.path;
        const std::chrono::milliseconds since = os.processes.monotonic_time();
        const bool ended = Fetch(os, *os.web, request, download);
        // What the exchange cost this start, for the administrator who wonders.
        const std::string took = " in " + std::to_string((os.processes.monotonic_time() - since).count()) + " ms";
        if (!ended) {
            files.delete_file(asked.incoming);
            runlog::Note("refresh: not fetched, the download took longer than " + MinutesText(kWebDownloadLimit) +
                         "; the local package is used");
            return asked;
        }
        const int status = download->answer_head.status;
        runlog::Note(status == 0 ? "server: no answer" + took
                                 : "server: " + std::to_string(status) + took +
                                       (download->wanted ? ", " + std::to_string(download->written -
                                                                                 download->leftover_size) +
                                                               " bytes of the body received"
                                                         : std::string()));
        download->leftover.reset();  // an open file cannot be deleted on Windows
        asked.download = download;
        if (!download->resume_refused && status != 416) return asked;
        runlog::Note("the server does not continue the download (it answered " + std::to_string(status) +
                     "); it starts over");
        download->out.reset();
        files.delete_file(asked.incoming);
        leftover.reset();
        DropLeftover(files, target);
        asked.had_leftover = false;
    }
    return asked;
}

// 3 receive, cut short: what came of a newer package is kept for the next start under
// the validator it came with (without one it could not be resumed safely); "" or why
// not, for the run log.
std::string KeepForResume(platform::FileSystem& files, const std::string& target, Download& download,
                          const std::string& incoming) {
    const std::string validator = Validator(download.answer_head);
    if (!download.wanted || !download.why_stopped.empty() || download.written == 0 || validator.empty())
        return "";
    if (!download.out->sync()) return "";
    download.out.reset();
    DropLeftover(files, target);
    if (!files.replace_file(incoming, target + kPartialSuffix) ||
        !WriteSideFile(files, target + kPartialTagSuffix, {validator, std::to_string(download.written)}))
        return "";
    return "; " + std::to_string(download.written) + " bytes kept to resume";
}

// 4 install: the whole copy, dated as the server dates it, checked and put in place;
// "" or why not.
std::string Install(const LauncherOs& os, const std::string& target, const std::vector<NamedKey>& trusted,
                    Download& download, const std::string& incoming) {
    platform::FileSystem& files = os.files;
    std::string why_not;
    if (download.expected >= 0 && download.written != download.expected) {
        why_not = "the download ended after " + std::to_string(download.written) + " of " +
                  std::to_string(download.expected) + " bytes";
    } else if ((download.source_time && !download.out->set_unix_time(*download.source_time)) ||
               !download.out->sync()) {
        why_not = "the download could not be written beside the package";
    }
    download.out.reset();
    if (!why_not.empty()) return why_not;
    why_not = InstallCheckedCopy(files, os.ui, trusted, incoming, target);
    if (!why_not.empty()) return why_not;
    // The ETag goes with this package only: its time and size say which one it is.
    files.delete_file(target + kEtagSuffix);
    const platform::WebAnswerHead& head = download.answer_head;
    if (IsEntityTag(head.etag) && download.source_time)
        (void)WriteSideFile(files, target + kEtagSuffix,
                            {head.etag, std::to_string(*download.source_time), std::to_string(download.written)});
    return "";
}

}  // namespace

std::optional<PendingDownload> PendingWebDownload(platform::FileSystem& files, const std::string& target) {
    bool anything_there = false;
    const std::optional<Leftover> leftover = ReadLeftover(files, target, anything_there);
    if (!leftover) return std::nullopt;
    return PendingDownload{leftover->size, leftover->validator};
}

bool ResumesFrom(const PendingDownload& pending, const platform::WebAnswerHead& head) {
    return !pending.validator.empty() && pending.validator == Validator(head);
}

void HaveNewVersionFromWeb(const LauncherOs& os, const std::string& target, const std::string& url,
                           const std::vector<NamedKey>& trusted) {
    platform::FileSystem& files = os.files;
    try {
        if (!os.web) {
            runlog::Note("refresh: not fetched, this program has no HTTP client");
            return;
        }
        const LocalPackage local = LookAtLocal(files, target);
        runlog::Note("local package: " + runlog::PackageText(local.exists, local.age, local.size));

        const Asked asked = Ask(os, target, url, local);
        if (!asked.download) return;
        Download& download = *asked.download;
        const platform::WebAnswer& answer = download.answer;
        const int status = download.answer_head.status;
        if (status == 200 || status == 206)
            runlog::Note("upgrade copy: " + (download.expected >= 0
                                                 ? runlog::PackageText(true, download.source_age, download.expected)
                                                 : runlog::DosTimeText(download.source_age) + ", size not given"));

        // 2 decide
        if (!answer.complete || (download.wanted && answer.stopped)) {
            // A copy too large, or one that cannot be written here, is not worth resuming.
            if (!download.why_stopped.empty()) DropLeftover(files, target);
            const std::string why = !download.why_stopped.empty() ? download.why_stopped : answer.failure;
            const std::string kept = KeepForResume(files, target, download, asked.incoming);
            download.out.reset();
            files.delete_file(asked.incoming);
            runlog::Note("refresh: not fetched, " + why + kept + "; the local package is used");
            return;
        }
        if (!download.wanted) {
            download.out.reset();
            files.delete_file(asked.incoming);
            // The server's copy is the installed one, or one not to be had: a download
            // to resume would never be installed. One that a 5xx answered stays.
            if (asked.had_leftover && (status == 304 || status == 404 || status == 410 || !download.why_stopped.empty()))
                DropLeftover(files, target);
            if (status == 304) {
                runlog::Note("refresh: not fetched, the server answered 304 (not modified)");
            } else if (!download.why_stopped.empty()) {
                runlog::Note("refresh: not fetched, " + download.why_stopped);
            } else {
                runlog::Note("refresh: not fetched, the server answered " + std::to_string(status));
                if (status == 404 || status == 410)
                    ShowErrorBox(os.ui, Text(os.ui, kTextFileNotFound) + kBoxLineBreak + url, "CopyFile");
            }
            return;
        }

        if (status == 206) runlog::Note("resumed from " + std::to_string(download.leftover_size) + " bytes");
        const std::string why_not = Install(os, target, trusted, download, asked.incoming);
        // Whatever came of this answer is done with: installed, or not to be resumed.
        DropLeftover(files, target);
        if (!why_not.empty()) files.delete_file(asked.incoming);
        runlog::Note(why_not.empty() ? "refresh: fetched" : "refresh: not fetched, " + why_not);
    } catch (const std::exception& failure) {
        ShowProblemBox(os.ui, "HaveNewVersion", failure.what(), "CopyFile");
    }
}

}  // namespace kalv::launcher
