#include "vdb/insert.h"

#include <sqlite3.h>

#include "vdb/db.h"
#include "vdb/errors.h"
#include "vdb/rowstore.h"

namespace vdb {

namespace {

bool starts_query(const Token* t) {
    return t && t->kind == TokenKind::word && (t->value == "VALUES" || t->value == "SELECT" || t->value == "WITH");
}

// The value of a DEFAULT literal, as SQLite reads it.
Value literal_value(sqlite3* db, const std::string& literal) {
    if (literal.empty()) return Value{};
    Stmt stmt(db, "SELECT " + literal);
    stmt.step();
    return stmt.value(0);
}

// Where each value of a source row goes; every column at most once.
std::vector<size_t> target_positions(const StoredTable& table, const std::vector<std::string>& columns) {
    std::vector<size_t> positions;
    if (columns.empty()) {
        for (size_t i = 0; i < table.columns.size(); ++i) positions.push_back(i);
        return positions;
    }
    positions = column_positions(table, columns);
    for (size_t i = 0; i < positions.size(); ++i)
        for (size_t j = 0; j < i; ++j)
            if (positions[i] == positions[j]) fail(code::invalid_identifier, "column " + columns[i] + " is named twice");
    return positions;
}

// A row of the defaults of the columns the statement leaves out.
Row default_row(sqlite3* db, const StoredTable& table, const std::vector<size_t>& given) {
    Row row(table.columns.size());
    std::vector<bool> named(table.columns.size());
    for (size_t position : given) named[position] = true;
    for (size_t i = 0; i < row.size(); ++i)
        if (!named[i]) row[i] = literal_value(db, table.columns[i].default_value);
    return row;
}

}  // namespace

InsertStatement::InsertStatement(const SessionContext& ctx, const std::vector<Token>& tokens) : db_(ctx.db) {
    TokenReader reader(tokens);
    reader.expect("INSERT");
    reader.expect("INTO");
    target_ = resolve_table(ctx, reader.qualified_name(), Access::write);
    if (reader.accept_symbol('(')) {
        do columns_.push_back(reader.name());
        while (reader.accept_symbol(','));
        reader.expect_symbol(')');
    }
    if (columns_.empty() && reader.accept("DEFAULT")) {
        reader.expect("VALUES");
        reader.expect_end();
        return;
    }
    if (!starts_query(reader.peek())) reader.syntax_error();
    source_ = rewrite_query(ctx, reader.rest());
}

InsertStatement::~InsertStatement() = default;

std::vector<Row> InsertStatement::source_rows(const std::vector<Value>& binds) const {
    if (source_.empty()) {
        if (!binds.empty()) fail(code::variables_unbound, "DEFAULT VALUES takes no values");
        return {Row{}};
    }
    Stmt stmt(db_, source_);
    if (!sqlite3_stmt_readonly(stmt.handle())) fail(code::invalid_sql, "the rows of an INSERT come from a query");
    bind_values(stmt, binds);
    std::vector<Row> rows;
    while (stmt.step()) {
        Row& row = rows.emplace_back(static_cast<size_t>(stmt.columns()));
        for (size_t i = 0; i < row.size(); ++i) row[i] = stmt.value(static_cast<int>(i));
    }
    return rows;
}

int64_t InsertStatement::run(const std::vector<Value>& binds) {
    if (!target_.segment.id) fail(code::no_privilege, target_.owner + "." + target_.name);
    RowInserter inserter(db_, stored_table(db_, target_.segment));
    std::vector<size_t> positions = target_positions(inserter.table(), columns_);
    if (source_.empty()) positions.clear();
    const Row defaults = default_row(db_, inserter.table(), positions);
    std::vector<Row> rows = source_rows(binds);
    for (Row& values : rows) {
        if (values.size() != positions.size())
            fail(code::invalid_sql, std::to_string(values.size()) + " values for " + std::to_string(positions.size()) +
                                        " columns of " + target_.owner + "." + target_.name);
        Row row = defaults;
        for (size_t j = 0; j < positions.size(); ++j) row[positions[j]] = std::move(values[j]);
        bytes_ += inserter.insert(row);
    }
    return static_cast<int64_t>(rows.size());
}

}  // namespace vdb
