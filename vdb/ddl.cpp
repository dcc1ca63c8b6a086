#include "vdb/ddl.h"

#include <cctype>
#include <sqlite3.h>

#include "vdb/catalog.h"
#include "vdb/columns.h"
#include "vdb/db.h"
#include "vdb/errors.h"
#include "vdb/password.h"
#include "vdb/rowstore.h"
#include "vdb/space.h"

namespace vdb {

namespace {

// Returns the number of rows the statement changed.
int run(sqlite3* db, std::string_view sql, std::initializer_list<std::string_view> args) {
    Stmt stmt(db, sql);
    int index = 1;
    for (auto arg : args) stmt.bind(index++, arg);
    stmt.run();
    return sqlite3_changes(db);
}

bool next_is(const TokenReader& reader, std::string_view word) {
    const Token* t = reader.peek();
    return t && t->kind == TokenKind::word && t->value == word;
}

TablespaceRecord existing_tablespace(sqlite3* db, const std::string& name) {
    auto record = find_tablespace(db, name);
    if (!record) fail(code::tablespace_missing, name);
    return *record;
}

UserRecord existing_user(sqlite3* db, const std::string& name) {
    auto record = find_user(db, name);
    if (!record || !record->alias_of.empty()) fail(code::user_missing, name);
    return *record;
}

// ---- tablespaces ------------------------------------------------------------

DataFileRequest data_file_request(TokenReader& reader) {
    DataFileRequest request;
    request.path = reader.string_literal();
    request.reuse = reader.accept("REUSE");
    reader.expect("SIZE");
    request.bytes = reader.size_in_bytes();
    request.reuse = reader.accept("REUSE") || request.reuse;
    if (reader.accept("AUTOEXTEND")) {
        if (!reader.accept("OFF")) {
            reader.expect("ON");
            request.autoextend = true;
            request.increment = 64 * 1024;
            request.max_bytes = unlimited_size;
            if (reader.accept("NEXT")) request.increment = reader.size_in_bytes();
            if (reader.accept("MAXSIZE") && !reader.accept("UNLIMITED")) request.max_bytes = reader.size_in_bytes();
        }
    }
    check_data_file(request);
    return request;
}

std::vector<DataFileRequest> data_file_requests(TokenReader& reader) {
    if (!reader.accept("DATAFILE")) reader.expect("TEMPFILE");
    std::vector<DataFileRequest> requests;
    do requests.push_back(data_file_request(reader));
    while (reader.accept_symbol(','));
    return requests;
}

void add_data_files(SessionContext& ctx, const std::string& tablespace, const std::vector<DataFileRequest>& requests) {
    for (const auto& request : requests) {
        add_data_file_record(ctx.db, tablespace, request);
        ctx.events.push_back("data file " + request.path + " of " + std::to_string(request.bytes) +
                             " bytes added to tablespace " + tablespace);
    }
    for (const auto& request : requests)
        if (create_data_file(request)) ctx.created_files.push_back(request.path);
}

void create_tablespace(SessionContext& ctx, TokenReader& reader, bool temporary) {
    std::string name = reader.name();
    if (find_tablespace(ctx.db, name)) fail(code::tablespace_exists, name);
    auto requests = data_file_requests(reader);
    std::string status = "ONLINE";
    while (!reader.at_end()) {
        if (reader.accept("ONLINE")) status = "ONLINE";
        else if (reader.accept("OFFLINE")) status = "OFFLINE";
        else if (reader.accept("TEMPORARY")) temporary = true;
        else reader.expect("PERMANENT");
    }
    run(ctx.db, "INSERT INTO vdb_tablespaces(name, status, contents) VALUES (?, ?, ?)",
        {name, status, temporary ? "TEMPORARY" : "PERMANENT"});
    ctx.events.push_back("tablespace " + name + " created " + status);
    add_data_files(ctx, name, requests);
}

void set_status(SessionContext& ctx, const TablespaceRecord& ts, std::string_view status) {
    if (ts.name == "SYSTEM" && status != "ONLINE") fail(code::system_tablespace);
    if (ts.status == status) return;
    run(ctx.db, "UPDATE vdb_tablespaces SET status = ? WHERE name = ?", {status, ts.name});
    ctx.events.push_back("tablespace " + ts.name + " is now " + std::string(status));
}

void alter_tablespace(SessionContext& ctx, TokenReader& reader) {
    TablespaceRecord ts = existing_tablespace(ctx.db, reader.name());
    if (reader.accept("ONLINE")) {
        if (ts.status == "OFFLINE") set_status(ctx, ts, "ONLINE");
    } else if (reader.accept("OFFLINE")) {
        if (!reader.accept("NORMAL") && !reader.accept("TEMPORARY")) reader.accept("IMMEDIATE");
        set_status(ctx, ts, "OFFLINE");
    } else if (reader.accept("READ")) {
        if (reader.accept("ONLY")) {
            set_status(ctx, ts, "READ ONLY");
        } else {
            reader.expect("WRITE");
            set_status(ctx, ts, "ONLINE");
        }
    } else if (reader.accept("ADD")) {
        add_data_files(ctx, ts.name, data_file_requests(reader));
    } else {
        reader.syntax_error();
    }
    reader.expect_end();
}

// Dropping a table drops its rows and its indexes with it; an index listed
// after its table has gone with it already.
void drop_segment(SessionContext& ctx, const SegmentRecord& segment) {
    if (segment.kind == "TABLE") {
        remove_table_rows(ctx.db, segment.id);
        run(ctx.db, "DELETE FROM vdb_segments WHERE owner = ? AND table_name = ?", {segment.owner, segment.name});
    } else if (segment.unique) {
        if (auto table = find_segment(ctx.db, segment.owner, segment.table_name))
            remove_index_keys(ctx.db, table->id, segment.id);
    }
    run(ctx.db, "DELETE FROM vdb_segments WHERE owner = ? AND name = ?", {segment.owner, segment.name});
}

void drop_tablespace(SessionContext& ctx, TokenReader& reader) {
    TablespaceRecord ts = existing_tablespace(ctx.db, reader.name());
    bool contents = false, files = false;
    if (reader.accept("INCLUDING")) {
        reader.expect("CONTENTS");
        contents = true;
        if (reader.accept("AND")) {
            reader.expect("DATAFILES");
            files = true;
        }
    }
    reader.expect_end();
    if (ts.name == "SYSTEM") fail(code::system_tablespace);
    auto held = segments_in(ctx.db, ts.name);
    if (!held.empty() && !contents) fail(code::tablespace_not_empty, ts.name);
    for (const auto& segment : held) drop_segment(ctx, segment);
    if (files) {
        Stmt names(ctx.db, "SELECT name FROM vdb_datafiles WHERE tablespace = ?");
        names.bind(1, ts.name);
        while (names.step()) ctx.obsolete_files.push_back(names.text(0));
    }
    run(ctx.db, "DELETE FROM vdb_datafiles WHERE tablespace = ?", {ts.name});
    run(ctx.db, "UPDATE vdb_users SET default_tablespace = 'SYSTEM' WHERE default_tablespace = ?", {ts.name});
    run(ctx.db, "DELETE FROM vdb_tablespaces WHERE name = ?", {ts.name});
    ctx.events.push_back("tablespace " + ts.name + " dropped" +
                         (contents ? files ? " with its contents and data files" : " with its contents" : ""));
}

// ---- users and roles --------------------------------------------------------

std::string stored_password(TokenReader& reader) {
    reader.expect("IDENTIFIED");
    reader.expect("BY");
    if (reader.accept("VALUES")) {
        std::string hash = reader.string_literal();
        if (!is_password_hash(hash)) fail(code::invalid_sql, "IDENTIFIED BY VALUES needs a stored password hash");
        return hash;
    }
    std::string password = reader.password();
    if (password.empty()) fail(code::invalid_sql, "the password is empty");
    return hash_password(password);
}

// One DEFAULT or TEMPORARY TABLESPACE clause; the name of a default
// tablespace, empty for a temporary one (the engine has no use for it).
std::string tablespace_clause(SessionContext& ctx, TokenReader& reader) {
    bool is_default = reader.accept("DEFAULT");
    if (!is_default) reader.expect("TEMPORARY");
    reader.expect("TABLESPACE");
    std::string name = existing_tablespace(ctx.db, reader.name()).name;
    return is_default ? name : "";
}

void create_user(SessionContext& ctx, TokenReader& reader) {
    std::string name = reader.name();
    if (!valid_user_name(name))
        fail(code::invalid_identifier, "a user name is a letter followed by letters, digits, _, $ or #, "
                                       "and does not begin with BY");
    std::string password = stored_password(reader);
    std::string tablespace;
    while (!reader.at_end())
        if (std::string name = tablespace_clause(ctx, reader); !name.empty()) tablespace = name;
    if (tablespace.empty()) tablespace = find_tablespace(ctx.db, "USERS") ? "USERS" : "SYSTEM";
    if (find_user(ctx.db, name)) fail(code::user_exists, name);
    run(ctx.db, "INSERT INTO vdb_users(name, password, default_tablespace, created) VALUES (?, ?, ?, datetime('now'))",
        {name, password, tablespace});
    ctx.events.push_back("user " + name + " created");
}

// The dictionary's owner, behind INTERNAL, and the session's own user keep
// their account open, so that the instance always has an administrator.
void set_account_status(SessionContext& ctx, const UserRecord& user, bool lock) {
    if (lock && (user.name == dictionary_owner || user.name == ctx.user))
        fail(code::no_privilege, "the account of " + user.name + " cannot be locked");
    std::string_view status = lock ? "LOCKED" : "OPEN";
    if (run(ctx.db, "UPDATE vdb_users SET account_status = ? WHERE name = ? AND account_status <> ?1",
            {status, user.name}))
        ctx.events.push_back("user " + user.name + (lock ? " locked" : " unlocked"));
}

void alter_user(SessionContext& ctx, TokenReader& reader) {
    UserRecord user = existing_user(ctx.db, reader.name());
    if (reader.at_end()) reader.syntax_error();
    while (!reader.at_end()) {
        if (next_is(reader, "IDENTIFIED")) {
            run(ctx.db, "UPDATE vdb_users SET password = ? WHERE name = ?", {stored_password(reader), user.name});
            ctx.events.push_back("password of user " + user.name + " changed");
        } else if (reader.accept("ACCOUNT")) {
            bool lock = reader.accept("LOCK");
            if (!lock) reader.expect("UNLOCK");
            set_account_status(ctx, user, lock);
        } else if (std::string tablespace = tablespace_clause(ctx, reader); !tablespace.empty()) {
            run(ctx.db, "UPDATE vdb_users SET default_tablespace = ? WHERE name = ?", {tablespace, user.name});
            ctx.events.push_back("default tablespace of user " + user.name + " set to " + tablespace);
        }
    }
}

void drop_user(SessionContext& ctx, TokenReader& reader) {
    UserRecord user = existing_user(ctx.db, reader.name());
    bool cascade = reader.accept("CASCADE");
    reader.expect_end();
    if (user.name == dictionary_owner || user.name == ctx.user)
        fail(code::no_privilege, "the user " + user.name + " cannot be dropped");
    auto owned = segments(ctx.db, "TABLE", user.name);
    if (!owned.empty() && !cascade) fail(code::cascade_needed, user.name);
    for (const auto& segment : owned) drop_segment(ctx, segment);
    run(ctx.db, "DELETE FROM vdb_role_grants WHERE username = ?", {user.name});
    run(ctx.db, "DELETE FROM vdb_users WHERE name = ?", {user.name});
    ctx.events.push_back("user " + user.name + " dropped" +
                         (owned.empty() ? "" : " with its " + std::to_string(owned.size()) + " tables"));
}

std::vector<std::string> names_until(TokenReader& reader, std::string_view word) {
    std::vector<std::string> names;
    do names.push_back(reader.name());
    while (reader.accept_symbol(','));
    reader.expect(word);
    return names;
}

void grant_or_revoke(SessionContext& ctx, TokenReader& reader, bool grant) {
    auto roles = names_until(reader, grant ? "TO" : "FROM");
    std::vector<std::string> users;
    do users.push_back(existing_user(ctx.db, reader.name()).name);
    while (reader.accept_symbol(','));
    reader.expect_end();
    for (const auto& role : roles)
        if (!role_exists(ctx.db, role)) fail(code::role_missing, role);
    // INTERNAL stands for the dictionary's owner: it keeps the DBA role.
    if (!grant)
        for (const auto& user : users)
            if (user == dictionary_owner) fail(code::no_privilege, "the roles of " + user + " cannot be revoked");
    for (const auto& role : roles)
        for (const auto& user : users)
            if (run(ctx.db,
                    grant ? "INSERT OR IGNORE INTO vdb_role_grants VALUES (?, ?)"
                          : "DELETE FROM vdb_role_grants WHERE username = ? AND role = ?",
                    {user, role}))
                ctx.events.push_back("role " + role + (grant ? " granted to " : " revoked from ") + user);
}

// ---- tables and indexes -----------------------------------------------------

std::string owner_of(SessionContext& ctx, const QualifiedName& name) {
    return name.owner.empty() ? ctx.user : existing_user(ctx.db, name.owner).name;
}

void require_free_name(SessionContext& ctx, const std::string& owner, const std::string& name) {
    if (find_segment(ctx.db, owner, name)) fail(code::name_in_use, owner + "." + name);
}

std::string segment_tablespace(SessionContext& ctx, TokenReader& reader, const std::string& fallback) {
    std::string name = reader.accept("TABLESPACE") ? reader.name() : fallback;
    TablespaceRecord ts = existing_tablespace(ctx.db, name);
    if (ts.contents == "TEMPORARY")
        fail(code::not_supported, "tables and indexes cannot be created in the temporary tablespace " + ts.name);
    check_writable(ctx.db, ts.name);
    return ts.name;
}

void add_segment(SessionContext& ctx, const SegmentRecord& segment) {
    Stmt insert(ctx.db, "INSERT INTO vdb_segments(owner, name, kind, tablespace, bytes, table_name, definition, "
                        "is_unique) VALUES (?, ?, ?, ?, 0, ?, ?, ?)");
    insert.bind(1, segment.owner).bind(2, segment.name).bind(3, segment.kind).bind(4, segment.tablespace);
    if (!segment.table_name.empty()) insert.bind(5, segment.table_name);
    insert.bind(6, segment.definition).bind(7, int64_t{segment.unique});
    insert.run();
    charge_segment(ctx.db, segment.owner, segment.name, segment.tablespace, initial_extent);
}

void create_table(SessionContext& ctx, TokenReader& reader) {
    QualifiedName name = reader.qualified_name();
    std::string owner = owner_of(ctx, name);
    require_free_name(ctx, owner, name.name);
    reader.expect_symbol('(');
    std::string definition = definition_text(parse_table_definition(reader.text_until_close()));
    std::string tablespace = segment_tablespace(ctx, reader, existing_user(ctx.db, owner).default_tablespace);
    reader.expect_end();
    add_segment(ctx, SegmentRecord{owner, name.name, "TABLE", tablespace, 0, "", definition, false});
}

void create_index(SessionContext& ctx, TokenReader& reader, bool unique) {
    QualifiedName name = reader.qualified_name();
    reader.expect("ON");
    QualifiedName table_name = reader.qualified_name();
    std::string owner = owner_of(ctx, table_name);
    auto table = find_segment(ctx.db, owner, table_name.name);
    if (!table || table->kind != "TABLE") fail(code::table_missing, owner + "." + table_name.name);
    if (!name.owner.empty() && name.owner != owner)
        fail(code::not_supported, "an index belongs to the owner of its table");
    require_free_name(ctx, owner, name.name);
    reader.expect_symbol('(');
    std::string columns = reader.text_until_close();
    column_positions(stored_table(ctx.db, *table), index_columns(columns));
    std::string tablespace = segment_tablespace(ctx, reader, table->tablespace);
    reader.expect_end();
    add_segment(ctx, SegmentRecord{owner, name.name, "INDEX", tablespace, 0, table->name,
                                   index_columns_text(columns), unique});
    if (unique) enter_index_keys(ctx.db, *table, *find_segment(ctx.db, owner, name.name));
}

void drop_table_or_index(SessionContext& ctx, TokenReader& reader, std::string_view kind) {
    QualifiedName name = reader.qualified_name();
    std::string owner = owner_of(ctx, name);
    reader.expect_end();
    auto segment = find_segment(ctx.db, owner, name.name);
    if (!segment || segment->kind != kind) fail(code::table_missing, owner + "." + name.name);
    drop_segment(ctx, *segment);
}

}  // namespace

bool valid_user_name(std::string_view name) {
    if (!valid_name(name) || !std::isalpha(static_cast<unsigned char>(name[0])) || name.substr(0, 2) == "BY")
        return false;
    for (char c : name)
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '_' && c != '$' && c != '#') return false;
    return true;
}

