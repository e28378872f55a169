// Entry records and the end record of a ZIP archive (PKWARE APPNOTE 4.3.7, 4.3.12,
// 4.3.16), and the sorted entry list that holds the directory.
//
// Only the fields named here are read, with their ZIP64 values (APPNOTE 4.3.14,
// 4.5.3) where a field holds its escape; the archive decryption header, strong
// encryption and every other extra field are skipped by their stored lengths.
//
// Sizes and offsets were 32 bits wide (the sizes signed in arithmetic). They are 64
// bits wide so that ZIP64 values, and 32-bit values of 2 GiB and more, are kept as
// the archive states them; every value of an archive below 2 GiB is as it was.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "unzip/buf_streams.h"
#include "unzip/obj_lists.h"
#include "unzip/zip_records.h"

namespace kalv::unzip {

// Stored names use "/" (APPNOTE 4.4.17); paths here are native: "\" on Windows,
// where a drive colon also ends a directory part, "/" elsewhere.
#ifdef _WIN32
constexpr char kPathDelimiter = '\\';
#else
constexpr char kPathDelimiter = '/';
#endif

// A character after which a path's last component begins.
bool ends_directory_part(char c);
// The part of `path` after its last delimiter (or drive colon).
std::string file_name_part(const std::string& path);

// Clamps each field of an MS-DOS date-time into its range (hour up to 24, minute and
// second up to 59, year 1980..2099, month 1..12, day 1..31); a value already in range
// comes back untouched.
uint32_t ClampDosDateTime(uint32_t dos_date_time);

// The last modification in seconds since 1970 UTC that an extra field block holds in
// Info-ZIP's extended timestamp (0x5455) or, without one, its old Unix field (0x5855);
// `dos_date_time` (the entry's) tells a time after 2038 from one before 1970.
std::optional<int64_t> unix_mod_time(std::span<const uint8_t> extra, uint32_t dos_date_time);

// What the directory reader asks for when a central record runs over the end of a
// part: the next part, opened in place of the current stream.
using NextDiskAction = std::function<BufferedStream&()>;

// One archive entry, filled from its central directory header (or, when the
// directory is not where the end record says, from its local file header).
class ZipHeaderInfo {
public:
    ZipHeaderInfo() { Clear(); }

    uint16_t VersionMadeBy;     // 0 for an entry known only from its local header
    uint16_t VersionNeeded;
    uint16_t BitFlag;           // bit 0 encrypted, bit 3 data descriptor, 1-2 implode options
    uint16_t CompressionMethod; // APPNOTE 4.4.5 number; Method() names it
    uint32_t FileDateTime;      // MS-DOS form, date high; already clamped
    uint32_t StoredDateTime;    // as the record holds it: the password check byte comes from it
    uint32_t Crc32;
    // Widened from 32 bits for ZIP64; signed in arithmetic as before (the pass counts a
    // copy of it down and stops at 0 or below). Never above INT64_MAX once read.
    int64_t CompressedSize;     // with the 12-byte encryption header of an encrypted entry
    int64_t UncompressedSize;
    uint16_t FileNameLength;    // length(Directory) + length(FileName) once read
    uint16_t ExtraFieldLength;
    uint16_t FileCommentLength;
    uint16_t DiskNumberStart;
    uint16_t InternalAttributes;
    uint32_t ExternalAttributes;
    // Widened from 32 bits for ZIP64; never above INT64_MAX once read.
    uint64_t RelativeOffset;    // archive offset of the local header
    uint64_t CentralOffset;     // archive offset of the central record; 0 if none
    bool Zip64;                 // a size, the offset or the disk came from a ZIP64 extra field
    // The last modification as seconds since 1970 UTC, from the extended-timestamp
    // field (0x5455) or else the old Info-ZIP Unix field (0x5855); none without either.
    // The extraction takes the local header's (as Info-ZIP unzip does), and where it
    // has one it dates the file: FileDateTime is the producer's local time, wrong by
    // its time zone anywhere else.
    std::optional<int64_t> UnixModTime;
    bool Selected;  // the pass keeps its choice of entries to itself: a directory it reads is not changed

    void Clear();
    void Assign(const ZipHeaderInfo& other);

