// Hostile stored names against the real file system (on Windows the Win32 build
// under Wine): where each entry lands below DestDir, and that no name leaves it, opens
// a device or ends the pass for the entries behind it.
#include <gtest/gtest.h>

#include <filesystem>

#include "files.h"
#include "recording_platform.h"
#include "unzip/output_path.h"
#include "unzip/unzipper.h"
#include "zip_craft.h"

namespace kalv::unzip {
namespace {

using namespace kalv::testing;

struct NameRow {
    const char* why;
    std::string stored;
    std::string on_windows, on_posix;  // below DestDir, "/" between folders
    uint16_t flags = 0x800;            // APPNOTE 4.4.4 bit 11: the name is UTF-8
};

const NameRow kRows[] = {
    // Best-fit mapping to the ANSI page would make separators and dots of these
    // after the checks; U+2024 needs a real "/" to become "..\".
    {"U+FF0F", "..\xEF\xBC\x8F..\xEF\xBC\x8F" "solidus.txt", ".._.._solidus.txt",
     "..\xEF\xBC\x8F..\xEF\xBC\x8F" "solidus.txt"},
    {"U+2215", "..\xE2\x88\x95..\xE2\x88\x95" "division.txt", ".._.._division.txt",
     "..\xE2\x88\x95..\xE2\x88\x95" "division.txt"},
    {"U+FF3C", "..\xEF\xBC\xBC" "reverse.txt", ".._reverse.txt", "..\xEF\xBC\xBC" "reverse.txt"},
    {"U+FF0E", "\xEF\xBC\x8E\xEF\xBC\x8E\xEF\xBC\x8F" "dots.txt", "___dots.txt",
     "\xEF\xBC\x8E\xEF\xBC\x8E\xEF\xBC\x8F" "dots.txt"},
    {"U+2024", "\xE2\x80\xA4\xE2\x80\xA4/leader.txt", "__/leader.txt", "\xE2\x80\xA4\xE2\x80\xA4/leader.txt"},
    {"OEM line drawing, once best-fit to |", "box\xB3" "x.txt", "box_x.txt", "box\xE2\x94\x82x.txt", 0},
    // DOS devices, in every folder.
    {"a port", "COM1", "_COM1", "COM1"},
    {"the console", "CON", "_CON", "CON"},
    {"an extension", "AUX.log", "_AUX.log", "AUX.log"},
    {"nul", "NUL.txt", "_NUL.txt", "NUL.txt"},
    {"trailing dot and blanks, which Windows drops", "prn.  ", "_prn", "prn.  "},
    {"a blank before the dot", "con .txt", "_con .txt", "con .txt"},
    {"a folder", "lpt1/in.txt", "_lpt1/in.txt", "lpt1/in.txt"},
    {"no device", "COM10", "COM10", "COM10"},
    // A control character, which no Windows name holds.
    {"LF", "lf\n=== forged", "lf_=== forged", "lf\n=== forged"},
};

TEST(StoredNames, EveryHostileNameLandsBelowDestDirAsAFile) {
    RecordedUiPlatform fake;
    TempDir dir;
    std::vector<CraftEntry> entries;
    for (const NameRow& row : kRows) {
        entries.emplace_back(row.stored, row.why);
        entries.back().flags = row.flags;
    }
    entries.emplace_back("last.txt", "written");
    write_file(dir.file("t.zip"), craft_zip(entries).bytes);
    UnZipper zip{fake};
    zip.OverwriteMode = UZOverwriteMode::Always;
    zip.DoAll = true;
    zip.RecreateDirs = true;
    zip.SetZipName(dir.file("t.zip"));
    zip.SetDestDir(dir.file("out"));

    EXPECT_EQ(zip.UnZip(), int(std::size(kRows)) + 1);
    for (const NameRow& row : kRows) {
#ifdef _WIN32
        const std::string& expected = row.on_windows;
#else
        const std::string& expected = row.on_posix;
#endif
        EXPECT_EQ(read_file(native(dir.file("out") + "/" + expected)), row.why) << row.why;
    }
    EXPECT_EQ(read_file(native(dir.file("out/last.txt"))), "written");
    for (const auto& item : std::filesystem::directory_iterator(dir.path()))
        EXPECT_TRUE(item.path().filename() == "out" || item.path().filename() == "t.zip") << item.path();
}

// The rule itself, on every system (only Windows applies it).
TEST(StoredNames, DosDeviceNames) {
    for (const char* device : {"COM1", "com\xB9", "lpt0", "Nul", "CONIN$", "conout$.txt", "con .txt", "aux.", "prn:x"})
        EXPECT_TRUE(names_a_dos_device(device)) << device;
    for (const char* name : {"COM10", "COM", "lptx", " con", "_CON", "console", "nul_.txt", ""})
        EXPECT_FALSE(names_a_dos_device(name)) << name;
}

}  // namespace
}  // namespace kalv::unzip
