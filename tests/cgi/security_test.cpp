// Security Manager against an instance of its own in the test home: the life
// of an account from its creation to its drop, and every refusal.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/cgi_run.h"

namespace {

const std::string SID = "SEC";

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

form_fields login_of(const std::string& user, const std::string& password = "demo") {
    form_fields cookie = with_field(login_fields(), "VANTOR_SID", SID);
    cookie = with_field(cookie, "KVCUSER", user);
    return with_field(cookie, "KVCPASSWORD", password);
}

tool_request request(const form_fields& form, const form_fields& cookie = login_of("SYSTEM"), bool posted = true) {
    return {"kvu", form, cookie, posted, {{"SCRIPT_NAME", "/" + SID + "-bin/kvu"}}};
}

cgi_result kvu(const form_fields& form, const form_fields& cookie = login_of("SYSTEM")) {
    cgi_result r = run_request(request(form, cookie));
    EXPECT_EQ(r.exit_code, 0) << r.page;
    EXPECT_TRUE(r.page.ends_with("</html>")) << r.page;
    return r;
}

std::string sql(const std::string& statement) {
    cgi_result r = run_cgi(test_home() + "/bin/vdbadm", {"vdbadm", "--home", test_home(), "sql", SID, "SYSTEM/demo", statement}, {});
    return r.page;
}

// One user as the dictionary tells it: account, default tablespace, roles.
std::string account_of(const std::string& name) {
    return sql("select account_status, default_tablespace from sys.dba_users where username = '" + name + "'") +
           sql("select granted_role from sys.dba_role_privs where grantee = '" + name + "' order by 1");
}

// Whether user and password log on to the instance.
bool logs_on(const std::string& user, const std::string& password) {
    cgi_result r = run_cgi(test_home() + "/bin/vdbadm",
                           {"vdbadm", "--home", test_home(), "sql", SID, user + "/" + password, "select 1 from dual"}, {});
    return r.exit_code == 0;
}

form_fields create_form(const std::string& name, const std::string& password, const std::string& again,
                        const std::string& tablespace = "USERS") {
    return {{"KVUTODO", "Create"}, {"KVUNAME", name}, {"KVUPASS1", password}, {"KVUPASS2", again},
            {"KVUDEFTS", tablespace}, {"KVUROLE", "CONNECT"}};
}

// The user page's fields as a browser posts them for a CONNECT user of
// USERS, with changes to fields and roles checked on top.
form_fields user_form(const std::string& name, const form_fields& changes, const std::vector<std::string>& more_roles = {}) {
    form_fields form = {{"KVUUSER", name}, {"KVUACCOUNT", "OPEN"}, {"KVUDEFTS", "USERS"}, {"KVUROLE", "CONNECT"},
                        {"KVUTODO", "Apply"}};
    for (const auto& [field, value] : changes) form = with_field(form, field, value);
    for (const std::string& role : more_roles) form.emplace_back("KVUROLE", role);
    return form;
}

class Security : public testing::Test {
protected:
    static void SetUpTestSuite() {
        if (!vdbadm({"status", SID})) {
            ASSERT_TRUE(vdbadm({"create", SID}));
        }
        ASSERT_TRUE(vdbadm({"start", SID}));
        sql("CREATE USER EVE IDENTIFIED BY demo");
        sql("GRANT CONNECT TO EVE");
    }
};

}  // namespace

TEST_F(Security, TheUsersTableListsEveryAccount) {
    cgi_result r = kvu({}, login_of("SYSTEM"));
    EXPECT_TRUE(contains(r.page, "<CAPTION><B>Users of instance SEC</B></CAPTION>")) << r.page;
    EXPECT_TRUE(contains(r.page, "<TR><TD><INPUT type=submit name=\"KVUUSER\" value=\"SYSTEM\"></TD><TD>OPEN</TD>"
                                 "<TD>SYSTEM</TD><TD>DBA</TD>"))
        << r.page;
    EXPECT_TRUE(contains(r.page, "value=\"EVE\""));
    // The administrative login is no database user.
    EXPECT_FALSE(contains(r.page, "value=\"INTERNAL\""));
    EXPECT_TRUE(contains(r.page, "<INPUT type=submit name=\"KVUTODO\" value=\"Create User\">"));
}

