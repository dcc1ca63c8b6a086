// The tablespace tool against an instance of its own in the test home, so that
// the tablespaces and data files it adds never move the numbers other tools
// see in the demo instance.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "support/cgi_run.h"
#include "support/form_post.h"

namespace {

const std::string SID = "TBS";
const std::string HEAD = head_lines() + "\n";

// Catalogue texts of the buttons.
const std::string SHOW = "Show Tablespace";
const std::string ADD = "Add Data File";
const std::string SWITCH = "Switch Online or Offline";
const std::string CREATE = "Create Tablespace";

using fields = std::vector<std::pair<std::string, std::string>>;

// Posted from the tool's own page, as a browser posts it.
cgi_result kvx(const fields& form) {
    return run_request({"kvx", form, with_field(login_fields(), "VANTOR_SID", SID), true, {{"SCRIPT_NAME", "/" + SID + "-bin/kvx"}}});
}

// The rows of a query, tab-separated, one a line.
std::string sql(const std::string& statement) {
    cgi_result r = run_cgi(test_home() + "/bin/vdbadm",
                           {"vdbadm", "--home", test_home(), "sql", SID, "SYSTEM/demo", statement}, {});
    EXPECT_EQ(r.exit_code, 0) << statement << "\n" << r.errors;
    return r.page;
}

std::string status_of(const std::string& tablespace) {
    std::string rows = sql("select status from sys.dba_tablespaces where tablespace_name='" + tablespace + "'");
    return rows.substr(0, rows.find('\n'));
}

// The data files of a tablespace as "name<TAB>bytes" lines, and its size in kilobytes.
std::string files_of(const std::string& tablespace) {
    return sql("select file_name, bytes from sys.dba_data_files where tablespace_name='" + tablespace +
               "' order by file_id");
}

long long total_kb(const std::string& tablespace) {
    return std::atoll(sql("select round((sum(bytes)/1024)) from sys.dba_data_files where tablespace_name='" +
                          tablespace + "'")
                          .c_str());
}

long long file_size(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 ? static_cast<long long>(st.st_size) : -1;
}


// The heading of the page's first block ("KVX-SZ-9025"), or "".
std::string first_block(const std::string& page) {
    size_t at = page.find("<H3>");
    if (at == std::string::npos) return "";
    return page.substr(at + 4, page.find(":</H3>", at) - at - 4);
}

// A page written to its end.
bool complete(const cgi_result& r) {
    return r.exit_code == 0 && r.page.size() > 7 && r.page.substr(r.page.size() - 7) == "</html>";
}

// A name no other test process of this run has used.
std::string unique(const std::string& stem) { return stem + std::to_string(getpid()); }

std::string data_file(const std::string& stem) { return test_home() + "/dbs/" + unique(stem) + ".dbf"; }

// The fields a confirmed add form posts; a size ending in "M" is in megabytes.
fields add_form(const std::string& tablespace, const std::string& file, const std::string& initial,
                const std::string& increment, const std::string& maximum) {
    fields form = {{"KVXPDINSTANCE", "2"}, {"KVXTODO", SHOW}, {"KVXTBLSPNAME", tablespace}, {"KVXPDOK", ADD},
                   {"KVXNEWDFL", file}};
    for (auto [size, name, unit] : {std::tuple{initial, "KVXDFLINISZ", "KVXINISZUNIT"},
                                    {increment, "KVXDFLINCSZ", "KVXINCSZUNIT"},
                                    {maximum, "KVXDFLMAXSZ", "KVXMAXSZUNIT"}}) {
        bool megabytes = !size.empty() && size.back() == 'M';
        form.push_back({name, megabytes ? size.substr(0, size.size() - 1) : size});
        form.push_back({unit, megabytes ? "MB" : "KB"});
    }
    return form;
}

class Tablespace : public testing::Test {
protected:
    static void SetUpTestSuite() {
        if (!vdbadm({"status", SID})) {
            ASSERT_TRUE(vdbadm({"create", SID}));
        }
        ASSERT_TRUE(vdbadm({"start", SID}));
    }
};

}  // namespace

