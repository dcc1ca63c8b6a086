#include "vdb/rowstore.h"

#include <cmath>
#include <cstring>
#include <sqlite3.h>

#include "vdb/columns.h"
#include "vdb/errors.h"
#include "vdb/home.h"
#include "vdb/space.h"

namespace vdb {

namespace {

enum Tag : uint8_t { tag_null, tag_integer, tag_real, tag_text, tag_blob };

constexpr int64_t rows_per_table = int64_t(1) << 32;

void append_varint(std::string& out, uint64_t v) {
    while (v >= 0x80) {
        out += static_cast<char>(v | 0x80);
        v >>= 7;
    }
    out += static_cast<char>(v);
}

bool read_varint(std::string_view data, size_t& at, uint64_t& v) {
    v = 0;
    for (int shift = 0; shift < 64; shift += 7) {
        if (at >= data.size()) return false;
        auto byte = static_cast<uint8_t>(data[at++]);
        v |= uint64_t(byte & 0x7f) << shift;
        if (!(byte & 0x80)) return true;
    }
    return false;
}

void append_integer(std::string& out, int64_t n) {
    out += static_cast<char>(tag_integer);
    append_varint(out, (static_cast<uint64_t>(n) << 1) ^ static_cast<uint64_t>(n >> 63));
}

void append_real(std::string& out, double r) {
    uint64_t bits;
    std::memcpy(&bits, &r, sizeof bits);
    out += static_cast<char>(tag_real);
    for (int i = 0; i < 8; ++i) out += static_cast<char>(bits >> (8 * i));
}

void append_bytes(std::string& out, Tag tag, std::string_view bytes) {
    out += static_cast<char>(tag);
    append_varint(out, bytes.size());
    out.append(bytes);
}

void append_value(std::string& out, const Value& v) {
    switch (v.type) {
    case Value::Type::null: out += static_cast<char>(tag_null); break;
    case Value::Type::integer: append_integer(out, v.integer); break;
    case Value::Type::real: append_real(out, v.real); break;
    case Value::Type::text: append_bytes(out, tag_text, v.bytes); break;
    case Value::Type::blob: append_bytes(out, tag_blob, v.bytes); break;
    }
}

bool read_field(std::string_view data, size_t& at, Field& field) {
    auto tag = static_cast<uint8_t>(data[at++]);
    uint64_t v = 0;
    switch (tag) {
    case tag_null: field.type = Value::Type::null; return true;
    case tag_integer:
        if (!read_varint(data, at, v)) return false;
        field.type = Value::Type::integer;
        field.integer = static_cast<int64_t>((v >> 1) ^ (~(v & 1) + 1));
        return true;
    case tag_real:
        if (data.size() - at < 8) return false;
        for (int i = 0; i < 8; ++i) v |= uint64_t(static_cast<uint8_t>(data[at + size_t(i)])) << (8 * i);
        std::memcpy(&field.real, &v, sizeof v);
        field.type = Value::Type::real;
        at += 8;
        return true;
    case tag_text:
    case tag_blob:
        if (!read_varint(data, at, v) || v > data.size() - at) return false;
        field.type = tag == tag_text ? Value::Type::text : Value::Type::blob;
        field.bytes = data.substr(at, v);
        at += v;
        return true;
    default: return false;
    }
}

// An integer of a key in 8 bytes that sort as the numbers do, so that rising
// keys (most primary keys) are appended to the key table instead of being
// spread over it.
void append_key_integer(std::string& out, int64_t n) {
    out += static_cast<char>(tag_integer);
    auto bits = static_cast<uint64_t>(n) ^ (uint64_t(1) << 63);
    for (int i = 7; i >= 0; --i) out += static_cast<char>(bits >> (8 * i));
}

// A number of a key as its integer when it is a whole one, so that the values
// a comparison takes for equal (1 and 1.0, 0 and -0.0) make the same key.
void append_key_value(std::string& out, const Value& v) {
    if (v.type == Value::Type::integer) return append_key_integer(out, v.integer);
    if (v.type == Value::Type::real && v.real > -9223372036854775808.0 && v.real < 9223372036854775808.0 &&
        static_cast<double>(static_cast<int64_t>(v.real)) == v.real)
        return append_key_integer(out, static_cast<int64_t>(v.real));
    append_value(out, v);
}

// The key of row under key; false when one of its columns is NULL (such a row
// takes no part in the key, as in SQLite).
bool make_key(std::string& out, const Row& row, const StoredKey& key) {
    out.clear();
    for (size_t column : key.columns) {
        if (row[column].is_null()) return false;
        append_key_value(out, row[column]);
    }
    return true;
}

void fields_to_row(const std::vector<Field>& fields, Row& row) {
    row.resize(fields.size());
    for (size_t i = 0; i < fields.size(); ++i) {
        Value& v = row[i];
        v.type = fields[i].type;
        v.integer = fields[i].integer;
        v.real = fields[i].real;
        v.bytes.assign(fields[i].bytes);
    }
}

bool same_name(std::string_view a, std::string_view b) { return upper(a) == upper(b); }

void add_key(StoredTable& table, int64_t id, std::string name, const std::vector<std::string>& columns) {
    table.keys.push_back(StoredKey{id, std::move(name), column_positions(table, columns)});
}

std::string key_name(const StoredTable& table, const std::vector<std::string>& columns) {
    std::string name = table.owner + "." + table.name + " (";
    for (size_t i = 0; i < columns.size(); ++i) name += (i ? ", " : "") + columns[i];
    return name + ")";
}

}  // namespace

RowRange row_range(int64_t segment) {
    // Segment ids count up from 1 and are never used again: 2^31 of them fit.
    if (segment <= 0 || segment >= (int64_t(1) << 31))
        fail(code::instance_corrupt, "no rows for segment " + std::to_string(segment));
    return {segment * rows_per_table, segment * rows_per_table + rows_per_table - 1};
}

void append_record(std::string& out, const Row& row) {
    for (const Value& v : row) append_value(out, v);
}

bool split_record(std::string_view data, std::vector<Field>& fields) {
    fields.clear();
    size_t at = 0;
    while (at < data.size()) {
        fields.emplace_back();
        if (!read_field(data, at, fields.back())) return false;
    }
    return true;
}

std::vector<size_t> column_positions(const StoredTable& table, const std::vector<std::string>& names) {
    std::vector<size_t> out;
    for (const auto& name : names) {
        size_t i = 0;
        while (i < table.columns.size() && !same_name(table.columns[i].name, name)) ++i;
        if (i == table.columns.size()) fail(code::invalid_identifier, table.owner + "." + table.name + " has no column " + name);
        out.push_back(i);
    }
    return out;
}

StoredTable stored_table(sqlite3* db, const SegmentRecord& segment) {
    StoredTable table{segment.id, segment.owner, segment.name, {}, {}};
    TableDefinition definition = parse_table_definition(segment.definition);
    for (const auto& c : definition.columns)
        // A primary key identifies its row: its columns hold no NULL.
        table.columns.push_back({c.name, c.type, affinity_of(c.type), c.not_null || c.primary_key, c.default_value});
    int64_t id = 0;
    for (const auto& c : definition.columns)
        if (c.primary_key || c.unique) add_key(table, --id, key_name(table, {c.name}), {c.name});
    for (const auto& key : definition.keys) {
        add_key(table, --id, key_name(table, key.columns), key.columns);
        if (key.primary)
            for (size_t column : table.keys.back().columns) table.columns[column].not_null = true;
    }
    for (const auto& index : segments(db, "INDEX", segment.owner, segment.name))
        if (index.unique) add_key(table, index.id, index.owner + "." + index.name, index_columns(index.definition));
    return table;
}

RowInserter::RowInserter(sqlite3* db, StoredTable table)
    : db_(db),
      table_(std::move(table)),
      last_row_(db, "SELECT id FROM vdb_rows WHERE id > ?1 AND id <= ?2 ORDER BY id DESC LIMIT 1"),
      insert_row_(db, "INSERT INTO vdb_rows(id, data) VALUES (?1, ?2)"),
      insert_key_(db, "INSERT OR IGNORE INTO vdb_keys(segment, key_id, value) VALUES (?1, ?2, ?3)"),
      remove_key_(db, "DELETE FROM vdb_keys WHERE segment = ?1 AND key_id = ?2 AND value = ?3") {}

RowInserter::~RowInserter() = default;

int64_t RowInserter::insert(Row& row) {
    if (row.size() != table_.columns.size())
        fail(code::invalid_sql, std::to_string(row.size()) + " values for the " + std::to_string(table_.columns.size()) +
                                    " columns of " + table_.owner + "." + table_.name);
    int64_t bytes = row_overhead;
    for (size_t i = 0; i < row.size(); ++i) {
        apply_affinity(row[i], table_.columns[i].affinity);
        bytes += cell_bytes(row[i].type, row[i].bytes.size());
    }
    check_not_null(row);
    enter_keys(row);
    store(row);
    return bytes;
}

void RowInserter::check_not_null(const Row& row) const {
    for (size_t i = 0; i < row.size(); ++i)
        if (row[i].is_null() && table_.columns[i].not_null)
            fail(code::null_into_not_null, table_.owner + "." + table_.name + "." + table_.columns[i].name);
}

void RowInserter::enter_keys(const Row& row) {
    entered_.resize(table_.keys.size());
    for (size_t k = 0; k < table_.keys.size(); ++k) {
        const StoredKey& key = table_.keys[k];
        if (!make_key(entered_[k], row, key)) {
            entered_[k].clear();
            continue;
        }
        insert_key_.bind(1, table_.segment).bind(2, key.id).bind_blob(3, entered_[k]);
        insert_key_.run();
        insert_key_.reset();
        if (sqlite3_changes(db_) > 0) continue;
        // Taken already: the keys this row entered so far go again.
        for (size_t done = 0; done < k; ++done) {
            if (entered_[done].empty()) continue;
            remove_key_.bind(1, table_.segment).bind(2, table_.keys[done].id).bind_blob(3, entered_[done]);
            remove_key_.run();
            remove_key_.reset();
        }
        fail(code::unique_violated, key.name);
    }
}

void RowInserter::store(const Row& row) {
    RowRange range = row_range(table_.segment);
    record_.clear();
    append_record(record_, row);
    for (int attempt = 0;; ++attempt) {
        if (next_id_ == 0) {
            last_row_.bind(1, range.first).bind(2, range.last);
            next_id_ = last_row_.step() ? last_row_.integer(0) + 1 : range.first + 1;
            last_row_.reset();
        }
        if (next_id_ > range.last) fail(code::cannot_extend, table_.owner + "." + table_.name + " holds all the rows it can");
        insert_row_.bind(1, next_id_).bind_blob(2, record_);
        try {
            insert_row_.run();
            insert_row_.reset();
            ++next_id_;
            return;
        } catch (const Error& error) {
            insert_row_.reset();
            // Another writer added rows since this one last looked: look again.
            if (error.code() != code::unique_violated || attempt > 0) throw;
            next_id_ = 0;
        }
    }
}

void enter_index_keys(sqlite3* db, const SegmentRecord& table, const SegmentRecord& index) {
    StoredTable stored = stored_table(db, table);
    const StoredKey* key = nullptr;
    for (const auto& k : stored.keys)
        if (k.id == index.id) key = &k;
    if (!key) return;
    Stmt insert(db, "INSERT OR IGNORE INTO vdb_keys(segment, key_id, value) VALUES (?1, ?2, ?3)");
    RowScan scan(db, table.id);
    Row row;
    std::string value;
    while (scan.next(row)) {
        if (!make_key(value, row, *key)) continue;
        insert.bind(1, table.id).bind(2, index.id).bind_blob(3, value);
        insert.run();
        insert.reset();
        if (sqlite3_changes(db) == 0) fail(code::unique_violated, key->name + ": rows of the table share a value");
    }
}

void remove_table_rows(sqlite3* db, int64_t segment) {
    RowRange range = row_range(segment);
    Stmt rows(db, "DELETE FROM vdb_rows WHERE id > ?1 AND id <= ?2");
    rows.bind(1, range.first).bind(2, range.last);
    rows.run();
    Stmt keys(db, "DELETE FROM vdb_keys WHERE segment = ?1");
    keys.bind(1, segment);
    keys.run();
}

void remove_index_keys(sqlite3* db, int64_t table_segment, int64_t index_segment) {
    Stmt keys(db, "DELETE FROM vdb_keys WHERE segment = ?1 AND key_id = ?2");
    keys.bind(1, table_segment).bind(2, index_segment);
    keys.run();
}

RowScan::RowScan(sqlite3* db, int64_t segment) : stmt_(db, "SELECT data FROM vdb_rows WHERE id > ?1 AND id <= ?2") {
    RowRange range = row_range(segment);
    stmt_.bind(1, range.first).bind(2, range.last);
}

bool RowScan::next(Row& row) {
    if (!stmt_.step()) return false;
    const void* data = sqlite3_column_blob(stmt_.handle(), 0);
    std::string_view record(static_cast<const char*>(data), static_cast<size_t>(sqlite3_column_bytes(stmt_.handle(), 0)));
    if (!split_record(record, fields_)) fail(code::instance_corrupt, "a stored row is damaged");
    fields_to_row(fields_, row);
    return true;
}

}  // namespace vdb
