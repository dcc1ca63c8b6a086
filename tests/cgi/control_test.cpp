// Database Control against an instance of its own in the test home, moved
// through every state by its own buttons.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "support/cgi_run.h"
#include "support/form_post.h"
#include "support/utility_probe.h"

namespace {

const std::string SID = "DBC";

const std::string START_SERVICE = "Start Service";
const std::string STOP_SERVICE = "Stop Service";
const std::string START_UP = "Start Up";
const std::string OPEN = "Open";
const std::string SHUT_DOWN = "Shut Down";
const std::string CANCEL = "Cancel";

form_fields login_of(const std::string& user, const std::string& password = "demo") {
    form_fields cookie = with_field(login_fields(), "VANTOR_SID", SID);
    cookie = with_field(cookie, "KVCUSER", user);
    return with_field(cookie, "KVCPASSWORD", password);
}

tool_request request(const form_fields& form, bool posted = true, const form_fields& cookie = login_of("SYSTEM")) {
    return {"kvd", form, cookie, posted, {{"SCRIPT_NAME", "/" + SID + "-bin/kvd"}}};
}

cgi_result kvd(const form_fields& form, bool posted = true, const form_fields& cookie = login_of("SYSTEM")) {
    cgi_result r = run_request(request(form, posted, cookie));
    EXPECT_EQ(r.exit_code, 0) << r.page;
    EXPECT_TRUE(r.page.ends_with("</html>")) << r.page;
    return r;
}

// "service running/instance open/" and the like: vdbadm's first two lines.
std::string state() {
    cgi_result r = run_cgi(test_home() + "/bin/vdbadm", {"vdbadm", "--home", test_home(), "status", SID}, {});
    std::string text = r.page.substr(0, r.page.find('\n', r.page.find('\n') + 1) + 1);
    for (char& c : text)
        if (c == '\n') c = '/';
    return text;
}

const std::string STOPPED = "service stopped/instance down/";
const std::string DOWN = "service running/instance down/";
const std::string MOUNTED = "service running/instance mounted/";
const std::string OPENED = "service running/instance open/";

// Brings the instance into one of the states above with vdbadm.
void enter(const std::string& wanted) {
    ASSERT_TRUE(vdbadm({"start", SID}));
    if (wanted == OPENED) return;
    ASSERT_TRUE(vdbadm({"stop", SID}));
    if (wanted == MOUNTED) {
        kvd({{"KVDTODO", START_UP}, {"KVDSTARTMODE", "MOUNT"}});
    } else if (wanted == STOPPED) {
        ASSERT_TRUE(vdbadm({"service-stop", SID}));
    }
    ASSERT_EQ(state(), wanted);
}

std::string button(const std::string& label) { return "<INPUT type=submit name=\"KVDTODO\" value=\"" + label + "\">"; }

class Control : public testing::Test {
protected:
    static void SetUpTestSuite() {
        if (!vdbadm({"status", SID})) {
            ASSERT_TRUE(vdbadm({"create", SID}));
        }
        ASSERT_TRUE(vdbadm({"start", SID}));
        vdbadm({"sql", SID, "SYSTEM/demo", "CREATE USER EVE IDENTIFIED BY demo"});
    }
    void TearDown() override { vdbadm({"start", SID}); }
};

}  // namespace

TEST_F(Control, EachStateOffersItsButtonsAndTheLightOfTheState) {
    struct row {
        std::string state;
        std::vector<std::string> offered;
        std::string instance_word;
        std::string light;
    } rows[] = {
        {STOPPED, {START_SERVICE}, "down", "kvsyellowlight"},
        {DOWN, {START_UP, STOP_SERVICE}, "down", "kvsredlight"},
        {MOUNTED, {OPEN, SHUT_DOWN}, "mounted", "kvsyellowlight"},
        {OPENED, {SHUT_DOWN}, "open", "kvsgreenlight"},
    };
    const std::vector<std::string> all = {START_SERVICE, STOP_SERVICE, START_UP, OPEN, SHUT_DOWN};
    for (const row& r : rows) {
        enter(r.state);
        cgi_result page = kvd({}, false);
        EXPECT_TRUE(contains(page.page, "<TR><TH align=left>Instance</TH><TD>" + r.instance_word + "</TD></TR>"))
            << r.state << page.page;
        EXPECT_TRUE(contains(page.page, "/" + SID + "/kv/pics/" + r.light + ".gif")) << r.state;
        for (const std::string& label : all) {
            bool offered = std::find(r.offered.begin(), r.offered.end(), label) != r.offered.end();
            EXPECT_EQ(contains(page.page, button(label)), offered) << r.state << " " << label;
        }
        bool up = r.state != DOWN && r.state != STOPPED;
        EXPECT_EQ(contains(page.page, "<TR><TH align=left>Started</TH><TD>20"), up) << r.state << page.page;
        EXPECT_TRUE(contains(page.page, "<TR><TD>db_name</TD><TD>" + SID + "</TD></TR>")) << r.state;
        EXPECT_TRUE(contains(page.page, "<INPUT type=hidden name=\"KVDSTEP\" value=\"1\">")) << r.state;
    }
}