TEST_F(Tablespace, FirstCallShowsSystemWithStepOne) {
    cgi_result r = kvx({});
    ASSERT_TRUE(complete(r)) << r.page;
    EXPECT_EQ(r.page.rfind(HEAD + "<html>", 0), 0u);
    EXPECT_TRUE(contains(r.page, "<FORM method=post action=http://dbhost:8080/TBS-bin/kvx>\n"));
    EXPECT_TRUE(contains(r.page, "<TD><i>SYSTEM</i></TD></TR>\n<TR><TD align=right><b>Status:</b></TD>\n"
                                 "<TD><i>ONLINE</i></TD></TR>\n"));
    // The chart is asked of this same program with the numbers the page shows.
    long long total = total_kb("SYSTEM");
    size_t chart = r.page.find("<IMG src=http://dbhost:8080/TBS-bin/kvx/kvx");
    ASSERT_NE(chart, std::string::npos) << r.page;
    std::string address = r.page.substr(chart, r.page.find('>', chart) - chart);
    EXPECT_TRUE(contains(address, ".gif?KVXUSD=")) << address;
    EXPECT_TRUE(contains(address, "&KVXTOT=" + std::to_string(total))) << address;
    EXPECT_TRUE(
        contains(r.page, "<TD align=center>Total</TD>\n<TD align=left>" + std::to_string(total) + "</TD></TR>"));
    const std::string file = test_home() + "/dbs/tbs_system01.dbf";
    EXPECT_TRUE(contains(r.page, "<P><OPTION value=\"" + file + "\"> " + file + "\n</SELECT>"));
    EXPECT_TRUE(contains(r.page, "<P><INPUT type=hidden name=\"KVXPDINSTANCE\" value=\"1\">\n</FORM>\n"));
}

TEST_F(Tablespace, MissingEmptyOrUnusableNameIsRefusedAfterThePageTop) {
    const fields rows[] = {
        {{"KVXPDINSTANCE", "1"}},
        {{"KVXTBLSPNAME", ""}},
        {{"KVXPDINSTANCE", "2"}, {"KVXTBLSPNAME", ""}},
        // Names that could not stand in a statement never reach one.
        {{"KVXTBLSPNAME", "USERS ONLINE; DROP TABLESPACE USERS"}},
        {{"KVXTBLSPNAME", "1USERS"}},
        {{"KVXTBLSPNAME", std::string(31, 'A')}},
        {{"KVXTBLSPNAME", "\"US\"ERS\""}},
        {{"KVXTBLSPNAME", "\"\""}},
        {{"KVXTBLSPNAME", "\"A\nB\""}},
        {{"KVXTBLSPNAME", "<script>"}},
    };
    for (const fields& form : rows) {
        SCOPED_TRACE(form_body(form));
        cgi_result r = kvx(form);
        EXPECT_EQ(r.exit_code, 3);
        EXPECT_EQ(first_block(r.page), "KVX-TSP-9031");
        EXPECT_LT(r.page.find("kvxbanner.gif"), r.page.find("<H3>"));
        EXPECT_TRUE(contains(r.page, "#kvx9031\">")) << "help link";
        EXPECT_FALSE(contains(r.page, "<FORM") || contains(r.page, "copyright.html") || contains(r.page, "<script>"));
    }
    EXPECT_EQ(status_of("USERS"), "ONLINE");
}

TEST_F(Tablespace, SwitchActsOnTheTablespaceShownBesideIt) {
    const std::string name = unique("SHOWN");
    sql("create tablespace " + name + " datafile '" + data_file("shown") + "' size 64K");
    cgi_result shown = kvx({{"KVXPDINSTANCE", "1"}, {"KVXTBLSPNAME", name}, {"KVXTODO", SHOW}});
    ASSERT_TRUE(contains(shown.page, "<INPUT type=hidden name=\"KVXSHOWNTS\" value=\"" + name + "\">")) << shown.page;
    // The selector at the bottom was turned to SYSTEM before the button beside the status was pressed.
    cgi_result result =
        kvx({{"KVXPDINSTANCE", "1"}, {"KVXSHOWNTS", name}, {"KVXTBLSPNAME", "SYSTEM"}, {"KVXTODO", SWITCH}});
    EXPECT_EQ(status_of(name), "OFFLINE");
    EXPECT_EQ(status_of("SYSTEM"), "ONLINE");
    EXPECT_TRUE(contains(result.page, "<TD><i>" + name + "</i></TD></TR>\n<TR><TD align=right><b>Status:</b></TD>\n"
                                      "<TD><i>OFFLINE</i></TD></TR>"))
        << result.page;
    sql("drop tablespace " + name + " including contents and datafiles");
}

