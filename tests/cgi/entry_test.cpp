// The five programs as the web server runs them: entry, dispatch, exit codes
// and the frame every handler starts with.
#include <algorithm>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/cgi_run.h"
#include "support/form_post.h"

namespace {

struct program {
    const char* name;
    const char* image;
    const char* head;          // how every response begins
    bool has_pages;            // false while the tool's pages are still to come
    const char* startup_head;  // the whole head before a start-up failure's block
};

const std::string NPH_HEAD = "HTTP/1.0 200 Okay\n" + head_lines() + "\n";
const std::string HTML_HEAD = head_lines() + "\n";
const std::string LAUNCHER_HEAD = head_lines();

// The launcher's head goes on with its cookie once it has read the login.
const program PROGRAMS[] = {
    {"nph-kvb", "kvbhost", NPH_HEAD.c_str(), true, NPH_HEAD.c_str()},
    {"kvx", "kvxhost", HTML_HEAD.c_str(), true, HTML_HEAD.c_str()},
    {"nph-kvi", "kvihost", NPH_HEAD.c_str(), true, NPH_HEAD.c_str()},
    {"nph-kve", "kvehost", NPH_HEAD.c_str(), true, NPH_HEAD.c_str()},
    {"kvla", "kvlaunch", LAUNCHER_HEAD.c_str(), true, HTML_HEAD.c_str()},
};

// A complete request of a logged-in administrator (the launcher reads the
// same pairs as its login form).
std::map<std::string, std::string> login_request() {
    return cgi_request("KVBKUINSTANCE=1", login_pairs("system", "demo"));
}

cgi_result run(const program& p, const std::map<std::string, std::string>& env, const std::string& body = "") {
    return run_cgi(installed_program(p.name), {p.name}, env, body);
}

// The identifiers of the blocks of a page, in order: "<H3>KVC-OH-100:</H3>" gives KVC-OH.
std::vector<std::string> identifiers(const std::string& page) {
    std::vector<std::string> out;
    for (size_t at = page.find("<H3>"); at != std::string::npos; at = page.find("<H3>", at + 1)) {
        size_t end = page.find(":</H3>", at);
        if (end == std::string::npos) break;
        std::string heading = page.substr(at + 4, end - at - 4);
        out.push_back(heading.substr(0, heading.rfind('-')));
    }
    return out;
}

}  // namespace

TEST(Entry, ImageNameWithoutProgramIsRefused) {
    for (const program& p : PROGRAMS) {
        cgi_result r = run_cgi(installed_program(p.name), {p.image}, {});
        EXPECT_EQ(r.exit_code, 4) << p.image;
        EXPECT_EQ(r.page, "No program specified\n");
        // The image name is compared without regard to case or extension.
        r = run_cgi(installed_program(p.name), {std::string("C:\\Web\\") + p.image + ".EXE"}, {});
        EXPECT_EQ(r.page, "No program specified\n");
    }
}

TEST(Entry, UnknownProgramIsRefused) {
    struct row {
        std::vector<std::string> argv;
        const char* page;
    } rows[] = {
        {{"kvbhost", "nph-kvz"}, "Unable to run program kvbhost\n"},
        {{"/srv/cgi/NPH-KVZ.EXE"}, "Unable to run program nph-kvz\n"},
        {{"lsf"}, "Unable to run program lsf\n"},
        {{""}, "Unable to run program \n"},
    };
    for (const row& r : rows) {
        cgi_result result = run_cgi(installed_program("nph-kvb"), r.argv, {});
        EXPECT_EQ(result.exit_code, 4);
        EXPECT_EQ(result.page, r.page);
    }
}

TEST(Entry, ProgramIsFoundUnderAnyPathAndUnderItsImageName) {
    for (const std::vector<std::string>& argv : std::vector<std::vector<std::string>>{
             {"C:\\Bin\\NPH-KVB.EXE"}, {"/usr/lib/cgi-bin/nph-kvb"}, {"kvbhost", "nph-kvb"}, {"KVBHOST.EXE", "nph-kvb"}}) {
        cgi_result r = run_cgi(installed_program("nph-kvb"), argv, {});
        EXPECT_EQ(r.exit_code, 3) << argv[0];
        EXPECT_EQ(r.page.rfind(NPH_HEAD, 0), 0u) << r.page;
    }
}

