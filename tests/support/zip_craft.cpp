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
        put32(b, 0x04034B50);
        put16(b, 20);
        put16(b, flags);
        put16(b, e.method);
        put32(b, e.dos_time);
        put32(b, crc);
        put32(b, uint32_t(stored.size()));
        put32(b, uint32_t(e.data.size()));
        put16(b, uint16_t(e.name.size()));
        put16(b, 0);
        b += e.name;
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
        put32(b, 0x02014B50);
        put16(b, e.version_made_by);
        put16(b, 20);
        put16(b, d.flags);
        put16(b, e.method);
        put32(b, e.dos_time);
        put32(b, d.crc);
        put32(b, d.size);
        put32(b, uint32_t(e.data.size()));
        put16(b, uint16_t(e.name.size()));
        put16(b, 0);
        put16(b, uint16_t(e.comment.size()));
        put16(b, 0);
        put16(b, 0);
        put32(b, e.external_attributes);
        put32(b, e.offset.value_or(uint32_t(z.local_offsets[i])));
        b += e.name;
        b += e.comment;
    }
    const size_t central_size = z.bytes.size() - z.central_start;
    z.end_offset = z.bytes.size();
    std::string& b = z.bytes;
    put32(b, 0x06054B50);
    put16(b, options.this_disk);
    put16(b, options.central_disk);
    put16(b, options.total_entries.value_or(uint16_t(entries.size())));
    put16(b, options.total_entries.value_or(uint16_t(entries.size())));
    put32(b, uint32_t(central_size));
    put32(b, options.central_start.value_or(uint32_t(z.central_start)));
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