TEST_F(Tablespace, SwitchingChangesTheDictionaryOrIsRefused) {
    const std::string name = unique("SW");
    sql("create tablespace " + name + " datafile '" + data_file("sw") + "' size 64K");
    struct row {
        const char* prepare;  // statement run first, or none
        std::string tablespace;
        const char* block;  // expected block, or "" for a switch
        const char* after;  // status afterwards
    } rows[] = {
        {nullptr, name, "", "OFFLINE"},
        {nullptr, name, "", "ONLINE"},
        {nullptr, "SYSTEM", "KVX-TSTAT-1541", "ONLINE"},
        {" READ ONLY", name, "KVX-TSTAT-1031", "READ ONLY"},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.tablespace + " to " + r.after);
        if (r.prepare) sql("alter tablespace " + r.tablespace + r.prepare);
        cgi_result result = kvx({{"KVXPDINSTANCE", "1"}, {"KVXTBLSPNAME", r.tablespace}, {"KVXTODO", SWITCH}});
        EXPECT_EQ(status_of(r.tablespace), r.after);
        EXPECT_EQ(first_block(result.page), r.block);
        if (*r.block) {
            EXPECT_EQ(result.exit_code, 3);
            continue;
        }
        ASSERT_TRUE(complete(result)) << result.page;
        EXPECT_TRUE(contains(result.page, "<TD><i>" + std::string(r.after) + "</i></TD></TR>\n"));
        EXPECT_TRUE(contains(result.page, "name=\"KVXPDINSTANCE\" value=\"1\">"));
    }
}

TEST_F(Tablespace, AddFormThenConfirmedAddGrowsTheTablespace) {
    cgi_result form = kvx({{"KVXPDINSTANCE", "1"}, {"KVXTBLSPNAME", "users"}, {"KVXTODO", ADD}});
    ASSERT_TRUE(complete(form)) << form.page;
    EXPECT_TRUE(contains(form.page, "<TD align=left>USERS\n</TD></TR>"));
    EXPECT_TRUE(contains(form.page, "<INPUT type=text size=32 name=\"KVXNEWDFL\">\n"));
    for (const char* unit : {"KVXINISZUNIT", "KVXINCSZUNIT", "KVXMAXSZUNIT"})
        EXPECT_TRUE(
            contains(form.page, std::string("<label><INPUT type=radio name=\"") + unit + "\" value=\"KB\" checked>KB</label>\n"));
    EXPECT_TRUE(contains(form.page, "<INPUT type=submit name=\"KVXPDOK\" value=\"Add Data File\"></TD></TR>\n"
                                    "</TABLE></CENTER>\n"
                                    "<P><INPUT type=hidden name=\"KVXTODO\" value=\"Show Tablespace\">\n"
                                    "<P><INPUT type=hidden name=\"KVXTBLSPNAME\" value=\"USERS\">\n"
                                    "<P><INPUT type=hidden name=\"KVXPDINSTANCE\" value=\"2\">\n"));

    struct row {
        std::string file;
        const char *initial, *increment, *maximum;
        long long bytes;
        const char* dictionary;  // autoextensible, maxbytes, increment in blocks
    } rows[] = {
        // An increment of 0 is 1 KB whatever the unit; a maximum of 0 is unlimited.
        {data_file("add_mb"), "1M", "0M", "0M", 1048576, "YES\t34359738368\t0"},
        {data_file("add_kb"), "100", "64", "1000", 102400, "YES\t1024000\t8"},
        // Unlimited skips the size checks: the increment may exceed the rest.
        {data_file("add_big"), "200", "500", "0", 204800, "YES\t34359738368\t62"},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.file);
        long long before = total_kb("USERS");
        cgi_result result = kvx(add_form("USERS", r.file, r.initial, r.increment, r.maximum));
        ASSERT_TRUE(complete(result)) << result.page;
        EXPECT_EQ(file_size(r.file), r.bytes);
        EXPECT_EQ(total_kb("USERS"), before + r.bytes / 1024);
        EXPECT_EQ(sql("select autoextensible, maxbytes, increment_by from sys.dba_data_files where file_name='" +
                      r.file + "'"),
                  std::string(r.dictionary) + "\n");
        // Back on the usage page, with the grown numbers and the new file.
        EXPECT_TRUE(contains(result.page, "<TD align=left>" + std::to_string(before + r.bytes / 1024) + "</TD></TR>"));
        EXPECT_TRUE(contains(result.page, "<P><OPTION value=\"" + r.file + "\"> " + r.file + "\n"));
        EXPECT_TRUE(contains(result.page, "name=\"KVXPDINSTANCE\" value=\"1\">"));
    }
}

