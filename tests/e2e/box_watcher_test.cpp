// The box watcher reads what a message box shows: the platform's boxes of each
// icon and set of buttons, shown for real under Wine, come back in the watcher's log
// as the end-to-end tests read them. A box without its error icon differs there.
#include "platform/platform.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

namespace {

using kalv::platform::BoxAnswer;
using kalv::platform::BoxButtons;
using kalv::platform::BoxIcon;

const std::string kText = "Error in file processing : \rC:\\Shop\\Kalvo3pack";
const std::string kLogged = "Kalvo...|Error in file processing : \\rC:\\Shop\\Kalvo3pack";
// A path too long for the screen: the box outgrows it.
const std::string kLongPath(3000, 'x');

const struct {
    BoxButtons buttons;
    BoxIcon icon;
    std::string text;
    std::string logged;  // the watcher's line
    BoxAnswer answer;    // the first button, as the watcher presses it
} kBoxes[] = {
    {BoxButtons::Ok, BoxIcon::Error, kText, kLogged, BoxAnswer::Ok},
    {BoxButtons::Ok, BoxIcon::None, kText, kLogged + " [no icon, OK]", BoxAnswer::Ok},
    {BoxButtons::Ok, BoxIcon::Warning, kText, kLogged + " [warning icon, OK]", BoxAnswer::Ok},
    {BoxButtons::OkCancel, BoxIcon::Error, kText, kLogged + " [error icon, OK Cancel]", BoxAnswer::Ok},
    {BoxButtons::YesNo, BoxIcon::Question, kText, kLogged + " [question icon, Yes No]", BoxAnswer::Yes},
    {BoxButtons::Ok, BoxIcon::Information, kText, kLogged + " [information icon, OK]", BoxAnswer::Ok},
    {BoxButtons::Ok, BoxIcon::Error, "File not found :\r" + kLongPath, "CopyFile|File not found :\\r" + kLongPath,
     BoxAnswer::Ok},
    {BoxButtons::Ok, BoxIcon::None, "File not found :\r" + kLongPath,
     "CopyFile|File not found :\\r" + kLongPath + " [no icon, OK]", BoxAnswer::Ok},
};

std::string temp_file(const char* name) {
    char folder[MAX_PATH] = {};
    GetTempPathA(sizeof folder, folder);
    return std::string(folder) + name + std::to_string(GetCurrentProcessId());
}

TEST(BoxWatcher, LogsEachBoxWithItsIconAndButtonsUnlessItIsAnErrorBox) {
    const std::string log = temp_file("kalv-boxes-"), stop = temp_file("kalv-boxes-stop-");
    DeleteFileA(log.c_str());
    DeleteFileA(stop.c_str());
    std::string command = "\"" BOX_WATCHER "\" \"" + log + "\" \"" + stop + "\" 60";
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION watcher{};
    ASSERT_TRUE(CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                               &watcher));
    std::string expected;
    for (const auto& box : kBoxes) {
        const std::string caption = box.logged.substr(0, box.logged.find('|'));
        const BoxAnswer answer = kalv::platform::native().message_box(box.text, caption, box.buttons, box.icon);
        EXPECT_EQ(answer, box.answer) << box.logged;
        expected += box.logged + "\n";
    }
    std::ofstream(stop).put('\n');
    WaitForSingleObject(watcher.hProcess, 30000);
    CloseHandle(watcher.hProcess);
    CloseHandle(watcher.hThread);
    std::ostringstream logged;
    logged << std::ifstream(log, std::ios::binary).rdbuf();
    EXPECT_EQ(logged.str(), expected);
    DeleteFileA(log.c_str());
    DeleteFileA(stop.c_str());
}

}  // namespace
