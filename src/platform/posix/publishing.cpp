// Publishing's OS needs on POSIX: getrandom(2), a scratch folder by mkdtemp(3), and the
// Unix mode to store.
#include "platform/publishing.h"

#include <stdlib.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "core/errors.h"
#include "platform/os_error.h"

namespace kalv::platform {

void random_bytes(void* buffer, size_t n) {
    char* out = static_cast<char*>(buffer);
    while (n > 0) {
        const ssize_t got = ::getrandom(out, n, 0);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) throw Error("The system's random source failed: " + os_error_text(got < 0 ? errno : EIO));
        out += got;
        n -= static_cast<size_t>(got);
    }
}

std::string create_scratch_directory() {
    const char* tmp = ::getenv("TMPDIR");
    std::string pattern = tmp && *tmp ? tmp : "/tmp";
    if (pattern.back() != '/') pattern += '/';
    pattern += "kalvtool-XXXXXX";
    if (!::mkdtemp(pattern.data())) throw Error("Cannot create a temporary folder in " + pattern + ": " + os_error_text(errno));
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
