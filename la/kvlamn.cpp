// The launcher's handler: reads the login, sets the login cookie and
// answers with the verdict. Revisited with the cookie alone, it shows the
// verdict for the login the cookie holds.
#include <cstring>
#include <ctime>

#include "la/kvla.h"
#include "platform/os.h"

namespace {

constexpr const char* MODULE = "la/kvlamn";

// Engine codes of a login the instance refused: it gets no cookie.
constexpr int32_t REFUSED_CODES[] = {-1017, -3101, -3103};

// The password goes through the cipher and back, so the clear text checked
// below is exactly what a tool will decode from the cookie. false after a block.
bool encode_password(kvla_state* s, const char* password) {
    kvg_credentials* c = s->credentials;
    unsigned char* enciphered = nullptr;
    int length = kvg_encode_password(s->context, password ? password : "", &enciphered);
    if (length < 0) return false;
    c->encoded_password = kvg_hex_encode(s->context, enciphered, length);
    if (!c->encoded_password) {
        kvg_error_message(1, "KVLA-DBUSER", 1013, s->context);
        return false;
    }
    c->password_length = length;
    char* clear = nullptr;
    if (kvg_decode_password(s->context, enciphered, length, &clear) != 0) return false;
    c->password = clear;
    return true;
}

// The working records; false after an error block. A login or logout
// replaces the cookie, so the address the old one recorded is not checked.
bool create_records(kvla_state* s, bool replaces_cookie) {
    kvg_context* c = s->context;
    if (!kvg_new_record(c, &s->error, 1, "KVLA-ERRP", MODULE) ||
        !kvg_new_record(c, &s->credentials, 1, "KVLA-DBUSER", MODULE) ||
        !kvg_new_record(c, &s->server, 1, "KVLA-SRVP", MODULE))
        return false;
    if (replaces_cookie) return kvg_server_record(c, s->server) == 0;
    return kvg_get_server(c, s->server, s->variables) == 0;
}

// A login or logout is posted from this installation's login page within
// the hour, and not from a page of another site: a forged login would replace
// the user's cookie with one of the forger's choosing.
int login_refusal(kvla_state* s) {
    kvg_context* c = s->context;
    const char* method = kvg_getenv(c, "REQUEST_METHOD");
    if (!method || !lk_equal_nocase(LK_UTF8, method, "POST")) return KVG_NOT_POSTED;
    if (int origin = kvg_origin_check(c, s->server)) return origin;
    const char* home = kvg_getenv(c, "VANTOR_HOME");
    if (!kvg_login_token_valid(home ? home : "", kvg_form_value("KVCTOKEN", s->variables, c), std::time(nullptr)))
        return KVG_BAD_LOGIN_FORM;
    return 0;
}

// The login of the form: the service of its instance started, the password
// through the cipher. false after an error block.
bool read_login(kvla_state* s) {
    kvg_context* c = s->context;
    kvg_credentials* credentials = s->credentials;
    credentials->home = kvg_getenv(c, "VANTOR_HOME");
    credentials->sid = kvg_first_value("VANTOR_SID", s->variables, c);
    kvla_start_service(credentials->sid);
    credentials->user = kvg_first_value("KVCUSER", s->variables, c);
    return encode_password(s, kvg_first_value("KVCPASSWORD", s->variables, c));
}

bool refused(int check, const kvo_sql_error* error) {
    if (check == 0) return false;
    for (int32_t code : REFUSED_CODES)
        if (error->code == code) return true;
    return false;
}

std::string login_page_address(kvla_state* s) {
    const kvg_server* server = s->server;
    return bk_text("%s://%s/%s-bin/login", server->protocol, server->host, kvla_cookie_value(s->credentials->sid).c_str());
}

// The cookie's path and flags: the programs of this instance only, never to
// script on the page or to other sites, and behind TLS never in clear.
std::string cookie_attributes(kvla_state* s) {
    return bk_text("path=%s%s-%s%s; HttpOnly; SameSite=Strict%s", "/", kvla_cookie_value(s->credentials->sid).c_str(),
                   "bin", "/", kvg_request_is_https(s->context) ? "; Secure" : "");
}

// The response head: content type, the login cookie when one is set, then an empty line.
std::string response_head(kvla_state* s, bool cookie) {
    if (!cookie) return kvg_head_lines("text/html") + "\n";
    const kvg_credentials* c = s->credentials;
    const char* remote = kvg_getenv(s->context, "REMOTE_ADDR");
    std::string head = kvg_head_lines("text/html");
    head += bk_text("Set-Cookie: KVCOOKIE=%s%s&%s%s&%s%s&%s%s&%s%d&%s%s&%s%d; ", "VANTOR_HOME=",
           kvla_cookie_value(c->home).c_str(), "VANTOR_SID=", kvla_cookie_value(c->sid).c_str(), "KVCUSER=",
           kvla_cookie_value(c->user).c_str(), "KVCPASSWORD=", c->encoded_password, "KVCPLEN=", c->password_length,
           "KVRMTADDR=", kvla_cookie_value(remote).c_str(), "KVLOGPID=", static_cast<int>(os_process_id()));
    head += cookie_attributes(s) + "\n\n\n";
    return head;
}

// A logout: the cookie expires, and the browser goes back to the login page.
void logout(kvla_state* s) {
    kvg_context* c = s->context;
    s->credentials->sid = kvg_first_value("VANTOR_SID", s->variables, c);
    if (int refusal = login_refusal(s)) {
        bk_out_release(response_head(s, false).c_str());
        kvla_write_refusal(s, refusal);
        return;
    }
    std::string address = login_page_address(s);
    std::string head = "Status: 303 See Other\nLocation: " + address + "\n" + kvg_head_lines("text/html") +
                       "Set-Cookie: KVCOOKIE=; Max-Age=0; " + cookie_attributes(s) + "\n\n";
    bk_out_release(head.c_str());
    bk_out("<html><body><a href=\"%s\">%s</a></body></html>\n", kvg_attr_escaped(address.c_str()).c_str(),
           kvg_message(c, 1064));
}

// A login: checked against the instance before the head, so that a refused
// one sets no cookie. -1 after a block that ends the request.
int login(kvla_state* s) {
    // Without the key neither the login page's token nor the password can be
    // checked: the installation is at fault, not the login.
    const char* home = kvg_getenv(s->context, "VANTOR_HOME");
    if (kvg_login_token(home ? home : "", std::time(nullptr)).empty()) {
        bk_out_release(response_head(s, false).c_str());
        kvg_error_message(0, "KVG-EDIN", 1045, s->context);
        return -1;
    }
    if (int refusal = login_refusal(s)) {
        bk_out_release(response_head(s, false).c_str());
        kvla_write_refusal(s, refusal);
        return 0;
    }
    if (!read_login(s)) {
        bk_out_release(response_head(s, false).c_str());
        return -1;
    }
    char role[KVO_ROLE_SIZE];
    int check = kvo_check_dba(s->context, s->credentials, s->error, role);
    bk_out_release(response_head(s, !refused(check, s->error)).c_str());
    kvla_write_page(s, check, role);
    return 0;
}

// A visit with the cookie alone (a bookmark, the address bar): the verdict
// for the cookie's login, which stays as it is.
void revisit(kvla_state* s) {
    kvg_get_credentials(s->credentials, s->context, s->variables);
    bk_out_release(response_head(s, false).c_str());
    char role[KVO_ROLE_SIZE];
    int check = kvo_check_dba(s->context, s->credentials, s->error, role);
    kvla_write_page(s, check, role);
}

}  // namespace

