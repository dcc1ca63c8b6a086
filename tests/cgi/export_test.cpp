// The export tool against the demo instance of the test home: its pages, its
// refusals, the parameter file it hands the utility and real export runs.
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "support/cgi_run.h"
#include "support/form_post.h"
#include "support/utility_probe.h"

namespace fs = std::filesystem;

namespace {

using fields = form_fields;

// A posted form of a logged-in administrator whose cookie names home.
cgi_result post(const fields& form, const std::string& home = test_home()) { return post_form("nph-kve", form, home); }

// What the first page posts back with the Export button, the fields of a
// page as the browser sends them.
fields first_page_fields(const std::string& home, const std::string& scope = "Full database") {
    return {{"KVEINSTANCE", "1"},          {"KVEEXPFILE", home + "/export/expdat.dmp"},
            {"KVESELECTOPTS", scope},      {"KVEGRANTSCB", "on"},
            {"KVEINDEXESCB", "on"},        {"KVEROWSCB", "on"},
            {"KVECONSTRAINTSCB", "on"},    {"KVERECLEN", "1024"},
            {"KVEBUFSIZ", "4096"},         {"KVELOGFILENAME", home + "/export/export.log"},
            {"KVEINCTYPE", "None"},        {"KVERECINC", "1"},
            {"KVESTATTYPE", "None"},       {"KVECOMPRESS", "1"}};
}

fields with(const fields& form, const fields& more) { return with_fields(form, more); }
fields without(const fields& form, const std::vector<std::string>& names) { return without_fields(form, names); }

std::vector<std::string> parameter_files(const std::string& home) { return ::parameter_files(home, "exppar"); }

// A home of its own with the probe in the export utility's place.
class export_probe_home : public probe_home {
public:
    explicit export_probe_home(bool with_probe = true, const std::string& tail = "")
        : probe_home("dbdump", with_probe, tail) {}
};

std::string error_block(int number) { return "<H3>KVE-" + std::to_string(number) + ":</H3><P><STRONG>"; }

std::string help_link(int number) {
    return "<P><A HREF=\"/PROD/kv/doc/dtug/error.htm#kve" + std::to_string(number) + "\">";
}

}  // namespace

// The instance back as the demo left it, whatever a test did to it.
class Export : public testing::Test {
protected:
    void TearDown() override { vdbadm({"start", "PROD"}); }
};