TEST_F(Security, TheLifeOfAnAccount) {
    struct step {
        form_fields form;
        std::string line;
        std::string account;  // what the dictionary says afterwards
    } steps[] = {
        {create_form("Kim", "first", "first"), "User KIM was created.", "OPEN\tUSERS\nCONNECT\n"},
        {user_form("KIM", {{"KVUPASS1", "second"}, {"KVUPASS2", "second"}}), "User KIM: password changed.",
         "OPEN\tUSERS\nCONNECT\n"},
        {user_form("KIM", {{"KVUACCOUNT", "LOCKED"}}), "User KIM: account locked.", "LOCKED\tUSERS\nCONNECT\n"},
        {user_form("KIM", {{"KVUACCOUNT", "OPEN"}}), "User KIM: account opened.", "OPEN\tUSERS\nCONNECT\n"},
        {user_form("KIM", {}, {"RESOURCE", "DBA"}), "User KIM: role RESOURCE granted, role DBA granted.",
         "OPEN\tUSERS\nCONNECT\nDBA\nRESOURCE\n"},
        {user_form("KIM", {{"KVUROLE", "RESOURCE"}}), "User KIM: role CONNECT revoked, role DBA revoked.",
         "OPEN\tUSERS\nRESOURCE\n"},
        {user_form("KIM", {{"KVUDEFTS", "SYSTEM"}, {"KVUROLE", "RESOURCE"}}), "User KIM: default tablespace SYSTEM.",
         "OPEN\tSYSTEM\nRESOURCE\n"},
        {user_form("KIM", {{"KVUDEFTS", "SYSTEM"}, {"KVUROLE", "RESOURCE"}}), "Nothing was changed.", "OPEN\tSYSTEM\nRESOURCE\n"},
    };
    for (const step& st : steps) {
        cgi_result r = kvu(st.form);
        EXPECT_TRUE(contains(r.page, "<P><B>" + st.line + "</B>")) << st.line << "\n" << r.page;
        EXPECT_EQ(account_of("KIM"), st.account) << st.line;
    }
    // The new password works and the old one is refused.
    EXPECT_TRUE(logs_on("KIM", "second"));
    EXPECT_FALSE(logs_on("KIM", "first"));

    // A drop is confirmed first and names the tables that go with the user.
    sql("CREATE TABLE KIM.NOTES (N NUMBER)");
    cgi_result r = kvu({{"KVUUSER", "KIM"}, {"KVUTODO", "Drop User"}});
    EXPECT_TRUE(contains(r.page, "<P><B>User KIM and its 1 tables will be dropped: NOTES</B>")) << r.page;
    EXPECT_EQ(account_of("KIM"), "OPEN\tSYSTEM\nRESOURCE\n");
    r = kvu({{"KVUUSER", "KIM"}, {"KVUCONFIRM", "1"}, {"KVUTODO", "Drop User"}});
    EXPECT_TRUE(contains(r.page, "<P><B>User KIM and its 1 tables were dropped.</B>")) << r.page;
    EXPECT_EQ(account_of("KIM"), "");
    EXPECT_EQ(sql("select count(*) from sys.all_tables where owner = 'KIM'"), "0\n");
}

TEST_F(Security, ALockedAccountMeetsItsMessageAtTheLogin) {
    kvu(create_form("LOCKME", "pw", "pw"));
    kvu(user_form("LOCKME", {{"KVUACCOUNT", "LOCKED"}}));
    tool_request login{"kvla", {{"VANTOR_HOME", test_home()}, {"VANTOR_SID", SID}, {"KVCUSER", "LOCKME"}, {"KVCPASSWORD", "pw"}},
                       {}, true, {{"SCRIPT_NAME", "/" + SID + "-bin/kvla"}}};
    cgi_result r = run_request(login);
    EXPECT_TRUE(contains(r.page, "-3101:</H3>")) << r.page;
    EXPECT_TRUE(contains(r.page, "locked")) << r.page;
    kvu({{"KVUUSER", "LOCKME"}, {"KVUCONFIRM", "1"}, {"KVUTODO", "Drop User"}});
}

