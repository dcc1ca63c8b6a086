// INSERT INTO [OWNER.]TABLE [(COLUMN, ...)] {VALUES ... | SELECT ... | WITH ... | DEFAULT VALUES}
//
// The source runs as a query, and its rows are stored when it has ended, so a
// table may take rows from itself. Columns the statement leaves out get their
// DEFAULT, or NULL.
#pragma once

#include <string>
#include <vector>

#include "vdb/context.h"
#include "vdb/resolve.h"
#include "vdb/sqltext.h"
#include "vdb/value.h"

namespace vdb {

class Stmt;

class InsertStatement {
public:
    // Reads the statement and resolves its tables; takes no lock yet.
    InsertStatement(const SessionContext& ctx, const std::vector<Token>& tokens);
    ~InsertStatement();

    const ResolvedTable& target() const { return target_; }
    // Stores the rows, inside the caller's write transaction; returns how many.
    int64_t run(const std::vector<Value>& binds);
    // The space the stored rows take.
    int64_t bytes() const { return bytes_; }

private:
    std::vector<Row> source_rows(const std::vector<Value>& binds) const;

    sqlite3* db_;
    ResolvedTable target_;
    std::vector<std::string> columns_;  // as the statement names them; empty for all
    std::string source_;                // the rewritten query; empty for DEFAULT VALUES
    int64_t bytes_ = 0;
};

}  // namespace vdb
