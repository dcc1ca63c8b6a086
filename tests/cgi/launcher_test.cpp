// The login launcher against the demo instance of the test home.
#include <algorithm>
#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "support/cgi_run.h"
#include "support/form_post.h"

namespace {

// The login form posted from the login page, with the cookie a browser may
// still hold from an earlier login.
cgi_result login(const std::string& user, const std::string& password, const std::string& sid = "PROD",
                 const std::map<std::string, std::string>& server = {}, const form_fields& cookie = {}) {
    form_fields form = {{"VANTOR_HOME", test_home()}, {"VANTOR_SID", sid}, {"KVCUSER", user}, {"KVCPASSWORD", password}};
    return run_request({"kvla", form, cookie, true, server});
}

std::string cookie_line(const std::string& page) {
    size_t start = page.find("Set-Cookie: ");
    return start == std::string::npos ? "" : page.substr(start, page.find('\n', start) - start);
}

// The value of one pair of the cookie line.
std::string cookie_pair(const std::string& page, const std::string& name) {
    std::string line = cookie_line(page);
    size_t start = line.find(name + "=");
    if (start == std::string::npos) return "<absent>";
    start += name.size() + 1;
    return line.substr(start, line.find_first_of("&;", start) - start);
}


// Puts the instance back as the demo left it: service running, instance open.
class Launcher : public testing::Test {
protected:
    void TearDown() override {
        vdbadm({"service-start", "PROD"});
        vdbadm({"start", "PROD"});
    }
};

}  // namespace

TEST_F(Launcher, CookieCarriesTheLoginAndReachesOnlyThisInstancesPrograms) {
    cgi_result r = login("adam", "demo");
    EXPECT_EQ(r.exit_code, 0);
    std::string expected = head_lines() + "Set-Cookie: KVCOOKIE=VANTOR_HOME=" + test_home() +
                           "&VANTOR_SID=PROD&KVCUSER=adam&KVCPASSWORD=";
    EXPECT_EQ(r.page.rfind(expected, 0), 0u) << r.page;
    EXPECT_TRUE(contains(r.page, "&KVRMTADDR=127.0.0.1&KVLOGPID=")) << r.page;
    EXPECT_TRUE(contains(r.page, "; path=/PROD-bin/; HttpOnly; SameSite=Strict\n\n\n<html>")) << r.page;

    // Nonce, ciphertext and tag: 12 + 4 + 16 bytes, one group each.
    EXPECT_EQ(cookie_pair(r.page, "KVCPLEN"), "32");
    std::string hex = cookie_pair(r.page, "KVCPASSWORD");
    EXPECT_EQ(std::count(hex.begin(), hex.end(), 'w'), 32);
    EXPECT_EQ(hex.back(), 'w');
    // The same login again gives another text.
    EXPECT_NE(cookie_pair(login("adam", "demo").page, "KVCPASSWORD"), hex);
}

TEST_F(Launcher, RevisitWithTheCookieShowsTheLoginItHolds) {
    form_fields cookie = enciphered_login_fields();
    // A bookmark or the address bar: the cookie alone, no form.
    cgi_result r = run_request({"kvla", {}, cookie, false, {}});
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(r.page.rfind(head_lines() + "\n<html>", 0), 0u) << "no new cookie\n" << r.page;
    EXPECT_TRUE(contains(r.page, "<td><b>system</b></td>")) << r.page;
    EXPECT_TRUE(contains(r.page, "kvsgreenlight.gif"));
    EXPECT_TRUE(contains(r.page, "USEMAP=\"#kvcmup.map\""));
    EXPECT_FALSE(contains(r.page, "<H3>")) << r.page;
}

