// Every entry of the legacy test data (archives made by PKZIP 0.9x/1.x, hwzip and
// others, some encrypted with password "legacy") decodes to the SHA-256, CRC-32 and
// size its manifest gives. The data is read in place; without it the tests skip.
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include "legacy_support.h"

namespace {

using namespace legacy_test;
using kalv::unzip::DecodeStatus;

struct ManifestRow {
    std::string archive, entry, flags, sha256, expected_file;
    int method = 0;
    int64_t size = 0;
    uint32_t crc = 0;
};

std::vector<ManifestRow> read_manifest(const std::string& dir) {
    std::ifstream f(dir + "/MANIFEST.tsv", std::ios::binary);
    std::string line;
    std::getline(f, line);
    std::map<std::string, size_t> column;
    {
        std::stringstream header(line);
        std::string name;
        for (size_t i = 0; std::getline(header, name, '\t'); ++i) column[name] = i;
    }
    std::vector<ManifestRow> rows;
    while (std::getline(f, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty()) continue;
        std::vector<std::string> cell;
        std::stringstream fields(line);
        std::string value;
        while (std::getline(fields, value, '\t')) cell.push_back(value);
        auto at = [&](const char* name) { return cell.at(column.at(name)); };
        ManifestRow r;
        r.archive = at("archive");
        r.entry = at("entry");
        r.method = std::stoi(at("method"));
        r.flags = at("flags");
        r.size = std::stoll(at("uncompressed_size"));
        r.crc = static_cast<uint32_t>(std::stoul(at("crc32"), nullptr, 16));
        r.sha256 = at("sha256");
        r.expected_file = at("expected_file");
        rows.push_back(r);
    }
    return rows;
}

class LegacyManifest : public ::testing::Test {
protected:
    void SetUp() override {
        auto found = testdata_dir();
        if (!found) GTEST_SKIP() << "legacy test data not found (set KALV_TESTDATA to its folder)";
        dir_ = *found;
        rows_ = read_manifest(dir_);
        ASSERT_FALSE(rows_.empty());
    }

    const Entry* find_entry(const std::string& archive, const std::string& name) {
        auto it = archives_.find(archive);
        if (it == archives_.end()) {
            auto bytes = read_file(dir_ + "/" + archive);
            if (!bytes) return nullptr;
            auto entries = read_archive(*bytes, "legacy");
            if (!entries) return nullptr;
            it = archives_.emplace(archive, std::move(*entries)).first;
        }
        for (const Entry& e : it->second)
            if (e.name == name) return &e;
        return nullptr;
    }

    std::string dir_;
    std::vector<ManifestRow> rows_;
    std::map<std::string, std::vector<Entry>> archives_;
};

// One window buffer for all entries, filled with garbage first and never cleared,
// as the driver keeps it: a decoder that read stale bytes would fail here.
TEST_F(LegacyManifest, EveryEntryDecodesToItsManifestDigest) {
    std::vector<uint8_t> window(32780, 0xA5);
    std::set<int> methods;
    for (const ManifestRow& row : rows_) {
        SCOPED_TRACE(row.archive + " " + row.entry + " (method " + std::to_string(row.method) + ")");
        const Entry* e = find_entry(row.archive, row.entry);
        ASSERT_NE(e, nullptr);
        EXPECT_EQ(e->method, row.method);
        EXPECT_EQ(e->crc, row.crc);
        const Decoded d = decode(*e, window);
        EXPECT_EQ(d.status, DecodeStatus::Done);
        EXPECT_EQ(static_cast<int64_t>(d.bytes.size()), row.size);
        EXPECT_EQ(crc32(d.bytes), row.crc);
        EXPECT_EQ(sha256_hex(d.bytes), row.sha256);
        if (row.expected_file != "-") {
            auto expected = read_file(dir_ + "/" + row.expected_file);
            ASSERT_TRUE(expected.has_value());
            EXPECT_TRUE(*expected == d.bytes);
        }
        methods.insert(row.method);
    }
    // The data must keep covering every legacy method, or this test proves less.
    for (int m = 1; m <= 6; ++m) EXPECT_TRUE(methods.count(m)) << "no entry with method " << m;
}

// The driver hands out blocks of up to 16000 bytes, but nothing in the format
// aligns with them: the same entries split into 1-, 3- and 4093-byte blocks.
TEST_F(LegacyManifest, BlockBoundariesDoNotMatter) {
    std::vector<uint8_t> window(32780, 0x5A);
    for (const ManifestRow& row : rows_) {
        if (row.method == 0 || row.size > 100000) continue;
        SCOPED_TRACE(row.archive + " " + row.entry);
        const Entry* e = find_entry(row.archive, row.entry);
        ASSERT_NE(e, nullptr);
        for (size_t block : {size_t{1}, size_t{3}, size_t{4093}}) {
            const Decoded d = decode(*e, window, block);
            EXPECT_EQ(d.status, DecodeStatus::Done) << "block " << block;
            EXPECT_EQ(crc32(d.bytes), row.crc) << "block " << block;
        }
    }
}

TEST(LegacySupport, Sha256KnownAnswers) {
    const std::string abc = "abc";
    EXPECT_EQ(sha256_hex({reinterpret_cast<const uint8_t*>(abc.data()), abc.size()}),
              "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");  // FIPS 180-2 B.1
    EXPECT_EQ(sha256_hex({}), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
}

}  // namespace