int kvla_handler(bk_host* host, int, int end, int argc, char** argv) {
    if (end) return bk_end(host, -1);
    auto* s = static_cast<kvla_state*>(bk_record(host, sizeof(kvla_state)));
    if (!s) return -1;
    // The head depends on the login, but reading it may already write a
    // block: that output waits until a head is out.
    bk_out_hold();
    if (kvg_start(host, &s->context, &s->variables, argc, argv) != 0) {
        bk_out_release(response_head(s, false).c_str());
        return -1;
    }
    // Only a form that names a user logs in; the cookie's user does not.
    bool logs_in = kvg_form_value("KVCUSER", s->variables, s->context) != nullptr;
    bool logs_out = !logs_in && kvg_form_value("KVCLOGOUT", s->variables, s->context) != nullptr;
    if (!create_records(s, logs_in || logs_out)) {
        bk_out_release(response_head(s, false).c_str());
        return -1;
    }
    if (logs_in) return login(s);
    if (logs_out) logout(s);
    else revisit(s);
    return 0;
}

int main(int argc, char** argv) {
    static const bk_program_entry table[] = {
        BK_LSF_ENTRY,
        {"kvla", 4, "", 0, "", 0, kvla_handler, BK_ENTRY_REAL},
        BK_TABLE_END,
    };
    return kvg_main("kvlaunch", table, argc, argv);
}
