// Table references of statement text, resolved against the dictionary.
//
// A statement names tables as TABLE, OWNER.TABLE or a dictionary view; SQLite
// reads a user table through its row table (rowtable.h) and a view as
// "SYS.VIEW". Every name in a table position (after FROM, JOIN, a comma of a
// FROM list, or IN) is looked up, checked for privilege and tablespace state,
// and replaced, so that no statement reaches an internal table or another
// user's data by accident.
#pragma once

#include <string>
#include <vector>

#include "vdb/catalog.h"
#include "vdb/context.h"
#include "vdb/sqltext.h"

namespace vdb {

enum class Access { read, write };

struct ResolvedTable {
    std::string owner;
    std::string name;
    std::string tablespace;  // empty for a dictionary view
    SegmentRecord segment;   // of a user table
};

ResolvedTable resolve_table(const SessionContext& ctx, const QualifiedName& name, Access access);

// Rewrites a query (SELECT, WITH or VALUES) for SQLite.
std::string rewrite_query(const SessionContext& ctx, const std::vector<Token>& tokens);

}  // namespace vdb