TEST_F(Security, EveryRefusalSaysWhyAndChangesNothing) {
    struct row {
        form_fields form;
        std::string block;
    } rows[] = {
        {create_form("1abc", "pw", "pw"), "KVU-NAME-8050"},
        {create_form("a b", "pw", "pw"), "KVU-NAME-8050"},
        {create_form("\"<b>x\"y\"", "pw", "pw"), "KVU-NAME-8050"},
        {create_form("NEWONE", "", ""), "KVU-PASS-8053"},
        {create_form("NEWONE", "a\nb", "a\nb"), "KVU-PASS-8051"},
        {create_form("NEWONE", std::string(31, 'x'), std::string(31, 'x')), "KVU-PASS-8051"},
        {create_form("NEWONE", "one", "two"), "KVU-PASSMATCH-8052"},
        {create_form("NEWONE", "pw", "pw", "NOWHERE"), "KVU-DEFTS-8057"},
        {{{"KVUUSER", "SYS"}, {"KVUTODO", "Drop User"}, {"KVUCONFIRM", "1"}}, "KVU-PROTECT-8054"},
        {user_form("SYSTEM", {{"KVUACCOUNT", "LOCKED"}, {"KVUDEFTS", "SYSTEM"}, {"KVUROLE", "DBA"}}), "KVU-PROTECT-8054"},
        {user_form("SYSTEM", {{"KVUDEFTS", "SYSTEM"}, {"KVUROLE", "CONNECT"}}), "KVU-OWNDBA-8056"},
        {user_form("NOBODY", {}), "KVU-USER-8058"},
    };
    const std::string before = account_of("SYSTEM") + account_of("SYS") + sql("select count(*) from sys.dba_users");
    for (const row& r : rows) {
        cgi_result page = kvu(r.form);
        EXPECT_TRUE(contains(page.page, "<H3>" + r.block + ":</H3>")) << r.block << "\n" << page.page;
        EXPECT_FALSE(contains(page.page, "<b>x")) << "markup reached the page";
        EXPECT_EQ(account_of("SYSTEM") + account_of("SYS") + sql("select count(*) from sys.dba_users"), before) << r.block;
    }
    // The user logged in cannot drop itself either.
    cgi_result self = kvu({{"KVUUSER", "EVE"}, {"KVUTODO", "Drop User"}, {"KVUCONFIRM", "1"}}, login_of("EVE"));
    EXPECT_TRUE(contains(self.page, "<H3>KVU-NOTDBA-8002:</H3>"));
}

// A name folds to upper case as the database folds it; a password may hold
// quotes of both kinds and markup, and stays exact.
TEST_F(Security, APasswordWithQuotesAndMarkupStaysExact) {
    const std::string password = "p\"<i>'w";
    cgi_result r = kvu(create_form("Kim_2$", password, password));
    EXPECT_TRUE(contains(r.page, "<P><B>User KIM_2$ was created.</B>")) << r.page;
    EXPECT_FALSE(contains(r.page, "<i>"));
    EXPECT_TRUE(logs_on("KIM_2$", password));
    EXPECT_FALSE(logs_on("KIM_2$", "p\"<I>'W"));
    kvu({{"KVUUSER", "KIM_2$"}, {"KVUCONFIRM", "1"}, {"KVUTODO", "Drop User"}});
    EXPECT_EQ(account_of("KIM_2$"), "");
}

TEST_F(Security, OnlyTheDbaSeesOrChangesUsersAndOnlyFromItsOwnPage) {
    cgi_result r = kvu(user_form("EVE", {}, {"DBA"}), login_of("EVE"));
    EXPECT_TRUE(contains(r.page, "<H3>KVU-NOTDBA-8002:</H3><P><STRONG>Administering the instance needs the DBA role."));
    EXPECT_FALSE(contains(r.page, "KVUUSER"));
    EXPECT_FALSE(contains(r.page, "<TABLE BORDER"));
    EXPECT_EQ(account_of("EVE"), "OPEN\tUSERS\nCONNECT\n");
    tool_request forged = request(user_form("EVE", {}, {"DBA"}));
    forged.token = false;
    r = run_request(forged);
    EXPECT_TRUE(contains(r.page, "-1061:</H3>")) << r.page;
    EXPECT_EQ(account_of("EVE"), "OPEN\tUSERS\nCONNECT\n");
}
