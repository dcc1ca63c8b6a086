// Sessions: the store beside the instance, v$session, ending a session (by
// statement, by vdbadm, by shutdown immediate) and the shutdown modes.
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <set>
#include <sstream>
#include <thread>

#include "instance_fixture.h"
#include "platform/dbcall.h"
#include "vdb/event_log.h"
#include "vdb/sessions.h"

extern char** environ;

namespace vdbtest {
namespace {

using namespace std::chrono_literals;

// A program running with its standard output and error on pipes that nobody
// reads until drain(): with the pipes at their smallest, a program that writes
// much blocks in a write, as under a page whose reader stalls.
struct Child {
    pid_t pid = 0;
    int out = -1, err = -1;

    Child(const std::vector<std::string>& args, const std::string& dir) {
        int out_pipe[2], err_pipe[2];
        EXPECT_EQ(pipe2(out_pipe, O_CLOEXEC), 0);
        EXPECT_EQ(pipe2(err_pipe, O_CLOEXEC), 0);
        for (int fd : {out_pipe[0], err_pipe[0]}) fcntl(fd, F_SETPIPE_SZ, 4096);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out_pipe[1], 1);
        posix_spawn_file_actions_adddup2(&actions, err_pipe[1], 2);
        posix_spawn_file_actions_addchdir_np(&actions, dir.c_str());
        std::vector<char*> argv;
        for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        EXPECT_EQ(posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ), 0);
        posix_spawn_file_actions_destroy(&actions);
        close(out_pipe[1]);
        close(err_pipe[1]);
        out = out_pipe[0];
        err = err_pipe[0];
    }
    ~Child() {
        if (pid > 0) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
        }
        close(out);
        close(err);
    }

    // Reads both pipes to their end and returns standard error; status gets the exit status.
    std::string drain(int& status) {
        std::thread discard([fd = out] {
            char buffer[65536];
            while (read(fd, buffer, sizeof buffer) > 0) {
            }
        });
        std::string text;
        char buffer[4096];
        for (ssize_t n; (n = read(err, buffer, sizeof buffer)) > 0;) text.append(buffer, static_cast<size_t>(n));
        discard.join();
        int raw = 0;
        waitpid(pid, &raw, 0);
        pid = 0;
        status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
        return text;
    }
};

std::string last_line(const std::string& text) {
    size_t end = text.find_last_not_of('\n');
    if (end == std::string::npos) return "";
    size_t begin = text.rfind('\n', end);
    return text.substr(begin == std::string::npos ? 0 : begin + 1, end - (begin == std::string::npos ? 0 : begin + 1) + 1);
}

std::vector<std::string> files_in(const std::string& dir) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    return names;
}

class SessionTest : public InstanceTest {
protected:
    // The first session whose program is program and whose action begins with
    // action, waited for up to ten seconds.
    std::optional<vdb::SessionInfo> await_session(const std::string& program, const std::string& action = "") {
        for (auto until = std::chrono::steady_clock::now() + 10s; std::chrono::steady_clock::now() < until;) {
            for (const auto& s : vdb::list_sessions(loc))
                if (s.program == program && s.action.starts_with(action)) return s;
            std::this_thread::sleep_for(1ms);
        }
        return std::nullopt;
    }

    // count tables SYSTEM.T1.. with rows rows each, filled the fast way.
    void add_tables(int count, int rows) {
        auto s = as("system");
        for (int t = 1; t <= count; ++t) {
            std::string name = "T" + std::to_string(t);
            s->execute("CREATE TABLE SYSTEM." + name + " (ID NUMBER(10) PRIMARY KEY, NAME VARCHAR2(40))");
            auto writer = s->row_writer("SYSTEM", name);
            for (int r = 1; r <= rows; ++r)
                writer->add({vdb::Value::of(int64_t{r}), vdb::Value::of(std::string_view("row number " + std::to_string(r)))});
            writer->flush();
            writer.reset();
            s->commit();
        }
    }

    std::string parameter_file(const std::vector<std::string>& lines) {
        std::string path = loc.export_dir() + "/par" + std::to_string(++parfiles_);
        std::ofstream out(path);
        for (const auto& line : lines) out << line << "\n";
        return path;
    }

    std::string dump_file() const { return loc.export_dir() + "/expdat.dmp"; }

    std::string events() {
        std::string all;
        for (const auto& line : vdb::event_log_tail(loc, 100)) all += line + "\n";
        return all;
    }

    int parfiles_ = 0;
};

