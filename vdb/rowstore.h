// The rows of every user table, in two tables of the dictionary's own file whose
// schema never grows:
//
//   vdb_rows(id, data)              one row of any table: id is the table's
//                                   segment id times 2^32 plus its row number,
//                                   so a table's rows are one range in row order;
//                                   data holds its values (record format below)
//   vdb_keys(segment, key, value)   one entry per row and unique key (PRIMARY KEY,
//                                   UNIQUE, a unique index): a second row with
//                                   the same key value cannot be entered
//
// A table is a segment of the dictionary (vdb_segments) with its column list,
// so creating one writes a few dictionary rows, and no connection ever parses
// a schema that grows with the tables. Everything sits in one database file, so
// a transaction over several tables commits or rolls back as a whole, also when
// its process dies half way.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "vdb/affinity.h"
#include "vdb/catalog.h"
#include "vdb/db.h"
#include "vdb/value.h"

struct sqlite3;

namespace vdb {

// The id range of a table's rows: first is one below its first row.
struct RowRange {
    int64_t first;
    int64_t last;
};
RowRange row_range(int64_t segment);

// Rows as stored: a tag byte per value, then the value (integers as zig-zag
// varints, reals as 8 bytes, text and blobs as a varint length and the bytes).
void append_record(std::string& out, const Row& row);

// One value of a record, without copying its bytes.
struct Field {
    Value::Type type = Value::Type::null;
    int64_t integer = 0;
    double real = 0;
    std::string_view bytes;
};
// Splits data into fields; false when it is not a well-formed record.
bool split_record(std::string_view data, std::vector<Field>& fields);

struct StoredColumn {
    std::string name;
    std::string type;  // as declared: NUMBER(10,2)
    Affinity affinity;
    bool not_null;
    std::string default_value;  // a literal, empty for none
};

struct StoredKey {
    int64_t id;                   // negative for a key of the column list, the segment id of a unique index
    std::string name;             // for the message when it is violated
    std::vector<size_t> columns;  // positions in the table
};

// What storing a row of a table needs to know.
struct StoredTable {
    int64_t segment;
    std::string owner, name;
    std::vector<StoredColumn> columns;
    std::vector<StoredKey> keys;
};

// The table of segment (a TABLE record) with its keys and unique indexes.
StoredTable stored_table(sqlite3* db, const SegmentRecord& table);

// The column positions that a list of column names of an index or key names.
std::vector<size_t> column_positions(const StoredTable& table, const std::vector<std::string>& names);

// Stores whole rows into one table, inside the caller's write transaction.
class RowInserter {
public:
    RowInserter(sqlite3* db, StoredTable table);
    ~RowInserter();
    const StoredTable& table() const { return table_; }

    // Applies the columns' types to row, checks NOT NULL and the keys, and stores
    // it; a row that is refused leaves nothing behind. Returns the bytes it takes.
    int64_t insert(Row& row);

private:
    void check_not_null(const Row& row) const;
    void enter_keys(const Row& row);
    void store(const Row& row);

    sqlite3* db_;
    StoredTable table_;
    Stmt last_row_, insert_row_, insert_key_, remove_key_;
    int64_t next_id_ = 0;
    std::string record_;
    std::vector<std::string> entered_;  // key values of the current row
};

// Enters the keys of a new unique index for every row of its table: fails with
// -1 when two rows share a value.
void enter_index_keys(sqlite3* db, const SegmentRecord& table, const SegmentRecord& index);

// Removes every row and key of a table, or the keys of one unique index.
void remove_table_rows(sqlite3* db, int64_t segment);
void remove_index_keys(sqlite3* db, int64_t table_segment, int64_t index_segment);

// The rows of a table in row order, decoded.
class RowScan {
public:
    RowScan(sqlite3* db, int64_t segment);
    bool next(Row& row);

private:
    Stmt stmt_;
    std::vector<Field> fields_;
};

}  // namespace vdb