TEST_F(Tablespace, CreateFormProposesTheFirstFreeNameThenCreates) {
    auto proposed = [](int i) {
        char name[32];
        std::snprintf(name, sizeof name, "KVS%03d.dbf", i);
        return test_home() + "/dbs/" + name;
    };
    int free_slot = 1;
    while (file_size(proposed(free_slot)) >= 0) ++free_slot;
    // A file of that name appears (of any origin): the next one is proposed.
    int taken = creat(proposed(free_slot).c_str(), 0600);
    ASSERT_GE(taken, 0);
    close(taken);
    cgi_result form = kvx({{"KVXPDINSTANCE", "1"}, {"KVXTBLSPNAME", "SYSTEM"}, {"KVXTODO", CREATE}});
    ASSERT_TRUE(complete(form)) << form.page;
    EXPECT_TRUE(contains(form.page, "<INPUT type=text size=30 name=\"KVXTBLSPNAME\">\n"));
    EXPECT_TRUE(contains(form.page, "<INPUT type=text size=30 name=\"KVXNEWDFL\" VALUE=\"" + proposed(free_slot + 1) +
                                        "\">\n"));
    EXPECT_TRUE(contains(form.page, "<P><INPUT type=hidden name=\"KVXTODO\" value=\"Show Tablespace\">\n"
                                    "<P><INPUT type=hidden name=\"KVXPDINSTANCE\" value=\"2\">\n"));
    EXPECT_FALSE(contains(form.page, "type=hidden name=\"KVXTBLSPNAME\""));

    struct row {
        std::string typed;   // as entered in the form
        std::string stored;  // as the dictionary keeps it
        std::string shown;   // as the page writes it
        std::string file;
    } rows[] = {
        {unique("new_ts"), unique("NEW_TS"), unique("NEW_TS"), proposed(free_slot + 1)},
        // A quoted name keeps its case and may hold what a page must escape.
        {"\"" + unique("a<b>&") + "\"", unique("a<b>&"), unique("a&lt;b&gt;&amp;"), data_file("created")},
        // Blanks in a row, which an option's text loses.
        {"\"" + unique("two  blanks") + "\"", unique("two  blanks"), unique("two  blanks"), data_file("blanks")},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.typed);
        cgi_result result = kvx({{"KVXPDINSTANCE", "2"}, {"KVXTODO", SHOW}, {"KVXTBLSPNAME", r.typed},
                                 {"KVXPDOK", CREATE}, {"KVXNEWDFL", r.file}, {"KVXDFLINISZ", "128"},
                                 {"KVXINISZUNIT", "KB"}, {"KVXDFLINCSZ", "64"}, {"KVXDFLMAXSZ", "1"},
                                 {"KVXMAXSZUNIT", "MB"}});
        ASSERT_TRUE(complete(result)) << result.page;
        EXPECT_EQ(status_of(r.stored), "ONLINE");
        EXPECT_EQ(files_of(r.stored), r.file + "\t131072\n");
        EXPECT_EQ(file_size(r.file), 131072);
        EXPECT_TRUE(contains(result.page, "<TD><i>" + r.shown + "</i></TD></TR>")) << result.page;
        EXPECT_TRUE(contains(result.page, "<TD align=left>128</TD></TR>"));
        // The selector offers the name so that choosing it shows it again:
        // the browser posts the option's value, blanks and all.
        const std::string selector = "<SELECT name=\"KVXTBLSPNAME\" size=1>\n<OPTION value=\"";
        size_t option = result.page.find(selector);
        ASSERT_NE(option, std::string::npos);
        option += selector.size();
        std::string offered = result.page.substr(option, result.page.find('"', option) - option);
        for (auto [entity, text] :
             {std::pair{"&quot;", "\""}, {"&lt;", "<"}, {"&gt;", ">"}, {"&#32;", " "}, {"&amp;", "&"}})
            for (size_t at; (at = offered.find(entity)) != std::string::npos;)
                offered.replace(at, std::strlen(entity), text);
        cgi_result again = kvx({{"KVXPDINSTANCE", "1"}, {"KVXTBLSPNAME", offered}, {"KVXTODO", SHOW}});
        EXPECT_TRUE(contains(again.page, "<TD><i>" + r.shown + "</i></TD></TR>")) << offered;
    }
}

