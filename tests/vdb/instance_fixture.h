// A fresh instance in a temporary home for each test, and small helpers.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "vdb/instance.h"
#include "vdb/session.h"

namespace vdbtest {

class InstanceTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/vdbtestXXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        loc = vdb::Location{pattern, "TEST"};
        vdb::create_instance(loc, "demo");
        setenv("VANTOR_HOME", loc.home.c_str(), 1);
        setenv("VANTOR_SID", loc.sid.c_str(), 1);
    }
    void TearDown() override { std::filesystem::remove_all(loc.home); }

    std::unique_ptr<vdb::Session> as(const std::string& user) { return vdb::Session::connect(loc, user, "demo"); }

    // Runs statements as SYSTEM, committing each.
    void run(const std::vector<std::string>& statements) {
        auto s = as("system");
        for (const auto& statement : statements) {
            s->execute(statement);
            s->commit();
        }
    }

    // The first column of every row of a query as SYSTEM, as text.
    std::vector<std::string> column(const std::string& query) {
        auto s = as("system");
        auto cursor = s->query(query);
        std::vector<std::string> out;
        vdb::Row row;
        while (cursor->fetch(row)) out.push_back(row[0].to_text());
        return out;
    }

    int64_t number(const std::string& query) { return std::stoll(column(query).at(0)); }

    // The code of the error a call throws, 0 when it throws none.
    template <typename Body>
    static int code_of(Body body) {
        try {
            body();
        } catch (const vdb::Error& error) {
            return error.code();
        }
        return 0;
    }

    std::string file(const std::string& name) const { return loc.dbs_dir() + "/" + name; }

    // Users with tables and rows, as most tests need them.
    void add_sales() {
        run({"CREATE USER SALES IDENTIFIED BY demo", "CREATE USER EVE IDENTIFIED BY demo",
             "GRANT CONNECT TO EVE",
             "CREATE TABLE SALES.ORDERS (ID NUMBER(10) PRIMARY KEY, CUSTOMER VARCHAR2(40) NOT NULL, AMOUNT NUMBER(10,2))",
             "CREATE INDEX SALES.ORDERS_CUSTOMER_IX ON SALES.ORDERS (CUSTOMER)",
             "CREATE TABLE SALES.ITEMS (ORDER_ID NUMBER(10), NAME VARCHAR2(40))",
             "INSERT INTO SALES.ORDERS VALUES (1, 'Becker', 12.5)",
             "INSERT INTO SALES.ORDERS VALUES (2, 'Novak', 99.99)",
             "INSERT INTO SALES.ORDERS VALUES (3, 'Silva', NULL)",
             "INSERT INTO SALES.ITEMS VALUES (1, 'Desk lamp')",
             "INSERT INTO SALES.ITEMS VALUES (2, 'Stapler')"});
    }

    vdb::Location loc;
};

}  // namespace vdbtest
