// A thin layer over the SQLite C interface: an owned connection and statement,
// and SQLite failures turned into engine errors.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "vdb/value.h"

struct sqlite3;
struct sqlite3_stmt;

namespace vdb {

// The layout of the instance file that this engine reads and writes, kept in
// the file's user version. A file of the previous layout (before accounts had
// a status) is upgraded when it is opened; one of any other layout (made before
// user tables moved into the row store) is refused.
constexpr int instance_layout = 3;

class Db {
public:
    // Opens the instance database; create makes a new file of this layout.
    Db(const std::string& path, bool create);
    ~Db();
    Db(const Db&) = delete;
    Db& operator=(const Db&) = delete;

    sqlite3* handle() const { return db_; }
    void exec(const char* sql) const;

private:
    int64_t upgrade_layout();
    sqlite3* db_ = nullptr;
};

// A statement of a connection; one of a Db's connection is prepared once and
// taken from its cache again when the same text comes back.
class Stmt {
public:
    Stmt(sqlite3* db, std::string_view sql);
    ~Stmt();
    Stmt(const Stmt&) = delete;
    Stmt& operator=(const Stmt&) = delete;

    Stmt& bind(int index, const Value& value);
    Stmt& bind(int index, std::string_view text);
    Stmt& bind(int index, int64_t number);
    // Binds bytes without copying them: they must stay as they are until the
    // statement has run.
    Stmt& bind_blob(int index, std::string_view bytes);
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

    sqlite3_stmt* handle() const { return stmt_; }

private:
    void prepare(std::string_view sql);

    sqlite3* db_;
    sqlite3_stmt* stmt_ = nullptr;
    bool cached_ = false;
};

// Throws the engine error for a failed SQLite call.
[[noreturn]] void fail_sqlite(sqlite3* db, int rc);

// Binds values to the parameters of stmt in order; fails with -1008 unless
// there are as many values as parameters.
void bind_values(Stmt& stmt, const std::vector<Value>& values);

// One row answer, or nothing.
bool query_integer(sqlite3* db, std::string_view sql, std::string_view arg, int64_t& out);

}  // namespace vdb
