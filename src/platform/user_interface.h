// The user face, as one job of the OS layer: message boxes, the mouse cursor, the
// handling of pending window messages, the program's string table, and the "?"
// dialogs of the extraction component.
#pragma once

#include <optional>
#include <string>

namespace kalv::platform {

enum class Cursor : int { Default = 0, HourGlass = -11, AppStart = -19 };

enum class BoxButtons { Ok, OkCancel, YesNo };
enum class BoxIcon { None, Error, Warning, Information, Question };
enum class BoxAnswer { Ok, Cancel, Yes, No };

class UserInterface {
public:
    virtual ~UserInterface() = default;

    virtual BoxAnswer message_box(const std::string& text, const std::string& caption, BoxButtons buttons,
                                  BoxIcon icon) = 0;
    virtual void set_cursor(Cursor cursor) = 0;
    virtual void process_messages() = 0;        // handle every pending window message
    virtual std::string load_string(unsigned id) = 0;  // the program's string table

    // The user chooses a file or a folder (the "?" forms of the extraction component's
    // names). choose_open_file: a file-open dialog titled `title`, whose `filter` is
    // written as label|pattern pairs ("Zip Files (*.ZIP)|*.zip|All Files (*.*)|*.*"),
    // opened in `start_dir`. choose_folder: the shell's folder browser, in which the
    // user may also make a new folder, opened at `start_dir`. Each returns the chosen
    // path, or nullopt when the user cancelled. A platform without a user to ask (the
    // POSIX build, the test fakes) answers as a cancel.
    virtual std::optional<std::string> choose_open_file(const std::string& title, const std::string& filter,
                                                        const std::string& start_dir);
    virtual std::optional<std::string> choose_folder(const std::string& start_dir);
};

}  // namespace kalv::platform
