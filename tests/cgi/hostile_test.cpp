// Hostile requests against the five installed programs: markup in the values
// a page writes back, statement text in tablespace and data file names, line
// and list breaks in the values that reach a parameter file, export file names
// that leave the export directory, tampered login cookies, a CONTENT_LENGTH
// that lies and a 10 MB body. Whatever comes in, the program ends with a page
// and exit code 0 or 3, and leaves no file and no change in the database
// behind.
#include <algorithm>
#include <cctype>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/cgi_run.h"
#include "support/form_post.h"

namespace fs = std::filesystem;

namespace {

// ---- what every hostile request must leave ----------------------------------------------

// The database and the directories a request could write to, as they stand.
struct footprint {
    std::string dictionary;
    std::map<std::string, std::vector<std::string>> files;
};

footprint footprint_of(const std::vector<std::string>& directories) {
    footprint f{dictionary_snapshot(), {}};
    for (const std::string& dir : directories) f.files[dir] = directory_entries(dir);
    return f;
}

// Runs a hostile request (with a body of its own, when given) and checks that
// it ended with a page and left the database, the test home's export and
// instance directories and the watched ones as they were.
cgi_result expect_contained(const tool_request& r, const std::vector<std::string>& watched = {},
                            const std::optional<std::string>& body = std::nullopt) {
    std::vector<std::string> directories = {test_home() + "/export", test_home() + "/dbs"};
    directories.insert(directories.end(), watched.begin(), watched.end());
    footprint before = footprint_of(directories);
    cgi_result result = body ? run_request(r, *body) : run_request(r);
    EXPECT_EQ(page_defect(r, result), "");
    footprint after = footprint_of(directories);
    EXPECT_EQ(after.dictionary, before.dictionary);
    EXPECT_EQ(after.files, before.files);
    return result;
}

std::string tail(const std::string& page) { return page.substr(page.size() > 400 ? page.size() - 400 : 0); }

// ---- markup --------------------------------------------------------------------------------

// Text that becomes a script element, or an event attribute of the tag it
// lands in, wherever a page writes it unescaped: inside a quoted or an
// unquoted attribute, or as text. No "/" in it: the tablespace tool keeps only
// the last part of a path.
const std::string PAYLOAD = "x\" onmouseover=alert(1) y='<script>alert(2)";
const std::string PAYLOAD_SHOWN = "&lt;script&gt;alert(2)";

bool space(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f'; }

// What the payload added to the markup of a page: a script element, or an
// attribute of its own. A tag's attributes are read as a browser reads them:
// a value is quoted only when a quote follows its equals sign.
std::string injected_markup(const std::string& page) {
    std::string text = page;
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
    if (contains(text, "<script")) return "a script element";
    for (size_t at = text.find('<'); at != std::string::npos; at = text.find('<', at + 1)) {
        if (!std::isalpha(static_cast<unsigned char>(text[at + 1]))) continue;
        std::string word;
        for (size_t i = at + 1; i < text.size() && text[i] != '>'; ++i) {
            char c = text[i];
            if ((c == '"' || c == '\'') && word.ends_with("=")) {
                size_t close = text.find(c, i + 1);
                if (close == std::string::npos) break;
                i = close;
                word += "value";
            } else if (space(c)) {
                if (word.starts_with("onmouseover")) return "an attribute in " + page.substr(at, 120);
                word.clear();
            } else {
                word += c;
            }
        }
        if (word.starts_with("onmouseover")) return "an attribute in " + page.substr(at, 120);
    }
    return "";
}

enum class part { form, cookie, server };

// A request of each page that writes back what it was given. The launcher's
// and the backup tool's are those that change nothing.
tool_request page_request(const std::string& page) {
    if (page == "kvla" || page == "nph-kvb")
        for (const acting_request& a : acting_requests(test_home(), ""))
            if (a.request.program == page) return a.request;
    if (page == "kvx")
        return {"kvx",
                {{"KVXPDINSTANCE", "1"}, {"KVXTBLSPNAME", "USERS"}, {"KVXTODO", "Show Tablespace"}},
                login_fields(),
                false,
                {}};
    if (page == "nph-kve")
        return {"nph-kve",
                {{"KVEINSTANCE", "1"},
                 {"KVESUBMIT", "Apply Scope"},
                 {"KVESELECTOPTS", "Tables"},
                 {"KVERECLEN", "1024"},
                 {"KVEBUFSIZ", "4096"}},
                login_fields(),
                true,
                {}};
    if (page == "nph-kvi")
        return {"nph-kvi",
                {{"KVIINSTANCE", "1"},
                 {"KVISUBMIT", "Apply Scope"},
                 {"KVISELECTOPTS", "Tables"},
                 {"KVIEXPFILE", "expdat.dmp"},
                 {"KVIRECLEN", "1024"},
                 {"KVIBUFSIZ", "4096"}},
                login_fields(),
                true,
                {}};
    // The export tool's warning page: the export file exists. It carries every
    // choice of the chain, the checked boxes too.
    return {"nph-kve",
            {{"KVEINSTANCE", "1"},
             {"KVESUBMIT", "Export"},
             {"KVESELECTOPTS", "Tables"},
             {"KVEEXPFILE", test_home() + "/export/expdat.dmp"},
             {"KVERECLEN", "1024"},
             {"KVEBUFSIZ", "4096"},
             {"KVELOGFILENAME", "x.log"},
             {"KVEINCTYPE", "None"},
             {"KVESTATTYPE", "None"},
             {"T1", "HR.STAFF"},
             {"U0", "ADAM"}},
            login_fields(),
            true,
            {}};
}

// ---- fixture ---------------------------------------------------------------------------------

// A directory of its own for the files a case names; the demo instance open.
class Hostile : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(vdbadm({"start", "PROD"}));
        char pattern[] = "/tmp/kv-hostile.XXXXXX";
        dir_ = mkdtemp(pattern);
    }
    void TearDown() override {
        fs::remove_all(dir_);
        vdbadm({"start", "PROD"});
    }
    std::string dir_;
};

