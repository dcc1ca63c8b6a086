// Session Manager's pages: the sessions table and the confirmation of an end.
#include <cstring>
#include <string>

#include "s/kvs.h"

namespace {

const char* message(kvs_state* s, int number) { return kvg_message(s->context, number); }
std::string html(const std::string& text) { return kvg_html_escaped(text.c_str()); }
std::string attr(const std::string& text) { return kvg_attr_escaped(text.c_str()); }

void write_form_start(kvs_state* s) { kvg_self_form_start(s->context, s->credentials, s->server); }

void write_button(kvs_state* s, int label) {
    bk_out("<INPUT type=submit name=\"KVSTODO\" value=\"%s\">\n", message(s, label));
}

void write_session_row(kvs_state* s, const kvs_session& session) {
    // A session that cannot be ended here has a word in place of its box.
    if (session.own || session.ended)
        bk_out("<TR><TD><I>%s</I></TD>", message(s, session.own ? kvs_text::THIS_PAGE : kvs_text::ENDED));
    else
        bk_out("<TR><TD><INPUT type=checkbox name=\"KVSEND\" value=\"%s\"></TD>", attr(session.id).c_str());
    for (const std::string* value : {&session.id, &session.user, &session.program, &session.client, &session.process})
        bk_out("<TD>%s</TD>", html(*value).c_str());
    // The date and the time on one line.
    bk_out("<TD nowrap>%s</TD>", html(session.logon_time).c_str());
    for (const std::string* value : {&session.status, &session.action}) bk_out("<TD>%s</TD>", html(*value).c_str());
    bk_out("<TD align=right>%s</TD></TR>\n", html(session.seconds).c_str());
}

void write_sessions_table(kvs_state* s) {
    bk_out("<CENTER><TABLE BORDER cellpadding=4>\n");
    bk_out("<CAPTION><B>%s</B></CAPTION>\n",
           kvg_message_filled(s->context, 7015, {s->credentials->sid ? s->credentials->sid : ""}).c_str());
    bk_out("<TR><TH></TH>");
    for (int label = 7001; label <= 7010; ++label)
        if (label != kvs_text::NOT_DBA) bk_out("<TH align=left>%s</TH>", message(s, label));
    bk_out("</TR>\n");
    for (const kvs_session& session : s->request->sessions) write_session_row(s, session);
    bk_out("</TABLE>\n<P>");
    write_button(s, kvs_text::REFRESH);
    write_button(s, kvs_text::END_SESSIONS);
    bk_out("</CENTER>\n");
}

// The checked sessions, each named, and the two buttons.
void write_confirmation(kvs_state* s) {
    const auto& chosen = s->request->chosen;
    bk_out("<P><B>%s</B>\n<UL>\n", kvg_message_filled(s->context, 7020, {std::to_string(chosen.size())}).c_str());
    for (const std::string& id : chosen) {
        std::string line = id;
        for (const kvs_session& session : s->request->sessions)
            if (session.id == id) line += " " + session.user + " (" + session.program + ") " + session.action;
        bk_out("<LI>%s\n", html(line).c_str());
        bk_out("<INPUT type=hidden name=\"KVSEND\" value=\"%s\">\n", attr(id).c_str());
    }
    bk_out("</UL>\n<INPUT type=hidden name=\"KVSCONFIRM\" value=\"1\">\n<P>");
    write_button(s, kvs_text::END_SESSIONS);
    write_button(s, kvs_text::CANCEL);
}

}  // namespace

void kvs_write_body(kvs_state* s) {
    kvg_write_outcome(s->context, s->request->outcome);
    if (!s->request->may_see) return;
    write_form_start(s);
    if (s->request->confirming) write_confirmation(s);
    else write_sessions_table(s);
    bk_out("<INPUT type=hidden name=\"KVSSTEP\" value=\"%d\">\n", kvg_next_counter(s->step));
    bk_out("</FORM>\n");
}
