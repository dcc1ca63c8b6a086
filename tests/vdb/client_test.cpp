// The client interfaces: the embedded runtime (esqlrt) and the call interface
// (dbcall), fed with the statement texts the database layer sends.
#include <cstring>

#include "instance_fixture.h"
#include "platform/dbcall.h"
#include "platform/esqlrt.h"
#include "vdb/state.h"

namespace vdbtest {
namespace {

class EsqlTest : public InstanceTest {
protected:
    void SetUp() override {
        InstanceTest::SetUp();
        ASSERT_EQ(esql_connect("system", "demo"), 0);
    }
    void TearDown() override {
        esql_disconnect();
        InstanceTest::TearDown();
    }

    // The texts of a query's rows through a cursor, as the list queries read them.
    std::vector<std::string> fetch_all(esql_cursor& cursor) {
        std::vector<std::string> out;
        char text[257];
        size_t length = 0;
        while (esql_fetch(cursor, {esql_into(text, 256, &length)}) == 0) out.emplace_back(text, length);
        EXPECT_EQ(esql_status().code, ESQL_NOT_FOUND);
        esql_close(cursor);
        return out;
    }

    int32_t count(const char* statement) {
        int32_t n = -1;
        EXPECT_EQ(esql_select_into(statement, {esql_into(&n)}), 0);
        return n;
    }
};

TEST_F(EsqlTest, TablespaceListIsSortedByName) {
    run({"CREATE TABLESPACE TEMP DATAFILE '" + file("temp01.dbf") + "' SIZE 1M TEMPORARY"});
    EXPECT_EQ(count("select count(distinct tablespace_name) into :b0  from sys.dba_data_files"), 3);
    esql_cursor cursor;
    ASSERT_EQ(esql_open(cursor, "select distinct tablespace_name  from sys.dba_data_files  order by tablespace_name"), 0);
    EXPECT_EQ(fetch_all(cursor), (std::vector<std::string>{"SYSTEM", "TEMP", "USERS"}));
}

TEST_F(EsqlTest, DataFilesOfSeveralTablespacesFollowOneAnother) {
    run({"ALTER TABLESPACE SYSTEM ADD DATAFILE '" + file("sys2.dbf") + "' SIZE 1M",
         "ALTER TABLESPACE USERS ADD DATAFILE '" + file("u2.dbf") + "' SIZE 1M, '" + file("u3.dbf") + "' SIZE 1M",
         "CREATE TABLESPACE EMPTY DATAFILE '" + file("e.dbf") + "' SIZE 1M"});
    esql_statement statement;
    ASSERT_EQ(esql_prepare(statement, "SELECT file_name FROM sys.dba_data_files WHERE tablespace_name = :tblsp"), 0);
    std::vector<std::string> files;
    for (const char* tablespace : {"SYSTEM", "NOFILES", "USERS"}) {
        esql_cursor cursor;
        ASSERT_EQ(esql_open_prepared(cursor, statement, {esql_in(tablespace)}), 0);
        for (auto& f : fetch_all(cursor)) files.push_back(f.substr(f.rfind('/') + 1));
    }
    EXPECT_EQ(files, (std::vector<std::string>{"test_system01.dbf", "sys2.dbf", "test_users01.dbf", "u2.dbf", "u3.dbf"}));
    EXPECT_EQ(count("select count(distinct name) into :b0  from v$datafile"), 6);
}

TEST_F(EsqlTest, FileCountsOfTheInstance) {
    EXPECT_EQ(count("select count(distinct member) into :b0  from v$logfile"), 2);
    EXPECT_EQ(count("select count(distinct value) into :b0  from v$parameter where name='control_files'"), 2);
}

TEST_F(EsqlTest, SpaceQueriesReadAsIntegers) {
    int32_t free_kb = -1, total_kb = -1;
    char status[257];
    size_t length = 0;
    esql_in users("USERS");
    ASSERT_EQ(esql_select_into("select round((sum(bytes)/1024)) into :b0  from sys.dba_free_space where tablespace_name=:b1",
                               {esql_into(&free_kb)}, {users}), 0);
    ASSERT_EQ(esql_select_into("select round((sum(bytes)/1024)) into :b0  from sys.dba_data_files where tablespace_name=:b1",
                               {esql_into(&total_kb)}, {users}), 0);
    EXPECT_EQ(total_kb, 16 * 1024);
    EXPECT_EQ(free_kb, total_kb);
    ASSERT_EQ(esql_select_into("select status into :b0  from sys.dba_tablespaces where tablespace_name=:b1",
                               {esql_into(status, 256, &length)}, {users}), 0);
    EXPECT_EQ(std::string(status, length), "ONLINE");

    // An empty sum is 0, not an error.
    free_kb = -1;
    EXPECT_EQ(esql_select_into("select round((sum(bytes)/1024)) into :b0  from sys.dba_free_space where tablespace_name=:b1",
                               {esql_into(&free_kb)}, {esql_in("NOSUCH")}), 0);
    EXPECT_EQ(free_kb, 0);
}

TEST_F(EsqlTest, DbaRoleQueryFindsTheRoleOrNoRow) {
    run({"CREATE USER EVE IDENTIFIED BY demo", "GRANT CONNECT TO EVE"});
    const char* query = "select granted_role into :b0  from user_role_privs where granted_role='DBA'";
    char role[32];
    size_t length = 0;
    EXPECT_EQ(esql_select_into(query, {esql_into(role, sizeof role, &length)}), 0);
    EXPECT_EQ(std::string(role, length), "DBA");
    ASSERT_EQ(esql_connect("eve", "demo"), 0);
    EXPECT_EQ(esql_select_into(query, {esql_into(role, sizeof role, &length)}), ESQL_NOT_FOUND);
}

TEST_F(EsqlTest, ListQueriesLeaveOutSys) {
    add_sales();
    EXPECT_EQ(count("select count(distinct username) into :b0  from all_users where  not username='SYS'"), 3);
    EXPECT_EQ(count("select count(distinct table_name) into :b0  from all_tables where  not owner='SYS'"), 2);
    esql_cursor cursor;
    ASSERT_EQ(esql_open(cursor, "select distinct table_name ,owner  from all_tables where  not owner='SYS' order by owner"), 0);
    char table[257], owner[257];
    size_t table_length = 0, owner_length = 0;
    int rows = 0;
    while (esql_fetch(cursor, {esql_into(table, 256, &table_length), esql_into(owner, 256, &owner_length)}) == 0) {
        EXPECT_EQ(std::string(owner, owner_length), "SALES");
        ++rows;
    }
    EXPECT_EQ(rows, 2);
    esql_close(cursor);
}

TEST_F(EsqlTest, TextsAreCutToTheHostVariableWithTheirTrueLength) {
    char text[4] = {'#', '#', '#', '#'};
    size_t length = 0, full = 0;
    ASSERT_EQ(esql_select_into("select 'SYSTEM' into :b0 from dual", {esql_into(text, 3, &length, &full)}), 0);
    EXPECT_EQ(std::string(text, 3), "SYS");
    EXPECT_EQ(text[3], '#');
    EXPECT_EQ(length, 3u);
    EXPECT_EQ(full, 6u);
}

TEST_F(EsqlTest, FailuresGiveANegativeCodeAndTheirText) {
    int32_t n = 0;
    struct Case {
        const char* statement;
        int code;
    };
    const Case cases[] = {
        {"select count(*) into :b0 from no_such_table", vdb::code::table_missing},
        {"select tablespace_name into :b0 from sys.dba_data_files", vdb::code::too_many_rows},
        {"select 'abc' into :b0 from dual", vdb::code::invalid_number},
        {"select 1 into :b0, :b1 from dual", vdb::code::variables_unbound},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.statement);
        EXPECT_EQ(esql_select_into(c.statement, {esql_into(&n)}), c.code);
        EXPECT_EQ(esql_status().code, c.code);
        char text[512];
        EXPECT_GT(esql_error_text(text, sizeof text), 0u);
    }
    esql_cursor never_opened;
    EXPECT_EQ(esql_fetch(never_opened, {esql_into(&n)}), vdb::code::fetch_out_of_sequence);
    esql_disconnect();
    EXPECT_EQ(esql_execute_immediate("commit"), vdb::code::not_logged_on);
}

TEST_F(EsqlTest, ExecuteImmediateRunsTheTablespaceStatements) {
    EXPECT_EQ(esql_execute_immediate(("create tablespace KVX datafile '" + file("KVS001.dbf") +
                                      "' size 100K autoextend on next 50K maxsize unlimited").c_str()), 0);
    EXPECT_EQ(esql_execute_immediate("ALTER TABLESPACE KVX OFFLINE NORMAL"), 0);
    EXPECT_EQ(column("select status from sys.dba_tablespaces where tablespace_name='KVX'").at(0), "OFFLINE");
    EXPECT_EQ(esql_execute_immediate("ALTER TABLESPACE KVX ONLINE"), 0);
    EXPECT_EQ(column("select status from sys.dba_tablespaces where tablespace_name='KVX'").at(0), "ONLINE");
    EXPECT_EQ(column("select autoextensible from sys.dba_data_files where tablespace_name='KVX'").at(0), "YES");
}

TEST_F(EsqlTest, RollbackTakesBackUncommittedRows) {
    add_sales();
    EXPECT_EQ(esql_execute_immediate("INSERT INTO SALES.ITEMS VALUES (7, 'Webcam')"), 0);
    EXPECT_EQ(esql_status().rows, 1);
    EXPECT_EQ(esql_rollback(), 0);
    EXPECT_EQ(count("select count(*) into :b0 from sales.items"), 2);
    EXPECT_EQ(esql_execute_immediate("INSERT INTO SALES.ITEMS VALUES (7, 'Webcam')"), 0);
    EXPECT_EQ(esql_commit(), 0);
    EXPECT_EQ(number("select count(*) from sales.items"), 3);
}

// ---- dbcall -----------------------------------------------------------------

class DbcallTest : public InstanceTest {};

TEST_F(DbcallTest, MountThenAbortLeavesTheInstanceDown) {
    vdb::stop_instance(loc);
    std::string parameters = vdb::read_file(loc.parameter_file());

    dbc_host_area hda{};
    ASSERT_EQ(dbc_connect_privileged(&hda, "internal", "demo"), 0);
    ASSERT_EQ(dbc_startup(&hda, parameters.c_str(), 0), 0);
    EXPECT_EQ(dbc_startup(&hda, parameters.c_str(), 0), vdb::code::instance_started);
    ASSERT_EQ(dbc_disconnect_privileged(&hda), 0);
    EXPECT_EQ(vdb::read_state(loc).instance, vdb::Instance::started);

    dbc_logon lda{};
    dbc_cursor cda{};
    ASSERT_EQ(dbc_logon_normal(&lda, "system", "demo"), 0);
    ASSERT_EQ(dbc_open(&cda, &lda), 0);
    ASSERT_EQ(dbc_run(&cda, "ALTER DATABASE MOUNT"), 0);
    ASSERT_EQ(dbc_close(&cda), 0);
    EXPECT_EQ(dbc_logoff(&lda), 0);
    EXPECT_EQ(vdb::read_state(loc).instance, vdb::Instance::mounted);
    EXPECT_EQ(esql_connect("system", "demo"), vdb::code::instance_starting);

    dbc_host_area abort_area{};
    ASSERT_EQ(dbc_connect_privileged(&abort_area, "system", "demo"), 0);
    ASSERT_EQ(dbc_shutdown(&abort_area, DBC_SHUTDOWN_ABORT), 0);
    ASSERT_EQ(dbc_disconnect_privileged(&abort_area), 0);
    vdb::State state = vdb::read_state(loc);
    EXPECT_EQ(state.instance, vdb::Instance::down);
    EXPECT_EQ(state.service, vdb::Service::running);
    EXPECT_EQ(esql_connect("system", "demo"), vdb::code::instance_down);
}

TEST_F(DbcallTest, RefusalsKeepTheirCodeAndMessageInTheArea) {
    run({"CREATE USER EVE IDENTIFIED BY demo"});
    vdb::stop_instance(loc);
    struct Case {
        const char* user;
        const char* password;
        int code;
    };
    const Case cases[] = {{"internal", "wrong", vdb::code::bad_logon}, {"eve", "demo", vdb::code::no_privilege}};
    for (const auto& c : cases) {
        dbc_host_area hda{};
        EXPECT_EQ(dbc_connect_privileged(&hda, c.user, c.password), c.code);
        EXPECT_EQ(hda.code, c.code);
        EXPECT_GT(std::strlen(hda.message), 0u);
    }
    dbc_logon lda{};
    EXPECT_EQ(dbc_logon_normal(&lda, "system", "demo"), vdb::code::instance_down);
    EXPECT_GT(std::strlen(lda.message), 0u);

    // The mount needs a started instance, and a parameter file that names it.
    dbc_host_area hda{};
    ASSERT_EQ(dbc_connect_privileged(&hda, "internal", "demo"), 0);
    EXPECT_EQ(dbc_startup(&hda, "db_name = OTHER\n", 0), vdb::code::parameter_error);
    EXPECT_EQ(dbc_startup(&hda, "no equals sign here\n", 0), vdb::code::parameter_error);
    EXPECT_EQ(vdb::read_state(loc).instance, vdb::Instance::down);
    dbc_disconnect_privileged(&hda);

    char text[512];
    EXPECT_GT(dbc_message(vdb::code::instance_down, text, sizeof text), 0u);
}

TEST_F(DbcallTest, MountFailsWhenAControlFileIsMissing) {
    vdb::stop_instance(loc);
    std::filesystem::remove(loc.instance_dir() + "/control02.ctl");
    dbc_host_area hda{};
    ASSERT_EQ(dbc_connect_privileged(&hda, "internal", "demo"), 0);
    ASSERT_EQ(dbc_startup(&hda, vdb::read_file(loc.parameter_file()).c_str(), 0), 0);
    dbc_logon lda{};
    dbc_cursor cda{};
    ASSERT_EQ(dbc_logon_normal(&lda, "internal", "demo"), 0);
    ASSERT_EQ(dbc_open(&cda, &lda), 0);
    EXPECT_EQ(dbc_run(&cda, "ALTER DATABASE MOUNT"), vdb::code::control_file_missing);
    EXPECT_EQ(vdb::read_state(loc).instance, vdb::Instance::started);
    dbc_close(&cda);
    dbc_logoff(&lda);
    dbc_shutdown(&hda, DBC_SHUTDOWN_ABORT);
    dbc_disconnect_privileged(&hda);
}

}  // namespace
}  // namespace vdbtest
