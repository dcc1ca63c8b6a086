#include "vdb/db.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <sqlite3.h>
#include <unordered_map>

#include "vdb/catalog.h"
#include "vdb/errors.h"

namespace vdb {

std::string Value::to_text() const {
    switch (type) {
    case Type::null: return "";
    case Type::integer: return std::to_string(integer);
    case Type::real: {
        char buffer[40];
        std::snprintf(buffer, sizeof buffer, "%.15g", real);
        return buffer;
    }
    default: return bytes;
    }
}

namespace {

// Each tool is a process that lives for one request: the library's running
// count of allocated memory (one lock and update per allocation) serves no
// one there. Must happen before the library's first use.
void configure_library_once() {
    static const bool configured = [] {
        sqlite3_config(SQLITE_CONFIG_MEMSTATUS, 0);
        return true;
    }();
    (void)configured;
}

// Statements each connection of a Db has prepared and may run again: the
// utilities run the same few dictionary statements for every table, and
// preparing one costs more than running it.
struct CachedStatement {
    std::string sql;
    sqlite3_stmt* stmt;
    bool in_use;
};
constexpr size_t statements_cached = 64;

std::unordered_map<sqlite3*, std::vector<CachedStatement>>& statement_caches() {
    static std::unordered_map<sqlite3*, std::vector<CachedStatement>> caches;
    return caches;
}

}  // namespace

Db::Db(const std::string& path, bool create) {
    configure_library_once();
    int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX | (create ? SQLITE_OPEN_CREATE : 0);
    int rc = sqlite3_open_v2(path.c_str(), &db_, flags, nullptr);
    if (rc != SQLITE_OK) {
        std::string reason = db_ ? sqlite3_errmsg(db_) : "out of memory";
        sqlite3_close(db_);
        db_ = nullptr;
        fail(code::io_failure, path + ": " + reason);
    }
    // Parallel requests of the tools each open the instance: writers wait for one
    // another instead of failing at once.
    sqlite3_busy_timeout(db_, 10000);
    sqlite3_extended_result_codes(db_, 1);
    try {
        if (create) {
            exec(("PRAGMA user_version = " + std::to_string(instance_layout)).c_str());
            return;
        }
        int64_t layout = 0;
        query_integer(db_, "PRAGMA user_version", "", layout);
        if (layout == instance_layout - 1) layout = upgrade_layout();
        if (layout != instance_layout)
            fail(code::io_failure, path + " was made by an engine of another version: make the instance anew "
                                          "with vdbadm create");
    } catch (...) {
        sqlite3_close(db_);
        db_ = nullptr;
        throw;
    }
    statement_caches()[db_];
}

// The previous layout differs only in what upgrade_dictionary adds. Parallel
// processes may find the old layout at once: the first one to take the write
// lock upgrades, the others find it done.
int64_t Db::upgrade_layout() {
    exec("BEGIN IMMEDIATE");
    try {
        int64_t layout = 0;
        query_integer(db_, "PRAGMA user_version", "", layout);
        if (layout == instance_layout - 1) {
            upgrade_dictionary(db_);
            exec(("PRAGMA user_version = " + std::to_string(instance_layout)).c_str());
            layout = instance_layout;
        }
        exec("COMMIT");
        return layout;
    } catch (...) {
        sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
        throw;
    }
}

Db::~Db() {
    auto cache = statement_caches().find(db_);
    if (cache != statement_caches().end()) {
        for (const auto& cached : cache->second) sqlite3_finalize(cached.stmt);
        statement_caches().erase(cache);
    }
    sqlite3_close_v2(db_);
}

void Db::exec(const char* sql) const {
    int rc = sqlite3_exec(db_, sql, nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK) fail_sqlite(db_, rc);
}

void fail_sqlite(sqlite3* db, int rc) {
    std::string detail = db ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
    switch (rc) {
    case SQLITE_CONSTRAINT_UNIQUE:
    case SQLITE_CONSTRAINT_PRIMARYKEY: fail(code::unique_violated, detail);
    case SQLITE_CONSTRAINT_NOTNULL: fail(code::null_into_not_null, detail);
    case SQLITE_BUSY:
    case SQLITE_BUSY_SNAPSHOT:
    case SQLITE_LOCKED: fail(code::resource_busy, detail);
    case SQLITE_CORRUPT:
    case SQLITE_NOTADB: fail(code::instance_corrupt, detail);
    default: break;
    }
    if ((rc & 0xff) == SQLITE_IOERR || rc == SQLITE_FULL || rc == SQLITE_CANTOPEN || rc == SQLITE_READONLY)
        fail(code::io_failure, detail);
    if (detail.rfind("no such column", 0) == 0) fail(code::invalid_identifier, detail);
    if (detail.rfind("no such table", 0) == 0) fail(code::table_missing, detail);
    if ((rc & 0xff) == SQLITE_CONSTRAINT) fail(code::unique_violated, detail);
    fail(code::invalid_sql, detail);
}

Stmt::Stmt(sqlite3* db, std::string_view sql) : db_(db) {
    auto cache = statement_caches().find(db);
    if (cache != statement_caches().end()) {
        for (auto& cached : cache->second)
            if (!cached.in_use && cached.sql == sql) {
                cached.in_use = true;
                stmt_ = cached.stmt;
                cached_ = true;
                return;
            }
    }
    prepare(sql);
    if (cache != statement_caches().end() && cache->second.size() < statements_cached) {
        cache->second.push_back(CachedStatement{std::string(sql), stmt_, true});
        cached_ = true;
    }
}

void Stmt::prepare(std::string_view sql) {
    const char* tail = nullptr;
    const char* end = sql.data() + sql.size();
    int rc = sqlite3_prepare_v2(db_, sql.data(), static_cast<int>(sql.size()), &stmt_, &tail);
    if (rc != SQLITE_OK) fail_sqlite(db_, rc);
    if (!stmt_) fail(code::invalid_sql, "the statement is empty");
    // One statement per call: a second one behind a semicolon is refused, so no
    // text can smuggle a statement past the checks of the first.
    while (tail && tail < end && std::strchr(" \t\r\n;", *tail)) ++tail;
    if (tail && tail < end) {
        sqlite3_finalize(stmt_);
        stmt_ = nullptr;
        fail(code::invalid_sql, "only one statement may be given");
    }
}

Stmt::~Stmt() {
    if (!cached_) {
        sqlite3_finalize(stmt_);
        return;
    }
    // Back into the cache of its connection, unless the connection has closed
    // (and finalized it) already.
    auto cache = statement_caches().find(db_);
    if (cache == statement_caches().end()) return;
    sqlite3_reset(stmt_);
    sqlite3_clear_bindings(stmt_);
    for (auto& cached : cache->second)
        if (cached.stmt == stmt_) cached.in_use = false;
}

Stmt& Stmt::bind(int index, const Value& value) {
    int rc = SQLITE_OK;
    switch (value.type) {
    case Value::Type::null: rc = sqlite3_bind_null(stmt_, index); break;
    case Value::Type::integer: rc = sqlite3_bind_int64(stmt_, index, value.integer); break;
    case Value::Type::real: rc = sqlite3_bind_double(stmt_, index, value.real); break;
    case Value::Type::text:
        rc = sqlite3_bind_text64(stmt_, index, value.bytes.data(), value.bytes.size(), SQLITE_TRANSIENT,
                                 SQLITE_UTF8);
        break;
    case Value::Type::blob:
        rc = sqlite3_bind_blob64(stmt_, index, value.bytes.data(), value.bytes.size(), SQLITE_TRANSIENT);
        break;
    }
    if (rc != SQLITE_OK) fail_sqlite(db_, rc);
    return *this;
}

Stmt& Stmt::bind(int index, std::string_view text) {
    // An empty view may carry no pointer at all, which SQLite would take for NULL.
    int rc = sqlite3_bind_text64(stmt_, index, text.data() ? text.data() : "", text.size(), SQLITE_TRANSIENT,
                                 SQLITE_UTF8);
    if (rc != SQLITE_OK) fail_sqlite(db_, rc);
    return *this;
}

Stmt& Stmt::bind_blob(int index, std::string_view bytes) {
    int rc = sqlite3_bind_blob64(stmt_, index, bytes.data() ? bytes.data() : "", bytes.size(), SQLITE_STATIC);
    if (rc != SQLITE_OK) fail_sqlite(db_, rc);
    return *this;
}

Stmt& Stmt::bind(int index, int64_t number) {
    int rc = sqlite3_bind_int64(stmt_, index, number);
    if (rc != SQLITE_OK) fail_sqlite(db_, rc);
    return *this;
}

int Stmt::parameter_count() const { return sqlite3_bind_parameter_count(stmt_); }

bool Stmt::step() {
    int rc = sqlite3_step(stmt_);
    if (rc == SQLITE_ROW) return true;
    if (rc == SQLITE_DONE) return false;
    fail_sqlite(db_, rc);
}

void Stmt::run() {
    while (step()) {
    }
}

void Stmt::reset() {
    sqlite3_reset(stmt_);
    sqlite3_clear_bindings(stmt_);
}

int Stmt::columns() const { return sqlite3_column_count(stmt_); }

std::string Stmt::column_name(int column) const {
    const char* name = sqlite3_column_name(stmt_, column);
    return name ? name : "";
}

bool Stmt::is_null(int column) const { return sqlite3_column_type(stmt_, column) == SQLITE_NULL; }

int64_t Stmt::integer(int column) const { return sqlite3_column_int64(stmt_, column); }

std::string Stmt::text(int column) const {
    const unsigned char* text = sqlite3_column_text(stmt_, column);
    return text ? std::string(reinterpret_cast<const char*>(text), sqlite3_column_bytes(stmt_, column)) : "";
}

Value Stmt::value(int column) const {
    switch (sqlite3_column_type(stmt_, column)) {
    case SQLITE_INTEGER: return Value::of(static_cast<int64_t>(sqlite3_column_int64(stmt_, column)));
    case SQLITE_FLOAT: return Value::of(sqlite3_column_double(stmt_, column));
    case SQLITE_TEXT: return Value::of(std::string_view(reinterpret_cast<const char*>(sqlite3_column_text(stmt_, column)),
                                                         sqlite3_column_bytes(stmt_, column)));
    case SQLITE_BLOB: {
        const void* data = sqlite3_column_blob(stmt_, column);
        return Value::blob(std::string_view(static_cast<const char*>(data), sqlite3_column_bytes(stmt_, column)));
    }
    default: return Value{};
    }
}

void bind_values(Stmt& stmt, const std::vector<Value>& values) {
    if (stmt.parameter_count() != static_cast<int>(values.size()))
        fail(code::variables_unbound, "the statement has " + std::to_string(stmt.parameter_count()) +
                                          " variables, " + std::to_string(values.size()) + " values were given");
    for (size_t i = 0; i < values.size(); ++i) stmt.bind(static_cast<int>(i + 1), values[i]);
}

bool query_integer(sqlite3* db, std::string_view sql, std::string_view arg, int64_t& out) {
    Stmt stmt(db, sql);
    if (stmt.parameter_count() > 0) stmt.bind(1, arg);
    if (!stmt.step() || stmt.is_null(0)) return false;
    out = stmt.integer(0);
    return true;
}

}  // namespace vdb
