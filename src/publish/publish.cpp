#include "publish/publish.h"

#include <chrono>
#include <memory>
#include <thread>

#include "core/dos_time.h"
#include "core/errors.h"
#include "platform/publishing.h"
#include "unzip/unzipper.h"

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
    FileGuard() = default;
    ~FileGuard() {
        if (!path_.empty()) platform::current().delete_file(path_);
    }
    FileGuard(const FileGuard&) = delete;
    FileGuard& operator=(const FileGuard&) = delete;
    void arm(const std::string& path) { path_ = path; }
    void keep() { path_.clear(); }

private:
    std::string path_;
};

// A scratch folder and the one file extracted into it, removed when it goes.
class ScratchFolder {
public:
    ScratchFolder() : path_(platform::create_scratch_directory()) {}
    ~ScratchFolder() {
        if (!file_.empty()) platform::current().delete_file(path_ + file_);
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
    std::string path_;
    std::string file_;
};

// --- DOS date-time arithmetic (APPNOTE 4.4.6), in whole seconds ----------------------
// Days from 0000-03-01 (the start of the 400-year era counting below) to 1980-01-01.
constexpr int64_t kDaysTo1980 = 723120;

// Days from 1980-01-01 to a civil date (proleptic Gregorian; H. Hinnant's
// days_from_civil, shifted to the DOS epoch).
int64_t days_since_1980(int year, int month, int day) {
    year -= month <= 2;
    const int64_t era = (year >= 0 ? year : year - 399) / 400;
    const int64_t year_of_era = year - era * 400;
    const int64_t day_of_year = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const int64_t day_of_era = year_of_era * 365 + year_of_era / 4 - year_of_era / 100 + day_of_year;
    return era * 146097 + day_of_era - kDaysTo1980;
}

int64_t dos_seconds(uint32_t dos) {
    const DosFields f = unpack_dos(dos);
    return days_since_1980(f.year, f.month, f.day) * 86400 + f.hour * 3600 + f.minute * 60 + f.second;
}

uint32_t dos_from_seconds(int64_t seconds) {
    int64_t days = seconds / 86400;
    const int64_t in_day = seconds % 86400;
    // civil_from_days, the inverse of the above.
    days += kDaysTo1980;
    const int64_t era = days / 146097;
    const int64_t day_of_era = days - era * 146097;
    const int64_t year_of_era = (day_of_era - day_of_era / 1460 + day_of_era / 36524 - day_of_era / 146096) / 365;
    const int64_t day_of_year = day_of_era - (365 * year_of_era + year_of_era / 4 - year_of_era / 100);
    const int64_t mp = (5 * day_of_year + 2) / 153;
    const int day = static_cast<int>(day_of_year - (153 * mp + 2) / 5 + 1);
    const int month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    const int year = static_cast<int>(year_of_era + era * 400 + (month <= 2));
    const int seconds_of_day = static_cast<int>(in_day);
    return pack_dos({year, month, day, seconds_of_day / 3600, seconds_of_day / 60 % 60, seconds_of_day % 60});
}

// A launcher fetches the upgrade copy only when its file age is greater than its own
// package's, and its own package carries the date of the copy it came from. So the
// new package must be dated after the one it replaces, also when both are written
// within the same two seconds (the DOS form's step): then it waits for the clock to
// pass the old date and takes the next step. A replaced package dated further ahead
// (a file server's clock) is outrun without waiting, and the caller is told.
void date_after_replaced(const std::string& written, const std::string& target, PublishResult& result) {
    constexpr int64_t kLongestWaitSeconds = 4;
    platform::Platform& os = platform::current();
    const int32_t replaced = os.file_age(target);
    const int32_t now = os.file_age(written);
    if (replaced == -1 || now == -1 || now > replaced) return;
    const int64_t wanted = dos_seconds(static_cast<uint32_t>(replaced)) + 2;
    const int64_t ahead = wanted - dos_seconds(static_cast<uint32_t>(now));
    if (ahead <= kLongestWaitSeconds)
        std::this_thread::sleep_for(std::chrono::seconds(ahead));
    else
        result.ahead_of_clock = true;
    if (!os.set_file_dos_time(written, dos_from_seconds(wanted)))
        throw Error("Cannot set the date of " + written);
}

// Reads the written package back as a launcher will: the extraction component
// decrypts and inflates the one entry and checks its CRC-32; its record must state
// the source's CRC-32 and size, and the file it made must have that size.
void check_package(const std::string& package, const PublishOptions& options, const PackageInfo& info) {
    ScratchFolder scratch;
    unzip::UnZipper zip;
    zip.DoProcessMessages = false;
    zip.OverwriteMode = unzip::UZOverwriteMode::Always;
    zip.Password = options.password;
    zip.SetZipName(package);
    zip.SetDestDir(scratch.path());
    zip.FilesList = {options.entry_name};
    std::string problem = "no entry " + options.entry_name;
    zip.OnSkippingFile = [&](unzip::UnZipper&, unzip::SkipReason reason, const std::string&, int) {
        problem = unzip::skip_reason_text(reason);
    };
    zip.OnBadCRC = [&](unzip::UnZipper&, uint32_t, uint32_t, int) { problem = "CRC-32 mismatch"; };
    // Told in the failure, not in a box: publishing runs where nobody may press one.
    std::string reported;
    zip.OnZipProblem = [&](unzip::UnZipper&, unzip::ZipProblem p, int) { reported = unzip::zip_problem_text(p); };
    const std::string extracted = scratch.holds(options.entry_name);
    const int count = zip.UnZip();
    auto fail = [&](const std::string& why) {
        throw Error("The package written as " + package + " does not read back (" + why + ")");
    };
    if (count != 1 || zip.EntryCount() != 1) fail(reported.empty() ? problem : reported);
    const unzip::ZipHeaderInfo& entry = zip.Entry(0);
    if (entry.StoredPath() != options.entry_name) fail("entry named " + entry.StoredPath());
    if (entry.Crc32 != info.crc32 || static_cast<uint64_t>(entry.UncompressedSize) != info.size)
        fail("CRC-32 or size differ");
    const std::unique_ptr<platform::FileHandle> out =
        platform::current().open_file(extracted, platform::OpenMode::ReadShared);
    if (out->size() != static_cast<int64_t>(info.size)) fail("the extracted file has another size");
}

}  // namespace

