// Process group of the Win32 backend: the application's mutex, the launcher's own path
// and arguments, the version record, the program start and the profile API.
#include <windows.h>

#include "platform/command_line.h"
#include "platform/process.h"
#include "platform/native_platform.h"
#include "platform/profile_text.h"

#include <exception>
#include <functional>
#include <memory>
#include <optional>

namespace kalv::platform {

namespace {

class MutexHandle final : public HeldMutex {
public:
    explicit MutexHandle(HANDLE handle) : handle_(handle) {}
    ~MutexHandle() override { CloseHandle(handle_); }

private:
    HANDLE handle_;
};

// GetVersionExA must be told the size of the ANSI record it fills.
static_assert(sizeof(OSVERSIONINFOA) == 148, "OSVERSIONINFOA is the 148-byte ANSI record");

// WinExec keeps its caller waiting until the new program is ready for input, at most
// this long.
constexpr DWORD kInputIdleTimeoutMs = 30000;
constexpr long kExecOutOfResources = 0;

}  // namespace

std::unique_ptr<HeldMutex> hold_mutex(const std::string& name) {
    HANDLE handle = CreateMutexA(nullptr, TRUE, name.c_str());
    if (handle == nullptr) return nullptr;
    return std::make_unique<MutexHandle>(handle);
}

std::string raw_command_line() { return GetCommandLineA(); }

namespace {

// An owned mutex: released and closed by its owner's thread, or by the system when
// the process ends (then its next owner sees it abandoned, which is no harm here).
class MutexLock final : public SystemLock {
public:
    explicit MutexLock(HANDLE handle) : handle_(handle) {}
    ~MutexLock() override {
        ReleaseMutex(handle_);
        CloseHandle(handle_);
    }

private:
    HANDLE handle_;
};

}  // namespace

std::unique_ptr<SystemLock> NativePlatform::try_lock(const std::string& name) {
    const HANDLE handle = CreateMutexA(nullptr, FALSE, name.c_str());
    if (handle == nullptr) return nullptr;
    const DWORD waited = WaitForSingleObject(handle, 0);
    if (waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED) return std::make_unique<MutexLock>(handle);
    CloseHandle(handle);
    return nullptr;
}

std::chrono::milliseconds NativePlatform::monotonic_time() { return std::chrono::milliseconds(GetTickCount64()); }

void NativePlatform::sleep(std::chrono::milliseconds duration) { Sleep(static_cast<DWORD>(duration.count())); }

namespace {

// The whole profile file when it begins with a UTF-8 byte-order mark, else nullopt.
std::optional<std::string> profile_with_bom(FileSystem& files, const std::string& file) {
    try {
        const std::unique_ptr<FileHandle> handle = files.open_file(file, OpenMode::ReadShared);
        const int64_t size = handle->size();
        if (size < 3) return std::nullopt;
        std::string content(static_cast<size_t>(size), '\0');
        content.resize(handle->read(content.data(), content.size()));
        if (content.rfind("\xEF\xBB\xBF", 0) != 0) return std::nullopt;
        return content;
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

}  // namespace

// The file name must be a full path: GetPrivateProfileStringA looks for a bare name in
// the Windows directory, not in the current one. GetPrivateProfileStringA takes a
// UTF-8 byte-order mark for part of the first line, which hides the first section: such
// a file is read by the same rules here, without the mark.
std::string NativePlatform::profile_string(const std::string& file, const std::string& section,
                                           const std::string& key, const std::string& default_value,
                                           size_t buffer_size) {
    if (buffer_size == 0) return {};
    if (const std::optional<std::string> content = profile_with_bom(*this, file))
        return profile_value(*content, section, key, default_value, buffer_size);
    std::string buffer(buffer_size, '\0');
    const DWORD n = GetPrivateProfileStringA(section.c_str(), key.c_str(), default_value.c_str(), buffer.data(),
                                             static_cast<DWORD>(buffer_size), file.c_str());
    buffer.resize(n);
    return buffer;
}

// Any failure to open, also for want of SYNCHRONIZE access, counts as "not running".
bool NativePlatform::mutex_exists(const std::string& name) {
    HANDLE handle = OpenMutexA(SYNCHRONIZE, FALSE, name.c_str());
    if (handle == nullptr) return false;
    CloseHandle(handle);
    return true;
}

std::string NativePlatform::module_path() {
    std::string path(MAX_PATH, '\0');
    while (true) {
        const DWORD n = GetModuleFileNameA(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (n == 0) return {};
        if (n < path.size()) {
            path.resize(n);
            return path;
        }
        path.resize(path.size() * 2);
    }
}

std::vector<std::string> NativePlatform::command_line_arguments() {
    std::vector<std::string> arguments = split_command_line(GetCommandLineA());
    if (!arguments.empty()) arguments.erase(arguments.begin());
    return arguments;
}

uint32_t NativePlatform::platform_id() {
    OSVERSIONINFOA version{};
    version.dwOSVersionInfoSize = sizeof(OSVERSIONINFOA);
    GetVersionExA(&version);
    return version.dwPlatformId;
}

// WinExec hands the whole command line to the system, which takes the program from its
// first blank-separated part and, for a path with blanks such as C:\Program Files\...,
// first tries C:\Program.exe. Here the program file is named explicitly while the
// program still receives `command_line` unchanged as its own command line; the return
// codes and the wait for the program's first input are WinExec's.
OsStatus NativePlatform::start_program(const std::string& command_line, const std::string& explicit_program) {
    STARTUPINFOA startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_SHOWNORMAL;
    PROCESS_INFORMATION process{};
    std::string writable = command_line;
    if (!CreateProcessA(explicit_program.c_str(), writable.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process)) {
        const DWORD error = GetLastError();
        OsError failed = os_error(static_cast<long>(error));
        failed.text = os_error_text(static_cast<long>(error));  // the code becomes WinExec's
        failed.code = error < 32 ? static_cast<long>(error) : kExecOutOfResources;
        return failed;
    }
    WaitForInputIdle(process.hProcess, kInputIdleTimeoutMs);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return {};
}

std::string NativePlatform::current_directory() {
    const DWORD needed = GetCurrentDirectoryA(0, nullptr);
    if (needed == 0) return {};
    std::string path(needed, '\0');
    const DWORD n = GetCurrentDirectoryA(needed, path.data());
    path.resize(n < needed ? n : 0);
    return path;
}

namespace {

DWORD WINAPI run_detached(void* parameter) {
    const std::unique_ptr<std::function<void()>> job(static_cast<std::function<void()>*>(parameter));
    try {
        (*job)();
    } catch (...) {
        // A job reports its own failures; none may end the process.
    }
    return 0;
}

}  // namespace

bool start_detached(std::function<void()> job) {
    auto held = std::make_unique<std::function<void()>>(std::move(job));
    const HANDLE thread = CreateThread(nullptr, 0, run_detached, held.get(), 0, nullptr);
    if (!thread) return false;
    held.release();  // the thread owns it now
    CloseHandle(thread);
    return true;
}

Platform& native() {
    static NativePlatform instance;
    return instance;
}

}  // namespace kalv::platform
