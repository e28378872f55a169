// A file copy that gives up on a source that stops delivering, written once for every
// backend over FileHandle. A hung network share blocks read(2) and ReadFile in the
// kernel, where no time-out reaches them; so the copy runs on a worker thread while
// the caller's thread handles window messages and watches the worker's progress. A
// worker that stalls for the whole time-out is abandoned: the copy fails, the target
// it made is removed by name, and the worker, which owns its half, ends with the
// process if not before. The backend gives only the two ends (CopyEnds).
#pragma once

#include <chrono>
#include <memory>
#include <string>

#include "platform/file_system.h"
#include "platform/os_error.h"
#include "platform/user_interface.h"

namespace kalv::platform {

// How a backend opens and removes the ends of a copy. An abandoned worker may still
// call it: an implementation lives as long as the process.
class CopyEnds {
public:
    virtual ~CopyEnds() = default;
    // The source, for reading, shared with a publisher that still writes it; fails for
    // a folder. Opened by the worker: opening a FIFO or a file on a dead share can
    // block as long as reading it.
    virtual OsResult<std::unique_ptr<FileHandle>> open_source(const std::string& from) = 0;
    // The target, as the copy's own file: replaced unless fail_if_exists, never through
    // a link, a read-only one refused, writable afterwards whatever the source's
    // permissions (so that the next refresh can replace it), and its name removable
    // while the worker still holds it.
    virtual OsResult<std::unique_ptr<FileHandle>> create_target(const std::string& to, bool fail_if_exists,
                                                                FileHandle& source) = 0;
    // Removes the copy's own target by name.
    virtual void remove_target(const std::string& to) = 0;
};

// FileSystem::copy_file over `ends`: the target gets the source's last-write time and
// is on the disk when this succeeds; `ui` handles window messages meanwhile. Only the
// opening of the source can fail transiently (a publisher holding it a moment).
OsStatus copy_watched(CopyEnds& ends, UserInterface& ui, const std::string& from, const std::string& to,
                      bool fail_if_exists, std::chrono::milliseconds stall_timeout);

}  // namespace kalv::platform
