#include "publish/package_writer.h"

#include <zlib.h>

#include <algorithm>
#include <limits>
#include <memory>
#include <vector>

#include "core/crc32.h"
#include "core/errors.h"
#include "publish/zip_encrypter.h"
#include "unzip/zip_records.h"

namespace kalv::publish {

namespace {

using unzip::CentralDirectoryFileHeader;
using unzip::EndOfCentralDirectoryRecord;
using unzip::LocalFileHeader;

constexpr size_t kChunk = 1 << 18;

// 2.0: Deflate and traditional encryption (APPNOTE 4.4.3.2).
constexpr uint16_t kVersionNeeded = 20;
constexpr uint16_t kMethodDeflate = static_cast<uint16_t>(unzip::CompressionMethod::Deflated);

// ZIP's sizes and offsets are 32-bit, and 0xFFFFFFFF would say "see the ZIP64 record"
// (APPNOTE 4.4.8); the launcher's reader takes them as signed 32-bit values, so a
// package stays below 2 GiB.
constexpr uint64_t kLargestSize = 0x7FFFFFFFu;

void put16(std::string& out, uint16_t v) {
    out += static_cast<char>(v & 0xFF);
    out += static_cast<char>(v >> 8);
}

void put32(std::string& out, uint32_t v) {
    put16(out, static_cast<uint16_t>(v & 0xFFFF));
    put16(out, static_cast<uint16_t>(v >> 16));
}

// APPNOTE 4.4.4, bits 1 and 2 for method 8: which of the Deflate options made the
// data, as Info-ZIP zip records its -1 to -9.
uint16_t deflate_option_flags(int level) {
    if (level >= 8) return 0x0002;  // maximum
    if (level == 2) return 0x0004;  // fast
    if (level == 1) return 0x0006;  // super fast
    return 0x0000;                  // normal
}

// The fields the local and the central header share, from "version needed" to the
// name length (APPNOTE 4.3.7 and 4.3.12 list them in the same order).
struct SharedFields {
    uint16_t flags;
    uint32_t dos_time;
    uint32_t crc;
    uint32_t compressed;
    uint32_t uncompressed;
    uint16_t name_length;
};

void put_shared(std::string& out, const SharedFields& f) {
    put16(out, kVersionNeeded);
    put16(out, f.flags);
    put16(out, kMethodDeflate);
    put32(out, f.dos_time);  // time in the low half, date in the high half: 4.4.6's order
    put32(out, f.crc);
    put32(out, f.compressed);
    put32(out, f.uncompressed);
    put16(out, f.name_length);
}

// Reads the source from its start to its end. FileHandle::read gives 0 both at the
// end and on a read error, so the byte count is checked against the size by callers.
template <typename Sink>
uint64_t read_all(platform::FileHandle& source, const std::string& name, std::vector<uint8_t>& buffer, Sink&& sink) {
    if (source.seek(0, platform::SeekOrigin::Begin) != 0) throw StreamError("Cannot read " + name);
    uint64_t total = 0;
    for (;;) {
        const size_t got = source.read(buffer.data(), buffer.size());
        if (got == 0) return total;
        sink(buffer.data(), got);
        total += got;
    }
}

// zlib's raw Deflate stream (RFC 1951, no zlib wrapper: windowBits -15), freed when
// it goes.
class RawDeflate {
public:
    explicit RawDeflate(int level) {
        if (deflateInit2(&stream_, level, Z_DEFLATED, -15, 9, Z_DEFAULT_STRATEGY) != Z_OK)
            throw Error("zlib refused to start a Deflate stream");
    }
    ~RawDeflate() { deflateEnd(&stream_); }
    RawDeflate(const RawDeflate&) = delete;
    RawDeflate& operator=(const RawDeflate&) = delete;

