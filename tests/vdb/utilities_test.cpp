// The export and import utilities and vdbadm, run as the tools run them.
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <regex>
#include <sstream>

#include "i/kviscan.h"
#include "instance_fixture.h"
#include "vdb/dumpfile.h"
#include "vdb/utility.h"

extern char** environ;

namespace vdbtest {
namespace {

struct Outcome {
    int status;
    std::string err;
    std::string out;
};

std::string slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

Outcome run_program(const std::vector<std::string>& args, const std::string& dir) {
    std::string out_path = dir + "/stdout.txt", err_path = dir + "/stderr.txt";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    std::vector<char*> argv;
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    pid_t pid = 0;
    int status = -1;
    if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) == 0) waitpid(pid, &status, 0);
    posix_spawn_file_actions_destroy(&actions);
    return Outcome{WIFEXITED(status) ? WEXITSTATUS(status) : -1, slurp(err_path), slurp(out_path)};
}

// The tables of an export file as the import tool finds them, each with the
// owner current at it, in the order of the file.
std::vector<std::pair<std::string, std::string>> scan_export(const std::string& path) {
    std::vector<std::pair<std::string, std::string>> tables;
    kvi_scan_result found;
    if (kvi_scan_file(path.c_str(), &found) != 0) return tables;
    for (size_t i = found.tables.size(); i-- > 0;) tables.emplace_back(found.owners[i], found.tables[i]);
    return tables;
}

class UtilityTest : public InstanceTest {
protected:
    std::string dump_file() const { return loc.export_dir() + "/expdat.dmp"; }

    // Writes a parameter file as the tools write them and runs the utility with it.
    Outcome utility(const char* program, const std::vector<std::string>& lines) {
        std::string parfile = loc.export_dir() + "/par" + std::to_string(++parfiles_);
        std::ofstream out(parfile);
        for (const auto& line : lines) out << line << "\n";
        out.close();
        return run_program({program, "PARFILE=" + parfile}, loc.export_dir());
    }
    Outcome dump(std::vector<std::string> lines) {
        lines.insert(lines.begin(), {"system/demo", "FILE=" + dump_file(), "BUFFER=4096", "RECORDLENGTH=1024"});
        return utility(VDB_DBDUMP, lines);
    }
    Outcome load(std::vector<std::string> lines) {
        lines.insert(lines.begin(), {"system/demo", "FILE=" + dump_file(), "BUFFER=4096", "RECORDLENGTH=1024"});
        return utility(VDB_DBLOAD, lines);
    }

    // Every row of a table as text lines, in key order.
    std::vector<std::string> rows(const std::string& table) {
        auto s = as("system");
        auto cursor = s->query("select * from " + table + " order by 1");
        std::vector<std::string> out;
        vdb::Row row;
        while (cursor->fetch(row)) {
            std::string line;
            for (const auto& v : row) line += std::to_string(static_cast<int>(v.type)) + ":" + v.to_text() + "|";
            out.push_back(line);
        }
        return out;
    }

    int parfiles_ = 0;
};

