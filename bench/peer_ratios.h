// The console table of Google Benchmark, followed by each of our benchmarks'
// speed against each peer run on the same input: the peer's CPU time divided by
// ours (above 1: ours is faster). Our benchmarks are named kalv.../<input>, a
// peer's <peer>/<input>. The fastest repetition of each counts, since the shared
// machine's other load only ever slows a run down; run with
// --benchmark_repetitions=N --benchmark_enable_random_interleaving=true so that
// load falls on all alike. (--benchmark_out=FILE still writes JSON or CSV.)
#pragma once

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

namespace kalv::bench {

class PeerRatioReporter : public benchmark::ConsoleReporter {
public:
    // Colours only on a terminal, as the library's own console reporter does.
    explicit PeerRatioReporter(std::vector<std::string> peers)
        : ConsoleReporter(isatty(STDOUT_FILENO) ? OO_Defaults : OO_Tabular), peers_(std::move(peers)) {}

    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            if (run.run_type != Run::RT_Iteration || run.error_occurred) continue;
            const std::string key = run.run_name.function_name + (run.run_name.args.empty() ? "" : "/" + run.run_name.args);
            const double cpu = run.GetAdjustedCPUTime();
            auto [it, inserted] = fastest_.try_emplace(key, cpu);
            if (!inserted) it->second = std::min(it->second, cpu);
        }
    }

    void Finalize() override {
        ConsoleReporter::Finalize();
        std::printf("\nAgainst peers (peer CPU time / ours, fastest repetition; above 1: ours is faster)\n");
        for (const auto& [key, ours] : fastest_) {
            const size_t slash = key.find('/');
            if (key.rfind("kalv", 0) != 0 || slash == std::string::npos) continue;
            std::printf("  %-36s", key.c_str());
            for (const std::string& peer : peers_) {
                const auto it = fastest_.find(peer + key.substr(slash));
                if (it != fastest_.end()) std::printf("  %.2fx %s", it->second / ours, peer.c_str());
            }
            std::printf("\n");
        }
    }

private:
    std::vector<std::string> peers_;
    std::map<std::string, double> fastest_;
};

// main() of a benchmark binary with the peer ratios after its table.
inline int run_with_peer_ratios(int argc, char** argv, std::vector<std::string> peers) {
    benchmark::Initialize(&argc, argv);
    PeerRatioReporter reporter(std::move(peers));
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}

}  // namespace kalv::bench
