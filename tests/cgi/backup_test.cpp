// The backup tool: its two response heads, the page frame and its notice.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/cgi_run.h"

namespace {

const std::string PLAIN_HEAD = "HTTP/1.0 200 Okay\n" + head_lines() + "\n";
const std::string PUSH_HEAD = "HTTP/1.0 200 Okay\n" + head_lines("multipart/x-mixed-replace;boundary=KvBBoundStr") +
                              "\n--KvBBoundStr\nContent-type: text/html\n\n";
const std::string NOTICE = "Sorry, this tool is not available on NT yet!\n";

cgi_result backup(const std::string& query, const std::map<std::string, std::string>& extra = {},
                  const std::string& user = "system") {
    auto env = cgi_request(query, login_pairs(user, "demo"));
    for (const auto& [name, value] : extra) env[name] = value;
    return run_cgi(installed_program("nph-kvb"), {"nph-kvb"}, env);
}

size_t count(const std::string& page, const std::string& part) {
    size_t n = 0;
    for (size_t at = page.find(part); at != std::string::npos; at = page.find(part, at + 1)) ++n;
    return n;
}

}  // namespace

TEST(Backup, PushHeadOnlyForAPushCapableServerAndBrowserWithoutQuery) {
    struct row {
        const char* software;
        const char* agent;
        const char* query;
        bool push;
    } rows[] = {
        {"NCSA/1.5", "Mozilla/3.0 (X11)", "", true},
        {"NCSA/1.5", "Mozilla/3.0 (X11)", "KVBKUINSTANCE=1", false},
        {"NCSA/1.5", "Mozilla/4.0 (compatible; MSIE 4.0)", "", false},
        {"NCSA/1.5", "Mozilla/4.0 (Compatible)", "", false},
        {"NCSA/1.5", nullptr, "", false},
        {"Apache/2.4", "Mozilla/3.0 (X11)", "", false},
    };
    for (const row& r : rows) {
        std::map<std::string, std::string> extra = {{"SERVER_SOFTWARE", r.software}};
        if (r.agent) extra["HTTP_USER_AGENT"] = r.agent;
        cgi_result result = backup(r.query, extra);
        EXPECT_EQ(result.exit_code, 0);
        const std::string& head = r.push ? PUSH_HEAD : PLAIN_HEAD;
        EXPECT_EQ(result.page.rfind(head + "<html>", 0), 0u) << r.software << " " << (r.agent ? r.agent : "-");
    }
}

TEST(Backup, PageBottomOnlyForStepOne) {
    struct row {
        const char* query;
        bool bottom;
    } rows[] = {{"", false}, {"KVBKUINSTANCE=1", true}, {"KVBKUINSTANCE=2", false}, {"KVBKUINSTANCE=01", true}};
    for (const row& r : rows) {
        cgi_result result = backup(r.query);
        EXPECT_EQ(result.exit_code, 0);
        size_t notice = result.page.find(NOTICE);
        ASSERT_NE(notice, std::string::npos) << result.page;
        // Title, banner and tool bar come first, with the tool's own pictures.
        EXPECT_LT(result.page.find("<title>"), notice);
        EXPECT_LT(result.page.find("/PROD/kv/pics/kvbbanner.gif"), notice);
        EXPECT_LT(result.page.find("/PROD/kv/pics/kvbtag.gif alt=\"Tools\" border=0 USEMAP=\"#kvcmup.map\""), notice);
        EXPECT_LT(result.page.find("http://dbhost:8080/PROD-doc/dtug/br.htm"), notice);
        std::string after = result.page.substr(notice + NOTICE.size());
        if (r.bottom) {
            EXPECT_EQ(after.rfind("<hr width=100%><center><table width=95%>", 0), 0u) << after;
            EXPECT_NE(after.find("PROD-doc/copyright.html"), std::string::npos);
            EXPECT_EQ(after.substr(after.size() - 7), "</html>");
        } else {
            EXPECT_EQ(after, "") << r.query;
        }
    }
}

TEST(Backup, LightAndMapFollowTheInstance) {
    struct row {
        const char* state;
        const char* sid;
        const char* light;
        const char* map;
        size_t areas;
        const char* state_text;  // what the light says where no picture is shown
    } rows[] = {
        {"start", "PROD", "kvsgreenlight", "kvcmup.map", 6, "Instance up"},
        {"stop", "PROD", "kvsredlight", "kvcmnotup.map", 2, "Instance down"},
        {"start", "NOPE", "kvsyellowlight", "kvcmnotup.map", 2, "Instance state unknown"},
    };
    for (const row& r : rows) {
        ASSERT_TRUE(vdbadm({r.state, "PROD"}));
        auto env = cgi_request("KVBKUINSTANCE=1", login_pairs("system", "demo", r.sid));
        cgi_result result = run_cgi(installed_program("nph-kvb"), {"nph-kvb"}, env);
        EXPECT_EQ(result.exit_code, 0);
        std::string sid = r.sid;
        // Banner light once; each of the two tool bars with the map of the state.
        EXPECT_EQ(count(result.page, "/" + sid + "/kv/pics/" + r.light + ".gif alt=\"" + r.state_text + "\">"), 1u)
            << result.page;
        EXPECT_EQ(count(result.page, "kvbbanner.gif alt=\"Backup\">"), 1u);
        EXPECT_EQ(count(result.page, std::string("USEMAP=\"#") + r.map + "\""), 2u);
        EXPECT_EQ(count(result.page, "<AREA SHAPE=RECT"), 2 * r.areas);
        EXPECT_NE(result.page.find("<AREA SHAPE=RECT COORDS=\"81,0," + std::string(r.areas == 6 ? "154" : "155") +
                                   ",31\" alt=\"" + (r.areas == 6 ? "Security Manager" : "Backup") +
                                   "\" HREF=\"http://dbhost:8080/" + sid + "-bin/" + (r.areas == 6 ? "kvu" : "nph-kvb")),
                  std::string::npos)
            << result.page;
        // Each area says the tool it leads to.
        const std::vector<std::string> tools = r.areas == 6 ? std::vector<std::string>{"Database Control", "Security Manager", "Export and Import", "Session Manager", "Tablespace Manager", "Backup"}
                                                             : std::vector<std::string>{"Database Control", "Backup"};
        for (const std::string& tool : tools) EXPECT_EQ(count(result.page, "alt=\"" + tool + "\" HREF="), 2u) << tool;
        EXPECT_EQ(count(result.page, "logintag.gif alt=\"Login\""), 2u);
        EXPECT_EQ(count(result.page, "helptag.gif alt=\"Help\""), 2u);
    }
    vdbadm({"start", "PROD"});
}
