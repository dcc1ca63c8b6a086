#include "vdb/catalog.h"

#include <array>
#include <sqlite3.h>

#include "vdb/db.h"
#include "vdb/rowtable.h"

namespace vdb {

namespace {

constexpr const char* internal_tables = R"(
CREATE TABLE vdb_users(name TEXT PRIMARY KEY, password TEXT NOT NULL,
  default_tablespace TEXT NOT NULL, alias_of TEXT, created TEXT NOT NULL,
  account_status TEXT NOT NULL DEFAULT 'OPEN');
CREATE TABLE vdb_roles(name TEXT PRIMARY KEY);
INSERT INTO vdb_roles VALUES ('DBA'), ('CONNECT'), ('RESOURCE');
CREATE TABLE vdb_role_grants(username TEXT NOT NULL, role TEXT NOT NULL, PRIMARY KEY(username, role));
CREATE TABLE vdb_tablespaces(name TEXT PRIMARY KEY, status TEXT NOT NULL, contents TEXT NOT NULL,
  used_bytes INTEGER NOT NULL DEFAULT 0);
CREATE TABLE vdb_datafiles(file_id INTEGER PRIMARY KEY, name TEXT NOT NULL UNIQUE,
  tablespace TEXT NOT NULL, bytes INTEGER NOT NULL, autoextensible INTEGER NOT NULL,
  increment_bytes INTEGER NOT NULL, max_bytes INTEGER NOT NULL);
CREATE TABLE vdb_segments(id INTEGER PRIMARY KEY AUTOINCREMENT, owner TEXT NOT NULL, name TEXT NOT NULL,
  kind TEXT NOT NULL, tablespace TEXT NOT NULL, bytes INTEGER NOT NULL, table_name TEXT, definition TEXT NOT NULL,
  is_unique INTEGER NOT NULL DEFAULT 0, UNIQUE(owner, name));
CREATE INDEX vdb_segments_table ON vdb_segments(table_name, owner) WHERE table_name IS NOT NULL;
CREATE TRIGGER vdb_segments_added AFTER INSERT ON vdb_segments BEGIN
  UPDATE vdb_tablespaces SET used_bytes = used_bytes + new.bytes WHERE name = new.tablespace;
END;
CREATE TRIGGER vdb_segments_removed AFTER DELETE ON vdb_segments BEGIN
  UPDATE vdb_tablespaces SET used_bytes = used_bytes - old.bytes WHERE name = old.tablespace;
END;
CREATE TRIGGER vdb_segments_resized AFTER UPDATE OF bytes, tablespace ON vdb_segments BEGIN
  UPDATE vdb_tablespaces SET used_bytes = used_bytes - old.bytes WHERE name = old.tablespace;
  UPDATE vdb_tablespaces SET used_bytes = used_bytes + new.bytes WHERE name = new.tablespace;
END;
CREATE TABLE vdb_rows(id INTEGER PRIMARY KEY, data BLOB NOT NULL);
CREATE TABLE vdb_keys(segment INTEGER NOT NULL, key_id INTEGER NOT NULL, value BLOB NOT NULL,
  PRIMARY KEY(segment, key_id, value)) WITHOUT ROWID;
CREATE TABLE vdb_parameters(name TEXT NOT NULL, value TEXT NOT NULL);
CREATE TABLE vdb_logfiles(group_id INTEGER NOT NULL, member TEXT NOT NULL);
)";

// A commit writes every page it changed, and the import commits once for each
// table: so the segments have no index by tablespace (only dropping one looks
// for them that way), and the index of the indexes of a table leaves tables out.
//
// The space of a tablespace is filled file by file in file order, so the free
// space of each file follows from the tablespace's used bytes (which the
// triggers above keep, so that no page sums the segments of every table).
constexpr const char* dictionary_views = R"(
CREATE VIEW "SYS.DBA_DATA_FILES" AS SELECT name AS file_name, file_id, tablespace AS tablespace_name,
  bytes, bytes / 8192 AS blocks, 'AVAILABLE' AS status,
  CASE autoextensible WHEN 1 THEN 'YES' ELSE 'NO' END AS autoextensible,
  max_bytes AS maxbytes, increment_bytes / 8192 AS increment_by FROM vdb_datafiles;
CREATE VIEW "SYS.DBA_TABLESPACES" AS SELECT name AS tablespace_name, status, contents,
  8192 AS block_size FROM vdb_tablespaces;
CREATE VIEW "SYS.DBA_FREE_SPACE" AS
  WITH files AS (SELECT file_id, tablespace, bytes,
    sum(bytes) OVER (PARTITION BY tablespace ORDER BY file_id) - bytes AS before FROM vdb_datafiles),
  free AS (SELECT f.file_id, f.tablespace,
    f.bytes - min(f.bytes, max(0, coalesce(t.used_bytes, 0) - f.before)) AS bytes
    FROM files f LEFT JOIN vdb_tablespaces t ON t.name = f.tablespace)
  SELECT tablespace AS tablespace_name, file_id, 1 AS block_id, bytes, bytes / 8192 AS blocks
  FROM free WHERE bytes > 0;
CREATE VIEW "SYS.DBA_SEGMENTS" AS SELECT owner, name AS segment_name, kind AS segment_type,
  tablespace AS tablespace_name, bytes FROM vdb_segments;
CREATE VIEW "SYS.ALL_USERS" AS SELECT name AS username, rowid AS user_id, created
  FROM vdb_users WHERE alias_of IS NULL;
CREATE VIEW "SYS.ALL_TABLES" AS SELECT owner, name AS table_name, tablespace AS tablespace_name
  FROM vdb_segments WHERE kind = 'TABLE' AND (owner = vdb_session_user() OR vdb_session_is_dba());
CREATE VIEW "SYS.USER_TABLES" AS SELECT name AS table_name, tablespace AS tablespace_name
  FROM vdb_segments WHERE kind = 'TABLE' AND owner = vdb_session_user();
CREATE VIEW "SYS.USER_ROLE_PRIVS" AS SELECT username, role AS granted_role, 'NO' AS admin_option,
  'YES' AS default_role FROM vdb_role_grants WHERE username = vdb_session_user();
CREATE VIEW "SYS.V$DATAFILE" AS SELECT file_id, name, 'ONLINE' AS status, bytes FROM vdb_datafiles;
CREATE VIEW "SYS.V$LOGFILE" AS SELECT group_id, member, '' AS status FROM vdb_logfiles;
CREATE VIEW "SYS.V$PARAMETER" AS SELECT name, value FROM vdb_parameters;
CREATE VIEW "SYS.DUAL" AS SELECT 'X' AS dummy;
)";