TEST_F(Export, FirstPageOffersTheFullDatabaseWithEveryObjectType) {
    // A request without a page counter starts the chain, whatever it carries.
    for (const fields& form : {fields{}, fields{{"KVESUBMIT", "Export"}, {"KVESELECTOPTS", "Tables"}}}) {
        export_probe_home home;
        cgi_result r = post(form, home.path());
        EXPECT_EQ(r.exit_code, 0);
        const std::string& h = home.path();
        EXPECT_EQ(form_of(r.page),
                  "<form method=post action=http://dbhost:8080/PROD-bin/nph-kve>\n"
                  "<img src=/PROD/kv/pics/kve.gif alt=\"Export and Import\" border=0 USEMAP=\"#kve.map\">\n"
                  "<MAP NAME=kve.map>\n"
                  "<AREA SHAPE=RECT COORDS=\"0,0,85,20\" alt=\"Import\" HREF=\"http://dbhost:8080/PROD-bin/nph-kvi\">\n"
                  "<AREA SHAPE=RECT COORDS=\"86,0,165,20\" alt=\"Export\" HREF=\"http://dbhost:8080/PROD-bin/nph-kve\">\n"
                  "</MAP>\n"
                  "<p><p><table><tr><td>\n"
                  "Export file:</td><td><pre> </pre></td><td>\n"
                  "<input type=text size=40 name=\"KVEEXPFILE\" value=\"" + h + "/export/expdat.dmp\">\n"
                  "</td></tr></table>\n"
                  "<hr><br>Choose the scope:<br>\n"
                  "<table><tr><td>\n"
                  "<label><input type=radio name=\"KVESELECTOPTS\" value=\"Tables\">Tables</label>\n"
                  "</td></tr><tr><td>\n"
                  "<label><input type=radio name=\"KVESELECTOPTS\" value=\"Users\">Users</label>\n"
                  "</td></tr><tr><td>\n"
                  "<label><input type=radio name=\"KVESELECTOPTS\" value=\"Full database\" checked>Full database</label>\n"
                  "</td></tr></table>\n"
                  "<input type=submit name=\"KVESUBMIT\" value=\"Apply Scope\">\n"
                  "<hr><br>\n"
                  "A full database export writes the objects and data of every user to the export file.<br>\n"
                  "<i>A full export can take a long time on a large database.</i>\n"
                  "<br><br><hr><br>\n"
                  "Export these object types:<br>\n"
                  "<table><tr><td>\n"
                  "<label><input type=checkbox name=\"KVEGRANTSCB\" checked>Grants</label>\n"
                  "</td><td><pre>       </pre></td><td>\n"
                  "<label><input type=checkbox name=\"KVEINDEXESCB\" checked>Indexes</label>\n"
                  "</td></tr><tr><td>\n"
                  "<label><input type=checkbox name=\"KVEROWSCB\" checked>Rows</label>\n"
                  "</td><td></td><td>\n"
                  "<label><input type=checkbox name=\"KVECONSTRAINTSCB\" checked>Constraints</label>\n"
                  "</td></tr></table>\n"
                  "<input type=hidden name=\"KVERECLEN\" value=\"1024\">\n"
                  "<input type=hidden name=\"KVEBUFSIZ\" value=\"4096\">\n"
                  "<input type=hidden name=\"KVELOGFILENAME\" value=\"" + h + "/export/export.log\">\n"
                  "<input type=hidden name=\"KVEINCTYPE\" value=\"None\">\n"
                  "<input type=hidden name=\"KVERECINC\" value=\"1\">\n"
                  "<input type=hidden name=\"KVESTATTYPE\" value=\"None\">\n"
                  "<input type=hidden name=\"KVECOMPRESS\" value=\"1\">\n"
                  "<hr><table><tr><td>\n"
                  "<input type=submit name=\"KVESUBMIT\" value=\"Export\"></td>\n"
                  "<td><pre> </pre></td><td>\n"
                  "<input type=submit name=\"KVESUBMIT\" value=\"Advanced Options\">\n"
                  "</td></tr></table>\n"
                  "<input type=hidden name=\"KVEINSTANCE\" value=\"1\">\n"
                  "</form>\n");
        EXPECT_TRUE(has_page_bottom(r.page));
        EXPECT_FALSE(contains(r.page, "argument:")) << "nothing is exported from a first request";
    }
}

