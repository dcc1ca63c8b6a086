// The database layer against a fresh instance: connection, status, dictionary
// questions, mount and abort.
#include <cstdio>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "o/kvo.h"
#include "platform/esqlrt.h"
#include "support/test_context.h"
#include "vdb/instance_fixture.h"

namespace {

class Database : public vdbtest::InstanceTest {
protected:
    void SetUp() override {
        InstanceTest::SetUp();
        run({"CREATE TABLESPACE TEMP DATAFILE '" + file("temp01.dbf") + "' SIZE 1024K",
             "CREATE TABLESPACE EMPTY DATAFILE '" + file("empty01.dbf") + "' SIZE 512K",
             "ALTER TABLESPACE USERS ADD DATAFILE '" + file("users02.dbf") + "' SIZE 512K",
             "ALTER TABLESPACE USERS ADD DATAFILE '" + file("users03.dbf") + "' SIZE 512K",
             "CREATE USER EVE IDENTIFIED BY demo"});
    }
    void TearDown() override {
        esql_disconnect();
        InstanceTest::TearDown();
    }

    kvg_credentials login(const char* user, const char* password = "demo") {
        esql_disconnect();
        kvg_credentials c{};
        c.home = loc.home.c_str();
        c.sid = loc.sid.c_str();
        c.user = user;
        c.password = password;
        return c;
    }

    std::vector<std::string> texts(const kvg_string_list* list) {
        return std::vector<std::string>(list->items, list->items + list->count);
    }

    test_context context;
    kvo_sql_error error{};
};

}  // namespace

TEST_F(Database, ConnectCodesAndTheStatusTheyMeanForTheLight) {
    struct row {
        const char* state;  // what is done to the instance first
        const char* sid;
        const char* password;
        int code;
        int status;
    } rows[] = {
        {"open", "TEST", "demo", 0, KVO_DB_UP},
        {"open", "TEST", "wrong", -1017, KVO_DB_UP},
        {"open", "NOPE", "demo", -12154, KVO_DB_UNKNOWN},
        {"down", "TEST", "demo", -1034, KVO_DB_DOWN},
        {"mounted", "TEST", "demo", -1033, KVO_DB_UNKNOWN},
        {"stopped", "TEST", "demo", -12560, KVO_DB_UNKNOWN},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(std::string(r.state) + " " + r.sid + " " + r.password);
        vdb::start_service(loc);
        vdb::start_instance(loc);
        std::string state = r.state;
        if (state == "down" || state == "mounted") vdb::stop_instance(loc);
        if (state == "stopped") vdb::stop_service(loc);
        if (state == "mounted") {
            kvg_credentials internal = login("internal");
            ASSERT_EQ(kvo_startup_mount(&internal, &error, context, nullptr, nullptr), 0) << error.message;
        }
        kvg_credentials c = login("system", r.password);
        c.sid = r.sid;
        setenv("VANTOR_SID", r.sid, 1);
        error = kvo_sql_error{};
        EXPECT_EQ(kvo_connect(&c, &error), r.code == 0 ? 0 : -1);
        EXPECT_EQ(error.code, r.code);
        EXPECT_EQ(c.state, r.code == 0 ? KVG_CONNECTED : 0);
        if (r.code != 0) {
            EXPECT_GT(std::string(error.message).size(), 0u);
        }
        c = login("system", r.password);
        c.sid = r.sid;
        EXPECT_EQ(kvo_db_status(&c, &error, context), r.status);
        setenv("VANTOR_SID", loc.sid.c_str(), 1);
    }
}

TEST_F(Database, SecondConnectSendsNothing) {
    kvg_credentials c = login("system");
    ASSERT_EQ(kvo_connect(&c, &error), 0);
    // Were anything sent, the stopped instance would refuse it.
    vdb::stop_instance(loc);
    c.password = "wrong";
    EXPECT_EQ(kvo_connect(&c, &error), 0);
    EXPECT_EQ(kvo_db_status(&c, &error, context), KVO_DB_UP);
}

