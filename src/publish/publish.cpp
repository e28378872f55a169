#include "publish/publish.h"

#include <algorithm>
#include <chrono>
#include <memory>
#include <thread>
#include <vector>

#include "core/civil_date.h"
#include "core/dos_time.h"
#include "core/errors.h"
#include "platform/admin_files.h"
#include "platform/publishing.h"
#include "unzip/extract.h"

namespace kalv::publish {

namespace {

std::string hex(const uint8_t* bytes, size_t n) {
    static const char kDigits[] = "0123456789abcdef";
    std::string out;
    for (size_t i = 0; i < n; ++i) {
        out += kDigits[bytes[i] >> 4];
        out += kDigits[bytes[i] & 15];
    }
    return out;
}

// Deletes the file it was armed with when it goes, unless kept. Declared before the
// file's handle, so that the handle is closed first (Windows deletes no open file).
class FileGuard {
public:
    explicit FileGuard(platform::FileSystem& files) : files_(files) {}
    ~FileGuard() {
        if (!path_.empty()) files_.delete_file(path_);
    }
    FileGuard(const FileGuard&) = delete;
    FileGuard& operator=(const FileGuard&) = delete;
    void arm(const std::string& path) { path_ = path; }
    void keep() { path_.clear(); }

private:
    platform::FileSystem& files_;
    std::string path_;
};

// A scratch folder and the one file extracted into it, removed when it goes.
class ScratchFolder {
public:
    explicit ScratchFolder(platform::FileSystem& files) : files_(files), path_(platform::create_scratch_directory()) {}
    ~ScratchFolder() {
        if (!file_.empty()) files_.delete_file(path_ + file_);
        platform::remove_empty_directory(path_);
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;
    const std::string& path() const { return path_; }
    std::string holds(const std::string& file) {
        file_ = file;
        return path_ + file;
    }

private:
    platform::FileSystem& files_;
    std::string path_;
    std::string file_;
};

// --- DOS date-time arithmetic (APPNOTE 4.4.6), in whole seconds ----------------------
// Days from 1970-01-01 to 1980-01-01, the DOS epoch.
constexpr int64_t kDays1970To1980 = days_from_civil(1980, 1, 1);

int64_t days_since_1980(int year, int month, int day) { return days_from_civil(year, month, day) - kDays1970To1980; }

int64_t dos_seconds(uint32_t dos) {
    const DosFields f = unpack_dos(dos);
    return days_since_1980(f.year, f.month, f.day) * 86400 + f.hour * 3600 + f.minute * 60 + f.second;
}

uint32_t dos_from_seconds(int64_t seconds) {
    const int64_t days = seconds / 86400;
    const int64_t in_day = seconds % 86400;
    const CivilDate date = civil_from_days(days + kDays1970To1980);
    const int year = static_cast<int>(date.year), month = date.month, day = date.day;
    const int seconds_of_day = static_cast<int>(in_day);
    return pack_dos({year, month, day, seconds_of_day / 3600, seconds_of_day / 60 % 60, seconds_of_day % 60});
}

// The last date-time the DOS form holds: 2107-12-31 23:59:58.
constexpr DosFields kLastDosTime{2107, 12, 31, 23, 59, 58};

// A launcher fetches the upgrade copy only when its file age is greater than its own
// package's, and its own package carries the date of the copy it came from. So the
// new package must be dated after the one it replaces, also when both are written
// within the same two seconds (the DOS form's step): then it waits for the clock to
// pass the old date and takes the next step. A replaced package dated further ahead
// (a file server's clock) is outrun without waiting, and the caller is told.
void date_after_replaced(platform::FileSystem& os, const std::string& written, const std::string& target,
                         PublishResult& result) {
    constexpr int64_t kLongestWaitSeconds = 4;
    const int32_t replaced = os.file_age(target);
    const int32_t now = os.file_age(written);
    // DOS date-times sort as unsigned numbers: from 2044 on the top bit is set.
    if (replaced == -1 || now == -1 || static_cast<uint32_t>(now) > static_cast<uint32_t>(replaced)) return;
    const int64_t wanted = dos_seconds(static_cast<uint32_t>(replaced)) + 2;
    if (wanted > dos_seconds(pack_dos(kLastDosTime)))
        throw Error(target + " is dated 2107-12-31 23:59:58, the last date a launcher can compare (the DOS "
                    "form ends in 2107): no package can be dated after it. Set its date to today (or delete it) "
                    "and publish again; shops whose Kalvo3pack carries that date fetch nothing newer until it "
                    "is replaced by hand");
    const int64_t ahead = wanted - dos_seconds(static_cast<uint32_t>(now));
    if (ahead <= kLongestWaitSeconds)
        std::this_thread::sleep_for(std::chrono::seconds(ahead));
    else
        result.ahead_of_clock = true;
    if (!os.set_file_dos_time(written, dos_from_seconds(wanted)))
        throw Error("Cannot set the date of " + written);
}

// What the read-back found: the entry extracted, or why not. Problems are told in the
// failure, not in a box: publishing runs where nobody may press one.
class ReadBack final : public unzip::Observer {
public:
    explicit ReadBack(const std::string& entry_name) : why("no entry " + entry_name) {}
    void skipped(int, unzip::SkipReason reason, const std::string&, const unzip::EntryCheck&) override {
        why = unzip::skip_reason_text(reason);
    }
    void failed(int, const unzip::EntryCheck&, uint32_t) override { why = "CRC-32 mismatch"; }
    void problem(int, unzip::ZipProblem what) override { reported = unzip::zip_problem_text(what); }
    void extracted(int index, const std::string&, const unzip::EntryCheck&) override { chosen = index; }

