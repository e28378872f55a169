#include "unzip/buf_streams.h"

#include <gtest/gtest.h>

#include <cstring>

#include "core/errors.h"
#include "failure.h"
#include "files.h"

namespace kalv::unzip {
namespace {

using kalv::testing::failure_of;
using kalv::testing::TempDir;

// An in-memory file that records the size of every transfer it is asked for.
class RecordingFile : public platform::FileHandle {
public:
    explicit RecordingFile(std::string bytes, std::vector<size_t>* reads, std::vector<size_t>* writes)
        : bytes_(std::move(bytes)), reads_(reads), writes_(writes) {}
    size_t read(void* buffer, size_t n) override {
        if (reads_) reads_->push_back(n);
        const size_t got = at_ >= bytes_.size() ? 0 : std::min(n, bytes_.size() - at_);
        std::memcpy(buffer, bytes_.data() + at_, got);
        at_ += got;
        return got;
    }
    size_t write(const void* buffer, size_t n) override {
        if (writes_) writes_->push_back(n);
        if (fail_writes) return 0;
        if (bytes_.size() < at_ + n) bytes_.resize(at_ + n);
        std::memcpy(bytes_.data() + at_, buffer, n);
        at_ += n;
        return n;
    }
    bool sync() override { return true; }
    int64_t seek(int64_t offset, platform::SeekOrigin origin) override {
        const int64_t base = origin == platform::SeekOrigin::Begin ? 0
                             : origin == platform::SeekOrigin::Current ? int64_t(at_)
                                                                       : int64_t(bytes_.size());
        if (base + offset < 0) return -1;
        at_ = size_t(base + offset);
        return int64_t(at_);
    }
    int64_t size() override { return int64_t(bytes_.size()); }