TEST(Entry, EveryProgramNeedsTheDatabaseHomeAndInstance) {
    for (const program& p : PROGRAMS) {
        SCOPED_TRACE(p.name);
        cgi_result r = run(p, {});
        EXPECT_EQ(r.exit_code, 3);
        EXPECT_EQ(r.page, p.startup_head + std::string("<H3>KVC-OH-100:</H3><P><STRONG>Vantor Home not initialized.</STRONG>\n"));

        // The help link needs an instance id; before start-up has published the
        // request's, only the web server's environment can give one.
        r = run(p, {{"VANTOR_SID", "PROD"}});
        EXPECT_EQ(r.page, p.startup_head + std::string("<H3>KVC-OH-100:</H3><P><STRONG>Vantor Home not initialized.</STRONG>\n"
                                               "<P><A HREF=\"/PROD/kv/doc/dtug/error.htm#kvc100\">"
                                               "<IMG SRC=\"/PROD/kv/pics/helptag.gif\"></A>\n"));

        r = run(p, {{"QUERY_STRING", "VANTOR_HOME=" + test_home()}});
        EXPECT_EQ(r.exit_code, 3);
        EXPECT_EQ(r.page, p.startup_head + std::string("<H3>KVC-OSID-101:</H3><P><STRONG>Vantor SID not initialized.</STRONG>\n"));

        // A tool opened without a cookie, from a bookmark: its address names
        // the instance, whose error help and login page the block leads to.
        r = run(p, {{"SCRIPT_NAME", std::string("/PROD-bin/") + p.name}});
        EXPECT_EQ(r.page, p.startup_head + std::string("<H3>KVC-OH-100:</H3><P><STRONG>Vantor Home not initialized.</STRONG>\n"
                                               "<P><A HREF=\"/PROD/kv/doc/dtug/error.htm#kvc100\">"
                                               "<IMG SRC=\"/PROD/kv/pics/helptag.gif\"></A>\n"
                                               "<P><A HREF=\"/PROD-bin/login\">Log in to instance PROD.</A>\n"));
    }
}

TEST(Entry, MissingCatalogueIsReported) {
    scratch_home home;
    home.remove("kv/mesg");
    cgi_result r = run_cgi(home.path() + "/kv/bin/nph-kvb", {"nph-kvb"},
                           {{"QUERY_STRING", "VANTOR_HOME=" + home.path() + "&VANTOR_SID=PROD"}});
    EXPECT_EQ(r.exit_code, 3);
    EXPECT_NE(r.page.find("<H3>KVC-MHD-1026:</H3><P><STRONG>NLS message handle initialization failed.</STRONG>"),
              std::string::npos);
    r = run(PROGRAMS[0], {{"NLS_LANG", "KLINGON_KRONOS.UTF8"}, {"QUERY_STRING", "VANTOR_HOME=" + test_home()}});
    EXPECT_EQ(identifiers(r.page), std::vector<std::string>{"KVC-NLOBL"});
}

// Only the American catalogue is installed: every other language the language
// services know reads it, in the character set it names, and each program
// answers as it does in American.
TEST(Entry, EveryKnownLanguageShowsThePages) {
    for (const program& p : PROGRAMS) {
        cgi_result american = run(p, login_request());
        for (const char* language : {"GERMAN_GERMANY.UTF8", "FRENCH_FRANCE.WE8ISO8859P1", "AMERICAN_AMERICA.WE8ISO8859P1"}) {
            SCOPED_TRACE(std::string(p.name) + " in " + language);
            auto env = login_request();
            env["NLS_LANG"] = language;
            cgi_result r = run(p, env);
            EXPECT_EQ(r.exit_code, american.exit_code) << r.page;
            EXPECT_EQ(identifiers(r.page), identifiers(american.page));
            EXPECT_TRUE(r.page.ends_with("</body></html>")) << r.page.substr(r.page.size() > 300 ? r.page.size() - 300 : 0);
        }
    }
}

TEST(Entry, HandlerFrameEndsWithoutPretendingSuccess) {
    for (const program& p : PROGRAMS) {
        if (p.has_pages) continue;
        cgi_result r = run(p, login_request());
        EXPECT_EQ(r.exit_code, 3) << p.name;
        EXPECT_EQ(r.page.rfind(p.head, 0), 0u) << r.page;
        EXPECT_NE(r.page.find("not yet available"), std::string::npos) << r.page;
        EXPECT_EQ(identifiers(r.page), std::vector<std::string>{});
    }
}

TEST(Entry, ChangedClientAddressWarnsInsideThePage) {
    for (const program& p : PROGRAMS) {
        auto env = login_request();
        env["REMOTE_ADDR"] = "10.9.9.9";
        cgi_result r = run(p, env);
        // The warning follows the whole response head, the launcher's cookie included.
        size_t body = r.page.find("\n\n");
        EXPECT_EQ(r.page.rfind(p.head, 0), 0u) << r.page;
        EXPECT_EQ(r.page.find("<H3>KVC-TOOL-1052:</H3>"), r.page.find_first_not_of('\n', body)) << r.page;
    }
}

