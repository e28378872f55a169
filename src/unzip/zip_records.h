// The on-disk records of a ZIP archive as PKWARE's APPNOTE names them, with their
// signatures and fixed sizes, read field by field through one little-endian reader.
//
//   [local file header 1][file data 1] ... [local file header n][file data n]
//   [central directory header 1] ... [central directory header n]
//   [zip64 end of central directory record][zip64 end of central directory locator]
//   [end of central directory record][.ZIP file comment]
//
// The two ZIP64 records (APPNOTE 4.3.14, 4.3.15) are there only when a value of the
// end record does not fit its field, which then holds its escape (all bits set);
// an entry's sizes, offset and disk that do not fit go into its ZIP64 extended
// information extra field (APPNOTE 4.5.3) the same way.
//
// Each header's fixed part is followed by its variable fields (file name, extra
// field, and in the central header the file comment) of the lengths it gives.
// Extra fields (APPNOTE 4.5) are walked in one place, for_each_extra_field.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace kalv::unzip {

// APPNOTE 4.4.1.1: all values are stored in little-endian byte order. Reads a
// record's fields in their order from a span that holds the whole record.
class LittleEndianReader {
public:
    constexpr explicit LittleEndianReader(std::span<const uint8_t> bytes) : bytes_(bytes) {}

    constexpr uint16_t u16() {
        const uint16_t v = uint16_t(bytes_[at_] | (bytes_[at_ + 1] << 8));
        at_ += 2;
        return v;
    }
    constexpr uint32_t u32() {
        const uint32_t low = u16();
        return low | (uint32_t(u16()) << 16);
    }
    constexpr uint64_t u64() {
        const uint64_t low = u32();
        return low | (uint64_t(u32()) << 32);
    }
    constexpr std::span<const uint8_t> bytes(size_t n) {
        const std::span<const uint8_t> v = bytes_.subspan(at_, n);
        at_ += n;
        return v;
    }
    constexpr size_t consumed() const { return at_; }
    constexpr size_t remaining() const { return bytes_.size() - at_; }

private:
    std::span<const uint8_t> bytes_;
    size_t at_ = 0;
};

// APPNOTE 4.4.5. The field stays a number in the records; this names it where the
// extraction chooses a decoder.
enum class CompressionMethod : uint16_t {
    Stored = 0,
    Shrunk = 1,
    Reduced1 = 2,  // Reduced with compression factor 1 .. 4
    Reduced2 = 3,
    Reduced3 = 4,
    Reduced4 = 5,
    Imploded = 6,
    Tokenized = 7,  // reserved for Tokenizing; no compressor ever wrote it
    Deflated = 8,
    Deflate64 = 9,  // "Enhanced Deflating"; not decoded here
    // Later methods (bzip2 12, LZMA 14, ...) have no decoder here either.
};

constexpr CompressionMethod method_from_record(uint16_t stored) { return CompressionMethod(stored); }

// Reduced1 .. Reduced4 are factors 1 .. 4 (APPNOTE 5.2.1); 0 for any other method.
constexpr int reduction_factor(CompressionMethod m) {
    const int factor = int(m) - int(CompressionMethod::Reduced1) + 1;
    return factor >= 1 && factor <= 4 ? factor : 0;
}

// APPNOTE 4.4.4: the general purpose bit flag.
namespace general_purpose {
constexpr uint16_t kEncrypted = 0x0001;       // bit 0: traditional PKWARE encryption
constexpr uint16_t kDataDescriptor = 0x0008;  // bit 3: CRC and sizes follow the data
constexpr uint16_t kUtf8Name = 0x0800;        // bit 11: name and comment are UTF-8
}  // namespace general_purpose

// APPNOTE 4.3.7.
struct LocalFileHeader {
    static constexpr uint32_t kSignature = 0x04034B50;  // "PK\3\4"
    static constexpr size_t kSize = 30;

    uint32_t signature;
    uint16_t version_needed_to_extract;
    uint16_t general_purpose_bit_flag;
    uint16_t compression_method;
    uint16_t last_mod_file_time;
    uint16_t last_mod_file_date;
    uint32_t crc32;
    uint32_t compressed_size;
    uint32_t uncompressed_size;
    uint16_t file_name_length;
    uint16_t extra_field_length;

    static constexpr LocalFileHeader read(LittleEndianReader& in) {
        LocalFileHeader h{};
        h.signature = in.u32();
        h.version_needed_to_extract = in.u16();
        h.general_purpose_bit_flag = in.u16();
        h.compression_method = in.u16();
        h.last_mod_file_time = in.u16();
        h.last_mod_file_date = in.u16();
        h.crc32 = in.u32();
        h.compressed_size = in.u32();
        h.uncompressed_size = in.u32();
        h.file_name_length = in.u16();
        h.extra_field_length = in.u16();
        return h;
    }
    // The bytes between the fixed part and the file data.
    constexpr uint32_t variable_size() const { return uint32_t(file_name_length) + extra_field_length; }
};