    std::string bytes_;
    size_t at_ = 0;
    bool fail_writes = false;
    std::vector<size_t>* reads_;
    std::vector<size_t>* writes_;
};

TEST(BufferedStream, ReadsInWholeBufferTransfersWhateverTheCallersAsk) {
    const std::string data = testing::pseudo_random_bytes(40000, 1);
    std::vector<size_t> reads;
    BufferedStream s(std::make_unique<RecordingFile>(data, &reads, nullptr));
    std::string got;
    char one;
    for (int i = 0; i < 46; ++i) {  // a record's worth of single bytes
        ASSERT_EQ(s.read(&one, 1), 1u);
        got += one;
    }
    std::string block(16000, '\0');
    ASSERT_EQ(s.read(block.data(), block.size()), 16000u);
    got += block;
    std::string rest(30000, '\0');
    rest.resize(s.read(rest.data(), rest.size()));
    got += rest;
    EXPECT_EQ(got, data);
    for (size_t n : reads) EXPECT_EQ(n, BufferedStream::kBufferSize);
    EXPECT_EQ(reads.size(), 6u);  // 5 fills with data, 1 that finds the end
}

// Regression: a seek to a byte the buffer held dropped the buffer, and the next read
// fetched the same bytes again: one seek and one read more for every entry of an
// archive, whose data begin a name's length after the local header.
TEST(BufferedStream, ASeekAmongTheBytesReadAheadReadsNothingAgain) {
    const std::string data = testing::pseudo_random_bytes(40000, 2);
    std::vector<size_t> reads;
    BufferedStream s(std::make_unique<RecordingFile>(data, &reads, nullptr));
    std::string got(30, '\0');
    ASSERT_EQ(s.read(got.data(), got.size()), got.size());  // the buffer holds 0 to 8192
    struct Step {
        int64_t offset;
        int origin;
        int64_t position;
        size_t reads;  // reads of the file so far, after 30 bytes from there
    };
    for (const Step& step : {Step{40, BufferedStream::kFromCurrent, 70, 1}, Step{-12, BufferedStream::kFromCurrent, 88, 1},
                             Step{8000, BufferedStream::kFromBeginning, 8000, 1},
                             Step{8180, BufferedStream::kFromBeginning, 8180, 2},
                             Step{8191, BufferedStream::kFromBeginning, 8191, 3},  // the byte before the buffer
                             Step{100, BufferedStream::kFromBeginning, 100, 4}}) {
        ASSERT_EQ(s.seek(step.offset, step.origin), step.position);
        ASSERT_EQ(s.read(got.data(), got.size()), got.size());
        EXPECT_EQ(got, data.substr(static_cast<size_t>(step.position), got.size()));
        EXPECT_EQ(reads.size(), step.reads) << "after the seek to " << step.position;
    }
}

TEST(BufferedStream, SeekFromTheEndTakesTheAbsoluteOffset) {
    BufferedStream s(std::make_unique<RecordingFile>(std::string(1000, 'x'), nullptr, nullptr));
    EXPECT_EQ(s.seek(22, BufferedStream::kFromEnd), 978);
    EXPECT_EQ(s.seek(-22, BufferedStream::kFromEnd), 978);
    EXPECT_EQ(s.position(), 978);
}

TEST(BufferedStream, LogicalPositionCountsBufferedBytes) {
    const std::string data = testing::pseudo_random_bytes(20000, 2);
    auto file = std::make_unique<RecordingFile>(data, nullptr, nullptr);
    BufferedStream s(std::move(file));
    char buf[10];
    s.read(buf, 10);
    EXPECT_EQ(s.position(), 10);  // 8192 read ahead, 10 consumed
    EXPECT_EQ(s.seek(5, BufferedStream::kFromCurrent), 15);
    s.read(buf, 1);
    EXPECT_EQ(buf[0], data[15]);
    EXPECT_EQ(s.seek(9000, BufferedStream::kFromBeginning), 9000);
    s.read(buf, 1);
    EXPECT_EQ(buf[0], data[9000]);
}

TEST(BufferedStream, PutBackAndItsOverflow) {
    BufferedStream s(std::make_unique<RecordingFile>("abc", nullptr, nullptr));
    char c;
    s.read(&c, 1);
    s.put_back('Z');
    s.read(&c, 1);
    EXPECT_EQ(c, 'Z');
    s.put_back('a');
    EXPECT_EQ(failure_of<StreamError>([&] { s.put_back('q'); }), "Putback overflow")
        << "a second put-back at the buffer's start";
}

TEST(BufferedStream, InvalidOriginAndFailedWriteOutDuringSeek) {
    auto file = std::make_unique<RecordingFile>("", nullptr, nullptr);
    RecordingFile* raw = file.get();
    BufferedStream s(std::move(file));
    EXPECT_EQ(failure_of([&] { s.seek(0, 7); }), "Invalid seek origin (7)");
    s.write("pending", 7);
    raw->fail_writes = true;
    EXPECT_EQ(failure_of<StreamError>([&] { s.seek(0, BufferedStream::kFromBeginning); }), "Seek error");
}

TEST(BufferedStream, WritesInWholeBuffersAndFlushesTheRestOnClose) {
    std::vector<size_t> writes;
    auto file = std::make_unique<RecordingFile>("", nullptr, &writes);
    RecordingFile* raw = file.get();
    std::string data = testing::pseudo_random_bytes(40000, 3);
    {
        BufferedStream s(std::move(file));
        for (size_t at = 0; at < data.size(); at += 16000) {
            const size_t n = std::min<size_t>(16000, data.size() - at);
            ASSERT_EQ(s.write(data.data() + at, n), n);
        }
        EXPECT_EQ(s.position(), 40000);
        EXPECT_EQ(writes, (std::vector<size_t>{8192, 8192, 8192, 8192}));
        EXPECT_TRUE(s.flush());
        EXPECT_EQ(raw->bytes_, data);
    }
    EXPECT_EQ(writes.back(), 40000u - 4 * 8192);
}

TEST(BufferedFileStream, MissingFileAndUncreatableFile) {
    TempDir dir;
    EXPECT_EQ(failure_of<FileStreamError>(
                  [&] { BufferedFileStream s(platform::native(), dir.file("absent.zip"), platform::OpenMode::ReadDenyWrite); }),
              "Cannot open file " + dir.file("absent.zip"));
    EXPECT_EQ(failure_of<FileStreamError>([&] {
                  BufferedFileStream s(platform::native(), dir.file("no-such-dir/out.bin"), platform::OpenMode::CreateNew);
              }),
              "Cannot create file " + dir.file("no-such-dir/out.bin"));
}

TEST(BufferedFileStream, RoundTripThroughARealFile) {
    TempDir dir;
    const std::string data = testing::pseudo_random_bytes(20001, 4);
    {
        BufferedFileStream out(platform::native(), dir.file("f.bin"), platform::OpenMode::CreateNew);
        ASSERT_EQ(out.write(data.data(), data.size()), data.size());
    }
    BufferedFileStream in(platform::native(), dir.file("f.bin"), platform::OpenMode::ReadDenyWrite);
    EXPECT_EQ(in.size(), 20001);
    std::string back(data.size(), '\0');
    EXPECT_EQ(in.read(back.data(), back.size()), data.size());
    EXPECT_EQ(back, data);
}

// Positions beyond 4 GiB pass through the platform's seek and size (lseek with a
// 64-bit off_t; SetFilePointerEx and GetFileSizeEx) in both directions. Sparse: the
// hole before the bytes takes no disk.
TEST(BufferedFileStream, PositionsBeyond4GiB) {
    TempDir dir;
    const int64_t far = (int64_t(1) << 32) * 5 / 4 + 3;
    {
        BufferedFileStream out(platform::native(), dir.file("sparse.bin"), platform::OpenMode::CreateNew);
        ASSERT_EQ(out.seek(far, BufferedStream::kFromBeginning), far);
        ASSERT_EQ(out.write("end", 3), 3u);
        EXPECT_EQ(out.position(), far + 3);
    }
    BufferedFileStream in(platform::native(), dir.file("sparse.bin"), platform::OpenMode::ReadDenyWrite);
    EXPECT_EQ(in.size(), far + 3);
    EXPECT_EQ(in.seek(3, BufferedStream::kFromEnd), far);
    char back[4] = {};
    EXPECT_EQ(in.read(back, 3), 3u);
    EXPECT_STREQ(back, "end");
    EXPECT_EQ(in.position(), far + 3);
}

}  // namespace
}  // namespace kalv::unzip