TEST_F(SessionTest, ConnectRegistersAndDisconnectRemoves) {
    setenv("REMOTE_ADDR", "192.0.2.7", 1);
    auto first = as("system");
    unsetenv("REMOTE_ADDR");
    auto second = vdb::Session::connect(loc, "internal", "demo", vdb::Logon::privileged);
    auto sessions = vdb::list_sessions(loc);
    ASSERT_EQ(sessions.size(), 2u);
    EXPECT_EQ(sessions[0].user, "SYSTEM");
    EXPECT_EQ(sessions[0].client, "192.0.2.7");
    EXPECT_EQ(sessions[1].user, "SYS");
    EXPECT_EQ(sessions[1].client, "");
    for (const auto& s : sessions) {
        EXPECT_EQ(s.program, "vdb_tests");
        EXPECT_EQ(s.process, getpid());
        EXPECT_FALSE(s.active);
    }
    EXPECT_NE(sessions[0].number, sessions[1].number);
    int number = sessions[0].number;
    uint32_t serial = sessions[0].serial;
    first.reset();
    ASSERT_EQ(vdb::list_sessions(loc).size(), 1u);
    // The number is taken again, with a new serial: the old id names no session.
    auto third = as("system");
    auto again = vdb::list_sessions(loc);
    ASSERT_EQ(again.size(), 2u);
    auto reused = std::find_if(again.begin(), again.end(), [&](const auto& s) { return s.number == number; });
    ASSERT_NE(reused, again.end());
    EXPECT_EQ(reused->serial, serial + 1);
    EXPECT_EQ(code_of([&] { vdb::end_session(loc, number, serial); }), vdb::code::session_missing);
    second.reset();
    third.reset();
    EXPECT_TRUE(vdb::list_sessions(loc).empty());
}

TEST_F(SessionTest, ParallelProcessesGetSessionsOfTheirOwnAndKilledOnesLeaveNone) {
    constexpr int children = 6;
    int hold[2];
    ASSERT_EQ(pipe(hold), 0);
    std::vector<pid_t> pids;
    for (int i = 0; i < children; ++i) {
        pid_t pid = fork();
        if (pid == 0) {
            close(hold[1]);
            // Each connects and disconnects again and again, then stays until told.
            for (int round = 0; round < 20; ++round) as("system");
            auto session = as("system");
            char byte;
            if (read(hold[0], &byte, 1) < 0) _exit(1);
            _exit(0);
        }
        pids.push_back(pid);
    }
    close(hold[0]);
    std::vector<vdb::SessionInfo> sessions;
    for (auto until = std::chrono::steady_clock::now() + 20s;
         sessions.size() < children && std::chrono::steady_clock::now() < until;
         std::this_thread::sleep_for(5ms))
        sessions = vdb::list_sessions(loc);
    ASSERT_EQ(sessions.size(), size_t{children});
    std::set<int> numbers, processes;
    for (const auto& s : sessions) {
        numbers.insert(s.number);
        processes.insert(s.process);
    }
    EXPECT_EQ(numbers.size(), size_t{children});
    EXPECT_EQ(processes, std::set<int>(pids.begin(), pids.end()));
    // Killed without a chance to disconnect: their sessions go at the next read.
    for (pid_t pid : pids) kill(pid, SIGKILL);
    for (pid_t pid : pids) waitpid(pid, nullptr, 0);
    close(hold[1]);
    EXPECT_TRUE(vdb::list_sessions(loc).empty());
}

TEST_F(SessionTest, VSessionIsForDbasAndShowsWhatEachSessionDoes) {
    add_sales();
    auto idle = as("eve");
    EXPECT_EQ(code_of([&] { idle->query("select sid from sys.v$session"); }), vdb::code::no_privilege);
    EXPECT_EQ(code_of([&] { idle->query("select sid from \"SYS.V$SESSION\""); }), vdb::code::invalid_identifier);
    auto dba = as("system");
    auto cursor = dba->query(
        "select sid, serial#, username, status, program, machine, process, logon_time, action, last_call_et "
        "from sys.v$session order by username");
    vdb::Row row;
    std::vector<std::string> seen;
    while (cursor->fetch(row)) seen.push_back(row[2].to_text() + " " + row[3].to_text() + " " + row[4].to_text() +
                                              " " + row[6].to_text() + " " + std::to_string(row[7].to_text().size()));
    std::string pid = std::to_string(getpid());
    EXPECT_EQ(seen, (std::vector<std::string>{"EVE INACTIVE vdb_tests " + pid + " 19",
                                              "SYSTEM ACTIVE vdb_tests " + pid + " 19"}));
}

