// The legacy decoders on the largest entries of the legacy test data, decoded from
// memory in the driver's 16000-byte input blocks, with the CRC-32 run over the
// output as the driver's writer does. Each run is labelled "archive:entry" so that
// bench/legacy_vs_unzip.sh can time Info-ZIP unzip on the same entry beside it.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>

#include "../tests/support/entry_data.h"
#include "../tests/support/memory_io.h"
#include "../tests/support/testdata.h"
#include "core/crc32.h"

namespace {

using kalv::testing::EntryData;

struct Subject {
    const char* label;
    const char* archive;
    const char* entry;
};

const Subject kSubjects[] = {
    {"shrink/TEST.BMP", "PKZ110ES-subset.ZIP", "TEST.BMP"},
    {"shrink/TEST.PCX", "PKZ110ES-subset.ZIP", "TEST.PCX"},
    {"shrink/TEST.JPG", "PKZ110ES-subset.ZIP", "TEST.JPG"},
    {"shrink13/TESTDAT3.TXT", "HWSHRINK.ZIP", "TESTDAT3.TXT"},
    {"implode4K2/TEST.BMP", "PKZ110EI-subset.ZIP", "TEST.BMP"},
    {"implode4K2/TEST.PCX", "PKZ110EI-subset.ZIP", "TEST.PCX"},
    {"implode4K2/TEST.JPG", "PKZ110EI-subset.ZIP", "TEST.JPG"},
    {"implode8K3/LOREM.TXT", "lorem-ipsum-implode.zip", "LOREM.TXT"},
    {"implode8K3/TESTDAT3.TXT", "HWIMPODE.ZIP", "TESTDAT3.TXT"},
    {"reduce1/TEST.BMP", "PKZ80B1-subset.ZIP", "TEST.BMP"},
    {"reduce2/TEST.BMP", "PKZ80B2-subset.ZIP", "TEST.BMP"},
    {"reduce3/TEST.BMP", "PKZ80B3-subset.ZIP", "TEST.BMP"},
    {"reduce4/TEST.BMP", "PKZ80B4-subset.ZIP", "TEST.BMP"},
    {"reduce4/TESTDAT3.TXT", "HWREDUCE.ZIP", "TESTDAT3.TXT"},
};

const EntryData* load(const std::string& dir, const Subject& s) {
    static std::map<std::string, std::vector<EntryData>> archives;
    auto it = archives.find(s.archive);
    if (it == archives.end()) {
        auto entries = kalv::testing::read_entry_data(dir + "/" + s.archive, "legacy");
        if (!entries) return nullptr;
        it = archives.emplace(s.archive, std::move(*entries)).first;
    }
    for (const EntryData& e : it->second)
        if (e.name == s.entry) return &e;
    return nullptr;
}

// Runs the CRC over each block as the driver's output writer does.
class CrcSink : public kalv::unzip::OutputSink {
public:
    bool write(const uint8_t* data, size_t n) override {
        crc = kalv::crc32_update(crc, data, n);
        return true;
    }
    uint32_t crc = 0xFFFFFFFF;
};

void decode_entry(benchmark::State& state, const EntryData* e, const std::string& label) {
    std::vector<uint8_t> window(32780);
    for (auto _ : state) {
        kalv::testing::MemoryInput source(e->data, 16000);
        CrcSink sink;
        const kalv::unzip::DecodeJob job{source, sink, window, e->bit_flag, e->compressed_size, e->uncompressed_size};
        kalv::unzip::DecodeStatus status = kalv::unzip::DecodeStatus::BadData;
        switch (e->method) {
            case 1: status = kalv::unzip::unshrink(job); break;
            case 6: status = kalv::unzip::explode(job); break;
            default: status = kalv::unzip::unreduce(job, e->method - 1); break;
        }
        if (status != kalv::unzip::DecodeStatus::Done || ~sink.crc != e->crc) state.SkipWithError("decoding failed");
        benchmark::DoNotOptimize(sink.crc);
    }
    state.SetBytesProcessed(state.iterations() * e->uncompressed_size);
    state.SetLabel(label);
}

bool register_all() {
    auto dir = kalv::testing::find_testdata("legacy").dir;
    if (!dir) return false;
    for (const Subject& s : kSubjects) {
        const EntryData* e = load(*dir, s);
        if (e == nullptr) continue;
        benchmark::RegisterBenchmark((std::string("kalv/") + s.label).c_str(), decode_entry, e,
                                     std::string(s.archive) + ":" + s.entry)
            ->Unit(benchmark::kMicrosecond);
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (!register_all()) {
        std::fprintf(stderr, "legacy test data not found (set KALV_TESTDATA to the shared testdata folder)\n");
        return 0;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
