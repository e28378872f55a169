// The package writer against APPNOTE's record layout, with zlib as the oracle for the
// CRC-32 and the Deflate data, the reader's ZipKeys for the encryption, and the
// launcher's extraction component reading each package back.
#include <gtest/gtest.h>
#include <zlib.h>

#include "platform/platform.h"
#include "platform/publishing.h"
#include "publish/package_writer.h"
#include "publish/zip_encrypter.h"
#include "files.h"
#include "unzip/unzipper.h"
#include "unzip/zip_records.h"

namespace kalv::publish {
namespace {

using namespace kalv::testing;

uint16_t get16(const std::string& b, size_t at) { return uint16_t(uint8_t(b[at]) | uint8_t(b[at + 1]) << 8); }
uint32_t get32(const std::string& b, size_t at) { return get16(b, at) | uint32_t(get16(b, at + 2)) << 16; }

uint32_t zlib_crc(const std::string& data) {
    return uint32_t(crc32(0, reinterpret_cast<const Bytef*>(data.data()), uInt(data.size())));
}

// zlib's raw Inflate: the oracle for the Deflate stream.
std::string zlib_inflate(const std::string& deflated, size_t size) {
    std::string out(size + 1, '\0');  // one spare byte: more output than stated is a fault
    z_stream s{};
    EXPECT_EQ(inflateInit2(&s, -15), Z_OK);
    s.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(deflated.data()));
    s.avail_in = uInt(deflated.size());
    s.next_out = reinterpret_cast<Bytef*>(out.data());
    s.avail_out = uInt(out.size());
    EXPECT_EQ(inflate(&s, Z_FINISH), Z_STREAM_END);
    EXPECT_EQ(s.avail_in, 0u) << "bytes after the end of the Deflate stream";
    out.resize(out.size() - s.avail_out);
    inflateEnd(&s);
    return out;
}

// Extracts `name` from `archive` with the launcher's component; nullopt unless exactly
// that one entry came out.
std::optional<std::string> product_extract(const std::string& archive, const std::string& name,
                                           const std::string& password, const std::string& dest) {
    unzip::UnZipper zip{platform::native()};
    zip.DoProcessMessages = false;
    zip.OverwriteMode = unzip::UZOverwriteMode::Always;
    zip.Password = password;
    zip.SetZipName(archive);
    zip.SetDestDir(dest);
    zip.FilesList = {name};
    if (zip.UnZip() != 1) return std::nullopt;
    return read_file(dest + "/" + name);
}

struct Case {
    const char* what;
    std::string data;
    int level;
};

std::vector<Case> cases() {
    std::string compressible;
    for (int i = 0; compressible.size() < (1 << 20); ++i) compressible += "line " + std::to_string(i % 977) + " of the shop\n";
    return {
        {"empty: Deflate's shortest stream, no data", "", 9},
        {"one byte", "x", 9},
        {"small text", "The quick brown fox jumps over the lazy dog\n", 9},
        {"1 MiB random: stored blocks, bigger than the input", pseudo_random_bytes(1 << 20, 7), 9},
        {"1 MiB compressible", compressible, 9},
        {"a read chunk and one byte: the passes cross a chunk edge", pseudo_random_bytes((1 << 18) + 1, 3), 6},
        {"fastest level, its own flag bits", compressible.substr(0, 5000), 1},
    };
}

TEST(PackageWriter, RecordsFollowAppnoteAndTheDataDecodes) {
    TempDir dir;
    const std::string password = "k3m8_q7rw_2x4";
    int n = 0;
    for (const Case& c : cases()) {
        SCOPED_TRACE(c.what);
        const std::string source = dir.file("source" + std::to_string(n));
        const std::string archive = dir.file("package" + std::to_string(n) + ".zip");
        ++n;
        write_file(source, c.data);
        PackageEntry entry;
        entry.name = "Kalvo3main";
        entry.password = password;
        entry.dos_time = 0x5A8B6000;
        entry.attributes = {3, 0x81ED0020};
        entry.level = c.level;
        for (size_t i = 0; i < entry.random_header.size(); ++i) entry.random_header[i] = uint8_t(0xA0 + i);
        PackageInfo info;
        {
            auto in = platform::native().open_file(source, platform::OpenMode::ReadDenyWrite);
            auto out = platform::create_new_file(platform::native(), archive);
            info = write_package(*in, source, *out, entry);
        }
        const std::string b = read_file(archive);
        const uint32_t crc = zlib_crc(c.data);
        EXPECT_EQ(info.crc32, crc);
        EXPECT_EQ(info.size, c.data.size());
        EXPECT_EQ(info.archive_size, b.size());

        // Local file header (APPNOTE 4.3.7).
        const uint16_t flags = c.level == 9 ? 0x0003 : c.level == 1 ? 0x0007 : 0x0001;
        ASSERT_GE(b.size(), 30u + 10 + 12 + 46 + 10 + 22);
        EXPECT_EQ(get32(b, 0), unzip::LocalFileHeader::kSignature);
        EXPECT_EQ(get16(b, 4), 20);
        EXPECT_EQ(get16(b, 6), flags);
        EXPECT_EQ(get16(b, 8), 8);
        EXPECT_EQ(get32(b, 10), 0x5A8B6000u);
        EXPECT_EQ(get32(b, 14), crc);
        const uint32_t packed = get32(b, 18);
        EXPECT_EQ(packed, info.packed_size);
        EXPECT_EQ(get32(b, 22), c.data.size());
        EXPECT_EQ(get16(b, 26), 10);
        EXPECT_EQ(get16(b, 28), 0);
        EXPECT_EQ(b.substr(30, 10), "Kalvo3main");

        // Central directory header (4.3.12) right after the data, then the end record (4.3.16).
        const size_t central = 40 + packed;
        ASSERT_EQ(b.size(), central + 46 + 10 + 22);
        EXPECT_EQ(get32(b, central), unzip::CentralDirectoryFileHeader::kSignature);
        EXPECT_EQ(get16(b, central + 4), 0x0314);  // made on Unix (3), by 2.0
        EXPECT_EQ(b.substr(central + 6, 24), b.substr(4, 24)) << "the fields both headers share";
        EXPECT_EQ(get16(b, central + 30), 0);
        EXPECT_EQ(get16(b, central + 32), 0);
        EXPECT_EQ(get32(b, central + 38), 0x81ED0020u);
        EXPECT_EQ(get32(b, central + 42), 0u);
        EXPECT_EQ(b.substr(central + 46, 10), "Kalvo3main");
        const size_t end = central + 56;
        EXPECT_EQ(get32(b, end), unzip::EndOfCentralDirectoryRecord::kSignature);
        EXPECT_EQ(get32(b, end + 4), 0u);
        EXPECT_EQ(get16(b, end + 8), 1);
        EXPECT_EQ(get16(b, end + 10), 1);
        EXPECT_EQ(get32(b, end + 12), 56u);
        EXPECT_EQ(get32(b, end + 16), central);
        EXPECT_EQ(get16(b, end + 20), 0);

        // The data: the reader's keys decrypt the header (random bytes as given, the
        // CRC's high byte last: APPNOTE 6.1.6), and zlib inflates the rest.
        std::string data = b.substr(40, packed);
        unzip::ZipKeys keys;
        keys.InitKeys(password);
        keys.DecryptBuffer(reinterpret_cast<uint8_t*>(data.data()), data.size());
        for (size_t i = 0; i < 11; ++i) EXPECT_EQ(uint8_t(data[i]), 0xA0 + i);
        EXPECT_EQ(uint8_t(data[11]), crc >> 24);
        EXPECT_TRUE(zlib_inflate(data.substr(12), c.data.size()) == c.data);

        const std::string dest = dir.file("out" + std::to_string(n));
        const auto extracted = product_extract(archive, "Kalvo3main", password, dest);
        ASSERT_TRUE(extracted.has_value());
        EXPECT_TRUE(*extracted == c.data);
    }
}

// Every byte of a package of an empty source: its Deflate stream is the one every
// compressor writes for no data (a final fixed block holding only its end code,
// 03 00), so the whole package is fixed. Written by this writer when its records were
// first checked against APPNOTE and Info-ZIP unzip; a change of any record's layout
// shows here.
TEST(PackageWriter, APackageOfNothingIsExactlyTheBytesItAlwaysWas) {
    const std::string expected_hex =
        // local file header: version 20, flags 3 (encrypted, maximum), Deflate, time, CRC 0,
        // packed 14, size 0, name length 10, no extra field; the name
        "504b0304" "1400" "0300" "0800" "00608b5a" "00000000" "0e000000" "00000000" "0a00" "0000"
        "4b616c766f336d61696e"
        // the encryption header and the encrypted Deflate stream 03 00
        "fed77e117c7408f038d8a847" "5db4"
        // central directory header: made by Unix 2.0, the shared fields, no extra field,
        // comment, disk or internal attributes; external 0x81ED0020, offset 0; the name
        "504b0102" "1403" "1400" "0300" "0800" "00608b5a" "00000000" "0e000000" "00000000" "0a00" "0000"
        "0000" "0000" "0000" "2000ed81" "00000000" "4b616c766f336d61696e"
        // end record: disks 0, one entry, directory of 56 bytes at 54, no comment
        "504b0506" "0000" "0000" "0100" "0100" "38000000" "36000000" "0000";
    TempDir dir;
    write_file(dir.file("empty"), "");
    PackageEntry entry;
    entry.name = "Kalvo3main";
    entry.password = "k3m8_q7rw_2x4";
    entry.dos_time = 0x5A8B6000;
    entry.attributes = {3, 0x81ED0020};
    for (size_t i = 0; i < entry.random_header.size(); ++i) entry.random_header[i] = uint8_t(0xA0 + i);
    {
        auto in = platform::native().open_file(dir.file("empty"), platform::OpenMode::ReadDenyWrite);
        auto out = platform::create_new_file(platform::native(), dir.file("package"));
        write_package(*in, "empty", *out, entry);
    }
    std::string hex;
    for (const char c : read_file(dir.file("package"))) {
        static const char digits[] = "0123456789abcdef";
        hex += digits[uint8_t(c) >> 4];
        hex += digits[uint8_t(c) & 15];
    }
    EXPECT_EQ(hex, expected_hex);
}

TEST(PackageWriter, RefusesEntryNamesThatDoNotFitTheRecord) {
    TempDir dir;
    write_file(dir.file("source"), "data");
    for (const std::string& name : {std::string(), std::string(65536, 'n')}) {
        auto in = platform::native().open_file(dir.file("source"), platform::OpenMode::ReadDenyWrite);
        auto out = platform::create_new_file(platform::native(), dir.file("p" + std::to_string(name.size())));
        PackageEntry entry;
        entry.name = name;
        EXPECT_THROW(write_package(*in, "source", *out, entry), Error) << name.size();
    }
}

// The encoder is the reader's key schedule run forwards: the reader's ZipKeys undoes
// it however the stream is cut into calls, for any password.
TEST(ZipEncrypter, TheReadersKeysUndoItAtEverySplit) {
    const std::string plain = pseudo_random_bytes(200, 9);
    for (const std::string& password : {std::string(), std::string("a"), std::string("p\xE4ssword"),
                                        std::string("with\0zero", 9)}) {
        for (size_t split = 0; split <= plain.size(); split += 13) {
            std::string data = plain;
            auto* p = reinterpret_cast<uint8_t*>(data.data());
            ZipEncrypter encrypter(password);
            encrypter.EncryptBuffer(p, split);
            encrypter.EncryptBuffer(p + split, data.size() - split);
            ASSERT_NE(data, plain);
            unzip::ZipKeys keys;
            keys.InitKeys(password);
            keys.DecryptBufferReference(p, data.size());
            ASSERT_EQ(data, plain) << "password of " << password.size() << " bytes, split at " << split;
        }
    }
}

}  // namespace
}  // namespace kalv::publish
