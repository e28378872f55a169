#include "archive_test.h"

#include <cstdio>
#include <set>

#include "archive_args.h"
#include "core/errors.h"
#include "unzip/unzipper.h"

namespace kalvtool {

using kalv::unzip::DecodeStatus;
using kalv::unzip::SkipReason;
using kalv::unzip::UnZipper;

namespace {

std::string crc_mismatch(uint32_t computed, uint32_t stored) {
    char text[64];
    std::snprintf(text, sizeof text, "CRC-32 %08X, expected %08X", static_cast<unsigned>(computed),
                  static_cast<unsigned>(stored));
    return text;
}

std::string bad_data(DecodeStatus status) {
    switch (status) {
        case DecodeStatus::EndOfInput: return "bad data: the compressed data ends too early";
        case DecodeStatus::OutOfMemory: return "out of memory while decoding";
        default: return "bad data: not a valid compressed stream";
    }
}

// Why the entry in hand failed, from what the component found (LastEntryCheck).
std::string failure_reason(const UnZipper& z, int index, bool encrypted) {
    const UnZipper::EntryCheck& check = z.LastEntryCheck();
    // The encryption header's check byte did not match: the password is wrong (or the
    // header itself damaged, which nothing can tell apart).
    if (!check.decoded) return "bad password";
    const std::string what = check.status != DecodeStatus::Done ? bad_data(check.status)
                                                                  : crc_mismatch(check.computed_crc, z.Entry(index).Crc32);
    // The check byte matches one wrong password in 256, so decoded garbage may still
    // be a wrong password.
    return encrypted ? what + " (damaged, or a wrong password)" : what;
}

}  // namespace

int ArchiveVerdict::failed() const {
    int n = 0;
    for (const EntryVerdict& e : entries) n += e.ok ? 0 : 1;
    return n;
}

ArchiveVerdict test_archive(const char* command, const std::string& archive, const std::string& password,
                            const std::vector<std::string>& patterns,
                            const std::function<void(const EntryVerdict&)>& on_verdict) {
    ArchiveVerdict result;
    std::set<int> judged;
    int started = -1;  // the entry whose data is being read
    UnZipper zip;
    zip.UnlimitedDirectory = true;  // an archive of any entry count
    zip.DoProcessMessages = false;  // no window to repaint
    report_on_stderr(zip, command);
    zip.TestMode = true;
    zip.Password = password;
    zip.SetZipName(archive);
    choose_entries(zip, patterns);

    auto judge = [&](UnZipper& z, int index, bool ok, std::string reason) {
        if (!judged.insert(index).second) return;  // a later pass meets it again
        const kalv::unzip::ZipHeaderInfo& entry = z.Entry(index);
        result.entries.push_back(
            {entry.StoredPath(), ok, std::move(reason), static_cast<int64_t>(entry.UncompressedSize)});
        if (on_verdict) on_verdict(result.entries.back());
    };
    zip.OnStartUnZipInfo = [&](UnZipper&, int files, int64_t, bool&) { result.chosen = files; };
    zip.OnStartUnZip = [&](UnZipper&, int index, const std::string&, bool& skip) {
        if (judged.count(index)) {
            skip = true;
        } else {
            started = index;
        }
    };
    zip.OnEndUnZip = [&](UnZipper& z, int index, const std::string&) { judge(z, index, true, {}); };
    zip.OnBadCRC = [&](UnZipper& z, uint32_t, uint32_t, int index) {
        judge(z, index, false, failure_reason(z, index, false));
    };
    zip.OnSkippingFile = [&](UnZipper& z, SkipReason reason, const std::string&, int index) {
        std::string why;
        if (reason == SkipReason::srBadPassword) {
            why = failure_reason(z, index, true);
        } else if (reason == SkipReason::srUnknownMethod) {
            why = "unknown compression method " + std::to_string(z.Entry(index).CompressionMethod);
        } else {
            why = kalv::unzip::skip_reason_text(reason);
        }
        judge(z, index, false, why);
    };

    // Each pass judges at least one more entry or ends, so this ends.
    for (;;) {
        started = -1;
        try {
            zip.UnZip();
            return result;
        } catch (const kalv::Error& failure) {
            if (started < 0 || judged.count(started)) throw;  // not inside an entry: the archive failed
            judge(zip, started, false, std::string("bad data: ") + failure.what());
        }
    }
}

int64_t chosen_size(const char* command, const std::string& archive, const std::vector<std::string>& patterns) {
    int64_t total = 0;
    UnZipper zip;
    zip.UnlimitedDirectory = true;  // an archive of any entry count
    zip.DoProcessMessages = false;
    report_on_stderr(zip, command);
    zip.TestMode = true;
    zip.SetZipName(archive);
    choose_entries(zip, patterns);
    // The component's own choice, stopped before the first entry is read.
    zip.OnStartUnZipInfo = [&](UnZipper&, int, int64_t bytes, bool& stop) {
        total = bytes;
        stop = true;
    };
    zip.UnZip();
    return total;
}

}  // namespace kalvtool
