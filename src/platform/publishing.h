// What publishing a package needs from the operating system beyond the file system
// (file_system.h): the OS's random source, an output file that reaches the disk
// before it is put in place, a replacement in one step, and a scratch folder. Only
// kalvtool's publishing uses these. The output file and the replacement are written
// once over FileSystem (publishing.cpp); the rest are plain functions of the backend
// that CMake chooses.
//
// Failures are kalv::Error with a message naming the file and the OS's reason.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/file_system.h"

namespace kalv::platform {

// Fills `buffer` from the OS's cryptographic random source (getrandom(2);
// BCryptGenRandom with the system's preferred generator). Throws Error when the source
// fails: a publisher never falls back to a predictable header.
void random_bytes(void* buffer, size_t n);

// A file created by this process alone (FileSystem::open with OpenMode::CreateNew),
// written front to back and patched at given offsets, then flushed to the disk. The
// destructor closes it; it never deletes it. Written once over FileHandle.
class NewFile {
public:
    NewFile(std::unique_ptr<FileHandle> file, std::string path) : file_(std::move(file)), path_(std::move(path)) {}
    // Write all of `n` bytes or throw FileStreamError "Cannot write file PATH: reason".
    void write(const void* data, size_t n);
    void write_at(uint64_t offset, const void* data, size_t n);
    uint64_t position() const { return position_; }
    // fsync(2) / FlushFileBuffers: the bytes are on the disk (or the file server's)
    // before the caller goes on. Throws FileStreamError.
    void flush_to_disk();

private:
    [[noreturn]] void fail(const std::string& reason) const;

    std::unique_ptr<FileHandle> file_;
    std::string path_;
    uint64_t position_ = 0;
};

// Throws FileStreamError "Cannot create file PATH: reason" (also when PATH exists).
std::unique_ptr<NewFile> create_new_file(FileSystem& files, const std::string& path);

// Puts `from` in the place of `to` in one step (FileSystem::replace_file_deferred,
// then the folder's names put on the disk, as far as the file system can): a reader of
// `to` opens either the old file or the new one, never a mixture. A read-only `to` is
// refused, as Windows refuses it. A `to` held open by a reader that forbids deleting
// it (a launcher copying it) is retried for up to 20 seconds while the failure passes
// by itself. Throws Error "Cannot replace TO: reason".
void replace_durably(FileSystem& files, const std::string& from, const std::string& to);

// Creates a new, empty folder of this process's own in the user's folder for
// temporary files ($TMPDIR or /tmp; GetTempPathA) and returns its path, ending in the
// path delimiter. Throws Error.
std::string create_scratch_directory();

// Removes an empty folder; false when it is not there, not empty, or not removable.
bool remove_empty_directory(const std::string& path);

// How the attributes of the file at `path` are stored in a package made here
// (APPNOTE 4.4.2 version made by, 4.4.15 external attributes): on POSIX the Unix mode
// with host 3, on Windows the MS-DOS attributes with host 0. Never read-only: the
// launcher deletes and rewrites the unpacked program at every start.
struct StoredAttributes {
    uint8_t host = 0;              // APPNOTE 4.4.2.2: 0 MS-DOS, 3 Unix
    uint32_t external = 0x20;      // MS-DOS archive bit
};
StoredAttributes attributes_to_store(const std::string& path);

}  // namespace kalv::platform