TEST_F(UtilityTest, ExportReportsEachTableAndTheScanFindsTheirOwners) {
    add_sales();
    run({"CREATE USER HR IDENTIFIED BY demo", "CREATE USER EMPTY IDENTIFIED BY demo",
         "CREATE TABLE HR.STAFF (ID NUMBER, NAME VARCHAR2(30))", "CREATE TABLE HR.ORDERS (ID NUMBER)"});
    const std::string log = loc.export_dir() + "/export.log";
    Outcome r = dump({"LOG=" + log, "FULL=Y"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find(". . exporting table SALES.ORDERS 3 rows exported\n"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("Export terminated successfully.\n"), std::string::npos);
    EXPECT_EQ(slurp(log), r.err);
    EXPECT_EQ(scan_export(dump_file()),
              (std::vector<std::pair<std::string, std::string>>{
                  {"HR", "STAFF"}, {"HR", "ORDERS"}, {"SALES", "ORDERS"}, {"SALES", "ITEMS"}}));
    // No schema line before the first table, none right after another, none for EMPTY.
    std::string text = slurp(dump_file());
    EXPECT_EQ(text.find("DSYSTEM\n"), vdb::export_header.size() + 1);
    EXPECT_EQ(text.find("\nCONNECT EMPTY"), std::string::npos);
    EXPECT_NE(text.find("\nCONNECT HR\nCREATE TABLE \"STAFF\""), std::string::npos);
}

TEST_F(UtilityTest, ImportHonoursUsersTablesRowsIgnoreAndIndexFile) {
    add_sales();
    run({"CREATE USER C1 IDENTIFIED BY demo", "CREATE USER C2 IDENTIFIED BY demo", "CREATE USER C3 IDENTIFIED BY demo",
         "CREATE USER C4 IDENTIFIED BY demo"});
    ASSERT_EQ(dump({"OWNER=(", "SALES)"}).status, 0);
    const std::string index_file = loc.export_dir() + "/index.sql";
    struct Case {
        std::string what;
        std::vector<std::string> lines;
        int status;
        std::vector<std::string> tables_of_target;  // owner C1..C4
        std::string target;
    };
    const Case cases[] = {
        {"schema to schema", {"FROMUSER=(", "SALES)", "TOUSER=(", "C1)"}, 0, {"ITEMS", "ORDERS"}, "C1"},
        {"one table", {"FROMUSER=(", "SALES)", "TOUSER=(", "C2)", "TABLES=(", "ITEMS)"}, 0, {"ITEMS"}, "C2"},
        {"no rows", {"ROWS=N", "FROMUSER=(", "SALES)", "TOUSER=(", "C3)"}, 0, {"ITEMS", "ORDERS"}, "C3"},
        {"index file", {"INDEXFILE=" + index_file, "FROMUSER=(", "SALES)", "TOUSER=(", "C4)"}, 0, {}, "C4"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Outcome r = load(c.lines);
        EXPECT_EQ(r.status, c.status) << r.err;
        EXPECT_EQ(column("select table_name from all_tables where owner='" + c.target + "' order by 1"),
                  c.tables_of_target);
    }
    EXPECT_EQ(rows("C1.ORDERS"), rows("SALES.ORDERS"));
    EXPECT_EQ(rows("C1.ITEMS"), rows("SALES.ITEMS"));
    EXPECT_EQ(rows("C2.ITEMS"), rows("SALES.ITEMS"));
    EXPECT_TRUE(rows("C3.ORDERS").empty());
    EXPECT_EQ(column("select segment_name from sys.dba_segments where owner='C1' and segment_type='INDEX'"),
              std::vector<std::string>{"ORDERS_CUSTOMER_IX"});
    EXPECT_NE(slurp(index_file).find("CREATE INDEX \"C4\".\"ORDERS_CUSTOMER_IX\" ON \"C4\".\"ORDERS\" (\"CUSTOMER\")"),
              std::string::npos);

    // An existing table: without IGNORE its rows stay out; with IGNORE they go in,
    // and a table whose rows break its key keeps none of them.
    Outcome again = load({"FROMUSER=(", "SALES)", "TOUSER=(", "C1)"});
    EXPECT_EQ(again.status, 2);
    EXPECT_NE(again.err.find("ITEMS exists in C1"), std::string::npos) << again.err;
    EXPECT_EQ(rows("C1.ITEMS").size(), 2u);
    Outcome ignoring = load({"IGNORE=Y", "FROMUSER=(", "SALES)", "TOUSER=(", "C1)"});
    EXPECT_EQ(ignoring.status, 2);
    EXPECT_NE(ignoring.err.find("ORDERS into C1 failed"), std::string::npos) << ignoring.err;
    EXPECT_NE(ignoring.err.find("importing table ITEMS into C1 2 rows imported"), std::string::npos) << ignoring.err;
    EXPECT_EQ(rows("C1.ITEMS").size(), 4u);
    EXPECT_EQ(rows("C1.ORDERS").size(), 3u);
}

// Many tables over several users, named one by one: each listed table is found
// by its name, in the order of the list, and an import picks out its TABLES
// the same way.
TEST_F(UtilityTest, TableModeFindsEachListedTableAmongMany) {
    std::vector<std::string> statements;
    for (int user = 1; user <= 3; ++user) {
        std::string owner = "U" + std::to_string(user);
        statements.push_back("CREATE USER " + owner + " IDENTIFIED BY demo");
        for (int t = 0; t < 30; ++t) statements.push_back("CREATE TABLE " + owner + ".T" + std::to_string(t) + " (N NUMBER)");
    }
    statements.push_back("INSERT INTO U2.T9 VALUES (42)");
    statements.push_back("CREATE USER COPY IDENTIFIED BY demo");
    run(statements);

    std::vector<std::string> lines = {"TABLES=("};
    std::vector<std::pair<std::string, std::string>> expected;
    for (int t = 29; t >= 0; t -= 4)
        for (const char* owner : {"U3", "U1", "U2"}) {
            lines.push_back(std::string(owner) + ".T" + std::to_string(t) + ",");
            expected.emplace_back(owner, "T" + std::to_string(t));
        }
    lines.push_back("U2.NOPE,");
    lines.push_back("NOBODY.T1)");
    Outcome r = dump(lines);
    EXPECT_EQ(r.status, 2) << r.err;
    EXPECT_NE(r.err.find("table U2.NOPE was not found"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("exporting table U2.T9 1 rows exported"), std::string::npos) << r.err;
    EXPECT_EQ(scan_export(dump_file()), expected);

    // U1 is not among the users imported: its table is named as missed.
    Outcome loaded = load({"FROMUSER=(", "U2)", "TOUSER=(", "COPY)", "TABLES=(", "T9,", "U2.T13,", "U1.T17)"});
    EXPECT_EQ(loaded.status, 2) << loaded.err;
    EXPECT_NE(loaded.err.find(". . table U1.T17 was not found among the tables"), std::string::npos) << loaded.err;
    EXPECT_EQ(column("select table_name from all_tables where owner = 'COPY' order by 1"),
              (std::vector<std::string>{"T13", "T9"}));
    EXPECT_EQ(rows("COPY.T9"), rows("U2.T9"));
}

// A dump read back as dbdump wrote it, and once more as a copy of it with
// CR LF line ends (from a system that writes them) reads.
TEST_F(UtilityTest, HostileDataRoundTripsByteForByte) {
    run({"CREATE USER SALES IDENTIFIED BY demo", "CREATE USER COPY IDENTIFIED BY demo", "CREATE USER CRLF IDENTIFIED BY demo",
         "CREATE TABLE SALES.HOSTILE (ID NUMBER, T VARCHAR2(4000), B BLOB, R NUMBER)"});
    const std::string texts[] = {
        "he said \"hi\"", "back\\slash \\x41 \\", "line\nbreak\r\n", "\nCONNECT EVIL\n", "CONNECT BYPASS",
        "CREATE TABLE \"PHANTOM\" (A NUMBER)", "tab\there", "Gr\xc3\xbc\xc3\x9f\x65 \xe2\x9c\x93", std::string("nul\0byte", 8),
        "\x01\x7f\x1b[0m", "", "  padded  ", "+I1\tTfake row"};
    {
        auto s = as("system");
        auto writer = s->row_writer("SALES", "HOSTILE");
        int64_t id = 0;
        for (const auto& text : texts)
            writer->add({vdb::Value::of(++id), vdb::Value::of(text), vdb::Value::blob(text), vdb::Value::of(0.1 * double(id))});
        writer->add({vdb::Value::of(int64_t{9007199254740993}), vdb::Value{}, vdb::Value::blob(std::string("\0\xff", 2)),
                     vdb::Value::of(-1e300)});
        writer->flush();
        s->commit();
    }
    ASSERT_EQ(dump({"TABLES=(", "SALES.HOSTILE)"}).status, 0);
    std::string as_written = slurp(dump_file());
    std::string with_crlf;
    for (char c : as_written) with_crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);

    for (const auto& [target, text] : {std::pair{"COPY", as_written}, std::pair{"CRLF", with_crlf}}) {
        SCOPED_TRACE(target);
        std::ofstream(dump_file(), std::ios::binary | std::ios::trunc) << text;
        EXPECT_EQ(scan_export(dump_file()), (std::vector<std::pair<std::string, std::string>>{{"SALES", "HOSTILE"}}));
        Outcome r = load({"FROMUSER=(", "SALES)", "TOUSER=(", std::string(target) + ")"});
        ASSERT_EQ(r.status, 0) << r.err;

        auto s = as("system");
        auto original = s->query("select * from sales.hostile order by id");
        auto copy = s->query(std::string("select * from ") + target + ".hostile order by id");
        vdb::Row a, b;
        int compared = 0;
        while (original->fetch(a)) {
            ASSERT_TRUE(copy->fetch(b));
            for (size_t i = 0; i < a.size(); ++i) {
                EXPECT_EQ(a[i].type, b[i].type) << "row " << compared << " column " << i;
                EXPECT_EQ(a[i].bytes, b[i].bytes) << "row " << compared << " column " << i;
                EXPECT_EQ(a[i].integer, b[i].integer);
                EXPECT_EQ(a[i].real, b[i].real);
            }
            ++compared;
        }
        EXPECT_FALSE(copy->fetch(b));
        EXPECT_EQ(compared, 14);
    }
}

TEST_F(UtilityTest, FullImportRecreatesUsersRolesAndTablespaces) {
    add_sales();
    run({"GRANT DBA TO SALES", "CREATE TABLESPACE EXTRA DATAFILE '" + file("extra.dbf") + "' SIZE 1M",
         "CREATE TABLE SALES.PARKED (A NUMBER) TABLESPACE EXTRA", "INSERT INTO SALES.PARKED VALUES (1)"});
    ASSERT_EQ(dump({"FULL=Y"}).status, 0);

    // The data file is in use by the first instance: only DESTROY=Y takes it over;
    // without it, the table lands in its owner's default tablespace.
    struct Case {
        const char* sid;
        std::vector<std::string> lines;
        int status;
        const char* tablespace;
    };
    const Case cases[] = {{"KEEP", {"FULL=Y"}, 2, "USERS"}, {"TAKE", {"FULL=Y", "DESTROY=Y"}, 0, "EXTRA"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.sid);
        vdb::Location other{loc.home, c.sid};
        vdb::create_instance(other, "demo");
        setenv("VANTOR_SID", c.sid, 1);
        Outcome r = load(c.lines);
        EXPECT_EQ(r.status, c.status) << r.err;
        auto sales = vdb::Session::connect(other, "sales", "demo");
        EXPECT_TRUE(sales->is_dba());
        auto cursor = sales->query("select tablespace_name from all_tables where table_name = 'PARKED'");
        vdb::Row row;
        ASSERT_TRUE(cursor->fetch(row));
        EXPECT_EQ(row[0].to_text(), c.tablespace);
        EXPECT_EQ(code_of([&] { vdb::Session::connect(other, "eve", "wrong"); }), vdb::code::bad_logon);
        EXPECT_EQ(sales->query("select count(*) from orders")->fetch(row) ? row[0].integer : -1, 3);
    }
}

// The list items of a parameter file as the utilities read them: bare names
// fold, quoted ones stay exact, and nothing inside quotes splits or ends a list.
TEST(UtilityParameterLists, QuotedNamesAreReadWhole) {
    char path[] = "/tmp/vdbparXXXXXX";
    int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    const std::string text =
        "system/demo\n"
        "TABLES=(\n"
        "HR.\"a b\",\n"
        "  \"lower\" , sales.Orders,\n"
        "HR.\"x,y\",\"p)\",\n"
        "\"q\"\"t\")\n"
        "OWNER=(\"lower\",HR,\"a ,(b)\")\n";
    ASSERT_EQ(write(fd, text.data(), text.size()), static_cast<ssize_t>(text.size()));
    close(fd);
    std::string parfile = std::string("PARFILE=") + path;
    char* argv[] = {const_cast<char*>("dbdump"), parfile.data()};
    vdb::UtilityParameters p(2, argv, {"USERID", "TABLES", "OWNER"});
    std::remove(path);

    std::vector<std::pair<std::string, std::string>> tables;
    for (const auto& item : p.list("TABLES")) {
        vdb::QualifiedName t = vdb::list_table(item);
        tables.emplace_back(t.owner, t.name);
    }
    EXPECT_EQ(tables, (std::vector<std::pair<std::string, std::string>>{
                          {"HR", "a b"}, {"", "lower"}, {"SALES", "ORDERS"}, {"HR", "x,y"}, {"", "p)"}, {"", "q\"t"}}));
    std::vector<std::string> owners;
    for (const auto& item : p.list("OWNER")) owners.push_back(vdb::list_name(item));
    EXPECT_EQ(owners, (std::vector<std::string>{"lower", "HR", "a ,(b)"}));

    // Written as the tools write names, each reads back as itself.
    for (const char* name : {"HR", "a b", "lower", "MiXed", "x,y", "p)", "q\"t", "1ST", "\xc3\x84rger", "A$B#_1"})
        EXPECT_EQ(vdb::list_name(vdb::name_text(name)), name) << vdb::name_text(name);
    EXPECT_EQ(vdb::name_text("A$B#_1"), "A$B#_1");
    EXPECT_EQ(vdb::name_text("q\"t"), "\"q\"\"t\"");

    // What is no name is refused, not guessed at.
    for (const char* item : {"\"open", "HR.a b", "A.B.C", "HR.", "\"a\"b", "X--note", ""})
        EXPECT_THROW(vdb::list_table(item), vdb::ParameterError) << item;
    EXPECT_THROW(vdb::list_name("HR.STAFF"), vdb::ParameterError);
}

TEST_F(UtilityTest, BadParametersChangeNothing) {
    add_sales();
    struct Case {
        const char* program;
        std::vector<std::string> lines;
        const char* message;
    };
    const Case cases[] = {
        {VDB_DBDUMP, {"FULL=Y", "OWNER=(SALES)"}, "exclude one another"},
        {VDB_DBDUMP, {"BUFFER=lots"}, "BUFFER takes a whole number"},
        {VDB_DBDUMP, {"COLOUR=red"}, "COLOUR is not a parameter"},
        {VDB_DBDUMP, {"TABLES=(", "SALES.ORDERS,"}, "is not closed"},
        {VDB_DBDUMP, {"ROWS=maybe"}, "ROWS takes Y or N"},
        {VDB_DBDUMP, {"OWNER=(NOBODY)"}, "user does not exist"},
        {VDB_DBLOAD, {"FULL=Y", "FROMUSER=(SALES)"}, "exclude one another"},
        {VDB_DBLOAD, {"TOUSER=(EVE)"}, "TOUSER needs FROMUSER"},
        {VDB_DBLOAD, {"FROMUSER=(SALES)"}, "is not an export file"},
    };
    std::ofstream(dump_file()) << "not an export file\n";
    for (const auto& c : cases) {
        SCOPED_TRACE(c.message);
        Outcome r = std::string(c.program) == VDB_DBDUMP
                    ? utility(c.program, [&] {
                          auto lines = c.lines;
                          lines.insert(lines.begin(), {"system/demo", "FILE=" + loc.export_dir() + "/bad.dmp"});
                          return lines;
                      }())
                    : load(c.lines);
        EXPECT_EQ(r.status, 1);
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
        EXPECT_FALSE(std::filesystem::exists(loc.export_dir() + "/bad.dmp"));
    }
    EXPECT_EQ(column("select count(*) from all_tables").at(0), "2");
    Outcome eve = run_program({VDB_DBDUMP, "eve/demo", "FULL=Y", "FILE=" + loc.export_dir() + "/bad.dmp"}, loc.export_dir());
    EXPECT_EQ(eve.status, 1);
    EXPECT_NE(eve.err.find("DBA role"), std::string::npos) << eve.err;
}

// The logon comes before any file a parameter names: a refused one writes
// nothing, and says why on standard error only.
TEST_F(UtilityTest, RefusedLogonWritesNoFile) {
    add_sales();
    ASSERT_EQ(dump({}).status, 0);
    const std::string log = loc.export_dir() + "/new.log", file = loc.export_dir() + "/new.dmp",
                      index = loc.export_dir() + "/new.sql";
    struct Case {
        const char* program;
        std::vector<std::string> lines;
    };
    const Case cases[] = {
        {VDB_DBDUMP, {"system/wrong", "FILE=" + file, "LOG=" + log}},
        {VDB_DBLOAD, {"system/wrong", "FILE=" + dump_file(), "LOG=" + log, "INDEXFILE=" + index}},
        // Even an import file that is missing is not looked at first.
        {VDB_DBLOAD, {"nobody/demo", "FILE=" + file, "LOG=" + log, "FULL=Y"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.lines.at(0) + " " + c.program);
        Outcome r = utility(c.program, c.lines);
        EXPECT_EQ(r.status, 1);
        EXPECT_NE(r.err.find("error -1017: invalid user name or password"), std::string::npos) << r.err;
        for (const auto& path : {log, file, index}) EXPECT_FALSE(std::filesystem::exists(path)) << path;
    }
    EXPECT_EQ(column("select count(*) from all_tables").at(0), "2");
}

TEST_F(UtilityTest, DemoInstanceAnswersAndItsExportHoldsEveryTable) {
    std::string home = loc.home + "/demo";
    Outcome created = run_program({VDB_VDBADM, "--home", home, "create", "PROD", "--demo"}, loc.home);
    ASSERT_EQ(created.status, 0) << created.err;
    EXPECT_TRUE(std::regex_match(created.out, std::regex("service running\ninstance open\nstarted [-0-9]{10} [:0-9]{8}\n")))
        << created.out;
    Outcome spaces = run_program({VDB_VDBADM, "--home", home, "sql", "PROD", "SYSTEM/demo",
                              "select tablespace_name from sys.dba_tablespaces order by 1"}, loc.home);
    EXPECT_EQ(spaces.out, "SYSTEM\nTEMP\nTOOLS\nUSERS\n");
    Outcome orders = run_program({VDB_VDBADM, "--home", home, "sql", "PROD", "adam/demo", "select count(*) from SALES.ORDERS"},
                             loc.home);
    EXPECT_EQ(orders.out, "100000\n");
    Outcome eve = run_program({VDB_VDBADM, "--home", home, "sql", "PROD", "eve/demo",
                           "select granted_role from user_role_privs where granted_role='DBA'"}, loc.home);
    EXPECT_EQ(eve.status, 0);
    EXPECT_EQ(eve.out, "");
    Outcome refused = run_program({VDB_VDBADM, "--home", home, "sql", "PROD", "eve/demo", "drop user hr cascade"}, loc.home);
    EXPECT_EQ(refused.status, 1);
    EXPECT_NE(refused.err.find("-1031"), std::string::npos);
    Outcome again = run_program({VDB_VDBADM, "--home", home, "service-start", "PROD"}, loc.home);
    EXPECT_NE(again.out.find("already running"), std::string::npos);

    auto tables = scan_export(home + "/export/expdat.dmp");
    EXPECT_EQ(tables, (std::vector<std::pair<std::string, std::string>>{{"HR", "DEPARTMENTS"}, {"HR", "STAFF"},
                                                                        {"SALES", "REGIONS"}, {"SALES", "CUSTOMERS"},
                                                                        {"SALES", "PRODUCTS"}, {"SALES", "ORDERS"}}));
}

}  // namespace
}  // namespace vdbtest