// The views of the accounts, which an instance of the previous layout gets anew
// when its users learn their account status.
constexpr const char* account_views = R"(
CREATE VIEW "SYS.DBA_USERS" AS SELECT name AS username, account_status, default_tablespace,
  created FROM vdb_users WHERE alias_of IS NULL;
CREATE VIEW "SYS.DBA_ROLE_PRIVS" AS SELECT username AS grantee, role AS granted_role, 'NO' AS admin_option,
  'YES' AS default_role FROM vdb_role_grants;
)";

constexpr const char* accounts_upgrade = R"(
ALTER TABLE vdb_users ADD COLUMN account_status TEXT NOT NULL DEFAULT 'OPEN';
DROP VIEW "SYS.DBA_USERS";
)";

constexpr std::array views{
    DictionaryView{"DBA_DATA_FILES", true}, DictionaryView{"DBA_TABLESPACES", true},
    DictionaryView{"DBA_FREE_SPACE", true}, DictionaryView{"DBA_SEGMENTS", true},
    DictionaryView{"DBA_USERS", true},      DictionaryView{"ALL_USERS", false},
    DictionaryView{"ALL_TABLES", false},    DictionaryView{"USER_TABLES", false},
    DictionaryView{"USER_ROLE_PRIVS", false}, DictionaryView{"DBA_ROLE_PRIVS", true},
    DictionaryView{"V$DATAFILE", false},
    DictionaryView{"V$LOGFILE", false},     DictionaryView{"V$PARAMETER", false},
    DictionaryView{"V$SESSION", true},  // a virtual table of the session store (sessions.h)
    DictionaryView{"DUAL", false},
};

struct SessionUser {
    std::string name;
};

void session_user_function(sqlite3_context* context, int, sqlite3_value**) {
    auto* user = static_cast<SessionUser*>(sqlite3_user_data(context));
    sqlite3_result_text(context, user->name.c_str(), -1, SQLITE_TRANSIENT);
}

void session_is_dba_function(sqlite3_context* context, int, sqlite3_value**) {
    auto* user = static_cast<SessionUser*>(sqlite3_user_data(context));
    sqlite3_result_int(context, has_role(sqlite3_context_db_handle(context), user->name, "DBA"));
}

void exec_script(sqlite3* db, const char* sql) {
    int rc = sqlite3_exec(db, sql, nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK) fail_sqlite(db, rc);
}

SegmentRecord segment_from(const Stmt& stmt) {
    return SegmentRecord{stmt.text(0), stmt.text(1), stmt.text(2), stmt.text(3), stmt.integer(4),
                         stmt.text(5), stmt.text(6), stmt.integer(7) != 0, stmt.integer(8)};
}

constexpr std::string_view segment_columns =
    "SELECT owner, name, kind, tablespace, bytes, coalesce(table_name, ''), definition, is_unique, id "
    "FROM vdb_segments ";

std::vector<SegmentRecord> all_segments(Stmt& stmt) {
    std::vector<SegmentRecord> out;
    while (stmt.step()) out.push_back(segment_from(stmt));
    return out;
}

}  // namespace

