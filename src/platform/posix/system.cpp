// Process group of the POSIX backend: the application's mutex, the launcher's own path
// and arguments, the program start, and the profile API over the INI parser.
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <system_error>
#include <thread>

#include "platform/native_platform.h"
#include "platform/process.h"
#include "platform/profile_text.h"

extern char** environ;

namespace kalv::platform {

namespace {

// A file descriptor closed by its owner on every path.
class Descriptor {
public:
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor() {
        if (fd_ >= 0) ::close(fd_);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

// A path that cannot be read as a file (missing, a directory, no permission, a read
// error) reads as no file, as GetPrivateProfileStringA takes it. The C++ library's
// file streams would instead throw from a failed read() (reading a directory does).
std::string read_whole_file(const std::string& path, bool& found) {
    found = false;
    const Descriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    struct stat st;
    if (file.get() < 0 || ::fstat(file.get(), &st) != 0 || !S_ISREG(st.st_mode)) return {};
    std::string content;
    char block[8192];
    for (;;) {
        const ssize_t n = ::read(file.get(), block, sizeof block);
        if (n == 0) break;
        if (n < 0) {
            if (errno == EINTR) continue;
            return {};
        }
        content.append(block, static_cast<size_t>(n));
    }
    found = true;
    return content;
}

// WinExec's failure codes, so that callers read one meaning on both platforms.
constexpr uint32_t kExecOutOfResources = 0;
constexpr uint32_t kExecFileNotFound = 2;
constexpr uint32_t kExecPathNotFound = 3;
constexpr uint32_t kExecAccessDenied = 5;
constexpr uint32_t kExecBadFormat = 11;

uint32_t exec_code_for(int error) {
    switch (error) {
        case ENOENT: return kExecFileNotFound;
        case ENOTDIR: return kExecPathNotFound;
        case EACCES:
        case EPERM: return kExecAccessDenied;
        case ENOEXEC: return kExecBadFormat;
        default: return kExecOutOfResources;
    }
}

// The folder of the lock files that stand for Windows' named mutexes: the user's
// runtime folder, which only the user can enter ($XDG_RUNTIME_DIR, when it is an
// absolute path to a folder of the user's own), or else the folder of the program.
std::string lock_directory() {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    struct stat st;
    if (runtime && runtime[0] == '/' && ::stat(runtime, &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::geteuid())
        return std::string(runtime) + "/";
    std::string self(PATH_MAX, '\0');
    const ssize_t n = ::readlink("/proc/self/exe", self.data(), self.size());
    if (n <= 0) return {};
    self.resize(static_cast<size_t>(n));
    return self.substr(0, self.rfind('/') + 1);
}

// One file per name and user: "kalv3-<name>.<uid>.lock", no "/" in it.
std::string lock_file_path(const std::string& name) {
    const std::string dir = lock_directory();
    if (dir.empty()) return {};
    std::string safe = name;
    for (char& c : safe)
        if (c == '/' || c == '\0') c = '_';
    return dir + "kalv3-" + safe + "." + std::to_string(::geteuid()) + ".lock";
}

// A lock file that is ours: a regular file, owned by this user, reached by no link.
bool ours(int fd) {
    struct stat st;
    return fd >= 0 && ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == ::geteuid();
}

// Opens the lock file, creating it (mode 0600) when missing; never through a link, and
// never one that another user planted in a shared folder. -1 when no lock file of ours
// can be had.
int open_lock_file(const std::string& path, bool create) {
    if (path.empty()) return -1;
    constexpr int kFlags = O_RDWR | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY | O_NONBLOCK;
    int fd = create ? ::open(path.c_str(), kFlags | O_CREAT | O_EXCL, 0600) : -1;
    if (fd < 0 && (!create || errno == EEXIST)) fd = ::open(path.c_str(), kFlags);
    if (ours(fd)) return fd;
    if (fd >= 0) ::close(fd);
    return -1;
}

// flock(2) on an open lock file: held until the descriptor is closed, which the kernel
// does when the holder ends, however it ends.
class FileLock final : public HeldMutex, public SystemLock {
public:
    explicit FileLock(int fd) : file_(fd) {}

private:
    Descriptor file_;
};

std::vector<std::string> process_arguments() {
    bool found = false;
    const std::string raw = read_whole_file("/proc/self/cmdline", found);
    std::vector<std::string> arguments;
    size_t pos = 0;
    while (pos < raw.size()) {
        size_t end = raw.find('\0', pos);
        if (end == std::string::npos) end = raw.size();
        arguments.push_back(raw.substr(pos, end - pos));
        pos = end + 1;
    }
    return arguments;
}

}  // namespace

// Every holder of the application's mutex shares the lock, as every handle keeps a
// Windows mutex in being; the probe's exclusive try fails while one holds it. A probe
// holds it for an instant, so a holder waits for that rather than fail.
std::unique_ptr<HeldMutex> hold_mutex(const std::string& name) {
    const int fd = open_lock_file(lock_file_path(name), true);
    if (fd < 0) return nullptr;
    auto held = std::make_unique<FileLock>(fd);
    int locked = -1;
    while ((locked = ::flock(fd, LOCK_SH)) != 0 && errno == EINTR) {
    }
    return locked == 0 ? std::move(held) : nullptr;
}

std::string raw_command_line() {
    std::string line;
    for (const std::string& argument : process_arguments()) {
        if (!line.empty()) line += ' ';
        line += argument;
    }
    return line;
}

std::string NativePlatform::profile_string(const std::string& file, const std::string& section,
                                           const std::string& key, const std::string& default_value,
                                           size_t buffer_size) {
    bool found = false;
    const std::string content = read_whole_file(file, found);
    return profile_value(content, section, key, default_value, buffer_size);
}

// The application holds its lock file shared (hold_mutex); an exclusive try that fails
// proves a holder. No lock file, or none of ours, is no holder, and nothing is created.
bool NativePlatform::mutex_exists(const std::string& name) {
    const Descriptor probe(open_lock_file(lock_file_path(name), false));
    if (probe.get() < 0) return false;
    return ::flock(probe.get(), LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK;
}

std::string NativePlatform::module_path() {
    std::string path(PATH_MAX, '\0');
    const ssize_t n = ::readlink("/proc/self/exe", path.data(), path.size());
    if (n <= 0) return {};
    path.resize(static_cast<size_t>(n));
    return path;
}

// argv as the kernel gave it to this process, so no entry point has to hand it over.
std::vector<std::string> NativePlatform::command_line_arguments() {
    std::vector<std::string> arguments = process_arguments();
    if (!arguments.empty()) arguments.erase(arguments.begin());
    return arguments;
}

uint32_t NativePlatform::platform_id() { return 2; }

// The command line is split on blanks into the new program's argv (argv[0] is its first
// part, as WinExec's program sees it); the program file itself is `explicit_program`,
// never a name found by searching. The child is not waited for.
OsStatus NativePlatform::start_program(const std::string& command_line, const std::string& explicit_program) {
    std::vector<std::string> parts;
    size_t pos = 0;
    while (pos <= command_line.size()) {
        size_t end = command_line.find(' ', pos);
        if (end == std::string::npos) end = command_line.size();
        if (end > pos) parts.push_back(command_line.substr(pos, end - pos));
        pos = end + 1;
    }
    if (parts.empty()) parts.push_back(explicit_program);
    std::vector<char*> argv;
    for (std::string& part : parts) argv.push_back(part.data());
    argv.push_back(nullptr);
    pid_t child = 0;
    const int error = ::posix_spawn(&child, explicit_program.c_str(), nullptr, nullptr, argv.data(), environ);
    if (error == 0) return {};
    OsError failed = os_error(error);
    failed.text = os_error_text(error);  // the code becomes WinExec's, which no system words describe
    failed.code = exec_code_for(error);
    return failed;
}

std::string NativePlatform::current_directory() {
    std::string path(PATH_MAX, '\0');
    if (::getcwd(path.data(), path.size()) == nullptr) return {};
    path.resize(std::strlen(path.c_str()));
    return path;
}

// Only the user's own processes can open the user's lock file, so no other user can
// hold the launchers of this installation back. Where no lock file of ours can be had
// (a folder this user cannot write, something planted at its name), the launchers do
// without taking turns rather than each wait for a turn that never comes.
std::unique_ptr<SystemLock> NativePlatform::try_lock(const std::string& name) {
    const int fd = open_lock_file(lock_file_path("lock-" + name), true);
    if (fd < 0) return std::make_unique<SystemLock>();
    auto lock = std::make_unique<FileLock>(fd);
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) return nullptr;
    return lock;
}

std::chrono::milliseconds NativePlatform::monotonic_time() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch());
}

void NativePlatform::sleep(std::chrono::milliseconds duration) { std::this_thread::sleep_for(duration); }

bool start_detached(std::function<void()> job) {
    try {
        std::thread([job = std::move(job)] {
            try {
                job();
            } catch (...) {
                // A job reports its own failures; none may end the process.
            }
        }).detach();
        return true;
    } catch (const std::system_error&) {
        return false;
    }
}

Platform& native() {
    static NativePlatform instance;
    return instance;
}

}  // namespace kalv::platform