TEST_F(Export, OptionPageListsTheTablesOrUsersInTwoColumns) {
    struct row {
        const char* scope;
        const char* list;
    } rows[] = {
        {"Tables",
         "Tables:<p><p><p><table><tr><td>\n"
         "<label><input type=checkbox name=\"T0\" value=\"HR.DEPARTMENTS\">HR.DEPARTMENTS</label><br>\n"
         "<label><input type=checkbox name=\"T1\" value=\"HR.STAFF\">HR.STAFF</label><br>\n"
         "<label><input type=checkbox name=\"T2\" value=\"SALES.CUSTOMERS\">SALES.CUSTOMERS</label><br>\n"
         "</td><td><pre>  </pre></td><td>\n"
         "<label><input type=checkbox name=\"T3\" value=\"SALES.ORDERS\">SALES.ORDERS</label><br>\n"
         "<label><input type=checkbox name=\"T4\" value=\"SALES.PRODUCTS\">SALES.PRODUCTS</label><br>\n"
         "<label><input type=checkbox name=\"T5\" value=\"SALES.REGIONS\">SALES.REGIONS</label><br>\n"
         "</td></tr></table>\n"},
        // An odd count: the second column is the longer one.
        {"Users",
         "Users:<p><p><p><table><tr><td>\n"
         "<label><input type=checkbox name=\"U0\" value=\"ADAM\">ADAM</label><br>\n"
         "<label><input type=checkbox name=\"U1\" value=\"EVE\">EVE</label><br>\n"
         "</td><td><pre>            </pre></td><td>\n"
         "<label><input type=checkbox name=\"U2\" value=\"HR\">HR</label><br>\n"
         "<label><input type=checkbox name=\"U3\" value=\"SALES\">SALES</label><br>\n"
         "<label><input type=checkbox name=\"U4\" value=\"SYSTEM\">SYSTEM</label><br>\n"
         "</td></tr></table>\n"},
        {"Full database",
         "<hr><br>\n"
         "A full database export writes the objects and data of every user to the export file.<br>\n"},
    };
    for (const row& row : rows) {
        SCOPED_TRACE(row.scope);
        // The indexes and constraints boxes were cleared on the page before.
        fields form = without(with(first_page_fields(test_home(), row.scope), {{"KVESUBMIT", "Apply Scope"}}),
                              {"KVEINDEXESCB", "KVECONSTRAINTSCB"});
        cgi_result r = post(form);
        EXPECT_EQ(r.exit_code, 0);
        std::string page = form_of(r.page);
        EXPECT_TRUE(contains(page, row.list)) << page;
        EXPECT_TRUE(contains(page, std::string("value=\"") + row.scope + "\" checked>")) << page;
        EXPECT_TRUE(contains(page, "<label><input type=checkbox name=\"KVEGRANTSCB\" checked>Grants</label>\n"
                                   "</td><td><pre>       </pre></td><td>\n"
                                   "<label><input type=checkbox name=\"KVEINDEXESCB\">Indexes</label>\n"));
        EXPECT_TRUE(contains(page, "<label><input type=checkbox name=\"KVECONSTRAINTSCB\">Constraints</label>\n"));
        // The advanced options travel hidden; the main ones are fields of the page.
        EXPECT_TRUE(contains(page, "</td></tr></table>\n"
                                   "<input type=hidden name=\"KVERECLEN\" value=\"1024\">\n"
                                   "<input type=hidden name=\"KVEBUFSIZ\" value=\"4096\">\n"
                                   "<input type=hidden name=\"KVELOGFILENAME\" value=\"" + test_home() +
                                   "/export/export.log\">\n"
                                   "<input type=hidden name=\"KVEINCTYPE\" value=\"None\">\n"
                                   "<input type=hidden name=\"KVERECINC\" value=\"1\">\n"
                                   "<input type=hidden name=\"KVESTATTYPE\" value=\"None\">\n"
                                   "<input type=hidden name=\"KVECOMPRESS\" value=\"1\">\n"
                                   "<hr><table>"))
            << page;
        EXPECT_EQ(count(page, "name=\"KVEEXPFILE\""), 1u);
        EXPECT_TRUE(contains(page, "<input type=hidden name=\"KVEINSTANCE\" value=\"2\">\n</form>\n"));
        EXPECT_TRUE(has_page_bottom(r.page));
    }
}

TEST_F(Export, TableNameOfTwoOwnersIsListedForEach) {
    ASSERT_TRUE(vdbadm({"sql", "PROD", "system/demo", "CREATE TABLE HR.ORDERS (ID NUMBER)"}));
    cgi_result r = post(with(first_page_fields(test_home(), "Tables"), {{"KVESUBMIT", "Apply Scope"}}));
    vdbadm({"sql", "PROD", "system/demo", "DROP TABLE HR.ORDERS"});
    // Seven rows of six distinct names, ordered by owner: the list grew.
    EXPECT_TRUE(contains(r.page, "<label><input type=checkbox name=\"T2\" value=\"HR.STAFF\">HR.STAFF</label><br>\n"
                                 "</td><td><pre>  </pre></td><td>\n"
                                 "<label><input type=checkbox name=\"T3\" value=\"SALES.CUSTOMERS\">"))
        << r.page;
    EXPECT_TRUE(contains(r.page, "value=\"HR.ORDERS\""));
    EXPECT_TRUE(contains(r.page, "<input type=checkbox name=\"T6\" value=\"SALES.REGIONS\">"));
}

TEST_F(Export, InstanceDownIsMountedForTheListsAndLeftDown) {
    ASSERT_TRUE(vdbadm({"stop", "PROD"}));
    cgi_result r = post(with(first_page_fields(test_home(), "Tables"), {{"KVESUBMIT", "Apply Scope"}}));
    EXPECT_EQ(r.exit_code, 0);
    // A mounted database answers no query of a normal login: the list is empty.
    EXPECT_TRUE(contains(r.page, "Tables:<p><p><p><table><tr><td>\n</td><td><pre>  </pre></td><td>\n</td></tr></table>\n"))
        << r.page;
    cgi_result status = run_cgi(test_home() + "/bin/vdbadm", {"vdbadm", "--home", test_home(), "status", "PROD"}, {});
    EXPECT_TRUE(contains(status.page, "instance down")) << status.page;
}

