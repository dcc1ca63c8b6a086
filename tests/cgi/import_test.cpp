// The import tool against the demo instance of the test home: its pages, its
// refusals, the parameter file it hands the utility and a real import run.
#include <cstdlib>

#include <algorithm>
#include <chrono>
#include <thread>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
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
cgi_result post(const fields& form, const std::string& home = test_home()) { return post_form("nph-kvi", form, home); }

std::string error_block(int number) { return "<H3>KVI-" + std::to_string(number) + ":</H3><P><STRONG>"; }

std::string help_link(int number) {
    return "<P><A HREF=\"/PROD/kv/doc/dtug/error.htm#kvi" + std::to_string(number) + "\">";
}

const std::string FORM_OPENING = "<form method=post action=http://dbhost:8080/PROD-bin/nph-kvi>\n";

// What the first page posts back, as the browser sends it.
fields first_page_fields(const std::string& home, const std::string& scope = "Whole file") {
    return {{"KVIINSTANCE", "1"},  {"KVIEXPFILE", "expdat.dmp"},
            {"KVISELECTOPTS", scope}, {"KVIGRANTSCB", "on"},
            {"KVIINDEXESCB", "on"},   {"KVIROWSCB", "on"},
            {"KVIRECLEN", "1024"},    {"KVIBUFSIZ", "4096"},
            {"KVILOGFILENAME", home + "/export/export.log"},
            {"KVIINDEXFILENAME", home + "/export/index.sql"},
            {"KVIINCTYPE", "None"}};
}

fields with(const fields& form, const fields& more) { return with_fields(form, more); }
fields without(const fields& form, const std::vector<std::string>& names) { return without_fields(form, names); }

// An export file as the export utility writes it: the exporting user SYSTEM,
// then each schema's CONNECT line and its tables in file order.
std::string export_file(const std::vector<std::pair<std::string, std::vector<std::string>>>& schemas) {
    std::string text = "VANTOR EXPORT FILE 1\nDSYSTEM\n-- crafted\n";
    for (const auto& [owner, tables] : schemas) {
        text += "CONNECT " + owner + "\n";
        for (const auto& table : tables) text += "CREATE TABLE \"" + table + "\" (\"ID\" NUMBER)\n";
    }
    return text;
}

// Twelve tables of SALES, written so that the scan's index i is table Ti.
std::string twelve_tables() {
    std::vector<std::string> tables;
    for (int i = 11; i >= 0; --i) tables.push_back("T" + std::to_string(i));
    return export_file({{"SALES", tables}});
}

// A home of its own with the export files given and the probe in the import
// utility's place.
class import_probe_home : public probe_home {
public:
    explicit import_probe_home(const std::map<std::string, std::string>& exports, bool with_probe = true)
        : probe_home("dbload", with_probe) {
        for (const auto& [name, text] : exports) write("export/" + name, text);
    }
    // The demo's own export file, written by the export utility.
    import_probe_home() : import_probe_home({{"expdat.dmp", demo_export()}}) {}

