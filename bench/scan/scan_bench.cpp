// The import tool's scan of an export file, on a large real dump that the
// page cache holds: how many bytes a second kvi_scan_file reads. The file is
// named by KV_SCAN_FILE; bench/run.sh makes it from the demo's own export.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "i/kviscan.h"

namespace {

std::string scan_file() {
    const char* path = std::getenv("KV_SCAN_FILE");
    if (!path || !*path) {
        std::fprintf(stderr, "KV_SCAN_FILE is not set: name the export file to scan\n");
        std::exit(2);
    }
    return path;
}

void BM_ScanExportFile(benchmark::State& state) {
    const std::string path = scan_file();
    kvi_scan_result result;
    // Once untimed: the file is in the page cache from here on, and the count
    // of tables every timed scan must find again.
    if (kvi_scan_file(path.c_str(), &result) != 0 || result.tables.empty()) {
        state.SkipWithError(("cannot scan " + path).c_str());
        return;
    }
    const size_t tables = result.tables.size();
    for (auto _ : state) {
        if (kvi_scan_file(path.c_str(), &result) != 0 || result.tables.size() != tables) {
            state.SkipWithError("a scan found other tables than the first");
            return;
        }
        benchmark::DoNotOptimize(result);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                            static_cast<int64_t>(std::filesystem::file_size(path)));
    state.counters["tables"] = static_cast<double>(tables);
}

}  // namespace

BENCHMARK(BM_ScanExportFile)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(1)->Repetitions(5)
    ->ReportAggregatesOnly(true);
BENCHMARK_MAIN();
