// The extraction core beneath the component: what the facade would show or ask goes
// to the observer, and the core itself shows nothing (no box, no cursor, no message
// pumping) on a platform that would record it. An entry without a decoder fails here
// even when stored with CRC 0, unless the options ask for the component's rule.
#include <gtest/gtest.h>

#include "files.h"
#include "recording_platform.h"
#include "unzip/extract.h"
#include "zip_craft.h"

namespace kalv::unzip {
namespace {

using namespace kalv::testing;

struct Told final : Observer {
    std::vector<std::string> lines;
    void keep_alive() override { lines.push_back("keep alive"); }
    void scanning(bool begins) override { lines.push_back(begins ? "scan" : "scanned"); }
    void problem(int index, ZipProblem what) override {
        lines.push_back(std::string("problem ") + zip_problem_text(what) + " " + std::to_string(index));
    }
    bool overwrite(int index, std::string&) override {
        lines.push_back("overwrite? " + std::to_string(index));
        return false;
    }
    void skipped(int index, SkipReason reason, const std::string&, const EntryCheck&) override {
        lines.push_back("skipped " + std::to_string(index) + ": " + skip_reason_text(reason));
    }
    void failed(int index, const EntryCheck& check, uint32_t) override {
        lines.push_back("failed " + std::to_string(index) + (check.method_known ? "" : ", no decoder"));
    }
    void extracted(int index, const std::string&, const EntryCheck&) override {
        lines.push_back("extracted " + std::to_string(index));
    }
};

TEST(ExtractCore, TellsItsObserverAndShowsNothing) {
    TempDir dir;
    CraftEntry empty_unknown{"e9.bin", ""}, there{"a.txt", "new"}, deflated{"d.bin", std::string(100, 'd')};
    empty_unknown.method = 9;
    empty_unknown.raw = std::string("whatever");
    deflated.method = 8;
    deflated.raw = std::string("\x4b\x49\xa1\x3d\x00\x00", 6);  // 100 'd' (zlib level 6, raw)
    CraftOptions broken;
    broken.central_start = 3;  // no directory there: the local headers are scanned
    write_file(dir.file("t.zip"), craft_zip({empty_unknown, there, deflated}, broken).bytes);
    std::filesystem::create_directories(dir.file("out"));
    write_file(native(dir.file("out") + "/a.txt"), "old");

    RecordedUiPlatform ui;
    Told told;
    Archive archive(ui, dir.file("t.zip"), {}, told);
    ExtractOptions options;
    options.destination = dir.file("out");
    options.all = true;
    EXPECT_EQ(extract(ui, archive, options, told), 1);
    EXPECT_EQ(told.lines, (std::vector<std::string>{"scan", "scanned", "problem Unknown Compression Method 0",
                                                      "failed 0, no decoder", "overwrite? 1",
                                                      "skipped 1: exists, not overwritten", "keep alive",
                                                      "extracted 2"}));
    EXPECT_TRUE(ui.boxes.empty());
    EXPECT_EQ(ui.cursor_changes, 0);
    EXPECT_EQ(ui.pumps, 0);
    EXPECT_EQ(read_file(native(dir.file("out") + "/a.txt")), "old");

    // The component's rule: the CRC of nothing (0) judges the empty output.
    options.judge_undecoded_by_crc = true;
    options.patterns = {"e9.bin"};
    options.all = false;
    told.lines.clear();
    EXPECT_EQ(extract(ui, archive, options, told), 1);
    EXPECT_EQ(told.lines, (std::vector<std::string>{"problem Unknown Compression Method 0", "extracted 0"}));
}

}  // namespace
}  // namespace kalv::unzip