    static std::string demo_export() {
        std::ifstream file(test_home() + "/export/expdat.dmp", std::ios::binary);
        return std::string((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    }
};

std::vector<std::string> parameter_files(const std::string& home) { return ::parameter_files(home, "imppar"); }

// The check boxes a list page shows, by name.
std::vector<std::string> boxes(const std::string& page, const std::string& prefix) {
    std::vector<std::string> out;
    const std::string open = "<input type=checkbox name=\"" + prefix;
    for (size_t at = page.find(open); at != std::string::npos; at = page.find(open, at + 1)) {
        size_t name = at + open.size() - prefix.size();
        out.push_back(page.substr(name, page.find('"', name) - name));
    }
    return out;
}

// The rows of an instance query, one a line.
std::string query(const std::string& statement) {
    cgi_result r = run_cgi(test_home() + "/bin/vdbadm", {"vdbadm", "--home", test_home(), "sql", "PROD", "system/demo", statement}, {});
    return r.page + r.errors;
}

}  // namespace

// The instance back as the demo left it, whatever a test did to it.
class Import : public testing::Test {
protected:
    void TearDown() override { vdbadm({"start", "PROD"}); }
};

TEST_F(Import, FirstPageOffersTheExportDirectoryAndTheWholeFile) {
    // A request without a page counter starts the chain, whatever it carries:
    // nothing is read or run.
    for (const fields& form : {fields{}, fields{{"KVISUBMIT", "Import"}, {"KVISELECTOPTS", "Tables"}}}) {
        import_probe_home home({{"expdat.dmp", "not read"}, {"older.dmp", "not read"}});
        fs::create_directories(home.path() + "/export/subdirectory");
        cgi_result r = post(form, home.path());
        EXPECT_EQ(r.exit_code, 0);
        const std::string& h = home.path();
        EXPECT_EQ(form_of(r.page),
                  FORM_OPENING +
                      "<img src=/PROD/kv/pics/kvi.gif alt=\"Export and Import\" border=0 USEMAP=\"#kve.map\">\n"
                      "<MAP NAME=kve.map>\n"
                      "<AREA SHAPE=RECT COORDS=\"0,0,85,20\" alt=\"Import\" HREF=\"http://dbhost:8080/PROD-bin/nph-kvi\">\n"
                      "<AREA SHAPE=RECT COORDS=\"86,0,165,20\" alt=\"Export\" HREF=\"http://dbhost:8080/PROD-bin/nph-kve\">\n"
                      "</MAP>\n"
                      "<p><p><table><tr><td>\n"
                      "Export file:</td><td><pre> </pre></td><td><select name=\"KVIEXPFILE\">\n"
                      "<option value=\"expdat.dmp\" selected>expdat.dmp\n"
                      "<option value=\"older.dmp\">older.dmp\n"
                      "</select></td></tr></table><hr>\n"
                      "<br>Choose the scope:<br>\n"
                      "<table><tr><td>\n"
                      "<label><input type=radio name=\"KVISELECTOPTS\" value=\"Tables\">Tables</label>\n"
                      "</td></tr><tr><td>\n"
                      "<label><input type=radio name=\"KVISELECTOPTS\" value=\"Users\">Users</label>\n"
                      "</td></tr><tr><td>\n"
                      "<label><input type=radio name=\"KVISELECTOPTS\" value=\"Whole file\" checked>Whole file</label>\n"
                      "</td></tr></table>\n"
                      "<input type=submit name=\"KVISUBMIT\" value=\"Apply Scope\">\n"
                      "<hr><br>\n"
                      "Everything in the chosen export file will be imported.<br>\n"
                      "<i>Tables that already exist are reported as errors unless Ignore creation errors is checked.</i>\n"
                      "<br><br><hr><br>\n"
                      "Import these object types:<br>\n"
                      "<table><tr><td>\n"
                      "<label><input type=checkbox name=\"KVIGRANTSCB\" checked>Grants</label>\n"
                      "</td><td><pre>       </pre></td><td>\n"
                      "<label><input type=checkbox name=\"KVIINDEXESCB\" checked>Indexes</label>\n"
                      "</td></tr><tr><td>\n"
                      "<label><input type=checkbox name=\"KVIROWSCB\" checked>Rows</label>\n"
                      "</td><td></td><td>\n"
                      "</td></tr></table>\n"
                      "<input type=hidden name=\"KVIRECLEN\" value=\"1024\">\n"
                      "<input type=hidden name=\"KVIBUFSIZ\" value=\"4096\">\n"
                      "<input type=hidden name=\"KVILOGFILENAME\" value=\"" + h + "/export/export.log\">\n"
                      "<input type=hidden name=\"KVIINDEXFILENAME\" value=\"" + h + "/export/index.sql\">\n"
                      "<input type=hidden name=\"KVIINCTYPE\" value=\"None\">\n"
                      "<hr><table><tr><td>\n"
                      "<input type=submit name=\"KVISUBMIT\" value=\"Import\"></td>\n"
                      "<td><pre> </pre></td><td>\n"
                      "<input type=submit name=\"KVISUBMIT\" value=\"Advanced Options\">\n"
                      "</td></tr></table>\n"
                      "<input type=hidden name=\"KVIINSTANCE\" value=\"1\">\n"
                      "</form>\n");
        EXPECT_TRUE(has_page_bottom(r.page));
        EXPECT_FALSE(contains(r.page, "argument:")) << "nothing is imported from a first request";
    }
    // Without the default file no entry is marked.
    import_probe_home other(std::map<std::string, std::string>{{"other.dmp", ""}});
    cgi_result r = post({}, other.path());
    EXPECT_TRUE(contains(r.page, "<select name=\"KVIEXPFILE\">\n<option value=\"other.dmp\">other.dmp\n</select>")) << r.page;
}

TEST_F(Import, ExportDirectoryWithoutFilesEndsTheRequestBeforeTheBody) {
    struct row {
        const char* what;
        bool subdirectory_only;
        bool remove_directory;
        fields form;
    } rows[] = {
        {"empty, first page", false, false, {}},
        {"only a subdirectory, first page", true, false, {}},
        {"no export directory, first page", false, true, {}},
        {"empty, selection page", false, false, {{"KVIINSTANCE", "1"}, {"KVISUBMIT", "Apply Scope"}}},
    };
    for (const row& row : rows) {
        SCOPED_TRACE(row.what);
        import_probe_home home(std::map<std::string, std::string>{});
        if (row.subdirectory_only) fs::create_directories(home.path() + "/export/old");
        if (row.remove_directory) fs::remove_all(home.path() + "/export");
        cgi_result r = post(row.form, home.path());
        EXPECT_EQ(r.exit_code, 3);
        EXPECT_EQ(form_of(r.page).rfind(FORM_OPENING + "<H3>KVI-5026:</H3>", 0), 0u) << r.page;
        EXPECT_FALSE(contains(r.page, help_link(5026)));
        EXPECT_FALSE(has_page_bottom(r.page));
    }
}

TEST_F(Import, RefusalsEndThePageWithTheirBlockAndRunNothing) {
    const std::string tables = "Tables", users = "Users";
    struct row {
        fields change;
        std::vector<std::string> drop;
        int number;
        bool help;
    } rows[] = {
        {{{"KVISUBMIT", "Apply Scope"}, {"KVIRECLEN", ""}}, {}, 5021, true},
        {{{"KVISUBMIT", "Apply Scope"}, {"KVIBUFSIZ", "0"}}, {}, 5022, true},
        {{{"KVISUBMIT", "Import"}, {"KVIBUFSIZ", "10000"}}, {}, 5022, true},
        {{{"KVISUBMIT", "Advanced Options"}}, {"KVIRECLEN"}, 5021, true},
        {{{"KVISUBMIT", "Import"}, {"KVILOGFILE", "on"}, {"KVILOGFILENAME", "/nonexistent/dir/x.log"}}, {}, 4059, false},
        {{{"KVISUBMIT", "Import"}, {"KVIINDEXFILE", "on"}, {"KVIINDEXFILENAME", "/nonexistent/dir/i.sql"}}, {}, 5028, false},
        {{{"KVISUBMIT", "Import"}, {"KVISELECTOPTS", tables}, {"T0", "ORDERS"}, {"KVIINCTYPE", "System"}}, {}, 5029, false},
        {{{"KVISUBMIT", "Import"}, {"KVISELECTOPTS", users}, {"U0", "SALES"}, {"KVIINCTYPE", "Restore"}}, {}, 5029, false},
        // One owner's tables can go to one target user per run.
        {{{"KVISUBMIT", "Import"}, {"KVISELECTOPTS", tables}, {"T0", "ORDERS"}, {"DT0", "ADAM"}, {"T2", "CUSTOMERS"},
          {"DT2", "EVE"}},
         {},
         5030,
         false},
        // Boxes of another list page are not carried: only this page's count.
        {{{"KVISUBMIT", "Import"}, {"KVISELECTOPTS", tables}, {"U0", "SALES"}, {"T6", "beyond the file"}}, {}, 4064, false},
        {{{"KVISUBMIT", "Import"}, {"KVISELECTOPTS", users}, {"T0", "ORDERS"}}, {}, 4065, false},
        // A value that would add a line of its own to the parameter file.
        {{{"KVISUBMIT", "Import"}, {"KVILOGFILE", "on"}, {"KVILOGFILENAME", "/tmp/x.log\nFULL=Y"}}, {}, 5045, false},
        {{{"KVISUBMIT", "Import"}, {"KVISELECTOPTS", tables}, {"T0", "ORDERS\nFULL=Y"}}, {}, 5044, false},
        {{{"KVISUBMIT", "Import"}, {"KVISELECTOPTS", tables}, {"T0", "ORDERS"}, {"DT0", "ADAM\rFULL=Y"}}, {}, 5044, false},
        {{{"KVISUBMIT", "Import"}, {"KVISELECTOPTS", users}, {"U1", "HR"}, {"DU1", "EVE\nFULL=Y"}}, {}, 5044, false},
        // The export file is a plain name of the export directory, and one
        // that can be read, with tables in it.
        {{{"KVISUBMIT", "Import"}, {"KVIEXPFILE", "../kv/key"}}, {}, 5046, true},
        {{{"KVISUBMIT", "Apply Scope"}, {"KVIEXPFILE", "/etc/passwd"}}, {}, 5046, true},
        {{{"KVISUBMIT", "Advanced Options"}, {"KVIEXPFILE", ".."}}, {}, 5046, true},
        {{{"KVISUBMIT", "Reset Defaults"}, {"KVIEXPFILE", "/work/x.dmp"}}, {}, 5046, true},
        {{{"KVISUBMIT", "Import"}, {"KVIEXPFILE", "expdat.dmp\nFULL=Y"}}, {}, 5046, true},
        {{{"KVISUBMIT", "Import"}}, {"KVIEXPFILE"}, 5046, true},
        {{{"KVISUBMIT", "Import"}, {"KVIEXPFILE", "missing.dmp"}}, {}, 1011, true},
        {{{"KVISUBMIT", "Apply Scope"}, {"KVIEXPFILE", "one-line.dmp"}}, {}, 1011, true},
        {{{"KVISUBMIT", "Import"}, {"KVIEXPFILE", "no-tables.dmp"}}, {}, 5027, false},
        {{{"KVISUBMIT", "Apply Scope"}, {"KVIEXPFILE", "no-tables.dmp"}}, {}, 5027, false},
        {{{"KVISUBMIT", "Advanced Options"}, {"KVIEXPFILE", "no-tables.dmp"}}, {}, 5027, false},
    };
    for (const row& row : rows) {
        import_probe_home home({{"expdat.dmp", import_probe_home::demo_export()},
                         {"one-line.dmp", "VANTOR EXPORT FILE 1\n"},
                         {"no-tables.dmp", export_file({{"SALES", {}}})}});
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

TEST_F(Import, ButtonsAndScopesLeadToTheirPages) {
    struct row {
        fields form;
        const char* page_mark;  // a line only that page has
        const char* next_counter;
    } rows[] = {
        {{{"KVISUBMIT", "Accept Options"}}, "<hr><br>\nEverything in the chosen export file", "2"},
        // A button this tool does not have, or none: the selection page.
        {{{"KVISUBMIT", "Drop Database"}}, "<hr><br>\nEverything in the chosen export file", "2"},
        {{}, "<hr><br>\nEverything in the chosen export file", "2"},
        {{{"KVISUBMIT", "Advanced Options"}}, "value=\"Reset Defaults\">", "2"},
        // An unknown scope keeps the record's: the table list.
        {{{"KVISUBMIT", "Apply Scope"}, {"KVISELECTOPTS", "Everything"}}, "<br><hr>\nTables:<br>\n", "2"},
        {{{"KVISUBMIT", "Apply Scope"}, {"KVISELECTOPTS", "Users"}}, "<br><hr>\nUsers:<br>\n", "2"},
        // Only zero against non-zero matters, and it never wraps to zero.
        {{{"KVISUBMIT", "Apply Scope"}, {"KVIINSTANCE", "2147483647"}}, "Everything in the chosen", "2147483647"},
        {{{"KVISUBMIT", "Apply Scope"}, {"KVIINSTANCE", "-1"}}, "Everything in the chosen", "1"},
    };
    import_probe_home home;
    for (const row& row : rows) {
        fields form = with(first_page_fields(home.path()), row.form);
        SCOPED_TRACE(form_body(form));
        cgi_result r = post(form, home.path());
        EXPECT_EQ(r.exit_code, 0) << r.page;
        EXPECT_TRUE(contains(r.page, row.page_mark)) << r.page;
        EXPECT_TRUE(contains(r.page, std::string("name=\"KVIINSTANCE\" value=\"") + row.next_counter + "\""));
    }
}

TEST_F(Import, ListsArePagedFiveAtATime) {
    struct row {
        const char* scope;
        fields buttons;
        std::vector<std::string> shown;
        const char* more;  // the more-button's hidden position, or none
    } rows[] = {
        {"Tables", {{"KVISUBMIT", "Apply Scope"}}, {"T0", "T1", "T2", "T3", "T4"}, "KVIMORET\" value=\"5\""},
        {"Tables", {{"KVISUBMIT", "More Tables"}, {"KVIMORET", "5"}}, {"T5", "T6", "T7", "T8", "T9"}, "KVIMORET\" value=\"10\""},
        {"Tables", {{"KVISUBMIT", "More Tables"}, {"KVIMORET", "10"}}, {"T10", "T11"}, nullptr},
        // The position is read only with its more-button.
        {"Tables", {{"KVISUBMIT", "Apply Scope"}, {"KVIMORET", "10"}}, {"T0", "T1", "T2", "T3", "T4"}, "KVIMORET\" value=\"5\""},
        {"Tables", {{"KVISUBMIT", "Reset List"}, {"KVIMORET", "10"}}, {"T0", "T1", "T2", "T3", "T4"}, "KVIMORET\" value=\"5\""},
        // A position outside the list, posted by hand, lists from the start.
        {"Tables", {{"KVISUBMIT", "More Tables"}, {"KVIMORET", "12"}}, {"T0", "T1", "T2", "T3", "T4"}, "KVIMORET\" value=\"5\""},
        {"Tables", {{"KVISUBMIT", "More Tables"}, {"KVIMORET", "-3"}}, {"T0", "T1", "T2", "T3", "T4"}, "KVIMORET\" value=\"5\""},
        // Seven users: the six schemas in reverse order, the exporting user last.
        {"Users", {{"KVISUBMIT", "Apply Scope"}}, {"U0", "U1", "U2", "U3", "U4"}, "KVIMOREU\" value=\"5\""},
        {"Users", {{"KVISUBMIT", "More Users"}, {"KVIMOREU", "5"}}, {"U5", "U6"}, nullptr},
    };
    std::vector<std::pair<std::string, std::vector<std::string>>> schemas;
    for (const char* owner : {"A", "B", "C", "D", "E", "F"}) schemas.push_back({owner, {std::string(owner) + "X"}});
    import_probe_home home({{"expdat.dmp", twelve_tables()}, {"six.dmp", export_file(schemas)}});
    for (const row& row : rows) {
        fields form = with(first_page_fields(home.path(), row.scope), row.buttons);
        if (std::string(row.scope) == "Users") form = with(form, {{"KVIEXPFILE", "six.dmp"}});
        SCOPED_TRACE(form_body(form));
        cgi_result r = post(form, home.path());
        EXPECT_EQ(r.exit_code, 0) << r.page;
        std::string page = form_of(r.page);
        EXPECT_EQ(boxes(page, row.scope[0] == 'T' ? "T" : "U"), row.shown);
        if (row.more) {
            EXPECT_TRUE(contains(page, row.more)) << page;
        }
        EXPECT_EQ(count(page, "value=\"More "), row.more ? 1u : 0u) << page;
        EXPECT_EQ(count(page, "<input type=submit name=\"KVISUBMIT\" value=\"Reset List\">\n"), 1u);
    }
    // The list block as a whole: the box, the target list with the owner first
    // and every other user of the database, the table name.
    cgi_result r = post(with(first_page_fields(home.path(), "Tables"),
                             {{"KVISUBMIT", "More Tables"}, {"KVIMORET", "10"}}),
                        home.path());
    EXPECT_TRUE(contains(r.page,
                         "<br><hr>\n"
                         "Tables:<br>\n"
                         "<p><p><p>\n"
                         "<input type=checkbox name=\"T10\" value=\"T10\">\n"
                         "<select name=\"DT10\"><option value=\"SALES\" selected>SALES\n"
                         "<option value=\"ADAM\">ADAM\n<option value=\"EVE\">EVE\n<option value=\"HR\">HR\n<option value=\"SYSTEM\">SYSTEM\n"
                         "</select>.T10<br>\n"
                         "<input type=checkbox name=\"T11\" value=\"T11\">\n"
                         "<select name=\"DT11\"><option value=\"SALES\" selected>SALES\n"
                         "<option value=\"ADAM\">ADAM\n<option value=\"EVE\">EVE\n<option value=\"HR\">HR\n<option value=\"SYSTEM\">SYSTEM\n"
                         "</select>.T11<br>\n"
                         "<table><tr><td>\n"
                         "<input type=submit name=\"KVISUBMIT\" value=\"Reset List\">\n"
                         "</td></tr></table>\n"
                         "<br><br><hr><br>\n"))
        << r.page;
}

TEST_F(Import, BoxesChosenOnEarlierListPagesAreCarriedAndImported) {
    import_probe_home home({{"expdat.dmp", twelve_tables()}});
    // The next page as a browser asks for it: the page's fields, hidden or
    // not, the boxes checked on it and the button pressed.
    auto next = [&](const std::string& page, const fields& checked, const std::string& button) {
        fields form = with(first_page_fields(home.path(), "Tables"), without(hidden_fields(page), {"KVCTOKEN"}));
        form = with(with(form, checked), {{"KVISUBMIT", button}});
        return form_of(post(form, home.path()).page);
    };
    auto hidden_boxes = [](const std::string& page) {
        std::vector<std::string> out;
        for (const auto& [name, value] : hidden_fields(page))
            if (name.rfind("HT", 0) == 0) out.push_back(name + "=" + value);
        return out;
    };
    std::string first = form_of(post(with(first_page_fields(home.path(), "Tables"), {{"KVISUBMIT", "Apply Scope"}}),
                                     home.path()).page);
    std::string second = next(first, {{"T1", "T1"}, {"T3", "T3"}}, "More Tables");
    EXPECT_EQ(hidden_boxes(second), (std::vector<std::string>{"HT1=T1", "HT3=T3"}));
    std::string third = next(second, {{"T6", "T6"}}, "More Tables");
    EXPECT_EQ(hidden_boxes(third), (std::vector<std::string>{"HT1=T1", "HT3=T3", "HT6=T6"}));
    // Back on the first page the carried boxes are shown checked; one
    // cleared there is gone.
    std::string again = next(third, {{"KVIMORET", "12"}}, "More Tables");
    EXPECT_TRUE(contains(again, "<input type=checkbox name=\"T1\" value=\"T1\" checked>")) << again;
    EXPECT_EQ(hidden_boxes(again), (std::vector<std::string>{"HT6=T6"}));
    std::string last = next(again, {{"T1", "T1"}, {"KVIMORET", "10"}}, "More Tables");
    // The run takes them all, with the box of its own page, and lists them.
    std::string run = next(last, {{"T11", "T11"}}, "Import");
    probe_report probe = read_probe(run);
    std::vector<std::string> tables(std::find(probe.lines.begin(), probe.lines.end(), "TABLES=("), probe.lines.end());
    EXPECT_EQ(tables, (std::vector<std::string>{"TABLES=(", "T1,", "T6,", "T11)"})) << run;
    EXPECT_TRUE(contains(run, "<p>This run imports:</p>\n<ul>\n<li>SALES.T1 &rarr; SALES</li>\n"
                              "<li>SALES.T6 &rarr; SALES</li>\n<li>SALES.T11 &rarr; SALES</li>\n</ul>\n"))
        << run;
}

TEST_F(Import, TargetUsersAreCarriedUntilTheListIsReset) {
    // Table 3 belongs to SALES; the users page lists B, A and SYSTEM. A is no
    // user of the database, yet offered as the default of its own entry.
    const std::string DT3_ADAM = "<select name=\"DT3\"><option value=\"ADAM\" selected>ADAM\n<option value=\"EVE\">EVE\n<option value=\"HR\">HR\n<option value=\"SALES\">SALES\n";
    const std::string DT3_OWNER = "<select name=\"DT3\"><option value=\"SALES\" selected>SALES\n<option value=\"ADAM\">ADAM\n";
    const std::string DT3_EVE = "<select name=\"DT3\"><option value=\"EVE\" selected>EVE\n<option value=\"ADAM\">ADAM\n<option value=\"HR\">HR\n";
    struct row {
        const char* what;
        const char* scope;
        fields posted;
        std::string shown;                    // part of the list block
        std::vector<std::string> carried;     // HDT and HDU fields, in order
    } rows[] = {
        {"a target other than the owner is shown first and carried", "Tables", {{"DT3", "ADAM"}}, DT3_ADAM,
         {"HDT3=ADAM"}},
        {"the owner itself is no choice", "Tables", {{"DT3", "SALES"}}, DT3_OWNER, {}},
        {"a carried target stands while the page's choice is the owner", "Tables",
         {{"DT3", "SALES"}, {"HDT3", "EVE"}}, DT3_EVE, {"HDT3=EVE"}},
        {"this page's choice wins over the carried one", "Tables", {{"DT3", "ADAM"}, {"HDT3", "EVE"}}, DT3_ADAM,
         {"HDT3=ADAM"}},
        {"a target carried from another page stays", "Tables", {{"HDT7", "EVE"}, {"HDU1", "HR"}}, DT3_OWNER,
         {"HDT7=EVE", "HDU1=HR"}},
        {"the reset drops the tables' targets, not the users'", "Tables",
         {{"KVISUBMIT", "Reset List"}, {"DT3", "ADAM"}, {"HDT7", "EVE"}, {"HDU1", "HR"}}, DT3_OWNER, {"HDU1=HR"}},
        {"a user's target", "Users", {{"DU1", "ADAM"}},
         "<select name=\"DU1\"><option value=\"ADAM\" selected>ADAM\n<option value=\"EVE\">EVE\n<option value=\"HR\">HR\n<option value=\"SALES\">SALES\n<option value=\"SYSTEM\">SYSTEM\n"
         "</select><br>\n",
         {"HDU1=ADAM"}},
        {"the reset on the users page drops the users' targets", "Users",
         {{"KVISUBMIT", "Reset List"}, {"DU1", "ADAM"}, {"HDU1", "EVE"}, {"HDT1", "EVE"}},
         "<input type=checkbox name=\"U1\" value=\"A\">\n"
         "<select name=\"DU1\"><option value=\"A\" selected>A\n<option value=\"ADAM\">ADAM\n<option value=\"EVE\">EVE\n<option value=\"HR\">HR\n<option value=\"SALES\">SALES\n"
         "<option value=\"SYSTEM\">SYSTEM\n</select><br>\n",
         {"HDT1=EVE"}},
    };
    import_probe_home home({{"expdat.dmp", twelve_tables()}, {"ab.dmp", export_file({{"A", {"X"}}, {"B", {"Y"}}})}});
    for (const row& row : rows) {
        SCOPED_TRACE(row.what);
        fields form = with(with(first_page_fields(home.path(), row.scope), {{"KVISUBMIT", "Apply Scope"}}), row.posted);
        if (std::string(row.scope) == "Users") form = with(form, {{"KVIEXPFILE", "ab.dmp"}});
        cgi_result r = post(form, home.path());
        EXPECT_EQ(r.exit_code, 0) << r.page;
        std::string page = form_of(r.page);
        EXPECT_TRUE(contains(page, row.shown)) << page;
        std::vector<std::string> carried;
        for (const auto& [name, value] : hidden_fields(page))
            if (name.rfind("HD", 0) == 0) carried.push_back(name + "=" + value);
        EXPECT_EQ(carried, row.carried);
    }
}

TEST_F(Import, AdvancedPageShowsThePostedOrTheDefaultOptions) {
    import_probe_home home;
    const std::string& h = home.path();
    // Reached from a users page: the targets chosen there travel on.
    fields posted = with(first_page_fields(h, "Users"),
                         {{"KVIINSTANCE", "2"}, {"KVIRECLEN", "512"}, {"KVIBUFSIZ", "64"}, {"KVILOGFILE", "on"},
                          {"KVIINCTYPE", "Restore"}, {"KVICOMMIT", "on"}, {"KVIIGNORE", "on"}, {"DU1", "ADAM"}});
    posted = without(posted, {"KVIINDEXESCB"});
    const std::string carried =
        "<input type=hidden name=\"KVIEXPFILE\" value=\"expdat.dmp\">\n"
        "<input type=hidden name=\"KVIGRANTSCB\" value=\"1\">\n"
        "<input type=hidden name=\"KVIROWSCB\" value=\"1\">\n"
        "<input type=hidden name=\"KVISELECTOPTS\" value=\"Users\">\n"
        "<input type=hidden name=\"HDU1\" value=\"ADAM\">\n"
        "<input type=hidden name=\"KVIINSTANCE\" value=\"3\">\n"
        "</form>\n";
    struct row {
        const char* button;
        std::string block;
    } rows[] = {
        {"Advanced Options",
         "<input type=text name=\"KVIRECLEN\" size=4 value=\"512\">bytes\n"
         "</td></tr><tr><td>Buffer size</td><td></td><td>\n"
         "<input type=text name=\"KVIBUFSIZ\" size=4 value=\"64\">bytes</td></tr>\n"
         "<tr><td><label><input type=checkbox name=\"KVILOGFILE\" checked>Write a log file</label></td><td></td><td>\n"
         "<input type=text name=\"KVILOGFILENAME\" size=40 value=\"" + h + "/export/export.log\">\n"
         "</td></tr></table>\n"
         "<br>Incremental type:\n"
         "<br><label><input type=radio name=\"KVIINCTYPE\" value=\"None\">None</label>\n"
         "<label><input type=radio name=\"KVIINCTYPE\" value=\"System\">System</label>\n"
         "<label><input type=radio name=\"KVIINCTYPE\" value=\"Restore\" checked>Restore</label><br><br>\n"
         "<label><input type=checkbox name=\"KVIINDEXFILE\">Write index statements to a file</label>\n"
         "<table><tr><td><pre>                   </pre></td><td>\n"
         "<input type=text name=\"KVIINDEXFILENAME\" size=40 value=\"" + h + "/export/index.sql\">\n"
         "</td></tr></table>\n"
         "<br><label><input type=checkbox name=\"KVICOMMIT\" checked>Commit after each buffer</label><br>\n"
         "<br><label><input type=checkbox name=\"KVIDESTROY\">Reuse existing data files</label><br>\n"
         "<br><label><input type=checkbox name=\"KVIIGNORE\" checked>Ignore creation errors</label><br>\n"},
        // The defaults keep the export file, the scope and the object types.
        {"Reset Defaults",
         "<input type=text name=\"KVIRECLEN\" size=4 value=\"1024\">bytes\n"
         "</td></tr><tr><td>Buffer size</td><td></td><td>\n"
         "<input type=text name=\"KVIBUFSIZ\" size=4 value=\"4096\">bytes</td></tr>\n"
         "<tr><td><label><input type=checkbox name=\"KVILOGFILE\">Write a log file</label> </td><td></td><td>\n"
         "<input type=text name=\"KVILOGFILENAME\" size=40 value=\"" + h + "/export/export.log\">\n"
         "</td></tr></table>\n"
         "<br>Incremental type:\n"
         "<br><label><input type=radio name=\"KVIINCTYPE\" value=\"None\" checked>None</label>\n"
         "<label><input type=radio name=\"KVIINCTYPE\" value=\"System\">System</label>\n"
         "<label><input type=radio name=\"KVIINCTYPE\" value=\"Restore\">Restore</label><br><br>\n"
         "<label><input type=checkbox name=\"KVIINDEXFILE\">Write index statements to a file</label>\n"
         "<table><tr><td><pre>                   </pre></td><td>\n"
         "<input type=text name=\"KVIINDEXFILENAME\" size=40 value=\"" + h + "/export/index.sql\">\n"
         "</td></tr></table>\n"
         "<br><label><input type=checkbox name=\"KVICOMMIT\">Commit after each buffer</label><br>\n"
         "<br><label><input type=checkbox name=\"KVIDESTROY\">Reuse existing data files</label><br>\n"
         "<br><label><input type=checkbox name=\"KVIIGNORE\">Ignore creation errors</label><br>\n"},
    };
    for (const row& row : rows) {
        SCOPED_TRACE(row.button);
        cgi_result r = post(with(posted, {{"KVISUBMIT", row.button}}), h);
        EXPECT_EQ(r.exit_code, 0) << r.page;
        EXPECT_EQ(form_of(r.page), FORM_OPENING +
                                       "<p><p><table><tr>\n"
                                       "<td>Record length</td><td><pre> </pre></td><td>\n" +
                                       row.block +
                                       "<p><p><p><table><tr><td>\n"
                                       "<input type=submit name=\"KVISUBMIT\" value=\"Accept Options\">\n"
                                       "</td><td><pre> </pre></td><td>\n"
                                       "<input type=submit name=\"KVISUBMIT\" value=\"Reset Defaults\">\n"
                                       "</td></tr></table>\n" +
                                       carried);
        EXPECT_TRUE(has_page_bottom(r.page));
    }

    // Accepting the options returns to the users page from its first entry,
    // the target chosen before still shown.
    cgi_result advanced = post(with(posted, {{"KVISUBMIT", "Advanced Options"}}), h);
    fields back = hidden_fields(form_of(advanced.page));
    back.emplace_back("KVIRECLEN", "512");
    back.emplace_back("KVIBUFSIZ", "64");
    back.emplace_back("KVISUBMIT", "Accept Options");
    cgi_result r = post(back, h);
    EXPECT_EQ(r.exit_code, 0) << r.page;
    EXPECT_EQ(boxes(r.page, "U"), (std::vector<std::string>{"U0", "U1", "U2"}));
    EXPECT_TRUE(contains(r.page, "<select name=\"DU1\"><option value=\"ADAM\" selected>ADAM\n")) << r.page;
    EXPECT_TRUE(contains(r.page, "<input type=hidden name=\"KVIRECLEN\" value=\"512\">\n"));
}

TEST_F(Import, ParameterFileHoldsExactlyTheChosenLines) {
    // The demo's export file: tables 0 to 3 are SALES's ORDERS, PRODUCTS,
    // CUSTOMERS and REGIONS, 4 and 5 HR's STAFF and DEPARTMENTS; the users
    // SALES, HR, SYSTEM.
    const std::string tables = "Tables", users = "Users";
    struct row {
        fields change;
        std::vector<std::string> drop;
        std::vector<std::string> lines;  // after the login and FILE= lines
    } rows[] = {
        {{}, {}, {"BUFFER=4096", "RECORDLENGTH=1024", "FULL=Y"}},
        {{{"KVILOGFILE", "on"}, {"KVIINDEXFILE", "on"}, {"KVICOMMIT", "on"}, {"KVIDESTROY", "on"}, {"KVIIGNORE", "on"}},
         {"KVIGRANTSCB", "KVIINDEXESCB", "KVIROWSCB"},
         {"LOG=@/export/export.log", "INDEXFILE=@/export/index.sql", "BUFFER=4096", "RECORDLENGTH=1024", "COMMIT=Y",
          "GRANTS=N", "INDEXES=N", "ROWS=N", "DESTROY=Y", "IGNORE=Y", "FULL=Y"}},
        {{{"KVIINCTYPE", "System"}, {"KVIBUFSIZ", "9999"}}, {}, {"BUFFER=9999", "RECORDLENGTH=1024", "INCTYPE=SYSTEM", "FULL=Y"}},
        {{{"KVIINCTYPE", "Restore"}}, {}, {"BUFFER=4096", "RECORDLENGTH=1024", "INCTYPE=RESTORE", "FULL=Y"}},
        {{{"KVISELECTOPTS", tables}, {"T0", "ORDERS"}, {"DT0", "ADAM"}, {"T2", "CUSTOMERS"}, {"DT2", "ADAM"}, {"DT1", "HR"}},
         {},
         {"BUFFER=4096", "RECORDLENGTH=1024", "FROMUSER=(", "SALES)", "TOUSER=(", "ADAM)", "TABLES=(", "ORDERS,",
          "CUSTOMERS)"}},
        // Two owners into one user: each source keeps its partner.
        {{{"KVISELECTOPTS", tables}, {"T0", "ORDERS"}, {"DT0", "EVE"}, {"T4", "STAFF"}, {"DT4", "EVE"}, {"T3", "REGIONS"},
          {"DT3", "EVE"}},
         {},
         {"BUFFER=4096", "RECORDLENGTH=1024", "FROMUSER=(", "SALES,", "HR)", "TOUSER=(", "EVE,", "EVE)", "TABLES=(",
          "ORDERS,", "REGIONS,", "STAFF)"}},
        {{{"KVISELECTOPTS", tables}, {"T0", "ORDERS"}, {"DT0", "SALES"}, {"T3", "REGIONS"}, {"DT3", "SALES"},
          {"T4", "STAFF"}, {"DT4", "HR"}},
         {},
         {"BUFFER=4096", "RECORDLENGTH=1024", "FROMUSER=(", "SALES,", "HR)", "TOUSER=(", "SALES,", "HR)", "TABLES=(",
          "ORDERS,", "REGIONS,", "STAFF)"}},
        // A checked box posted without its target user goes to the default.
        {{{"KVISELECTOPTS", tables}, {"T5", "DEPARTMENTS"}},
         {},
         {"BUFFER=4096", "RECORDLENGTH=1024", "FROMUSER=(", "HR)", "TOUSER=(", "HR)", "TABLES=(", "DEPARTMENTS)"}},
        {{{"KVISELECTOPTS", users}, {"U1", "HR"}}, {}, {"BUFFER=4096", "RECORDLENGTH=1024", "FROMUSER=(", "HR)", "TOUSER=(", "HR)"}},
        {{{"KVISELECTOPTS", users}, {"U0", "SALES"}, {"DU0", "ADAM"}, {"U2", "SYSTEM"}, {"DU2", "EVE"}},
         {},
         {"BUFFER=4096", "RECORDLENGTH=1024", "FROMUSER=(", "SALES,", "SYSTEM)", "TOUSER=(", "ADAM,", "EVE)"}},
        // One table name under two owners is named once.
        {{{"KVIEXPFILE", "twins.dmp"}, {"KVISELECTOPTS", tables}, {"T0", "T"}, {"T1", "T"}},
         {},
         {"BUFFER=4096", "RECORDLENGTH=1024", "FROMUSER=(", "B,", "A)", "TOUSER=(", "B,", "A)", "TABLES=(", "T)"}},
        // Names that need quotes carry them; a comma inside them splits nothing.
        {{{"KVIEXPFILE", "quoted.dmp"}, {"KVISELECTOPTS", tables}, {"T0", "x,y"}, {"DT0", "a,b"}, {"T1", "a b"},
          {"DT1", "a,b"}},
         {},
         {"BUFFER=4096", "RECORDLENGTH=1024", "FROMUSER=(", "\"lower\")", "TOUSER=(", "\"a,b\")", "TABLES=(",
          "\"x,y\",", "\"a b\")"}},
    };
    for (const row& row : rows) {
        import_probe_home home({{"expdat.dmp", import_probe_home::demo_export()},
                         {"twins.dmp", export_file({{"A", {"T"}}, {"B", {"T"}}})},
                         {"quoted.dmp", export_file({{"lower", {"a b", "x,y"}}})}});
        const std::string& h = home.path();
        fields form = without(with(first_page_fields(h), row.change), row.drop);
        form = with(form, {{"KVISUBMIT", "Import"}});
        SCOPED_TRACE(form_body(form));
        cgi_result r = post(form, h);
        EXPECT_EQ(r.exit_code, 0) << r.page;
        probe_report probe = read_probe(r.page);
        std::string file = std::find_if(form.begin(), form.end(), [](const auto& f) { return f.first == "KVIEXPFILE"; })->second;
        std::vector<std::string> expected = {"system/demo", "FILE=" + h + "/export/" + file};
        for (std::string line : row.lines) {
            if (line.find('@') != std::string::npos) line.replace(line.find('@'), 1, h);
            expected.push_back(line);
        }
        EXPECT_EQ(probe.lines, expected);
        expect_started_plainly(probe, h, "imppar");
        EXPECT_EQ(parameter_files(h), std::vector<std::string>{});
        // What the run imports is listed first, then the utility speaks.
        EXPECT_TRUE(contains(form_of(r.page), FORM_OPENING + "<p><p><p>\n<p>This run imports")) << r.page;
        EXPECT_TRUE(contains(r.page, "\n<pre>argument:")) << r.page;
        EXPECT_TRUE(contains(r.page, "</pre>\n</form>\n<hr width=100%>")) << r.page;
    }
}

TEST_F(Import, UtilityThatCannotStartIsReportedInsideThePage) {
    import_probe_home home({{"expdat.dmp", import_probe_home::demo_export()}}, false);
    cgi_result r = post(with(first_page_fields(home.path()), {{"KVISUBMIT", "Import"}}), home.path());
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(form_of(r.page), FORM_OPENING +
                                   "<p><p><p>\n"
                                   "<p>This run imports the whole export file.</p>\n"
                                   "<pre>Failed to communicate with import tool through pipe!\n</pre>\n"
                                   "</form>\n");
    EXPECT_TRUE(has_page_bottom(r.page));
    EXPECT_EQ(parameter_files(home.path()), std::vector<std::string>{});
}

TEST_F(Import, TablesOfSalesAndHrAreImportedIntoAnotherUser) {
    const std::string tables[] = {"PRODUCTS", "REGIONS", "DEPARTMENTS"};
    for (const auto& table : tables) query("DROP TABLE ADAM." + table);
    // PRODUCTS and REGIONS are SALES's tables 1 and 3 of the demo's export
    // file, DEPARTMENTS HR's table 5: two owners into one user.
    fields form = with(first_page_fields(test_home(), "Tables"),
                       {{"KVISUBMIT", "Import"}, {"T1", "PRODUCTS"}, {"DT1", "ADAM"}, {"T3", "REGIONS"}, {"DT3", "ADAM"},
                        {"T5", "DEPARTMENTS"}, {"DT5", "ADAM"}, {"DT0", "EVE"}, {"KVIIGNORE", "on"}});
    cgi_result r = post(form);
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_TRUE(contains(r.page, "<pre>Connected to instance PROD as SYSTEM.\n")) << r.page;
    for (const auto& table : tables)
        EXPECT_TRUE(contains(r.page, ". . importing table " + table + " into ADAM ")) << r.page;
    EXPECT_FALSE(contains(r.page, "ORDERS")) << "only the checked tables";
    EXPECT_TRUE(contains(r.page, "Import terminated successfully.\n</pre>\n</form>\n"));
    EXPECT_TRUE(has_page_bottom(r.page));
    for (const auto& table : tables) {
        std::string source = (table == "DEPARTMENTS" ? "HR." : "SALES.") + table;
        EXPECT_EQ(query("SELECT COUNT(*) FROM ADAM." + table), query("SELECT COUNT(*) FROM " + source)) << table;
        query("DROP TABLE ADAM." + table);
    }
    // The owners' own tables kept their rows: nothing was added to them.
    EXPECT_EQ(query("SELECT COUNT(*) FROM SALES.REGIONS"), "8\n");
    EXPECT_EQ(query("SELECT COUNT(*) FROM HR.DEPARTMENTS"), "6\n");
    EXPECT_EQ(parameter_files(test_home()), std::vector<std::string>{});
}

TEST_F(Import, AnImportEndedByTheAdministratorEndsItsPageAndKeepsTheTablesItFinished) {
    struct ending {
        const char* how;
        std::function<bool(const std::string& session)> end;
    } endings[] = {
        {"vdbadm kill", [](const std::string& session) { return vdbadm({"kill", "PROD", session}); }},
        {"Session Manager",
         [](const std::string& session) {
             return contains(end_session_from_manager(session).page, "<P><B>1 sessions were ended.</B>");
         }},
    };
    // REGIONS comes before ORDERS, the demo's table of 100,000 rows, in the file.
    fields form = with(first_page_fields(test_home(), "Tables"),
                       {{"KVISUBMIT", "Import"}, {"T3", "REGIONS"}, {"DT3", "ADAM"}, {"T0", "ORDERS"}, {"DT0", "ADAM"}});
    for (const ending& e : endings) {
        SCOPED_TRACE(e.how);
        for (const auto* table : {"REGIONS", "ORDERS"}) query(std::string("DROP TABLE ADAM.") + table);
        cgi_result r;
        std::thread page([&] { r = post(form); });
        std::string session = await_session("PROD", "dbload", "importing ADAM.ORDERS: ");
        EXPECT_NE(session, "");
        EXPECT_TRUE(e.end(session));
        page.join();
        EXPECT_EQ(r.exit_code, 0);
        EXPECT_TRUE(contains(r.page, ". . importing table REGIONS into ADAM 8 rows imported\n")) << r.page;
        EXPECT_TRUE(contains(r.page, ". . table ORDERS into ADAM was rolled back: no rows were kept\n"
                                     ". tables imported in full: ADAM.REGIONS\n")) << r.page;
        // The page ends after the utility's last line, with the block of a run that did not complete.
        EXPECT_TRUE(contains(r.page, "dbload: stopped: the session was ended by an administrator.\n</pre>\n<H3>KVI-5048:</H3>"))
            << r.page;
        EXPECT_TRUE(has_page_bottom(r.page));
        EXPECT_EQ(parameter_files(test_home()), std::vector<std::string>{});
        EXPECT_EQ(query("SELECT COUNT(*) FROM ADAM.REGIONS"), "8\n");
        EXPECT_EQ(query("SELECT COUNT(*) FROM ADAM.ORDERS"), "0\n");
    }
    for (const auto* table : {"REGIONS", "ORDERS"}) query(std::string("DROP TABLE ADAM.") + table);
}

TEST_F(Import, ValuesAreWrittenAsTextNeverAsMarkup) {
    const std::string hostile = "\"><script>alert(1)</script>";
    const std::string escaped = "&quot;&gt;&lt;script&gt;alert(1)&lt;/script&gt;";
    struct row {
        fields form;
    } rows[] = {
        {{{"KVISUBMIT", "Apply Scope"}, {"KVISELECTOPTS", "Tables"}, {"DT0", hostile}, {"HDT1", hostile},
          {"KVILOGFILENAME", hostile}, {"KVIINCTYPE", hostile}}},
        {{{"KVISUBMIT", "Apply Scope"}, {"KVISELECTOPTS", "Users"}, {"DU0", hostile}, {"KVIEXPFILE", "\"><script>"}}},
        {{{"KVISUBMIT", "Advanced Options"}, {"KVISELECTOPTS", hostile}, {"KVILOGFILENAME", hostile},
          {"KVIINDEXFILENAME", hostile}, {"HDU0", hostile}}},
    };
    // A file name and a table name of the export file are values too.
    import_probe_home home({{"expdat.dmp", export_file({{"SALES", {"<script>x</script>"}}})},
                     {"\"><script>", export_file({{"HR", {"T"}}})}});
    for (const row& row : rows) {
        fields form = with(first_page_fields(home.path()), row.form);
        SCOPED_TRACE(form_body(form));
        cgi_result r = post(form, home.path());
        EXPECT_FALSE(contains(r.page, "<script>")) << r.page;
        EXPECT_TRUE(contains(r.page, "&lt;script&gt;")) << r.page;
    }
    cgi_result r = post(with(first_page_fields(home.path(), "Tables"), {{"KVISUBMIT", "Apply Scope"}, {"DT0", hostile}}),
                        home.path());
    EXPECT_TRUE(contains(r.page, "<option value=\"&quot;&gt;&lt;script&gt;\">&quot;&gt;&lt;script&gt;\n")) << r.page;
    EXPECT_TRUE(contains(r.page, "<select name=\"DT0\"><option value=\"" + escaped + "\" selected>" + escaped + "\n")) << r.page;
    EXPECT_TRUE(contains(r.page, "<input type=hidden name=\"HDT0\" value=\"" + escaped + "\">")) << r.page;
    EXPECT_TRUE(contains(r.page, "value=\"&lt;script&gt;x&lt;/script&gt;\">")) << r.page;
}