TEST_F(Launcher, VerdictsOfTheLogin) {
    struct row {
        const char* user;
        const char* password;
        const char* state;  // vdbadm command that sets the instance's state first
        const char* block;  // the block's heading, or none
        const char* light;
        const char* map;  // none: message 1043 stands in its place
    } rows[] = {
        {"SYSTEM", "demo", "start", nullptr, "kvsgreenlight", "kvcmup.map"},
        {"adam", "demo", "start", nullptr, "kvsgreenlight", "kvcmup.map"},
        {"EVE", "demo", "start", "KVLA-NOTDBA-1042", "kvsgreenlight", nullptr},
        {"SYSTEM", "wrong", "start", "KVLA-LOGIN-1017", "kvsgreenlight", nullptr},
        {"SYSTEM", "demo", "stop", "KVLA-DBDOWN-1035", "kvsredlight", nullptr},
        {"Internal", "demo", "stop", "KVLA-DBDOWN-1035", "kvsredlight", "kvcmnotup.map"},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(std::string(r.user) + "/" + r.password + " after " + r.state);
        ASSERT_TRUE(vdbadm({r.state, "PROD"}));
        cgi_result result = login(r.user, r.password);
        EXPECT_EQ(result.exit_code, 0);
        // A login the instance refuses sets no cookie; one it cannot check, because it is down, does.
        bool refused = r.block && std::string(r.block) == "KVLA-LOGIN-1017";
        EXPECT_EQ(cookie_line(result.page).empty(), refused) << result.page;
        EXPECT_TRUE(contains(result.page, std::string("/PROD/kv/pics/") + r.light + ".gif")) << result.page;
        if (r.block) {
            EXPECT_TRUE(contains(result.page, std::string("<H3>") + r.block + ":</H3>")) << result.page;
            std::string anchor = std::string(r.block).substr(0, 4) == "KVLA" ? "error.htm#kvla" : "";
            EXPECT_TRUE(contains(result.page, anchor + std::string(r.block).substr(std::string(r.block).rfind('-') + 1)));
        } else {
            EXPECT_FALSE(contains(result.page, "<H3>")) << result.page;
        }
        if (r.map) {
            EXPECT_TRUE(contains(result.page, std::string("USEMAP=\"#") + r.map + "\"")) << result.page;
        } else {
            EXPECT_FALSE(contains(result.page, "USEMAP")) << result.page;
            EXPECT_TRUE(contains(result.page, "<td align=center valign=bottom>The tools open")) << result.page;
        }
        // One tool bar only, its first cell the login link.
        EXPECT_EQ(result.page.find("<hr width=100%></center>"), result.page.rfind("<hr width=100%></center>"));
        EXPECT_TRUE(contains(result.page, "<a href=http://dbhost:8080/PROD-bin/login>"));
    }
}

// An instance of the test home with the limits every new instance has (the
// demo instance of the test home has its own), gone after the test.
class GuessedInstance {
public:
    GuessedInstance() { created_ = vdbadm({"create", sid}); }
    ~GuessedInstance() {
        namespace fs = std::filesystem;
        const fs::path dbs = test_home() + "/dbs";
        fs::remove_all(dbs / sid);
        fs::remove(dbs / (std::string("init") + sid + ".vpf"));
        for (const std::string& name : directory_entries(dbs.string()))
            if (name.rfind("guess_", 0) == 0) fs::remove(dbs / name);
    }
    bool created() const { return created_; }
    static constexpr const char* sid = "GUESS";

private:
    bool created_ = false;
};

