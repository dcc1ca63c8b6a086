// Accounts: passwords, locks, default tablespaces, roles, dropping a user, the
// views that show them, and the check of an administrator while the service is
// stopped.
#include <sstream>
#include <sqlite3.h>

#include "instance_fixture.h"
#include "vdb/credentials.h"
#include "vdb/state.h"

namespace vdbtest {
namespace {

class AccountsTest : public InstanceTest {
protected:
    int logon_code(const std::string& user, const std::string& password) {
        return code_of([&] { vdb::Session::connect(loc, user, password); });
    }
    std::string status_of(const std::string& user) {
        return column("select account_status from sys.dba_users where username='" + user + "'").at(0);
    }
};

TEST_F(AccountsTest, ALockedAccountIsRefusedOnlyAfterItsPasswordPasses) {
    add_sales();
    EXPECT_EQ(status_of("EVE"), "OPEN");
    run({"ALTER USER EVE ACCOUNT LOCK"});
    EXPECT_EQ(status_of("EVE"), "LOCKED");
    EXPECT_EQ(logon_code("eve", "demo"), vdb::code::account_locked);
    // A guesser learns nothing from a locked account.
    EXPECT_EQ(logon_code("eve", "wrong"), vdb::code::bad_logon);
    try {
        vdb::Session::connect(loc, "eve", "demo");
    } catch (const vdb::Error& error) {
        EXPECT_STREQ(error.what(), "the account is locked: EVE");
    }
    run({"ALTER USER EVE ACCOUNT UNLOCK"});
    EXPECT_EQ(status_of("EVE"), "OPEN");
    EXPECT_EQ(logon_code("eve", "demo"), 0);
}

TEST_F(AccountsTest, AlterUserChangesPasswordTablespaceAndLockInOneStatement) {
    run({"CREATE TABLESPACE T2 DATAFILE '" + file("t2.dbf") + "' SIZE 1M", "CREATE USER HR IDENTIFIED BY old1"});
    run({"ALTER USER HR IDENTIFIED BY new1 DEFAULT TABLESPACE T2 ACCOUNT LOCK"});
    EXPECT_EQ(logon_code("hr", "old1"), vdb::code::bad_logon);
    EXPECT_EQ(logon_code("hr", "new1"), vdb::code::account_locked);
    EXPECT_EQ(column("select default_tablespace from sys.dba_users where username='HR'").at(0), "T2");
    run({"ALTER USER HR ACCOUNT UNLOCK", "CREATE TABLE HR.STAFF (ID NUMBER)"});
    EXPECT_EQ(logon_code("hr", "new1"), 0);
    EXPECT_EQ(column("select tablespace_name from all_tables where owner='HR'").at(0), "T2");
}

TEST_F(AccountsTest, AlterUserRefusals) {
    add_sales();
    const std::pair<const char*, int> cases[] = {
        {"ALTER USER NOBODY ACCOUNT LOCK", vdb::code::user_missing},
        {"ALTER USER INTERNAL ACCOUNT LOCK", vdb::code::user_missing},
        {"ALTER USER SYS ACCOUNT LOCK", vdb::code::no_privilege},
        {"ALTER USER SYSTEM ACCOUNT LOCK", vdb::code::no_privilege},  // the session's own
        {"ALTER USER EVE DEFAULT TABLESPACE NOWHERE", vdb::code::tablespace_missing},
        {"ALTER USER EVE", vdb::code::missing_expression},
        {"ALTER USER EVE ACCOUNT OPEN", vdb::code::missing_expression},
        {"ALTER USER EVE IDENTIFIED BY new1 ACCOUNT", vdb::code::missing_expression},
        {"REVOKE DBA FROM SYS", vdb::code::no_privilege},
        {"REVOKE NOROLE FROM EVE", vdb::code::role_missing},
        {"REVOKE CONNECT FROM NOBODY", vdb::code::user_missing},
    };
    auto system = as("system");
    for (const auto& [statement, code] : cases) {
        SCOPED_TRACE(statement);
        EXPECT_EQ(code_of([&] { system->execute(statement); }), code);
    }
    // A refused statement changes nothing, not even its valid clauses.
    EXPECT_EQ(logon_code("eve", "demo"), 0);
    EXPECT_EQ(status_of("SYS"), "OPEN");
    EXPECT_EQ(logon_code("internal", "demo"), 0);
    EXPECT_TRUE(as("internal")->is_dba());
}

TEST_F(AccountsTest, RevokeTakesTheRoleAwayAndDbaRolePrivsListsTheGrants) {
    add_sales();
    run({"GRANT DBA, RESOURCE TO EVE"});
    const std::string grants = "select grantee || ':' || granted_role from sys.dba_role_privs "
                               "where grantee in ('EVE', 'SYSTEM') order by 1";
    EXPECT_EQ(column(grants), (std::vector<std::string>{"EVE:CONNECT", "EVE:DBA", "EVE:RESOURCE", "SYSTEM:DBA"}));
    EXPECT_TRUE(as("eve")->is_dba());
    run({"REVOKE DBA FROM EVE"});
    EXPECT_EQ(column(grants), (std::vector<std::string>{"EVE:CONNECT", "EVE:RESOURCE", "SYSTEM:DBA"}));
    auto eve = as("eve");
    EXPECT_FALSE(eve->is_dba());
    EXPECT_EQ(code_of([&] { eve->query("select grantee from sys.dba_role_privs"); }), vdb::code::no_privilege);
}

TEST_F(AccountsTest, DropUserNeedsCascadeForItsTablesAndCascadeGivesTheirSpaceBack) {
    const std::string used = "select coalesce(sum(bytes), 0) from sys.dba_segments where tablespace_name='USERS'";
    int64_t before = number(used);
    add_sales();
    auto system = as("system");
    try {
        system->execute("DROP USER SALES");
        FAIL() << "dropped a user who owns tables";
    } catch (const vdb::Error& error) {
        EXPECT_EQ(error.code(), -3102);
        EXPECT_STREQ(error.what(), "the user owns objects: drop it with CASCADE: SALES");
    }
    EXPECT_EQ(number("select count(*) from sales.orders"), 3);
    EXPECT_EQ(logon_code("sales", "demo"), 0);

    system->execute("DROP USER SALES CASCADE");
    EXPECT_EQ(logon_code("sales", "demo"), vdb::code::bad_logon);
    EXPECT_EQ(number("select count(*) from sys.dba_segments where owner='SALES'"), 0);
    EXPECT_EQ(number(used), before);
    EXPECT_TRUE(column("select grantee from sys.dba_role_privs where grantee='SALES'").empty());
    // A user without objects needs no CASCADE.
    system->execute("DROP USER EVE");
    EXPECT_TRUE(column("select username from sys.dba_users where username in ('SALES', 'EVE')").empty());
}

// An instance made before accounts had a status opens with every account open.
TEST_F(AccountsTest, AnInstanceOfThePreviousLayoutIsUpgradedWhenOpened) {
    add_sales();
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(loc.database_file().c_str(), &db), SQLITE_OK);
    const char* downgrade = R"(
        DROP VIEW "SYS.DBA_USERS"; DROP VIEW "SYS.DBA_ROLE_PRIVS";
        ALTER TABLE vdb_users DROP COLUMN account_status;
        CREATE VIEW "SYS.DBA_USERS" AS SELECT name AS username, default_tablespace, created
          FROM vdb_users WHERE alias_of IS NULL;
        PRAGMA user_version = 2;)";
    ASSERT_EQ(sqlite3_exec(db, downgrade, nullptr, nullptr, nullptr), SQLITE_OK) << sqlite3_errmsg(db);
    sqlite3_close(db);