TEST_F(Control, EveryActionLeavesTheStateItNamesAndSaysSo) {
    struct row {
        std::string from;
        form_fields form;
        std::string to;
        std::string line;
    } rows[] = {
        {DOWN, {{"KVDTODO", START_UP}, {"KVDSTARTMODE", "OPEN"}}, OPENED, "Instance DBC was opened."},
        {DOWN, {{"KVDTODO", START_UP}, {"KVDSTARTMODE", "MOUNT"}}, MOUNTED, "Instance DBC was started and mounted."},
        {MOUNTED, {{"KVDTODO", OPEN}}, OPENED, "Instance DBC was opened."},
        {MOUNTED, {{"KVDTODO", SHUT_DOWN}, {"KVDSHUTMODE", "NORMAL"}}, DOWN, "Instance DBC was shut down (normal)."},
        {OPENED, {{"KVDTODO", SHUT_DOWN}, {"KVDSHUTMODE", "NORMAL"}}, DOWN, "Instance DBC was shut down (normal)."},
        {OPENED, {{"KVDTODO", SHUT_DOWN}, {"KVDSHUTMODE", "ABORT"}, {"KVDCONFIRM", "1"}}, DOWN,
         "Instance DBC was shut down (abort)."},
        {OPENED, {{"KVDTODO", SHUT_DOWN}, {"KVDSHUTMODE", "IMMEDIATE"}, {"KVDCONFIRM", "1"}}, DOWN,
         "Instance DBC was shut down (immediate)"},
        {DOWN, {{"KVDTODO", STOP_SERVICE}}, STOPPED, "The service of instance DBC was stopped."},
        // The parameter file of the instance says autostart = true.
        {STOPPED, {{"KVDTODO", START_SERVICE}}, OPENED, "The service of instance DBC was started, and the instance was opened."},
    };
    for (const row& r : rows) {
        enter(r.from);
        cgi_result page = kvd(r.form);
        EXPECT_EQ(state(), r.to) << r.line;
        EXPECT_TRUE(contains(page.page, "<P><B>" + r.line)) << page.page;
        // The page already shows the state the action left.
        EXPECT_EQ(contains(page.page, "kvsgreenlight"), r.to == OPENED) << r.line;
    }
}

TEST_F(Control, ActionsThatDoNotFitTheStateAreRefusedAndChangeNothing) {
    struct row {
        std::string state;
        form_fields form;
        std::string block;
    } rows[] = {
        {OPENED, {{"KVDTODO", STOP_SERVICE}}, "KVD-SVCSTOP-3040:</H3><P><STRONG>The service cannot be stopped while the instance is open."},
        {MOUNTED, {{"KVDTODO", STOP_SERVICE}}, "KVD-SVCSTOP-3040:</H3><P><STRONG>The service cannot be stopped while the instance is mounted."},
        {OPENED, {{"KVDTODO", START_UP}}, "KVD-STATE-3042:</H3><P><STRONG>This action does not fit the instance, which is open now."},
        {OPENED, {{"KVDTODO", OPEN}}, "KVD-STATE-3042:"},
        {DOWN, {{"KVDTODO", SHUT_DOWN}}, "KVD-STATE-3042:</H3><P><STRONG>This action does not fit the instance, which is down now."},
    };
    for (const row& r : rows) {
        enter(r.state);
        cgi_result page = kvd(r.form);
        EXPECT_TRUE(contains(page.page, "<H3>" + r.block)) << page.page;
        EXPECT_EQ(state(), r.state);
    }
}

