// The "?" forms of ZipName and DestDir on real Win32 (under Wine): the file-open
// dialog and the folder browser open on this thread, and a driver thread plays the
// user: it reads what the dialog shows (caption, file types, listed files, the
// new-folder button), then cancels, accepts, or picks a file or folder.
#include "unzip/unzipper.h"

#include <windows.h>

#include <commctrl.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include "core/errors.h"
#include "files.h"
#include "zip_craft.h"

namespace kalv::unzip {
namespace {

using kalv::testing::TempDir;

// Control identifiers of the common file dialog's template (dlgs.h).
constexpr int kFileTypeList = 0x470;  // cmb1
constexpr int kFileNameEdit = 0x480;  // edt1
constexpr int kFileNameCombo = 0x47c; // cmb13

enum class Act { Cancel, Accept, Pick };

struct Seen {
    bool found = false;
    std::string caption;
    std::vector<std::string> file_types;  // the labels of the file-type list, in order
    std::vector<std::string> listed;      // the names in the file list
    bool new_folder_button = false;
};

struct Driver {
    explicit Driver(Act a, std::string p = {}) : act(a), pick(std::move(p)) {}
    Act act;
    std::string pick;  // the file name typed, or the folder selected
    Seen seen;
};

std::string text_of(HWND window) {
    char text[512] = {};
    GetWindowTextA(window, text, sizeof text);
    return text;
}

std::string class_of(HWND window) {
    char name[64] = {};
    GetClassNameA(window, name, sizeof name);
    return name;
}

BOOL CALLBACK find_our_dialog(HWND window, LPARAM found) {
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    if (process == GetCurrentProcessId() && class_of(window) == "#32770" && IsWindowVisible(window)) {
        *reinterpret_cast<HWND*>(found) = window;
        return FALSE;
    }
    return TRUE;
}

struct ChildSearch {
    std::string class_name;
    HWND found = nullptr;
};

BOOL CALLBACK find_child_of_class(HWND child, LPARAM search) {
    auto* s = reinterpret_cast<ChildSearch*>(search);
    if (class_of(child) != s->class_name) return TRUE;
    s->found = child;
    return FALSE;
}

HWND child_of_class(HWND parent, const char* name) {
    ChildSearch search{name};
    EnumChildWindows(parent, find_child_of_class, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

BOOL CALLBACK note_new_folder_button(HWND child, LPARAM seen) {
    if (class_of(child) == "Button" && text_of(child).find("New Folder") != std::string::npos)
        reinterpret_cast<Seen*>(seen)->new_folder_button = true;
    return TRUE;
}

std::vector<std::string> list_view_names(HWND list) {
    std::vector<std::string> names;
    const int count = int(SendMessageA(list, LVM_GETITEMCOUNT, 0, 0));
    for (int i = 0; i < count; ++i) {
        char text[MAX_PATH] = {};
        LVITEMA item{};
        item.iSubItem = 0;
        item.pszText = text;
        item.cchTextMax = sizeof text;
        SendMessageA(list, LVM_GETITEMTEXTA, WPARAM(i), LPARAM(&item));
        names.push_back(text);
    }
    return names;
}

// Reads the dialog once its content is there, then answers it.
DWORD WINAPI play_the_user(void* parameter) {
    auto& driver = *static_cast<Driver*>(parameter);
    HWND dialog = nullptr;
    for (int tries = 0; tries < 400 && !dialog; ++tries) {
        Sleep(50);
        EnumWindows(find_our_dialog, reinterpret_cast<LPARAM>(&dialog));
    }
    if (!dialog) return 1;
    driver.seen.found = true;
    driver.seen.caption = text_of(dialog);
    if (HWND types = GetDlgItem(dialog, kFileTypeList)) {
        const int count = int(SendMessageA(types, CB_GETCOUNT, 0, 0));
        for (int i = 0; i < count; ++i) {
            char label[256] = {};
            SendMessageA(types, CB_GETLBTEXT, WPARAM(i), LPARAM(label));
            driver.seen.file_types.push_back(label);
        }
        // The shell fills the file list after the dialog shows.
        for (int tries = 0; tries < 100; ++tries) {
            HWND list = child_of_class(dialog, "SysListView32");
            if (list && SendMessageA(list, LVM_GETITEMCOUNT, 0, 0) > 0) {
                driver.seen.listed = list_view_names(list);
                break;
            }
            Sleep(50);
        }
    } else {
        // The folder browser selects its start folder once it has opened.
        for (int tries = 0; tries < 100; ++tries) {
            HWND tree = child_of_class(dialog, "SysTreeView32");
            if (tree && SendMessageA(tree, TVM_GETNEXTITEM, TVGN_CARET, 0)) break;
            Sleep(50);
        }
        Sleep(200);
    }
    EnumChildWindows(dialog, note_new_folder_button, reinterpret_cast<LPARAM>(&driver.seen));

    int button = IDOK;
    if (driver.act == Act::Cancel) button = IDCANCEL;
    if (driver.act == Act::Pick) {
        if (HWND edit = GetDlgItem(dialog, kFileNameEdit) ? GetDlgItem(dialog, kFileNameEdit)
                                                          : GetDlgItem(dialog, kFileNameCombo)) {
            SendMessageA(edit, WM_SETTEXT, 0, LPARAM(driver.pick.c_str()));
        } else {
            SendMessageA(dialog, BFFM_SETSELECTIONA, TRUE, LPARAM(driver.pick.c_str()));
            Sleep(200);
        }
    }
    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED), LPARAM(GetDlgItem(dialog, button)));
    return 0;
}

// Runs `ask` on this thread while the driver answers the dialog it opens; returns
// the failure text ("" when none).
std::string with_user(Driver& driver, const std::function<void()>& ask) {
    HANDLE thread = CreateThread(nullptr, 0, play_the_user, &driver, 0, nullptr);
    std::string failure;
    try {
        ask();
    } catch (const UserCanceled& e) {
        failure = e.what();
    }
    WaitForSingleObject(thread, 30000);
    CloseHandle(thread);
    return failure;
}

bool names_one_starting(const std::vector<std::string>& names, const std::string& stem) {
    for (const std::string& name : names)
        if (lstrcmpiA(name.substr(0, stem.size()).c_str(), stem.c_str()) == 0) return true;
    return false;
}

const std::vector<std::string> kZipFileTypes = {"Zip Files (*.ZIP)", "SFX Files (*.EXE)", "Jar Files (*.JAR)",
                                                "All Files (*.*)"};

class ZipNameDialog : public ::testing::Test {
protected:
    void SetUp() override {
        testing::write_file(dir.file("pack.zip"), testing::craft_zip({{"readme.txt", "hello"}}).bytes);
        testing::write_file(dir.file("notes.txt"), "not an archive");
    }
    TempDir dir;
    UnZipper zipper{platform::native()};
};

TEST_F(ZipNameDialog, OpensTitledWithTheZipFileTypesInTheNamesFolder) {
    Driver driver(Act::Cancel);
    const std::string failure = with_user(driver, [&] { zipper.SetZipName(dir.file("?")); });
    ASSERT_TRUE(driver.seen.found) << "no dialog opened";
    EXPECT_EQ(driver.seen.caption, "Open a Zip File");
    EXPECT_EQ(driver.seen.file_types, kZipFileTypes);
    EXPECT_TRUE(names_one_starting(driver.seen.listed, "pack")) << "starts in the name's folder";
    EXPECT_FALSE(names_one_starting(driver.seen.listed, "notes")) << "the first file type shows *.zip only";
    EXPECT_EQ(failure, "User canceled setting zip file name.");
    EXPECT_EQ(zipper.ZipName(), "") << "a cancel keeps the old name";
}

TEST_F(ZipNameDialog, AFolderThatIsNotThereStartsAtTheDriveRoot) {
    Driver driver(Act::Cancel);
    with_user(driver, [&] { zipper.SetZipName(dir.file("missing\\?")); });
    ASSERT_TRUE(driver.seen.found);
    EXPECT_TRUE(names_one_starting(driver.seen.listed, "windows")) << "C:\\ holds the windows folder";
    EXPECT_FALSE(names_one_starting(driver.seen.listed, "pack"));
}

TEST_F(ZipNameDialog, ThePickedArchiveIsTheOneRead) {
    Driver driver(Act::Pick, dir.file("pack.zip"));
    const std::string failure = with_user(driver, [&] { zipper.SetZipName(dir.file("?")); });
    EXPECT_EQ(failure, "");
    EXPECT_EQ(zipper.ZipName(), dir.file("pack.zip"));
    zipper.OpenArchive();
    ASSERT_EQ(zipper.EntryCount(), 1);
    EXPECT_EQ(zipper.EntryName(0), "readme.txt");
}

// The folder browser: each case sets DestDir to "?" from a starting DestDir.
struct FolderCase {
    const char* why;
    const char* start;  // DestDir before the "?" ("" = a folder that is not there)
    Act act;
    const char* pick;   // the folder picked (Act::Pick)
    const char* expected_dest;
    const char* expected_failure;
};

const FolderCase kFolderCases[] = {
    {"a cancel fails and keeps DestDir", "a", Act::Cancel, "", "a", "User canceled Set Desination Directory"},
    {"the browser opens at DestDir", "a", Act::Accept, "", "a", ""},
    {"without DestDir at the current directory", "", Act::Accept, "", "b", ""},
    {"the picked folder becomes DestDir", "a", Act::Pick, "c", "c", ""},
};

TEST(DestDirDialog, BrowsesForAFolderThatMayBeMadeNew) {
    for (const FolderCase& c : kFolderCases) {
        SCOPED_TRACE(c.why);
        TempDir dir;
        for (const char* name : {"a", "b", "c"}) CreateDirectoryA(dir.file(name).c_str(), nullptr);
        char previous[MAX_PATH] = {};
        GetCurrentDirectoryA(sizeof previous, previous);
        SetCurrentDirectoryA(dir.file("b").c_str());
        UnZipper zipper{platform::native()};
        zipper.SetDestDir(*c.start ? dir.file(c.start) : dir.file("gone"));
        Driver driver(c.act, dir.file(c.pick));
        const std::string failure = with_user(driver, [&] { zipper.SetDestDir("?"); });
        SetCurrentDirectoryA(previous);
        ASSERT_TRUE(driver.seen.found) << "no dialog opened";
        EXPECT_EQ(driver.seen.caption, "Browse for Folder");
        EXPECT_TRUE(driver.seen.new_folder_button);
        EXPECT_EQ(failure, c.expected_failure);
        const std::string expected = *c.start || c.act != Act::Cancel ? dir.file(c.expected_dest) : dir.file("gone");
        EXPECT_EQ(zipper.DestDir(), expected);
    }
}

}  // namespace
}  // namespace kalv::unzip
