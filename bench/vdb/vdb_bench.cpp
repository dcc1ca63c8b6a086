// Process cost of a status probe, and the export and import utilities against
// the sqlite3 shell's .dump and .read of the same 100,000 rows (in a plain
// SQLite table of their own).
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <ctime>
#include <fstream>
#include <filesystem>
#include <string>
#include <vector>

#include <sqlite3.h>

#include "vdb/db.h"
#include "vdb/demo.h"
#include "vdb/session.h"
#include "vdb/throttle.h"

extern char** environ;

namespace {

// The demo's orders as a table of a plain SQLite file, for the shell to dump:
// the same definition and the same rows.
void write_plain_orders(const vdb::Location& loc, const std::string& file) {
    auto session = vdb::Session::connect(loc, "system", "demo");
    auto table = session->table("SALES", "ORDERS");
    sqlite3* db = nullptr;
    if (!table || sqlite3_open(file.c_str(), &db) != SQLITE_OK) std::exit(1);
    vdb::Stmt(db, "CREATE TABLE \"SALES.ORDERS\" (" + table->definition + ")").run();
    vdb::Stmt(db, "BEGIN").run();
    vdb::Stmt insert(db, "INSERT INTO \"SALES.ORDERS\" VALUES (?, ?, ?, ?, ?, ?, ?)");
    auto reader = session->row_reader("SALES", "ORDERS");
    vdb::Row row;
    while (reader->fetch(row)) {
        vdb::bind_values(insert, row);
        insert.run();
        insert.reset();
    }
    vdb::Stmt(db, "COMMIT").run();
    sqlite3_close(db);
}

struct DemoHome {
    DemoHome() {
        char pattern[] = "/tmp/vdbbenchXXXXXX";
        loc = vdb::Location{mkdtemp(pattern), "PROD"};
        vdb::create_demo_instance(loc);
        setenv("VANTOR_HOME", loc.home.c_str(), 1);
        setenv("VANTOR_SID", loc.sid.c_str(), 1);
        vdb::Session::connect(loc, "system", "demo")->execute("CREATE USER COPY IDENTIFIED BY demo");
        write_plain_orders(loc, path("orders.db"));
    }
    ~DemoHome() { std::filesystem::remove_all(loc.home); }
    std::string path(const std::string& name) const { return loc.home + "/" + name; }
    vdb::Location loc;
};

DemoHome& home() {
    static DemoHome instance;
    return instance;
}

// Runs a program to its end, standard output to out (or nowhere); exits on failure.
void run(const std::vector<std::string>& args, const std::string& out = "/dev/null") {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    std::vector<char*> argv;
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    pid_t pid;
    int status = -1;
    if (posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ) == 0) waitpid(pid, &status, 0);
    posix_spawn_file_actions_destroy(&actions);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "%s failed with status %d\n", args[0].c_str(), status);
        std::exit(1);
    }
}

void drop_copy(benchmark::State& state) {
    state.PauseTiming();
    auto s = vdb::Session::connect(home().loc, "system", "demo");
    try {
        s->execute("DROP TABLE COPY.ORDERS");
    } catch (const vdb::Error&) {
    }
    state.ResumeTiming();
}

void BM_StartOnly(benchmark::State& state) {
    for (auto _ : state) run({VDB_BENCH_NOOP});
}

void BM_StatusProbe(benchmark::State& state) {
    home();
    for (auto _ : state) run({VDB_BENCH_PROBE, "system", "demo"});
}

void BM_Dbdump(benchmark::State& state) {
    std::string file = "FILE=" + home().path("orders.dmp");
    for (auto _ : state) run({VDB_DBDUMP, "system/demo", file, "TABLES=(SALES.ORDERS)"});
}

void BM_SqliteDump(benchmark::State& state) {
    std::string db = home().path("orders.db");
    for (auto _ : state) run({"sqlite3", db, ".dump \"SALES.ORDERS\""}, home().path("orders.sql"));
}

void BM_Dbload(benchmark::State& state) {
    run({VDB_DBDUMP, "system/demo", "FILE=" + home().path("orders.dmp"), "TABLES=(SALES.ORDERS)"});
    std::string file = "FILE=" + home().path("orders.dmp");
    for (auto _ : state) {
        drop_copy(state);
        run({VDB_DBLOAD, "system/demo", file, "FROMUSER=(SALES)", "TOUSER=(COPY)"});
    }
}

void BM_SqliteRead(benchmark::State& state) {
    run({"sqlite3", home().path("orders.db"), ".dump \"SALES.ORDERS\""}, home().path("orders.sql"));
    std::string read = ".read " + home().path("orders.sql");
    for (auto _ : state) {
        state.PauseTiming();
        std::filesystem::remove(home().path("fresh.db"));
        state.ResumeTiming();
        run({"sqlite3", home().path("fresh.db"), read});
    }
}

// A connect in the process, as each tool page makes one or two.
void BM_Connect(benchmark::State& state) {
    home();
    for (auto _ : state) benchmark::DoNotOptimize(vdb::Session::connect(home().loc, "system", "demo"));
}

// The look into the logon record that every connect makes before the
// password is tried, with a record of n refusals of other clients (2,000: an
// hour of guessing from a hundred addresses).
void BM_LogonCheck(benchmark::State& state) {
    const vdb::Location& loc = home().loc;
    {
        std::ofstream record(loc.logon_record_file(), std::ios::trunc);
        std::time_t now = std::time(nullptr);
        for (long n = 0; n < state.range(0); ++n)
            record << now - n << " USER" << n % 7 << " 10.0." << n % 100 << ".1\n";
    }
    for (auto _ : state) vdb::check_logon_allowed(loc, "SYSTEM");
    std::ofstream(loc.logon_record_file(), std::ios::trunc);
}

BENCHMARK(BM_Connect)->Unit(benchmark::kMicrosecond)->UseRealTime()->MinTime(1);
BENCHMARK(BM_LogonCheck)->Arg(0)->Arg(100)->Arg(2000)->Unit(benchmark::kMicrosecond)->UseRealTime()->MinTime(1);
BENCHMARK(BM_StartOnly)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2);
BENCHMARK(BM_StatusProbe)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2);
BENCHMARK(BM_Dbdump)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);
BENCHMARK(BM_SqliteDump)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);
BENCHMARK(BM_Dbload)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);
BENCHMARK(BM_SqliteRead)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);

}  // namespace

BENCHMARK_MAIN();
