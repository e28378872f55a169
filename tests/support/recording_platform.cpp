#include "recording_platform.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>

#include "core/errors.h"
#include "platform/profile_text.h"

namespace kalv::testing {

namespace {

#ifdef _WIN32
constexpr char kDelimiter = '\\';
#else
constexpr char kDelimiter = '/';
#endif

bool is_absolute(const std::string& path) {
    return (!path.empty() && (path[0] == '/' || path[0] == '\\')) || (path.size() > 1 && path[1] == ':');
}

class MemoryFile final : public platform::FileHandle {
public:
    MemoryFile(std::shared_ptr<std::string> bytes, std::function<void()> on_write,
               std::function<bool()> on_sync = [] { return true; })
        : bytes_(std::move(bytes)), on_write_(std::move(on_write)), on_sync_(std::move(on_sync)) {}

    size_t read(void* buffer, size_t n) override {
        if (position_ >= bytes_->size()) return 0;
        n = std::min(n, bytes_->size() - position_);
        std::memcpy(buffer, bytes_->data() + position_, n);
        position_ += n;
        return n;
    }
    size_t write(const void* buffer, size_t n) override {
        if (bytes_->size() < position_ + n) bytes_->resize(position_ + n);
        std::memcpy(bytes_->data() + position_, buffer, n);
        position_ += n;
        on_write_();
        return n;
    }
    int64_t seek(int64_t offset, platform::SeekOrigin origin) override {
        int64_t base = 0;
        if (origin == platform::SeekOrigin::Current) base = int64_t(position_);
        if (origin == platform::SeekOrigin::End) base = int64_t(bytes_->size());
        if (base + offset < 0) return -1;
        position_ = size_t(base + offset);
        return int64_t(position_);
    }
    int64_t size() override { return int64_t(bytes_->size()); }
    bool sync() override { return on_sync_(); }
    // Through the handle, as the native backends do: the file under its name at creation.
    std::function<bool(uint32_t)> on_dos_time = [](uint32_t) { return false; };
    std::function<bool(uint32_t, uint16_t)> on_attributes = [](uint32_t, uint16_t) { return false; };
    bool set_dos_time(uint32_t dos_date_time) override { return on_dos_time(dos_date_time); }
    bool set_attributes(uint32_t external, uint16_t made_by) override { return on_attributes(external, made_by); }

private:
    std::shared_ptr<std::string> bytes_;
    std::function<void()> on_write_;
    std::function<bool()> on_sync_;
    size_t position_ = 0;
};

std::string shown_text(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '\r')
            out += "\\r";
        else
            out += c;
    }
    return out;
}

}  // namespace

// The program's own texts, from the list both builds make their tables of.
std::string launcher_text(unsigned id) {
    switch (id) {
#define KALV_STRING(number, name, text) \
    case number: return text;
#include "resources/string_table.def"
#undef KALV_STRING
        default: return {};
    }
}

RecordingPlatform::RecordingPlatform(std::string launcher_dir) : dir(std::move(launcher_dir)), cwd(dir) {
    if (!cwd.empty() && cwd.back() == kDelimiter) cwd.pop_back();
    directories_.insert(cwd);
}

std::string RecordingPlatform::resolve(const std::string& path) const {
    return is_absolute(path) ? path : cwd + kDelimiter + path;
}

std::string RecordingPlatform::shown(const std::string& path) const {
    if (path.compare(0, dir.size(), dir) == 0) return "<D>" + path.substr(dir.size());
    return path;
}

void RecordingPlatform::record(const std::string& line) { transcript.push_back(line); }

bool RecordingPlatform::held_open(const std::string& path) const {
    const auto held = held_open_until.find(resolve(path));
    return held != held_open_until.end() && clock < held->second;
}

namespace {
// What the fake's failures say: a file held by another program passes by itself,
// every other refusal stays.
platform::OsError Held() { return platform::OsError{32, true, "held by another program"}; }
platform::OsError Refused() { return platform::refusal("refused"); }
}  // namespace

std::vector<std::string> RecordingPlatform::without(std::initializer_list<const char*> kinds) const {
    std::vector<std::string> kept;
    for (const std::string& line : transcript) {
        const std::string kind = line.substr(0, line.find(' '));
        if (std::none_of(kinds.begin(), kinds.end(), [&](const char* k) { return kind == k; }))
            kept.push_back(line);
    }
    return kept;
}

void RecordingPlatform::put_file(const std::string& path, std::string content, uint32_t dos_time) {
    files_[resolve(path)] = File{std::make_shared<std::string>(std::move(content)), dos_time, next_stamp_++};
}

void RecordingPlatform::put_real_file(const std::string& path, const std::string& real_path, uint32_t dos_time) {
    std::ifstream in(real_path, std::ios::binary);
    if (!in) throw Error("test data missing: " + real_path);
    put_file(path, std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()), dos_time);
}