// Every allocation of start-up and of the handler's frame fails once: each
// failure writes its block inside a page and ends the run with exit code 3.
TEST(Entry, EveryAllocationFailureWritesItsBlock) {
    const std::vector<std::string> startup = {"KVC-CFSP", "KVC-CINFO", "KVC-SLEP", "KVC-NLINF", "KVC-CBKP", "KVC-GLOP",
                                              "KVC-LSTP", "KVC-NLSSTRG", "KVC-DP", "KVC-NLMSTRG", "KVC-CACHE"};
    const std::map<std::string, std::vector<std::string>> frames = {
        {"nph-kvb", {"KVB-ERRP", "KVB-FLIST", "KVB-DBUSER", "KVB-LFIP", "KVB-SRVP", "KVC-SNAME", "KVC-PCOL",
                     "KVC-SCRIPT", "KVB-DEVP", "KVB-HISTP"}},
        {"kvx", {"KVX-ERRP", "KVX-TSPINF", "KVX-TNAME", "KVX-STATUS", "KVX-DFLINF", "KVX-FLIST", "KVX-ACTION",
                 "KVX-DBUSER", "KVX-SRVP", "KVC-SNAME", "KVC-PCOL", "KVC-SCRIPT", "KVX-TMPBUF"}},
        {"nph-kvi", {"KVC-DBOH", "KVI-FLIST", "KVC-DBOH", "KVI-SRVP", "KVC-SNAME", "KVI"}},
        {"nph-kve", {"KVC-DBOH", "KVE-FLIST", "KVC-DBOH", "KVE-SRVP", "KVC-SNAME", "KVE"}},
        {"kvla", {"KVLA-ERRP", "KVLA-DBUSER", "KVLA-SRVP", "KVC-SNAME", "KVG-EDIN", "KVG-EDEN"}},
    };
    for (const program& p : PROGRAMS) {
        SCOPED_TRACE(p.name);
        std::vector<std::string> seen;
        // Past the frame's last allocation every run reaches the end of the frame.
        // The launcher reads a login, posted from the login page.
        tool_request login{"kvla", login_fields(), {}, true, {}};
        login.form.emplace_back("KVCTOKEN", form_token(login));
        for (int n = 1, quiet = 0; quiet < 5 && n < 300; ++n) {
            auto env = login_request();
            env["KV_FAIL_ALLOC"] = std::to_string(n);
            std::string body;
            if (p.name == std::string("kvla")) {
                body = form_body(login.form);
                env["REQUEST_METHOD"] = "POST";
                env["CONTENT_LENGTH"] = std::to_string(body.size());
            }
            cgi_result r = run(p, env, body);
            // A tool with pages writes its page around a failure the page can live with.
            ASSERT_TRUE(r.exit_code == 3 || (p.has_pages && r.exit_code == 0))
                << "allocation " << n << "\n" << r.page << r.errors;
            ASSERT_EQ(r.page.rfind(p.head, 0), 0u) << "allocation " << n << "\n" << r.page;
            std::vector<std::string> blocks = identifiers(r.page);
            // A variable that could not be read for want of memory is no
            // missing one: the failure is the memory's.
            EXPECT_FALSE(contains(r.page, "KVC-OH") || contains(r.page, "KVC-OSID")) << "allocation " << n << "\n" << r.page;
            EXPECT_FALSE(contains(r.page, "http:///") || contains(r.page, "://:")) << "allocation " << n << "\n" << r.page;
            seen.insert(seen.end(), blocks.begin(), blocks.end());
            quiet = blocks.empty() ? quiet + 1 : 0;
        }
        std::vector<std::string> expected = startup;
        expected.insert(expected.end(), frames.at(p.name).begin(), frames.at(p.name).end());
        auto it = seen.begin();
        for (const std::string& id : expected) {
            it = std::find(it, seen.end(), id);
            ASSERT_NE(it, seen.end()) << id << " missing or out of order";
            ++it;
        }
    }
}

TEST(Entry, MalformedRequestsGiveAPageNeverACrash) {
    std::string nul_body = "VANTOR_HOME=" + test_home() + "&VANTOR_SID=PROD&a=" + std::string(1000, '\0') + "%";
    struct row {
        std::map<std::string, std::string> env;
        std::string body;
    } rows[] = {
        {{{"QUERY_STRING", "%&%%&=%=&%4&%G1=%1G&&&==&" + std::string(100000, '%')}}, ""},
        {{{"CONTENT_LENGTH", std::to_string(nul_body.size())}}, nul_body},
        {{{"CONTENT_LENGTH", "99999999"}}, "VANTOR_HOME=x&VANTOR_SID=PROD"},
        {{{"CONTENT_LENGTH", "-1"}, {"QUERY_STRING", "VANTOR_HOME=x"}}, "VANTOR_SID=PROD"},
        {{{"HTTP_COOKIE", std::string(100000, '=') + "&KVCPLEN=2147483647&KVCPASSWORD=" + std::string(1000, 'w')}}, ""},
        {{{"QUERY_STRING", "VANTOR_HOME=" + test_home() + "&VANTOR_SID=PROD&KVCPLEN=-2147483648&KVCPASSWORD=zzzw"}}, ""},
        {{{"QUERY_STRING", "VANTOR_HOME=" + test_home() + "&VANTOR_SID=PROD&KVCPLEN=3&KVCPASSWORD=fffffffffffffffw1w"}}, ""},
    };
    for (const program& p : PROGRAMS) {
        for (const row& r : rows) {
            cgi_result result = run(p, r.env, r.body);
            EXPECT_TRUE(result.exit_code == 3 || (p.has_pages && result.exit_code == 0)) << p.name << "\n" << result.errors;
            EXPECT_EQ(result.page.rfind(p.head, 0), 0u) << p.name;
        }
    }
}
