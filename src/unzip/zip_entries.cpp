#include "unzip/zip_entries.h"

#include <algorithm>
#include <cmath>

#include "core/dos_time.h"
#include "platform/platform.h"
#include "unzip/wild_match.h"

namespace kalv::unzip {

namespace {

uint16_t get16(const uint8_t* p) { return uint16_t(p[0] | (p[1] << 8)); }
uint32_t get32(const uint8_t* p) { return uint32_t(get16(p)) | (uint32_t(get16(p + 2)) << 16); }

int sign_of(int64_t v) { return v < 0 ? -1 : v > 0 ? 1 : 0; }

int compare_text(const std::string& a, const std::string& b) {
    const int d = ascii_lower(a).compare(ascii_lower(b));
    return sign_of(d);
}

// A DOS date-time as one ordered number, 0 when it names no real moment (the clamp
// lets hour 24 and day 31 of short months through).
int64_t sortable_moment(uint32_t dos) {
    const DosFields f = unpack_dos(dos);
    static constexpr int kDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (f.year % 4 == 0 && f.year % 100 != 0) || f.year % 400 == 0;
    if (f.month < 1 || f.month > 12 || f.day < 1 || f.hour > 23 || f.minute > 59 || f.second > 59) return 0;
    if (f.day > kDays[f.month - 1] || (f.month == 2 && !leap && f.day > 28)) return 0;
    return ((((int64_t(f.year) * 100 + f.month) * 100 + f.day) * 100 + f.hour) * 100 + f.minute) * 100 + f.second;
}

int64_t rate_percent(const ZipHeaderInfo& e) {
    if (e.UncompressedSize <= 0) return 0;
    const double percent = std::nearbyint(double(e.CompressedSize) * 100.0 / double(e.UncompressedSize));
    return std::min<int64_t>(100, int64_t(percent));
}

// Archive names go native: APPNOTE 4.4.17 stores "/", and archives made on DOS and
// Windows store "\"; both separate folders, on every system.
std::string native_delimiters(std::string name) {
#ifdef _WIN32
    std::replace(name.begin(), name.end(), '/', '\\');
#else
    std::replace(name.begin(), name.end(), '\\', '/');
#endif
    return name;
}

}  // namespace

bool ends_directory_part(char c) {
#ifdef _WIN32
    return c == '\\' || c == ':';
#else
    return c == '/';
#endif
}

std::string file_name_part(const std::string& path) {
    size_t cut = path.size();
    while (cut > 0 && !ends_directory_part(path[cut - 1])) --cut;
    return path.substr(cut);
}

uint32_t ClampDosDateTime(uint32_t v) {
    const uint32_t time = v & 0xFFFF, date = v >> 16;
    int hour = int(time >> 11), minute = int((time >> 5) & 0x3F), second = int(2 * (time & 0x1F));
    int year = int(1980 + (date >> 9)), month = int((date >> 5) & 0x0F), day = int(date & 0x1F);
    const DosFields before{year, month, day, hour, minute, second};
    hour = std::min(hour, 24);
    minute = std::min(minute, 59);
    second = std::min(second, 59);
    year = std::clamp(year, 1980, 2099);
    month = std::clamp(month, 1, 12);
    day = std::clamp(day, 1, 31);
    const DosFields after{year, month, day, hour, minute, second};
    const bool changed = before.year != after.year || before.month != after.month || before.day != after.day ||
                         before.hour != after.hour || before.minute != after.minute ||
                         before.second != after.second;
    return changed ? pack_dos(after) : v;
}

void ZipHeaderInfo::Clear() {
    VersionMadeBy = 20;
    VersionNeeded = 20;
    BitFlag = 0;
    CompressionMethod = 8;
    FileDateTime = 0;
    StoredDateTime = 0;
    Crc32 = 0xFFFFFFFF;
    CompressedSize = 0;
    UncompressedSize = 0;
    FileNameLength = 0;
    ExtraFieldLength = 0;
    FileCommentLength = 0;
    DiskNumberStart = 0;
    InternalAttributes = 1;
    ExternalAttributes = 32;  // the archive attribute
    RelativeOffset = 0;
    CentralOffset = 0;
    Selected = false;
    file_name_.clear();
    directory_.clear();
    file_comment_.reset();
}

void ZipHeaderInfo::Assign(const ZipHeaderInfo& other) {
    if (&other == this) return;
    const auto comment = other.FileCommentLength != 0 ? other.file_comment_ : std::nullopt;
    *this = other;
    file_comment_ = comment;
}

void ZipHeaderInfo::SetFileName(const std::string& name) {
    if (name == file_name_) return;
    file_name_ = name;
    FileNameLength = uint16_t(directory_.size() + file_name_.size());
}

void ZipHeaderInfo::SetDirectory(const std::string& directory) {
    std::string value = directory;
    if (!value.empty() && value.back() != kPathDelimiter) value += kPathDelimiter;
    if (value == directory_) return;
    directory_ = value;
    FileNameLength = uint16_t(directory_.size() + file_name_.size());
}

void ZipHeaderInfo::SetFileComment(std::optional<std::string> comment) {
    FileCommentLength = comment ? uint16_t(comment->size()) : 0;
    file_comment_ = std::move(comment);
}

void ZipHeaderInfo::set_stored_name(const std::string& raw) {
    // APPNOTE 4.4.4 bit 11: the name is UTF-8 (as jars and wheels write it), else OEM.
    constexpr uint16_t kUtf8Name = 0x0800;
    platform::Platform& os = platform::current();
    const std::string name = (BitFlag & kUtf8Name) ? os.utf8_to_ansi(native_delimiters(raw))
                                                   : os.oem_to_ansi(native_delimiters(raw));
    const std::string file = file_name_part(name);
    file_name_.clear();
    directory_.clear();
    SetDirectory(name.substr(0, name.size() - file.size()));
    SetFileName(file);
}

bool ZipHeaderInfo::ReadCentralRecord(BufferedStream& first, const NextDiskAction& next_disk) {
    BufferedStream* stream = &first;
    const int64_t start = stream->position();
    uint8_t r[kCentralRecordSize] = {};
    size_t got = stream->read(r, sizeof r);
    const bool cut_short = got == 0 || (got >= 4 && got < sizeof r && get32(r) == kCentralSignature);
    if (cut_short && next_disk) {
        stream = &next_disk();
        got += stream->read(r + got, sizeof r - got);
    }
    if (got != sizeof r || get32(r) != kCentralSignature) {
        stream->seek(start, BufferedStream::kFromBeginning);
        return false;
    }
    std::string raw(get16(r + 28), '\0');
    if (stream->read(raw.data(), raw.size()) != raw.size()) {
        stream->seek(start, BufferedStream::kFromBeginning);
        return false;
    }
    stream->seek(int64_t(get16(r + 30)) + get16(r + 32), BufferedStream::kFromCurrent);

    Clear();
    VersionMadeBy = get16(r + 4);
    VersionNeeded = get16(r + 6);
    BitFlag = get16(r + 8);
    CompressionMethod = get16(r + 10);
    StoredDateTime = get32(r + 12);
    FileDateTime = ClampDosDateTime(StoredDateTime);
    Crc32 = get32(r + 16);
    CompressedSize = int32_t(get32(r + 20));
    UncompressedSize = int32_t(get32(r + 24));
    ExtraFieldLength = get16(r + 30);
    FileCommentLength = get16(r + 32);
    DiskNumberStart = get16(r + 34);
    InternalAttributes = get16(r + 36);
    ExternalAttributes = get32(r + 38);
    RelativeOffset = get32(r + 42);
    set_stored_name(raw);
    CentralOffset = uint32_t(start);
    return true;
}

bool ZipHeaderInfo::ReadLocalRecord(BufferedStream& stream) {
    const int64_t start = stream.position();
    uint8_t r[kLocalRecordSize] = {};
    if (stream.read(r, sizeof r) != sizeof r || get32(r) != kLocalSignature) {
        stream.seek(start, BufferedStream::kFromBeginning);
        return false;
    }
    std::string raw(get16(r + 26), '\0');
    if (stream.read(raw.data(), raw.size()) != raw.size()) {
        stream.seek(start, BufferedStream::kFromBeginning);
        return false;
    }
    Clear();
    VersionMadeBy = 0;
    VersionNeeded = get16(r + 4);
    BitFlag = get16(r + 6);
    CompressionMethod = get16(r + 8);
    StoredDateTime = get32(r + 10);
    FileDateTime = ClampDosDateTime(StoredDateTime);
    Crc32 = get32(r + 14);
    CompressedSize = int32_t(get32(r + 18));
    UncompressedSize = int32_t(get32(r + 22));
    ExtraFieldLength = get16(r + 28);
    InternalAttributes = 0;
    ExternalAttributes = 0;
    RelativeOffset = uint32_t(start);
    set_stored_name(raw);
    return true;
}

void EndCentral::Clear() {
    Signature = kSignature;
    ThisDisk = CentralDisk = EntriesThisDisk = TotalEntries = 0;
    CentralSize = CentralStart = 0;
    CommentLength = 0;
    ZipComment.reset();
    CommentOffset = 0;
    CommentModified = false;
}

int SortedZip::compare(const ZipHeaderInfo& a, const ZipHeaderInfo& b) const {
    switch (mode_) {
        case ZipSortMode::ByName: return compare_text(a.StoredPath(), b.StoredPath());
        case ZipSortMode::ByFileName: return compare_text(a.FileName(), b.FileName());
        case ZipSortMode::ByDirectoryName: return compare_text(a.Directory(), b.Directory());
        case ZipSortMode::ByDate:
            return sortable_moment(b.FileDateTime) > sortable_moment(a.FileDateTime) ? 1 : -1;
        case ZipSortMode::ByCompressedSize:
            return int64_t(b.CompressedSize) - a.CompressedSize > 0 ? 1 : -1;
        case ZipSortMode::ByUnCompressedSize:
            return int64_t(b.UncompressedSize) - a.UncompressedSize > 0 ? 1 : -1;
        case ZipSortMode::ByRate: return sign_of(rate_percent(b) - rate_percent(a));
        case ZipSortMode::ByNone: break;
    }
    if (a.DiskNumberStart != b.DiskNumberStart) return int(a.DiskNumberStart) - int(b.DiskNumberStart);
    return sign_of(int64_t(a.RelativeOffset) - int64_t(b.RelativeOffset));
}

}  // namespace kalv::unzip