void create_dictionary(sqlite3* db) {
    for (const char* sql : {internal_tables, dictionary_views, account_views}) exec_script(db, sql);
}

void upgrade_dictionary(sqlite3* db) {
    for (const char* sql : {accounts_upgrade, account_views}) exec_script(db, sql);
}

void register_session_functions(sqlite3* db, const std::string& user) {
    auto* data = new SessionUser{user};
    auto destroy = [](void* p) { delete static_cast<SessionUser*>(p); };
    // The first registration owns data and frees it when the connection closes.
    // Deterministic: a view calls them once per statement, not once per row
    // (all_tables has a row for every table).
    sqlite3_create_function_v2(db, "vdb_session_user", 0, SQLITE_UTF8 | SQLITE_DETERMINISTIC, data,
                               session_user_function, nullptr, nullptr, destroy);
    sqlite3_create_function_v2(db, "vdb_session_is_dba", 0, SQLITE_UTF8 | SQLITE_DETERMINISTIC, data,
                               session_is_dba_function, nullptr, nullptr, nullptr);
    register_row_tables(db);
}

std::optional<UserRecord> find_user(sqlite3* db, std::string_view name) {
    Stmt stmt(db, "SELECT name, password, default_tablespace, coalesce(alias_of, ''), account_status = 'LOCKED' "
                  "FROM vdb_users WHERE name = ?");
    stmt.bind(1, name);
    if (!stmt.step()) return std::nullopt;
    return UserRecord{stmt.text(0), stmt.text(1), stmt.text(2), stmt.text(3), stmt.integer(4) != 0};
}

std::vector<UserRecord> users(sqlite3* db) {
    Stmt stmt(db, "SELECT name, password, default_tablespace, account_status = 'LOCKED' FROM vdb_users "
                  "WHERE alias_of IS NULL ORDER BY name");
    std::vector<UserRecord> out;
    while (stmt.step()) out.push_back(UserRecord{stmt.text(0), stmt.text(1), stmt.text(2), "", stmt.integer(3) != 0});
    return out;
}

bool has_role(sqlite3* db, std::string_view user, std::string_view role) {
    Stmt stmt(db, "SELECT 1 FROM vdb_role_grants WHERE username = ? AND role = ?");
    stmt.bind(1, user).bind(2, role);
    return stmt.step();
}

std::vector<std::string> roles_of(sqlite3* db, std::string_view user) {
    Stmt stmt(db, "SELECT role FROM vdb_role_grants WHERE username = ? ORDER BY role");
    stmt.bind(1, user);
    std::vector<std::string> out;
    while (stmt.step()) out.push_back(stmt.text(0));
    return out;
}

bool role_exists(sqlite3* db, std::string_view role) {
    Stmt stmt(db, "SELECT 1 FROM vdb_roles WHERE name = ?");
    stmt.bind(1, role);
    return stmt.step();
}

std::optional<TablespaceRecord> find_tablespace(sqlite3* db, std::string_view name) {
    Stmt stmt(db, "SELECT name, status, contents FROM vdb_tablespaces WHERE name = ?");
    stmt.bind(1, name);
    if (!stmt.step()) return std::nullopt;
    return TablespaceRecord{stmt.text(0), stmt.text(1), stmt.text(2)};
}

std::optional<SegmentRecord> find_segment(sqlite3* db, std::string_view owner, std::string_view name) {
    Stmt stmt(db, std::string(segment_columns) + "WHERE owner = ? AND name = ?");
    stmt.bind(1, owner).bind(2, name);
    if (!stmt.step()) return std::nullopt;
    return segment_from(stmt);
}

std::vector<SegmentRecord> segments(sqlite3* db, std::string_view kind, std::string_view owner,
                                    std::string_view table) {
    // Only the conditions that are given, so that an index of the dictionary
    // answers each form: a utility asks once per table.
    std::string where = "WHERE kind = ?1";
    if (!owner.empty()) where += " AND owner = ?2";
    if (!table.empty()) where += " AND table_name = ?3";
    Stmt stmt(db, std::string(segment_columns) + where + " ORDER BY owner, id");
    stmt.bind(1, kind);
    if (!owner.empty()) stmt.bind(2, owner);
    if (!table.empty()) stmt.bind(3, table);
    return all_segments(stmt);
}

std::vector<SegmentRecord> segments_in(sqlite3* db, std::string_view tablespace) {
    Stmt stmt(db, std::string(segment_columns) + "WHERE tablespace = ? AND kind IN ('TABLE', 'INDEX') ORDER BY id");
    stmt.bind(1, tablespace);
    return all_segments(stmt);
}

std::string storage_name(std::string_view owner, std::string_view name) {
    return "\"" + std::string(owner) + "." + std::string(name) + "\"";
}

const DictionaryView* find_dictionary_view(std::string_view name) {
    for (const auto& view : views)
        if (view.name == name) return &view;
    return nullptr;
}

}  // namespace vdb
