#include "platform/retrying_platform.h"

namespace kalv::platform {

void RetryingPlatform::wait(const char* operation, const std::string& path, std::chrono::milliseconds duration) {
    if (note_) note_(operation, path, duration);
    inner().process_messages();
    inner().sleep(duration);
}

// Each attempt answers with its own failure, which says whether it passes by itself.
template <typename Attempt>
auto RetryingPlatform::patiently(const char* operation, const std::string& path, Attempt attempt) {
    for (const std::chrono::milliseconds duration : kBackOff) {
        auto outcome = attempt();
        if (outcome || !outcome.transient()) return outcome;
        wait(operation, path, duration);
    }
    return attempt();
}

OsResult<std::unique_ptr<FileHandle>> RetryingPlatform::open(const std::string& path, OpenMode mode) {
    return patiently(mode == OpenMode::CreateNew ? "create" : "open", path, [&] { return inner().open(path, mode); });
}

OsStatus RetryingPlatform::delete_file(const std::string& path) {
    return patiently("delete", path, [&] { return inner().delete_file(path); });
}

OsStatus RetryingPlatform::move_file(const std::string& from, const std::string& to) {
    return patiently("move", from, [&] { return inner().move_file(from, to); });
}

OsStatus RetryingPlatform::replace_file(const std::string& from, const std::string& to) {
    return patiently("replace", to, [&] { return inner().replace_file(from, to); });
}

OsStatus RetryingPlatform::replace_file_deferred(const std::string& from, const std::string& to) {
    return patiently("replace", to, [&] { return inner().replace_file_deferred(from, to); });
}

OsStatus RetryingPlatform::copy_file(const std::string& from, const std::string& to, bool fail_if_exists,
                                     std::chrono::milliseconds stall_timeout) {
    return patiently("copy", from, [&] { return inner().copy_file(from, to, fail_if_exists, stall_timeout); });
}

OsStatus RetryingPlatform::start_program(const std::string& command_line, const std::string& explicit_program) {
    return patiently("start", explicit_program, [&] { return inner().start_program(command_line, explicit_program); });
}

}  // namespace kalv::platform
