// How statements read user tables: through a virtual table of the connection's
// temporary schema, made the first time a statement of the connection names
// the table. Its columns carry the table's declared types, so a comparison
// converts values as it would for a column of a plain SQLite table
// (WHERE ID = '2' finds the number 2). Only the tables a connection names are
// ever made, so a statement costs what its own tables cost.
#pragma once

#include <cstdint>
#include <string>

struct sqlite3;

namespace vdb {

// Registers the reading module on a connection.
void register_row_tables(sqlite3* db);

// The name by which a statement of the connection reads the table of segment.
std::string row_table_name(sqlite3* db, int64_t segment);

}  // namespace vdb
