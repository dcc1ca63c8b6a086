// The import tool's scan of export files: small crafted files, and real dumps.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "i/kviscan.h"
#include "support/cgi_run.h"
#include "vdb/instance_fixture.h"

namespace {

using names = std::vector<std::string>;

kvi_scan_result scan_text(const std::string& text, int expected_result = 0) {
    std::string path = testing::TempDir() + "scan" + std::to_string(getpid()) + ".dmp";
    FILE* f = std::fopen(path.c_str(), "wb");
    std::fwrite(text.data(), 1, text.size(), f);
    std::fclose(f);
    kvi_scan_result result;
    EXPECT_EQ(kvi_scan_file(path.c_str(), &result), expected_result);
    std::remove(path.c_str());
    return result;
}

std::string with_crlf_line_ends(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '\n') out += '\r';
        out += c;
    }
    return out;
}

}  // namespace

TEST(Scan, CraftedFiles) {
    const std::string NUL(1, '\0');
    struct row {
        const char* what;
        std::string file;
        names tables, owners, users;
    } rows[] = {
        {"no CONNECT: every table is the exporting user's",
         "EXPORT:V1\nDSALES\n-- tables\nCREATE TABLE \"T1\" (A NUMBER)\nCREATE TABLE \"T2\" (A NUMBER)\n",
         {"T2", "T1"}, {"SALES", "SALES"}, {"SALES"}},
        {"tables before the first CONNECT, then A T1 B T2 T3",
         "EXPORT:V1\nDSYSTEM\n-- x\nCREATE TABLE \"T0\"\nCONNECT A\nCREATE TABLE \"T1\" ()\n"
         "CONNECT B\nCREATE TABLE \"T2\" ()\nCREATE TABLE \"T3\" ()\n",
         {"T3", "T2", "T1", "T0"}, {"B", "B", "A", "SYSTEM"}, {"B", "A", "SYSTEM"}},
        {"CONNECT BY clauses of stored queries are passed over",
         "H\nDSYSTEM\n-- x\nCONNECT A\nselect 1\nCONNECT BY PRIOR X\nCREATE TABLE \"T1\"\nq\nCONNECT BYX\n"
         "CREATE TABLE \"T2\"\n",
         {"T2", "T1"}, {"A", "A"}, {"A", "SYSTEM"}},
        {"a CONNECT line right after a CONNECT line is not seen",
         "H\nDSYSTEM\n-- x\nCONNECT A\nCONNECT B\nCREATE TABLE \"T1\"\n",
         {"T1"}, {"A"}, {"A", "SYSTEM"}},
        {"a CONNECT on line three is not seen",
         "H\nDSYSTEM\nCONNECT A\nCREATE TABLE \"T1\"\n", {"T1"}, {"SYSTEM"}, {"SYSTEM"}},
        {"a split marker is no marker",
         "H\nDSYSTEM\n-- x\nCREATE TA\nBLE \"T1\"\nCREATE  TABLE \"T2\"\nCCREATE TABLE \"T3\"\n",
         {"T3"}, {"SYSTEM"}, {"SYSTEM"}},
        {"one table name under two owners, a user connected to twice",
         "H\nDSYSTEM\n-- x\nCONNECT A\nCREATE TABLE \"T\"\nCONNECT B\nCREATE TABLE \"T\"\nCONNECT A\n"
         "CREATE TABLE \"U\"\n",
         {"U", "T", "T"}, {"A", "B", "A"}, {"B", "A", "SYSTEM"}},
        {"a name ends at a quote, a line end or a carriage return; binary bytes pass",
         "H\nDSYSTEM\n-- x\n\x01\xff" + NUL + "CREATE TABLE \"T1\rX\nCONNECT Z\nCREATE TABLE \"T2" + NUL,
         {"T2" + NUL, "T1"}, {"Z", "SYSTEM"}, {"Z", "SYSTEM"}},
        {"a carriage return and line feed that end a name are consumed with it",
         "H\r\nDSYSTEM\r\n-- x\r\nCREATE TABLE \"T1\r\nCONNECT Z\r\nCREATE TABLE \"T2\"\r\n",
         {"T2", "T1"}, {"SYSTEM", "SYSTEM"}, {"SYSTEM"}},
        {"a carriage return on its own is data: it ends a name, but no line",
         "H\nDSYSTEM\r\r\n-- x\nCONNECT A\r\r\nCONNECT B\nCREATE TABLE \"T1\"\n\rCONNECT C\nCREATE TABLE \"T2\"\n",
         {"T2", "T1"}, {"B", "B"}, {"B", "A", "SYSTEM\r"}},
        {"no table at all", "H\nDSYSTEM\n", {}, {}, {"SYSTEM"}},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.what);
        std::vector<std::string> files = {r.file};
        // A file copied from a system that ends its lines with a carriage
        // return and a line feed reads as the same file.
        if (r.file.find('\r') == std::string::npos) files.push_back(with_crlf_line_ends(r.file));
        for (const std::string& file : files) {
            SCOPED_TRACE(&file == &files[0] ? "as written" : "with carriage returns");
            kvi_scan_result result = scan_text(file);
            EXPECT_EQ(result.tables, r.tables);
            EXPECT_EQ(result.owners, r.owners);
            EXPECT_EQ(result.users, r.users);
        }
    }
}