std::string temporary_name(const std::string& target) {
    uint8_t tag[4];
    platform::random_bytes(tag, sizeof tag);
    return target + ".publishing-" + hex(tag, sizeof tag);
}

PublishResult publish_package(const std::string& file, const std::string& target, const PublishOptions& options) {
    platform::Platform& os = platform::current();
    PublishResult result;
    std::unique_ptr<platform::FileHandle> source = os.open_file(file, platform::OpenMode::ReadDenyWrite);

    PackageEntry entry;
    entry.name = options.entry_name;
    entry.password = options.password;
    entry.level = options.level;
    entry.attributes = platform::attributes_to_store(file);
    platform::random_bytes(entry.random_header.data(), entry.random_header.size());

    const std::string temporary = temporary_name(target);
    FileGuard guard;
    std::unique_ptr<platform::NewFile> out = platform::create_new_file(temporary);
    guard.arm(temporary);
    // The entry keeps FILE's date; a FILE dated outside the DOS range gets today's.
    const int32_t file_age = os.file_age(file);
    entry.dos_time = static_cast<uint32_t>(file_age != -1 ? file_age : os.file_age(temporary));
    result.package = write_package(*source, file, *out, entry);
    out->flush_to_disk();
    out.reset();
    source.reset();

    if (options.newer_than_replaced) date_after_replaced(temporary, target, result);
    check_package(temporary, options, result.package);
    result.age = os.file_age(temporary);
    platform::replace_durably(temporary, target);
    guard.keep();
    return result;
}

}  // namespace kalv::publish
