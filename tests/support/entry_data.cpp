#include "entry_data.h"

#include "core/errors.h"
#include "files.h"
#include "unzip/unzipper.h"
#include "unzip/zip_crypto.h"
#include "unzip/zip_records.h"

namespace kalv::testing {

std::optional<std::vector<EntryData>> read_entry_data(const std::string& path, const std::string& password) {
    const std::string archive = read_file(path);
    unzip::UnZipper zip{platform::native()};
    zip.DoProcessMessages = false;
    try {
        zip.SetZipName(path);
        zip.OpenArchive();
    } catch (const kalv::Error&) {
        return std::nullopt;
    }
    std::vector<EntryData> entries;
    for (int i = 0; i < zip.EntryCount(); ++i) {
        const unzip::ZipHeaderInfo& h = zip.Entry(i);
        // The local header's name and extra field may differ in length from the
        // central record's (APPNOTE 4.3.7): the data starts after the local ones.
        using unzip::LocalFileHeader;
        const size_t local = h.RelativeOffset;
        if (local + LocalFileHeader::kSize > archive.size()) return std::nullopt;
        const auto header = unzip::read_record<LocalFileHeader>(std::span<const uint8_t, LocalFileHeader::kSize>(
            reinterpret_cast<const uint8_t*>(archive.data()) + local, LocalFileHeader::kSize));
        const size_t start = local + LocalFileHeader::kSize + header.variable_size();
        const size_t stored = size_t(h.CompressedSize);
        if (start + stored > archive.size()) return std::nullopt;

        EntryData e;
        e.name = h.StoredPath();
        e.bit_flag = h.BitFlag;
        e.method = h.CompressionMethod;
        e.crc = h.Crc32;
        e.compressed_size = int64_t(stored);
        e.uncompressed_size = h.UncompressedSize;
        e.data.assign(archive.begin() + std::ptrdiff_t(start), archive.begin() + std::ptrdiff_t(start + stored));
        if (h.IsEncrypted()) {
            constexpr size_t kHeader = unzip::ZipKeys::kHeaderSize;
            if (e.data.size() < kHeader) return std::nullopt;
            unzip::ZipKeys keys;
            keys.InitKeys(password);
            keys.DecryptBuffer(e.data.data(), e.data.size());
            keys.Wipe();
            const uint8_t check = h.HasDescriptor() ? uint8_t(h.StoredDateTime >> 8) : uint8_t(h.Crc32 >> 24);
            if (e.data[kHeader - 1] != check) return std::nullopt;
            e.data.erase(e.data.begin(), e.data.begin() + kHeader);
            e.compressed_size -= int64_t(kHeader);
        }
        entries.push_back(std::move(e));
    }
    zip.CloseArchive();
    return entries;
}

}  // namespace kalv::testing