TEST_F(SessionTest, AnEndedSessionLosesItsTransactionAndGetsTheError) {
    add_sales();
    auto victim = as("sales");
    victim->execute("insert into orders values (9, 'Lost', 1)");
    auto me = vdb::list_sessions(loc).back();
    auto dba = as("system");
    auto eve = as("eve");
    std::string id = "'" + std::to_string(me.number) + "," + std::to_string(me.serial) + "'";
    struct Case {
        std::string statement;
        vdb::Session* by;
        int code;
    };
    const Case cases[] = {
        {"alter system kill session " + id, eve.get(), vdb::code::no_privilege},
        {"alter system kill session '99,1'", dba.get(), vdb::code::session_missing},
        {"alter system kill session '1;2'", dba.get(), vdb::code::session_missing},
        {"alter system kill session 7", dba.get(), vdb::code::missing_expression},
        {"alter system kill session " + id + " immediate", dba.get(), 0},
        {"alter system kill session " + id, dba.get(), 0},  // ended already, still connected
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.statement);
        EXPECT_EQ(code_of([&] { c.by->execute(c.statement); }), c.code);
    }
    for (auto statement : {"select count(*) from orders", "commit"})
        EXPECT_EQ(code_of([&] { victim->execute(statement); }), vdb::code::session_ended) << statement;
    EXPECT_EQ(number("select count(*) from sales.orders"), 3);
    EXPECT_NE(events().find("ended by an administrator"), std::string::npos) << events();
    auto own = vdb::list_sessions(loc);
    EXPECT_EQ(code_of([&] { dba->execute("alter system kill session '" + std::to_string(own[1].number) + "," +
                                         std::to_string(own[1].serial) + "'"); }),
              vdb::code::invalid_sql);
}

// A dbdump whose progress nobody reads blocks in its report: ending its session
// (vdbadm kill, or shutdown immediate) stops it without an export file, and an
// existing file of that name keeps its contents.
TEST_F(SessionTest, AnEndedExportLeavesNoFileAndSaysWhy) {
    add_tables(120, 2);
    struct Case {
        std::string how;
        std::function<void(const vdb::SessionInfo&)> end;
        bool old_file;
    };
    const Case cases[] = {
        {"vdbadm kill",
         [&](const vdb::SessionInfo& s) {
             Child kill({VDB_VDBADM, "--home", loc.home, "kill", loc.sid,
                         std::to_string(s.number) + "," + std::to_string(s.serial)},
                        loc.home);
             int status = -1;
             EXPECT_EQ(kill.drain(status), "");
             EXPECT_EQ(status, 0);
         },
         true},
        {"shutdown immediate", [&](const vdb::SessionInfo&) { vdb::shutdown(loc, vdb::shutdown_immediate); }, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.how);
        vdb::start_instance(loc);
        if (c.old_file) std::ofstream(dump_file()) << "the export of yesterday\n";
        std::string parfile = parameter_file({"system/demo", "FILE=" + dump_file(), "FULL=Y"});
        Child dump({VDB_DBDUMP, "PARFILE=" + parfile}, loc.export_dir());
        auto session = await_session("dbdump", "exporting");
        ASSERT_TRUE(session);
        c.end(*session);
        int status = -1;
        std::string report = dump.drain(status);
        EXPECT_EQ(status, 1);
        EXPECT_EQ(last_line(report), "dbdump: stopped: the session was ended by an administrator.") << report;
        std::filesystem::remove(parfile);
        EXPECT_EQ(files_in(loc.export_dir()), c.old_file ? std::vector<std::string>{"expdat.dmp"}
                                                         : std::vector<std::string>{});
        if (c.old_file) {
            std::ifstream in(dump_file());
            std::string text((std::istreambuf_iterator<char>(in)), {});
            EXPECT_EQ(text, "the export of yesterday\n");
            std::filesystem::remove(dump_file());
        }
        EXPECT_TRUE(vdb::list_sessions(loc).empty());
    }
    EXPECT_NE(events().find("shut down (immediate, 1 sessions ended)"), std::string::npos) << events();
}

