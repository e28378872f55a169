// Process group of the POSIX backend: the application's mutex, the launcher's own path
// and arguments, the program start, and the profile API over the INI parser.
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstddef>
#include <cstring>
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
constexpr uint32_t kExecStarted = 33;

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

// The abstract-namespace address that stands for a Windows mutex of that name.
std::string mutex_socket_name(const std::string& name) { return std::string(1, '\0') + name; }

bool fill_address(const std::string& name, sockaddr_un& where, socklen_t& length) {
    const std::string address = mutex_socket_name(name);
    where = sockaddr_un{};
    if (address.size() > sizeof(where.sun_path)) return false;
    where.sun_family = AF_UNIX;
    std::memcpy(where.sun_path, address.data(), address.size());
    length = socklen_t(offsetof(sockaddr_un, sun_path) + address.size());
    return true;
}

class SocketMutex final : public HeldMutex {
public:
    explicit SocketMutex(int fd) : socket_(fd) {}

private:
    Descriptor socket_;
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

std::unique_ptr<HeldMutex> hold_mutex(const std::string& name) {
    sockaddr_un where;
    socklen_t length = 0;
    if (!fill_address(name, where, length)) return nullptr;
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return nullptr;
    auto held = std::make_unique<SocketMutex>(fd);
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&where), length) != 0 || ::listen(fd, 16) != 0) return nullptr;
    return held;
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

// The application holds a listening socket in the abstract namespace named after the
// mutex; the kernel removes it when the holder ends, as Windows removes a mutex with
// its last handle. Connecting only probes: nothing is bound or left behind.
bool NativePlatform::mutex_exists(const std::string& name) {
    sockaddr_un where;
    socklen_t length = 0;
    if (!fill_address(name, where, length)) return false;
    const Descriptor probe(::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (probe.get() < 0) return false;
    if (::connect(probe.get(), reinterpret_cast<const sockaddr*>(&where), length) == 0) return true;
    // A full backlog still proves a holder that listens.
    return errno == EAGAIN || errno == EINPROGRESS;
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
uint32_t NativePlatform::start_program(const std::string& command_line, const std::string& explicit_program) {
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
    if (error != 0) {
        errno = error;
        note_failure();
    }
    return error == 0 ? kExecStarted : exec_code_for(error);
}

std::string NativePlatform::current_directory() {
    std::string path(PATH_MAX, '\0');
    if (::getcwd(path.data(), path.size()) == nullptr) return {};
    path.resize(std::strlen(path.c_str()));
    return path;
}

namespace {

// A bound abstract-namespace socket: one holder per name, let go by the kernel when the
// holder's process ends, however it ends.
class SocketLock final : public SystemLock {
public:
    explicit SocketLock(int fd) : socket_(fd) {}

private:
    Descriptor socket_;
};

}  // namespace

std::unique_ptr<SystemLock> NativePlatform::try_lock(const std::string& name) {
    sockaddr_un where;
    socklen_t length = 0;
    if (!fill_address("lock:" + name, where, length)) return nullptr;
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return nullptr;
    auto lock = std::make_unique<SocketLock>(fd);
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&where), length) != 0) return nullptr;
    return lock;
}

std::chrono::milliseconds NativePlatform::monotonic_time() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch());
}

void NativePlatform::sleep(std::chrono::milliseconds duration) { std::this_thread::sleep_for(duration); }

Platform& native() {
    static NativePlatform instance;
    return instance;
}

}  // namespace kalv::platform
