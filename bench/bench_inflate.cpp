// The Deflate decoder beside zlib's inflate and libdeflate on the same raw streams:
// an executable-like corpus (the machine's own programs, concatenated) and a text
// corpus (C headers), each compressed by zlib at levels 6 and 9. The peers decode
// the whole buffer in one call into the whole output buffer, their best case.
//
// kalv runs as the extraction driver runs it: input handed over in 16000-byte
// blocks copied in (the driver's read from the archive), output copied out of the
// decoder's window through the sink (the driver's write to the file). Those two
// copies are the system calls' copies; a tool built on a peer pays them too, but
// not inside the peer's row. kalv_decode is the decoder alone, as the peers' rows
// are: the blocks read in place and the output left where the decoder put it
// (checked once, untimed, through a copying sink). kalv_baseline is the baseline
// x86-64 build and kalv_careful the one-symbol reference path, both as kalv runs.
// After the table come the ratios to zlib and libdeflate (see peer_ratios.h):
//
//   build/bench/bench/bench_inflate --benchmark_repetitions=10 --benchmark_enable_random_interleaving=true
//
// Compressed streams are cached under $TMPDIR so a second run starts at once.
#include <benchmark/benchmark.h>
#include <libdeflate.h>
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "unzip/decoder_io.h"
#include "peer_ratios.h"
#include "unzip/inflate_internal.h"

namespace {

namespace fs = std::filesystem;
using kalv::unzip::DecodeJob;
using kalv::unzip::DecodeStatus;

constexpr size_t kExecutableCorpus = 64u << 20;
constexpr size_t kTextCorpus = 32u << 20;

std::vector<uint8_t> read_file(const fs::path& p) {
    std::ifstream f(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
}

// Regular files under root whose names pass keep, in path order, concatenated up to size.
std::vector<uint8_t> gather(const fs::path& root, size_t size, bool (*keep)(const fs::path&)) {
    std::vector<fs::path> files;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(root, fs::directory_options::skip_permission_denied, ec);
         it != fs::recursive_directory_iterator(); it.increment(ec)) {
        if (ec) break;
        if (it->is_regular_file(ec) && !it->is_symlink(ec) && keep(it->path())) files.push_back(it->path());
    }
    std::sort(files.begin(), files.end());
    std::vector<uint8_t> out;
    for (const fs::path& p : files) {
        if (out.size() >= size) break;
        const std::vector<uint8_t> bytes = read_file(p);
        out.insert(out.end(), bytes.begin(), bytes.end());
    }
    if (out.size() < size) throw std::runtime_error("not enough corpus under " + root.string());
    out.resize(size);
    return out;
}

std::vector<uint8_t> corpus(const std::string& name) {
    if (name == "exe") return gather("/usr/bin", kExecutableCorpus, [](const fs::path&) { return true; });
    return gather("/usr/include", kTextCorpus, [](const fs::path& p) { return p.extension() == ".h"; });
}

std::vector<uint8_t> zlib_deflate(const std::vector<uint8_t>& data, int level) {
    z_stream z{};
    deflateInit2(&z, level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
    std::vector<uint8_t> out(deflateBound(&z, data.size()));
    z.next_in = const_cast<Bytef*>(data.data());
    z.avail_in = static_cast<uInt>(data.size());
    z.next_out = out.data();
    z.avail_out = static_cast<uInt>(out.size());
    if (deflate(&z, Z_FINISH) != Z_STREAM_END) throw std::runtime_error("deflate failed");
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

struct Stream {
    std::vector<uint8_t> original;
    std::vector<uint8_t> compressed;
};

const Stream& stream(const std::string& name, int level) {
    static std::map<std::string, Stream> cache;
    const std::string key = name + "-" + std::to_string(level);
    auto it = cache.find(key);
    if (it != cache.end()) return it->second;
    Stream s;
    s.original = corpus(name);
    // Named by the corpus's CRC too: /usr/bin changes whenever a package is
    // installed, and a stream of an older corpus would then fail every check.
    const unsigned long crc = crc32(crc32(0, nullptr, 0), s.original.data(), static_cast<uInt>(s.original.size()));
    char tag[16];
    std::snprintf(tag, sizeof tag, "%08lx", crc);
    const fs::path cached =
        fs::temp_directory_path() / ("kalv_bench_inflate_" + key + "_" + std::to_string(s.original.size()) + "_" + tag + ".deflate");
    if (fs::exists(cached)) s.compressed = read_file(cached);
    else {
        s.compressed = zlib_deflate(s.original, level);
        std::ofstream(cached, std::ios::binary).write(reinterpret_cast<const char*>(s.compressed.data()), s.compressed.size());
    }
    return cache.emplace(key, std::move(s)).first->second;
}

// The driver's side of the seam, in memory: blocks copied in as the driver reads
// them, or (copy false) handed over in place.
class BlockInput : public kalv::unzip::InputSource {
public:
    BlockInput(const std::vector<uint8_t>& data, bool copy) : data_(data), copy_(copy) {}
    std::span<const uint8_t> next_block() override {
        const size_t n = std::min<size_t>(sizeof block_, data_.size() - position_);
        const uint8_t* from = data_.data() + position_;
        position_ += n;
        if (!copy_) return {from, n};
        std::memcpy(block_, from, n);
        return {block_, n};
    }

private:
    const std::vector<uint8_t>& data_;
    const bool copy_;
    size_t position_ = 0;
    uint8_t block_[16000];
};

// The output copied into memory as the driver writes it to the file, or (out
// null) only counted.
class MemorySink : public kalv::unzip::OutputSink {
public:
    explicit MemorySink(std::vector<uint8_t>* out) : out_(out) {}
    bool write(const uint8_t* data, size_t n) override {
        if (out_) {
            if (written_ + n > out_->size()) throw std::runtime_error("output too long");
            std::memcpy(out_->data() + written_, data, n);
        }
        written_ += n;
        return true;
    }
    size_t written() const { return written_; }

private:
    std::vector<uint8_t>* out_;
    size_t written_ = 0;
};

DecodeStatus decode(const Stream& s, std::vector<uint8_t>* out, bool copy_input, std::vector<uint8_t>& window,
                    const kalv::unzip::InflateOptions& options, size_t* written) {
    BlockInput input(s.compressed, copy_input);
    MemorySink sink(out);
    DecodeJob job{input, sink, window, 0, static_cast<int64_t>(s.compressed.size()), static_cast<int64_t>(s.original.size())};
    const DecodeStatus status = kalv::unzip::inflate_with(job, options);
    *written = sink.written();
    return status;
}

void check_same(benchmark::State& state, const Stream& s, const std::vector<uint8_t>& out, size_t n) {
    if (n != s.original.size() || std::memcmp(out.data(), s.original.data(), n) != 0) state.SkipWithError("wrong output");
}

// with_copies: as the driver runs it; otherwise the decoder alone, its output
// checked by one copying run before the timed ones.
void BM_Kalv(benchmark::State& state, const std::string& name, int level, kalv::unzip::InflateOptions options,
             bool with_copies) {
    const Stream& s = stream(name, level);
    std::vector<uint8_t> out(s.original.size());
    std::vector<uint8_t> window(32780);
    size_t n = 0;
    if (!with_copies && decode(s, &out, false, window, options, &n) != DecodeStatus::Done) state.SkipWithError("decode failed");
    for (auto _ : state) {
        size_t written = 0;
        if (decode(s, with_copies ? &out : nullptr, with_copies, window, options, &written) != DecodeStatus::Done)
            state.SkipWithError("decode failed");
        if (written != s.original.size()) state.SkipWithError("wrong length");
        if (with_copies) n = written;
    }
    check_same(state, s, out, n);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * s.original.size()));
}

void BM_Zlib(benchmark::State& state, const std::string& name, int level) {
    const Stream& s = stream(name, level);
    std::vector<uint8_t> out(s.original.size());
    size_t n = 0;
    for (auto _ : state) {
        z_stream z{};
        inflateInit2(&z, -15);
        z.next_in = const_cast<Bytef*>(s.compressed.data());
        z.avail_in = static_cast<uInt>(s.compressed.size());
        z.next_out = out.data();
        z.avail_out = static_cast<uInt>(out.size());
        if (inflate(&z, Z_FINISH) != Z_STREAM_END) state.SkipWithError("zlib failed");
        n = z.total_out;
        inflateEnd(&z);
    }
    check_same(state, s, out, n);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * s.original.size()));
}

