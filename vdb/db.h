// A thin layer over the SQLite C interface: an owned connection and statement,
// and SQLite failures turned into engine errors.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "vdb/value.h"

struct sqlite3;
struct sqlite3_stmt;

namespace vdb {

class Db {
public:
    // Opens the instance database; create makes a new file.
    Db(const std::string& path, bool create);
    ~Db();
    Db(const Db&) = delete;
    Db& operator=(const Db&) = delete;

    sqlite3* handle() const { return db_; }
    void exec(const char* sql) const;

private:
    sqlite3* db_ = nullptr;
};

class Stmt {
public:
    Stmt(sqlite3* db, std::string_view sql);
    ~Stmt();
    Stmt(const Stmt&) = delete;
    Stmt& operator=(const Stmt&) = delete;

    Stmt& bind(int index, const Value& value);
    Stmt& bind(int index, std::string_view text);
    Stmt& bind(int index, int64_t number);
    int parameter_count() const;
    // True when a row is ready, false at the end.
    bool step();
    // Steps to the end; for statements that return no rows.
    void run();
    void reset();

    int columns() const;
    std::string column_name(int column) const;
    bool is_null(int column) const;
    int64_t integer(int column) const;
    std::string text(int column) const;
    Value value(int column) const;
    // The bytes a cell takes, as the space accounting counts them.
    int64_t cell_bytes(int column) const;

    sqlite3_stmt* handle() const { return stmt_; }

private:
    sqlite3* db_;
    sqlite3_stmt* stmt_ = nullptr;
};

// Throws the engine error for a failed SQLite call.
[[noreturn]] void fail_sqlite(sqlite3* db, int rc);

// One row answer, or nothing.
bool query_integer(sqlite3* db, std::string_view sql, std::string_view arg, int64_t& out);

}  // namespace vdb