    std::string why;       // the entry's outcome
    std::string reported;  // a problem, which explains it better
    int chosen = -1;
};

// Reads the written package back as a launcher will: the extraction component
// decrypts and inflates the entry and checks its CRC-32. With `made_here`, the one
// entry's record must state the source's CRC-32 and size, and the file it made must
// have that size. Returns what the extracted program's first bytes tell, and the
// entry's CRC-32 and size in `info` for a package made elsewhere.
ProgramFacts check_package(platform::FileSystem& files, const std::string& package, const PublishOptions& options,
                           PackageInfo& info, bool made_here) {
    ScratchFolder scratch(files);
    ReadBack read_back(options.entry_name);
    unzip::Archive archive(files, package, {}, read_back);
    unzip::ExtractOptions extraction;
    extraction.overwrite = unzip::UZOverwriteMode::Always;
    extraction.password = options.password;
    extraction.destination = scratch.path().substr(0, scratch.path().size() - 1);  // without its delimiter
    extraction.patterns = {options.entry_name};
    const std::string extracted = scratch.holds(options.entry_name);
    const int count = unzip::extract(files, archive, extraction, read_back);
    auto fail = [&](const std::string& why) {
        throw Error(made_here ? "The package written as " + package + " does not read back (" + why + ")" : why);
    };
    if (count != 1 || read_back.chosen < 0 || (made_here && archive.count() != 1))
        fail(read_back.reported.empty() ? read_back.why : read_back.reported);
    const unzip::ZipHeaderInfo& entry = archive.entry(read_back.chosen);
    if (made_here && entry.StoredPath() != options.entry_name) fail("entry named " + entry.StoredPath());
    if (made_here && (entry.Crc32 != info.crc32 || static_cast<uint64_t>(entry.UncompressedSize) != info.size))
        fail("CRC-32 or size differ");
    const std::unique_ptr<platform::FileHandle> out = files.open_file(extracted, platform::OpenMode::ReadShared);
    if (out->size() != entry.UncompressedSize) fail("the extracted file has another size");
    info.crc32 = entry.Crc32;
    info.size = static_cast<uint64_t>(entry.UncompressedSize);
    return read_program_facts(*out);
}

void refuse_one_file(const std::string& file, const std::string& target) {
    if (platform::same_file(file, target))
        throw Error(file + " and " + target + " are the same file: the package would replace what it is made of. "
                    "Write it to another file");
}

bool starts_with(const uint8_t* bytes, size_t n, const char* prefix, size_t length) {
    return n >= length && std::equal(bytes, bytes + length, reinterpret_cast<const uint8_t*>(prefix));
}

// The steps after the package is written beside the target, for both kinds: under the
// target's lock, date it after the target, read it back, give it the target's owner
// and mode, and rename it over the target.
template <typename Check>
void put_in_place(platform::Platform& os, const std::string& temporary, const std::string& target, const PublishOptions& options,
                  PublishResult& result, Check&& check) {
    std::unique_ptr<PublishLock> lock;
    if (options.newer_than_replaced) {
        lock = std::make_unique<PublishLock>(os, target, options.longest_lock_wait);
        date_after_replaced(os, temporary, target, result);
    }
    check();
    platform::keep_owner_and_mode(target, temporary);
    result.age = os.file_age(temporary);
    platform::replace_durably(os, temporary, target);
}

}  // namespace

ProgramFacts read_program_facts(platform::FileHandle& file) {
    ProgramFacts facts;
    const int64_t size = file.size();
    facts.size = size > 0 ? static_cast<uint64_t>(size) : 0;
    uint8_t head[64] = {};
    const size_t n = file.seek(0, platform::SeekOrigin::Begin) == 0 ? file.read(head, sizeof head) : 0;
    // Local header, end of central directory (an empty archive), split or spanned
    // archive markers (APPNOTE 4.3.6, 8.5.3, 8.5.4).
    for (const char* signature : {"PK\x03\x04", "PK\x05\x06", "PK\x07\x08", "PK00"})
        facts.zip = facts.zip || starts_with(head, n, signature, 4);
    if (n == sizeof head && starts_with(head, n, "MZ", 2)) {
        const uint32_t pe_at = uint32_t(head[60]) | uint32_t(head[61]) << 8 | uint32_t(head[62]) << 16 |
                               uint32_t(head[63]) << 24;
        uint8_t signature[4] = {};
        facts.windows_program = uint64_t(pe_at) + 4 <= facts.size &&
                                file.seek(pe_at, platform::SeekOrigin::Begin) == int64_t(pe_at) &&
                                file.read(signature, 4) == 4 && starts_with(signature, 4, "PE\0\0", 4);
    }
    file.seek(0, platform::SeekOrigin::Begin);
    return facts;
}

std::string program_refusal(const ProgramFacts& facts, const std::string& name, const std::string& remedy) {
    if (facts.size == 0)
        return name + " is empty (a failed build?): every shop would install it and fail to start the "
                      "application. " + (remedy.empty() ? "Give the program that was built" : remedy);
    if (facts.zip)
        return name + " is itself a ZIP archive (a package?): every shop would unpack it and fail to start it. " +
               (remedy.empty() ? "Give the program itself, or publish a package made elsewhere with "
                                 "kalvtool publish --package PACKAGE TARGET"
                               : remedy);
    return {};
}

std::string temporary_name(const std::string& target) {
    uint8_t tag[4];
    platform::random_bytes(tag, sizeof tag);
    return target + ".publishing-" + hex(tag, sizeof tag);
}

ProgramFacts inspect_entry(platform::FileSystem& files, const std::string& package, const std::string& entry_name,
                           const std::string& password) {
    PublishOptions options;
    options.entry_name = entry_name;
    options.password = password;
    PackageInfo info;
    return check_package(files, package, options, info, false);
}

namespace {

// Signs the written package when publishing signs (pack --key, publish --key); the
// signature grows the file by its comment.
void seal(platform::FileSystem& files, const PublishOptions& options, const std::string& temporary,
          PackageInfo& package) {
    if (!options.seal) return;
    options.seal(temporary);
    package.archive_size = static_cast<uint64_t>(files.file_size(temporary));
}

}  // namespace

PublishResult publish_package(platform::Platform& os, const std::string& file, const std::string& target,
                              const PublishOptions& options) {
    PublishResult result;
    refuse_one_file(file, target);
    std::unique_ptr<platform::FileHandle> source = os.open_file(file, platform::OpenMode::ReadDenyWrite);
    const ProgramFacts facts = read_program_facts(*source);
    const std::string refusal = program_refusal(facts, file);
    if (!refusal.empty()) throw Error(refusal);
    result.windows_program = facts.windows_program;

    PackageEntry entry;
    entry.name = options.entry_name;
    entry.password = options.password;
    entry.level = options.level;
    entry.attributes = platform::attributes_to_store(file);
    platform::random_bytes(entry.random_header.data(), entry.random_header.size());

    const std::string temporary = temporary_name(target);
    FileGuard guard(os);
    std::unique_ptr<platform::NewFile> out = platform::create_new_file(os, temporary);
    guard.arm(temporary);
    // The entry keeps FILE's date; a FILE dated outside the DOS range gets today's.
    const int32_t file_age = os.file_age(file);
    entry.dos_time = static_cast<uint32_t>(file_age != -1 ? file_age : os.file_age(temporary));
    result.package = write_package(*source, file, *out, entry);
    out->flush_to_disk();
    out.reset();
    source.reset();
    seal(os, options, temporary, result.package);

    put_in_place(os, temporary, target, options, result,
                 [&] { check_package(os, temporary, options, result.package, true); });
    guard.keep();
    return result;
}

PublishResult publish_made_package(platform::Platform& os, const std::string& package, const std::string& target,
                                   const PublishOptions& options) {
    PublishResult result;
    refuse_one_file(package, target);
    std::unique_ptr<platform::FileHandle> source = os.open_file(package, platform::OpenMode::ReadDenyWrite);
    const std::string temporary = temporary_name(target);
    FileGuard guard(os);
    std::unique_ptr<platform::NewFile> out = platform::create_new_file(os, temporary);
    guard.arm(temporary);
    std::vector<char> buffer(1 << 20);
    for (size_t n; (n = source->read(buffer.data(), buffer.size())) > 0;) out->write(buffer.data(), n);
    if (static_cast<int64_t>(out->position()) != source->size())
        throw StreamError("Cannot read " + package + " to its end");
    result.package.archive_size = out->position();
    out->flush_to_disk();
    out.reset();
    source.reset();
    seal(os, options, temporary, result.package);

    std::string make_anew = "make the package of the program with kalvtool pack, or publish the program itself "
                            "with kalvtool publish";
    put_in_place(os, temporary, target, options, result, [&] {
        ProgramFacts facts;
        try {
            facts = check_package(os, temporary, options, result.package, false);
        } catch (const Error& failure) {
            throw Error(package + " is no package that launchers take (" + failure.what() + "): " + make_anew);
        }
        make_anew[0] = 'M';  // a sentence of its own here
        const std::string refusal = program_refusal(facts, package + "'s entry " + options.entry_name, make_anew);
        if (!refusal.empty()) throw Error(refusal);
        result.windows_program = facts.windows_program;
    });
    guard.keep();
    return result;
}

}  // namespace kalv::publish