// APPNOTE 4.3.12.
struct CentralDirectoryFileHeader {
    static constexpr uint32_t kSignature = 0x02014B50;  // "PK\1\2"
    static constexpr size_t kSize = 46;

    uint32_t signature;
    uint16_t version_made_by;
    uint16_t version_needed_to_extract;
    uint16_t general_purpose_bit_flag;
    uint16_t compression_method;
    uint16_t last_mod_file_time;
    uint16_t last_mod_file_date;
    uint32_t crc32;
    uint32_t compressed_size;
    uint32_t uncompressed_size;
    uint16_t file_name_length;
    uint16_t extra_field_length;
    uint16_t file_comment_length;
    uint16_t disk_number_start;
    uint16_t internal_file_attributes;
    uint32_t external_file_attributes;
    uint32_t relative_offset_of_local_header;

    static constexpr CentralDirectoryFileHeader read(LittleEndianReader& in) {
        CentralDirectoryFileHeader h{};
        h.signature = in.u32();
        h.version_made_by = in.u16();
        h.version_needed_to_extract = in.u16();
        h.general_purpose_bit_flag = in.u16();
        h.compression_method = in.u16();
        h.last_mod_file_time = in.u16();
        h.last_mod_file_date = in.u16();
        h.crc32 = in.u32();
        h.compressed_size = in.u32();
        h.uncompressed_size = in.u32();
        h.file_name_length = in.u16();
        h.extra_field_length = in.u16();
        h.file_comment_length = in.u16();
        h.disk_number_start = in.u16();
        h.internal_file_attributes = in.u16();
        h.external_file_attributes = in.u32();
        h.relative_offset_of_local_header = in.u32();
        return h;
    }
};

// APPNOTE 4.3.16.
struct EndOfCentralDirectoryRecord {
    static constexpr uint32_t kSignature = 0x06054B50;  // "PK\5\6"
    static constexpr size_t kSize = 22;

    uint32_t signature;
    uint16_t number_of_this_disk;
    uint16_t disk_where_central_directory_starts;
    uint16_t entries_on_this_disk;
    uint16_t total_entries;
    uint32_t size_of_central_directory;
    uint32_t offset_of_central_directory;  // from the start of the disk where it starts
    uint16_t comment_length;

    static constexpr EndOfCentralDirectoryRecord read(LittleEndianReader& in) {
        EndOfCentralDirectoryRecord r{};
        r.signature = in.u32();
        r.number_of_this_disk = in.u16();
        r.disk_where_central_directory_starts = in.u16();
        r.entries_on_this_disk = in.u16();
        r.total_entries = in.u16();
        r.size_of_central_directory = in.u32();
        r.offset_of_central_directory = in.u32();
        r.comment_length = in.u16();
        return r;
    }
};

// APPNOTE 4.3.14.
struct Zip64EndOfCentralDirectoryRecord {
    static constexpr uint32_t kSignature = 0x06064B50;  // "PK\6\6"
    static constexpr size_t kSize = 56;
    // size_of_record counts the bytes after itself: the fixed fields that follow it,
    // then the zip64 extensible data sector, which is skipped.
    static constexpr uint64_t kLeastRecordSize = kSize - 12;

    uint32_t signature;
    uint64_t size_of_record;
    uint16_t version_made_by;
    uint16_t version_needed_to_extract;
    uint32_t number_of_this_disk;
    uint32_t disk_where_central_directory_starts;
    uint64_t entries_on_this_disk;
    uint64_t total_entries;
    uint64_t size_of_central_directory;
    uint64_t offset_of_central_directory;

    static constexpr Zip64EndOfCentralDirectoryRecord read(LittleEndianReader& in) {
        Zip64EndOfCentralDirectoryRecord r{};
        r.signature = in.u32();
        r.size_of_record = in.u64();
        r.version_made_by = in.u16();
        r.version_needed_to_extract = in.u16();
        r.number_of_this_disk = in.u32();
        r.disk_where_central_directory_starts = in.u32();
        r.entries_on_this_disk = in.u64();
        r.total_entries = in.u64();
        r.size_of_central_directory = in.u64();
        r.offset_of_central_directory = in.u64();
        return r;
    }
};

// APPNOTE 4.3.15: right in front of the end record when the archive is ZIP64.
struct Zip64EndOfCentralDirectoryLocator {
    static constexpr uint32_t kSignature = 0x07064B50;  // "PK\6\7"
    static constexpr size_t kSize = 20;

    uint32_t signature;
    uint32_t disk_with_zip64_end_record;
    uint64_t offset_of_zip64_end_record;
    uint32_t total_disks;

    static constexpr Zip64EndOfCentralDirectoryLocator read(LittleEndianReader& in) {
        Zip64EndOfCentralDirectoryLocator l{};
        l.signature = in.u32();
        l.disk_with_zip64_end_record = in.u32();
        l.offset_of_zip64_end_record = in.u64();
        l.total_disks = in.u32();
        return l;
    }
};