TEST_F(Control, ShutdownsThatEndWorkAreConfirmedFirst) {
    for (const std::string mode : {"IMMEDIATE", "ABORT"}) {
        enter(OPENED);
        cgi_result page = kvd({{"KVDTODO", SHUT_DOWN}, {"KVDSHUTMODE", mode}});
        EXPECT_EQ(state(), OPENED) << mode;
        EXPECT_TRUE(contains(page.page, "<P><B>Shut Down " + std::string(mode == "ABORT" ? "Abort" : "Immediate") +
                                            " will take instance DBC down"))
            << page.page;
        EXPECT_TRUE(contains(page.page, "<INPUT type=hidden name=\"KVDSHUTMODE\" value=\"" + mode + "\">"));
        EXPECT_TRUE(contains(page.page, "<INPUT type=hidden name=\"KVDCONFIRM\" value=\"1\">"));
        EXPECT_TRUE(contains(page.page, button(SHUT_DOWN)) && contains(page.page, button(CANCEL)));
        // Cancel leaves the instance as it was.
        page = kvd({{"KVDTODO", CANCEL}, {"KVDSHUTMODE", mode}, {"KVDCONFIRM", "1"}});
        EXPECT_TRUE(contains(page.page, "<P><B>Nothing was changed."));
        EXPECT_EQ(state(), OPENED);
    }
}

TEST_F(Control, OnlyTheDbaActsAndOnlyFromItsOwnPage) {
    enter(OPENED);
    // A user without the DBA role sees the status, the reason, and no button.
    const form_fields abort = {{"KVDTODO", SHUT_DOWN}, {"KVDSHUTMODE", "ABORT"}, {"KVDCONFIRM", "1"}};
    cgi_result page = kvd(abort, true, login_of("EVE"));
    EXPECT_EQ(state(), OPENED);
    EXPECT_TRUE(contains(page.page, "KVD-NOTDBA-3002:</H3><P><STRONG>Administering the instance needs the DBA role."));
    EXPECT_TRUE(contains(page.page, "<TR><TH align=left>Instance</TH><TD>open</TD></TR>"));
    EXPECT_FALSE(contains(page.page, "name=\"KVDTODO\""));
    EXPECT_FALSE(contains(page.page, "<H3>Parameters</H3>"));
    // A refused password sees the database's refusal and nothing of the instance.
    page = kvd(abort, true, login_of("SYSTEM", "guess"));
    EXPECT_EQ(state(), OPENED);
    EXPECT_TRUE(contains(page.page, "<H3>KVD-LOGIN-1017:</H3>")) << page.page;
    EXPECT_FALSE(contains(page.page, "<TR><TH align=left>Instance</TH>"));
    // While the service is stopped the engine checks the password offline:
    // a wrong one, or a user without the DBA role, starts nothing.
    enter(STOPPED);
    const form_fields start = {{"KVDTODO", START_SERVICE}};
    page = kvd(start, true, login_of("SYSTEM", "guess"));
    EXPECT_TRUE(contains(page.page, "<H3>KVD-LOGIN-1017:</H3>")) << page.page;
    page = kvd(start, true, login_of("EVE"));
    EXPECT_TRUE(contains(page.page, "KVD-NOTDBA-3002:")) << page.page;
    EXPECT_EQ(state(), STOPPED);
    enter(OPENED);
    // A request that did not come from the tool's own page acts on nothing.
    for (bool posted : {false, true}) {
        tool_request forged = request(abort, posted);
        forged.token = false;
        cgi_result refused = run_request(forged);
        EXPECT_TRUE(contains(refused.page, posted ? "-1061:</H3>" : "-1060:</H3>")) << refused.page;
        EXPECT_EQ(state(), OPENED);
    }
}