TEST_F(Export, AdvancedPageShowsThePostedValuesOrTheDefaults) {
    const std::string h = test_home();
    fields posted = with(first_page_fields(h, "Users"),
                         {{"KVESUBMIT", "Advanced Options"}, {"KVERECLEN", "512"}, {"KVEBUFSIZ", "2048"},
                          {"KVELOGFILE", "on"}, {"KVELOGFILENAME", h + "/export/mine.log"},
                          {"KVEINCTYPE", "Complete"}, {"KVESTATTYPE", "Compute"}});
    posted = without(posted, {"KVERECINC", "KVECOMPRESS", "KVEINDEXESCB"});
    std::string carried = "<input type=hidden name=\"KVEEXPFILE\" value=\"" + h + "/export/expdat.dmp\">\n"
                          "<input type=hidden name=\"KVEGRANTSCB\" value=\"1\">\n"
                          "<input type=hidden name=\"KVEROWSCB\" value=\"1\">\n"
                          "<input type=hidden name=\"KVECONSTRAINTSCB\" value=\"1\">\n"
                          "<input type=hidden name=\"KVESELECTOPTS\" value=\"Users\">\n"
                          "<input type=hidden name=\"KVEINSTANCE\" value=\"2\">\n"
                          "</form>\n";
    struct row {
        const char* button;
        std::string block;
    } rows[] = {
        {"Advanced Options",
         "<input type=text name=\"KVERECLEN\" size=4 value=\"512\">bytes\n"
         "</td></tr><tr><td>Buffer size</td><td></td><td>\n"
         "<input type=text name=\"KVEBUFSIZ\" size=4 value=\"2048\">bytes</td></tr>\n"
         "<tr><td><label><input type=checkbox name=\"KVELOGFILE\" checked>Write a log file</label></td><td></td><td>\n"
         "<input type=text name=\"KVELOGFILENAME\" size=40 value=\"" + h + "/export/mine.log\">\n"
         "</td></tr></table><table><tr><td>\n"
         "<label><input type=checkbox name=\"KVECONSISTENT\">Consistent export</label></td></tr></table>\n"
         "<br>Incremental type:\n"
         "<br><label><input type=radio name=\"KVEINCTYPE\" value=\"None\">None</label>\n"
         "<label><input type=radio name=\"KVEINCTYPE\" value=\"Complete\" checked>Complete</label>\n"
         "<label><input type=radio name=\"KVEINCTYPE\" value=\"Cumulative\">Cumulative</label>\n"
         "<label><input type=radio name=\"KVEINCTYPE\" value=\"Incremental\">Incremental</label><br>\n"
         "<label><input type=checkbox name=\"KVERECINC\">Record this incremental export</label>\n"
         "<p><p><p>Optimizer statistics:<br>\n"
         "<label><input type=radio name=\"KVESTATTYPE\" value=\"None\">None</label>\n"
         "<label><input type=radio name=\"KVESTATTYPE\" value=\"Estimate\">Estimate</label>\n"
         "<label><input type=radio name=\"KVESTATTYPE\" value=\"Compute\" checked>Compute</label><br>\n"
         "<label><input type=checkbox name=\"KVECOMPRESS\">Compress extents</label>\n"},
        // The defaults keep the export file, the scope and the object types.
        {"Reset Defaults",
         "<input type=text name=\"KVERECLEN\" size=4 value=\"1024\">bytes\n"
         "</td></tr><tr><td>Buffer size</td><td></td><td>\n"
         "<input type=text name=\"KVEBUFSIZ\" size=4 value=\"4096\">bytes</td></tr>\n"
         "<tr><td><label><input type=checkbox name=\"KVELOGFILE\">Write a log file</label> </td><td></td><td>\n"
         "<input type=text name=\"KVELOGFILENAME\" size=40 value=\"" + h + "/export/export.log\">\n"
         "</td></tr></table><table><tr><td>\n"
         "<label><input type=checkbox name=\"KVECONSISTENT\">Consistent export</label></td></tr></table>\n"
         "<br>Incremental type:\n"
         "<br><label><input type=radio name=\"KVEINCTYPE\" value=\"None\" checked>None</label>\n"
         "<label><input type=radio name=\"KVEINCTYPE\" value=\"Complete\">Complete</label>\n"
         "<label><input type=radio name=\"KVEINCTYPE\" value=\"Cumulative\">Cumulative</label>\n"
         "<label><input type=radio name=\"KVEINCTYPE\" value=\"Incremental\">Incremental</label><br>\n"
         "<label><input type=checkbox name=\"KVERECINC\" checked>Record this incremental export</label>\n"
         "<p><p><p>Optimizer statistics:<br>\n"
         "<label><input type=radio name=\"KVESTATTYPE\" value=\"None\" checked>None</label>\n"
         "<label><input type=radio name=\"KVESTATTYPE\" value=\"Estimate\">Estimate</label>\n"
         "<label><input type=radio name=\"KVESTATTYPE\" value=\"Compute\">Compute</label><br>\n"
         "<label><input type=checkbox name=\"KVECOMPRESS\" checked>Compress extents</label>\n"},
    };
    for (const row& row : rows) {
        SCOPED_TRACE(row.button);
        cgi_result r = post(with(posted, {{"KVESUBMIT", row.button}}));
        EXPECT_EQ(r.exit_code, 0);
        EXPECT_EQ(form_of(r.page),
                  "<form method=post action=http://dbhost:8080/PROD-bin/nph-kve>\n"
                  "<p><p><table><tr>\n"
                  "<td>Record length</td><td><pre> </pre></td><td>\n" +
                      row.block +
                      "<p><p><p><table><tr><td>\n"
                      "<input type=submit name=\"KVESUBMIT\" value=\"Accept Options\">\n"
                      "</td><td><pre> </pre></td><td>\n"
                      "<input type=submit name=\"KVESUBMIT\" value=\"Reset Defaults\">\n"
                      "</td></tr></table>\n" +
                      carried);
        EXPECT_TRUE(has_page_bottom(r.page));
    }
}

