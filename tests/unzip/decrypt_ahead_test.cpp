// An encrypted entry decrypted on a second core: each case run on one thread and on
// two, on entries of several runs, so that the ending comes while the helper is in
// the middle of its ring. Both ways must tell the same events in the same order, end
// with the same count or failure, and leave the same files: nothing half-written.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "core/errors.h"
#include "entry_data.h"
#include "files.h"
#include "platform/platform.h"
#include "platform/publishing.h"
#include "publish/package_writer.h"
#include "unzip/extract.h"
#include "unzip/zip_crypto.h"
#include "zip_craft.h"

#ifndef _WIN32
#include <sys/resource.h>

#include <csignal>
#endif

namespace kalv::unzip {
namespace {

using namespace kalv::testing;
namespace fs = std::filesystem;

// Bytes that Deflate shrinks about threefold: 64-byte pieces of 40 kinds, each with 32
// bytes of its own, so that an entry's compressed data still fill several runs.
std::string compressible(size_t n) {
    std::string bytes;
    for (uint32_t i = 0; bytes.size() < n; ++i) {
        bytes += pseudo_random_bytes(64, i * 7 % 40);
        bytes += pseudo_random_bytes(32, i + 100);
    }
    bytes.resize(n);
    return bytes;
}

// The Deflate stream zlib makes of `plain`, through the publisher's package writer.
std::string deflated(const TempDir& dir, const std::string& plain) {
    write_file(dir.file("plain"), plain);
    publish::PackageEntry entry;
    entry.name = "p";
    entry.password = "pw";
    {
        auto in = platform::native().open_file(dir.file("plain"), platform::OpenMode::ReadDenyWrite);
        auto out = platform::create_new_file(platform::native(), dir.file("package"));
        publish::write_package(*in, "plain", *out, entry);
    }
    const auto entries = read_entry_data(dir.file("package"), "pw");
    fs::remove(dir.file("package"));
    return std::string(entries->at(0).data.begin(), entries->at(0).data.end());
}

// A password other than `right` whose decrypted header ends in the check byte, as one
// wrong password in 256 does: the entry's data then decrypt to garbage.
std::string wrong_password_passing_check(const std::string& archive, const std::string& right) {
    const std::string header = archive.substr(30 + 1, ZipKeys::kHeaderSize);  // behind a 1-byte name
    ZipKeys keys;
    keys.InitKeys(right);
    std::string expected = header;
    keys.DecryptBuffer(reinterpret_cast<uint8_t*>(expected.data()), expected.size());
    for (int i = 0;; ++i) {
        std::string guess = "w";  // built with += (mingw's -Wrestrict on "w" + text)
        guess += std::to_string(i);
        std::string tried = header;
        keys.InitKeys(guess);
        keys.DecryptBuffer(reinterpret_cast<uint8_t*>(tried.data()), tried.size());
        if (tried.back() == expected.back()) return guess;
    }
}

// Every event as a line; progress thrown at from its `stop_at`-th call on.
struct Transcript final : Observer {
    std::vector<std::string> lines;
    int stop_at = 0;
    int progress_calls = 0;
    void keep_alive() override { lines.push_back("keep alive"); }
    void entry_starting(int index, const std::string&, bool&) override {
        lines.push_back("start " + std::to_string(index));
    }
    void progress(int file, int total) override {
        lines.push_back("progress " + std::to_string(file) + " " + std::to_string(total));
        if (stop_at > 0 && ++progress_calls >= stop_at) throw UserCanceled("stopped by the handler");
    }
    void extracted(int index, const std::string&, const EntryCheck&) override {
        lines.push_back("extracted " + std::to_string(index));
    }
    void skipped(int index, SkipReason reason, const std::string&, const EntryCheck& check) override {
        lines.push_back("skipped " + std::to_string(index) + ": " + skip_reason_text(reason) +
                        (check.status == DecodeStatus::Done ? "" : ", bad data"));
    }
    void failed(int index, const EntryCheck&, uint32_t) override { lines.push_back("failed " + std::to_string(index)); }
    void problem(int index, ZipProblem what) override {
        lines.push_back("problem " + std::to_string(index) + ": " + zip_problem_text(what));
    }
};

// "name size", as Outcome::files lists a file.
std::string sized(std::string name, const std::string& data) {
    name += ' ';
    name += std::to_string(data.size());
    return name;
}

struct Outcome {
    int count = -1;
    std::string failure;
    std::vector<std::string> lines;
    std::vector<std::string> files;  // what the destination holds afterwards, with sizes
};

Outcome run(const std::string& archive_path, const std::string& password, const std::string& out,
            UZThreading threading, int stop_at, bool several = false,
            UZDurability durability = UZDurability::PerEntry) {
    Outcome outcome;
    fs::remove_all(out);
    Transcript told;
    told.stop_at = stop_at;
    platform::Platform& os = platform::native();
    Archive archive(os, archive_path, {}, told);
    ExtractOptions options;
    options.destination = out;
    options.all = true;
    options.overwrite = UZOverwriteMode::Always;
    options.password = password;
    options.threading = threading;
    options.answers_nothing = several;
    options.durability = durability;
    try {
        outcome.count = extract(os, archive, options, told);
    } catch (const Error& e) {
        outcome.failure = e.what();
    }
    outcome.lines = std::move(told.lines);
    if (fs::exists(out))
        for (const auto& file : fs::directory_iterator(out))
            outcome.files.push_back(file.path().filename().string() + " " + std::to_string(fs::file_size(file)));
    return outcome;
}

// The entry's central sizes (compressed and uncompressed) 16 MiB larger than the file
// holds: its data run into the end of the file, not into its uncompressed size.
std::string cut_short(Crafted crafted, size_t entry) {
    for (const size_t at : {crafted.central_offsets.at(entry) + 20, crafted.central_offsets.at(entry) + 24})
        crafted.bytes[at + 3] = char(uint8_t(crafted.bytes[at + 3]) + 1);
    return crafted.bytes;
}

struct Case {
    const char* why;
    std::string archive;
    std::string password;
    int stop_at;  // the progress event whose handler stops the pass (0: none)
    int count;    // -1: a failure ends the pass
    std::string failure;
    std::vector<std::string> files;  // what the destination holds afterwards
    uint64_t file_size_limit = 0;    // bytes a file may grow to (POSIX): a write fails past it
};

// The case on one thread and on more, which must end alike and tell alike.
void check_both_ways(const TempDir& dir, const Case& c, bool several, UZDurability durability) {
    SCOPED_TRACE(c.why);
    write_file(dir.file("t.zip"), c.archive);
    Outcome ways[2];
    for (const UZThreading threading : {UZThreading::Off, UZThreading::On}) {
#ifndef _WIN32
        rlimit was{};
        getrlimit(RLIMIT_FSIZE, &was);
        rlimit limit = was;
        if (c.file_size_limit) limit.rlim_cur = rlim_t(c.file_size_limit);
        signal(SIGXFSZ, SIG_IGN);  // EFBIG instead
        setrlimit(RLIMIT_FSIZE, &limit);
#endif
        Outcome& way = ways[threading == UZThreading::On];
        way = run(dir.file("t.zip"), c.password, dir.file("out"), threading, c.stop_at, several, durability);
        std::sort(way.files.begin(), way.files.end());
#ifndef _WIN32
        setrlimit(RLIMIT_FSIZE, &was);
#endif
    }
    EXPECT_EQ(ways[0].count, c.count);
    EXPECT_EQ(ways[0].failure, c.failure);
    EXPECT_EQ(ways[0].files, c.files);
    EXPECT_EQ(ways[1].count, ways[0].count);
    EXPECT_EQ(ways[1].failure, ways[0].failure);
    EXPECT_EQ(ways[1].files, ways[0].files);
    EXPECT_EQ(ways[1].lines, ways[0].lines);
}

TEST(DecryptAhead, EndsAsTheSerialPassWhereverTheEntryEnds) {
    TempDir dir;
    const std::string text = compressible(2'500'000), noise = pseudo_random_bytes(1'300'000, 7);
    const std::string text_deflated = deflated(dir, text), noise_deflated = deflated(dir, noise);
    auto entry = [](const std::string& plain, const std::string* raw) {
        CraftEntry e{"e", plain};
        e.password = "pw";
        if (raw) {
            e.method = 8;
            e.raw = *raw;
        }
        return e;
    };
    CraftEntry text_bad_crc = entry(text, &text_deflated), stored_bad_crc = entry(noise, nullptr);
    text_bad_crc.crc = stored_bad_crc.crc = 0x12345678;
    const std::string good_text = craft_zip({entry(text, &text_deflated)}).bytes;
    const std::string good_stored = craft_zip({entry(noise, nullptr)}).bytes;
    const std::string good_noise = craft_zip({entry(noise, &noise_deflated)}).bytes;
    std::vector<Case> cases = {
        {"deflated, extracted", good_text, "pw", 0, 1, "", {sized("e", text)}},
        {"stored, extracted", good_stored, "pw", 0, 1, "", {sized("e", noise)}},
        {"deflated, bad CRC after the whole entry", craft_zip({text_bad_crc}).bytes, "pw", 0, 0, "", {}},
        {"stored, bad CRC after the whole entry", craft_zip({stored_bad_crc}).bytes, "pw", 0, 0, "", {}},
        {"deflated, a wrong password past the header check: bad data early, the helper runs ahead", good_text,
         wrong_password_passing_check(good_text, "pw"), 0, 0, "", {}},
        {"stored, a wrong password past the header check", good_stored,
         wrong_password_passing_check(good_stored, "pw"), 0, 0, "", {}},
        {"deflated (incompressible), data cut short: the serial pass's failure at its block",
         cut_short(craft_zip({entry(noise, &noise_deflated)}), 0), "pw", 0, -1, "Premature end of file reached", {}},
        {"stored, data cut short: the short run judged by the CRC", cut_short(craft_zip({entry(noise, nullptr)}), 0),
         "pw", 0, 0, "", {}},
        {"deflated, a handler stops the pass mid-entry", good_noise, "pw", 3, -1, "stopped by the handler", {}},
        {"stored, a handler stops the pass mid-entry", good_stored, "pw", 20, -1, "stopped by the handler", {}},
    };
#ifndef _WIN32
    cases.push_back({"deflated, the output cannot be written past 1 MB", good_text, "pw", 0, -1,
                     "Stream write error", {}, 1 << 20});
    cases.push_back({"stored, the output cannot be written past 1 MB", good_stored, "pw", 0, -1,
                     "Stream write error", {}, 1 << 20});
#endif
    for (const Case& c : cases) check_both_ways(dir, c, false, UZDurability::PerEntry);
    check_both_ways(dir, cases[0], false, UZDurability::PerEntry);
    EXPECT_EQ(read_file(dir.file("out/e")), text);
}

// Several entries at once: entries that extract, fail, are left out or stop the pass
// while the next ones are in a worker's hands. The observer hears what one thread
// would tell, in entry order, and what was not put in place leaves no file.
TEST(SeveralEntriesAtOnce, TellsWhatOneThreadWouldInEntryOrder) {
    TempDir dir;
    const std::string text = compressible(1'500'000), noise = pseudo_random_bytes(700'000, 3);
    CraftEntry a{"a", text}, b{"b", noise}, c{"c", "other password"}, d{"d", ""}, e{"e", noise};
    a.method = e.method = 8;
    a.raw = deflated(dir, text);
    e.raw = deflated(dir, noise);
    a.password = b.password = e.password = "pw";
    c.password = "other";
    b.crc = 0x12345678;
    d.method = 9;  // no decoder
    d.raw = std::string("whatever");
    const std::string archive = craft_zip({a, b, c, d, e}).bytes;
    std::vector<Case> cases = {
        {"each entry ends its own way", archive, "pw", 0, 2, "", {sized("a", text), sized("e", noise)}},
        {"a handler stops the pass in the second entry", archive, "pw", 100, -1, "stopped by the handler",
         {sized("a", text)}},
        {"the last entry's data cut short", cut_short(craft_zip({a, b, c, d, e}), 4), "pw", 0, -1,
         "Premature end of file reached", {sized("a", text)}},
    };
#ifndef _WIN32
    cases.push_back({"the first entry's output cannot be written", archive, "pw", 0, -1, "Stream write error", {},
                     1 << 20});
#endif
    for (const UZDurability durability : {UZDurability::PerEntry, UZDurability::Batched})
        for (const Case& k : cases) check_both_ways(dir, k, true, durability);
}

}  // namespace
}  // namespace kalv::unzip