// APPNOTE 4.3.9: after an entry's data when bit 3 is set; the signature is optional
// but always written by the producers this reader meets. Its sizes take 8 bytes each
// when the entry's local header carries a ZIP64 extended information field.
struct DataDescriptor {
    static constexpr uint32_t kSignature = 0x08074B50;  // "PK\7\8"
    static constexpr size_t kSize = 16;
    static constexpr size_t kZip64Size = 24;
};

// APPNOTE 4.4.1.4: a field of a header or of the end record that holds all bits set
// says "the value is in the ZIP64 record or extra field".
namespace zip64 {
constexpr uint16_t kEscape16 = 0xFFFF;
constexpr uint32_t kEscape32 = 0xFFFFFFFF;
}  // namespace zip64

// APPNOTE 4.5.3: the ZIP64 extended information extra field. It holds, in this
// order, the original (uncompressed) size, the compressed size, the relative offset
// of the local header (8 bytes each) and the disk start number (4 bytes), but only
// those whose field in the header holds its escape. The local header's copy holds
// both sizes, and nothing else.
struct Zip64ExtendedInformation {
    static constexpr uint16_t kHeaderId = 0x0001;

    // The header fields whose escape sends the reader here.
    struct Escaped {
        bool original_size = false;
        bool compressed_size = false;
        bool relative_header_offset = false;
        bool disk_start_number = false;
        constexpr bool any() const {
            return original_size || compressed_size || relative_header_offset || disk_start_number;
        }
        constexpr size_t data_size() const {
            return 8 * (size_t(original_size) + size_t(compressed_size) + size_t(relative_header_offset)) +
                   4 * size_t(disk_start_number);
        }
    };

    // Only the escaped fields are filled; the others stay 0.
    uint64_t original_size = 0;
    uint64_t compressed_size = 0;
    uint64_t relative_header_offset = 0;
    uint32_t disk_start_number = 0;

    // The escaped fields from `in`, which must hold at least Escaped::data_size()
    // bytes (more are left unread).
    static constexpr Zip64ExtendedInformation read(LittleEndianReader& in, Escaped escaped) {
        Zip64ExtendedInformation z{};
        if (escaped.original_size) z.original_size = in.u64();
        if (escaped.compressed_size) z.compressed_size = in.u64();
        if (escaped.relative_header_offset) z.relative_header_offset = in.u64();
        if (escaped.disk_start_number) z.disk_start_number = in.u32();
        return z;
    }
};

// The date in the high half, the time in the low one, as the records' two fields
// lie next to each other (APPNOTE 4.4.6).
constexpr uint32_t dos_date_time(uint16_t date, uint16_t time) { return (uint32_t(date) << 16) | time; }

// A record's fixed part from exactly its size of bytes.
template <class Record>
constexpr Record read_record(std::span<const uint8_t, Record::kSize> bytes) {
    LittleEndianReader in(bytes);
    return Record::read(in);
}

// Each record's fields add up to its fixed size.
template <class Record>
constexpr bool reads_its_whole_size() {
    std::array<uint8_t, Record::kSize> zeros{};
    LittleEndianReader in(zeros);
    Record::read(in);
    return in.consumed() == Record::kSize;
}
static_assert(reads_its_whole_size<LocalFileHeader>());
static_assert(reads_its_whole_size<CentralDirectoryFileHeader>());
static_assert(reads_its_whole_size<EndOfCentralDirectoryRecord>());
static_assert(reads_its_whole_size<Zip64EndOfCentralDirectoryRecord>());
static_assert(reads_its_whole_size<Zip64EndOfCentralDirectoryLocator>());
static_assert(DataDescriptor::kZip64Size == DataDescriptor::kSize + 8);  // two sizes of 8 bytes, not 4
static_assert(Zip64ExtendedInformation::Escaped{true, true, true, true}.data_size() == 28);

// Info-ZIP's time fields (APPNOTE 4.6.1): the extended timestamp ("UT") and the old
// Unix field ("UX") of Info-ZIP zip before 2.0.
constexpr uint16_t kExtendedTimestampId = 0x5455;
constexpr uint16_t kOldUnixId = 0x5855;
// WinZip's AES encryption (method 99 with its 0x9901 field): AE-1 and AE-2.
constexpr uint16_t kWinZipAesMethod = 99;

// APPNOTE 4.5.1: an extra field block is a run of fields, each a 2-byte header ID,
// a 2-byte data size and that many bytes. Calls visit(header_id, data) for each in
// order; returns false when the block ends inside a field's header or data (what
// precedes it was visited).
template <class Visit>
constexpr bool for_each_extra_field(std::span<const uint8_t> block, Visit&& visit) {
    LittleEndianReader in(block);
    while (in.remaining() > 0) {
        if (in.remaining() < 4) return false;
        const uint16_t header_id = in.u16();
        const uint16_t data_size = in.u16();
        if (in.remaining() < data_size) return false;
        visit(header_id, in.bytes(data_size));
    }
    return true;
}

}  // namespace kalv::unzip
