#include "platform/key_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "core/errors.h"

namespace kalv::platform {

namespace {

// pwrite(2) until all is written, then fsync(2); 0 or the errno of the failure.
int write_all(int fd, uint64_t offset, const std::string& bytes) {
    const char* at = bytes.data();
    size_t left = bytes.size();
    while (left > 0) {
        const ssize_t put = ::pwrite(fd, at, left, off_t(offset));
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) return put < 0 ? errno : ENOSPC;
        at += put;
        offset += uint64_t(put);
        left -= size_t(put);
    }
    return ::fsync(fd) == 0 ? 0 : errno;
}

}  // namespace

void write_owner_only_file(const std::string& path, const std::string& bytes) {
    // O_EXCL also refuses a symbolic link at the name, dangling or not.
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) throw FileStreamError("Cannot create file " + path + ": " + std::strerror(errno));
    // The mode given to open(2) passes through the umask, which can only take bits
    // away: 0600 or less, never more.
    const int error = write_all(fd, 0, bytes);
    ::close(fd);
    if (error != 0) {
        ::unlink(path.c_str());
        throw FileStreamError("Cannot write file " + path + ": " + std::strerror(error));
    }
}

void write_into_file(const std::string& path, uint64_t offset, const std::string& bytes) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) throw FileStreamError("Cannot open file " + path + ": " + std::strerror(errno));
    const int error = write_all(fd, offset, bytes);
    ::close(fd);
    if (error != 0) throw FileStreamError("Cannot write file " + path + ": " + std::strerror(error));
}

std::optional<std::string> who_else_may_open(const std::string& path) {
    struct stat facts {};
    if (::stat(path.c_str(), &facts) != 0 || (facts.st_mode & 077) == 0) return std::nullopt;
    char mode[8];
    std::snprintf(mode, sizeof mode, "%04o", unsigned(facts.st_mode & 07777));
    return std::string("mode ") + mode + "; chmod 600 makes it yours alone";
}

}  // namespace kalv::platform