TEST_F(Export, ButtonsAndScopesLeadToTheirPages) {
    struct row {
        fields form;
        const char* page_mark;  // a line only that page has
        const char* next_counter;
    } rows[] = {
        {{{"KVESUBMIT", "Accept Options"}}, "value=\"Apply Scope\">", "2"},
        {{{"KVESUBMIT", "Export Options"}}, "value=\"Apply Scope\">", "2"},
        // A button this tool does not have, or none: the option page.
        {{{"KVESUBMIT", "Drop Database"}}, "value=\"Apply Scope\">", "2"},
        {{}, "value=\"Apply Scope\">", "2"},
        {{{"KVESUBMIT", "Advanced Options"}}, "value=\"Reset Defaults\">", "2"},
        // An unknown scope keeps the record's: the table list.
        {{{"KVESUBMIT", "Apply Scope"}, {"KVESELECTOPTS", "Everything"}}, "value=\"Tables\" checked>Tables", "2"},
        // Only zero against non-zero matters, and it never wraps to zero.
        {{{"KVESUBMIT", "Apply Scope"}, {"KVEINSTANCE", "2147483647"}}, "value=\"Apply Scope\">", "2147483647"},
        {{{"KVESUBMIT", "Apply Scope"}, {"KVEINSTANCE", "-1"}}, "value=\"Apply Scope\">", "1"},
    };
    for (const row& row : rows) {
        fields form = with({{"KVEINSTANCE", "1"}, {"KVERECLEN", "1024"}, {"KVEBUFSIZ", "4096"}}, row.form);
        cgi_result r = post(form);
        SCOPED_TRACE(form_body(form));
        EXPECT_EQ(r.exit_code, 0);
        EXPECT_TRUE(contains(r.page, row.page_mark)) << r.page;
        EXPECT_TRUE(contains(r.page, std::string("name=\"KVEINSTANCE\" value=\"") + row.next_counter + "\""));
    }
}

