// Dialogs group of the Win32 backend: the common file-open dialog and the shell's
// folder browser, each modal to the thread's active window and answered by the user.
#include <windows.h>

#include <commdlg.h>
#include <objbase.h>
#include <shlobj.h>

#include "platform/native_platform.h"

namespace kalv::platform {

namespace {

// OPENFILENAME wants its filter as label and pattern strings, each ended by a zero
// byte, and the whole list ended by a second one; callers write it with "|" between.
std::string zero_separated_filter(const std::string& filter) {
    std::string pairs = filter;
    for (char& c : pairs)
        if (c == '|') c = '\0';
    pairs.push_back('\0');
    pairs.push_back('\0');
    return pairs;
}

// The browser selects its start folder once its window exists (BFFM_INITIALIZED);
// a start that is not a folder leaves the browser at its root.
int CALLBACK select_start_folder(HWND browser, UINT message, LPARAM, LPARAM start) {
    if (message == BFFM_INITIALIZED && start) SendMessageA(browser, BFFM_SETSELECTIONA, TRUE, start);
    return 0;
}

// The browser's new-folder button needs OLE on the calling thread; a thread that
// already had it keeps its own initialisation.
class OleOnThisThread {
public:
    OleOnThisThread() : initialised_(SUCCEEDED(OleInitialize(nullptr))) {}
    ~OleOnThisThread() {
        if (initialised_) OleUninitialize();
    }
    OleOnThisThread(const OleOnThisThread&) = delete;
    OleOnThisThread& operator=(const OleOnThisThread&) = delete;

private:
    bool initialised_;
};

}  // namespace

std::optional<std::string> NativePlatform::choose_open_file(const std::string& title, const std::string& filter,
                                                            const std::string& start_dir) {
    const std::string filters = zero_separated_filter(filter);
    char chosen[MAX_PATH * 4] = {};
    OPENFILENAMEA dialog{};
    dialog.lStructSize = sizeof dialog;
    dialog.hwndOwner = GetActiveWindow();
    dialog.lpstrFilter = filters.c_str();
    dialog.nFilterIndex = 1;
    dialog.lpstrFile = chosen;
    dialog.nMaxFile = sizeof chosen;
    dialog.lpstrInitialDir = start_dir.c_str();
    dialog.lpstrTitle = title.c_str();
    // The process's current directory is the launcher's business, not the dialog's.
    dialog.Flags = OFN_EXPLORER | OFN_HIDEREADONLY | OFN_ENABLESIZING | OFN_NOCHANGEDIR;
    if (!GetOpenFileNameA(&dialog)) return std::nullopt;  // cancelled (or the dialog failed)
    return std::string(chosen);
}

std::optional<std::string> NativePlatform::choose_folder(const std::string& start_dir) {
    OleOnThisThread ole;
    BROWSEINFOA browse{};
    browse.hwndOwner = GetActiveWindow();
    browse.ulFlags = BIF_RETURNONLYFSDIRS | BIF_NEWDIALOGSTYLE;
    browse.lpfn = select_start_folder;
    browse.lParam = reinterpret_cast<LPARAM>(start_dir.c_str());
    LPITEMIDLIST folder = SHBrowseForFolderA(&browse);
    if (!folder) return std::nullopt;
    char path[MAX_PATH] = {};
    const bool named = SHGetPathFromIDListA(folder, path);
    CoTaskMemFree(folder);
    // A choice outside the file system (a printer, the network root) names no folder.
    if (!named) return std::nullopt;
    return std::string(path);
}

}  // namespace kalv::platform
