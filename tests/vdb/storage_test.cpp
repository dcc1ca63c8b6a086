// The rows of user tables: types, keys, transactions over several tables, a
// writer killed half way, and drops that leave nothing behind.
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <csignal>

#include "instance_fixture.h"
#include "vdb/db.h"

namespace vdbtest {
namespace {

using vdb::Value;

class StorageTest : public InstanceTest {
protected:
    // Rows of a query as SYSTEM, each value with its kind, as lines.
    std::vector<std::string> typed_rows(const std::string& query) {
        auto s = as("system");
        return typed_lines(*s->query(query));
    }

    static std::vector<std::string> typed_lines(vdb::Cursor& cursor) {
        std::vector<std::string> out;
        vdb::Row row;
        while (cursor.fetch(row)) out.push_back(line_of(row));
        return out;
    }

    static std::string line_of(const vdb::Row& row) {
        std::string line;
        for (const Value& v : row) {
            static const char* kinds[] = {"null", "int", "real", "text", "blob"};
            line += kinds[static_cast<int>(v.type)];
            line += v.type == Value::Type::real ? ":" + std::to_string(v.real) + "/" + std::to_string(std::signbit(v.real))
                                                : ":" + v.to_text();
            line += "|";
        }
        return line;
    }

    // A count read straight from the instance file, past the engine.
    int64_t stored(const std::string& query) {
        sqlite3* db = nullptr;
        EXPECT_EQ(sqlite3_open_v2(loc.database_file().c_str(), &db, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
        int64_t n = -1;
        vdb::query_integer(db, query, "", n);
        sqlite3_close(db);
        return n;
    }
};

// Every column keeps values as a plain SQLite column of the same declared type
// does, and compares them the same way.
TEST_F(StorageTest, ColumnsStoreAndCompareValuesAsAPlainColumnOfTheirType) {
    const char* columns = "(C1 NUMBER, C2 NUMBER(10,2), C3 INTEGER, C4 FLOAT, C5 VARCHAR2(20), C6 DATE, C7 BLOB, C8 CHAR(3))";
    const Value values[] = {
        Value::of("5"), Value::of(" 12 "), Value::of("3.0e+5"), Value::of("5."), Value::of(".5"), Value::of("1e"),
        Value::of("0x10"), Value::of("9223372036854775807"), Value::of("9223372036854775808"), Value::of("-0"),
        Value::of("2023-05-01"), Value::of("abc"), Value::of(""), Value::of("1e999"), Value::of(int64_t{5}),
        Value::of(int64_t{-7}), Value::of(int64_t{INT64_MIN}), Value::of(int64_t{9007199254740993}), Value::of(5.0),
        Value::of(0.1), Value::of(-0.0), Value::of(1e20), Value::of(1e300), Value::of(std::nan("")), Value::blob("\x01"),
        Value{},
    };
    run({"CREATE TABLE SYSTEM.T " + std::string(columns)});
    sqlite3* plain = nullptr;
    ASSERT_EQ(sqlite3_open(":memory:", &plain), SQLITE_OK);
    vdb::Stmt(plain, "CREATE TABLE T " + std::string(columns)).run();
    {
        auto s = as("system");
        vdb::Stmt insert(plain, "INSERT INTO T VALUES (?, ?, ?, ?, ?, ?, ?, ?)");
        for (const Value& v : values) {
            std::vector<Value> binds(8, v);
            s->execute("INSERT INTO SYSTEM.T VALUES (?, ?, ?, ?, ?, ?, ?, ?)", binds);
            vdb::bind_values(insert, binds);
            insert.run();
            insert.reset();
        }
        s->commit();
    }
    const char* queries[] = {"SELECT * FROM T", "SELECT count(*) FROM T WHERE C1 = '5'",
                             "SELECT count(*) FROM T WHERE C5 = 5", "SELECT C1, C4, C5 FROM T ORDER BY C1, C4, C5",
                             "SELECT count(*) FROM T WHERE C6 > 2000"};
    for (const char* query : queries) {
        SCOPED_TRACE(query);
        vdb::Stmt reference(plain, query);
        std::vector<std::string> expected;
        vdb::Row row;
        while (reference.step()) {
            row.resize(static_cast<size_t>(reference.columns()));
            for (size_t i = 0; i < row.size(); ++i) row[i] = reference.value(static_cast<int>(i));
            expected.push_back(line_of(row));
        }
        std::string ours = query;
        ours.replace(ours.find(" T"), 2, " SYSTEM.T");
        EXPECT_EQ(typed_rows(ours), expected);
    }
    sqlite3_close(plain);
}

TEST_F(StorageTest, KeysAndNotNullRefuseRowsAndARefusedStatementLeavesNothing) {
    run({"CREATE TABLE SYSTEM.K (ID NUMBER PRIMARY KEY, CODE VARCHAR2(10) UNIQUE, A NUMBER, B NUMBER, "
         "NOTE VARCHAR2(10) NOT NULL, UNIQUE (A, B))"});
    struct Case {
        const char* values;
        int code;
    };
    const Case cases[] = {
        {"(1, 'a', 1, 1, 'x')", 0},
        {"(1, 'b', 2, 2, 'x')", vdb::code::unique_violated},
        {"(1.0, 'b', 2, 2, 'x')", vdb::code::unique_violated},
        {"('1', 'b', 2, 2, 'x')", vdb::code::unique_violated},
        {"(2, 'a', 2, 2, 'x')", vdb::code::unique_violated},
        {"(2, 'b', 1, 1, 'x')", vdb::code::unique_violated},
        {"(3, 'c', 1, NULL, 'x')", 0},  // a key with a NULL in it binds nothing
        {"(4, 'd', 1, NULL, 'x')", 0},
        {"(NULL, 'e', 5, 5, 'x')", vdb::code::null_into_not_null},
        {"(5, 'f', 5, 5, NULL)", vdb::code::null_into_not_null},
        {"(6, 'g', 6, 6, 'x'), (6, 'h', 7, 7, 'x')", vdb::code::unique_violated},
        {"(7, 'g', 6, 6, 'x'), (8, 'h', 7, 7, 'x')", 0},  // the refused statement left no key
    };
    auto s = as("system");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.values);
        EXPECT_EQ(code_of([&] { s->execute(std::string("INSERT INTO SYSTEM.K VALUES ") + c.values); }), c.code);
    }
    s->commit();
    EXPECT_EQ(column("select id from system.k"), (std::vector<std::string>{"1", "3", "4", "7", "8"}));

