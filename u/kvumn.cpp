// Security Manager's handler: who may act, the checks that come before any
// statement, and the statements of each action, all before the page is
// written so that the page shows the users as the action left them.
#include <algorithm>
#include <cstring>
#include <new>

#include "platform/dbcall.h"
#include "u/kvu.h"

namespace {

constexpr const char* MODULE = "u/kvumn";
constexpr int MAX_ROLES = 16;
constexpr size_t PASSWORD_LIMIT = 30;
constexpr int LISTED_TABLES = 20;

const char* message(kvu_state* s, int number) { return kvg_message(s->context, number); }
bool is(kvu_state* s, const char* text, int number) { return text && lk_equal(text, message(s, number)); }
const char* form_value(kvu_state* s, const char* name) { return kvg_form_value(name, s->variables, s->context); }
kvg_outcome& outcome(kvu_state* s) { return s->request->outcome; }

bool refuse(kvu_state* s, const char* identifier, int number) {
    return kvg_outcome_refuse(s->context, &outcome(s), identifier, number);
}

bool succeeded(kvu_state* s, const char* identifier, int result) {
    return kvg_outcome_result(s->context, &outcome(s), identifier, result, s->error->code, s->error->message);
}

std::string upper(std::string text) {
    for (char& c : text)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return text;
}

std::string login_user(kvu_state* s) { return upper(s->credentials->user ? s->credentials->user : ""); }

// ---- reading the users ---------------------------------------------------------------

bool read_users(kvu_state* s) {
    auto& users = s->request->users;
    users.clear();
    int result = kvo_rows(s->credentials, s->error,
                          "select username, account_status, default_tablespace, created from sys.dba_users "
                          "where username <> 'INTERNAL' order by username",
                          4, [&](const char* const* v) { users.push_back(kvu_user{v[0], v[1], v[2], v[3], {}, 0, 0}); });
    if (!succeeded(s, "KVU-USERS", result)) return false;
    result = kvo_rows(s->credentials, s->error, "select grantee, granted_role from sys.dba_role_privs order by granted_role",
                      2, [&](const char* const* v) {
                          if (kvu_user* user = kvu_find_user(s, v[0])) user->roles.push_back(v[1]);
                      });
    if (!succeeded(s, "KVU-USERS", result)) return false;
    result = kvo_rows(s->credentials, s->error, "select owner, count(*) from sys.all_tables group by owner", 2,
                      [&](const char* const* v) {
                          if (kvu_user* user = kvu_find_user(s, v[0])) user->tables = lk_text_to_int(v[1]);
                      });
    if (!succeeded(s, "KVU-USERS", result)) return false;
    // The logon throttle's record, of the last hour.
    dbc_refused_logons(
        [](const char* name, long count, void* data) {
            auto* state = static_cast<kvu_state*>(data);
            if (kvu_user* user = kvu_find_user(state, name)) user->refused_logons = static_cast<int>(count);
        },
        s);
    return true;
}

bool read_tablespaces(kvu_state* s) {
    kvg_string_list* names = nullptr;
    if (!succeeded(s, "KVU-TSPC", kvo_tablespace_list(s->credentials, &names, s->error, s->context))) return false;
    for (int i = 0; i < names->count; ++i) s->request->tablespaces.emplace_back(names->items[i]);
    kvg_list_free(names, s->context);
    return true;
}

bool read_tables_of(kvu_state* s, const std::string& owner) {
    std::string statement = "select table_name from sys.all_tables where owner = '";
    for (char c : owner) statement += c == '\'' ? std::string("''") : std::string(1, c);
    statement += "' order by table_name";
    auto& tables = s->request->tables_of_selected;
    int result = kvo_rows(s->credentials, s->error, statement.c_str(), 1, [&](const char* const* v) {
        if (static_cast<int>(tables.size()) < LISTED_TABLES) tables.emplace_back(v[0]);
    });
    return succeeded(s, "KVU-DROP", result);
}

// ---- checks ------------------------------------------------------------------------

bool has_control(const char* text) {
    for (const char* p = text; *p; ++p)
        if (static_cast<unsigned char>(*p) < 0x20 || *p == 0x7f) return true;
    return false;
}

// The new password of the form, empty when both fields are empty. False
// after a block when it cannot be taken.
bool read_password(kvu_state* s, std::string& password, bool required) {
    const char* first = form_value(s, "KVUPASS1");
    const char* second = form_value(s, "KVUPASS2");
    first = first ? first : "";
    second = second ? second : "";
    if (!*first && !*second) {
        if (required) return refuse(s, "KVU-PASS", 8053);
        password.clear();
        return true;
    }
    if (std::strlen(first) > PASSWORD_LIMIT || !*first || has_control(first)) return refuse(s, "KVU-PASS", 8051);
    if (std::strcmp(first, second) != 0) return refuse(s, "KVU-PASSMATCH", 8052);
    password = first;
    return true;
}

// The posted default tablespace: one of the list.
bool read_tablespace(kvu_state* s, std::string& tablespace) {
    const char* posted = form_value(s, "KVUDEFTS");
    const auto& list = s->request->tablespaces;
    if (!posted || std::find(list.begin(), list.end(), posted) == list.end()) return refuse(s, "KVU-DEFTS", 8057);
    tablespace = posted;
    return true;
}

std::vector<std::string> posted_roles(kvu_state* s) {
    const char* values[MAX_ROLES];
    int count = kvg_get_values("KVUROLE", s->variables, values, MAX_ROLES, s->context);
    std::vector<std::string> roles;
    for (const char* role : KVU_ROLES)
        for (int i = 0; i < count && i < MAX_ROLES; ++i)
            if (std::strcmp(values[i], role) == 0 && std::find(roles.begin(), roles.end(), role) == roles.end())
                roles.emplace_back(role);
    return roles;
}

// SYS, SYSTEM and the login's own user are never dropped or locked.
bool may_end(kvu_state* s, const std::string& name) {
    if (name == "SYS" || name == "SYSTEM") return refuse(s, "KVU-PROTECT", 8054);
    if (name == login_user(s)) return refuse(s, "KVU-SELF", 8055);
    return true;
}

// A password as the statement writes it: between double quotes, an inner one doubled.
std::string quoted(const std::string& text) {
    std::string out = "\"";
    for (char c : text) out += c == '"' ? std::string("\"\"") : std::string(1, c);
    return out + "\"";
}

// ---- the actions --------------------------------------------------------------------

// Runs the statements one after the other, committed together; false after a block.
bool run(kvu_state* s, const char* identifier, const std::vector<std::string>& statements) {
    if (kvo_connect(s->credentials, s->error) != 0) return succeeded(s, identifier, -1);
    for (const std::string& statement : statements)
        if (kvo_execute(statement.c_str(), s->error) != 0) return succeeded(s, identifier, -1);
    return succeeded(s, identifier, kvo_commit(s->error));
}

void create_user(kvu_state* s) {
    const char* typed = form_value(s, "KVUNAME");
    std::string password, tablespace;
    if (!typed || !kvo_valid_identifier(typed)) {
        refuse(s, "KVU-NAME", 8050);
    } else if (read_password(s, password, true) && read_tablespace(s, tablespace)) {
        std::vector<std::string> statements = {"CREATE USER " + std::string(typed) + " IDENTIFIED BY " + quoted(password) +
                                               " DEFAULT TABLESPACE " + kvo_name_text(tablespace.c_str())};
        for (const std::string& role : posted_roles(s)) statements.push_back("GRANT " + role + " TO " + typed);
        if (run(s, "KVU-CREATE", statements)) {
            outcome(s).line = kvg_message_filled(s->context, 8030, {upper(typed)});
            s->request->page = kvu_page::users;
            return;
        }
    }
    s->request->page = kvu_page::create;
}

// One change in the list of the result line, unescaped: the line escapes it whole.
void add_change(kvu_state* s, std::string& changes, int number, const std::string& value = "") {
    std::string text = message(s, number);
    size_t at = text.find("%1");
    if (at != std::string::npos) text.replace(at, 2, value);
    if (!changes.empty()) changes += ", ";
    changes += text;
}

// Only what differs, one statement each; the line names each change.
void apply_changes(kvu_state* s, const kvu_user& user) {
    std::string password, tablespace, changes;
    if (!read_password(s, password, false) || !read_tablespace(s, tablespace)) return;
    const char* account = form_value(s, "KVUACCOUNT");
    bool lock = account && std::strcmp(account, "LOCKED") == 0 && user.account != "LOCKED";
    bool unlock = account && std::strcmp(account, "OPEN") == 0 && user.account == "LOCKED";
    if (lock && !may_end(s, user.name)) return;
    std::vector<std::string> roles = posted_roles(s);
    auto held = [&](const std::string& role) { return std::find(user.roles.begin(), user.roles.end(), role) != user.roles.end(); };
    auto chosen = [&](const std::string& role) { return std::find(roles.begin(), roles.end(), role) != roles.end(); };
    if (user.name == login_user(s) && held("DBA") && !chosen("DBA")) return (void)refuse(s, "KVU-OWNDBA", 8056);

    std::string name = kvo_name_text(user.name.c_str());
    std::vector<std::string> statements;
    if (!password.empty()) {
        statements.push_back("ALTER USER " + name + " IDENTIFIED BY " + quoted(password));
        add_change(s, changes, 8032);
    }
    if (lock || unlock) {
        statements.push_back("ALTER USER " + name + (lock ? " ACCOUNT LOCK" : " ACCOUNT UNLOCK"));
        add_change(s, changes, lock ? 8033 : 8034);
    }
    if (tablespace != user.tablespace) {
        statements.push_back("ALTER USER " + name + " DEFAULT TABLESPACE " + kvo_name_text(tablespace.c_str()));
        add_change(s, changes, 8035, tablespace);
    }
    for (const char* role : KVU_ROLES) {
        if (chosen(role) == held(role)) continue;
        statements.push_back(chosen(role) ? "GRANT " + std::string(role) + " TO " + name
                                          : "REVOKE " + std::string(role) + " FROM " + name);
        add_change(s, changes, chosen(role) ? 8036 : 8037, role);
    }
    if (statements.empty()) {
        outcome(s).line = message(s, 8038);
    } else if (run(s, "KVU-APPLY", statements)) {
        outcome(s).line = kvg_message_filled(s->context, 8031, {user.name, changes});
    }
}

void drop_user(kvu_state* s, const kvu_user& user) {
    if (!may_end(s, user.name)) return;
    if (!form_value(s, "KVUCONFIRM")) {
        if (read_tables_of(s, user.name)) s->request->page = kvu_page::confirm_drop;
        return;
    }
    std::string statement = "DROP USER " + kvo_name_text(user.name.c_str()) + (user.tables > 0 ? " CASCADE" : "");
    if (!run(s, "KVU-DROP", {statement})) return;
    outcome(s).line = user.tables > 0 ? kvg_message_filled(s->context, 8040, {user.name, std::to_string(user.tables)})
                                      : kvg_message_filled(s->context, 8039, {user.name});
    s->request->selected.clear();
    s->request->page = kvu_page::users;
}

// The action of the request, then the page that follows it.
void act(kvu_state* s, const char* todo) {
    kvu_request& r = *s->request;
    const kvu_user* user = r.selected.empty() ? nullptr : kvu_find_user(s, r.selected);
    r.page = user ? kvu_page::user : kvu_page::users;
    if (!r.selected.empty() && !user) refuse(s, "KVU-USER", 8058);
    if (!todo || is(s, todo, kvu_text::BACK)) {
        if (todo) r.page = kvu_page::users;
        return;
    }
    if (is(s, todo, kvu_text::CANCEL)) {
        outcome(s).line = message(s, 8038);
        return;
    }
    if (is(s, todo, kvu_text::CREATE_USER)) {
        r.page = kvu_page::create;
        return;
    }
    outcome(s).refusal = kvg_acting_check(s->context, s->credentials, s->server, s->variables);
    if (outcome(s).refusal) return;
    if (is(s, todo, kvu_text::CREATE)) create_user(s);
    else if (user && is(s, todo, kvu_text::APPLY)) apply_changes(s, *user);
    else if (user && is(s, todo, kvu_text::DROP_USER)) drop_user(s, *user);
}

bool create_records(kvu_state* s) {
    kvg_context* c = s->context;
    if (!kvg_new_record(c, &s->error, 0, "KVU-ERRP", MODULE) || !kvg_new_record(c, &s->credentials, 0, "KVU-DBUSER", MODULE))
        return false;
    kvg_get_credentials(s->credentials, c, s->variables);
    return kvg_new_record(c, &s->server, 0, "KVU-SRVP", MODULE) && kvg_get_server(c, s->server, s->variables) == 0;
}

// Whether the login may see and change users: the DBA role (INTERNAL has it).
bool may_administer(kvu_state* s) {
    char role[KVO_ROLE_SIZE];
    if (kvo_check_dba(s->context, s->credentials, s->error, role) != 0) return succeeded(s, "KVU-LOGIN", -1);
    if (!*role) return refuse(s, "KVU-NOTDBA", kvu_text::NOT_DBA);
    return true;
}

void handle(kvu_state* s) {
    kvu_request& r = *s->request;
    const char* selected = form_value(s, "KVUUSER");
    r.selected = selected ? selected : "";
    if (!may_administer(s) || !read_users(s) || !read_tablespaces(s)) return;
    act(s, kvg_last_button(s->context, s->variables, "KVUTODO",
                           {kvu_text::CREATE_USER, kvu_text::APPLY, kvu_text::DROP_USER, kvu_text::BACK, kvu_text::CREATE,
                            kvu_text::CANCEL}));
    // The page shows the users as the action left them.
    if (!read_users(s)) return;
    if (r.page == kvu_page::user && !kvu_find_user(s, r.selected)) r.page = kvu_page::users;
}

}  // namespace

