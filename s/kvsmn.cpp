// Session Manager's handler: the sessions of the instance, and ending the
// checked ones as the engine ends a session, after a confirmation.
#include <algorithm>
#include <cstring>
#include <string>

#include "platform/os.h"
#include "s/kvs.h"

namespace {

constexpr const char* MODULE = "s/kvsmn";
constexpr int MAX_CHOSEN = 4096;

const char* message(kvs_state* s, int number) { return kvg_message(s->context, number); }
bool is(kvs_state* s, const char* text, int number) { return text && lk_equal(text, message(s, number)); }
kvg_outcome& outcome(kvs_state* s) { return s->request->outcome; }

bool refuse(kvs_state* s, const char* identifier, int number) {
    return kvg_outcome_refuse(s->context, &outcome(s), identifier, number);
}

bool succeeded(kvs_state* s, const char* identifier, int result) {
    return kvg_outcome_result(s->context, &outcome(s), identifier, result, s->error->code, s->error->message);
}

bool read_sessions(kvs_state* s) {
    auto& sessions = s->request->sessions;
    sessions.clear();
    const std::string own = std::to_string(os_process_id());
    int result = kvo_rows(s->credentials, s->error,
                          "select sid || ',' || \"SERIAL#\", username, program, machine, process, logon_time, status, "
                          "action, last_call_et, ended from sys.v$session order by logon_time, sid",
                          10, [&](const char* const* v) {
                              sessions.push_back(kvs_session{v[0], v[1], v[2], v[3], v[4], v[5], v[6], v[7], v[8],
                                                             v[4] == own, std::strcmp(v[9], "YES") == 0});
                          });
    return succeeded(s, "KVS-SESSIONS", result);
}

const kvs_session* find_session(kvs_state* s, const std::string& id) {
    for (const kvs_session& session : s->request->sessions)
        if (session.id == id) return &session;
    return nullptr;
}

void read_chosen(kvs_state* s) {
    std::vector<const char*> values(MAX_CHOSEN);
    int count = kvg_get_values("KVSEND", s->variables, values.data(), MAX_CHOSEN, s->context);
    auto& chosen = s->request->chosen;
    for (int i = 0; i < count && i < MAX_CHOSEN; ++i)
        if (std::find(chosen.begin(), chosen.end(), values[i]) == chosen.end()) chosen.emplace_back(values[i]);
}

// A session id as statement text takes: digits and one comma.
bool plain_id(const std::string& id) {
    size_t comma = id.find(',');
    if (comma == std::string::npos || comma == 0 || comma + 1 == id.size()) return false;
    return std::all_of(id.begin(), id.end(), [](char c) { return c == ',' || (c >= '0' && c <= '9'); }) &&
           id.find(',', comma + 1) == std::string::npos;
}

void end_sessions(kvs_state* s) {
    auto& chosen = s->request->chosen;
    if (chosen.empty()) return (void)refuse(s, "KVS-NONE", 7021);
    for (const std::string& id : chosen) {
        const kvs_session* session = find_session(s, id);
        if (session && session->own) return (void)refuse(s, "KVS-OWN", 7023);
    }
    if (!kvg_form_value("KVSCONFIRM", s->variables, s->context)) {
        s->request->confirming = true;
        return;
    }
    int ended = 0;
    for (const std::string& id : chosen) {
        // A session that ended meanwhile, or a made-up id, is the database's to refuse.
        std::string statement = "ALTER SYSTEM KILL SESSION '" + (plain_id(id) ? id : std::string("0,0")) + "'";
        if (kvo_execute(statement.c_str(), s->error) != 0) {
            succeeded(s, "KVS-END", -1);
            break;
        }
        ++ended;
    }
    kvo_commit(s->error);
    outcome(s).line = kvg_message_filled(s->context, 7022, {std::to_string(ended)});
}

bool may_administer(kvs_state* s) {
    char role[KVO_ROLE_SIZE];
    if (kvo_check_dba(s->context, s->credentials, s->error, role) != 0) return succeeded(s, "KVS-LOGIN", -1);
    if (!*role) return refuse(s, "KVS-NOTDBA", kvs_text::NOT_DBA);
    return true;
}

void handle(kvs_state* s) {
    if (!may_administer(s) || !read_sessions(s)) return;
    s->request->may_see = true;
    const char* todo = kvg_last_button(s->context, s->variables, "KVSTODO",
                                       {kvs_text::REFRESH, kvs_text::END_SESSIONS, kvs_text::CANCEL});
    if (is(s, todo, kvs_text::CANCEL)) {
        outcome(s).line = message(s, 7024);
    } else if (is(s, todo, kvs_text::END_SESSIONS)) {
        outcome(s).refusal = kvg_acting_check(s->context, s->credentials, s->server, s->variables);
        if (outcome(s).refusal) return;
        read_chosen(s);
        end_sessions(s);
        if (!s->request->confirming) read_sessions(s);
    }
}

bool create_records(kvs_state* s) {
    kvg_context* c = s->context;
    if (!kvg_new_record(c, &s->error, 0, "KVS-ERRP", MODULE) || !kvg_new_record(c, &s->credentials, 0, "KVS-DBUSER", MODULE))
        return false;
    kvg_get_credentials(s->credentials, c, s->variables);
    return kvg_new_record(c, &s->server, 0, "KVS-SRVP", MODULE) && kvg_get_server(c, s->server, s->variables) == 0;
}

}  // namespace

int kvs_handler(bk_host* host, int, int end, int argc, char** argv) {
    if (end) return bk_end(host, -1);
    kvg_write_head(nullptr, "text/html");
    auto* s = static_cast<kvs_state*>(bk_record(host, sizeof(kvs_state)));
    if (!s || kvg_start(host, &s->context, &s->variables, argc, argv) != 0) return -1;
    if (!create_records(s)) return -1;
    kvs_request request;
    s->request = &request;
    const char* step = kvg_first_value("KVSSTEP", s->variables, s->context);
    s->step = step ? lk_text_to_int(step) : 0;
    handle(s);
    kvg_page_top(s->context, s->credentials, s->server, "kvs", nullptr, nullptr, nullptr);
    kvs_write_body(s);
    kvg_page_bottom(s->context, s->credentials, s->server, "kvs", nullptr, nullptr, nullptr);
    return 0;
}

int main(int argc, char** argv) {
    static const bk_program_entry table[] = {
        BK_LSF_ENTRY,
        {"kvs", 3, "", 0, "", 0, kvs_handler, BK_ENTRY_REAL},
        BK_TABLE_END,
    };
    return kvg_main("kvshost", table, argc, argv);
}
