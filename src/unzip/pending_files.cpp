#include "unzip/pending_files.h"

#include "core/errors.h"
#include "unzip/core_helpers.h"

namespace kalv::unzip {

namespace {

bool is_separator(char c) {
#ifdef _WIN32
    return c == '\\' || c == '/';
#else
    return c == '/';
#endif
}

// One spelling for every way of naming the same file in a pass: letter case ignored,
// the path cut at a zero byte (the OS receives no more), repeated separators and "."
// levels dropped, and on Windows the trailing dots and blanks that its path rules
// drop. Two names that differ here may still be one file (a link); two that agree
// are one, so a batch put in place early is never wrong, only a little slower.
std::string name_key(const std::string& path) {
    const std::string seen = ascii_lower(path.substr(0, path.find('\0')));
    std::string key;
    size_t start = 0;
    while (start <= seen.size()) {
        size_t end = start;
        while (end < seen.size() && !is_separator(seen[end])) ++end;
        std::string level = seen.substr(start, end - start);
#ifdef _WIN32
        while (!level.empty() && (level.back() == '.' || level.back() == ' ')) level.pop_back();
#endif
        if (!level.empty() && level != ".") key += "/" + level;
        start = end + 1;
    }
    return key;
}

}  // namespace

PendingFiles::~PendingFiles() {
    for (PendingFile& waiting : files_) {
        waiting.file.reset();
        discard_temporary(os_, waiting.partial);
    }
}

void PendingFiles::add(PendingFile file, int64_t bytes) {
    names_.insert(name_key(file.target));
    bytes_ += bytes;
    files_.push_back(std::move(file));
}

bool PendingFiles::claims(const std::string& path) const {
    return !names_.empty() && names_.count(name_key(path)) != 0;
}

bool PendingFiles::claims_level_of(const std::string& folder) const {
    if (names_.empty()) return false;
    const std::string key = name_key(folder);
    for (size_t slash = key.find('/', 1);; slash = key.find('/', slash + 1)) {
        if (names_.count(key.substr(0, slash))) return true;
        if (slash == std::string::npos) return false;
    }
}

PendingFiles::Published PendingFiles::publish(std::exception_ptr& failure) {
    std::vector<PendingFile> files = std::move(files_);
    files_.clear();
    names_.clear();
    bytes_ = 0;
    // Whatever happens below, a file not put in place loses its temporary file.
    size_t placed = 0;
    struct RemoveRest {
        platform::FileSystem& os;
        std::vector<PendingFile>& files;
        size_t& from;
        void now() {
            for (; from < files.size(); ++from) {
                files[from].file.reset();
                discard_temporary(os, files[from].partial);
            }
        }
        ~RemoveRest() { now(); }
    } remove_rest{os_, files, placed};

    std::vector<platform::FileHandle*> handles;
    for (const PendingFile& waiting : files) handles.push_back(waiting.file.get());
    const size_t synced = os_.sync_files(handles);
    if (synced < files.size()) failure = std::make_exception_ptr(StreamError("Stream write error"));
    // Closed before the renames: Windows renames no file that a handle holds unshared.
    for (PendingFile& waiting : files) waiting.file.reset();
    for (; placed < synced; ++placed) {
        PendingFile& waiting = files[placed];
        // A target that cannot be replaced keeps what it was, as in the per-entry path.
        if (!os_.replace_file_deferred(waiting.partial, waiting.target)) {
            failure = std::make_exception_ptr(FileStreamError("Cannot create file " + waiting.target));
            break;
        }
    }
    // Before the folders are synced, so that no removed temporary file comes back
    // after a power cut either.
    const size_t in_place = placed;
    remove_rest.now();
    // Each folder once, in the order of the files: the first file in a folder whose
    // names did not reach the disk is where the batch failed, as its own rename would
    // have failed in the per-entry path.
    files.resize(in_place);
    Published done{std::move(files), in_place};
    std::unordered_set<std::string> synced_folders;
    for (size_t i = 0; i < in_place; ++i) {
        const PendingFile& file = done.in_place[i];
        if (!synced_folders.insert(file.folder).second) continue;
        if (!os_.sync_directory(file.folder)) {
            done.durable = i;
            failure = std::make_exception_ptr(FileStreamError("Cannot create file " + file.target));
            break;
        }
    }
    return done;
}

}  // namespace kalv::unzip
