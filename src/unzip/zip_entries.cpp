#include "unzip/zip_entries.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

#include "core/dos_time.h"
#include "core/errors.h"
#include "platform/platform.h"
#include "unzip/wild_match.h"

namespace kalv::unzip {

namespace {

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

bool made_on_unix(uint16_t version_made_by) {
    constexpr uint16_t kUnix = 3;  // APPNOTE 4.4.2.2, the high byte of "version made by"
    return (version_made_by >> 8) == kUnix;
}

// RFC 3629: shortest forms only, no surrogates, nothing above U+10FFFF.
bool is_valid_utf8(const std::string& text) {
    size_t i = 0;
    while (i < text.size()) {
        const auto lead = static_cast<unsigned char>(text[i]);
        size_t more = 0;
        uint32_t low = 0, code = 0;
        if (lead < 0x80) {
            ++i;
            continue;
        }
        if (lead >= 0xC2 && lead <= 0xDF) more = 1, low = 0x80, code = lead & 0x1Fu;
        else if (lead >= 0xE0 && lead <= 0xEF) more = 2, low = 0x800, code = lead & 0x0Fu;
        else if (lead >= 0xF0 && lead <= 0xF4) more = 3, low = 0x10000, code = lead & 0x07u;
        else return false;
        if (text.size() - i - 1 < more) return false;
        for (size_t k = 1; k <= more; ++k) {
            const auto next = static_cast<unsigned char>(text[i + k]);
            if ((next & 0xC0) != 0x80) return false;
            code = (code << 6) | (next & 0x3Fu);
        }
        if (code < low || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return false;
        i += more + 1;
    }
    return true;
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
    CompressionMethod = uint16_t(unzip::CompressionMethod::Deflated);
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
    Zip64 = false;
    UnixModTime.reset();
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

bool ZipHeaderInfo::IsSymbolicLink() const {
    constexpr uint32_t kFileType = 0170000, kLink = 0120000;  // S_IFMT, S_IFLNK
    return made_on_unix(VersionMadeBy) && ((ExternalAttributes >> 16) & kFileType) == kLink;
}

void ZipHeaderInfo::set_stored_name(platform::FileSystem& files, const std::string& raw) {
    // APPNOTE 4.4.4 bit 11: the name is UTF-8 (as jars and wheels write it). Without
    // the flag it is OEM (code page 437), except from Unix, where zip, macOS's Archive
    // Utility and most libraries store the system's bytes, nowadays UTF-8: a name that
    // is valid UTF-8 is taken as such, as Info-ZIP unzip, 7-Zip and bsdtar take it.
    // Separators are found in the converted name, the one the file system will read:
    // whatever the conversion gives, the folder split and the ".." checks see it.
    const bool utf8 = (BitFlag & general_purpose::kUtf8Name) != 0 || (made_on_unix(VersionMadeBy) && is_valid_utf8(raw));
    const std::string name = native_delimiters(utf8 ? files.utf8_to_ansi(raw) : files.oem_to_ansi(raw));
    const std::string file = file_name_part(name);
    file_name_.clear();
    directory_.clear();
    SetDirectory(name.substr(0, name.size() - file.size()));
    SetFileName(file);
}

// Info-ZIP's extra fields (APPNOTE 4.6.1 0x5455, 0x5855; Info-ZIP's proginfo/extrafld.txt).
// The extended timestamp begins with a flag byte whose bit 0 says the modification time
// follows, first; the central record's copy holds only that time, the local one also
// the access and creation times, so the same offset serves both. The old Unix field
// holds the access time, then the modification time, in both records. The extended
// timestamp wins over the old field wherever they stand, as it does for unzip.
std::optional<int64_t> unix_mod_time(std::span<const uint8_t> extra, uint32_t dos_date_time) {
    std::optional<uint32_t> extended, old_unix;
    for_each_extra_field(extra, [&](uint16_t header_id, std::span<const uint8_t> data) {
        if (header_id == kExtendedTimestampId && data.size() >= 5 && (data[0] & 1) != 0 && !extended)
            extended = LittleEndianReader(data.subspan(1)).u32();
        if (header_id == kOldUnixId && data.size() >= 8 && !old_unix)
            old_unix = LittleEndianReader(data.subspan(4)).u32();
    });
    const std::optional<uint32_t> stored = extended ? extended : old_unix;
    if (!stored) return std::nullopt;
    // 32 bits, signed for the times before 1970; a value with the top bit set is a time
    // after January 2038 only where the entry's DOS date says so, as unzip reads it.
    const bool after_2038 = unpack_dos(dos_date_time).year >= 2038;
    return after_2038 ? int64_t(*stored) : int64_t(int32_t(*stored));
}

// APPNOTE 4.5.3. A header with escapes and no ZIP64 field at all keeps its 32-bit
// values, as Info-ZIP unzip does: an archive of the time before ZIP64 may hold a
// size of exactly 0xFFFFFFFF, and a wrong one fails as any wrong size does.
void ZipHeaderInfo::take_zip64_values(std::span<const uint8_t> extra, Zip64ExtendedInformation::Escaped escaped) {
    if (!escaped.any()) return;
    std::optional<std::span<const uint8_t>> field;
    for_each_extra_field(extra, [&field](uint16_t header_id, std::span<const uint8_t> data) {
        if (header_id == Zip64ExtendedInformation::kHeaderId && !field) field = data;
    });
    if (!field) return;
    const std::string entry = "ZIP64 extended information of entry " + StoredPath();
    if (field->size() < escaped.data_size()) throw BadZip64(entry + " is cut short");
    LittleEndianReader in(*field);
    const Zip64ExtendedInformation z = Zip64ExtendedInformation::read(in, escaped);
    // No file reaches 2^63 bytes: a value that high is damage, and would turn negative
    // in the signed arithmetic of positions.
    constexpr uint64_t kMostBytes = uint64_t(std::numeric_limits<int64_t>::max());
    if (z.original_size > kMostBytes || z.compressed_size > kMostBytes || z.relative_header_offset > kMostBytes)
        throw BadZip64(entry + " holds a size or offset beyond 2^63 bytes");
    if (escaped.disk_start_number && z.disk_start_number != 0)
        throw BadZip64("ZIP64 archive split over several disks is not supported");
    if (escaped.original_size) UncompressedSize = int64_t(z.original_size);
    if (escaped.compressed_size) CompressedSize = int64_t(z.compressed_size);
    if (escaped.relative_header_offset) RelativeOffset = z.relative_header_offset;
    if (escaped.disk_start_number) DiskNumberStart = 0;
    Zip64 = true;
}

bool ZipHeaderInfo::ReadCentralRecord(platform::FileSystem& files, BufferedStream& first,
                                      const NextDiskAction& next_disk) {
    using Header = CentralDirectoryFileHeader;
    BufferedStream* stream = &first;
    const int64_t start = stream->position();
    uint8_t r[Header::kSize] = {};
    size_t got = stream->read(r, sizeof r);
    const auto signature = [&r] { return read_record<Header>(r).signature; };
    const bool cut_short = got == 0 || (got >= 4 && got < sizeof r && signature() == Header::kSignature);
    if (cut_short && next_disk) {
        stream = &next_disk();
        got += stream->read(r + got, sizeof r - got);
    }
    if (got != sizeof r || signature() != Header::kSignature) {
        stream->seek(start, BufferedStream::kFromBeginning);
        return false;
    }
    const Header h = read_record<Header>(r);
    std::string raw(h.file_name_length, '\0');
    if (stream->read(raw.data(), raw.size()) != raw.size()) {
        stream->seek(start, BufferedStream::kFromBeginning);
        return false;
    }
    // Of the extra fields only the ZIP64 one is read (what a cut archive leaves of
    // the block is walked as far as it goes); the comment is loaded on demand.
    std::vector<uint8_t> extra(h.extra_field_length);
    extra.resize(stream->read(extra.data(), extra.size()));
    stream->seek(int64_t(h.file_comment_length), BufferedStream::kFromCurrent);

    Clear();
    VersionMadeBy = h.version_made_by;
    VersionNeeded = h.version_needed_to_extract;
    BitFlag = h.general_purpose_bit_flag;
    CompressionMethod = h.compression_method;
    StoredDateTime = dos_date_time(h.last_mod_file_date, h.last_mod_file_time);
    FileDateTime = ClampDosDateTime(StoredDateTime);
    Crc32 = h.crc32;
    CompressedSize = h.compressed_size;
    UncompressedSize = h.uncompressed_size;
    ExtraFieldLength = h.extra_field_length;
    FileCommentLength = h.file_comment_length;
    DiskNumberStart = h.disk_number_start;
    InternalAttributes = h.internal_file_attributes;
    ExternalAttributes = h.external_file_attributes;
    RelativeOffset = h.relative_offset_of_local_header;
    Zip64ExtendedInformation::Escaped escaped;
    escaped.original_size = h.uncompressed_size == zip64::kEscape32;
    escaped.compressed_size = h.compressed_size == zip64::kEscape32;
    escaped.relative_header_offset = h.relative_offset_of_local_header == zip64::kEscape32;
    escaped.disk_start_number = h.disk_number_start == zip64::kEscape16;
    set_stored_name(files, raw);
    take_zip64_values(extra, escaped);
    UnixModTime = unix_mod_time(extra, FileDateTime);
    CentralOffset = uint64_t(start);
    return true;
}

bool ZipHeaderInfo::ReadLocalRecord(platform::FileSystem& files, BufferedStream& stream) {
    using Header = LocalFileHeader;
    const int64_t start = stream.position();
    uint8_t r[Header::kSize] = {};
    if (stream.read(r, sizeof r) != sizeof r || read_record<Header>(r).signature != Header::kSignature) {
        stream.seek(start, BufferedStream::kFromBeginning);
        return false;
    }
    const Header h = read_record<Header>(r);
    std::string raw(h.file_name_length, '\0');
    if (stream.read(raw.data(), raw.size()) != raw.size()) {
        stream.seek(start, BufferedStream::kFromBeginning);
        return false;
    }
    std::vector<uint8_t> extra(h.extra_field_length);
    extra.resize(stream.read(extra.data(), extra.size()));
    Clear();
    VersionMadeBy = 0;
    VersionNeeded = h.version_needed_to_extract;
    BitFlag = h.general_purpose_bit_flag;
    CompressionMethod = h.compression_method;
    StoredDateTime = dos_date_time(h.last_mod_file_date, h.last_mod_file_time);
    FileDateTime = ClampDosDateTime(StoredDateTime);
    Crc32 = h.crc32;
    CompressedSize = h.compressed_size;
    UncompressedSize = h.uncompressed_size;
    ExtraFieldLength = h.extra_field_length;
    InternalAttributes = 0;
    ExternalAttributes = 0;
    RelativeOffset = uint64_t(start);
    Zip64ExtendedInformation::Escaped escaped;
    escaped.original_size = h.uncompressed_size == zip64::kEscape32;
    escaped.compressed_size = h.compressed_size == zip64::kEscape32;
    set_stored_name(files, raw);
    take_zip64_values(extra, escaped);
    UnixModTime = unix_mod_time(extra, FileDateTime);
    return true;
}

void EndCentral::Clear() {
    Signature = kSignature;
    ThisDisk = CentralDisk = 0;
    EntriesThisDisk = TotalEntries = 0;
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
        // Compared, not subtracted: 64-bit sizes leave no room for a difference.
        case ZipSortMode::ByCompressedSize: return b.CompressedSize > a.CompressedSize ? 1 : -1;
        case ZipSortMode::ByUnCompressedSize: return b.UncompressedSize > a.UncompressedSize ? 1 : -1;
        case ZipSortMode::ByRate: return sign_of(rate_percent(b) - rate_percent(a));
        case ZipSortMode::ByNone: break;
    }
    if (a.DiskNumberStart != b.DiskNumberStart) return int(a.DiskNumberStart) - int(b.DiskNumberStart);
    return a.RelativeOffset < b.RelativeOffset ? -1 : a.RelativeOffset > b.RelativeOffset ? 1 : 0;
}

}  // namespace kalv::unzip
