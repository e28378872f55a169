// CRC-32 per implementation beside zlib's crc32 and libdeflate's libdeflate_crc32,
// on the same buffers (bytes_per_second is the figure to compare). 64 KiB stays in
// the first two cache levels, as the extraction driver's output blocks do; 16 MiB
// streams from memory.
//
//   build/bench/bench/bench_crc32 --benchmark_repetitions=5 --benchmark_enable_random_interleaving=true
#include <benchmark/benchmark.h>
#include <libdeflate.h>
#include <zlib.h>

#include <random>
#include <string>
#include <vector>

#include "core/crc32.h"
#include "peer_ratios.h"

namespace {

const std::vector<uint8_t>& buffer(size_t n) {
    static std::vector<uint8_t> data;
    if (data.size() < n) {
        std::mt19937 rng(32);
        data.resize(n);
        for (uint8_t& b : data) b = static_cast<uint8_t>(rng());
    }
    return data;
}

template <typename F>
void run(benchmark::State& state, F crc) {
    const size_t n = static_cast<size_t>(state.range(0));
    const uint8_t* data = buffer(n).data();
    for (auto _ : state) benchmark::DoNotOptimize(crc(data, n));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * n));
}

void BM_Kalv(benchmark::State& state, kalv::Crc32Kind kind) {
    const kalv::Crc32Update update = kalv::crc32_implementation(kind);
    if (!update) {
        state.SkipWithError("this CPU lacks it");
        return;
    }
    run(state, [update](const uint8_t* p, size_t n) { return ~update(0xFFFFFFFF, p, n); });
}

void BM_KalvDispatched(benchmark::State& state) { run(state, kalv::crc32_of); }

void BM_Zlib(benchmark::State& state) {
    run(state, [](const uint8_t* p, size_t n) { return crc32(0, p, static_cast<uInt>(n)); });
}

void BM_Libdeflate(benchmark::State& state) {
    run(state, [](const uint8_t* p, size_t n) { return libdeflate_crc32(0, p, n); });
}

void register_all() {
    const std::pair<const char*, kalv::Crc32Kind> kinds[] = {
        {"kalv_slicing8", kalv::Crc32Kind::Slicing8},
        {"kalv_pclmul", kalv::Crc32Kind::Pclmul},
        {"kalv_vpclmul512", kalv::Crc32Kind::Vpclmul512},
    };
    for (const auto& [name, kind] : kinds) benchmark::RegisterBenchmark(name, BM_Kalv, kind)->Arg(64 << 10)->Arg(16 << 20);
    benchmark::RegisterBenchmark("kalv_crc32_update", BM_KalvDispatched)->Arg(64 << 10)->Arg(16 << 20);
    benchmark::RegisterBenchmark("zlib", BM_Zlib)->Arg(64 << 10)->Arg(16 << 20);
    benchmark::RegisterBenchmark("libdeflate", BM_Libdeflate)->Arg(64 << 10)->Arg(16 << 20);
}

}  // namespace

int main(int argc, char** argv) {
    register_all();
    return kalv::bench::run_with_peer_ratios(argc, argv, {"zlib", "libdeflate"});
}
