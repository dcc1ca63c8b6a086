// The column list of a table: parsed from CREATE TABLE and written back in one
// canonical form, which is what SQLite receives and what an export file holds.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace vdb {

struct ColumnDefinition {
    std::string name;
    std::string type;  // with its length and scale: NUMBER(10,2)
    std::string default_value;  // literal as written into statement text, empty for none
    bool not_null = false;
    bool primary_key = false;
    bool unique = false;
};

struct TableKey {
    bool primary = false;  // else unique
    std::vector<std::string> columns;
};

struct TableDefinition {
    std::vector<ColumnDefinition> columns;
    std::vector<TableKey> keys;
};

// Parses the text between the parentheses of CREATE TABLE. Column names are
// unique without regard to case, at most one key is the primary key, and every
// key names columns of the table.
TableDefinition parse_table_definition(std::string_view text);

// The canonical text; without_constraints leaves out NOT NULL and the keys.
std::string definition_text(const TableDefinition& definition, bool with_constraints = true);

// Parses a column list "A, B" of an index into canonical text "\"A\", \"B\"".
std::string index_columns_text(std::string_view text);

// The names of a column list of an index, canonical or not.
std::vector<std::string> index_columns(std::string_view text);

}  // namespace vdb
