#include "archive_test.h"

#include <cstdio>
#include <set>

#include "archive_args.h"
#include "core/errors.h"
#include "unzip/extract.h"

namespace kalvtool {

using kalv::unzip::DecodeStatus;
using kalv::unzip::EntryCheck;
using kalv::unzip::SkipReason;
using kalv::unzip::ZipHeaderInfo;

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

// Why the entry failed, from what the core found.
std::string failure_reason(const EntryCheck& check, const ZipHeaderInfo& entry) {
    // The encryption header's check byte did not match: the password is wrong (or the
    // header itself damaged, which nothing can tell apart).
    if (!check.decoded) return "bad password";
    if (!check.method_known) return "unknown compression method " + std::to_string(entry.CompressionMethod);
    const std::string what = check.status != DecodeStatus::Done ? bad_data(check.status)
                                                                : crc_mismatch(check.computed_crc, entry.Crc32);
    // The check byte matches one wrong password in 256, so decoded garbage may still
    // be a wrong password.
    return entry.IsEncrypted() ? what + " (damaged, or a wrong password)" : what;
}

// One verdict per entry, in the order they are reached.
class TestObserver final : public StderrObserver {
public:
    TestObserver(const char* command, ArchiveVerdict& result, const std::function<void(const EntryVerdict&)>& on_verdict)
        : StderrObserver(command), result_(result), on_verdict_(on_verdict) {}

    int started = -1;  // the entry whose data is being read

    bool judged(int index) const { return judged_.count(index) != 0; }
    void judge(int index, bool ok, std::string reason) {
        if (!judged_.insert(index).second) return;  // a later pass meets it again
        const ZipHeaderInfo& entry = archive->entry(index);
        result_.entries.push_back(
            {entry.StoredPath(), ok, std::move(reason), static_cast<int64_t>(entry.UncompressedSize)});
        if (on_verdict_) on_verdict_(result_.entries.back());
    }

    void starting(int entries, int64_t, bool&) override { result_.chosen = entries; }
    void entry_starting(int index, const std::string&, bool& skip) override {
        if (judged(index))
            skip = true;
        else
            started = index;
    }
    void extracted(int index, const std::string&, const EntryCheck&) override { judge(index, true, {}); }
    void failed(int index, const EntryCheck& check, uint32_t) override {
        judge(index, false, failure_reason(check, archive->entry(index)));
    }
    void skipped(int index, SkipReason reason, const std::string&, const EntryCheck& check) override {
        judge(index, false, reason == SkipReason::srBadPassword ? failure_reason(check, archive->entry(index))
                                                                : kalv::unzip::skip_reason_text(reason));
    }

private:
    ArchiveVerdict& result_;
    const std::function<void(const EntryVerdict&)>& on_verdict_;
    std::set<int> judged_;
};

}  // namespace

int ArchiveVerdict::failed() const {
    int n = 0;
    for (const EntryVerdict& e : entries) n += e.ok ? 0 : 1;
    return n;
}

ArchiveVerdict test_archive(kalv::platform::FileSystem& files, const char* command, const std::string& archive, const std::string& password,
                            const std::vector<std::string>& patterns,
                            const std::function<void(const EntryVerdict&)>& on_verdict) {
    ArchiveVerdict result;
    TestObserver observer(command, result, on_verdict);
    const std::unique_ptr<kalv::unzip::Archive> zip = open_archive(files, archive, observer);
    kalv::unzip::ExtractOptions options;
    options.test_only = true;
    options.password = password;
    choose_entries(options, patterns);
    // The first pass only listens, and may test several entries at once; a pass after
    // a failure skips the entries judged already, so it answers and runs on one thread.
    options.answers_nothing = true;
    // Each pass judges at least one more entry or ends, so this ends.
    for (;;) {
        observer.started = -1;
        try {
            kalv::unzip::extract(files, *zip, options, observer);
            return result;
        } catch (const kalv::Error& failure) {
            // Not inside an entry: the archive failed.
            if (observer.started < 0 || observer.judged(observer.started)) throw;
            observer.judge(observer.started, false, std::string("bad data: ") + failure.what());
            options.answers_nothing = false;
        }
    }
}

int64_t chosen_size(kalv::platform::FileSystem& files, const char* command, const std::string& archive, const std::vector<std::string>& patterns) {
    // The core's own choice, stopped before the first entry is read.
    struct Sizes final : StderrObserver {
        using StderrObserver::StderrObserver;
        int64_t total = 0;
        void starting(int, int64_t bytes, bool& stop) override {
            total = bytes;
            stop = true;
        }
    } observer(command);
    const std::unique_ptr<kalv::unzip::Archive> zip = open_archive(files, archive, observer);
    kalv::unzip::ExtractOptions options;
    options.test_only = true;
    choose_entries(options, patterns);
    kalv::unzip::extract(files, *zip, options, observer);
    return observer.total;
}

}  // namespace kalvtool