namespace {

// A vdbadm query of PROD whose reader never reads: it blocks writing its rows
// and keeps its session until it is ended.
struct stalled_query {
    pid_t pid = -1;
    int output = -1;
    stalled_query() {
        int pipe_ends[2];
        if (pipe(pipe_ends) != 0) return;
        pid = fork();
        if (pid == 0) {
            dup2(pipe_ends[1], 1);
            close(pipe_ends[0]);
            execl((test_home() + "/bin/vdbadm").c_str(), "vdbadm", "--home", test_home().c_str(), "sql", "PROD",
                  "SYSTEM/demo", "select * from sales.orders", static_cast<char*>(nullptr));
            _exit(127);
        }
        close(pipe_ends[1]);
        output = pipe_ends[0];
    }
    // Whether the process has ended within a second.
    bool ended() {
        for (int i = 0; i < 100; ++i, std::this_thread::sleep_for(std::chrono::milliseconds(10)))
            if (waitpid(pid, nullptr, WNOHANG) == pid) return true;
        return false;
    }
    ~stalled_query() {
        if (waitpid(pid, nullptr, WNOHANG) == 0) kill(pid, SIGKILL), waitpid(pid, nullptr, 0);
        close(output);
    }
};

cgi_result kvd_of_prod(const form_fields& form) {
    return run_request({"kvd", form, login_fields(), true, {{"SCRIPT_NAME", "/PROD-bin/kvd"}}});
}

cgi_result kvs(const form_fields& form, const form_fields& cookie = login_fields()) {
    return run_request({"kvs", form, cookie, true, {}});
}

// An export of SALES.ORDERS through the export tool, started in the
// background and awaited until its session is at work on the table.
struct running_export {
    const std::string dump = test_home() + "/export/ended.dmp";
    cgi_result page;
    std::thread run;
    std::string session;
    running_export() {
        std::filesystem::remove(dump);
        const form_fields form = {{"KVEINSTANCE", "1"},    {"KVEEXPFILE", dump},  {"KVESELECTOPTS", "Tables"},
                                  {"KVEROWSCB", "on"},     {"KVERECLEN", "1024"}, {"KVEBUFSIZ", "4096"},
                                  {"KVESUBMIT", "Export"}, {"T0", "SALES.ORDERS"}};
        run = std::thread([this, form] { page = post_form("nph-kve", form, test_home()); });
        session = await_session("PROD", "dbdump", "exporting SALES.ORDERS: ");
    }
    ~running_export() {
        if (run.joinable()) run.join();
    }
    // The page once the export has ended: its utility's last line, the end of
    // the document, and neither the export file nor the parameter file left.
    void expect_stopped_cleanly() {
        run.join();
        EXPECT_EQ(page.exit_code, 0);
        EXPECT_TRUE(contains(page.page, "dbdump: stopped: the session was ended by an administrator.\n</pre>")) << page.page;
        EXPECT_TRUE(page.page.ends_with("</html>"));
        EXPECT_FALSE(std::filesystem::exists(dump));
        EXPECT_EQ(parameter_files(test_home(), "exppar"), std::vector<std::string>{});
    }
};

class ControlOfProd : public testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(vdbadm({"start", "PROD"})); }
    void TearDown() override { vdbadm({"start", "PROD"}); }
};

}  // namespace

TEST_F(ControlOfProd, OtherSessionsHoldANormalShutdownAndAnImmediateOneEndsThem) {
    stalled_query query;
    ASSERT_NE(await_session("PROD", "vdbadm", ""), "");
    cgi_result normal = kvd_of_prod({{"KVDTODO", SHUT_DOWN}, {"KVDSHUTMODE", "NORMAL"}});
    EXPECT_TRUE(contains(normal.page, "<H3>KVD-SHUTNORM-3041:</H3><P><STRONG>Shut Down Normal waits until no other "
                                      "session is connected, and 1 are."))
        << normal.page;
    cgi_result confirm = kvd_of_prod({{"KVDTODO", SHUT_DOWN}, {"KVDSHUTMODE", "IMMEDIATE"}});
    EXPECT_TRUE(contains(confirm.page, "will end 1 other sessions and take instance PROD down:")) << confirm.page;
    EXPECT_TRUE(contains(confirm.page, " SYSTEM (vdbadm) ")) << confirm.page;
    EXPECT_TRUE(contains(run_cgi(test_home() + "/bin/vdbadm", {"vdbadm", "--home", test_home(), "status", "PROD"}, {}).page,
                         "instance open"));
    cgi_result immediate = kvd_of_prod({{"KVDTODO", SHUT_DOWN}, {"KVDSHUTMODE", "IMMEDIATE"}, {"KVDCONFIRM", "1"}});
    EXPECT_TRUE(contains(immediate.page, "<P><B>Instance PROD was shut down (immediate): 1 sessions were ended.")) << immediate.page;
    // Blocked in a write, the query is ended by the signal that comes with the mark.
    EXPECT_TRUE(query.ended());
}