// A home whose utilities report that they ran and what their parameter file
// holds, and do nothing else: what a refused value would have run shows in
// the page.
class utilities_probe_home : public scratch_home {
public:
    utilities_probe_home() {
        const std::string probe = "#!/bin/sh\necho 'the utility ran with:' >&2\ncat \"${1#PARFILE=}\" >&2\n";
        write("bin/dbdump", probe, true);
        write("bin/dbload", probe, true);
        give_demo_export_file();
    }
};

// Runs a request against the probe home and checks that it was refused
// before any utility ran, with the block given, and left nothing behind.
void expect_refused_before_the_utility(const utilities_probe_home& home, const tool_request& r, const std::string& block) {
    cgi_result result = expect_contained(r, {home.path() + "/export"});
    EXPECT_EQ(result.exit_code, 3);
    EXPECT_TRUE(contains(result.page, "<H3>" + block + ":</H3>")) << tail(result.page);
    EXPECT_FALSE(contains(result.page, "the utility ran")) << tail(result.page);
    EXPECT_EQ(directory_entries(home.path() + "/export"), std::vector<std::string>{"expdat.dmp"});
}

}  // namespace

TEST_F(Hostile, MarkupInEveryValueAPageWritesBackStaysText) {
    struct row {
        const char* page;
        part where;
        const char* name;
    };
    std::vector<row> rows = {
        // The tablespace tool's address of itself.
        {"kvx", part::form, "KVTOOL"},
        {"kvx", part::server, "SCRIPT_NAME"},
        // Every choice the export tool's warning page carries.
        {"export warning", part::form, "KVELOGFILENAME"},
        {"export warning", part::form, "KVEINCTYPE"},
        {"export warning", part::form, "KVESTATTYPE"},
        {"export warning", part::form, "KVESELECTOPTS"},
        {"export warning", part::form, "T1"},
        {"export warning", part::form, "U0"},
    };
    // The frame of every page: the instance and user of the login (the
    // launcher's form, the tools' cookie), the server's name and port in
    // every address.
    for (const char* page : {"kvla", "nph-kvb", "kvx", "nph-kve", "nph-kvi"}) {
        part login = std::string(page) == "kvla" ? part::form : part::cookie;
        rows.insert(rows.end(), {{page, login, "VANTOR_SID"},
                                 {page, login, "KVCUSER"},
                                 {page, part::server, "SERVER_NAME"},
                                 {page, part::server, "SERVER_PORT"}});
    }
    for (const row& row : rows) {
        SCOPED_TRACE(std::string(row.page) + " " + row.name);
        tool_request r = page_request(row.page);
        if (row.where == part::form) r.form = with_field(r.form, row.name, PAYLOAD);
        if (row.where == part::cookie) r.cookie = with_field(r.cookie, row.name, PAYLOAD);
        if (row.where == part::server) r.server[row.name] = PAYLOAD;
        cgi_result result = expect_contained(r);
        EXPECT_EQ(injected_markup(result.page), "");
        EXPECT_TRUE(contains(result.page, PAYLOAD_SHOWN)) << "the value is written back, escaped\n" << result.page;
    }
}

