// The import utility: reads an export file and recreates its tables, rows and
// indexes, and in a full import its tablespaces, users and roles.
//
// FILE, LOG, FULL, FROMUSER, TOUSER, TABLES, ROWS, GRANTS, INDEXES, CONSTRAINTS,
// IGNORE, COMMIT, DESTROY and INDEXFILE are honoured; BUFFER, RECORDLENGTH,
// INCTYPE, SHOW and FEEDBACK are accepted.
//
// - FROMUSER lists the schemas to import; TOUSER pairs with it by position (a
//   schema without a partner keeps its own name). Without FULL or FROMUSER the
//   importing user's own schema is imported.
// - A table that fails is reported and the next one goes on. IGNORE=Y lets an
//   existing table receive the rows. With COMMIT=N a table's rows are committed
//   together, so a failed table keeps none; COMMIT=Y commits after each BUFFER
//   bytes of rows.
// - DESTROY=Y lets a full import take over existing data files.
// - INDEXFILE=f writes the table and index statements to f and imports nothing.
#pragma once

#include <initializer_list>
#include <string_view>

#include "vdb/utility.h"

namespace vdb {

extern const std::initializer_list<std::string_view> import_parameters;

int run_import(const UtilityParameters& parameters, Session& session, Report& report);

}  // namespace vdb