TEST_F(Tablespace, RefusedFormsLeaveTheDatabaseAlone) {
    struct row {
        fields form;
        const char* block;
    } rows[] = {
        {add_form("USERS", data_file("r1"), "0", "10", "100"), "KVX-SZ-9025"},
        {add_form("USERS", data_file("r2"), "-5", "10", "100"), "KVX-SZ-9025"},
        // No size is below nothing: the database cannot read a negative one.
        {add_form("USERS", data_file("r7"), "100", "-8", "1000"), "KVX-SZ-9025"},
        {add_form("USERS", data_file("r8"), "100", "8", "-1000"), "KVX-SZ-9025"},
        {add_form("USERS", data_file("r3"), "200", "10", "150"), "KVX-INISZ-9025"},
        {add_form("USERS", data_file("r4"), "100", "50", "120"), "KVX-SUMSZ-9025"},
        // Megabytes count 1024 kilobytes before the checks; an increment of 0 is 1 KB.
        {add_form("USERS", data_file("r5"), "1M", "10", "1000"), "KVX-INISZ-9025"},
        {add_form("USERS", data_file("r6"), "100", "0M", "100"), "KVX-SUMSZ-9025"},
        {add_form("USERS", "dbs/relative.dbf", "100", "10", "1000"), "KVX-FSP-1011"},
        {add_form("USERS", "\\\\server\\share\\x.dbf", "100", "10", "1000"), "KVX-FSP-1011"},
        {add_form("USERS", "/no/such/directory/x.dbf", "100", "10", "1000"), "KVX-FSP-1011"},
        {add_form("USERS", test_home() + "/dbs/it's.dbf", "100", "10", "1000"), "KVX-DFL-9030"},
        {add_form("USERS", test_home() + "/dbs/a\nb.dbf", "100", "10", "1000"), "KVX-DFL-9030"},
        {{{"KVXPDINSTANCE", "2"}, {"KVXTODO", SHOW}, {"KVXTBLSPNAME", "USERS"}, {"KVXPDOK", ADD}}, "KVX-DFL-9030"},
        // Far beyond any disk: the megabytes stay at the limit of what kilobytes count.
        {add_form("USERS", data_file("r7"), "1", "1", "99999999M"), "KVX-MAXSZ-9029"},
        {add_form("USERS", data_file("r8"), "2000000M", "1", "0"), "KVX-MAXSZ-9029"},
    };
    std::string files = files_of("USERS");
    for (const row& r : rows) {
        SCOPED_TRACE(form_body(r.form));
        cgi_result result = kvx(r.form);
        EXPECT_EQ(result.exit_code, 3);
        EXPECT_EQ(first_block(result.page), r.block);
        EXPECT_EQ(count(result.page, "<H3>"), 1u);
        EXPECT_FALSE(contains(result.page, "copyright.html"));
        EXPECT_EQ(files_of("USERS"), files);
        for (const auto& [name, value] : r.form) {
            if (name == "KVXNEWDFL") {
                EXPECT_EQ(file_size(value), -1);
            }
        }
    }
    // The refused name is shown, escaped, inside the block.
    cgi_result r = kvx(add_form("USERS", "/tmp/<b>\"x.dbf", "100", "10", "1000"));
    EXPECT_TRUE(contains(r.page, "<STRONG>The data file name cannot be used. Enter a full path, directory included, "
                                 "without quotes or control characters. \"/tmp/&lt;b&gt;&quot;x.dbf\"</STRONG>"))
        << r.page;
}

