// kalvtool's administration needs on POSIX: stat(2) identities and errno, fchown(2)
// and fchmod(2), O_EXCL | O_NOFOLLOW lock files, kill(pid, 0), and a probe file.
#include "platform/admin_files.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "core/errors.h"
#include "platform/platform.h"

namespace kalv::platform {

namespace {

std::string reason(int error) { return std::strerror(error); }

bool write_all(int fd, const std::string& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t put = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) return false;
        done += static_cast<size_t>(put);
    }
    return true;
}

std::string probe_name(const std::string& folder, const char* what) {
    return folder + ".kalvtool-probe-" + what + "-" + native().random_tag();
}

}  // namespace

bool same_file(const std::string& a, const std::string& b) {
    struct stat sa, sb;
    return ::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
           sa.st_ino == sb.st_ino;
}

PathLook look_at(const std::string& path) {
    struct stat st;
    if (!path.empty() && ::stat(path.c_str(), &st) == 0) return {PathState::Present, {}};
    const int error = path.empty() ? ENOENT : errno;
    if (error == ENOENT || error == ENOTDIR) return {PathState::Missing, {}};
    return {PathState::Unreadable, reason(error)};
}

void keep_owner_and_mode(const std::string& original, const std::string& copy) {
    struct stat was;
    if (::stat(original.c_str(), &was) != 0 || !S_ISREG(was.st_mode)) return;
    const int fd = ::open(copy.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return;
    // Owner and group together, else the group alone (a user may give a file any
    // group of their own, but not another owner). Either may be refused: the file then
    // keeps this user's, and the mode below still opens it to the same readers.
    const bool owned =
        ::fchown(fd, was.st_uid, was.st_gid) == 0 || ::fchown(fd, static_cast<uid_t>(-1), was.st_gid) == 0;
    static_cast<void>(owned);
    (void)::fchmod(fd, was.st_mode & 07777);
    ::close(fd);
}

bool create_lock_file(const std::string& path, const std::string& content) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd < 0) {
        if (errno == EEXIST || errno == ELOOP) return false;
        throw Error("Cannot create " + path + ": " + reason(errno));
    }
    const bool written = write_all(fd, content) && ::fsync(fd) == 0;
    const int error = errno;
    ::close(fd);
    if (!written) {
        ::unlink(path.c_str());
        throw Error("Cannot write " + path + ": " + reason(error));
    }
    return true;
}

uint64_t process_id() { return static_cast<uint64_t>(::getpid()); }

std::string host_name() {
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) != 0) return "unknown";
    return name;
}

bool process_running(uint64_t pid) {
    if (pid == 0 || pid > static_cast<uint64_t>(INT32_MAX)) return false;
    return ::kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH;
}

std::string probe_writable(const std::string& folder) {
    const std::string names[2] = {probe_name(folder, "a"), probe_name(folder, "b")};
    bool created[2] = {false, false};
    std::string failed;
    for (int i = 0; i < 2 && failed.empty(); ++i) {
        const int fd = ::open(names[i].c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd < 0) {
            failed = "cannot create a file in it (" + reason(errno) + ")";
        } else {
            created[i] = true;
            ::close(fd);
        }
    }
    if (failed.empty()) {
        if (::rename(names[0].c_str(), names[1].c_str()) != 0) {
            failed = "cannot replace a file in it (" + reason(errno) + ")";
        } else {
            created[0] = false;
            if (::unlink(names[1].c_str()) != 0) failed = "cannot delete a file in it (" + reason(errno) + ")";
            else created[1] = false;
        }
    }
    for (int i = 0; i < 2; ++i)
        if (created[i]) ::unlink(names[i].c_str());
    return failed;
}

}  // namespace kalv::platform
