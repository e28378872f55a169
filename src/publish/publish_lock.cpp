#include "publish/publish_lock.h"

#include <cstdio>
#include <ctime>
#include <optional>

#include "core/errors.h"
#include "platform/admin_files.h"
#include "platform/platform.h"

namespace kalv::publish {

namespace {

using std::chrono::seconds;

struct Holder {
    uint64_t pid = 0;
    std::string host;
    int64_t since = 0;  // seconds since 1970, the holder's clock
};

int64_t wall_clock_now() {
    return std::chrono::duration_cast<seconds>(std::chrono::system_clock::now().time_since_epoch()).count();
}

std::string field(const std::string& content, const std::string& key) {
    const std::string wanted = "\n" + key + "=";
    const size_t at = ("\n" + content).find(wanted);
    if (at == std::string::npos) return {};
    const size_t start = at + wanted.size() - 1;
    const size_t end = content.find('\n', start);
    return content.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

std::optional<uint64_t> number(const std::string& text) {
    if (text.empty() || text.size() > 19) return std::nullopt;
    uint64_t value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + static_cast<uint64_t>(c - '0');
    }
    return value;
}

std::optional<Holder> parse(const std::string& content) {
    const std::optional<uint64_t> pid = number(field(content, "pid")), since = number(field(content, "time"));
    Holder h;
    h.host = field(content, "host");
    if (!pid || !since || h.host.empty()) return std::nullopt;
    h.pid = *pid;
    h.since = static_cast<int64_t>(*since);
    return h;
}

// The lock file's content, or nullopt when nothing is there any more. At most a
// few hundred bytes are read: it is written by kalvtool, but lies on a share.
std::optional<std::string> read_lock(platform::FileSystem& files, const std::string& path) {
    auto opened = files.open(path, platform::OpenMode::ReadShared);
    if (!opened) return std::nullopt;
    char buffer[512];
    const size_t n = (*opened)->read(buffer, sizeof buffer);
    return std::string(buffer, n);
}

bool stale(const std::optional<Holder>& holder, seconds unreadable_for) {
    if (!holder) return unreadable_for >= kUnreadableGrace;
    if (holder->host == platform::host_name() && !platform::process_running(holder->pid)) return true;
    return wall_clock_now() - holder->since > kStaleAfter.count();
}

std::string utc_text(int64_t since) {
    const std::time_t t = static_cast<std::time_t>(since);
    std::tm parts{};
#ifdef _WIN32
    gmtime_s(&parts, &t);
#else
    gmtime_r(&t, &parts);
#endif
    char text[40];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S UTC", &parts);
    return text;
}

}  // namespace

std::string PublishLock::file_name(const std::string& target) { return target + ".publish-lock"; }

std::string PublishLock::holder_text(const std::string& content) {
    const std::optional<Holder> h = parse(content);
    if (!h) return "a holder it does not name";
    return "pid " + std::to_string(h->pid) + " on host " + h->host + " since " + utc_text(h->since);
}

PublishLock::PublishLock(platform::Platform& os, const std::string& target, std::chrono::milliseconds longest_wait)
    : os_(os), path_(file_name(target)) {
    using std::chrono::milliseconds;
    const std::string mine = "kalvtool publish\npid=" + std::to_string(platform::process_id()) +
                             "\nhost=" + platform::host_name() + "\ntime=" + std::to_string(wall_clock_now()) + "\n";
    const milliseconds start = os.monotonic_time();
    std::optional<milliseconds> unreadable_since;
    std::string last_seen;
    for (;;) {
        if (platform::create_lock_file(path_, mine)) return;
        // Empty also when it was let go between the two looks, or cannot be read.
        const std::string content = read_lock(os, path_).value_or("");
        const std::optional<Holder> holder = parse(content);
        if (holder || content != last_seen) unreadable_since.reset();
        if (!holder && !unreadable_since) unreadable_since = os.monotonic_time();
        last_seen = content;
        const milliseconds unreadable = unreadable_since ? os.monotonic_time() - *unreadable_since : milliseconds(0);
        const seconds unreadable_for = std::chrono::duration_cast<seconds>(unreadable);
        // Deleted only while it still says what was judged stale: another publisher
        // may have taken it over a moment ago (a narrow window remains between this
        // look and the delete; the lock guards dates, not data).
        if (stale(holder, unreadable_for) && read_lock(os, path_).value_or("") == content) {
            os.delete_file(path_);
            continue;
        }
        if (os.monotonic_time() - start >= longest_wait)
            throw Error("Another publish to the same target holds " + path_ + " (" + holder_text(content) +
                        "); waited " + std::to_string(longest_wait.count() / 1000) +
                        " s. Publish again when it is done, or delete that file if no publish runs there");
        os.sleep(milliseconds(100));
    }
}

PublishLock::~PublishLock() { os_.delete_file(path_); }

}  // namespace kalv::publish
