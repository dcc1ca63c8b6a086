// Names that need quotes, carried from the export tool's lists through the
// export utility into an export file and back through the import tool and the
// import utility, against an instance of the test's own; and runs that miss a
// table, which must not end their page as a success.
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/cgi_run.h"
#include "support/form_post.h"

namespace fs = std::filesystem;

namespace {

using fields = form_fields;

// An attribute value as the browser reads it: named and numbered entities.
std::string unescaped(const std::string& text) {
    std::string out;
    for (size_t at = 0; at < text.size();) {
        size_t end = text[at] == '&' ? text.find(';', at) : std::string::npos;
        if (end == std::string::npos) {
            out += text[at++];
            continue;
        }
        std::string entity = text.substr(at + 1, end - at - 1);
        static const std::map<std::string, char> named = {{"quot", '"'}, {"amp", '&'}, {"lt", '<'}, {"gt", '>'}};
        out += entity[0] == '#' ? static_cast<char>(std::stoi(entity.substr(1))) : named.at(entity);
        at = end + 1;
    }
    return out;
}

// The check boxes of a page whose names begin with prefix: name to value, as
// the browser posts them.
std::map<std::string, std::string> box_values(const std::string& page, const std::string& prefix) {
    std::map<std::string, std::string> out;
    const std::string open = "<input type=checkbox name=\"" + prefix, middle = "\" value=\"";
    for (size_t at = page.find(open); at != std::string::npos; at = page.find(open, at + 1)) {
        size_t name = at + open.size() - prefix.size(), value = page.find(middle, name);
        size_t end = page.find('"', value + middle.size());
        out[page.substr(name, value - name)] = unescaped(page.substr(value + middle.size(), end - value - middle.size()));
    }
    return out;
}

// The box of a list whose value is value; "" when the page has none.
std::string box_of(const std::map<std::string, std::string>& boxes, const std::string& value) {
    for (const auto& [name, posted] : boxes)
        if (posted == value) return name;
    return "";
}

std::string read_text(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// A home with an instance PROD of its own: a user HR with tables whose names
// need quotes, a user "lower" whose name does, and the target user COPY.
class own_instance_home : public scratch_home {
public:
    own_instance_home() {
        remove("dbs");
        run({"create", "PROD", "--password", "demo"});
        for (const char* statement :
             {"CREATE USER HR IDENTIFIED BY demo", "CREATE USER \"lower\" IDENTIFIED BY demo",
              "CREATE USER COPY IDENTIFIED BY demo", "CREATE TABLE HR.\"a b\" (ID NUMBER)",
              "INSERT INTO HR.\"a b\" VALUES (1)", "INSERT INTO HR.\"a b\" VALUES (2)",
              "CREATE TABLE HR.\"x,y\" (ID NUMBER)", "CREATE TABLE HR.PLAIN (ID NUMBER)",
              "CREATE TABLE \"lower\".\"MiXed\" (N NUMBER)", "INSERT INTO \"lower\".\"MiXed\" VALUES (7)"})
            run({"sql", "PROD", "system/demo", statement});
    }

    // vdbadm on this home: its output and errors.
    std::string run(std::vector<std::string> args) const {
        args.insert(args.begin(), {"vdbadm", "--home", path()});
        cgi_result r = run_cgi(test_home() + "/bin/vdbadm", args, {});
        EXPECT_EQ(r.exit_code, 0) << r.errors;
        return r.page + r.errors;
    }
    std::string query(const std::string& statement) const { return run({"sql", "PROD", "system/demo", statement}); }

    cgi_result post(const std::string& program, const fields& form) const { return post_form(program, form, path()); }
};

fields export_fields(const std::string& home, const std::string& scope, const std::string& file) {
    return {{"KVEINSTANCE", "1"},       {"KVEEXPFILE", home + "/export/" + file}, {"KVESELECTOPTS", scope},
            {"KVEGRANTSCB", "on"},      {"KVEINDEXESCB", "on"},                   {"KVEROWSCB", "on"},
            {"KVECONSTRAINTSCB", "on"}, {"KVERECLEN", "1024"},                    {"KVEBUFSIZ", "4096"},
            {"KVEINCTYPE", "None"},     {"KVERECINC", "1"},                       {"KVESTATTYPE", "None"},
            {"KVECOMPRESS", "1"}};
}

fields import_fields(const std::string& scope, const std::string& file) {
    return {{"KVIINSTANCE", "1"}, {"KVIEXPFILE", file},   {"KVISELECTOPTS", scope}, {"KVIGRANTSCB", "on"},
            {"KVIINDEXESCB", "on"}, {"KVIROWSCB", "on"}, {"KVIRECLEN", "1024"},     {"KVIBUFSIZ", "4096"},
            {"KVIINCTYPE", "None"}};
}

// The block after the utility's output, with its help link.
std::string end_block(const std::string& tool, int number) {
    std::string id = tool + "-" + std::to_string(number);
    return "</pre>\n<H3>" + id + ":</H3><P><STRONG>";
}
std::string help_anchor(const std::string& tool, int number) {
    std::string lower = tool == "KVE" ? "kve" : "kvi";
    return "error.htm#" + lower + std::to_string(number) + "\"";
}

}  // namespace

TEST(RoundTrip, NamesThatNeedQuotesTravelFromTheListsToTheImportedTables) {
    own_instance_home home;
    const std::string& h = home.path();

    // The export tool's lists carry each name as the utility reads it back.
    cgi_result tables_page = home.post("nph-kve", with_fields(export_fields(h, "Tables", "quoted.dmp"),
                                                              {{"KVESUBMIT", "Apply Scope"}}));
    auto table_boxes = box_values(tables_page.page, "T");
    for (const char* value : {"HR.\"a b\"", "HR.\"x,y\"", "HR.PLAIN", "\"lower\".\"MiXed\""})
        EXPECT_NE(box_of(table_boxes, value), "") << value << "\n" << tables_page.page;
    cgi_result users_page = home.post("nph-kve", with_fields(export_fields(h, "Users", "quoted.dmp"),
                                                             {{"KVESUBMIT", "Apply Scope"}}));
    std::string lower_box = box_of(box_values(users_page.page, "U"), "\"lower\"");
    EXPECT_NE(lower_box, "") << users_page.page;

    // Those values, posted back, export exactly those tables.
    fields run = with_fields(export_fields(h, "Tables", "quoted.dmp"), {{"KVESUBMIT", "Export"}});
    for (const char* value : {"HR.\"a b\"", "HR.\"x,y\"", "\"lower\".\"MiXed\""})
        run.emplace_back(box_of(table_boxes, value), value);
    cgi_result exported = home.post("nph-kve", run);
    EXPECT_TRUE(contains(exported.page, "Export terminated successfully.\n</pre>\n</form>\n")) << exported.page;
    std::string dump = read_text(h + "/export/quoted.dmp");
    for (const char* part : {"CREATE TABLE \"a b\"", "CREATE TABLE \"x,y\"", "\nCONNECT lower\n", "CREATE TABLE \"MiXed\""})
        EXPECT_TRUE(contains(dump, part)) << part << "\n" << dump;
    EXPECT_FALSE(contains(dump, "PLAIN"));

    // The user list's value exports the user's schema.
    cgi_result by_user = home.post("nph-kve", with_fields(export_fields(h, "Users", "lower.dmp"),
                                                          {{"KVESUBMIT", "Export"}, {lower_box, "\"lower\""}}));
    EXPECT_TRUE(contains(by_user.page, "Export terminated successfully.")) << by_user.page;
    EXPECT_TRUE(contains(read_text(h + "/export/lower.dmp"), "CREATE TABLE \"MiXed\""));

    // The import tool finds them in the file, each under its true owner; HR's
    // tables go to "lower", and "lower"'s own to COPY.
    cgi_result import_page = home.post("nph-kvi", with_fields(import_fields("Tables", "quoted.dmp"),
                                                              {{"KVISUBMIT", "Apply Scope"}}));
    auto import_boxes = box_values(import_page.page, "T");
    fields import_run = with_fields(import_fields("Tables", "quoted.dmp"), {{"KVISUBMIT", "Import"}});
    for (auto [table, target] : {std::pair{"a b", "lower"}, {"x,y", "lower"}, {"MiXed", "COPY"}}) {
        std::string box = box_of(import_boxes, table);
        ASSERT_NE(box, "") << table << "\n" << import_page.page;
        import_run.emplace_back(box, table);
        import_run.emplace_back("D" + box, target);
    }
    cgi_result imported = home.post("nph-kvi", import_run);
    EXPECT_TRUE(contains(imported.page, "Import terminated successfully.\n</pre>\n</form>\n")) << imported.page;
    EXPECT_EQ(home.query("SELECT COUNT(*) FROM \"lower\".\"a b\""), "2\n");
    EXPECT_EQ(home.query("SELECT COUNT(*) FROM \"lower\".\"x,y\""), "0\n");
    EXPECT_EQ(home.query("SELECT N FROM COPY.\"MiXed\""), "7\n");
}

TEST(RoundTrip, RunsThatMissATableEndWithAWarningOrAFailure) {
    own_instance_home home;
    const std::string& h = home.path();
    const std::string dump = h + "/export/missed.dmp";

    // One table found, one gone: the file holds the one, the page warns.
    fields run = with_fields(export_fields(h, "Tables", "missed.dmp"),
                             {{"KVESUBMIT", "Export"}, {"T0", "HR.\"a b\""}, {"T1", "HR.\"gone\""}});
    cgi_result warned = home.post("nph-kve", run);
    EXPECT_TRUE(contains(warned.page, ". . table HR.\"gone\" was not found")) << warned.page;
    EXPECT_TRUE(contains(warned.page, end_block("KVE", 4074))) << warned.page;
    EXPECT_TRUE(contains(warned.page, help_anchor("KVE", 4074)));
    EXPECT_TRUE(has_page_bottom(warned.page));
    EXPECT_TRUE(contains(read_text(dump), "CREATE TABLE \"a b\""));

    // None found: nothing to export, and the file of the earlier run stays.
    std::string before = read_text(dump);
    cgi_result failed = home.post("nph-kve", with_fields(export_fields(h, "Tables", "missed.dmp"),
                                                         {{"KVESUBMIT", "Export"}, {"KVEWARNING", "1"},
                                                          {"T0", "HR.\"gone\""}, {"T1", "\"a b\""}}));
    EXPECT_TRUE(contains(failed.page, end_block("KVE", 4075))) << failed.page;
    EXPECT_TRUE(contains(failed.page, help_anchor("KVE", 4075)));
    EXPECT_EQ(read_text(dump), before);

    // An import of a table the file does not hold warns as well.
    cgi_result missing = home.post("nph-kvi", with_fields(import_fields("Tables", "missed.dmp"),
                                                          {{"KVISUBMIT", "Import"}, {"KVIIGNORE", "on"},
                                                           {"T0", "not there"}}));
    EXPECT_TRUE(contains(missing.page, ". . table \"not there\" was not found")) << missing.page;
    EXPECT_TRUE(contains(missing.page, end_block("KVI", 5047))) << missing.page;
    EXPECT_TRUE(contains(missing.page, help_anchor("KVI", 5047)));
    EXPECT_TRUE(has_page_bottom(missing.page));
}
