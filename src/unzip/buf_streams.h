// Buffered streams: an 8192-byte buffer in front of an OS file, so that the
// archive's single-byte scans and 30- and 46-byte record reads cost no system call
// each, and files are read and written in 8192-byte transfers; an entry's data,
// long runs of bytes, pass by the buffer in transfers of their own size. A stream
// is used either for reading or for writing, never for both.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/platform.h"

namespace kalv::unzip {

class BufferedStream {
public:
    static constexpr size_t kBufferSize = 8192;

    // Origins of seek(), numbered as the platform numbers them.
    static constexpr int kFromBeginning = 0, kFromCurrent = 1, kFromEnd = 2;

    explicit BufferedStream(std::unique_ptr<platform::FileHandle> underlying);
    // Writes out pending bytes (a failure there is lost: call flush() to see it).
    virtual ~BufferedStream();
    BufferedStream(const BufferedStream&) = delete;
    BufferedStream& operator=(const BufferedStream&) = delete;

    // Up to n bytes; fewer only at the end of the underlying file.
    size_t read(void* buffer, size_t n);
    // The bytes accepted; fewer than n when writing the buffer out failed.
    size_t write(const void* buffer, size_t n);
    // The same for long runs of bytes (an entry's data): what the buffer holds goes
    // first, then the rest moves between the file and the caller's memory in one
    // transfer of the caller's size, not in copies through the buffer (a rest to
    // read shorter than the buffer still goes through it). These transfers are not
    // the buffer's fills or write-outs and are not notified.
    size_t read_through(void* buffer, size_t n);
    size_t write_through(const void* buffer, size_t n);
    // From the end, the offset counts by its absolute value (22 and -22 are the same).
    // Returns the new position, or -1 when the underlying file refused it.
    int64_t seek(int64_t offset, int origin);
    int64_t position() const;
    int64_t size();
    // Steps back over the byte just read and stores `byte` there.
    void put_back(uint8_t byte);
    // Writes out pending bytes; false when the file took fewer.
    bool flush();
    // Writes out pending bytes and has the system put them on the disk itself.
    bool sync();
    // Writes out pending bytes and hands over the file, for a caller that syncs and
    // closes it later; the stream reads and writes nothing afterwards. Throws
    // StreamError "Stream write error" when the file took fewer bytes (never after a
    // flush() that returned true).
    std::unique_ptr<platform::FileHandle> release();
    // Has the system start putting what the file took so far on the disk, without
    // waiting (FileHandle::start_sync); the buffer's pending bytes are not included.
    void start_sync() { underlying_->start_sync(); }

protected:
    virtual bool fill_buffer();
    virtual bool flush_buffer();
    // Notification hooks for derived streams (nothing in the launcher uses them):
    // after every fill, with the bytes it brought (0 at the end of the file), and
    // after every write-out of the buffer, with the bytes the file took. The base
    // destructor's write-out reaches only this class's hook: a derived stream that
    // wants it reported flushes in its own destructor.
    virtual void after_fill(size_t /*bytes*/) {}
    virtual void after_flush(size_t /*bytes*/) {}

private:
    enum class State { Unknown, Reading, Writing };

    void drop_read_ahead();

    std::unique_ptr<platform::FileHandle> underlying_;
    std::unique_ptr<uint8_t[]> buffer_;
    size_t end_ = 0;             // bytes in the buffer
    size_t at_ = 0;              // next byte to read or write
    int64_t underlying_at_ = 0;  // where the underlying file stands
    State state_ = State::Unknown;
};

// A buffered stream that opens its own file by name.
class BufferedFileStream : public BufferedStream {
public:
    BufferedFileStream(platform::FileSystem& os, const std::string& path, platform::OpenMode mode);
};

}  // namespace kalv::unzip
