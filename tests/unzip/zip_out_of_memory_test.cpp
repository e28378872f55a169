// The driver's report of a decoder that ran out of memory. This program replaces
// the nothrow operator new[], through which the Deflate decoder takes its working
// memory, so that it fails on demand: the component then shows the box it always
// showed, or hands the problem to its OnZipProblem handler instead.
#include <gtest/gtest.h>

#include <new>

#include "files.h"
#include "recording_platform.h"
#include "unzip/unzipper.h"
#include "zip_craft.h"

namespace {
bool g_fail_nothrow_arrays = false;
}  // namespace

void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    if (g_fail_nothrow_arrays) return nullptr;
    try {
        return ::operator new[](size);
    } catch (...) {
        return nullptr;
    }
}

namespace kalv::unzip {
namespace {

using namespace kalv::testing;

TEST(ZipOutOfMemory, TheDriverReportsWhatTheDecoderOnlyReturns) {
    // RFC 1951 3.2.4: one final stored block holding "abc".
    CraftEntry deflated{"abc.txt", "abc"};
    deflated.method = 8;
    deflated.raw = std::string("\x01\x03\x00\xFC\xFF" "abc", 8);
    struct Case {
        const char* why;
        bool handler;
        std::vector<std::string> boxes;     // "caption|text"
        std::vector<ZipProblem> problems;
    };
    const Case cases[] = {
        {"no handler: the launcher's box", false, {"Error|*** inflate out of memory ***"}, {}},
        {"a handler instead of the box", true, {}, {ZipProblem::OutOfMemory}},
    };
    for (const Case& c : cases) {
        RecordedUiPlatform fake;
        TempDir dir;
        write_file(dir.file("t.zip"), craft_zip({deflated}).bytes);
        UnZipper zip{fake};
        zip.OverwriteMode = UZOverwriteMode::Always;
        zip.SetDestDir(dir.file("out"));
        zip.SetZipName(dir.file("t.zip"));
        zip.DoAll = true;
        std::vector<ZipProblem> problems;
        if (c.handler) zip.OnZipProblem = [&](UnZipper&, ZipProblem p, int) { problems.push_back(p); };

        g_fail_nothrow_arrays = true;
        const int extracted = zip.UnZip();
        g_fail_nothrow_arrays = false;

        EXPECT_EQ(extracted, 0) << c.why;
        std::vector<std::string> boxes;
        for (const auto& b : fake.boxes) boxes.push_back(b.caption + "|" + b.text);
        EXPECT_EQ(boxes, c.boxes) << c.why;
        EXPECT_EQ(problems, c.problems) << c.why;
        EXPECT_FALSE(file_exists(dir.file("out/abc.txt"))) << c.why;
    }
}

}  // namespace
}  // namespace kalv::unzip