TEST_F(Hostile, StatementTextInTablespaceAndDataFileNamesIsRefused) {
    const std::string file = dir_ + "/a.dbf", other = dir_ + "/b.dbf";
    auto confirmed = [&](const std::string& action, const std::string& tablespace, const std::string& data_file) {
        return form_fields{{"KVXPDINSTANCE", "2"}, {"KVXTODO", "Show Tablespace"}, {"KVXTBLSPNAME", tablespace},
                           {"KVXPDOK", action},    {"KVXNEWDFL", data_file},       {"KVXDFLINISZ", "64"},
                           {"KVXDFLINCSZ", "8"},   {"KVXDFLMAXSZ", "128"}};
    };
    struct row {
        form_fields form;
        const char* block;
    } rows[] = {
        // A tablespace name is an identifier, whatever the action.
        {{{"KVXPDINSTANCE", "1"},
          {"KVXTBLSPNAME", "USERS OFFLINE NORMAL; ALTER TABLESPACE SYSTEM OFFLINE"},
          {"KVXTODO", "Switch Online or Offline"}},
         "KVX-TSP-9031"},
        {confirmed("Add Data File", "USERS ADD DATAFILE '" + other + "' SIZE 64K --", file), "KVX-TSP-9031"},
        {confirmed("Create Tablespace", "T1 DATAFILE '" + other + "' SIZE 64K; DROP TABLESPACE USERS", file),
         "KVX-TSP-9031"},
        {confirmed("Create Tablespace", "\"T1\" DATAFILE '" + other + "' SIZE 64K --\"", file), "KVX-TSP-9031"},
        // A quote would end the data file name inside the statement.
        {confirmed("Create Tablespace", "T1", file + "' SIZE 64K, '" + other), "KVX-DFL-9030"},
        {confirmed("Add Data File", "USERS", file + "\" SIZE 64K, \"" + other), "KVX-DFL-9030"},
    };
    for (const row& row : rows) {
        SCOPED_TRACE(form_body(row.form));
        cgi_result result = expect_contained({"kvx", row.form, login_fields(), true, {}}, {dir_});
        EXPECT_EQ(result.exit_code, 3);
        EXPECT_TRUE(contains(result.page, std::string("<H3>") + row.block + ":</H3>")) << tail(result.page);
    }
}

TEST_F(Hostile, LineOrListBreaksInParameterFileValuesAreRefused) {
    utilities_probe_home home;
    const form_fields export_run = {
        {"KVEINSTANCE", "1"},  {"KVESUBMIT", "Export"}, {"KVESELECTOPTS", "Tables"}, {"KVEEXPFILE", "x.dmp"},
        {"KVERECLEN", "1024"}, {"KVEBUFSIZ", "4096"},   {"T1", "HR.STAFF"}};
    const form_fields import_run = {{"KVIINSTANCE", "1"},
                                    {"KVISUBMIT", "Import"},
                                    {"KVISELECTOPTS", "Tables"},
                                    {"KVIEXPFILE", "expdat.dmp"},
                                    {"KVIRECLEN", "1024"},
                                    {"KVIBUFSIZ", "4096"},
                                    {"T0", "ORDERS"}};
    const form_fields import_users = with_field(with_field(import_run, "KVISELECTOPTS", "Users"), "U1", "HR");
    struct row {
        const char* program;
        form_fields form;
        form_fields cookie;  // pairs that replace the login's
        const char* block;
    } rows[] = {
        // The login line comes from the cookie: the instance knows no such
        // login, and nothing is written for it.
        {"nph-kve", export_run, {{"KVCUSER", "system\nFULL=Y"}}, "KVE-LOGIN-1017"},
        {"nph-kve", export_run, {{"KVCPASSWORD", "demo\nFULL=Y"}}, "KVE-LOGIN-1017"},
        {"nph-kvi", import_run, {{"KVCUSER", "system\rFULL=Y"}}, "KVI-LOGIN-1017"},
        {"nph-kvi", import_run, {{"KVCPASSWORD", "demo\nFULL=Y"}}, "KVI-LOGIN-1017"},
        {"nph-kve", with_field(with_field(export_run, "KVESELECTOPTS", "Users"), "U0", "ADAM\nFULL=Y"), {}, "KVE-4072"},
        {"nph-kvi",
         with_field(with_field(import_run, "KVIINDEXFILE", "on"), "KVIINDEXFILENAME", dir_ + "/i.sql\nFULL=Y"),
         {},
         "KVI-5045"},
        // A comma outside quotes makes two items of one: a table of another
        // owner. The import tool quotes each name it lists, so there a quote
        // in a value would end the name early and start another item: a
        // target user that moves every later source to another target than
        // the page showed.
        {"nph-kve", with_field(export_run, "T1", "HR.STAFF,SALES.ORDERS"), {}, "KVE-4072"},
        {"nph-kve", with_field(export_run, "T1", "HR.\"STAFF\",SALES.ORDERS"), {}, "KVE-4072"},
        {"nph-kve", with_field(export_run, "T1", "HR.\"a\"\"b\""), {}, "KVE-4072"},
        {"nph-kvi",
         with_field(with_field(with_field(import_run, "DT0", "ADAM\",\"EVE"), "T4", "STAFF"), "DT4", "HR"),
         {},
         "KVI-5044"},
        {"nph-kvi", with_field(import_run, "T0", "ORDERS\",\"PRODUCTS"), {}, "KVI-5044"},
        {"nph-kvi", with_field(import_users, "DU1", "EVE\",\"ADAM"), {}, "KVI-5044"},
    };
    for (const row& row : rows) {
        tool_request r{row.program, row.form, login_fields(home.path()), true, {}};
        for (const auto& [name, value] : row.cookie) r.cookie = with_field(r.cookie, name, value);
        SCOPED_TRACE(form_body(r.form) + " cookie " + form_body(row.cookie));
        expect_refused_before_the_utility(home, r, row.block);
    }
}

