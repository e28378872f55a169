// Publishing's output file and replacement, written once over FileSystem.
#include "platform/publishing.h"

#include <chrono>
#include <thread>

#include "core/errors.h"

namespace kalv::platform {

namespace {

// A launcher copying or reading the package holds it without FILE_SHARE_DELETE, and
// the replacement fails until it lets go. Launchers start at random moments, so gaps
// come between their copies; 20 s covers copies of a large package over a slow share.
constexpr int kReplaceAttempts = 200;
constexpr std::chrono::milliseconds kReplaceRetry{100};

std::string folder_of(const std::string& path) {
    const size_t last = path.find_last_of(kPathDelimiters);
    if (last == std::string::npos) return ".";
    return last == 0 ? path.substr(0, 1) : path.substr(0, last);
}

}  // namespace

void NewFile::write(const void* data, size_t n) {
    write_at(position_, data, n);
    position_ += n;
}

void NewFile::write_at(uint64_t offset, const void* data, size_t n) {
    if (const OsStatus written = file_->write_at(offset, data, n); !written) fail(written.error().message());
}

void NewFile::flush_to_disk() {
    if (!file_->sync()) fail("the system did not put it on the disk");
}

void NewFile::fail(const std::string& reason) const {
    throw FileStreamError("Cannot write file " + path_ + ": " + reason);
}

std::unique_ptr<NewFile> create_new_file(FileSystem& files, const std::string& path) {
    OsResult<std::unique_ptr<FileHandle>> made = files.open(path, OpenMode::CreateNew);
    if (!made) throw FileStreamError("Cannot create file " + path + ": " + made.error().message());
    return std::make_unique<NewFile>(std::move(*made), path);
}

void replace_durably(FileSystem& files, const std::string& from, const std::string& to) {
    if (files.directory_exists(to)) throw Error("Cannot replace " + to + ": it is a folder");
    OsStatus replaced;
    for (int attempt = 0; attempt < kReplaceAttempts; ++attempt) {
        replaced = files.replace_file_deferred(from, to);
        // Only a file held open by someone else is worth waiting for.
        if (replaced || !replaced.transient()) break;
        std::this_thread::sleep_for(kReplaceRetry);
    }
    if (!replaced) throw Error("Cannot replace " + to + ": " + replaced.error().message());
    // The rename has happened either way; a file system that cannot flush a folder
    // gives no better promise, so this is best effort.
    (void)files.sync_directory(folder_of(to));
}

}  // namespace kalv::platform
