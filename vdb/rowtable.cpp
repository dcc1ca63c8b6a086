#include "vdb/rowtable.h"

#include <exception>
#include <sqlite3.h>
#include <vector>

#include "vdb/columns.h"
#include "vdb/db.h"
#include "vdb/errors.h"
#include "vdb/rowstore.h"
#include "vdb/sqltext.h"

namespace vdb {

namespace {

constexpr const char* module_name = "vdb_table";

struct RowTable {
    sqlite3_vtab base{};  // first: SQLite knows the table by it
    sqlite3* db = nullptr;
    RowRange range{};
};

struct RowCursor {
    sqlite3_vtab_cursor base{};  // first: SQLite knows the cursor by it
    sqlite3_stmt* stmt = nullptr;
    std::vector<Field> fields;
    int64_t id = 0;
    bool eof = true;
};

RowTable* table_of(sqlite3_vtab_cursor* cursor) { return reinterpret_cast<RowTable*>(cursor->pVtab); }
RowCursor* cursor_of(sqlite3_vtab_cursor* cursor) { return reinterpret_cast<RowCursor*>(cursor); }

int report(sqlite3_vtab* table, int rc, const std::string& message) {
    sqlite3_free(table->zErrMsg);
    table->zErrMsg = sqlite3_mprintf("%s", message.c_str());
    return rc;
}

// The columns of the table of segment with their declared types, as the
// virtual table shows them.
std::string declaration(sqlite3* db, int64_t segment) {
    Stmt stmt(db, "SELECT definition FROM main.vdb_segments WHERE id = ? AND kind = 'TABLE'");
    stmt.bind(1, segment);
    if (!stmt.step()) fail(code::table_missing, "segment " + std::to_string(segment));
    const auto definition = parse_table_definition(stmt.text(0));
    std::string text = "CREATE TABLE x(";
    for (size_t i = 0; i < definition.columns.size(); ++i)
        text += (i ? ", " : "") + quote_name(definition.columns[i].name) + " " + definition.columns[i].type;
    return text + ")";
}

int connect(sqlite3* db, void*, int argc, const char* const* argv, sqlite3_vtab** out, char** error) {
    try {
        int64_t segment = argc == 4 ? std::stoll(argv[3]) : 0;
        int rc = sqlite3_declare_vtab(db, declaration(db, segment).c_str());
        if (rc != SQLITE_OK) return rc;
        auto* row_table = new RowTable;
        row_table->db = db;
        row_table->range = row_range(segment);
        *out = &row_table->base;
        return SQLITE_OK;
    } catch (const std::exception& e) {
        *error = sqlite3_mprintf("%s", e.what());
        return SQLITE_ERROR;
    }
}

int disconnect(sqlite3_vtab* table) {
    delete reinterpret_cast<RowTable*>(table);
    return SQLITE_OK;
}

// A table is read whole, in row order.
int best_index(sqlite3_vtab*, sqlite3_index_info* info) {
    info->estimatedCost = 1e6;
    return SQLITE_OK;
}

int open_cursor(sqlite3_vtab* base, sqlite3_vtab_cursor** out) {
    auto* table = reinterpret_cast<RowTable*>(base);
    auto* cursor = new RowCursor;
    int rc = sqlite3_prepare_v2(table->db, "SELECT id, data FROM main.vdb_rows WHERE id > ?1 AND id <= ?2", -1,
                                &cursor->stmt, nullptr);
    if (rc != SQLITE_OK) {
        delete cursor;
        return rc;
    }
    *out = &cursor->base;
    return SQLITE_OK;
}

int close_cursor(sqlite3_vtab_cursor* base) {
    RowCursor* cursor = cursor_of(base);
    sqlite3_finalize(cursor->stmt);
    delete cursor;
    return SQLITE_OK;
}

int step(sqlite3_vtab_cursor* base) {
    RowCursor* cursor = cursor_of(base);
    int rc = sqlite3_step(cursor->stmt);
    cursor->eof = rc != SQLITE_ROW;
    if (rc == SQLITE_DONE) return SQLITE_OK;
    if (rc != SQLITE_ROW) return report(base->pVtab, rc, sqlite3_errmsg(table_of(base)->db));
    cursor->id = sqlite3_column_int64(cursor->stmt, 0);
    std::string_view data(static_cast<const char*>(sqlite3_column_blob(cursor->stmt, 1)),
                          static_cast<size_t>(sqlite3_column_bytes(cursor->stmt, 1)));
    if (!split_record(data, cursor->fields))
        return report(base->pVtab, SQLITE_CORRUPT, "row " + std::to_string(cursor->id) + " is damaged");
    return SQLITE_OK;
}

int filter(sqlite3_vtab_cursor* base, int, const char*, int, sqlite3_value**) {
    RowCursor* cursor = cursor_of(base);
    const RowRange& range = table_of(base)->range;
    sqlite3_reset(cursor->stmt);
    sqlite3_bind_int64(cursor->stmt, 1, range.first);
    sqlite3_bind_int64(cursor->stmt, 2, range.last);
    return step(base);
}

int at_end(sqlite3_vtab_cursor* base) { return cursor_of(base)->eof; }

int column(sqlite3_vtab_cursor* base, sqlite3_context* context, int i) {
    const RowCursor* cursor = cursor_of(base);
    if (i < 0 || static_cast<size_t>(i) >= cursor->fields.size()) {
        sqlite3_result_null(context);
        return SQLITE_OK;
    }
    const Field& field = cursor->fields[static_cast<size_t>(i)];
    switch (field.type) {
    case Value::Type::null: sqlite3_result_null(context); break;
    case Value::Type::integer: sqlite3_result_int64(context, field.integer); break;
    case Value::Type::real: sqlite3_result_double(context, field.real); break;
    case Value::Type::text:
        sqlite3_result_text64(context, field.bytes.data(), field.bytes.size(), SQLITE_TRANSIENT, SQLITE_UTF8);
        break;
    case Value::Type::blob: sqlite3_result_blob64(context, field.bytes.data(), field.bytes.size(), SQLITE_TRANSIENT); break;
    }
    return SQLITE_OK;
}

int row_id(sqlite3_vtab_cursor* base, sqlite3_int64* out) {
    *out = cursor_of(base)->id - table_of(base)->range.first;
    return SQLITE_OK;
}

const sqlite3_module module = [] {
    sqlite3_module m{};
    m.iVersion = 1;
    m.xCreate = connect;
    m.xConnect = connect;
    m.xBestIndex = best_index;
    m.xDisconnect = disconnect;
    m.xDestroy = disconnect;
    m.xOpen = open_cursor;
    m.xClose = close_cursor;
    m.xFilter = filter;
    m.xNext = step;
    m.xEof = at_end;
    m.xColumn = column;
    m.xRowid = row_id;
    return m;
}();

}  // namespace

void register_row_tables(sqlite3* db) { sqlite3_create_module_v2(db, module_name, &module, nullptr, nullptr); }

std::string row_table_name(sqlite3* db, int64_t segment) {
    std::string name = "temp.vdb_table_" + std::to_string(segment);
    std::string create =
        "CREATE VIRTUAL TABLE IF NOT EXISTS " + name + " USING " + module_name + "(" + std::to_string(segment) + ")";
    int rc = sqlite3_exec(db, create.c_str(), nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK) fail_sqlite(db, rc);
    return name;
}

}  // namespace vdb
