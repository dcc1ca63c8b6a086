// Database Control's handler: who may act, and the actions, each carried out
// before the page is written so that the page shows the state they left.
#include <cstring>
#include <new>

#include "d/kvd.h"
#include "platform/svcctl.h"

namespace {

constexpr const char* MODULE = "d/kvdmn";
// The engine's refusal of a normal shutdown while other sessions are connected.
constexpr int KVD_OTHER_SESSIONS = -3110;

const char* message(kvd_state* s, int number) { return kvg_message(s->context, number); }
bool is(kvd_state* s, const char* text, int number) { return text && lk_equal(text, message(s, number)); }
std::string sid(kvd_state* s) { return s->credentials->sid ? s->credentials->sid : ""; }

void fail_with(kvd_state* s, const char* identifier, int number, const std::string& text) {
    s->outcome.identifier = identifier;
    s->outcome.number = number;
    s->outcome.text = text;
}

void fail_with_message(kvd_state* s, const char* identifier, int number) {
    kvg_outcome_refuse(s->context, &s->outcome, identifier, number);
}

// A database layer result: 0, a catalogue number, or the database's code
// with its text in the error record. False after the block is set.
bool succeeded(kvd_state* s, const char* identifier, int result) {
    return kvg_outcome_result(s->context, &s->outcome, identifier, result, result, s->error->message);
}

bool read_status(kvd_state* s) {
    *s->status = dbc_instance_status{};
    if (dbc_status(s->status) == 0) return true;
    // The block of a failed action comes first.
    if (!s->outcome.identifier) fail_with(s, "KVD-STATUS", s->status->code, kvg_html_escaped(s->status->message));
    return false;
}

// The service start and stop go by the service's name, as the launcher's.
std::string service_name(kvd_state* s) { return "VantorService" + sid(s); }

int posted_shutdown_mode(kvd_state* s) {
    const char* mode = kvg_form_value("KVDSHUTMODE", s->variables, s->context);
    if (mode && std::strcmp(mode, "IMMEDIATE") == 0) return DBC_SHUTDOWN_IMMEDIATE;
    if (mode && std::strcmp(mode, "ABORT") == 0) return DBC_SHUTDOWN_ABORT;
    return DBC_SHUTDOWN_NORMAL;
}

bool posted_open(kvd_state* s) {
    const char* mode = kvg_form_value("KVDSTARTMODE", s->variables, s->context);
    return !mode || std::strcmp(mode, "MOUNT") != 0;
}

// Whether todo may act on the instance as it is; the block says why not.
bool fits_state(kvd_state* s) {
    const dbc_instance_status& st = *s->status;
    bool down = st.instance == DBC_INSTANCE_DOWN;
    bool fits = is(s, s->todo, kvd_text::START_SERVICE) ? !st.service_running
              : is(s, s->todo, kvd_text::STOP_SERVICE) || is(s, s->todo, kvd_text::START_UP) ? st.service_running && down
              : is(s, s->todo, kvd_text::OPEN) ? st.instance == DBC_INSTANCE_STARTED || st.instance == DBC_INSTANCE_MOUNTED
              : st.service_running && !down;
    if (fits) return true;
    if (is(s, s->todo, kvd_text::STOP_SERVICE) && st.service_running) {
        fail_with(s, "KVD-SVCSTOP", 3040, kvg_message_filled(s->context, 3040, {kvd_instance_word(s, st.instance)}));
    } else {
        const char* state = st.service_running ? kvd_instance_word(s, st.instance) : message(s, 3009);
        fail_with(s, "KVD-STATE", 3042, kvg_message_filled(s->context, 3042, {state}));
    }
    return false;
}

void start_service(kvd_state* s) {
    if (!svc_start(service_name(s).c_str()) || !read_status(s) || !s->status->service_running) {
        if (!s->outcome.identifier) fail_with_message(s, "KVD-STARTSVC", 3039);
        return;
    }
    int done = s->status->instance == DBC_INSTANCE_OPEN ? 3032 : 3031;
    s->outcome.line = kvg_message_filled(s->context, done, {sid(s)});
}

void stop_service(kvd_state* s) {
    if (!svc_stop(service_name(s).c_str())) return fail_with_message(s, "KVD-STOPSVC", 3047);
    s->outcome.line = kvg_message_filled(s->context, 3033, {sid(s)});
}

void start_up(kvd_state* s) {
    if (!succeeded(s, "KVD-STARTUP", kvo_startup_mount(s->credentials, s->error, s->context, nullptr, nullptr)))
        return;
    bool open = posted_open(s);
    if (open && !succeeded(s, "KVD-OPEN", kvo_open_database(s->credentials, s->error, s->context, 1))) return;
    s->outcome.line = kvg_message_filled(s->context, open ? 3035 : 3034, {sid(s)});
}

void open_database(kvd_state* s) {
    int mounted = s->status->instance == DBC_INSTANCE_MOUNTED;
    if (!succeeded(s, "KVD-OPEN", kvo_open_database(s->credentials, s->error, s->context, mounted))) return;
    s->outcome.line = kvg_message_filled(s->context, 3035, {sid(s)});
}

bool needs_confirmation(kvd_state* s, int mode) {
    return mode != DBC_SHUTDOWN_NORMAL && !kvg_form_value("KVDCONFIRM", s->variables, s->context);
}

void shut_down(kvd_state* s) {
    int mode = posted_shutdown_mode(s);
    if (needs_confirmation(s, mode)) {
        s->confirming = true;
        return;
    }
    int others = s->status->sessions;
    int result = kvo_shutdown(s->credentials, s->error, s->context, mode);
    if (result == KVD_OTHER_SESSIONS) {
        fail_with(s, "KVD-SHUTNORM", 3041, kvg_message_filled(s->context, 3041, {std::to_string(others)}));
        return;
    }
    if (!succeeded(s, "KVD-SHUTDOWN", result)) return;
    int done = mode == DBC_SHUTDOWN_ABORT ? 3038 : mode == DBC_SHUTDOWN_IMMEDIATE ? 3037 : 3036;
    s->outcome.line = kvg_message_filled(s->context, done, {sid(s), std::to_string(others)});
}

bool create_records(kvd_state* s) {
    kvg_context* c = s->context;
    if (!kvg_new_record(c, &s->error, 0, "KVD-ERRP", MODULE) || !kvg_new_record(c, &s->status, 0, "KVD-STATP", MODULE) ||
        !kvg_new_record(c, &s->credentials, 0, "KVD-DBUSER", MODULE))
        return false;
    kvg_get_credentials(s->credentials, c, s->variables);
    return kvg_new_record(c, &s->server, 0, "KVD-SRVP", MODULE) && kvg_get_server(c, s->server, s->variables) == 0;
}

// Who the login is to the instance. A running service checks it with a
// privileged connection, which INTERNAL and the DBA role may open in every
// state of the instance; a stopped one has the engine check the password
// against the instance's own dictionary, starting nothing.
void decide_access(kvd_state* s) {
    int code = 0;
    if (s->status->service_running) {
        code = kvo_privileged_check(s->credentials, s->error, s->context);
    } else {
        code = svc_check_logon(service_name(s).c_str(), s->credentials->user, s->credentials->password);
        if (code < 0) {
            s->error->code = code;
            dbc_message(code, s->error->message, sizeof s->error->message);
        }
    }
    if (code == 0) {
        s->access = kvd_access::dba;
    } else if (code == -1031) {
        s->access = kvd_access::not_dba;
    } else {
        s->access = kvd_access::refused;
        succeeded(s, "KVD-LOGIN", code);
    }
}

}  // namespace

