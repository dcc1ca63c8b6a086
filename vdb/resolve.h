// Table references of statement text, resolved against the dictionary.
//
// A statement names tables as TABLE, OWNER.TABLE or a dictionary view; SQLite
// knows them as "OWNER.TABLE" and "SYS.VIEW". Every name in a table position is
// looked up, checked for privilege and tablespace state, and replaced, so that no
// statement reaches an internal table or another user's data by accident.
#pragma once

#include <string>
#include <vector>

#include "vdb/context.h"
#include "vdb/sqltext.h"

namespace vdb {

enum class Access { read, write };

struct ResolvedTable {
    std::string owner;
    std::string name;
    std::string tablespace;  // empty for a dictionary view
    std::string storage;     // the SQLite name, quoted
};

ResolvedTable resolve_table(const SessionContext& ctx, const QualifiedName& name, Access access);

struct RewrittenStatement {
    std::string text;
    std::vector<ResolvedTable> targets;  // the table an INSERT writes
};

// Rewrites a SELECT (or WITH) or INSERT statement for SQLite.
RewrittenStatement rewrite_statement(const SessionContext& ctx, const std::vector<Token>& tokens);

}  // namespace vdb
