// The launcher's own file work, patient with a moment's lock. On a shop's PC a freshly
// written program is exactly what virus scanners, indexers and backup agents open for
// a moment; a delete, create, rename, copy or start that fails then would succeed a
// second later. Each of them is tried again when it fails for a reason that passes by
// itself (OsError::transient), after a short wait during which window
// messages are handled. A failure that outlasts the back-off, and every other failure
// (a missing file, a full disk), is reported as the inner platform reports it.
#pragma once

#include <array>
#include <chrono>
#include <functional>

#include "platform/forwarding_platform.h"

namespace kalv::platform {

class RetryingPlatform final : public ForwardingPlatform {
public:
    // Told of each retry before its wait (operation, path, wait), for the run log.
    using RetryNote =
        std::function<void(const std::string& operation, const std::string& path, std::chrono::milliseconds wait)>;

    // The waits between attempts: doubling from 50 ms, 2.55 s in all, about what a
    // scanner needs for a file of a few megabytes.
    static constexpr std::array<std::chrono::milliseconds, 6> kBackOff{
        std::chrono::milliseconds(50),  std::chrono::milliseconds(100), std::chrono::milliseconds(200),
        std::chrono::milliseconds(400), std::chrono::milliseconds(800), std::chrono::milliseconds(1000)};

    explicit RetryingPlatform(Platform& inner, RetryNote note = {}) : ForwardingPlatform(inner), note_(std::move(note)) {}

    OsResult<std::unique_ptr<FileHandle>> open(const std::string& path, OpenMode mode) override;
    OsStatus delete_file(const std::string& path) override;
    OsStatus move_file(const std::string& from, const std::string& to) override;
    OsStatus replace_file(const std::string& from, const std::string& to) override;
    OsStatus replace_file_deferred(const std::string& from, const std::string& to) override;
    OsStatus copy_file(const std::string& from, const std::string& to, bool fail_if_exists,
                       std::chrono::milliseconds stall_timeout) override;
    OsStatus start_program(const std::string& command_line, const std::string& explicit_program) override;

private:
    // Runs `attempt` until it succeeds, fails for a lasting reason, or the back-off is spent.
    template <typename Attempt>
    auto patiently(const char* operation, const std::string& path, Attempt attempt);
    void wait(const char* operation, const std::string& path, std::chrono::milliseconds duration);

    RetryNote note_;
};

}  // namespace kalv::platform
