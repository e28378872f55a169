// A small Win32 UI watcher for the end-to-end tests under Wine: it records the caption
// and text of every message box that appears (a top-level dialog of class #32770) as
// one line "caption|text" in a log, then presses OK. Carriage returns and line breaks
// of the text are written as \r and \n, so every box stays one line.
//
//   box_watcher.exe LOG STOPFILE [SECONDS]
//
// It ends when STOPFILE exists (after one last look) or after SECONDS (default 120).
#include <windows.h>

#include <cstdio>
#include <set>
#include <string>
#include <vector>

namespace {

struct Found {
    std::vector<HWND> boxes;
};

BOOL CALLBACK collect_box(HWND window, LPARAM state) {
    char class_name[64] = {};
    GetClassNameA(window, class_name, sizeof class_name);
    if (std::string(class_name) == "#32770" && IsWindowVisible(window))
        reinterpret_cast<Found*>(state)->boxes.push_back(window);
    return TRUE;
}

BOOL CALLBACK collect_static_text(HWND child, LPARAM state) {
    char class_name[64] = {};
    GetClassNameA(child, class_name, sizeof class_name);
    if (lstrcmpiA(class_name, "Static") != 0) return TRUE;
    const int length = GetWindowTextLengthA(child);
    if (length <= 0) return TRUE;
    std::string text(size_t(length) + 1, '\0');
    text.resize(size_t(GetWindowTextA(child, text.data(), length + 1)));
    auto& all = *reinterpret_cast<std::string*>(state);
    if (!all.empty()) all += "\\n";
    all += text;
    return TRUE;
}

std::string escaped(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '\r')
            out += "\\r";
        else if (c == '\n')
            out += "\\n";
        else
            out += c;
    }
    return out;
}

bool exists(const char* path) { return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES; }

int answer_boxes(FILE* log, std::set<HWND>& answered) {
    Found found;
    EnumWindows(collect_box, reinterpret_cast<LPARAM>(&found));
    int count = 0;
    for (HWND box : found.boxes) {
        if (answered.count(box)) continue;
        char caption[512] = {};
        GetWindowTextA(box, caption, sizeof caption);
        std::string text;
        EnumChildWindows(box, collect_static_text, reinterpret_cast<LPARAM>(&text));
        std::fprintf(log, "%s|%s\n", caption, escaped(text).c_str());
        std::fflush(log);
        answered.insert(box);
        PostMessageA(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), LPARAM(GetDlgItem(box, IDOK)));
        ++count;
    }
    // A handle of a closed box may be given to a new one.
    for (auto it = answered.begin(); it != answered.end();) it = IsWindow(*it) ? std::next(it) : answered.erase(it);
    return count;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: box_watcher LOG STOPFILE [SECONDS]\n");
        return 64;
    }
    FILE* log = std::fopen(argv[1], "ab");
    if (!log) return 1;
    const DWORD limit_ms = DWORD(argc > 3 ? std::atoi(argv[3]) : 120) * 1000;
    const DWORD start = GetTickCount();
    std::set<HWND> answered;
    while (GetTickCount() - start < limit_ms) {
        if (exists(argv[2])) {
            answer_boxes(log, answered);
            break;
        }
        answer_boxes(log, answered);
        Sleep(50);
    }
    std::fclose(log);
    return 0;
}