TEST_F(ControlOfProd, ARunningExportEndedByTheAdministratorStopsCleanly) {
    struct ending {
        const char* how;
        std::function<cgi_result(const std::string& session)> end;
        std::string said;
    } endings[] = {
        {"shutdown immediate",
         [](const std::string&) { return kvd_of_prod({{"KVDTODO", SHUT_DOWN}, {"KVDSHUTMODE", "IMMEDIATE"}, {"KVDCONFIRM", "1"}}); },
         "<P><B>Instance PROD was shut down (immediate): "},
        {"Session Manager",
         [](const std::string& id) {
             // At work, its row says so and names the table and the rows so far.
             std::string table = kvs({}).page;
             EXPECT_TRUE(std::regex_search(table, std::regex("<TD>" + id + "</TD><TD>SYSTEM</TD><TD>dbdump</TD>.*"
                                                             "<TD>ACTIVE</TD><TD>exporting SALES.ORDERS: [0-9]+ rows</TD>")))
                 << table;
             return end_session_from_manager(id);
         },
         "<P><B>1 sessions were ended.</B>"},
        // The tool only waits for its utility, whose session ends with the tool's.
        {"the export tool's own session",
         [](const std::string&) { return end_session_from_manager(await_session("PROD", "nph-kve", "")); },
         "<P><B>1 sessions were ended.</B>"},
    };
    for (const ending& e : endings) {
        SCOPED_TRACE(e.how);
        ASSERT_TRUE(vdbadm({"start", "PROD"}));
        running_export run;
        ASSERT_NE(run.session, "");
        cgi_result ended = e.end(run.session);
        EXPECT_TRUE(contains(ended.page, e.said)) << ended.page;
        run.expect_stopped_cleanly();
    }
}

TEST_F(ControlOfProd, TheSessionManagerListsTheSessionsAndEndsTheCheckedOnes) {
    stalled_query query;
    const std::string id = await_session("PROD", "vdbadm", "");
    ASSERT_NE(id, "");
    cgi_result table = kvs({});
    EXPECT_TRUE(contains(table.page, "<TR><TD><INPUT type=checkbox name=\"KVSEND\" value=\"" + id + "\"></TD><TD>" + id +
                                         "</TD><TD>SYSTEM</TD><TD>vdbadm</TD>"))
        << table.page;
    // The page's own session is marked, with no box to end it.
    EXPECT_TRUE(contains(table.page, "<TR><TD><I>this page</I></TD>")) << table.page;
    EXPECT_TRUE(contains(table.page, "<TD>kvs</TD>"));

    cgi_result none = kvs({{"KVSTODO", "End Sessions"}});
    EXPECT_TRUE(contains(none.page, "<H3>KVS-NONE-7021:</H3>")) << none.page;
    cgi_result confirm = kvs({{"KVSEND", id}, {"KVSTODO", "End Sessions"}});
    EXPECT_TRUE(contains(confirm.page, "<P><B>1 sessions will be ended.")) << confirm.page;
    EXPECT_TRUE(contains(confirm.page, "<LI>" + id + " SYSTEM (vdbadm)")) << confirm.page;
    EXPECT_FALSE(query.ended());
    cgi_result ended = kvs({{"KVSEND", id}, {"KVSCONFIRM", "1"}, {"KVSTODO", "End Sessions"}});
    EXPECT_TRUE(contains(ended.page, "<P><B>1 sessions were ended.</B>")) << ended.page;
    // Gone, or marked ended until its process is: either way no box to end it again.
    EXPECT_FALSE(contains(ended.page, "value=\"" + id + "\"")) << ended.page;
    EXPECT_TRUE(query.ended());
    // Once its process is gone, Refresh lists it no more.
    EXPECT_FALSE(contains(kvs({{"KVSTODO", "Refresh"}}).page, "value=\"" + id + "\""));
}