namespace kalv::unzip {
namespace {

TEST(BufferedStream, WritingAfterReadingStartsWhereTheReaderStood) {
    auto file = std::make_unique<RecordingFile>("abcdefgh", nullptr, nullptr);
    RecordingFile* raw = file.get();
    BufferedStream s(std::move(file));
    char two[2];
    s.read(two, 2);
    s.write("XY", 2);
    EXPECT_EQ(s.position(), 4);
    EXPECT_TRUE(s.flush());
    EXPECT_EQ(raw->bytes_, "abXYefgh");
}

// An entry's data move in transfers of the caller's size: after what the buffer
// holds (or, writing, after the bytes it still holds reach the file).
TEST(BufferedStream, ThroughTransfersTakeTheBufferFirstThenOneTransferOfTheRest) {
    const std::string data = testing::pseudo_random_bytes(40000, 5);
    std::vector<size_t> reads;
    BufferedStream in(std::make_unique<RecordingFile>(data, &reads, nullptr));
    std::string got(10, '\0');
    in.read(got.data(), got.size());
    std::string run(20000, '\0');
    ASSERT_EQ(in.read_through(run.data(), run.size()), 20000u);
    EXPECT_EQ(got + run, data.substr(0, 20010));
    EXPECT_EQ(in.position(), 20010);
    char next;
    ASSERT_EQ(in.read(&next, 1), 1u);  // the buffer takes over again where the run ended
    EXPECT_EQ(next, data[20010]);
    EXPECT_EQ(reads, (std::vector<size_t>{8192, 20000 - 8182, 8192}));
    ASSERT_EQ(in.read_through(run.data(), 9000), 9000u);  // a rest of 809 comes by a fill of the buffer
    EXPECT_EQ(run.substr(0, 9000), data.substr(20011, 9000));
    EXPECT_EQ(reads, (std::vector<size_t>{8192, 20000 - 8182, 8192, 8192}));
    EXPECT_EQ(in.read_through(run.data(), run.size()), 40000u - 29011);  // short at the end

    std::vector<size_t> writes;
    auto file = std::make_unique<RecordingFile>("", nullptr, &writes);
    RecordingFile* raw = file.get();
    BufferedStream out(std::move(file));
    out.write(data.data(), 100);
    ASSERT_EQ(out.write_through(data.data() + 100, 20000), 20000u);
    EXPECT_EQ(out.position(), 20100);
    EXPECT_EQ(writes, (std::vector<size_t>{100, 20000}));
    EXPECT_EQ(raw->bytes_, data.substr(0, 20100));
    out.write(data.data(), 10);
    raw->fail_writes = true;  // the pending 10 bytes cannot be written: nothing of the run is taken
    EXPECT_EQ(out.write_through(data.data(), 5000), 0u);
}

// A derived stream that notes each notification with its byte count.
class NotedStream : public BufferedStream {
public:
    using BufferedStream::BufferedStream;
    ~NotedStream() override { flush(); }
    std::vector<std::string> notes;

protected:
    void after_fill(size_t bytes) override { notes.push_back("fill " + std::to_string(bytes)); }
    void after_flush(size_t bytes) override { notes.push_back("flush " + std::to_string(bytes)); }
};

TEST(BufferedStream, NotifiesEachFillAndEachWriteOutWithItsBytes) {
    const std::string data = testing::pseudo_random_bytes(20000, 4);
    NotedStream reader(std::make_unique<RecordingFile>(data, nullptr, nullptr));
    std::string all(30000, '\0');
    EXPECT_EQ(reader.read(all.data(), all.size()), 20000u);
    EXPECT_EQ(reader.notes, (std::vector<std::string>{"fill 8192", "fill 8192", "fill 3616", "fill 0"}));

    auto file = std::make_unique<RecordingFile>("", nullptr, nullptr);
    RecordingFile* raw = file.get();
    NotedStream writer(std::move(file));
    writer.write(data.data(), 10000);
    raw->fail_writes = true;
    writer.write(data.data(), 7000);  // the second write-out fails: the file took nothing
    EXPECT_EQ(writer.notes, (std::vector<std::string>{"flush 8192", "flush 0"}));
}

}  // namespace
}  // namespace kalv::unzip
