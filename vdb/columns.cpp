#include "vdb/columns.h"

#include "vdb/errors.h"
#include "vdb/home.h"
#include "vdb/sqltext.h"

namespace vdb {

namespace {

// Splits tokens at the commas that are not inside parentheses.
std::vector<std::vector<Token>> split_elements(std::string_view text) {
    std::vector<std::vector<Token>> elements(1);
    int depth = 0;
    for (Token& token : tokenize(text)) {
        if (token.kind == TokenKind::symbol && token.text == "(") ++depth;
        if (token.kind == TokenKind::symbol && token.text == ")") --depth;
        if (depth == 0 && token.kind == TokenKind::symbol && token.text == ",") {
            elements.emplace_back();
            continue;
        }
        elements.back().push_back(std::move(token));
    }
    return elements;
}

std::vector<std::string> name_list(TokenReader& reader) {
    reader.expect_symbol('(');
    std::vector<std::string> names;
    do names.push_back(reader.name());
    while (reader.accept_symbol(','));
    reader.expect_symbol(')');
    return names;
}

std::string literal(TokenReader& reader) {
    if (reader.accept("NULL")) return "NULL";
    const Token* t = reader.peek();
    if (t && t->kind == TokenKind::string) {
        // The canonical text must never hold a double quote or a line break: the
        // definition is one line of an export file.
        std::string text = reader.string_literal();
        for (char c : text)
            if (c == '"' || static_cast<unsigned char>(c) < 0x20)
                fail(code::not_supported, "a default text may hold no double quote or control character");
        return quote_literal(text);
    }
    return reader.number();
}

std::string type_text(TokenReader& reader) {
    const Token* t = reader.peek();
    if (!t || t->kind != TokenKind::word) reader.syntax_error();
    std::string type = t->value;
    reader.name();
    if (reader.accept_symbol('(')) {
        type += "(" + std::to_string(reader.integer());
        if (reader.accept_symbol(',')) type += "," + std::to_string(reader.integer());
        reader.expect_symbol(')');
        type += ")";
    }
    return type;
}

ColumnDefinition parse_column(TokenReader& reader) {
    ColumnDefinition column;
    column.name = reader.name();
    column.type = type_text(reader);
    while (!reader.at_end()) {
        if (reader.accept("CONSTRAINT")) reader.name();
        if (reader.accept("NOT")) {
            reader.expect("NULL");
            column.not_null = true;
        } else if (reader.accept("NULL")) {
        } else if (reader.accept("PRIMARY")) {
            reader.expect("KEY");
            column.primary_key = true;
        } else if (reader.accept("UNIQUE")) {
            column.unique = true;
        } else if (reader.accept("DEFAULT")) {
            column.default_value = literal(reader);
        } else {
            reader.syntax_error();
        }
    }
    return column;
}

bool starts_key(const Token* t) {
    return t && t->kind == TokenKind::word &&
           (t->value == "CONSTRAINT" || t->value == "PRIMARY" || t->value == "UNIQUE" || t->value == "CHECK" ||
            t->value == "FOREIGN");
}

TableKey parse_key(TokenReader& reader) {
    if (reader.accept("CONSTRAINT")) reader.name();
    TableKey key;
    if (reader.accept("PRIMARY")) {
        reader.expect("KEY");
        key.primary = true;
    } else if (!reader.accept("UNIQUE")) {
        fail(code::not_supported, "only PRIMARY KEY and UNIQUE table constraints are supported");
    }
    key.columns = name_list(reader);
    return key;
}

std::string names_text(const std::vector<std::string>& names) {
    std::string out;
    for (const auto& name : names) out += (out.empty() ? "" : ", ") + quote_name(name);
    return out;
}

// Statements find a column by its name in any case, so names that differ
// only in case would be one column to them.
bool same_column(std::string_view a, std::string_view b) { return upper(a) == upper(b); }

bool has_column(const TableDefinition& definition, std::string_view name) {
    for (const auto& column : definition.columns)
        if (same_column(column.name, name)) return true;
    return false;
}

void check_columns_and_keys(const TableDefinition& definition) {
    const auto& columns = definition.columns;
    for (size_t i = 0; i < columns.size(); ++i)
        for (size_t j = 0; j < i; ++j)
            if (same_column(columns[i].name, columns[j].name))
                fail(code::name_in_use, "column " + columns[i].name + " is named twice");
    int primary = 0;
    for (const auto& column : columns) primary += column.primary_key;
    for (const auto& key : definition.keys) {
        primary += key.primary;
        for (const auto& name : key.columns)
            if (!has_column(definition, name)) fail(code::invalid_identifier, "the key names no column " + name);
    }
    if (primary > 1) fail(code::invalid_sql, "a table has at most one primary key");
}

}  // namespace

TableDefinition parse_table_definition(std::string_view text) {
    TableDefinition definition;
    for (auto& element : split_elements(text)) {
        TokenReader reader(std::move(element));
        if (reader.at_end()) reader.syntax_error();
        if (starts_key(reader.peek()))
            definition.keys.push_back(parse_key(reader));
        else
            definition.columns.push_back(parse_column(reader));
        reader.expect_end();
    }
    if (definition.columns.empty()) fail(code::missing_expression, "a table needs at least one column");
    check_columns_and_keys(definition);
    return definition;
}

std::string definition_text(const TableDefinition& definition, bool with_constraints) {
    std::string out;
    for (const auto& column : definition.columns) {
        out += (out.empty() ? "" : ", ") + quote_name(column.name) + " " + column.type;
        if (!column.default_value.empty()) out += " DEFAULT " + column.default_value;
        if (!with_constraints) continue;
        if (column.not_null) out += " NOT NULL";
        if (column.primary_key) out += " PRIMARY KEY";
        if (column.unique) out += " UNIQUE";
    }
    if (with_constraints)
        for (const auto& key : definition.keys)
            out += std::string(", ") + (key.primary ? "PRIMARY KEY (" : "UNIQUE (") + names_text(key.columns) + ")";
    return out;
}

std::string index_columns_text(std::string_view text) { return names_text(index_columns(text)); }

std::vector<std::string> index_columns(std::string_view text) {
    TokenReader reader("(" + std::string(text) + ")");
    auto names = name_list(reader);
    reader.expect_end();
    return names;
}

}  // namespace vdb