TEST(Scan, LongNamesAndManyTablesAreHeldWhole) {
    std::string file = "H\nDSYSTEM\n-- x\nCONNECT " + std::string(300, 'U') + "\n";
    for (int i = 0; i < 5000; ++i) file += "CREATE TABLE \"" + std::string(200, 'T') + std::to_string(i) + "\" ()\n";
    kvi_scan_result result = scan_text(file);
    ASSERT_EQ(result.tables.size(), 5000u);
    EXPECT_EQ(result.tables.front(), std::string(200, 'T') + "4999");
    EXPECT_EQ(result.owners.back(), std::string(300, 'U'));
}

// The file is read in pieces of 64 KiB: markers and names across the seams count.
TEST(Scan, MarkersAcrossReadSeams) {
    constexpr size_t SEAM = 65536;
    std::string file = "H\nDSYSTEM\n-- x\n";
    auto pad_to = [&](size_t at) { file += std::string(at - file.size(), 'x'); };
    pad_to(SEAM - 5);
    file += "CREATE TABLE \"T1\"";  // the marker across the first seam
    pad_to(2 * SEAM - 3);
    file += "\nCONNECT ALICE\n";  // the CONNECT marker across the second
    pad_to(3 * SEAM - 15);
    file += "CREATE TABLE \"" + std::string(40, 'N') + "\"";  // the name across the third
    pad_to(4 * SEAM - 15);
    file += "\nCONNECT CAROL\r";  // the line end after a name across the fourth
    file += "\nCONNECT DAVE\nCREATE TABLE \"T2\"";
    kvi_scan_result result = scan_text(file);
    EXPECT_EQ(result.tables, (names{"T2", std::string(40, 'N'), "T1"}));
    EXPECT_EQ(result.owners, (names{"CAROL", "ALICE", "SYSTEM"}));
    EXPECT_EQ(result.users, (names{"CAROL", "ALICE", "SYSTEM"}));
}

TEST(Scan, FilesShorterThanTwoLinesOrMissingAreRefused) {
    for (const char* text : {"", "only one line\n", "no line end"}) scan_text(text, 1011);
    kvi_scan_result result;
    EXPECT_EQ(kvi_scan_file("/nonexistent/expdat.dmp", &result), 1011);
    EXPECT_EQ(kvi_scan_file(testing::TempDir().c_str(), &result), 1011);  // a directory
}

namespace {

class RealDump : public vdbtest::InstanceTest {};

}  // namespace

// Whatever the data, the scan of a dump finds exactly the tables it holds,
// each with its true owner.
TEST_F(RealDump, ScanFindsExactlyTheDumpedTables) {
    run({"CREATE USER SALES IDENTIFIED BY demo", "CREATE USER HR IDENTIFIED BY demo", "CREATE USER EMPTY IDENTIFIED BY demo",
         "CREATE TABLE SALES.ORDERS (ID NUMBER(10), NOTE VARCHAR2(200))",
         "CREATE TABLE HR.ORDERS (ID NUMBER(10), NOTE VARCHAR2(200))",
         "CREATE TABLE HR.STAFF (NAME VARCHAR2(200))",
         "INSERT INTO SALES.ORDERS VALUES (1, 'x\nCONNECT EVIL\nCREATE TABLE \"FAKE\" (\"')",
         "INSERT INTO HR.STAFF VALUES ('\nCONNECT BY PRIOR\r\nCONNECT HR2\n\\\"')"});
    std::string parfile = loc.export_dir() + "/exppar1";
    FILE* f = std::fopen(parfile.c_str(), "w");
    std::fprintf(f, "system/demo\nFILE=%s/full.dmp\nFULL=Y\n", loc.export_dir().c_str());
    std::fclose(f);
    cgi_result run_result = run_cgi(KV_DBDUMP, {"dbdump", "PARFILE=" + parfile}, {{"VANTOR_HOME", loc.home}, {"VANTOR_SID", loc.sid}});
    ASSERT_EQ(run_result.exit_code, 0) << run_result.errors;

    kvi_scan_result result;
    ASSERT_EQ(kvi_scan_file((loc.export_dir() + "/full.dmp").c_str(), &result), 0);
    std::vector<std::string> found, expected;
    for (size_t i = 0; i < result.tables.size(); ++i) found.push_back(result.owners[i] + "." + result.tables[i]);
    for (const std::string& t : column("select owner || '.' || table_name from all_tables where not owner = 'SYS'"))
        expected.push_back(t);
    std::sort(found.begin(), found.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(found, expected);
    EXPECT_EQ(std::count(result.users.begin(), result.users.end(), "EVIL"), 0);
}
