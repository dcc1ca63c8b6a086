// Security Manager's pages: the users table, a user's page, the create page
// and the confirmation of a drop.
#include <algorithm>
#include <cstring>
#include <string>

#include "u/kvu.h"

namespace {

const char* message(kvu_state* s, int number) { return kvg_message(s->context, number); }
std::string html(const std::string& text) { return kvg_html_escaped(text.c_str()); }
std::string attr(const std::string& text) { return kvg_attr_escaped(text.c_str()); }

void write_form_start(kvu_state* s) { kvg_self_form_start(s->context, s->credentials, s->server); }

void write_form_end(kvu_state* s) {
    bk_out("<INPUT type=hidden name=\"KVUSTEP\" value=\"%d\">\n", kvg_next_counter(s->step));
    bk_out("</FORM>\n");
}

void write_button(kvu_state* s, int label) {
    bk_out("<INPUT type=submit name=\"KVUTODO\" value=\"%s\">\n", message(s, label));
}

void write_hidden_user(const std::string& name) {
    bk_out("<INPUT type=hidden name=\"KVUUSER\" value=\"%s\">\n", attr(name).c_str());
}

std::string joined(const std::vector<std::string>& items) {
    std::string out;
    for (const std::string& item : items) out += (out.empty() ? "" : ", ") + item;
    return out;
}

void write_users_table(kvu_state* s) {
    bk_out("<CENTER><TABLE BORDER cellpadding=4>\n");
    bk_out("<CAPTION><B>%s</B></CAPTION>\n",
           kvg_message_filled(s->context, 8021, {s->credentials->sid ? s->credentials->sid : ""}).c_str());
    bk_out("<TR>");
    for (int label : {8001, 8003, 8004, 8005, 8006, 8007, 8008}) bk_out("<TH align=left>%s</TH>", message(s, label));
    bk_out("</TR>\n");
    for (const kvu_user& u : s->request->users) {
        // The name is the button that opens the user's page.
        bk_out("<TR><TD><INPUT type=submit name=\"KVUUSER\" value=\"%s\"></TD>", attr(u.name).c_str());
        bk_out("<TD>%s</TD><TD>%s</TD><TD>%s</TD>", html(u.account).c_str(), html(u.tablespace).c_str(),
               html(joined(u.roles)).c_str());
        bk_out("<TD align=right>%d</TD><TD>%s</TD><TD align=right>%d</TD></TR>\n", u.tables, html(u.created).c_str(),
               u.refused_logons);
    }
    bk_out("</TABLE>\n");
    bk_out("<P>");
    write_button(s, kvu_text::CREATE_USER);
    bk_out("</CENTER>\n");
}

void write_password_rows(kvu_state* s) {
    bk_out("<TR><TH align=left>%s</TH><TD><INPUT type=password name=\"KVUPASS1\" size=30 maxlength=30></TD></TR>\n",
           message(s, 8010));
    bk_out("<TR><TH align=left>%s</TH><TD><INPUT type=password name=\"KVUPASS2\" size=30 maxlength=30></TD></TR>\n",
           message(s, 8011));
}

void write_tablespace_row(kvu_state* s, const std::string& current) {
    bk_out("<TR><TH align=left>%s</TH><TD><SELECT name=\"KVUDEFTS\" size=1>\n", message(s, 8004));
    for (const std::string& name : s->request->tablespaces)
        bk_out("<OPTION value=\"%s\"%s>%s\n", attr(name).c_str(), name == current ? " selected" : "", html(name).c_str());
    bk_out("</SELECT></TD></TR>\n");
}

void write_role_row(kvu_state* s, const std::vector<std::string>& held) {
    bk_out("<TR><TH align=left>%s</TH><TD>\n", message(s, 8005));
    for (const char* role : KVU_ROLES) {
        bool checked = std::find(held.begin(), held.end(), role) != held.end();
        bk_out("<label><INPUT type=checkbox name=\"KVUROLE\" value=\"%s\"%s>%s</label>\n", role, checked ? " checked" : "",
               role);
    }
    bk_out("</TD></TR>\n");
}

void write_user_page(kvu_state* s, const kvu_user& u) {
    bk_out("<CENTER><TABLE BORDER cellpadding=4>\n");
    bk_out("<CAPTION><B>%s %s</B></CAPTION>\n", message(s, 8019), html(u.name).c_str());
    write_password_rows(s);
    bool locked = u.account == "LOCKED";
    bk_out("<TR><TH align=left>%s</TH><TD>\n", message(s, 8003));
    bk_out("<label><INPUT type=radio name=\"KVUACCOUNT\" value=\"OPEN\"%s>%s</label>\n", locked ? "" : " checked",
           message(s, 8012));
    bk_out("<label><INPUT type=radio name=\"KVUACCOUNT\" value=\"LOCKED\"%s>%s</label>\n", locked ? " checked" : "",
           message(s, 8013));
    bk_out("</TD></TR>\n");
    write_tablespace_row(s, u.tablespace);
    write_role_row(s, u.roles);
    bk_out("</TABLE>\n");
    bk_out("<P><SMALL>%s</SMALL>\n<P>", message(s, 8020));
    write_hidden_user(u.name);
    write_button(s, kvu_text::APPLY);
    write_button(s, kvu_text::DROP_USER);
    write_button(s, kvu_text::BACK);
    bk_out("</CENTER>\n");
}

void write_create_page(kvu_state* s) {
    bk_out("<CENTER><TABLE BORDER cellpadding=4>\n");
    bk_out("<CAPTION><B>%s</B></CAPTION>\n", message(s, kvu_text::CREATE_USER));
    bk_out("<TR><TH align=left>%s</TH><TD><INPUT type=text name=\"KVUNAME\" size=30></TD></TR>\n", message(s, 8001));
    write_password_rows(s);
    write_tablespace_row(s, "USERS");
    write_role_row(s, {"CONNECT"});
    bk_out("</TABLE>\n<P>");
    write_button(s, kvu_text::CREATE);
    write_button(s, kvu_text::BACK);
    bk_out("</CENTER>\n");
}

void write_drop_confirmation(kvu_state* s, const kvu_user& u) {
    const auto& tables = s->request->tables_of_selected;
    std::string text = u.tables == 0 ? kvg_message_filled(s->context, 8041, {u.name})
                                     : kvg_message_filled(s->context, 8042, {u.name, std::to_string(u.tables), joined(tables)});
    bk_out("<P><B>%s</B>\n", text.c_str());
    write_hidden_user(u.name);
    bk_out("<INPUT type=hidden name=\"KVUCONFIRM\" value=\"1\">\n<P>");
    write_button(s, kvu_text::DROP_USER);
    write_button(s, kvu_text::CANCEL);
}

}  // namespace

void kvu_write_body(kvu_state* s) {
    kvg_write_outcome(s->context, s->request->outcome);
    const kvu_request& r = *s->request;
    if (r.page == kvu_page::none) return;
    const kvu_user* user = kvu_find_user(s, r.selected);
    write_form_start(s);
    if (r.page == kvu_page::user && user) write_user_page(s, *user);
    else if (r.page == kvu_page::confirm_drop && user) write_drop_confirmation(s, *user);
    else if (r.page == kvu_page::create) write_create_page(s);
    else write_users_table(s);
    write_form_end(s);
}
