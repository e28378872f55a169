// A test pass over an archive's chosen entries with the launcher's own extraction
// core: each entry read, decrypted, decoded and CRC-checked, nothing written. Shared by `kalvtool test` and `kalvtool doctor`.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/file_system.h"

namespace kalvtool {

struct EntryVerdict {
    std::string name;    // as stored
    bool ok = false;
    std::string reason;  // why it failed: "bad password", "CRC-32 ...", "bad data: ..."
    int64_t uncompressed_size = 0;
};

struct ArchiveVerdict {
    int chosen = 0;  // entries the patterns chose
    std::vector<EntryVerdict> entries;
    int failed() const;
};

// Tests the entries of `archive` that `patterns` choose (every entry without one),
// passing each verdict to `on_verdict` as soon as it is known. `command` names the
// kalvtool command in what goes to stderr (report_on_stderr). A failure raised inside
// an entry (its data ends before the archive does) fails that entry, and the pass goes
// on with the next one; a failure of the archive itself (not found, not a ZIP archive,
// its directory unreadable) is thrown as kalv::Error.
ArchiveVerdict test_archive(kalv::platform::FileSystem& files, const char* command, const std::string& archive, const std::string& password,
                            const std::vector<std::string>& patterns,
                            const std::function<void(const EntryVerdict&)>& on_verdict = {});

// The uncompressed size of the entries that `patterns` choose, from the archive's
// directory alone (nothing decoded). Throws kalv::Error as test_archive does.
int64_t chosen_size(kalv::platform::FileSystem& files, const char* command, const std::string& archive, const std::vector<std::string>& patterns);

}  // namespace kalvtool
