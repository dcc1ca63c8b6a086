// Database Control's pages: the outcome of an action, the status table with
// the buttons the state allows, the parameters and the event log's tail, and
// the confirmation page of a shutdown that ends work.
#include <cstring>
#include <string>

#include "d/kvd.h"

namespace {

constexpr int EVENT_LINES = 40;
constexpr long long MEGABYTE = 1024 * 1024;

const char* message(kvd_state* s, int number) { return kvg_message(s->context, number); }
std::string html(const char* text) { return kvg_html_escaped(text ? text : ""); }

void write_form_start(kvd_state* s) { kvg_self_form_start(s->context, s->credentials, s->server); }

void write_form_end(kvd_state* s) {
    bk_out("<INPUT type=hidden name=\"KVDSTEP\" value=\"%d\">\n", kvg_next_counter(s->step));
    bk_out("</FORM>\n");
}

void write_status_row(kvd_state* s, int label, const std::string& value) {
    bk_out("<TR><TH align=left>%s</TH><TD>%s</TD></TR>\n", message(s, label), value.c_str());
}

void write_status_table(kvd_state* s) {
    const dbc_instance_status& st = *s->status;
    bool down = st.instance == DBC_INSTANCE_DOWN;
    bk_out("<CENTER><TABLE BORDER cellpadding=4>\n");
    bk_out("<CAPTION><B>%s %s</B></CAPTION>\n", message(s, 3003), html(s->credentials->sid).c_str());
    write_status_row(s, 3001, message(s, st.service_running ? 3008 : 3009));
    write_status_row(s, 3003, kvd_instance_word(s, st.instance));
    if (!down) write_status_row(s, 3004, html(st.started));
    write_status_row(s, 3005, message(s, st.autostart ? 3014 : 3015));
    write_status_row(s, 3006, std::to_string(st.sessions));
    long long megabytes = (st.data_file_bytes + MEGABYTE / 2) / MEGABYTE;
    write_status_row(s, 3007,
                     kvg_message_filled(s->context, 3028, {std::to_string(st.data_files), std::to_string(megabytes)}));
    bk_out("</TABLE></CENTER>\n");
}

void write_button(kvd_state* s, int label) {
    bk_out("<INPUT type=submit name=\"KVDTODO\" value=\"%s\">\n", message(s, label));
}

void write_choice(kvd_state* s, const char* name, const char* value, int label, bool checked) {
    bk_out("<label><INPUT type=radio name=\"%s\" value=\"%s\"%s>%s</label>\n", name, value, checked ? " checked" : "",
           message(s, label));
}

void write_shutdown_choice(kvd_state* s) {
    write_button(s, kvd_text::SHUT_DOWN);
    write_choice(s, "KVDSHUTMODE", "NORMAL", 3022, true);
    write_choice(s, "KVDSHUTMODE", "IMMEDIATE", 3023, false);
    write_choice(s, "KVDSHUTMODE", "ABORT", 3024, false);
}

// The buttons of the state the instance is in.
void write_action_row(kvd_state* s) {
    const dbc_instance_status& st = *s->status;
    bk_out("<P><CENTER><TABLE cellpadding=6><TR><TD>\n");
    if (!st.service_running) {
        write_button(s, kvd_text::START_SERVICE);
    } else if (st.instance == DBC_INSTANCE_DOWN) {
        write_button(s, kvd_text::START_UP);
        write_choice(s, "KVDSTARTMODE", "MOUNT", 3021, false);
        write_choice(s, "KVDSTARTMODE", "OPEN", 3019, true);
        bk_out("</TD><TD>\n");
        write_button(s, kvd_text::STOP_SERVICE);
    } else {
        if (st.instance != DBC_INSTANCE_OPEN) {
            write_button(s, kvd_text::OPEN);
            bk_out("</TD><TD>\n");
        }
        write_shutdown_choice(s);
    }
    bk_out("</TD></TR></TABLE></CENTER>\n");
}

void write_parameter(const char* name, const char* value, void*) {
    bk_out("<TR><TD>%s</TD><TD>%s</TD></TR>\n", html(name).c_str(), html(value).c_str());
}

void write_parameters(kvd_state* s) {
    bk_out("<H3>%s</H3>\n", message(s, 3026));
    bk_out("<TABLE BORDER cellpadding=3>\n");
    bk_out("<TR><TH align=left>%s</TH><TH align=left>%s</TH></TR>\n", message(s, 3048), message(s, 3049));
    dbc_parameters(write_parameter, nullptr);
    bk_out("</TABLE>\n");
}

void write_event_line(const char* line, void* written) {
    if (!*static_cast<bool*>(written)) bk_out("<PRE>");
    *static_cast<bool*>(written) = true;
    bk_out("%s\n", html(line).c_str());
}

void write_event_log(kvd_state* s) {
    bk_out("<H3>%s</H3>\n", message(s, 3027));
    bool written = false;
    dbc_event_log_tail(EVENT_LINES, write_event_line, &written);
    if (written) bk_out("</PRE>\n");
    else bk_out("<P>%s\n", message(s, 3029));
}

void write_status_page(kvd_state* s) {
    write_form_start(s);
    write_status_table(s);
    if (s->access == kvd_access::dba) {
        write_action_row(s);
        write_parameters(s);
        write_event_log(s);
    }
    write_form_end(s);
}

void write_session_item(const char* id, const char* user, const char* program, const char* action, void*) {
    bk_out("<LI>%s %s (%s) %s\n", html(id).c_str(), html(user).c_str(), html(program).c_str(), html(action).c_str());
}

// What the shutdown will do, and the two buttons: the shutdown and "Cancel".
void write_confirmation_page(kvd_state* s) {
    const char* mode = kvg_form_value("KVDSHUTMODE", s->variables, s->context);
    bool abort = mode && std::strcmp(mode, "ABORT") == 0;
    std::string sid = s->credentials->sid ? s->credentials->sid : "";
    int others = s->status->sessions;
    int text = abort ? 3046 : others > 0 ? 3044 : 3045;
    write_form_start(s);
    bk_out("<P><B>%s</B>\n", kvg_message_filled(s->context, text, {sid, std::to_string(others)}).c_str());
    if (!abort && others > 0) {
        bk_out("<UL>\n");
        dbc_sessions(write_session_item, nullptr);
        bk_out("</UL>\n");
    }
    bk_out("<INPUT type=hidden name=\"KVDSHUTMODE\" value=\"%s\">\n", abort ? "ABORT" : "IMMEDIATE");
    bk_out("<INPUT type=hidden name=\"KVDCONFIRM\" value=\"1\">\n");
    bk_out("<P>");
    write_button(s, kvd_text::SHUT_DOWN);
    write_button(s, kvd_text::CANCEL);
    write_form_end(s);
}

}  // namespace

const char* kvd_instance_word(kvd_state* s, int instance) {
    static constexpr int WORDS[] = {3013, 3012, 3011, 3010};
    return message(s, WORDS[instance >= 0 && instance <= DBC_INSTANCE_OPEN ? instance : 0]);
}

void kvd_write_body(kvd_state* s) {
    kvg_write_outcome(s->context, s->outcome);
    if (s->access == kvd_access::refused) return;
    if (s->access == kvd_access::not_dba) kvg_error_message(1, "KVD-NOTDBA", kvd_text::NOT_DBA, s->context);
    if (s->confirming) write_confirmation_page(s);
    else write_status_page(s);
}
