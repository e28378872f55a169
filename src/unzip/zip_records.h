// The on-disk records of a ZIP archive as PKWARE's APPNOTE names them, with their
// signatures and fixed sizes, read field by field through one little-endian reader.
//
//   [local file header 1][file data 1] ... [local file header n][file data n]
//   [central directory header 1] ... [central directory header n]
//   [end of central directory record][.ZIP file comment]
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