    // A unique index checks the rows there are and every row that comes.
    struct Step {
        const char* statement;
        int code;
    };
    const Step steps[] = {
        {"CREATE UNIQUE INDEX SYSTEM.K_A ON SYSTEM.K (A)", vdb::code::unique_violated},
        {"CREATE UNIQUE INDEX SYSTEM.K_NO ON SYSTEM.K (NOPE)", vdb::code::invalid_identifier},
        {"CREATE UNIQUE INDEX SYSTEM.K_NOTE ON SYSTEM.K (NOTE, CODE)", 0},
        {"INSERT INTO SYSTEM.K VALUES (9, 'i', 9, 9, 'y')", 0},
        {"INSERT INTO SYSTEM.K VALUES (10, 'k', 10, 10, 'x')", 0},
        {"INSERT INTO SYSTEM.K VALUES (11, 'u', 11, 11, 'y'), (12, 'u', 12, 12, 'z')", vdb::code::unique_violated},
        {"DROP INDEX SYSTEM.K_NOTE", 0},
        {"CREATE INDEX SYSTEM.K_B ON SYSTEM.K (B)", 0},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.statement);
        EXPECT_EQ(code_of([&] { s->execute(step.statement); }), step.code);
    }
    s->commit();
    EXPECT_EQ(column("select segment_name from sys.dba_segments where segment_type = 'INDEX' and owner = 'SYSTEM'"),
              std::vector<std::string>{"K_B"});
}

TEST_F(StorageTest, InsertTakesColumnListsDefaultsAndRowsOfItsOwnTable) {
    run({"CREATE TABLE SYSTEM.T (ID NUMBER, STATUS VARCHAR2(10) DEFAULT 'OPEN', QTY NUMBER DEFAULT 1)",
         "INSERT INTO SYSTEM.T (ID) VALUES (3)", "INSERT INTO SYSTEM.T VALUES (1, 'X', 5)",
         "INSERT INTO T (QTY, ID) VALUES ('7', 2)",
         "INSERT INTO SYSTEM.T SELECT ID + 10, STATUS, QTY FROM SYSTEM.T WHERE ID < 10",
         "INSERT INTO SYSTEM.T DEFAULT VALUES"});
    EXPECT_EQ(typed_rows("select * from system.t"),
              (std::vector<std::string>{"int:3|text:OPEN|int:1|", "int:1|text:X|int:5|", "int:2|text:OPEN|int:7|",
                                        "int:13|text:OPEN|int:1|", "int:11|text:X|int:5|", "int:12|text:OPEN|int:7|",
                                        "null:|text:OPEN|int:1|"}));
    struct Case {
        const char* statement;
        int code;
    };
    const Case refused[] = {
        {"INSERT INTO SYSTEM.T (ID, ID) VALUES (1, 2)", vdb::code::invalid_identifier},
        {"INSERT INTO SYSTEM.T (NOPE) VALUES (1)", vdb::code::invalid_identifier},
        {"INSERT INTO SYSTEM.T VALUES (1)", vdb::code::invalid_sql},
        {"INSERT INTO SYS.DUAL VALUES ('x')", vdb::code::no_privilege},
        {"INSERT INTO SYSTEM.NOPE VALUES (1)", vdb::code::table_missing},
        {"INSERT OR REPLACE INTO SYSTEM.T VALUES (1, 'a', 2)", vdb::code::missing_expression},
        {"INSERT INTO SYSTEM.T SELECT * FROM vdb_rows", vdb::code::table_missing},
    };
    auto s = as("system");
    for (const auto& c : refused) {
        SCOPED_TRACE(c.statement);
        EXPECT_EQ(code_of([&] { s->execute(c.statement); }), c.code);
    }
    EXPECT_EQ(number("select count(*) from system.t"), 7);
}

// A cursor stays open while statements of the same session read other tables,
// also in a read-only transaction.
TEST_F(StorageTest, ReadersOfSeveralTablesRunSideBySide) {
    add_sales();
    auto sales = as("sales");
    sales->execute("SET TRANSACTION READ ONLY");
    auto orders = sales->query("select id from orders");
    vdb::Row row;
    ASSERT_TRUE(orders->fetch(row));
    EXPECT_EQ(typed_lines(*sales->query("select name from items where order_id = '2'")),
              std::vector<std::string>{"text:Stapler|"});
    EXPECT_EQ(typed_lines(*sales->query("select o.customer, i.name from orders o join items i on i.order_id = o.id "
                                        "order by o.id")),
              (std::vector<std::string>{"text:Becker|text:Desk lamp|", "text:Novak|text:Stapler|"}));
    int rest = 0;
    while (orders->fetch(row)) ++rest;
    EXPECT_EQ(rest, 2);
}

TEST_F(StorageTest, ATransactionOverSeveralTablesCommitsOrRollsBackWhole) {
    run({"CREATE USER SALES IDENTIFIED BY demo", "CREATE TABLE SALES.A (N NUMBER PRIMARY KEY)",
         "CREATE TABLE SALES.B (N NUMBER PRIMARY KEY)"});
    const std::string used = "select sum(bytes) from sys.dba_segments where owner = 'SALES'";
    const std::string counts = "select (select count(*) from sales.a) || '/' || (select count(*) from sales.b) from dual";
    int64_t before = number(used);
    {
        auto s = as("system");
        s->execute("INSERT INTO SALES.A VALUES (1)");
        s->execute("INSERT INTO SALES.B VALUES (1)");
        s->rollback();
    }
    EXPECT_EQ(column(counts).at(0), "0/0");
    EXPECT_EQ(number(used), before);

    // A writer killed half way through: nothing of its transaction stays, and
    // the next writer finds the instance free.
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        auto s = vdb::Session::connect(loc, "system", "demo");
        s->execute("INSERT INTO SALES.A VALUES (1)");
        auto writer = s->row_writer("SALES", "B");
        for (int64_t n = 1; n <= 5000; ++n) writer->add({Value::of(n)});
        writer->flush();
        raise(SIGKILL);
        _exit(0);
    }
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << status;
    EXPECT_EQ(column(counts).at(0), "0/0");
    EXPECT_EQ(number(used), before);