TEST_F(Hostile, ExportFileNamesOutsideTheExportDirectoryAreRefused) {
    utilities_probe_home home;
    fs::create_directories(home.path() + "/export/older");
    const form_fields run = {{"KVIINSTANCE", "1"},  {"KVISUBMIT", "Import"}, {"KVISELECTOPTS", "Users"},
                             {"KVIRECLEN", "1024"}, {"KVIBUFSIZ", "4096"},   {"U0", "SALES"}};
    // A name escaped once more than the form escapes it, a name with the
    // backslashes other systems separate directories with, names with a "/"
    // that stay inside the directory, and a directory inside it.
    // A name with a directory is no file the tool offers; a plain one that is
    // not a readable file of the directory cannot be read.
    for (auto [name, block] : {std::pair{std::string("%2e%2e%2fkv%2fkey"), "KVI-1011"},
                               {std::string("..\\kv\\key"), "KVI-1011"},
                               {std::string("expdat.dmp/../../kv/key"), "KVI-5046"},
                               {std::string("older"), "KVI-1011"},
                               {std::string("./expdat.dmp"), "KVI-5046"}}) {
        SCOPED_TRACE(name);
        tool_request r{"nph-kvi", with_field(run, "KVIEXPFILE", name), login_fields(home.path()), true, {}};
        cgi_result result = expect_contained(r, {home.path() + "/export"});
        EXPECT_EQ(result.exit_code, 3);
        EXPECT_TRUE(contains(result.page, std::string("<H3>") + block + ":</H3>")) << tail(result.page);
        EXPECT_FALSE(contains(result.page, "the utility ran"));
    }
}

TEST_F(Hostile, TamperedLoginCookieNeverActsAsTheLogin) {
    // The password as the launcher enciphers it for this installation.
    form_fields login = enciphered_login_fields();
    const std::string hex = field_value(login, "KVCPASSWORD"), length = field_value(login, "KVCPLEN");
    ASSERT_EQ(std::count(hex.begin(), hex.end(), 'w'), std::stoi(length)) << hex;
    std::string flipped = hex;
    flipped[0] = flipped[0] == '1' ? '2' : '1';
    std::string three_groups = hex;
    for (size_t end = 0, groups = 0; (end = three_groups.find('w', end)) != std::string::npos; ++end)
        if (++groups == 3) three_groups.resize(end + 1);
    struct row {
        const char* what;
        std::string password, length;
        bool holds;  // whether the login is still the one the launcher gave
    } rows[] = {
        {"a password group flipped", flipped, length, false},
        {"a negative length", hex, "-" + length, false},
        {"a length beyond any password", three_groups, "99999999999", false},
        {"a length that is no number", hex, "twelve", false},
        // No tampering: without the recorded address there is nothing to
        // warn about, and the login acts.
        {"no client address", hex, length, true},
    };
    for (const row& row : rows) {
        for (acting_request& a : acting_requests(test_home(), "x.dmp")) {
            SCOPED_TRACE(std::string(row.what) + ", " + a.request.program);
            a.request.cookie =
                with_field(with_field(a.request.cookie, "KVCPASSWORD", row.password), "KVCPLEN", row.length);
            if (row.holds) a.request.cookie = without_field(a.request.cookie, "KVRMTADDR");
            if (!row.holds) {
                cgi_result result = expect_contained(a.request, {dir_});
                EXPECT_FALSE(a.acted()) << tail(result.page);
                a.undo();
                continue;
            }
            std::string before = dictionary_snapshot();
            cgi_result result = run_request(a.request);
            EXPECT_EQ(page_defect(a.request, result), "");
            EXPECT_FALSE(contains(result.page, "KVC-TOOL"));
            if (a.request.program != "kvla" && a.request.program != "nph-kvb") {
                EXPECT_TRUE(a.acted()) << "the request is one that acts\n" << tail(result.page);
            }
            a.undo();
            EXPECT_EQ(dictionary_snapshot(), before);
        }
    }
}