void RecordingPlatform::put_directory(const std::string& path) { directories_.insert(resolve(path)); }

bool RecordingPlatform::has_file(const std::string& path) const { return files_.count(resolve(path)) != 0; }

std::string RecordingPlatform::content(const std::string& path) const {
    const auto it = files_.find(resolve(path));
    return it == files_.end() ? std::string() : *it->second.bytes;
}

uint32_t RecordingPlatform::dos_time(const std::string& path) const {
    const auto it = files_.find(resolve(path));
    return it == files_.end() ? 0 : it->second.dos_time;
}

std::vector<std::string> RecordingPlatform::file_names() const {
    std::vector<std::string> names;
    for (const auto& [path, file] : files_) names.push_back(shown(path));
    return names;
}

// ---- files ---------------------------------------------------------------------

platform::OsResult<std::unique_ptr<platform::FileHandle>> RecordingPlatform::open(const std::string& path,
                                                                                platform::OpenMode mode) {
    const std::string full = resolve(path);
    never_unbounded("open", full);
    if (mode == platform::OpenMode::CreateNew) {
        record("create " + shown(full));
        if (held_open(full)) return Held();
        if (files_.count(full) || directories_.count(full) || links.count(full) || read_only.count(full))
            return Refused();
        File& file = files_[full];
        file = File{std::make_shared<std::string>(), kSomeDosTime, next_stamp_++};
        auto handle = std::make_unique<MemoryFile>(
            file.bytes,
            [this, full] {
                if (auto it = files_.find(full); it != files_.end()) it->second.stamp = next_stamp_++;
            },
            [this, full] {
                record("sync " + shown(full));
                return failing_syncs.count(full) == 0;
            });
        handle->on_dos_time = [this, full](uint32_t t) { return set_file_dos_time(full, t); };
        handle->on_attributes = [this, full](uint32_t a, uint16_t v) { return set_file_attributes(full, a, v); };
        return std::unique_ptr<platform::FileHandle>(std::move(handle));
    }
    const auto it = files_.find(full);
    if (held_open(full)) return Held();
    if (it == files_.end()) return Refused();
    return std::unique_ptr<platform::FileHandle>(std::make_unique<MemoryFile>(it->second.bytes, [] {}));
}

void RecordingPlatform::never_unbounded(const char* operation, const std::string& path) const {
    if (hung.count(resolve(path)) == 0) return;
    // Shows in the transcript as a failure box that no row expects.
    throw Error(std::string("hung for good: ") + operation + " " + path);
}

std::optional<platform::FileLook> RecordingPlatform::look_within(const std::string& path,
                                                                 std::chrono::milliseconds bound) {
    if (on_look) on_look(path);
    if (hung.count(resolve(path))) {
        clock += bound;
        return std::nullopt;
    }
    platform::FileLook look;
    look.exists = file_exists(path);
    look.directory = directory_exists(path);
    look.age = file_age(path);
    look.size = look.exists ? int64_t(content(path).size()) : -1;
    return look;
}

int32_t RecordingPlatform::file_age(const std::string& path) {
    never_unbounded("file_age", path);
    if (failing_file_age && *failing_file_age == path) throw Error("Access denied to " + path);
    const auto it = files_.find(resolve(path));
    return it == files_.end() ? -1 : int32_t(it->second.dos_time);
}

bool RecordingPlatform::file_exists(const std::string& path) {
    never_unbounded("file_exists", path);
    if (failing_file_age && *failing_file_age == path) throw Error("Access denied to " + path);
    return has_file(path);
}

std::optional<int64_t> RecordingPlatform::modification_stamp(const std::string& path) {
    const auto it = files_.find(resolve(path));
    if (it == files_.end()) return std::nullopt;
    return it->second.stamp;
}

bool RecordingPlatform::directory_exists(const std::string& path) {
    std::string full = resolve(path);
    while (full.size() > 1 && full.back() == kDelimiter) full.pop_back();
    return directories_.count(full) != 0;
}

bool RecordingPlatform::is_link(const std::string& path) { return links.count(resolve(path)) != 0; }

platform::OsStatus RecordingPlatform::create_directories(const std::string& path) {
    directories_.insert(resolve(path));
    return {};
}

platform::OsStatus RecordingPlatform::delete_file(const std::string& path) {
    record("delete " + shown(resolve(path)));
    if (held_open(path)) return Held();
    if (read_only.count(resolve(path))) return Refused();  // DeleteFileA refuses
    return files_.erase(resolve(path)) != 0 ? platform::OsStatus{} : Refused();
}