kvu_user* kvu_find_user(kvu_state* s, const std::string& name) {
    for (kvu_user& user : s->request->users)
        if (user.name == name) return &user;
    return nullptr;
}

int kvu_handler(bk_host* host, int, int end, int argc, char** argv) {
    if (end) return bk_end(host, -1);
    kvg_write_head(nullptr, "text/html");
    auto* s = static_cast<kvu_state*>(bk_record(host, sizeof(kvu_state)));
    if (!s || kvg_start(host, &s->context, &s->variables, argc, argv) != 0) return -1;
    if (!create_records(s)) return -1;
    kvu_request request;
    s->request = &request;
    const char* step = kvg_first_value("KVUSTEP", s->variables, s->context);
    s->step = step ? lk_text_to_int(step) : 0;
    handle(s);
    kvg_page_top(s->context, s->credentials, s->server, "kvu", nullptr, nullptr, nullptr);
    kvu_write_body(s);
    kvg_page_bottom(s->context, s->credentials, s->server, "kvu", nullptr, nullptr, nullptr);
    return 0;
}

int main(int argc, char** argv) {
    static const bk_program_entry table[] = {
        BK_LSF_ENTRY,
        {"kvu", 3, "", 0, "", 0, kvu_handler, BK_ENTRY_REAL},
        BK_TABLE_END,
    };
    return kvg_main("kvuhost", table, argc, argv);
}