void BM_Libdeflate(benchmark::State& state, const std::string& name, int level) {
    const Stream& s = stream(name, level);
    std::vector<uint8_t> out(s.original.size());
    libdeflate_decompressor* d = libdeflate_alloc_decompressor();
    size_t n = 0;
    for (auto _ : state) {
        if (libdeflate_deflate_decompress(d, s.compressed.data(), s.compressed.size(), out.data(), out.size(), &n) != LIBDEFLATE_SUCCESS)
            state.SkipWithError("libdeflate failed");
    }
    libdeflate_free_decompressor(d);
    check_same(state, s, out, n);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * s.original.size()));
}

void register_all() {
    for (const char* name : {"exe", "text"})
        for (int level : {6, 9}) {
            const std::string suffix = std::string("/") + name + "/level" + std::to_string(level);
            kalv::unzip::InflateOptions baseline, careful;
            baseline.loop = kalv::unzip::FastLoop::Baseline;
            careful.fast = false;
            const kalv::unzip::InflateOptions best;
            benchmark::RegisterBenchmark(("kalv" + suffix).c_str(), BM_Kalv, name, level, best, true)
                ->Unit(benchmark::kMillisecond);
            benchmark::RegisterBenchmark(("kalv_decode" + suffix).c_str(), BM_Kalv, name, level, best, false)
                ->Unit(benchmark::kMillisecond);
            benchmark::RegisterBenchmark(("kalv_baseline" + suffix).c_str(), BM_Kalv, name, level, baseline, true)
                ->Unit(benchmark::kMillisecond);
            benchmark::RegisterBenchmark(("kalv_careful" + suffix).c_str(), BM_Kalv, name, level, careful, true)
                ->Unit(benchmark::kMillisecond);
            benchmark::RegisterBenchmark(("zlib" + suffix).c_str(), BM_Zlib, name, level)->Unit(benchmark::kMillisecond);
            benchmark::RegisterBenchmark(("libdeflate" + suffix).c_str(), BM_Libdeflate, name, level)->Unit(benchmark::kMillisecond);
        }
}

}  // namespace

int main(int argc, char** argv) {
    register_all();
    return kalv::bench::run_with_peer_ratios(argc, argv, {"zlib", "libdeflate"});
}