TEST_F(Hostile, BodyThatDisagreesWithContentLengthNeverActs) {
    struct row {
        const char* what;
        std::function<std::string(const std::string& body)> length;
    } rows[] = {
        // The client went away before its body was whole: the request is
        // incomplete, and acting on it would act on a part of a form.
        {"larger than the body", [](const std::string& body) { return std::to_string(body.size() + 100); }},
        {"beyond any number", [](const std::string&) { return std::string(40, '9'); }},
        {"negative", [](const std::string&) { return std::string("-5"); }},
        {"no number", [](const std::string&) { return std::string("many"); }},
    };
    for (const row& row : rows) {
        for (acting_request& a : acting_requests(test_home(), "x.dmp")) {
            SCOPED_TRACE(std::string(row.what) + ", " + a.request.program);
            a.request.posted = true;
            std::string body = form_body(a.request.form);
            a.request.server["CONTENT_LENGTH"] = row.length(body);
            cgi_result result = expect_contained(a.request, {dir_}, body);
            EXPECT_FALSE(a.acted()) << tail(result.page);
            a.undo();
        }
    }
}

TEST_F(Hostile, TenMegabyteBodyGetsItsPage) {
    const std::string huge(10 << 20, 'x');
    // Into a value each page writes back.
    struct row {
        const char* page;
        const char* name;
    } rows[] = {
        {"kvla", "KVCUSER"},           {"nph-kvb", "KVCUSER"},        {"kvx", "KVTOOL"},
        {"nph-kve", "KVELOGFILENAME"}, {"nph-kvi", "KVILOGFILENAME"},
    };
    for (const row& row : rows) {
        SCOPED_TRACE(row.page);
        tool_request r = page_request(row.page);
        r.posted = true;
        r.form = with_field(r.form, row.name, huge);
        expect_contained(r);
    }
    // As pairs: each one an entry of the decoded request.
    std::string pairs;
    pairs.reserve(10 << 20);
    while (pairs.size() < (10u << 20)) pairs += "a=1&";
    tool_request r = page_request("nph-kve");
    std::string body = form_body(r.form) + "&" + pairs;
    expect_contained(r, {}, body);
}

// A posted page counter at or beyond the largest int: the next page carries
// the largest int again, never a wrapped or negative one (which the
// sanitizer build would also name on standard error). The backup tool reads
// its counter but passes none on.
TEST_F(Hostile, PageCountersStopAtTheTop) {
    struct row {
        const char* page;
        const char* counter;
        bool carried_on;
    } rows[] = {
        {"nph-kve", "KVEINSTANCE", true},
        {"nph-kvi", "KVIINSTANCE", true},
        {"kvx", "KVXPDINSTANCE", true},
        {"nph-kvb", "KVBKUINSTANCE", false},
    };
    for (const row& row : rows)
        for (const char* posted : {"2147483647", "2147483648", "99999999999999999999"}) {
            SCOPED_TRACE(std::string(row.page) + " " + row.counter + "=" + posted);
            // Without an action of the tablespace tool, which would begin its
            // steps again.
            tool_request r = page_request(row.page);
            r.form = with_field(without_field(r.form, "KVXTODO"), row.counter, posted);
            cgi_result result = expect_contained(r);
            const std::string carried = std::string("name=\"") + row.counter + "\" value=\"";
            EXPECT_EQ(contains(result.page, carried + "2147483647\""), row.carried_on) << tail(result.page);
            EXPECT_FALSE(contains(result.page, carried + "-")) << tail(result.page);
        }
}
