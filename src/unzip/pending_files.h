// Finished entries that wait to be put in place together (UZDurability::Batched).
// Each is a CRC-checked temporary file beside its target, its handle still open: the
// sync needs a handle that may write (FlushFileBuffers), and reopening each file
// would cost an open per entry and meet whatever (a virus scanner) holds it
// meanwhile; the bound on files keeps the open handles few. publish() syncs every
// file (several at once, Platform::sync_files), then renames each over its target,
// then syncs each folder once, so that no target name is ever given to data that is
// not on the disk.
#pragma once

#include <cstdint>
#include <exception>
#include <memory>
#include <string>
#include <unordered_set>
#include <vector>

#include "platform/platform.h"
#include "unzip/extract.h"

namespace kalv::unzip {

struct PendingFile {
    int index = 0;        // the entry, as the pass numbers it
    std::string folder;   // where the target goes, with its delimiter
    std::string target;   // folder + the entry's file name
    std::string partial;  // its temporary file beside the target
    std::unique_ptr<platform::FileHandle> file;  // written, dated, given its attributes
    EntryCheck check;
};

class PendingFiles {
public:
    // A batch is put in place once it holds this many files or bytes. Files: each
    // holds a handle, and a POSIX process may open 1024 by default (a lower limit
    // only ends a batch early: a file that cannot be created puts it in place first);
    // past a few hundred, the batch's one directory sync weighs nothing per file.
    // Bytes: a big file's sync is its data's transfer, which batching does not
    // shorten, so a batch of big files gains nothing and only delays their names and
    // holds more finished work that a failure would have to do again.
    static constexpr size_t kMaxFiles = 256;
    static constexpr int64_t kMaxBytes = int64_t{32} << 20;

    explicit PendingFiles(platform::FileSystem& os) : os_(os) {}
    // What was never put in place is removed: no temporary file outlives the pass.
    ~PendingFiles();
    PendingFiles(const PendingFiles&) = delete;
    PendingFiles& operator=(const PendingFiles&) = delete;

    bool empty() const { return files_.empty(); }
    bool full() const { return files_.size() >= kMaxFiles || bytes_ >= kMaxBytes; }
    void add(PendingFile file, int64_t bytes);

    // Whether `path` is the target of a waiting file (letter case ignored, as Windows
    // ignores it): using that name now would meet the file.
    bool claims(const std::string& path) const;
    // Whether a waiting file's target is one of the folder levels of `folder` (ending
    // in its delimiter), which is about to be created.
    bool claims_level_of(const std::string& folder) const;

    struct Published {
        std::vector<PendingFile> in_place;  // renamed over their targets, in order
        size_t durable = 0;  // how many of the first of them have their folder synced too
    };
    // Syncs every file, renames each over its target in order, then syncs each folder
    // once; the queue is empty afterwards and none of its temporary files remains. The
    // first failure lands in `failure`: "Stream write error" for a file that the disk
    // did not take, "Cannot create file <target>" for a target that could not be
    // replaced (the files before it are in place; it and the files after it are
    // removed) or for the first file whose folder did not sync (it and the files after
    // it are in place, but their names may not outlive a power cut).
    Published publish(std::exception_ptr& failure);

private:
    platform::FileSystem& os_;
    std::vector<PendingFile> files_;
    std::unordered_set<std::string> names_;  // targets, lower case
    int64_t bytes_ = 0;
};

}  // namespace kalv::unzip