    // Compresses `n` bytes (with `finish`, the end of the stream) and hands every
    // output chunk to `emit`.
    template <typename Emit>
    void compress(const uint8_t* data, size_t n, bool finish, std::vector<uint8_t>& out, Emit&& emit) {
        stream_.next_in = const_cast<Bytef*>(data);
        stream_.avail_in = static_cast<uInt>(n);
        int status;
        do {
            stream_.next_out = out.data();
            stream_.avail_out = static_cast<uInt>(out.size());
            status = deflate(&stream_, finish ? Z_FINISH : Z_NO_FLUSH);
            if (status == Z_STREAM_ERROR) throw Error("zlib failed while compressing");
            const size_t produced = out.size() - stream_.avail_out;
            if (produced) emit(out.data(), produced);
        } while (stream_.avail_out == 0 || (finish && status != Z_STREAM_END));
    }

private:
    z_stream stream_{};
};

// Pass 1: the CRC-32 of the source's bytes, which the encryption header's check
// byte needs up front, and their count.
PackageInfo measure_source(platform::FileHandle& source, const std::string& name) {
    const int64_t size = source.size();
    if (size < 0) throw StreamError("Cannot read " + name);
    if (static_cast<uint64_t>(size) > kLargestSize) throw Error(name + " is 2 GiB or larger; a package holds less");
    std::vector<uint8_t> buffer(kChunk);
    uint32_t crc = 0xFFFFFFFFu;
    const uint64_t read =
        read_all(source, name, buffer, [&](const uint8_t* data, size_t n) { crc = crc32_update(crc, data, n); });
    if (read != static_cast<uint64_t>(size)) throw StreamError("Cannot read " + name + " to its end");
    PackageInfo info;
    info.crc32 = ~crc;
    info.size = read;
    return info;
}

// The local header (APPNOTE 4.3.7) and the entry's name.
std::string local_header(const SharedFields& fields, const std::string& name) {
    std::string header;
    put32(header, LocalFileHeader::kSignature);
    put_shared(header, fields);
    put16(header, 0);  // extra field length
    header += name;
    return header;
}

// The encryption header, then pass 2: Deflate, encrypt, write; the CRC again, to
// catch a source that changed since pass 1.
void write_entry_data(platform::FileHandle& source, const std::string& source_name, const PackageEntry& entry,
                      const PackageInfo& measured, platform::NewFile& out) {
    // APPNOTE 6.1.3: the encryption header is random but for its last byte, which
    // carries the CRC's high byte for the reader's password check (6.1.6).
    ZipEncrypter encrypter(entry.password);
    std::array<uint8_t, ZipEncrypter::kHeaderSize> encryption_header;
    std::copy(entry.random_header.begin(), entry.random_header.end(), encryption_header.begin());
    encryption_header.back() = static_cast<uint8_t>(measured.crc32 >> 24);
    encrypter.EncryptBuffer(encryption_header.data(), encryption_header.size());
    out.write(encryption_header.data(), encryption_header.size());

    std::vector<uint8_t> in(kChunk), deflated(kChunk);
    RawDeflate deflater(entry.level);
    auto emit = [&](uint8_t* data, size_t n) {
        encrypter.EncryptBuffer(data, n);
        out.write(data, n);
    };
    uint32_t again = 0xFFFFFFFFu;
    const uint64_t read = read_all(source, source_name, in, [&](const uint8_t* data, size_t n) {
        again = crc32_update(again, data, n);
        deflater.compress(data, n, false, deflated, emit);
    });
    deflater.compress(nullptr, 0, true, deflated, emit);
    if (read != measured.size || ~again != measured.crc32) throw Error(source_name + " changed while it was packed");
}

// The central directory (one header, APPNOTE 4.3.12) and its end record (4.3.16).
std::string central_directory(const PackageEntry& entry, const SharedFields& fields, uint64_t local_offset,
                              uint64_t central_offset) {
    std::string central;
    put32(central, CentralDirectoryFileHeader::kSignature);
    // Version made by (4.4.2): the host in the upper byte, the version in the lower.
    put16(central, static_cast<uint16_t>(entry.attributes.host << 8 | kVersionNeeded));
    put_shared(central, fields);
    put16(central, 0);  // extra field length
    put16(central, 0);  // file comment length
    put16(central, 0);  // disk number start
    put16(central, 0);  // internal file attributes: binary (4.4.14)
    put32(central, entry.attributes.external);
    put32(central, static_cast<uint32_t>(local_offset));
    central += entry.name;
    if (central_offset + central.size() > kLargestSize) throw Error("The package would be 2 GiB or larger");
    put32(central, EndOfCentralDirectoryRecord::kSignature);
    put16(central, 0);  // number of this disk
    put16(central, 0);  // disk where the central directory starts
    put16(central, 1);  // entries on this disk
    put16(central, 1);  // entries in all
    put32(central, static_cast<uint32_t>(CentralDirectoryFileHeader::kSize + entry.name.size()));
    put32(central, static_cast<uint32_t>(central_offset));
    put16(central, 0);  // archive comment length
    return central;
}

}  // namespace

PackageInfo write_package(platform::FileHandle& source, const std::string& source_name, platform::NewFile& out,
                          const PackageEntry& entry) {
    if (entry.name.empty() || entry.name.size() > std::numeric_limits<uint16_t>::max())
        throw Error("An entry name must have 1 to 65535 bytes");
    PackageInfo info = measure_source(source, source_name);

    const uint16_t flags = unzip::general_purpose::kEncrypted | deflate_option_flags(entry.level);
    // Both fit: the size is below 2 GiB, the name's length was checked above. The
    // compressed size is written once it is known.
    SharedFields fields{flags, entry.dos_time, info.crc32, 0, static_cast<uint32_t>(info.size),
                        static_cast<uint16_t>(entry.name.size())};
    const uint64_t local_offset = out.position();
    const std::string header = local_header(fields, entry.name);
    out.write(header.data(), header.size());

    const uint64_t data_start = out.position();
    write_entry_data(source, source_name, entry, info, out);
    info.packed_size = out.position() - data_start;
    if (info.packed_size > kLargestSize) throw Error("The package would be 2 GiB or larger");
    fields.compressed = static_cast<uint32_t>(info.packed_size);
    std::string compressed_size;
    put32(compressed_size, fields.compressed);
    out.write_at(local_offset + 18, compressed_size.data(), compressed_size.size());  // APPNOTE 4.3.7 offset 18

    const std::string central = central_directory(entry, fields, local_offset, out.position());
    out.write(central.data(), central.size());
    info.archive_size = out.position();
    return info;
}

}  // namespace kalv::publish
