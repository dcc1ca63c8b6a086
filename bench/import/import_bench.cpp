// The import tool's figures: how fast the scan reads an export file that the
// page cache holds, and what a selection page of an export file with 5,000
// tables costs as a whole request, against the backup tool's page.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "i/kviscan.h"
#include "support/cgi_run.h"

namespace {

constexpr int PAGE_TABLES = 5000;

const char* bench_home() {
    const char* home = std::getenv("KVI_BENCH_HOME");
    if (!home || !*home) {
        std::fprintf(stderr, "KVI_BENCH_HOME is not set: run this through bench/import/run_bench.sh\n");
        std::exit(1);
    }
    return home;
}

// An export file in the shape the export utility writes: schemas of 250
// tables each, every table with its rows of tab-separated typed values
// (about 55 bytes a row).
void write_export_file(const std::string& path, int tables, int rows_per_table) {
    std::ofstream out(path, std::ios::binary);
    out << "VANTOR EXPORT FILE 1\nDSYSTEM\n-- full database export for the benchmark\n";
    for (int t = 0; t < tables; ++t) {
        if (t % 250 == 0) out << "CONNECT SCHEMA" << t / 250 << "\n";
        out << "CREATE TABLE \"TABLE" << t << "\" (\"ID\" NUMBER(10) PRIMARY KEY, \"CUSTOMER\" VARCHAR2(60), "
            << "\"CITY\" VARCHAR2(40), \"AMOUNT\" NUMBER(10,2), \"CREATED\" DATE) TABLESPACE \"USERS\"\n";
        for (int r = 0; r < rows_per_table; ++r)
            out << "+I" << r << "\tTCustomer " << (r * 7919) % 100000 << "\tTCologne\tF" << (r * 31) % 100000
                << ".25\tT2024-0" << 1 + r % 9 << "-1" << r % 10 << "\n";
    }
}

// 2,000 tables of 2,100 rows (213 MB), made once per run in the run's
// scratch directory.
std::string scan_file() {
    std::string path = std::string(bench_home()) + "/../scan.dmp";
    if (!std::filesystem::exists(path)) write_export_file(path, 2000, 2100);
    return path;
}

void BM_Scan(benchmark::State& state) {
    std::string path = scan_file();
    kvi_scan_result result;
    kvi_scan_file(path.c_str(), &result);  // the file is in the page cache from here on
    for (auto _ : state) {
        if (kvi_scan_file(path.c_str(), &result) != 0 || result.tables.size() != 2000) state.SkipWithError("scan failed");
        benchmark::DoNotOptimize(result);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                            static_cast<int64_t>(std::filesystem::file_size(path)));
}

std::map<std::string, std::string> request(const std::string& home, const std::string& body) {
    std::map<std::string, std::string> env = {
        {"REQUEST_METHOD", body.empty() ? "GET" : "POST"}, {"CONTENT_LENGTH", body.empty() ? "" : std::to_string(body.size())},
        {"QUERY_STRING", body.empty() ? "KVBKUINSTANCE=1" : ""}, {"REMOTE_ADDR", "127.0.0.1"},
        {"SERVER_NAME", "127.0.0.1"}, {"SERVER_PORT", "8080"}, {"SERVER_PROTOCOL", "HTTP/1.1"},
        {"HTTP_COOKIE", "KVCOOKIE=VANTOR_HOME=" + home +
                            "&VANTOR_SID=PROD&KVCUSER=system&KVCPASSWORD=demo&KVCPLEN=0&KVRMTADDR=127.0.0.1&KVLOGPID=1"}};
    return env;
}

void run_page(benchmark::State& state, const std::string& program, const std::string& body) {
    std::string home = bench_home();
    auto env = request(home, body);
    for (auto _ : state) {
        cgi_result r = run_cgi(home + "/kv/bin/" + program, {program}, env, body);
        if (r.exit_code != 0 || r.page.find("</html>") == std::string::npos) state.SkipWithError(r.page.c_str());
    }
}

void BM_BackupPage(benchmark::State& state) { run_page(state, "nph-kvb", ""); }

// The tables page of a file with 5,000 tables of ten rows each (1.6 MB), one
// target user carried from an earlier page: the scan, the user list, five
// entries and the carriers.
void BM_SelectionPage5000Tables(benchmark::State& state) {
    std::string home = bench_home();
    std::string file = home + "/export/tables5000.dmp";
    if (!std::filesystem::exists(file)) write_export_file(file, PAGE_TABLES, 10);
    run_page(state, "nph-kvi",
             "KVIINSTANCE=1&KVIEXPFILE=tables5000.dmp&KVISELECTOPTS=Tables&KVIGRANTSCB=on&KVIINDEXESCB=on"
             "&KVIROWSCB=on&KVIRECLEN=1024&KVIBUFSIZ=4096&KVIINCTYPE=None&KVISUBMIT=More+Tables&KVIMORET=2500"
             "&HDT7=ADAM");
}

}  // namespace

BENCHMARK(BM_Scan)->Unit(benchmark::kMillisecond)->MinTime(3)->UseRealTime();
BENCHMARK(BM_BackupPage)->Unit(benchmark::kMillisecond)->Iterations(100);
BENCHMARK(BM_SelectionPage5000Tables)->Unit(benchmark::kMillisecond)->Iterations(100);
BENCHMARK_MAIN();
