// A small Win32 UI watcher for the end-to-end tests under Wine: it records the caption
// and text of every message box that appears (a top-level dialog of class #32770) as
// one line "caption|text" in a log, then presses its first button. Carriage returns
// and line breaks of the text are written as \r and \n, so every box stays one line.
// A box that is not an error box (the error icon and an OK button alone) gets its
// icon and buttons after the text, "caption|text [no icon, OK]", so that a box shown
// without its error icon or with other buttons differs from what the tests expect.
//
//   box_watcher.exe LOG STOPFILE [SECONDS [READYFILE]]
//
// It creates READYFILE once it watches, so that a test starts what shows boxes only
// then, and ends when STOPFILE exists (after one last look) or after SECONDS (default
// 120).
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

constexpr DWORD kIconPaintLimitMs = 30000;

// ---- the box's icon and buttons ------------------------------------------------

BOOL CALLBACK find_icon_static(HWND child, LPARAM found) {
    char class_name[64] = {};
    GetClassNameA(child, class_name, sizeof class_name);
    const LONG style = GetWindowLongA(child, GWL_STYLE);
    if (lstrcmpiA(class_name, "Static") == 0 && (style & SS_TYPEMASK) == SS_ICON && IsWindowVisible(child)) {
        *reinterpret_cast<HWND*>(found) = child;
        return FALSE;
    }
    return TRUE;
}

// The pixels of a w x h memory picture, after `draw` has painted it.
template <class Draw>
std::vector<COLORREF> picture(int w, int h, Draw draw) {
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, w, h);
    HGDIOBJ old = SelectObject(memory, bitmap);
    draw(memory, screen);
    std::vector<COLORREF> pixels;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) pixels.push_back(GetPixel(memory, x, y));
    SelectObject(memory, old);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return pixels;
}

// The message box icons are the system's own: the one shown is the system icon that,
// drawn at the control's size over the control's background, gives its pixels.
std::string icon_of(HWND box) {
    HWND control = nullptr;
    EnumChildWindows(box, find_icon_static, reinterpret_cast<LPARAM>(&control));
    // Wine keeps the icon control of a box without an icon, holding none.
    if (!control || !SendMessageA(control, STM_GETICON, 0, 0)) return "no icon";
    RECT r{};
    GetWindowRect(control, &r);
    // A box with a long text outgrows the screen and is centred off its edges: its
    // icon is read from the screen, so the box is moved to the screen's corner first.
    // (It repaints there in its own time: the caller reads the icon until it shows.)
    if (r.left < 0 || r.top < 0 || r.right > GetSystemMetrics(SM_CXSCREEN) ||
        r.bottom > GetSystemMetrics(SM_CYSCREEN)) {
        SetWindowPos(box, HWND_TOP, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOACTIVATE);
        GetWindowRect(control, &r);
    }
    const int w = r.right - r.left, h = r.bottom - r.top;
    if (w <= 0 || h <= 0) return "no icon";
    const std::vector<COLORREF> shown =
        picture(w, h, [&](HDC memory, HDC screen) { BitBlt(memory, 0, 0, w, h, screen, r.left, r.top, SRCCOPY); });
    const struct {
        LPCSTR id;
        const char* name;
    } kIcons[] = {{IDI_ERROR, "error icon"},
                  {IDI_WARNING, "warning icon"},
                  {IDI_INFORMATION, "information icon"},
                  {IDI_QUESTION, "question icon"}};
    std::string best = "unknown icon";
    size_t best_equal = shown.size() * 9 / 10;  // no worse than nine pixels in ten
    for (const auto& icon : kIcons) {
        const std::vector<COLORREF> drawn = picture(w, h, [&](HDC memory, HDC) {
            HBRUSH background = CreateSolidBrush(shown.front());
            RECT all{0, 0, w, h};
            FillRect(memory, &all, background);
            DeleteObject(background);
            DrawIconEx(memory, 0, 0, LoadIconA(nullptr, icon.id), w, h, 0, nullptr, DI_NORMAL);
        });
        size_t equal = 0;
        for (size_t i = 0; i < shown.size(); ++i) equal += shown[i] == drawn[i];
        if (equal > best_equal) {
            best_equal = equal;
            best = icon.name;
        }
    }
    return best;
}

// The buttons shown, in the order Windows lays them out.
std::vector<std::pair<int, std::string>> buttons_of(HWND box) {
    const std::pair<int, const char*> kButtons[] = {{IDOK, "OK"},       {IDYES, "Yes"},       {IDNO, "No"},
                                                    {IDABORT, "Abort"}, {IDRETRY, "Retry"},   {IDIGNORE, "Ignore"},
                                                    {IDCANCEL, "Cancel"}};
    std::vector<std::pair<int, std::string>> shown;
    for (const auto& [id, name] : kButtons) {
        HWND button = GetDlgItem(box, id);
        if (button && IsWindowVisible(button)) shown.emplace_back(id, name);
    }
    return shown;
}

// "" for an error box; otherwise " [icon, buttons]".
std::string style_note(const std::string& icon, const std::vector<std::pair<int, std::string>>& buttons) {
    std::string names;
    for (const auto& button : buttons) names += (names.empty() ? "" : " ") + button.second;
    if (icon == "error icon" && names == "OK") return "";
    return " [" + icon + ", " + (names.empty() ? "no buttons" : names) + "]";
}

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
        // The box paints itself once it shows, and its icon is read from the screen:
        // until the icon is one of the system's, it has not been painted yet. How long
        // that takes depends on the machine's load; the limit only ends the wait for a
        // box whose icon is none of them.
        std::string icon = icon_of(box);
        for (DWORD waited = 0; icon == "unknown icon" && waited < kIconPaintLimitMs; waited += 100) {
            Sleep(100);
            icon = icon_of(box);
        }
        const auto buttons = buttons_of(box);
        std::fprintf(log, "%s|%s%s\n", caption, escaped(text).c_str(), style_note(icon, buttons).c_str());
        std::fflush(log);
        answered.insert(box);
        const int first = buttons.empty() ? IDOK : buttons.front().first;
        PostMessageA(box, WM_COMMAND, MAKEWPARAM(first, BN_CLICKED), LPARAM(GetDlgItem(box, first)));
        ++count;
    }
    // A handle of a closed box may be given to a new one.
    for (auto it = answered.begin(); it != answered.end();) it = IsWindow(*it) ? std::next(it) : answered.erase(it);
    return count;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: box_watcher LOG STOPFILE [SECONDS [READYFILE]]\n");
        return 64;
    }
    FILE* log = std::fopen(argv[1], "ab");
    if (!log) return 1;
    const DWORD limit_ms = DWORD(argc > 3 ? std::atoi(argv[3]) : 120) * 1000;
    const DWORD start = GetTickCount();
    std::set<HWND> answered;
    if (argc > 4) {
        const HANDLE ready = CreateFileA(argv[4], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (ready != INVALID_HANDLE_VALUE) CloseHandle(ready);
    }
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