    EXPECT_EQ(status_of("EVE"), "OPEN");
    EXPECT_EQ(column("select granted_role from sys.dba_role_privs where grantee='EVE'").at(0), "CONNECT");
    run({"ALTER USER EVE ACCOUNT LOCK"});
    EXPECT_EQ(logon_code("eve", "demo"), vdb::code::account_locked);
    EXPECT_EQ(number("select count(*) from sales.orders"), 3);
}

TEST_F(AccountsTest, TheOfflineCheckAdmitsOnlyAdministratorsAndStartsNothing) {
    add_sales();
    run({"CREATE USER BOSS IDENTIFIED BY demo", "GRANT DBA TO BOSS", "ALTER USER BOSS ACCOUNT LOCK"});
    vdb::stop_service(loc);
    const std::string state_before = vdb::read_file(loc.state_file());
    const std::string log_before = vdb::read_file(loc.event_log_file());
    struct Case {
        const char* user;
        const char* password;
        int code;
    };
    const Case cases[] = {
        {"internal", "demo", 0},
        {"System", "demo", 0},
        {"system", "Demo", vdb::code::bad_logon},
        {"nobody", "demo", vdb::code::bad_logon},
        {"eve", "demo", vdb::code::no_privilege},
        {"eve", "wrong", vdb::code::bad_logon},
        {"boss", "demo", vdb::code::account_locked},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.user) + "/" + c.password);
        EXPECT_EQ(code_of([&] { vdb::check_administrator_offline(loc, c.user, c.password); }), c.code);
    }
    EXPECT_EQ(code_of([&] { vdb::check_administrator_offline(vdb::Location{loc.home, "NOPE"}, "internal", "demo"); }),
              vdb::code::unknown_sid);
    EXPECT_EQ(vdb::read_file(loc.state_file()), state_before);
    // The refused passwords are recorded, as every refused logon is; nothing else is.
    std::string log = vdb::read_file(loc.event_log_file());
    ASSERT_EQ(log.rfind(log_before, 0), 0u);
    std::istringstream added(log.substr(log_before.size()));
    int refusals = 0;
    for (std::string line; std::getline(added, line); ++refusals)
        EXPECT_NE(line.find(" refused logon of "), std::string::npos) << line;
    EXPECT_EQ(refusals, 3);
}

}  // namespace
}  // namespace vdbtest