TEST_F(Database, TablespacesTheirFilesAndTheFileCounts) {
    kvg_credentials c = login("system");
    kvg_string_list* tablespaces = nullptr;
    ASSERT_EQ(kvo_tablespace_list(&c, &tablespaces, &error, context), 0) << error.message;
    EXPECT_EQ(texts(tablespaces), (std::vector<std::string>{"EMPTY", "SYSTEM", "TEMP", "USERS"}));

    int32_t files = 0, members = 0, controls = 0, other = 7;
    ASSERT_EQ(kvo_file_count(&c, &error, KVO_DATA_FILES, &files), 0);
    ASSERT_EQ(kvo_file_count(&c, &error, KVO_LOG_MEMBERS, &members), 0);
    ASSERT_EQ(kvo_file_count(&c, &error, KVO_CONTROL_FILES, &controls), 0);
    ASSERT_EQ(kvo_file_count(&c, &error, 3, &other), 0);
    EXPECT_EQ(files, 6);
    EXPECT_EQ(members, 2);
    EXPECT_EQ(controls, 2);
    EXPECT_EQ(other, 0);

    // Two tablespaces in one list, the first one's files first; one without
    // files adds nothing.
    kvg_string_list* names = nullptr;
    ASSERT_EQ(kvg_list_new(&names, 3, context), 0);
    kvg_list_set(names, 0, "TEMP", context);
    kvg_list_set(names, 1, "NOSUCH", context);
    kvg_list_set(names, 2, "USERS", context);
    kvg_string_list* data_files = nullptr;
    ASSERT_EQ(kvo_tablespace_files(&c, &data_files, files, &error, context, names), 0) << error.message;
    std::vector<std::string> got = texts(data_files);
    ASSERT_EQ(got.size(), 4u);
    EXPECT_EQ(got[0], file("temp01.dbf"));
    EXPECT_EQ(std::vector<std::string>(got.begin() + 2, got.end()),
              (std::vector<std::string>{file("users02.dbf"), file("users03.dbf")}));

    // A list sized before files were added keeps to its size.
    kvg_string_list* small = nullptr;
    ASSERT_EQ(kvo_tablespace_files(&c, &small, 2, &error, context, names), 0);
    EXPECT_EQ(small->count, 2);
}

TEST_F(Database, MountThenAbortLeavesTheInstanceDown) {
    vdb::stop_instance(loc);
    kvg_credentials internal = login("internal");
    ASSERT_EQ(kvo_startup_mount(&internal, &error, context, nullptr, nullptr), 0) << error.message;
    kvg_credentials c = login("system");
    EXPECT_EQ(kvo_connect(&c, &error), -1);
    EXPECT_EQ(error.code, -1033);
    internal = login("internal");
    ASSERT_EQ(kvo_abort(&internal, &error, context), 0) << error.message;
    c = login("system");
    EXPECT_EQ(kvo_connect(&c, &error), -1);
    EXPECT_EQ(error.code, -1034);
}

TEST_F(Database, ParameterFileProblemsAreFileResults) {
    vdb::stop_instance(loc);
    kvg_credentials internal = login("internal");
    EXPECT_EQ(kvo_startup_mount(&internal, &error, context, "/nonexistent/init.vpf", nullptr), 1010);
    std::string long_file = loc.home + "/long.vpf";
    FILE* f = std::fopen(long_file.c_str(), "w");
    for (int i = 0; i < 500; ++i) std::fprintf(f, "# a comment line to make the file long\n");
    std::fclose(f);
    EXPECT_EQ(kvo_startup_mount(&internal, &error, context, long_file.c_str(), nullptr), 1032);
    kvg_credentials c = login("system");
    EXPECT_EQ(kvo_connect(&c, &error), -1);
    EXPECT_EQ(error.code, -1034);  // nothing was started
}

TEST_F(Database, StatementsNeedTheRoleAndFailuresLeaveTheirText) {
    kvg_credentials eve = login("eve");
    char role[KVO_ROLE_SIZE];
    ASSERT_EQ(kvo_check_dba(context, &eve, &error, role), 0);
    EXPECT_STREQ(role, "");
    EXPECT_EQ(kvo_execute("CREATE TABLESPACE EVES DATAFILE '/tmp/eves.dbf' SIZE 64K", &error), -1);
    EXPECT_EQ(error.code, -1031);
    EXPECT_GT(std::string(error.message).size(), 0u);

    kvg_credentials system = login("system");
    ASSERT_EQ(kvo_check_dba(context, &system, &error, role), 0);
    EXPECT_STREQ(role, "DBA");
    error = kvo_sql_error{};
    EXPECT_EQ(kvo_execute("ALTER TABLESPACE TEMP OFFLINE NORMAL", &error), 0) << error.message;
    EXPECT_EQ(kvo_commit(&error), 0);
    EXPECT_EQ(column("select status from sys.dba_tablespaces where tablespace_name = 'TEMP'"),
              std::vector<std::string>{"OFFLINE"});
}
