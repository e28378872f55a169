#include "platform/retrying_platform.h"

#include "core/errors.h"

namespace kalv::platform {

namespace {
constexpr uint32_t kFirstStartSuccess = 32;  // WinExec's codes below this are failures
}

void RetryingPlatform::wait(const char* operation, const std::string& path, std::chrono::milliseconds duration) {
    if (note_) note_(operation, path, duration);
    inner().process_messages();
    inner().sleep(duration);
}

template <typename Attempt>
bool RetryingPlatform::patiently(const char* operation, const std::string& path, Attempt attempt) {
    for (const std::chrono::milliseconds duration : kBackOff) {
        if (attempt()) return true;
        if (!inner().last_failure_transient()) return false;
        wait(operation, path, duration);
    }
    return attempt();
}

std::unique_ptr<FileHandle> RetryingPlatform::open_file(const std::string& path, OpenMode mode) {
    const char* operation = mode == OpenMode::CreateNew ? "create" : "open";
    for (const std::chrono::milliseconds duration : kBackOff) {
        try {
            return inner().open_file(path, mode);
        } catch (const Error&) {
            if (!inner().last_failure_transient()) throw;
        }
        wait(operation, path, duration);
    }
    return inner().open_file(path, mode);
}

bool RetryingPlatform::delete_file(const std::string& path) {
    return patiently("delete", path, [&] { return inner().delete_file(path); });
}

bool RetryingPlatform::move_file(const std::string& from, const std::string& to) {
    return patiently("move", from, [&] { return inner().move_file(from, to); });
}

bool RetryingPlatform::replace_file(const std::string& from, const std::string& to) {
    return patiently("replace", to, [&] { return inner().replace_file(from, to); });
}

bool RetryingPlatform::replace_file_deferred(const std::string& from, const std::string& to) {
    return patiently("replace", to, [&] { return inner().replace_file_deferred(from, to); });
}

bool RetryingPlatform::copy_file(const std::string& from, const std::string& to, bool fail_if_exists,
                                 std::chrono::milliseconds stall_timeout) {
    return patiently("copy", from, [&] { return inner().copy_file(from, to, fail_if_exists, stall_timeout); });
}

uint32_t RetryingPlatform::start_program(const std::string& command_line, const std::string& explicit_program) {
    uint32_t result = 0;
    patiently("start", explicit_program, [&] {
        result = inner().start_program(command_line, explicit_program);
        return result >= kFirstStartSuccess;
    });
    return result;
}

}  // namespace kalv::platform