void run_definition(SessionContext& ctx, TokenReader& reader) {
    if (!ctx.dba) fail(code::no_privilege, "changing the dictionary needs the DBA role");
    if (reader.accept("CREATE")) {
        if (reader.accept("TABLESPACE")) return create_tablespace(ctx, reader, false);
        if (reader.accept("TEMPORARY")) {
            reader.expect("TABLESPACE");
            return create_tablespace(ctx, reader, true);
        }
        if (reader.accept("USER")) return create_user(ctx, reader);
        if (reader.accept("TABLE")) return create_table(ctx, reader);
        bool unique = reader.accept("UNIQUE");
        reader.expect("INDEX");
        return create_index(ctx, reader, unique);
    }
    if (reader.accept("ALTER")) {
        if (reader.accept("TABLESPACE")) return alter_tablespace(ctx, reader);
        reader.expect("USER");
        return alter_user(ctx, reader);
    }
    if (reader.accept("DROP")) {
        if (reader.accept("TABLESPACE")) return drop_tablespace(ctx, reader);
        if (reader.accept("USER")) return drop_user(ctx, reader);
        if (reader.accept("TABLE")) return drop_table_or_index(ctx, reader, "TABLE");
        reader.expect("INDEX");
        return drop_table_or_index(ctx, reader, "INDEX");
    }
    if (reader.accept("GRANT")) return grant_or_revoke(ctx, reader, true);
    reader.expect("REVOKE");
    grant_or_revoke(ctx, reader, false);
}

}  // namespace vdb