    run({"INSERT INTO SALES.A VALUES (1)", "INSERT INTO SALES.B VALUES (1)"});
    EXPECT_EQ(column(counts).at(0), "1/1");
}

TEST_F(StorageTest, DroppedTablesUsersAndTablespacesLeaveNoRowsOrKeys) {
    add_sales();
    run({"CREATE UNIQUE INDEX SALES.ITEMS_UX ON SALES.ITEMS (NAME)",
         "CREATE TABLESPACE T2 DATAFILE '" + file("t2.dbf") + "' SIZE 1M", "CREATE USER HR IDENTIFIED BY demo",
         "CREATE TABLE HR.X (A NUMBER PRIMARY KEY) TABLESPACE T2", "INSERT INTO HR.X VALUES (1)",
         "DROP TABLE SALES.ORDERS",
         "CREATE TABLE SALES.ORDERS (ID NUMBER(10) PRIMARY KEY, CUSTOMER VARCHAR2(40) NOT NULL, AMOUNT NUMBER(10,2))",
         "INSERT INTO SALES.ORDERS VALUES (1, 'Becker', 12.5)"});
    EXPECT_EQ(column("select customer from sales.orders"), std::vector<std::string>{"Becker"});
    EXPECT_GT(stored("select count(*) from vdb_keys"), 0);

    run({"DROP USER SALES CASCADE", "DROP TABLESPACE T2 INCLUDING CONTENTS AND DATAFILES"});
    EXPECT_EQ(stored("select count(*) from vdb_rows"), 0);
    EXPECT_EQ(stored("select count(*) from vdb_keys"), 0);
    EXPECT_EQ(stored("select count(*) from vdb_segments where kind in ('TABLE', 'INDEX')"), 0);
    // The used space of each tablespace is the sum of its segments.
    EXPECT_EQ(stored("select count(*) from vdb_tablespaces t where used_bytes != "
                     "(select coalesce(sum(bytes), 0) from vdb_segments s where s.tablespace = t.name)"),
              0);
}

}  // namespace
}  // namespace vdbtest