int kvd_handler(bk_host* host, int, int end, int argc, char** argv) {
    if (end) return bk_end(host, -1);
    kvg_write_head(nullptr, "text/html");
    auto* s = static_cast<kvd_state*>(bk_record(host, sizeof(kvd_state)));
    if (!s || kvg_start(host, &s->context, &s->variables, argc, argv) != 0) return -1;
    new (&s->outcome) kvg_outcome{};
    if (!create_records(s)) return -1;
    const char* step = kvg_first_value("KVDSTEP", s->variables, s->context);
    s->step = step ? lk_text_to_int(step) : 0;
    s->todo = kvg_last_button(s->context, s->variables, "KVDTODO",
                              {kvd_text::START_SERVICE, kvd_text::STOP_SERVICE, kvd_text::START_UP, kvd_text::OPEN,
                               kvd_text::SHUT_DOWN, kvd_text::CANCEL});
    if (read_status(s)) {
        decide_access(s);
        kvd_act(s);
    }
    kvg_page_top(s->context, s->credentials, s->server, "kvd", nullptr, nullptr, nullptr);
    kvd_write_body(s);
    kvg_page_bottom(s->context, s->credentials, s->server, "kvd", nullptr, nullptr, nullptr);
    s->outcome.~kvg_outcome();
    return 0;
}

int main(int argc, char** argv) {
    static const bk_program_entry table[] = {
        BK_LSF_ENTRY,
        {"kvd", 3, "", 0, "", 0, kvd_handler, BK_ENTRY_REAL},
        BK_TABLE_END,
    };
    return kvg_main("kvdhost", table, argc, argv);
}

void kvd_act(kvd_state* s) {
    if (!s->todo || s->access != kvd_access::dba) return;
    if (is(s, s->todo, kvd_text::CANCEL)) {
        s->outcome.line = message(s, 3030);
        return;
    }
    s->outcome.refusal = kvg_acting_check(s->context, s->credentials, s->server, s->variables);
    if (s->outcome.refusal || !fits_state(s)) return;
    if (is(s, s->todo, kvd_text::START_SERVICE)) start_service(s);
    else if (is(s, s->todo, kvd_text::STOP_SERVICE)) stop_service(s);
    else if (is(s, s->todo, kvd_text::START_UP)) start_up(s);
    else if (is(s, s->todo, kvd_text::OPEN)) open_database(s);
    else shut_down(s);
    if (!s->confirming) read_status(s);
}