platform::OsStatus RecordingPlatform::move_file(const std::string& from, const std::string& to) {
    const std::string source = resolve(from), target = resolve(to);
    record("move " + shown(source) + " -> " + shown(target));
    if (held_open(source) || held_open(target)) return Held();
    const auto it = files_.find(source);
    if (it == files_.end() || files_.count(target) || directories_.count(target)) return Refused();
    files_[target] = it->second;
    files_.erase(source);
    if (read_only.erase(source)) read_only.insert(target);
    return {};
}

platform::OsStatus RecordingPlatform::replace_file(const std::string& from, const std::string& to) {
    const std::string source = resolve(from), target = resolve(to);
    record("replace " + shown(target) + " by " + shown(source));
    if (held_open(source) || held_open(target)) return Held();
    const auto it = files_.find(source);
    if (it == files_.end() || directories_.count(target) || read_only.count(target)) return Refused();
    files_[target] = it->second;
    files_.erase(source);
    if (read_only.erase(source)) read_only.insert(target);
    return {};
}

platform::OsStatus RecordingPlatform::replace_file_deferred(const std::string& from, const std::string& to) {
    const size_t before = transcript.size();
    platform::OsStatus replaced = replace_file(from, to);
    transcript[before] += ", name synced later";
    return replaced;
}

size_t RecordingPlatform::sync_files(const std::vector<platform::FileHandle*>& files) {
    size_t leading = files.size();
    for (size_t i = 0; i < files.size(); ++i)
        if (!files[i]->sync()) leading = std::min(leading, i);
    return leading;
}

platform::OsStatus RecordingPlatform::sync_directory(const std::string& directory) {
    const std::string full = resolve(directory);
    record("sync folder " + shown(full));
    return failing_syncs.count(full) == 0 ? platform::OsStatus{} : Refused();
}

platform::OsStatus RecordingPlatform::copy_file(const std::string& from, const std::string& to, bool fail_if_exists,
                                                std::chrono::milliseconds stall_timeout) {
    const std::string source = resolve(from), target = resolve(to);
    record("copy " + shown(source) + " -> " + shown(target));
    if (held_open(source) || held_open(target)) return Held();
    const auto it = files_.find(source);
    if (hung.count(source)) {
        clock += stall_timeout;
        return Refused();
    }
    if (it == files_.end() || directories_.count(target) || (fail_if_exists && files_.count(target))) return Refused();
    if (copy_stalls) {
        clock += stall_timeout;
        return Refused();
    }
    std::string bytes = *it->second.bytes;
    if (copy_breaks_after && *copy_breaks_after < bytes.size()) {
        // As the native copies do: a copy that knows it failed removes what it made.
        if (!torn_copy_reported_complete) return Refused();
        bytes.resize(*copy_breaks_after);
        files_[target] = File{std::make_shared<std::string>(std::move(bytes)), it->second.dos_time, next_stamp_++};
        return {};
    }
    files_[target] = File{std::make_shared<std::string>(std::move(bytes)), it->second.dos_time, next_stamp_++};
    return {};
}

platform::OsStatus RecordingPlatform::append_file(const std::string& path, const std::string& bytes) {
    const std::string full = resolve(path);
    if (unwritable.count(full) || directories_.count(full)) return Refused();
    File& file = files_[full];
    if (!file.bytes) file = File{std::make_shared<std::string>(), kSomeDosTime, next_stamp_++};
    *file.bytes += bytes;
    return {};
}

platform::OsStatus RecordingPlatform::clear_read_only(const std::string& path) {
    const std::string full = resolve(path);
    if (!files_.count(full)) return Refused();
    if (read_only.erase(full)) record("writable " + shown(full));
    return {};
}

bool RecordingPlatform::set_file_dos_time(const std::string& path, uint32_t dos_date_time) {
    const auto it = files_.find(resolve(path));
    if (it == files_.end()) return false;
    it->second.dos_time = dos_date_time;
    return true;
}

bool RecordingPlatform::set_file_attributes(const std::string& path, uint32_t external_attributes,
                                            uint16_t version_made_by) {
    if (!has_file(path)) return false;
    const bool made_on_unix = (version_made_by >> 8) == 3;
    const bool no_write = made_on_unix ? ((external_attributes >> 16) & 0222) == 0 && (external_attributes >> 16) != 0
                                       : (external_attributes & 0x01) != 0;
    if (no_write) read_only.insert(resolve(path));
    return true;
}
std::string RecordingPlatform::oem_to_ansi(const std::string& oem) { return oem; }
bool RecordingPlatform::is_removable_drive(const std::string&) { return false; }
std::string RecordingPlatform::volume_label(const std::string&) { return {}; }
std::optional<uint64_t> RecordingPlatform::free_disk_space(const std::string&) { return free_space; }