TEST_F(Export, RefusalsEndThePageWithTheirBlockAndLeaveNoParameterFile) {
    struct row {
        fields change;
        std::vector<std::string> drop;
        int number;
        bool help;
    } rows[] = {
        {{{"KVESUBMIT", "Apply Scope"}, {"KVERECLEN", ""}}, {}, 4055, true},
        {{{"KVESUBMIT", "Apply Scope"}, {"KVEBUFSIZ", "0"}}, {}, 4056, true},
        {{{"KVESUBMIT", "Export"}, {"KVEBUFSIZ", "10000"}}, {}, 4056, true},
        {{{"KVESUBMIT", "Export"}, {"KVELOGFILE", "on"}, {"KVELOGFILENAME", "/nonexistent/dir/x.log"}}, {}, 4059, false},
        {{{"KVESUBMIT", "Export"}, {"KVECONSISTENT", "on"}, {"KVEINCTYPE", "Cumulative"}}, {}, 4067, false},
        // The advanced page shows the numbers it was given: none is below 1.
        {{{"KVESUBMIT", "Advanced Options"}}, {"KVERECLEN"}, 5021, true},
        {{{"KVESUBMIT", "Advanced Options"}}, {"KVEBUFSIZ"}, 5022, true},
        {{{"KVESUBMIT", "Export"}, {"KVESELECTOPTS", "Tables"}}, {}, 4064, false},
        {{{"KVESUBMIT", "Export"}, {"KVESELECTOPTS", "Users"}}, {}, 4065, false},
        {{{"KVESUBMIT", "Export"}, {"KVESELECTOPTS", "Tables"}, {"T0", "HR.DEPARTMENTS"}, {"KVEINCTYPE", "Cumulative"}},
         {},
         4066,
         false},
        // A value that would add a line of its own to the parameter file.
        {{{"KVESUBMIT", "Export"}, {"KVEEXPFILE", "/tmp/x.dmp\nFULL=Y"}}, {}, 4073, false},
        {{{"KVESUBMIT", "Apply Scope"}, {"KVELOGFILE", "on"}, {"KVELOGFILENAME", "/tmp/x.log\rLOG=/etc/passwd"}},
         {},
         4073,
         false},
        {{{"KVESUBMIT", "Export"}, {"KVESELECTOPTS", "Tables"}, {"T0", "HR.STAFF\nFULL=Y"}}, {}, 4072, false},
        // A name longer than its field is refused, never cut to another name.
        {{{"KVESUBMIT", "Export"}, {"KVEEXPFILE", std::string(251, 'x')}}, {}, 4061, false},
    };
    for (const row& row : rows) {
        export_probe_home home;
        fields form = without(with(first_page_fields(home.path()), row.change), row.drop);
        SCOPED_TRACE(form_body(form));
        cgi_result r = post(form, home.path());
        EXPECT_EQ(r.exit_code, 3);
        EXPECT_TRUE(contains(r.page, error_block(row.number))) << r.page;
        EXPECT_EQ(contains(r.page, help_link(row.number)), row.help);
        EXPECT_FALSE(has_page_bottom(r.page));
        EXPECT_FALSE(contains(r.page, "argument:")) << "the utility never started";
        EXPECT_EQ(parameter_files(home.path()), std::vector<std::string>{});
    }
}