    const std::string& FileName() const { return file_name_; }
    const std::string& Directory() const { return directory_; }
    std::string StoredPath() const { return directory_ + file_name_; }
    void SetFileName(const std::string& name);
    // Appends a delimiter to a non-empty text that does not end in one.
    void SetDirectory(const std::string& directory);

    const std::optional<std::string>& FileComment() const { return file_comment_; }
    void SetFileComment(std::optional<std::string> comment);

    bool HasComment() const { return FileCommentLength != 0; }
    bool IsEncrypted() const { return (BitFlag & general_purpose::kEncrypted) != 0; }
    bool HasDescriptor() const { return (BitFlag & general_purpose::kDataDescriptor) != 0; }
    unzip::CompressionMethod Method() const { return method_from_record(CompressionMethod); }
    // Made on Unix (APPNOTE 4.4.2.2) with S_IFLNK in the mode of the attributes' high
    // half (4.4.15): the entry's data is the link's target.
    bool IsSymbolicLink() const;
    bool IsAesEncrypted() const { return CompressionMethod == kWinZipAesMethod; }

    // Reads the central record at the stream's position. On failure (a short record,
    // a wrong signature, a short name) the stream is back at the record's start and
    // the entry is untouched. `next_disk`, when given, is run when the record was cut
    // by the end of a part, and the rest is read from the part it returns. A field
    // that holds its ZIP64 escape takes its value from the ZIP64 extra field; a ZIP64
    // field too short for the escaped fields, or a value beyond INT64_MAX, raises
    // BadZip64 (and leaves the entry half filled). The stored name is converted to the
    // names `files` reads (its ANSI code page, or UTF-8).
    bool ReadCentralRecord(platform::FileSystem& files, BufferedStream& stream, const NextDiskAction& next_disk);
    // Reads the local header at the stream's position; leaves the stream after the
    // extra field. Fails as ReadCentralRecord does.
    bool ReadLocalRecord(platform::FileSystem& files, BufferedStream& stream);

private:
    void set_stored_name(platform::FileSystem& files, const std::string& raw);
    void take_zip64_values(std::span<const uint8_t> extra, Zip64ExtendedInformation::Escaped escaped);

    std::string file_name_;
    std::string directory_;
    std::optional<std::string> file_comment_;
};

// The end-of-central-directory record (APPNOTE 4.3.16).
class EndCentral {
public:
    static constexpr uint32_t kSignature = EndOfCentralDirectoryRecord::kSignature;

    EndCentral() { Clear(); }

    uint32_t Signature;
    // A ZIP64 archive is read only when it is not split, so the disks keep 16 bits.
    uint16_t ThisDisk;
    uint16_t CentralDisk;
    // Counts, size and offsets widened from 16 and 32 bits for the ZIP64 end record.
    uint64_t EntriesThisDisk;
    uint64_t TotalEntries;
    uint64_t CentralSize;
    uint64_t CentralStart;
    uint16_t CommentLength;
    std::optional<std::string> ZipComment;  // loaded on demand
    uint64_t CommentOffset;                 // archive size - CommentLength
    bool CommentModified;

    void Clear();
    void Assign(const EndCentral& other) { *this = other; }
};

enum class ZipSortMode {
    ByName = 0,              // Directory + FileName, letter case ignored
    ByFileName = 1,
    ByDirectoryName = 2,
    ByDate = 3,              // newest first, never equal
    ByCompressedSize = 4,    // largest first, never equal
    ByUnCompressedSize = 5,  // largest first, never equal
    ByRate = 6,              // best compression first
    ByNone = 7,              // disk, then local-header offset: the physical order
};

class SortedZip : public SortedObjectList<ZipHeaderInfo> {
public:
    SortedZip(ZipSortMode mode, bool owns_objects, Duplicates duplicates)
        : SortedObjectList<ZipHeaderInfo>(owns_objects, duplicates), mode_(mode) {}

    ZipSortMode SortMode() const { return mode_; }
    int compare(const ZipHeaderInfo& a, const ZipHeaderInfo& b) const override;

protected:
    std::string item_class_name() const override { return "TZipHeaderInfo"; }

private:
    ZipSortMode mode_;
};

}  // namespace kalv::unzip
