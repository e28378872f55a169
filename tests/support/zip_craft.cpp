#include "zip_craft.h"

#include "core/crc32.h"
#include "publish/zip_encrypter.h"

namespace kalv::testing {

std::string encrypt_entry(const std::string& plain, const std::string& password, uint8_t check) {
    std::string out = "0123456789A";
    out += char(check);
    out += plain;
    publish::ZipEncrypter(password).EncryptBuffer(out);
    return out;
}

namespace {

void put64(std::string& out, uint64_t v) {
    put32(out, uint32_t(v));
    put32(out, uint32_t(v >> 32));
}

// APPNOTE 4.5.3: header ID 0x0001, then the values given, in the order given.
std::string zip64_extra(const std::vector<uint64_t>& eights, bool disk) {
    std::string data;
    for (const uint64_t v : eights) put64(data, v);
    if (disk) put32(data, 0);
    std::string field;
    put16(field, 0x0001);
    put16(field, uint16_t(data.size()));
    return field + data;
}

uint32_t escaped_if(bool escape, uint64_t v) { return escape ? 0xFFFFFFFF : uint32_t(v); }

}  // namespace

Crafted craft_zip(const std::vector<CraftEntry>& entries, const CraftOptions& options) {
    Crafted z;
    z.bytes = options.lead_in_bytes.empty() ? std::string(options.lead_in, '\0') : options.lead_in_bytes;
    struct Done {
        const CraftEntry* e;
        uint32_t crc;
        uint32_t size;
        uint16_t flags;
    };
    std::vector<Done> done;
    for (const CraftEntry& e : entries) {
        const uint32_t crc = e.crc.value_or(crc32_of(reinterpret_cast<const uint8_t*>(e.data.data()), e.data.size()));
        std::string stored = e.raw.value_or(e.data);
        uint16_t flags = e.flags;
        if (e.password) {
            flags |= 1;
            const uint8_t check = (flags & 8) ? uint8_t(e.dos_time >> 8) : uint8_t(crc >> 24);
            stored = encrypt_entry(stored, *e.password, check);
        }
        z.local_offsets.push_back(z.bytes.size());
        std::string& b = z.bytes;
        // The local header's ZIP64 field holds both sizes (APPNOTE 4.5.3).
        const bool local64 = (e.zip64 & (kZip64Uncompressed | kZip64Compressed)) != 0;
        const std::string local_extra = local64 ? zip64_extra({e.data.size(), stored.size()}, false) : "";
        put32(b, 0x04034B50);
        put16(b, local64 ? 45 : 20);
        put16(b, flags);
        put16(b, e.method);
        put32(b, e.dos_time);
        put32(b, crc);
        put32(b, escaped_if(local64, stored.size()));
        put32(b, escaped_if(local64, e.data.size()));
        put16(b, uint16_t(e.name.size()));
        put16(b, uint16_t(local_extra.size()));
        b += e.name;
        b += local_extra;
        b += stored;
        done.push_back({&e, crc, uint32_t(stored.size()), flags});
    }
    z.central_start = z.bytes.size();
    std::vector<size_t> order(entries.size());
    for (size_t i = 0; i < order.size(); ++i) order[i] = options.central_reversed ? order.size() - 1 - i : i;
    z.central_offsets.resize(entries.size());
    for (size_t i : order) {
        const Done& d = done[i];
        const CraftEntry& e = *d.e;
        std::string& b = z.bytes;
        z.central_offsets[i] = b.size();
        const uint64_t offset = options.base + z.local_offsets[i];
        std::vector<uint64_t> eights;
        if (e.zip64 & kZip64Uncompressed) eights.push_back(e.data.size());
        if (e.zip64 & kZip64Compressed) eights.push_back(d.size);
        if (e.zip64 & kZip64Offset) eights.push_back(offset);
        const std::string extra =
            e.central_extra.value_or(e.zip64 ? zip64_extra(eights, (e.zip64 & kZip64Disk) != 0) : "");
        put32(b, 0x02014B50);
        put16(b, e.version_made_by);
        put16(b, e.zip64 ? 45 : 20);
        put16(b, d.flags);
        put16(b, e.method);
        put32(b, e.dos_time);
        put32(b, d.crc);
        put32(b, escaped_if(e.zip64 & kZip64Compressed, d.size));
        put32(b, escaped_if(e.zip64 & kZip64Uncompressed, e.data.size()));
        put16(b, uint16_t(e.name.size()));
        put16(b, uint16_t(extra.size()));
        put16(b, uint16_t(e.comment.size()));
        put16(b, (e.zip64 & kZip64Disk) ? 0xFFFF : 0);
        put16(b, 0);
        put32(b, e.external_attributes);
        put32(b, e.offset.value_or(escaped_if(e.zip64 & kZip64Offset, offset)));
        b += e.name;
        b += extra;
        b += e.comment;
    }
    const size_t central_size = z.bytes.size() - z.central_start;
    const uint64_t central_start = options.base + z.central_start;
    std::string& b = z.bytes;
    if (options.zip64_end) {
        z.zip64_end_offset = b.size();
        put32(b, 0x06064B50);
        put64(b, 44);
        put16(b, 45);
        put16(b, 45);
        put32(b, 0);
        put32(b, 0);
        put64(b, entries.size());
        put64(b, entries.size());
        put64(b, central_size);
        put64(b, central_start);
        z.locator_offset = b.size();
        put32(b, 0x07064B50);
        put32(b, 0);
        put64(b, options.base + z.zip64_end_offset);
        put32(b, 1);
    }
    z.end_offset = b.size();
    const uint16_t total = options.zip64_end ? 0xFFFF : uint16_t(entries.size());
    put32(b, 0x06054B50);
    put16(b, options.this_disk);
    put16(b, options.central_disk);
    put16(b, options.total_entries.value_or(total));
    put16(b, options.total_entries.value_or(total));
    put32(b, escaped_if(options.zip64_end, central_size));
    put32(b, options.central_start.value_or(escaped_if(options.zip64_end, central_start)));
    put16(b, uint16_t(options.archive_comment.size()));
    b += options.archive_comment;
    return z;
}

void put16(std::string& out, uint16_t v) {
    out += char(v & 0xFF);
    out += char(v >> 8);
}

void put32(std::string& out, uint32_t v) {
    put16(out, uint16_t(v & 0xFFFF));
    put16(out, uint16_t(v >> 16));
}

}  // namespace kalv::testing
