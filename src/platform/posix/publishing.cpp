// Publishing's OS needs on POSIX: getrandom(2), O_EXCL files with fsync(2), rename(2)
// followed by an fsync of the folder.
#include "platform/publishing.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "core/errors.h"

namespace kalv::platform {

namespace {

std::string reason(int error) { return std::strerror(error); }

class PosixNewFile final : public NewFile {
public:
    PosixNewFile(int fd, std::string path) : fd_(fd), path_(std::move(path)) {}
    ~PosixNewFile() override { ::close(fd_); }
    PosixNewFile(const PosixNewFile&) = delete;
    PosixNewFile& operator=(const PosixNewFile&) = delete;

    void write(const void* data, size_t n) override {
        write_at(position_, data, n);
        position_ += n;
    }

    void write_at(uint64_t offset, const void* data, size_t n) override {
        const char* bytes = static_cast<const char*>(data);
        while (n > 0) {
            const ssize_t put = ::pwrite(fd_, bytes, n, off_t(offset));
            if (put < 0 && errno == EINTR) continue;
            if (put <= 0) fail(put < 0 ? errno : ENOSPC);
            bytes += put;
            offset += static_cast<uint64_t>(put);
            n -= static_cast<size_t>(put);
        }
    }

    uint64_t position() const override { return position_; }

    void flush_to_disk() override {
        if (::fsync(fd_) != 0) fail(errno);
    }

private:
    [[noreturn]] void fail(int error) { throw FileStreamError("Cannot write file " + path_ + ": " + reason(error)); }

    int fd_;
    std::string path_;
    uint64_t position_ = 0;
};

std::string folder_of(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

void random_bytes(void* buffer, size_t n) {
    char* out = static_cast<char*>(buffer);
    while (n > 0) {
        const ssize_t got = ::getrandom(out, n, 0);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) throw Error("The system's random source failed: " + reason(got < 0 ? errno : EIO));
        out += got;
        n -= static_cast<size_t>(got);
    }
}

std::unique_ptr<NewFile> create_new_file(const std::string& path) {
    const int fd = path.empty() ? -1 : ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) throw FileStreamError("Cannot create file " + path + ": " + reason(path.empty() ? ENOENT : errno));
    return std::make_unique<PosixNewFile>(fd, path);
}

void replace_durably(const std::string& from, const std::string& to) {
    struct stat st;
    if (::stat(to.c_str(), &st) == 0) {
        // rename(2) would put a file in place of a read-only one, which MoveFileExA
        // refuses; the backends agree on Windows' rule (see files.cpp).
        if (S_ISDIR(st.st_mode)) throw Error("Cannot replace " + to + ": it is a folder");
        if (S_ISREG(st.st_mode) && (st.st_mode & 0222) == 0)
            throw Error("Cannot replace " + to + ": it is read-only");
    }
    if (::rename(from.c_str(), to.c_str()) != 0) throw Error("Cannot replace " + to + ": " + reason(errno));
    // The new directory entry reaches the disk with the folder's own flush. The
    // rename has happened either way; a file system that cannot flush a folder
    // (EINVAL) gives no better promise, so this is best effort.
    const int dir = ::open(folder_of(to).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
}

std::string create_scratch_directory() {
    const char* tmp = ::getenv("TMPDIR");
    std::string pattern = tmp && *tmp ? tmp : "/tmp";
    if (pattern.back() != '/') pattern += '/';
    pattern += "kalvtool-XXXXXX";
    if (!::mkdtemp(pattern.data())) throw Error("Cannot create a temporary folder in " + pattern + ": " + reason(errno));
    return pattern + '/';
}

bool remove_empty_directory(const std::string& path) { return !path.empty() && ::rmdir(path.c_str()) == 0; }

StoredAttributes attributes_to_store(const std::string& path) {
    StoredAttributes stored;
    stored.host = 3;
    struct stat st;
    const mode_t permissions = ::stat(path.c_str(), &st) == 0 ? (st.st_mode & 0777) : 0644;
    // APPNOTE 4.4.15: the high half is st_mode; the low byte keeps the MS-DOS archive
    // bit for readers that look only there. Owner write is kept on (see the header).
    stored.external = (static_cast<uint32_t>(S_IFREG | permissions | S_IWUSR) << 16) | 0x20;
    return stored;
}

}  // namespace kalv::platform
