// Every entry of the legacy test data (archives made by PKZIP 0.9x/1.x, hwzip and
// others, some encrypted with password "legacy") extracts to the SHA-256, CRC-32 and
// size its manifest gives: through the extraction component as the launcher runs
// it (so encrypted entries go through its decryption), and through the decoders
// alone in odd block sizes. The data is read in place; without it the tests skip.
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include "../unzip/test_support.h"
#include "legacy_support.h"
#include "unzip/unzipper.h"

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

// One component per archive, every entry at once, the window buffer shared by
// them all as the driver keeps it: a decoder that read a previous entry's bytes
// would fail here.
TEST_F(LegacyManifest, EveryEntryExtractsToItsManifestDigest) {
    std::map<std::string, std::vector<const ManifestRow*>> by_archive;
    std::set<int> methods;
    for (const ManifestRow& row : rows_) {
        by_archive[row.archive].push_back(&row);
        methods.insert(row.method);
    }
    for (const auto& [archive, rows] : by_archive) {
        SCOPED_TRACE(archive);
        kalv::unzip::testing::TempDir out;
        kalv::unzip::UnZipper zip;
        zip.DoProcessMessages = false;
        zip.OverwriteMode = kalv::unzip::UZOverwriteMode::Always;
        zip.Password = "legacy";
        zip.DoAll = true;
        zip.SetZipName(dir_ + "/" + archive);
        zip.SetDestDir(out.path().string());
        std::vector<std::string> problems;
        zip.OnBadCRC = [&](kalv::unzip::UnZipper& z, uint32_t, uint32_t, int i) {
            problems.push_back("bad CRC: " + z.Entry(i).StoredPath());
        };
        zip.OnSkippingFile = [&](kalv::unzip::UnZipper&, kalv::unzip::SkipReason, const std::string& name, int) {
            problems.push_back("skipped: " + name);
        };
        EXPECT_EQ(zip.UnZip(), static_cast<int>(rows.size()));
        EXPECT_TRUE(problems.empty()) << ::testing::PrintToString(problems);

        for (const ManifestRow* row : rows) {
            SCOPED_TRACE(row->entry + " (method " + std::to_string(row->method) + ")");
            auto bytes = read_file(out.file(row->entry));
            ASSERT_TRUE(bytes.has_value());
            EXPECT_EQ(static_cast<int64_t>(bytes->size()), row->size);
            EXPECT_EQ(crc32(*bytes), row->crc);
            EXPECT_EQ(sha256_hex(*bytes), row->sha256);
            if (row->expected_file != "-") {
                auto expected = read_file(dir_ + "/" + row->expected_file);
                ASSERT_TRUE(expected.has_value());
                EXPECT_TRUE(*expected == *bytes);
            }
        }
    }
    // The data must keep covering every legacy method, or this test proves less.
    for (int m = 1; m <= 6; ++m) EXPECT_TRUE(methods.count(m)) << "no entry with method " << m;
}

// The test helper's own reading of every entry agrees with the manifest, so the
// decoder tests built on it below start from the right compressed bytes.
TEST_F(LegacyManifest, HelperReadsEveryEntry) {
    std::vector<uint8_t> window(32780, 0xA5);
    for (const ManifestRow& row : rows_) {
        SCOPED_TRACE(row.archive + " " + row.entry);
        const Entry* e = find_entry(row.archive, row.entry);
        ASSERT_NE(e, nullptr);
        EXPECT_EQ(e->method, row.method);
        const Decoded d = decode(*e, window);
        EXPECT_EQ(d.status, DecodeStatus::Done);
        EXPECT_EQ(sha256_hex(d.bytes), row.sha256);
    }
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

// Through the component: an imploded entry whose length tree covers too few symbols
// stops its decoder, and the entry is neither counted nor left on disk.
TEST_F(LegacyManifest, BadTreeLeavesNoOutputAndIsNotCounted) {
    auto zip_bytes = read_file(dir_ + "/example-i.zip");
    ASSERT_TRUE(zip_bytes.has_value());
    Bytes hostile = *zip_bytes;
    const size_t data = 30 + (hostile[26] | hostile[27] << 8) + (hostile[28] | hostile[29] << 8);
    hostile[data] = 0;  // the length tree: one byte of runs, at most 16 of 64 symbols

    kalv::unzip::testing::TempDir out;
    const std::string archive = out.file("hostile.zip");
    kalv::unzip::testing::write_file(archive, std::string(hostile.begin(), hostile.end()));
    kalv::unzip::UnZipper zip;
    zip.DoProcessMessages = false;
    zip.OverwriteMode = kalv::unzip::UZOverwriteMode::Always;
    zip.DoAll = true;
    zip.SetZipName(archive);
    zip.SetDestDir(out.path().string());
    int bad_crc_events = 0;
    zip.OnBadCRC = [&](kalv::unzip::UnZipper&, uint32_t, uint32_t, int) { ++bad_crc_events; };
    EXPECT_EQ(zip.UnZip(), 0);
    EXPECT_EQ(bad_crc_events, 1);
    EXPECT_FALSE(kalv::unzip::testing::file_exists(out.file("I.BIN")));
}

TEST(LegacySupport, Sha256KnownAnswers) {
    const std::string abc = "abc";
    EXPECT_EQ(sha256_hex({reinterpret_cast<const uint8_t*>(abc.data()), abc.size()}),
              "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");  // FIPS 180-2 B.1
    EXPECT_EQ(sha256_hex({}), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
}

}  // namespace
