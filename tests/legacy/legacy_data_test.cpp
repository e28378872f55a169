// Every entry of the legacy test data (archives made by PKZIP 0.9x/1.x, hwzip and
// others, some encrypted with password "legacy") extracts to the SHA-256, CRC-32 and
// size its manifest gives: through the extraction component as the launcher runs
// it (so encrypted entries go through its decryption), and through the decoders
// alone in odd block sizes; and hostile variants of its real streams end as bad
// data, end of input or a CRC mismatch, never a crash. The data is read in place,
// outside the repository (testdata.h): every test here needs it, and without it
// they are skipped and CTest shows this program as skipped.
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include "entry_data.h"
#include "files.h"
#include "legacy_support.h"
#include "testdata.h"
#include "unzip/unzipper.h"

namespace {

using namespace legacy_test;
using kalv::testing::EntryData;
using kalv::testing::file_exists;
using kalv::testing::read_entry_data;
using kalv::unzip::DecodeStatus;

Bytes file_bytes(const std::string& path) {
    const std::string content = kalv::testing::read_file(path);
    return Bytes(content.begin(), content.end());
}

// The legacy folder of the shared test data, or the test is skipped (the data is
// absent) or fails (KALV_TESTDATA is set and names a folder without it).
class LegacyData : public ::testing::Test {
protected:
    void SetUp() override {
        const kalv::testing::TestData data = kalv::testing::find_testdata("legacy");
        if (!data.dir) {
            if (data.demanded) FAIL() << "no folder \"legacy\" in the shared test data: " << data.explanation;
            GTEST_SKIP() << kalv::testing::testdata_absent(data);
        }
        dir_ = *data.dir;
    }

    std::string dir_;
};

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

class LegacyManifest : public LegacyData {
protected:
    void SetUp() override {
        LegacyData::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        rows_ = read_manifest(dir_);
        ASSERT_FALSE(rows_.empty());
    }

    const EntryData* find_entry(const std::string& archive, const std::string& name) {
        auto it = archives_.find(archive);
        if (it == archives_.end()) {
            auto entries = read_entry_data(dir_ + "/" + archive, "legacy");
            if (!entries) return nullptr;
            it = archives_.emplace(archive, std::move(*entries)).first;
        }
        for (const EntryData& e : it->second)
            if (e.name == name) return &e;
        return nullptr;
    }

    std::vector<ManifestRow> rows_;
    std::map<std::string, std::vector<EntryData>> archives_;
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
        kalv::testing::TempDir out;
        kalv::unzip::UnZipper zip{kalv::platform::native()};
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
            ASSERT_TRUE(file_exists(out.file(row->entry)));
            const Bytes bytes = file_bytes(out.file(row->entry));
            EXPECT_EQ(static_cast<int64_t>(bytes.size()), row->size);
            EXPECT_EQ(crc32(bytes), row->crc);
            EXPECT_EQ(sha256_hex(bytes), row->sha256);
            if (row->expected_file != "-") {
                ASSERT_TRUE(file_exists(dir_ + "/" + row->expected_file));
                EXPECT_TRUE(file_bytes(dir_ + "/" + row->expected_file) == bytes);
            }
        }
    }
    // The data must keep covering every legacy method, or this test proves less.
    for (int m = 1; m <= 6; ++m) EXPECT_TRUE(methods.count(m)) << "no entry with method " << m;
}