TEST_F(Tablespace, WhatTheDatabaseRefusesReachesThePageEscaped) {
    const std::string marked = "<i>" + unique("TS");
    struct row {
        fields form;
        const char* block;
    } rows[] = {
        {{{"KVXPDINSTANCE", "1"}, {"KVXTBLSPNAME", "NOSUCH"}, {"KVXTODO", SHOW}}, "KVX-TSPINF-9031"},
        {add_form("NOSUCH", data_file("nosuch"), "100", "10", "1000"), "KVX-XPND-959"},
        // A data file of the instance cannot be given a second time.
        {add_form("USERS", test_home() + "/dbs/tbs_users01.dbf", "100", "10", "1000"), "KVX-XPND-1119"},
        {{{"KVXPDINSTANCE", "2"}, {"KVXTODO", SHOW}, {"KVXTBLSPNAME", "\"" + marked + "\""}, {"KVXPDOK", CREATE},
          {"KVXNEWDFL", data_file("exists")}, {"KVXDFLINISZ", "64"}, {"KVXDFLMAXSZ", "0"}},
         nullptr},
        {{{"KVXPDINSTANCE", "2"}, {"KVXTODO", SHOW}, {"KVXTBLSPNAME", "\"" + marked + "\""}, {"KVXPDOK", CREATE},
          {"KVXNEWDFL", data_file("exists2")}, {"KVXDFLINISZ", "64"}, {"KVXDFLMAXSZ", "0"}},
         "KVX-CREAT-1543"},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(form_body(r.form));
        cgi_result result = kvx(r.form);
        EXPECT_FALSE(contains(result.page, marked)) << result.page;
        if (!r.block) {
            EXPECT_TRUE(complete(result)) << result.page;
            continue;
        }
        EXPECT_EQ(result.exit_code, 3);
        EXPECT_EQ(first_block(result.page), r.block);
    }
    EXPECT_EQ(file_size(data_file("nosuch")), -1);
    EXPECT_EQ(file_size(data_file("exists2")), -1);
}

TEST_F(Tablespace, SelectorNeverListsTheCurrentTablespaceTwice) {
    const size_t tablespaces = count(sql("select distinct tablespace_name from sys.dba_data_files"), "\n");
    for (auto [typed, current] : {std::pair{"USERS", "USERS"}, {"users", "USERS"}, {"\"USERS\"", "USERS"},
                                  {"SYSTEM", "SYSTEM"}}) {
        SCOPED_TRACE(typed);
        cgi_result r = kvx({{"KVXPDINSTANCE", "1"}, {"KVXTBLSPNAME", typed}, {"KVXTODO", SHOW}});
        ASSERT_TRUE(complete(r)) << r.page;
        size_t start = r.page.find("<SELECT name=\"KVXTBLSPNAME\" size=1>\n");
        std::string selector = r.page.substr(start, r.page.find("</SELECT>", start) - start);
        std::string first = "<OPTION value=\"" + std::string(current) + "\"> " + current + "\n";
        EXPECT_EQ(count(selector, first), 1u) << selector;
        EXPECT_EQ(selector.find("<OPTION "), selector.find(first));
        EXPECT_EQ(count(selector, "<OPTION "), tablespaces) << selector;
    }
}
