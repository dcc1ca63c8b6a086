// Statements that change the dictionary: tablespaces, users, roles, tables, indexes.
#pragma once

#include "vdb/context.h"
#include "vdb/sqltext.h"

namespace vdb {

// Runs one statement that starts with CREATE, ALTER, DROP, GRANT or REVOKE
// (reader stands on that word), inside the caller's write transaction.
void run_definition(SessionContext& ctx, TokenReader& reader);

// A user name also appears unquoted on the schema lines of export files, where
// the name ends at the first blank and a name beginning with BY is taken for a
// clause of a stored query: such names are refused.
bool valid_user_name(std::string_view name);

}  // namespace vdb