// Every entry's data as read_entry_data takes it (the component's directory and
// ZipKeys) decodes to the manifest's digest, so the decoder tests built on it below
// start from the right compressed bytes.
TEST_F(LegacyManifest, HelperReadsEveryEntry) {
    std::vector<uint8_t> window(32780, 0xA5);
    for (const ManifestRow& row : rows_) {
        SCOPED_TRACE(row.archive + " " + row.entry);
        const EntryData* e = find_entry(row.archive, row.entry);
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
        const EntryData* e = find_entry(row.archive, row.entry);
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
    ASSERT_TRUE(file_exists(dir_ + "/example-i.zip"));
    Bytes hostile = file_bytes(dir_ + "/example-i.zip");
    const size_t data = 30 + (hostile[26] | hostile[27] << 8) + (hostile[28] | hostile[29] << 8);
    hostile[data] = 0;  // the length tree: one byte of runs, at most 16 of 64 symbols

    kalv::testing::TempDir out;
    const std::string archive = out.file("hostile.zip");
    kalv::testing::write_file(archive, std::string(hostile.begin(), hostile.end()));
    kalv::unzip::UnZipper zip{kalv::platform::native()};
    zip.DoProcessMessages = false;
    zip.OverwriteMode = kalv::unzip::UZOverwriteMode::Always;
    zip.DoAll = true;
    zip.SetZipName(archive);
    zip.SetDestDir(out.path().string());
    int bad_crc_events = 0;
    zip.OnBadCRC = [&](kalv::unzip::UnZipper&, uint32_t, uint32_t, int) { ++bad_crc_events; };
    EXPECT_EQ(zip.UnZip(), 0);
    EXPECT_EQ(bad_crc_events, 1);
    EXPECT_FALSE(file_exists(out.file("I.BIN")));
}

// --- Hostile variants of real entries ------------------------------------------

struct RealEntry {
    EntryData entry;
    std::string label;
};

class HostileInput : public LegacyData {
protected:
    std::vector<RealEntry> real_entries() const;
};

std::vector<RealEntry> HostileInput::real_entries() const {
    std::vector<RealEntry> all;
    for (const char* name : {"PKZ110ES-subset.ZIP", "PKZ80B1-subset.ZIP", "PKZ80B4-subset.ZIP", "PKZ110EI-subset.ZIP",
                             "HWSHRINK.ZIP", "HWIMPODE.ZIP", "imploding-8Kdict-3trees.zip"}) {
        auto entries = read_entry_data(dir_ + "/" + name, "legacy");
        if (!entries) continue;
        for (EntryData& e : *entries) {
            if (e.method == 0 || e.uncompressed_size > 100000) continue;
            std::string label = std::string(name) + " " + e.name;
            all.push_back({std::move(e), std::move(label)});
        }
    }
    return all;
}

// Cut anywhere, a stream of reduce or implode ends as end of input or bad data,
// and one of shrink as bad data or short output; never a crash (run under ASan).
TEST_F(HostileInput, TruncatedRealStreamsFailCleanly) {
    const auto entries = real_entries();
    ASSERT_FALSE(entries.empty());
    std::vector<uint8_t> window(32780, 0xEE);
    for (const RealEntry& r : entries) {
        const EntryData& e = r.entry;
        for (size_t cut : {size_t{0}, size_t{1}, e.data.size() / 3, e.data.size() / 2, e.data.size() - 2}) {
            if (cut >= e.data.size()) continue;
            const Bytes part(e.data.begin(), e.data.begin() + cut);
            const Decoded d = decode(e.method, e.bit_flag, part, static_cast<int64_t>(part.size()), e.uncompressed_size, window);
            if (e.method == 1) {
                EXPECT_TRUE(d.status != DecodeStatus::Done || crc32(d.bytes) != e.crc) << r.label << " cut " << cut;
            } else {
                EXPECT_TRUE(d.status == DecodeStatus::EndOfInput || d.status == DecodeStatus::BadData)
                    << r.label << " cut " << cut;
            }
        }
    }
}

TEST_F(HostileInput, BitFlippedRealStreamsAreNoticed) {
    const auto entries = real_entries();
    ASSERT_FALSE(entries.empty());
    std::vector<uint8_t> window(32780, 0xEE);
    uint32_t seed = 12345;
    int trials = 0, noticed = 0;
    for (const RealEntry& r : entries) {
        const EntryData& e = r.entry;
        for (int trial = 0; trial < 24; ++trial) {
            Bytes hostile = e.data;
            seed = seed * 1103515245u + 12345u;
            const size_t at = (seed >> 8) % hostile.size();
            hostile[at] ^= static_cast<uint8_t>(1u << (seed >> 4 & 7));
            const Decoded d = decode(e.method, e.bit_flag, hostile, static_cast<int64_t>(hostile.size()),
                                     e.uncompressed_size, window);
            EXPECT_LE(static_cast<int64_t>(d.bytes.size()), e.uncompressed_size) << r.label;
            ++trials;
            if (d.status != DecodeStatus::Done || crc32(d.bytes) != e.crc) ++noticed;
        }
    }
    // A flip in the last byte's padding changes nothing; almost every other one
    // must end in bad data, end of input or a CRC mismatch.
    EXPECT_GE(noticed * 100, trials * 95) << noticed << " of " << trials;
}

TEST(LegacySupport, Sha256KnownAnswers) {
    const std::string abc = "abc";
    EXPECT_EQ(sha256_hex({reinterpret_cast<const uint8_t*>(abc.data()), abc.size()}),
              "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");  // FIPS 180-2 B.1
    EXPECT_EQ(sha256_hex({}), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
}

}  // namespace
