// A Platform that hands every call to another one. Test and fuzz platforms derive from
// it and override only what they change, so a new operation of the interface is added
// here once rather than in every fake. The "?" dialogs are not handed on: a layer
// answers them as a cancel, as a platform without a user to ask does.
#pragma once

#include "platform/platform.h"

namespace kalv::platform {

class ForwardingPlatform : public Platform {
public:
    explicit ForwardingPlatform(Platform& inner) : inner_(inner) {}

    OsResult<std::unique_ptr<FileHandle>> open(const std::string& path, OpenMode mode) override {
        return inner_.open(path, mode);
    }
    int32_t file_age(const std::string& path) override { return inner_.file_age(path); }
    bool file_exists(const std::string& path) override { return inner_.file_exists(path); }
    int64_t file_size(const std::string& path) override { return inner_.file_size(path); }
    std::optional<FileLook> look_within(const std::string& path, std::chrono::milliseconds bound) override {
        return inner_.look_within(path, bound);
    }
    std::optional<int64_t> modification_stamp(const std::string& path) override {
        return inner_.modification_stamp(path);
    }
    bool directory_exists(const std::string& path) override { return inner_.directory_exists(path); }
    bool is_link(const std::string& path) override { return inner_.is_link(path); }
    OsStatus create_link(const std::string& target, const std::string& path) override {
        return inner_.create_link(target, path);
    }
    std::string random_tag() override { return inner_.random_tag(); }
    OsStatus create_directories(const std::string& path) override { return inner_.create_directories(path); }
    OsStatus delete_file(const std::string& path) override { return inner_.delete_file(path); }
    OsStatus move_file(const std::string& from, const std::string& to) override { return inner_.move_file(from, to); }
    OsStatus replace_file(const std::string& from, const std::string& to) override {
        return inner_.replace_file(from, to);
    }
    OsStatus replace_file_deferred(const std::string& from, const std::string& to) override {
        return inner_.replace_file_deferred(from, to);
    }
    OsStatus sync_directory(const std::string& directory) override { return inner_.sync_directory(directory); }
    size_t sync_files(const std::vector<FileHandle*>& files) override { return inner_.sync_files(files); }
    OsStatus copy_file(const std::string& from, const std::string& to, bool fail_if_exists,
                   std::chrono::milliseconds stall_timeout) override {
        return inner_.copy_file(from, to, fail_if_exists, stall_timeout);
    }
    OsStatus clear_read_only(const std::string& path) override { return inner_.clear_read_only(path); }
    OsStatus append_file(const std::string& path, const std::string& bytes) override {
        return inner_.append_file(path, bytes);
    }
    std::string user_state_directory() override { return inner_.user_state_directory(); }
    bool set_file_dos_time(const std::string& path, uint32_t dos_date_time) override {
        return inner_.set_file_dos_time(path, dos_date_time);
    }
    bool set_file_attributes(const std::string& path, uint32_t external_attributes,
                             uint16_t version_made_by) override {
        return inner_.set_file_attributes(path, external_attributes, version_made_by);
    }
    std::string oem_to_ansi(const std::string& oem) override { return inner_.oem_to_ansi(oem); }
    std::string utf8_to_ansi(const std::string& utf8) override { return inner_.utf8_to_ansi(utf8); }
    bool is_removable_drive(const std::string& root) override { return inner_.is_removable_drive(root); }
    std::string volume_label(const std::string& root) override { return inner_.volume_label(root); }
    std::optional<uint64_t> free_disk_space(const std::string& directory) override {
        return inner_.free_disk_space(directory);
    }
    std::string profile_string(const std::string& file, const std::string& section, const std::string& key,
                               const std::string& default_value, size_t buffer_size) override {
        return inner_.profile_string(file, section, key, default_value, buffer_size);
    }

    bool mutex_exists(const std::string& name) override { return inner_.mutex_exists(name); }
    std::string module_path() override { return inner_.module_path(); }
    std::vector<std::string> command_line_arguments() override { return inner_.command_line_arguments(); }
    uint32_t platform_id() override { return inner_.platform_id(); }
    OsStatus start_program(const std::string& command_line, const std::string& explicit_program) override {
        return inner_.start_program(command_line, explicit_program);
    }
    std::string current_directory() override { return inner_.current_directory(); }
    std::unique_ptr<SystemLock> try_lock(const std::string& name) override { return inner_.try_lock(name); }
    std::chrono::milliseconds monotonic_time() override { return inner_.monotonic_time(); }
    void sleep(std::chrono::milliseconds duration) override { inner_.sleep(duration); }

    BoxAnswer message_box(const std::string& text, const std::string& caption, BoxButtons buttons,
                          BoxIcon icon) override {
        return inner_.message_box(text, caption, buttons, icon);
    }
    void set_cursor(Cursor cursor) override { inner_.set_cursor(cursor); }
    void process_messages() override { inner_.process_messages(); }
    std::string load_string(unsigned id) override { return inner_.load_string(id); }

protected:
    Platform& inner() { return inner_; }

private:
    Platform& inner_;
};

}  // namespace kalv::platform