TEST_F(Export, ParameterFileHoldsExactlyTheChosenLines) {
    struct row {
        fields change;
        std::vector<std::string> drop;
        std::vector<std::string> lines;  // after the login and FILE= lines
    } rows[] = {
        {{}, {}, {"BUFFER=4096", "RECORDLENGTH=1024", "FULL=Y"}},
        {{},
         {"KVEGRANTSCB", "KVEINDEXESCB", "KVEROWSCB", "KVECONSTRAINTSCB", "KVECOMPRESS", "KVERECINC"},
         {"BUFFER=4096", "RECORDLENGTH=1024", "COMPRESS=N", "GRANTS=N", "INDEXES=N", "ROWS=N", "CONSTRAINTS=N",
          "RECORD=N", "FULL=Y"}},
        {{{"KVELOGFILE", "on"}, {"KVECONSISTENT", "on"}, {"KVESTATTYPE", "Estimate"}, {"KVEBUFSIZ", "64"}},
         {},
         {"LOG=@/export/export.log", "BUFFER=64", "RECORDLENGTH=1024", "CONSISTENT=YES", "STATISTICS=ESTIMATE",
          "FULL=Y"}},
        {{{"KVEINCTYPE", "Cumulative"}, {"KVESTATTYPE", "Compute"}},
         {},
         {"BUFFER=4096", "RECORDLENGTH=1024", "INCTYPE=CUMULATIVE", "STATISTICS=COMPUTE", "FULL=Y"}},
        {{{"KVESELECTOPTS", "Tables"}, {"T1", "HR.STAFF"}, {"T4", "SALES.PRODUCTS"}},
         {},
         {"BUFFER=4096", "RECORDLENGTH=1024", "TABLES=(", "HR.STAFF,", "SALES.PRODUCTS)"}},
        {{{"KVESELECTOPTS", "Tables"}, {"T5", "SALES.REGIONS"}, {"T6", "beyond.the_list"}},
         {},
         {"BUFFER=4096", "RECORDLENGTH=1024", "TABLES=(", "SALES.REGIONS)"}},
        {{{"KVESELECTOPTS", "Users"}, {"U0", "ADAM"}}, {}, {"BUFFER=4096", "RECORDLENGTH=1024", "OWNER=(", "ADAM)"}},
    };
    for (const row& row : rows) {
        export_probe_home home;
        const std::string& h = home.path();
        fields form = without(with(first_page_fields(h), row.change), row.drop);
        form = with(form, {{"KVESUBMIT", "Export"}});
        SCOPED_TRACE(form_body(form));
        cgi_result r = post(form, h);
        EXPECT_EQ(r.exit_code, 0) << r.page;
        probe_report probe = read_probe(r.page);
        std::vector<std::string> expected = {"system/demo", "FILE=" + h + "/export/expdat.dmp"};
        for (std::string line : row.lines) {
            if (line.find('@') != std::string::npos) line.replace(line.find('@'), 1, h);
            expected.push_back(line);
        }
        EXPECT_EQ(probe.lines, expected);
        expect_started_plainly(probe, h, "exppar");
        EXPECT_EQ(parameter_files(h), std::vector<std::string>{});
        EXPECT_TRUE(contains(r.page, "</pre>\n</form>\n<hr width=100%>")) << r.page;
    }
}

TEST_F(Export, UtilityThatCannotStartIsReportedInsideThePage) {
    export_probe_home home(false);
    cgi_result r = post(with(first_page_fields(home.path()), {{"KVESUBMIT", "Export"}}), home.path());
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(form_of(r.page),
              "<form method=post action=http://dbhost:8080/PROD-bin/nph-kve>\n"
              "<pre>Failed to communicate with export tool through pipe!\n</pre>\n"
              "</form>\n");
    EXPECT_TRUE(has_page_bottom(r.page));
    EXPECT_EQ(parameter_files(home.path()), std::vector<std::string>{});
}

TEST_F(Export, ClientThatGoesAwayDuringTheRunLeavesNoParameterFile) {
    export_probe_home home(true, "sleep 0.3\necho 'written after the client left' >&2\n");
    tool_request run{"nph-kve", with(first_page_fields(home.path()), {{"KVESUBMIT", "Export"}}),
                     login_fields(home.path()), true, {}};
    run.form.emplace_back("KVCTOKEN", form_token(run));
    std::string body = form_body(run.form);
    std::string command = "printf %s '" + body + "' | env -i PATH=/usr/bin:/bin ASAN_OPTIONS=detect_leaks=0 " +
                          "REQUEST_METHOD=POST CONTENT_LENGTH=" + std::to_string(body.size()) +
                          " REMOTE_ADDR=127.0.0.1 SERVER_NAME=dbhost SERVER_PORT=8080 SERVER_PROTOCOL=HTTP/1.1 " +
                          "'HTTP_COOKIE=KVCOOKIE=" + admin_cookie_pairs(home.path()) + "' " + home.path() +
                          "/kv/bin/nph-kve";
    FILE* page = popen(command.c_str(), "r");
    ASSERT_NE(page, nullptr);
    char line[4096];
    bool running = false;
    while (!running && std::fgets(line, sizeof line, page)) running = std::string(line).find("argument:") != std::string::npos;
    ASSERT_TRUE(running);
    EXPECT_EQ(parameter_files(home.path()).size(), 1u) << "the file exists while the utility runs";
    // The reader goes away; the utility's next line finds no client.
    int status = pclose(page);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
    EXPECT_EQ(parameter_files(home.path()), std::vector<std::string>{});
}