std::string RecordingPlatform::profile_string(const std::string& file, const std::string& section,
                                              const std::string& key, const std::string& default_value,
                                              size_t buffer_size) {
    return platform::profile_value(content(file), section, key, default_value, buffer_size);
}

// ---- process -------------------------------------------------------------------

bool RecordingPlatform::mutex_exists(const std::string& name) { return held_mutexes.count(name) != 0; }
std::string RecordingPlatform::module_path() { return dir + module_name; }
std::vector<std::string> RecordingPlatform::command_line_arguments() { return arguments; }
uint32_t RecordingPlatform::platform_id() { return platform_id_value; }

platform::OsStatus RecordingPlatform::start_program(const std::string& command_line,
                                                    const std::string& explicit_program) {
    record("start " + shown(explicit_program) + " | " + command_line);
    if (start_failure) throw Error(*start_failure);
    if (held_open(explicit_program)) {
        platform::OsError held = Held();
        held.code = 0;  // what WinExec gives for a sharing violation
        return held;
    }
    if (start_result < 32) return platform::OsError{static_cast<long>(start_result), false, "WinExec failed"};
    return {};
}

std::string RecordingPlatform::current_directory() { return cwd; }

std::unique_ptr<platform::SystemLock> RecordingPlatform::try_lock(const std::string& name) {
    const auto held = locks_held_until.find(name);
    if (held != locks_held_until.end() && clock < held->second) {
        lock_waits_.emplace(name, clock);
        return nullptr;
    }
    if (const auto waited = lock_waits_.find(name); waited != lock_waits_.end()) {
        record("lock " + name + " waited " + std::to_string((clock - waited->second).count()));
        lock_waits_.erase(waited);
    }
    return std::make_unique<platform::SystemLock>();
}

std::chrono::milliseconds RecordingPlatform::monotonic_time() { return clock; }
void RecordingPlatform::sleep(std::chrono::milliseconds duration) { clock += duration; }

// ---- user face -----------------------------------------------------------------

namespace {

// "" for an error box (error icon, OK alone); otherwise " [icon, buttons]".
std::string box_style_note(platform::BoxButtons buttons, platform::BoxIcon icon) {
    if (icon == platform::BoxIcon::Error && buttons == platform::BoxButtons::Ok) return "";
    const char* icon_name = "no icon";
    switch (icon) {
        case platform::BoxIcon::None: break;
        case platform::BoxIcon::Error: icon_name = "error icon"; break;
        case platform::BoxIcon::Warning: icon_name = "warning icon"; break;
        case platform::BoxIcon::Information: icon_name = "information icon"; break;
        case platform::BoxIcon::Question: icon_name = "question icon"; break;
    }
    const char* button_names = "OK";
    if (buttons == platform::BoxButtons::OkCancel) button_names = "OK Cancel";
    if (buttons == platform::BoxButtons::YesNo) button_names = "Yes No";
    return std::string(" [") + icon_name + ", " + button_names + "]";
}

}  // namespace

platform::BoxAnswer RecordingPlatform::message_box(const std::string& text, const std::string& caption,
                                                   platform::BoxButtons buttons, platform::BoxIcon icon) {
    record("box " + caption + " | " + shown_text(text) + box_style_note(buttons, icon));
    return buttons == platform::BoxButtons::YesNo ? platform::BoxAnswer::Yes : platform::BoxAnswer::Ok;
}

void RecordingPlatform::set_cursor(platform::Cursor cursor) {
    switch (cursor) {
        case platform::Cursor::Default: record("cursor Default"); break;
        case platform::Cursor::AppStart: record("cursor AppStart"); break;
        case platform::Cursor::HourGlass: record("cursor HourGlass"); break;
    }
}

void RecordingPlatform::process_messages() { record("pump"); }
std::string RecordingPlatform::load_string(unsigned id) { return launcher_text(id); }

// ---- splash view ---------------------------------------------------------------

std::string RecordingPlatform::caption() const { return caption_text; }

void RecordingPlatform::set_caption(const std::string& text) {
    caption_text = text;
    record("caption " + text);
}

void RecordingPlatform::set_status(const std::string& text) { record("status " + text); }
void RecordingPlatform::set_progress_max(int max) { record("max " + std::to_string(max)); }
void RecordingPlatform::set_progress_position(int position) { record("position " + std::to_string(position)); }

platform::BoxAnswer RecordedUiPlatform::message_box(const std::string& text, const std::string& caption,
                                                    platform::BoxButtons buttons, platform::BoxIcon icon) {
    boxes.push_back({caption, text, buttons, icon});
    if (!answers.empty()) {
        const platform::BoxAnswer a = answers.front();
        answers.erase(answers.begin());
        return a;
    }
    return buttons == platform::BoxButtons::YesNo ? platform::BoxAnswer::Yes : platform::BoxAnswer::Ok;
}

}  // namespace kalv::testing
