// The instance engine: logons, states, the dictionary, statements and space.
#include <sqlite3.h>
#include <sys/stat.h>

#include <ctime>
#include <functional>
#include <regex>

#include "instance_fixture.h"
#include "vdb/password.h"
#include "vdb/state.h"

namespace vdbtest {
namespace {

using vdb::Instance;
using vdb::Service;

class EngineTest : public InstanceTest {};

TEST_F(EngineTest, ConnectCodesFollowTheInstanceState) {
    struct Case {
        const char* what;
        std::function<void(vdb::Location&)> arrange;
        const char* password;
        int code;
    };
    const Case cases[] = {
        {"open, right password", [](vdb::Location&) {}, "demo", 0},
        {"open, wrong password", [](vdb::Location&) {}, "Demo", vdb::code::bad_logon},
        {"unknown SID", [](vdb::Location& l) { l.sid = "NOPE"; }, "demo", vdb::code::unknown_sid},
        {"service stopped", [](vdb::Location& l) { vdb::stop_service(l); }, "demo", vdb::code::service_stopped},
        {"instance down", [](vdb::Location& l) { vdb::stop_instance(l); }, "demo", vdb::code::instance_down},
        {"mounted",
         [](vdb::Location& l) {
             vdb::stop_instance(l);
             vdb::update_state(l, [](vdb::State& s) { s.instance = Instance::mounted; });
         },
         "demo", vdb::code::instance_starting},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        vdb::start_instance(loc);
        vdb::Location target = loc;
        c.arrange(target);
        EXPECT_EQ(code_of([&] { vdb::Session::connect(target, "system", c.password); }), c.code);
        vdb::start_service(loc);
    }
}

TEST_F(EngineTest, UserNamesFoldButPasswordsAreExact) {
    EXPECT_EQ(as("SyStEm")->user(), "SYSTEM");
    EXPECT_EQ(code_of([&] { vdb::Session::connect(loc, "system", "DEMO"); }), vdb::code::bad_logon);
    EXPECT_EQ(as("internal")->user(), "SYS");
}

// Division keeps its fraction wherever it stands, as the server's numbers do,
// and a "/" inside a literal or a comment stays text.
TEST_F(EngineTest, DivisionIsExact) {
    const std::pair<const char*, const char*> cases[] = {
        {"7/2", "3.5"},          {"-7/2", "-3.5"},     {"10/5", "2"},      {"2*3/4", "1.5"},
        {"1-6/4", "-0.5"},       {"(3+4)/(1+1)", "3.5"}, {"8/2/2", "2"},   {"7/2*2", "7"},
        {"round(8254300/1024)", "8061"}, {"'7/2'", "7/2"}, {"7/2 /* 1/2 */", "3.5"}, {"count(*)/4", "0.25"},
    };
    for (const auto& [expression, shown] : cases) {
        SCOPED_TRACE(expression);
        EXPECT_EQ(column(std::string("select ") + expression + " from dual"), std::vector<std::string>{shown});
    }
    // The usage page's kilobytes of a data file whose size is no whole number of them.
    run({"CREATE TABLESPACE ODD DATAFILE '" + file("odd.dbf") + "' SIZE 8254300"});
    EXPECT_EQ(column("select round((sum(bytes)/1024)) from sys.dba_data_files where tablespace_name='ODD'"),
              std::vector<std::string>{"8061"});
}

// The digest runs on the processor's SHA instructions where it has them:
// messages of one, two and many blocks give the published digests, and a
// hash that instances already hold still admits its password.
TEST(PasswordHash, DigestsAndStoredHashesStayTheSame) {
    struct Case {
        std::string message;
        const char* digest;
    } cases[] = {
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {std::string(1000000, 'a'), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
    };
    for (const auto& c : cases) EXPECT_EQ(vdb::sha256_hex(c.message), c.digest) << c.message.size() << " bytes";

    const char* stored = "4f39de0e9fbebb63b4567f3ea07d3962$bccd56e9df32ef08cdd9550d5bd01a4c821bb89220462afb01d3c7ba2585b85c";
    EXPECT_TRUE(vdb::password_matches("demo", stored));
    EXPECT_FALSE(vdb::password_matches("Demo", stored));
    std::string fresh = vdb::hash_password("demo");
    EXPECT_TRUE(vdb::is_password_hash(fresh));
    EXPECT_TRUE(vdb::password_matches("demo", fresh));
}

TEST_F(EngineTest, ServiceStartOpensOnlyWithAutostartAndLeavesARunningServiceAlone) {
    vdb::stop_service(loc);
    EXPECT_TRUE(vdb::start_service(loc));
    EXPECT_EQ(vdb::read_state(loc).instance, Instance::open);

    vdb::stop_instance(loc);
    EXPECT_FALSE(vdb::start_service(loc));  // already running: nothing changes
    EXPECT_EQ(vdb::read_state(loc).instance, Instance::down);

    vdb::stop_service(loc);
    vdb::write_file_atomically(loc.parameter_file(), "db_name = TEST\nautostart = false\n");
    EXPECT_TRUE(vdb::start_service(loc));
    EXPECT_EQ(vdb::read_state(loc).service, Service::running);
    EXPECT_EQ(vdb::read_state(loc).instance, Instance::down);
}

// The state file says when the instance left down, and forgets it when it goes
// down again; a state file written before it did so still reads.
TEST_F(EngineTest, TheStateRecordsWhenTheInstanceStartedUntilItIsDown) {
    const std::regex stamp(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d)");
    std::time_t created = vdb::read_state(loc).started;
    EXPECT_LE(std::abs(std::time(nullptr) - created), 5);
    EXPECT_TRUE(std::regex_match(vdb::started_text(vdb::read_state(loc)), stamp));

    vdb::stop_instance(loc);
    EXPECT_EQ(vdb::read_state(loc).started, 0);
    EXPECT_EQ(vdb::started_text(vdb::read_state(loc)), "");
    EXPECT_EQ(vdb::read_file(loc.state_file()).find("started"), std::string::npos);

    vdb::update_state(loc, [](vdb::State& s) { s.started = 1; });  // a down instance keeps no time
    EXPECT_EQ(vdb::read_state(loc).started, 0);

    vdb::start_instance(loc);  // started, mounted, open: one start time
    vdb::State open = vdb::read_state(loc);
    EXPECT_LE(std::abs(std::time(nullptr) - open.started), 5);
    EXPECT_TRUE(std::regex_match(vdb::started_text(open), stamp));

    for (const char* old : {"service = running\ninstance = open\n", "service = running\ninstance = open\nstarted = x1\n"}) {
        vdb::write_file_atomically(loc.state_file(), old);
        EXPECT_EQ(vdb::read_state(loc).instance, Instance::open);
        EXPECT_EQ(vdb::started_text(vdb::read_state(loc)), "");
        EXPECT_EQ(code_of([&] { as("system"); }), 0);
    }
}

TEST_F(EngineTest, NamedServiceStartReportsWhetherTheServiceRuns) {
    vdb::stop_service(loc);
    EXPECT_EQ(vdb::start_named_service(loc.home, "VantorServiceTEST"), 1);
    EXPECT_EQ(vdb::read_state(loc).instance, Instance::open);
    EXPECT_EQ(vdb::start_named_service(loc.home, "VantorServiceTEST"), 1);
    EXPECT_EQ(vdb::start_named_service(loc.home, "VantorServiceNOPE"), 0);
    EXPECT_EQ(vdb::start_named_service(loc.home, "OtherServiceTEST"), 0);
}

TEST_F(EngineTest, ShutdownEndsTheSessionsOfOthersAtTheirNextStatement) {
    auto session = as("system");
    vdb::stop_instance(loc);
    EXPECT_EQ(code_of([&] { session->query("select 1 from dual"); }), vdb::code::instance_down);
}

TEST_F(EngineTest, DefinitionsNeedTheDbaRole) {
    add_sales();
    const char* statements[] = {
        "CREATE TABLESPACE T2 DATAFILE '/tmp/never.dbf' SIZE 1M",
        "ALTER TABLESPACE USERS OFFLINE NORMAL",
        "DROP TABLESPACE USERS",
        "CREATE USER X IDENTIFIED BY y",
        "DROP USER SALES CASCADE",
        "ALTER USER SALES ACCOUNT LOCK",
        "ALTER USER EVE IDENTIFIED BY other",
        "GRANT DBA TO EVE",
        "REVOKE CONNECT FROM EVE",
        "CREATE TABLE EVE.T (A NUMBER)",
        "CREATE INDEX SALES.IX ON SALES.ORDERS (AMOUNT)",
        "DROP TABLE SALES.ORDERS",
        "ALTER DATABASE OPEN",
    };
    auto eve = as("eve");
    for (const char* statement : statements) {
        SCOPED_TRACE(statement);
        EXPECT_EQ(code_of([&] { eve->execute(statement); }), vdb::code::no_privilege);
    }
    for (const char* view : {"sys.dba_data_files", "sys.dba_users", "sys.dba_role_privs"})
        EXPECT_EQ(code_of([&] { eve->query(std::string("select count(*) from ") + view); }), vdb::code::no_privilege)
            << view;
    EXPECT_EQ(code_of([&] { eve->query("select count(*) from sales.orders"); }), vdb::code::table_missing);
    EXPECT_FALSE(std::filesystem::exists("/tmp/never.dbf"));
}

TEST_F(EngineTest, StatementsReachOnlyResolvedTables) {
    add_sales();
    auto sales = as("sales");
    const char* refused[] = {"select * from vdb_users", "select * from sqlite_master",
                             "select * from \"SALES.ORDERS\"", "select 1 from dual; select 2 from dual",
                             "select * from orders where id in (select id from vdb_segments)",
                             "select 1 from dual where 'DBA' in vdb_roles"};
    for (const char* statement : refused) {
        SCOPED_TRACE(statement);
        EXPECT_LT(code_of([&] { sales->query(statement); }), 0);
    }
    // Unqualified names are the session's own; qualified columns keep working.
    auto cursor = sales->query("select orders.customer from orders where orders.id = 2");
    vdb::Row row;
    ASSERT_TRUE(cursor->fetch(row));
    EXPECT_EQ(row[0].to_text(), "Novak");
}

// An instance file of another layout is refused with a message that says what
// to do, never read as if it were empty.
TEST_F(EngineTest, AnInstanceOfAnotherLayoutIsRefusedAtConnect) {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(loc.database_file().c_str(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db, "PRAGMA user_version = 1", nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(db);
    try {
        as("system");
        FAIL() << "the connect succeeded";
    } catch (const vdb::Error& error) {
        EXPECT_EQ(error.code(), vdb::code::io_failure);
        EXPECT_NE(std::string(error.what()).find("vdbadm create"), std::string::npos) << error.what();
    }
}

TEST_F(EngineTest, DataFilesAreRealFilesAtTheirDeclaredSize) {
    run({"alter tablespace USERS add datafile '" + file("KVS001.dbf") +
         "' size 100K autoextend on next 50K maxsize 1000K"});
    struct stat st {};
    ASSERT_EQ(stat(file("KVS001.dbf").c_str(), &st), 0);
    EXPECT_EQ(st.st_size, 100 * 1024);
    EXPECT_LT(st.st_blocks * 512, st.st_size);  // sparse
    EXPECT_EQ(number("select bytes from sys.dba_data_files where file_name = '" + file("KVS001.dbf") + "'"),
              100 * 1024);
    EXPECT_EQ(number("select maxbytes from sys.dba_data_files where file_name = '" + file("KVS001.dbf") + "'"),
              1000 * 1024);

    struct Case {
        std::string statement;
        int code;
    };
    const Case refused[] = {
        {"create tablespace T2 datafile '" + file("KVS001.dbf") + "' size 100K", vdb::code::datafile_error},
        {"create tablespace T2 datafile '" + loc.parameter_file() + "' size 100K", vdb::code::datafile_error},
        {"create tablespace T2 datafile 'relative.dbf' size 100K", vdb::code::datafile_error},
        {"create tablespace USERS datafile '" + file("u2.dbf") + "' size 100K", vdb::code::tablespace_exists},
        {"alter tablespace NOPE add datafile '" + file("n.dbf") + "' size 100K", vdb::code::tablespace_missing},
        {"create tablespace T2 datafile '" + file("t2.dbf") + "' size 100K autoextend on next 8K maxsize 50K",
         vdb::code::datafile_error},
    };
    auto system = as("system");
    for (const auto& c : refused) {
        SCOPED_TRACE(c.statement);
        EXPECT_EQ(code_of([&] { system->execute(c.statement); }), c.code);
    }
    EXPECT_FALSE(std::filesystem::exists("relative.dbf"));
    EXPECT_FALSE(std::filesystem::exists(file("t2.dbf")));
    EXPECT_TRUE(std::filesystem::exists(loc.parameter_file()));
}

TEST_F(EngineTest, OfflineTablespaceRefusesItsTables) {
    add_sales();
    run({"ALTER TABLESPACE USERS OFFLINE NORMAL"});
    EXPECT_EQ(column("select status from sys.dba_tablespaces where tablespace_name='USERS'").at(0), "OFFLINE");
    auto system = as("system");
    EXPECT_EQ(code_of([&] { system->execute("INSERT INTO SALES.ITEMS VALUES (3, 'Mouse')"); }),
              vdb::code::tablespace_offline);
    EXPECT_EQ(code_of([&] { system->query("select * from sales.items"); }), vdb::code::tablespace_offline);
    EXPECT_EQ(code_of([&] { system->execute("ALTER TABLESPACE SYSTEM OFFLINE NORMAL"); }),
              vdb::code::system_tablespace);
    system->execute("ALTER TABLESPACE USERS ONLINE");
    EXPECT_EQ(system->execute("INSERT INTO SALES.ITEMS VALUES (3, 'Mouse')"), 1);
}

TEST_F(EngineTest, FreeSpaceFallsAsRowsArriveAndNeverGoesBelowZero) {
    run({"CREATE TABLESPACE SMALL DATAFILE '" + file("small.dbf") + "' SIZE 96K",
         "CREATE USER SALES IDENTIFIED BY demo DEFAULT TABLESPACE SMALL",
         "CREATE TABLE SALES.NOTES (TEXT VARCHAR2(4000))"});
    const std::string free = "select coalesce(sum(bytes), 0) from sys.dba_free_space where tablespace_name='SMALL'";
    EXPECT_EQ(number(free), 32 * 1024);  // 96K less the table's first extent

    auto system = as("system");
    std::string text(1000, 'x');
    int64_t last = number(free), code = 0;
    for (int i = 0; i < 40 && code == 0; ++i) {
        code = code_of([&] { system->execute("INSERT INTO SALES.NOTES VALUES (?)", {vdb::Value::of(text)}); });
        system->commit();
        int64_t now = number(free);
        if (code == 0) {
            EXPECT_LT(now, last);
        }
        EXPECT_GE(now, 0);
        last = now;
    }
    EXPECT_EQ(code, vdb::code::cannot_extend);
    EXPECT_EQ(number("select count(*) from sales.notes"), 32);  // the failed row took nothing
}

TEST_F(EngineTest, AutoextendGrowsTheDataFileOnDisk) {
    run({"CREATE TABLESPACE GROW DATAFILE '" + file("grow.dbf") + "' SIZE 72K AUTOEXTEND ON NEXT 16K MAXSIZE 1M",
         "CREATE USER SALES IDENTIFIED BY demo DEFAULT TABLESPACE GROW",
         "CREATE TABLE SALES.NOTES (TEXT VARCHAR2(4000))"});
    auto system = as("system");
    for (int i = 0; i < 20; ++i) system->execute("INSERT INTO SALES.NOTES VALUES (?)", {vdb::Value::of(std::string(1000, 'y'))});
    system->commit();
    int64_t bytes = number("select bytes from sys.dba_data_files where tablespace_name='GROW'");
    EXPECT_GT(bytes, 72 * 1024);
    EXPECT_EQ(static_cast<int64_t>(std::filesystem::file_size(file("grow.dbf"))), bytes);
}

TEST_F(EngineTest, RolledBackRowsAndDroppedObjectsGiveTheirSpaceBack) {
    add_sales();
    const std::string used = "select sum(bytes) from sys.dba_segments where tablespace_name='USERS'";
    int64_t before = number(used);
    auto system = as("system");
    system->execute("INSERT INTO SALES.ITEMS VALUES (9, 'Headset')");
    system->rollback();
    EXPECT_EQ(number(used), before);
    system->execute("DROP TABLE SALES.ORDERS");
    EXPECT_LT(number(used), before);
    EXPECT_EQ(column("select table_name from all_tables where owner='SALES'"), std::vector<std::string>{"ITEMS"});
}

TEST_F(EngineTest, DropTablespaceNeedsIncludingContentsAndCanRemoveItsFiles) {
    run({"CREATE TABLESPACE T2 DATAFILE '" + file("t2.dbf") + "' SIZE 1M", "CREATE USER SALES IDENTIFIED BY demo",
         "CREATE TABLE SALES.X (A NUMBER) TABLESPACE T2"});
    auto system = as("system");
    EXPECT_EQ(code_of([&] { system->execute("DROP TABLESPACE T2"); }), vdb::code::tablespace_not_empty);
    system->execute("DROP TABLESPACE T2 INCLUDING CONTENTS AND DATAFILES");
    EXPECT_FALSE(std::filesystem::exists(file("t2.dbf")));
    EXPECT_TRUE(column("select table_name from all_tables where owner='SALES'").empty());
}

TEST_F(EngineTest, NamesThatWouldBreakExportFilesAreRefused) {
    auto system = as("system");
    const char* refused[] = {
        "CREATE USER BYRON IDENTIFIED BY x",         "CREATE USER \"TWO WORDS\" IDENTIFIED BY x",
        "CREATE USER \"A.B\" IDENTIFIED BY x",        "CREATE TABLE SYSTEM.\"T \" (A NUMBER)",
        "CREATE TABLE SYSTEM.T (A VARCHAR2(9) DEFAULT 'a\"b')",
    };
    for (const char* statement : refused) {
        SCOPED_TRACE(statement);
        EXPECT_LT(code_of([&] { system->execute(statement); }), 0);
    }
}

}  // namespace
}  // namespace vdbtest