TEST_F(SessionTest, AnEndedImportKeepsTheTablesItFinished) {
    add_tables(2, 3);
    {
        auto s = as("system");
        s->execute("CREATE TABLE SYSTEM.T3 (ID NUMBER(10) PRIMARY KEY, NAME VARCHAR2(40))");
        auto writer = s->row_writer("SYSTEM", "T3");
        for (int r = 1; r <= 300000; ++r) writer->add({vdb::Value::of(int64_t{r}), vdb::Value::of(std::string_view("a row"))});
        writer->flush();
        writer.reset();
        s->commit();
    }
    run({"CREATE USER COPY IDENTIFIED BY demo"});
    std::string dump = parameter_file({"system/demo", "FILE=" + dump_file()});
    Child exporter({VDB_DBDUMP, "PARFILE=" + dump}, loc.export_dir());
    int status = -1;
    exporter.drain(status);
    ASSERT_EQ(status, 0);

    std::string load = parameter_file({"system/demo", "FILE=" + dump_file(), "FROMUSER=SYSTEM", "TOUSER=COPY"});
    Child importer({VDB_DBLOAD, "PARFILE=" + load}, loc.export_dir());
    auto session = await_session("dbload", "importing COPY.T3: ");
    ASSERT_TRUE(session);
    vdb::end_session(loc, session->number, session->serial);
    std::string report = importer.drain(status);
    EXPECT_EQ(status, 1);
    EXPECT_NE(report.find(". . table T3 into COPY was rolled back: no rows were kept\n"
                          ". tables imported in full: COPY.T1, COPY.T2\n"),
              std::string::npos)
        << report;
    EXPECT_EQ(last_line(report), "dbload: stopped: the session was ended by an administrator.");
    EXPECT_EQ(number("select count(*) from copy.t1"), 3);
    EXPECT_EQ(number("select count(*) from copy.t2"), 3);
    EXPECT_EQ(number("select count(*) from copy.t3"), 0);
}

TEST_F(SessionTest, AStatementBlockedOnItsReaderEndsAtTheSignal) {
    add_tables(1, 20000);
    Child sql({VDB_VDBADM, "--home", loc.home, "sql", loc.sid, "system/demo", "select * from t1"}, loc.home);
    auto session = await_session("vdbadm");
    ASSERT_TRUE(session);
    // Its output fills the pipe that nobody reads: it waits in a write.
    std::this_thread::sleep_for(100ms);
    vdb::end_session(loc, session->number, session->serial);
    auto started = std::chrono::steady_clock::now();
    std::string error;
    char buffer[512];
    for (ssize_t n; (n = read(sql.err, buffer, sizeof buffer)) > 0;) error.append(buffer, static_cast<size_t>(n));
    EXPECT_LT(std::chrono::steady_clock::now() - started, 1s);
    EXPECT_EQ(error, "vdbadm: error -3100: the session was ended by an administrator\n");
    int status = -1;
    sql.drain(status);
    EXPECT_EQ(status, 1);
}

TEST_F(SessionTest, ShutdownModes) {
    auto other = as("system");
    // Normal: refused while another session is there, the caller's own aside.
    dbc_host_area hda{};
    ASSERT_EQ(dbc_connect_privileged(&hda, "internal", "demo"), 0);
    EXPECT_EQ(dbc_shutdown(&hda, DBC_SHUTDOWN_NORMAL), vdb::code::sessions_connected);
    EXPECT_NE(std::string(hda.message).find("1 other session"), std::string::npos) << hda.message;
    EXPECT_EQ(dbc_shutdown(&hda, 7), vdb::code::not_supported);
    other.reset();
    EXPECT_EQ(dbc_shutdown(&hda, DBC_SHUTDOWN_NORMAL), 0);
    EXPECT_EQ(vdb::read_state(loc).instance, vdb::Instance::down);
    dbc_disconnect_privileged(&hda);

    // Abort: down at once; a session's next statement finds the instance down,
    // and its open work is gone.
    vdb::start_instance(loc);
    run({"CREATE TABLE SYSTEM.T (ID NUMBER)"});
    auto working = as("system");
    working->execute("insert into t values (1)");
    vdb::shutdown(loc, vdb::shutdown_abort);
    EXPECT_EQ(code_of([&] { working->execute("insert into t values (2)"); }), vdb::code::instance_down);
    working.reset();
    vdb::start_instance(loc);
    EXPECT_EQ(number("select count(*) from t"), 0);
    std::string log = events();
    for (const char* mode : {"(normal)", "(abort)"}) EXPECT_NE(log.find(mode), std::string::npos) << log;
}

}  // namespace
}  // namespace vdbtest