TEST_F(Launcher, BurstOfWrongPasswordsMeetsTheDelay) {
    GuessedInstance instance;
    ASSERT_TRUE(instance.created());
    const std::map<std::string, std::string> guesser = {{"REMOTE_ADDR", "10.6.6.6"}};
    for (int n = 0; n < 5; ++n) {
        cgi_result r = login("system", "guess" + std::to_string(n), instance.sid, guesser);
        ASSERT_TRUE(contains(r.page, "<H3>KVLA-LOGIN-1017:</H3>")) << n << "\n" << r.page;
    }
    // Now not even the right password is tried: the launcher says how long
    // to wait, sets no cookie, and cannot tell the instance's state.
    cgi_result r = login("system", "demo", instance.sid, guesser);
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_TRUE(contains(r.page, "<H3>KVLA-LOGIN-3103:</H3>")) << r.page;
    EXPECT_TRUE(contains(r.page, "too many refused logons: wait ")) << r.page;
    EXPECT_TRUE(contains(r.page, "error.htm#kvla3103"));
    EXPECT_EQ(cookie_line(r.page), "");
    EXPECT_TRUE(contains(r.page, "/GUESS/kv/pics/kvsyellowlight.gif")) << r.page;
    EXPECT_TRUE(contains(r.errors, "vdb: refused logon of SYSTEM from 10.6.6.6 to GUESS: too many refused logons"))
        << r.errors;
    // Another client logs on.
    r = login("system", "demo", instance.sid);
    EXPECT_NE(cookie_line(r.page), "") << r.page;
}

TEST_F(Launcher, StoppedServiceIsStartedByTheLogin) {
    ASSERT_TRUE(vdbadm({"service-stop", "PROD"}));
    cgi_result r = login("system", "demo");
    EXPECT_TRUE(contains(r.page, "kvsgreenlight.gif")) << r.page;
    EXPECT_FALSE(contains(r.page, "<H3>"));
}

TEST_F(Launcher, UnknownInstanceGivesTheYellowLight) {
    cgi_result r = login("system", "demo", "NOPE");
    EXPECT_TRUE(contains(r.page, "/NOPE/kv/pics/kvsyellowlight.gif")) << r.page;
    EXPECT_TRUE(contains(r.page, "<H3>KVLA-LOGIN-12154:</H3>")) << r.page;
    EXPECT_EQ(cookie_pair(r.page, "VANTOR_SID"), "NOPE");
}

TEST_F(Launcher, MissingHomeOrInstanceGetsTheStartUpBlockAndNoCookie) {
    for (const form_fields& form : {form_fields{{"VANTOR_SID", "PROD"}, {"KVCUSER", "system"}},
                                    form_fields{{"VANTOR_HOME", test_home()}, {"KVCUSER", "system"}}}) {
        cgi_result r = run_request({"kvla", form, {}, true, {}});
        EXPECT_EQ(r.exit_code, 3);
        EXPECT_EQ(r.page.rfind(head_lines() + "\n<H3>KVC-O", 0), 0u) << r.page;
        EXPECT_FALSE(contains(r.page, "Set-Cookie"));
    }
}

TEST_F(Launcher, HostileValuesStayInsideTheCookieAndThePage) {
    // The instance refuses a user of this name: it is written back without a cookie.
    cgi_result r = login("<script>alert(1)</script>\nSet-Cookie: x=1; a&b=c", "demo");
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_FALSE(contains(r.page, "<script>"));
    EXPECT_EQ(cookie_line(r.page.substr(0, r.page.find("\n\n"))), "");
    EXPECT_TRUE(contains(r.page, "<b>&lt;script&gt;alert(1)&lt;/script&gt;\nSet-Cookie: x=1; a&amp;b=c</b>")) << r.page;
    // A user of the instance whose name holds what a cookie may not: "#"
    // stands in no cookie value unencoded.
    ASSERT_TRUE(vdbadm({"sql", "PROD", "SYSTEM/demo", "create user HOST#1 identified by demo"}));
    r = login("host#1", "demo");
    EXPECT_EQ(cookie_pair(r.page, "KVCUSER"), "host%231");
    EXPECT_EQ(r.page.find("Set-Cookie"), r.page.rfind("Set-Cookie: KVCOOKIE"));
    vdbadm({"sql", "PROD", "SYSTEM/demo", "drop user HOST#1"});
}

