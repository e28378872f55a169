// A platform for the archive fuzz targets: the real backend underneath, but every
// path the ZIP component hands to the OS is checked first. Reading and querying are
// allowed for the archive and its siblings (the numbered parts of a split archive);
// everything else (creating, deleting, dating, querying) must stay inside the jail
// directory, judged on the path as the OS will see it (cut at a zero byte, "." and
// ".." resolved). A path that climbs out is a finding: the run aborts
// before the OS is asked. Boxes are answered silently (No to an overwrite prompt) and
// starting a program is a finding of its own: extraction never does it.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/forwarding_platform.h"

namespace kalv::fuzz {

class JailPlatform : public platform::ForwardingPlatform {
public:
    JailPlatform(platform::Platform& inner, std::string archive_path, std::string jail)
        : platform::ForwardingPlatform(inner),
          inner_(inner),
          archive_(std::move(archive_path)),
          archive_dir_(normalise(archive_.substr(0, archive_.rfind('/')))),
          jail_(normalise(jail)) {}

    static std::string normalise(const std::string& path) {
        std::string seen = path.substr(0, path.find('\0'));  // what the OS's C API receives
        std::vector<std::string> parts;
        size_t start = 0;
        while (start <= seen.size()) {
            size_t end = seen.find('/', start);
            if (end == std::string::npos) end = seen.size();
            std::string part = seen.substr(start, end - start);
            if (part == "..") {
                if (!parts.empty()) parts.pop_back();
            } else if (!part.empty() && part != ".") {
                parts.push_back(part);
            }
            start = end + 1;
        }
        std::string out;
        for (const auto& p : parts) out += "/" + p;
        return out.empty() ? "/" : out;
    }

    bool inside(const std::string& path) const {
        if (path.empty() || path[0] != '/') return false;  // relative: depends on the current directory
        std::string n = normalise(path);
        return n == jail_ || n.compare(0, jail_.size() + 1, jail_ + "/") == 0;
    }

    bool beside_archive(const std::string& path) const {
        if (path.empty() || path[0] != '/') return false;
        std::string n = normalise(path);
        return n.compare(0, archive_dir_.size() + 1, archive_dir_ + "/") == 0 &&
               n.find('/', archive_dir_.size() + 1) == std::string::npos;
    }

    platform::OsResult<std::unique_ptr<platform::FileHandle>> open(const std::string& path,
                                                                   platform::OpenMode mode) override {
        if (mode == platform::OpenMode::CreateNew) guard("open", path);
        else query("open", path);
        return inner_.open(path, mode);
    }
    int32_t file_age(const std::string& path) override { return query("file_age", path), inner_.file_age(path); }
    bool file_exists(const std::string& path) override { return query("file_exists", path), inner_.file_exists(path); }
    std::optional<int64_t> modification_stamp(const std::string& path) override {
        query("modification_stamp", path);
        return inner_.modification_stamp(path);
    }
    bool directory_exists(const std::string& path) override {
        return query("directory_exists", path), inner_.directory_exists(path);
    }
    bool is_link(const std::string& path) override { return query("is_link", path), inner_.is_link(path); }
    platform::OsStatus create_link(const std::string& target, const std::string& path) override {
        return guard("create_link", path), inner_.create_link(target, path);
    }
    platform::OsStatus create_directories(const std::string& path) override {
        return guard("create_directories", path), inner_.create_directories(path);
    }
    platform::OsStatus delete_file(const std::string& path) override {
        return guard("delete_file", path), inner_.delete_file(path);
    }
    platform::OsStatus move_file(const std::string& from, const std::string& to) override {
        guard("move_file", from), guard("move_file", to);
        return inner_.move_file(from, to);
    }
    platform::OsStatus replace_file(const std::string& from, const std::string& to) override {
        guard("replace_file", from), guard("replace_file", to);
        return inner_.replace_file(from, to);
    }
    platform::OsStatus replace_file_deferred(const std::string& from, const std::string& to) override {
        guard("replace_file_deferred", from), guard("replace_file_deferred", to);
        return inner_.replace_file_deferred(from, to);
    }
    platform::OsStatus sync_directory(const std::string& directory) override {
        return guard("sync_directory", directory), inner_.sync_directory(directory);
    }
    platform::OsStatus copy_file(const std::string& from, const std::string& to, bool fail_if_exists,
                                       std::chrono::milliseconds stall_timeout) override {
        guard("copy_file", from), guard("copy_file", to);
        return inner_.copy_file(from, to, fail_if_exists, stall_timeout);
    }
    platform::OsStatus clear_read_only(const std::string& path) override {
        return guard("clear_read_only", path), inner_.clear_read_only(path);
    }
    bool set_file_dos_time(const std::string& path, uint32_t stamp) override {
        return guard("set_file_dos_time", path), inner_.set_file_dos_time(path, stamp);
    }
    bool set_file_attributes(const std::string& path, uint32_t attributes, uint16_t made_by) override {
        return guard("set_file_attributes", path), inner_.set_file_attributes(path, attributes, made_by);
    }
    std::string profile_string(const std::string&, const std::string&, const std::string&, const std::string&,
                               size_t) override {
        finding("profile_string", "the ZIP component reads no profile");
    }
    bool mutex_exists(const std::string&) override { finding("mutex_exists", "not the ZIP component's"); }
    platform::OsStatus start_program(const std::string& command_line, const std::string&) override {
        finding("start_program", command_line);
    }
    std::unique_ptr<platform::SystemLock> try_lock(const std::string& name) override {
        finding("try_lock", name);
    }
    platform::BoxAnswer message_box(const std::string&, const std::string&, platform::BoxButtons buttons,
                                    platform::BoxIcon) override {
        ++boxes_;
        return buttons == platform::BoxButtons::YesNo ? platform::BoxAnswer::No : platform::BoxAnswer::Ok;
    }
    void set_cursor(platform::Cursor) override {}
    void process_messages() override {}

    int boxes() const { return boxes_; }

private:
    [[noreturn]] static void finding(const char* operation, const std::string& detail) {
        std::fprintf(stderr, "jail: %s called: %s\n", operation, detail.c_str());
        abort();
    }
    void guard(const char* operation, const std::string& path) const {
        if (!inside(path)) finding(operation, "path outside the destination: " + path);
    }
    void query(const char* operation, const std::string& path) const {
        if (!beside_archive(path)) guard(operation, path);
    }

    platform::Platform& inner_;
    std::string archive_;
    std::string archive_dir_;
    std::string jail_;
    int boxes_ = 0;
};

}  // namespace kalv::fuzz
