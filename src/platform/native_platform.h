// The platform of the system the program was built for, declared once: CMake compiles
// the members of one backend, win32/ or posix/, each defining them by area: files.cpp
// (files and directories, code pages, drives), system.cpp (process, profile API,
// locks, clock), ui.cpp (boxes, cursor, messages, and the "?" dialogs, which POSIX
// answers as a cancel), strings.cpp (the program's string table); on Windows also
// dialogs.cpp (the file-open dialog and the folder browser).
#pragma once

#include "platform/platform.h"

namespace kalv::platform {

class NativePlatform final : public Platform {
public:
    OsResult<std::unique_ptr<FileHandle>> open(const std::string& path, OpenMode mode) override;
    int32_t file_age(const std::string& path) override;
    bool file_exists(const std::string& path) override;
    int64_t file_size(const std::string& path) override;
    std::optional<FileLook> look_within(const std::string& path, std::chrono::milliseconds bound) override {
        return look_within_bound(*this, *this, path, bound);
    }
    std::optional<int64_t> modification_stamp(const std::string& path) override;
    bool directory_exists(const std::string& path) override;
    bool is_link(const std::string& path) override;
#ifndef _WIN32
    OsStatus create_link(const std::string& target, const std::string& path) override;
#endif
    OsStatus create_directories(const std::string& path) override;
    OsStatus delete_file(const std::string& path) override;
    OsStatus move_file(const std::string& from, const std::string& to) override;
    OsStatus replace_file(const std::string& from, const std::string& to) override;
    OsStatus replace_file_deferred(const std::string& from, const std::string& to) override;
    OsStatus sync_directory(const std::string& directory) override;
    OsStatus copy_file(const std::string& from, const std::string& to, bool fail_if_exists,
                   std::chrono::milliseconds stall_timeout) override;
    OsStatus clear_read_only(const std::string& path) override;
    OsStatus append_file(const std::string& path, const std::string& bytes) override;
    std::string user_state_directory() override;
    bool set_file_dos_time(const std::string& path, uint32_t dos_date_time) override;
    bool set_file_attributes(const std::string& path, uint32_t external_attributes,
                             uint16_t version_made_by) override;
    std::string oem_to_ansi(const std::string& oem) override;
    std::string utf8_to_ansi(const std::string& utf8) override;
    bool is_removable_drive(const std::string& root) override;
    std::string volume_label(const std::string& root) override;
    std::optional<uint64_t> free_disk_space(const std::string& directory) override;
    std::string profile_string(const std::string& file, const std::string& section, const std::string& key,
                               const std::string& default_value, size_t buffer_size) override;

    bool mutex_exists(const std::string& name) override;
    std::string module_path() override;
    std::vector<std::string> command_line_arguments() override;
    uint32_t platform_id() override;
    OsStatus start_program(const std::string& command_line, const std::string& explicit_program) override;
    std::string current_directory() override;
    std::unique_ptr<SystemLock> try_lock(const std::string& name) override;
    std::chrono::milliseconds monotonic_time() override;
    void sleep(std::chrono::milliseconds duration) override;

    BoxAnswer message_box(const std::string& text, const std::string& caption, BoxButtons buttons,
                          BoxIcon icon) override;
    void set_cursor(Cursor cursor) override;
    void process_messages() override;
    std::string load_string(unsigned id) override;
    std::optional<std::string> choose_open_file(const std::string& title, const std::string& filter,
                                                const std::string& start_dir) override;
    std::optional<std::string> choose_folder(const std::string& start_dir) override;
};

}  // namespace kalv::platform