TEST_F(Launcher, CookieFromAnotherAddressWarnsOnlyWhereTheCookieIsKept) {
    // A login from a new address replaces the cookie: nothing to warn about.
    cgi_result r = login("system", "demo", "PROD", {{"REMOTE_ADDR", "10.1.2.3"}}, login_fields());
    EXPECT_FALSE(contains(r.page, "KVC-TOOL")) << r.page;
    EXPECT_EQ(cookie_pair(r.page, "KVRMTADDR"), "10.1.2.3");
    EXPECT_TRUE(contains(r.page, "kvsgreenlight.gif"));
    // A revisit keeps it: the warning comes first after the head.
    r = run_request({"kvla", {}, login_fields(), false, {{"REMOTE_ADDR", "10.1.2.3"}}});
    EXPECT_EQ(r.page.find("<H3>KVC-TOOL-1052:</H3>"), head_lines().size() + 1) << r.page;
}

TEST_F(Launcher, LoginPageOffersALogoutToTheCookiesUser) {
    // Reached with a slash at its end, the page still posts to the launcher.
    tool_request page{"login", {}, login_fields(), false, {{"PATH_INFO", "/"}}};
    std::string text = run_request(page).page;
    EXPECT_TRUE(contains(text, "<form method=\"post\" action=\"/PROD-bin/kvla\">")) << text;
    EXPECT_TRUE(contains(text, "<form class=\"logout\" method=\"post\" action=\"/PROD-bin/kvla\">")) << text;
    EXPECT_TRUE(contains(text, "Logged in as <b id=\"logged-in\">system</b>")) << text;
    EXPECT_TRUE(contains(text, "<input type=\"hidden\" name=\"KVCLOGOUT\" value=\"1\">"));
    // Without a cookie there is no one to log out.
    EXPECT_FALSE(contains(run_request({"login", {}, {}, false, {}}).page, "KVCLOGOUT"));
}

TEST_F(Launcher, LogoutExpiresTheCookieAndLeadsBackToTheLoginPage) {
    const form_fields logout = {{"VANTOR_SID", "PROD"}, {"KVCLOGOUT", "1"}};
    cgi_result r = run_request({"kvla", logout, login_fields(), true, {}});
    EXPECT_EQ(r.exit_code, 0);
    const std::string head = r.page.substr(0, r.page.find("\n\n"));
    EXPECT_EQ(head.rfind("Status: 303 See Other\nLocation: http://dbhost:8080/PROD-bin/login\n", 0), 0u) << head;
    EXPECT_TRUE(contains(head, "\nSet-Cookie: KVCOOKIE=; Max-Age=0; path=/PROD-bin/; HttpOnly; SameSite=Strict")) << head;
    // Only from the login page: another site cannot end the login.
    tool_request forged{"kvla", logout, login_fields(), true, {}, false};
    r = run_request(forged);
    EXPECT_TRUE(contains(r.page, "<H3>KVC-LOGINFORM-1063:</H3>")) << r.page;
    EXPECT_EQ(cookie_line(r.page.substr(0, r.page.find("\n\n"))), "");
}

TEST_F(Launcher, DamagedPasswordGroupsAreALoginFailureNotACrash) {
    for (const std::string& pairs :
         {std::string("KVCPLEN=13&KVCPASSWORD=zzw"), std::string("KVCPLEN=40&KVCPASSWORD=1w2w"),
          std::string("KVCPLEN=13&KVCPASSWORD=") + std::string(5000, 'f')}) {
        auto env = cgi_request("KVBKUINSTANCE=1", "VANTOR_HOME=" + test_home() + "&VANTOR_SID=PROD&KVCUSER=system&" + pairs);
        cgi_result r = run_cgi(installed_program("nph-kvb"), {"nph-kvb"}, env);
        EXPECT_EQ(r.exit_code, 0) << pairs;
        // The instance answers but refuses the password: green light, page as usual.
        EXPECT_TRUE(contains(r.page, "kvsgreenlight.gif")) << r.page;
    }
}