TEST_F(Export, TableExportRunsThenAnExistingFileWantsConfirmation) {
    const std::string dump = test_home() + "/export/two-tables.dmp";
    fs::remove(dump);
    fields form = with(first_page_fields(test_home(), "Tables"),
                       {{"KVESUBMIT", "Export"}, {"KVEEXPFILE", dump}, {"T1", "HR.STAFF"}, {"T5", "SALES.REGIONS"}});

    cgi_result run = post(form);
    EXPECT_EQ(run.exit_code, 0);
    EXPECT_TRUE(contains(run.page, "<pre>Connected to instance PROD as SYSTEM.\n")) << run.page;
    EXPECT_TRUE(contains(run.page, ". . exporting table HR.STAFF 60 rows exported\n"));
    EXPECT_TRUE(contains(run.page, "Export terminated successfully.\n</pre>\n</form>\n"));
    EXPECT_TRUE(has_page_bottom(run.page));
    std::ifstream file(dump);
    std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    EXPECT_EQ(count(text, "CREATE TABLE \""), 2u);
    EXPECT_TRUE(contains(text, "CREATE TABLE \"STAFF\"") && contains(text, "CREATE TABLE \"REGIONS\""));

    // Now the file exists: the warning carries every choice, the boxes included,
    // and leaves the file as it was.
    auto written = fs::last_write_time(dump);
    cgi_result warning = post(form);
    EXPECT_EQ(warning.exit_code, 3);
    EXPECT_TRUE(contains(warning.page, "<input type=hidden name=\"KVEWARNING\" value=\"1\">\n"
                                       "<h3><i>Please confirm</i></h3><p><p>The export file already exists"))
        << warning.page;
    EXPECT_TRUE(warning.page.ends_with("<input type=submit name=\"KVESUBMIT\" value=\"Continue\">\n</form></body></html>\n"));
    EXPECT_EQ(fs::last_write_time(dump), written);
    fields confirmed = hidden_fields(warning.page);
    EXPECT_EQ(count(form_body(confirmed), "KVEEXPFILE="), 1u) << "each field once";
    EXPECT_TRUE(contains(form_body(confirmed), "T1=HR.STAFF&T5=SALES.REGIONS"));
    confirmed.emplace_back("KVESUBMIT", "Continue");

    cgi_result again = post(confirmed);
    EXPECT_EQ(again.exit_code, 0);
    EXPECT_TRUE(contains(again.page, ". . exporting table SALES.REGIONS")) << again.page;
    EXPECT_TRUE(contains(again.page, "Export terminated successfully.\n</pre>\n"));
    EXPECT_NE(fs::last_write_time(dump), written);
    EXPECT_EQ(parameter_files(test_home()), std::vector<std::string>{});
    fs::remove(dump);
}

TEST_F(Export, PostedValuesAreWrittenAsTextNeverAsMarkup) {
    const std::string hostile = "\"><script>alert(1)</script>";
    // A file name with a "/" would name a file outside the export directory.
    const std::string hostile_name = "\"><script>alert(1)";
    struct row {
        fields form;
    } rows[] = {
        {{{"KVESUBMIT", "Apply Scope"}, {"KVEEXPFILE", hostile_name}, {"KVELOGFILENAME", hostile}}},
        {{{"KVESUBMIT", "Advanced Options"}, {"KVEEXPFILE", hostile_name}, {"KVELOGFILENAME", hostile},
          {"KVESELECTOPTS", hostile}, {"KVEINCTYPE", hostile}}},
        {{{"KVESUBMIT", "Export"}, {"KVEEXPFILE", test_home() + "/export/expdat.dmp"}, {"KVESELECTOPTS", hostile},
          {"KVESTATTYPE", hostile}, {"T0", hostile}}},
    };
    for (const row& row : rows) {
        fields form = with(first_page_fields(test_home()), row.form);
        SCOPED_TRACE(form_body(form));
        cgi_result r = post(form);
        EXPECT_FALSE(contains(r.page, "<script>")) << r.page;
        EXPECT_TRUE(contains(r.page, "&quot;&gt;&lt;script&gt;alert(1)")) << r.page;
    }
}