TEST_F(ControlOfProd, TheSessionManagerRefusesToEndItsOwnSessionAndEndsNoneWithIt) {
    stalled_query query;
    const std::string other = await_session("PROD", "vdbadm", "");
    ASSERT_NE(other, "");
    // A request's own session is known only inside it. The next request takes
    // the number this one leaves free, with one of the next few serials (each
    // of its connections takes one).
    std::smatch own;
    const std::string table = kvs({}).page;
    ASSERT_TRUE(std::regex_search(table, own, std::regex("<TD><I>this page</I></TD><TD>([0-9]+),([0-9]+)</TD>"))) << table;
    form_fields form = {{"KVSEND", other}, {"KVSCONFIRM", "1"}, {"KVSTODO", "End Sessions"}};
    for (unsigned long serial = std::stoul(own[2].str()) + 1, last = serial + 4; serial < last; ++serial)
        form.emplace_back("KVSEND", own[1].str() + "," + std::to_string(serial));
    // Even past the confirmation, a request that names it ends nothing.
    cgi_result refused = kvs(form);
    EXPECT_TRUE(contains(refused.page, "<H3>KVS-OWN-7023:</H3>")) << refused.page;
    EXPECT_TRUE(contains(refused.page, "value=\"" + other + "\"")) << refused.page;
    EXPECT_EQ(await_session("PROD", "vdbadm", ""), other);
}

TEST_F(ControlOfProd, TheSessionManagerEndsNothingForARequestFromElsewhere) {
    stalled_query query;
    const std::string other = await_session("PROD", "vdbadm", "");
    ASSERT_NE(other, "");
    const form_fields end = {{"KVSEND", other}, {"KVSCONFIRM", "1"}, {"KVSTODO", "End Sessions"}};
    const form_fields eve = with_field(with_field(login_fields(), "KVCUSER", "EVE"), "KVCPASSWORD", "demo");
    auto forged = [&](bool posted, bool token, const form_fields& cookie, std::map<std::string, std::string> server = {}) {
        tool_request r{"kvs", end, cookie, posted, std::move(server)};
        r.token = token;
        return r;
    };
    struct stranger {
        const char* who;
        tool_request request;
        std::string refusal;
    } strangers[] = {
        {"a link", forged(false, false, login_fields()), "-1060:</H3>"},
        {"a post without the page's token", forged(true, false, login_fields()), "-1061:</H3>"},
        {"a post from another site", forged(true, true, login_fields(), {{"HTTP_ORIGIN", "http://elsewhere.example"}}),
         "<H3>KVC-ORIGIN"},
        {"no login", forged(true, false, {}), "<H3>KVC-OH-100:</H3>"},
        {"a user without the DBA role", forged(true, true, eve), "<H3>KVS-NOTDBA-7002:</H3>"},
    };
    for (const stranger& s : strangers) {
        SCOPED_TRACE(s.who);
        cgi_result refused = run_request(s.request);
        EXPECT_TRUE(contains(refused.page, s.refusal)) << refused.page;
        EXPECT_EQ(await_session("PROD", "vdbadm", ""), other);
    }
    // A made-up session is text on the page, and no session to the engine.
    const std::string made_up = "1,1'<b>";
    cgi_result confirm = kvs({{"KVSEND", made_up}, {"KVSTODO", "End Sessions"}});
    EXPECT_TRUE(contains(confirm.page, "<LI>1,1&#39;&lt;b&gt;\n")) << confirm.page;
    cgi_result ended = kvs({{"KVSEND", made_up}, {"KVSCONFIRM", "1"}, {"KVSTODO", "End Sessions"}});
    EXPECT_TRUE(contains(ended.page, "<H3>KVS-END-3111:</H3>")) << ended.page;
    EXPECT_FALSE(contains(confirm.page + ended.page, made_up));
    EXPECT_EQ(await_session("PROD", "vdbadm", ""), other);
}

TEST_F(ControlOfProd, TheSessionManagerShowsAUserWithoutTheDbaRoleNothing) {
    form_fields eve = with_field(with_field(login_fields(), "KVCUSER", "EVE"), "KVCPASSWORD", "demo");
    cgi_result page = kvs({}, eve);
    EXPECT_TRUE(contains(page.page, "<H3>KVS-NOTDBA-7002:</H3><P><STRONG>Administering the instance needs the DBA role."));
    EXPECT_FALSE(contains(page.page, "<TABLE BORDER"));
    EXPECT_FALSE(contains(page.page, "KVSTODO"));
}
