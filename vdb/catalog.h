// The dictionary inside the instance database: the internal tables (vdb_*), the
// views the tools query, and lookups of users, tablespaces and segments.
//
// The rows of user tables live in fixed tables of their own (rowstore.h);
// dictionary views are named "SYS.VIEW". Statement text never reaches either by
// its SQLite name: every table reference is resolved against the dictionary
// first (resolve.h).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct sqlite3;

namespace vdb {

// Creates the internal tables and the dictionary views of a new instance.
void create_dictionary(sqlite3* db);

// Brings the dictionary of the previous instance layout to this one, inside the
// caller's write transaction: accounts gain their status (all open).
void upgrade_dictionary(sqlite3* db);

// Registers the functions the views call, and the reader of user tables, on a
// connection of a session.
void register_session_functions(sqlite3* db, const std::string& user);

struct UserRecord {
    std::string name;
    std::string password;  // salted hash
    std::string default_tablespace;
    std::string alias_of;  // the schema a login name such as INTERNAL stands for
    bool locked = false;   // the account may not log on
};

struct TablespaceRecord {
    std::string name;
    std::string status;    // ONLINE, OFFLINE, READ ONLY
    std::string contents;  // PERMANENT, TEMPORARY
};

struct SegmentRecord {
    std::string owner;
    std::string name;
    std::string kind;  // TABLE, INDEX
    std::string tablespace;
    int64_t bytes = 0;
    std::string table_name;  // of an index
    std::string definition;  // column list of a table, column list of an index
    bool unique = false;     // of an index
    int64_t id = 0;          // of the segment, never used again once it is dropped
};

std::optional<UserRecord> find_user(sqlite3* db, std::string_view name);
bool has_role(sqlite3* db, std::string_view user, std::string_view role);
bool role_exists(sqlite3* db, std::string_view role);
std::optional<TablespaceRecord> find_tablespace(sqlite3* db, std::string_view name);
std::optional<SegmentRecord> find_segment(sqlite3* db, std::string_view owner, std::string_view name);
// Tables (or indexes of a table) in dictionary order.
std::vector<SegmentRecord> segments(sqlite3* db, std::string_view kind, std::string_view owner = {},
                                    std::string_view table = {});
// The tables and indexes of a tablespace.
std::vector<SegmentRecord> segments_in(sqlite3* db, std::string_view tablespace);
std::vector<UserRecord> users(sqlite3* db);
std::vector<std::string> roles_of(sqlite3* db, std::string_view user);

// The SQLite name of a dictionary view.
std::string storage_name(std::string_view owner, std::string_view name);

// A view of the dictionary as statements name it.
struct DictionaryView {
    std::string_view name;
    bool needs_dba;
};
const DictionaryView* find_dictionary_view(std::string_view name);

// The owner of the dictionary; its objects are never exported.
constexpr std::string_view dictionary_owner = "SYS";

// Space a new table or index takes at once.
constexpr int64_t initial_extent = 64 * 1024;

}  // namespace vdb
