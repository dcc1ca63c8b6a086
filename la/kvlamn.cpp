// The login launcher's handler: reads the login, sets the login cookie and
// answers with the verdict.
#include <cstring>

#include "la/kvla.h"
#include "platform/os.h"

namespace {

constexpr const char* MODULE = "la/kvlamn";

// The password goes through the cipher and back, so the clear text checked
// below is exactly what a tool will decode from the cookie. false after a block.
bool encode_password(kvla_state* s, const char* password) {
    kvg_credentials* c = s->credentials;
    if (!password || !*password) {
        c->encoded_password = "";
        c->password = "";
        c->password_length = 0;
        return true;
    }
    unsigned char* enciphered = nullptr;
    int length = kvg_encode_password(s->context, password, &enciphered);
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

// Reads the login; false after an error block.
bool read_login(kvla_state* s) {
    kvg_context* c = s->context;
    if (!kvg_new_record(c, &s->error, 1, "KVLA-ERRP", MODULE) || !kvg_new_record(c, &s->credentials, 1, "KVLA-DBUSER", MODULE))
        return false;
    s->credentials->home = kvg_first_value("VANTOR_HOME", s->variables, c);
    s->credentials->sid = kvg_first_value("VANTOR_SID", s->variables, c);
    kvla_start_service(s->credentials->sid);
    s->credentials->user = kvg_first_value("KVCUSER", s->variables, c);
    if (!encode_password(s, kvg_first_value("KVCPASSWORD", s->variables, c))) return false;
    return kvg_new_record(c, &s->server, 1, "KVLA-SRVP", MODULE) && kvg_get_server(c, s->server, s->variables) == 0;
}

// The response head: content type and the login cookie, then an empty line.
std::string response_head(kvla_state* s) {
    const kvg_credentials* c = s->credentials;
    const char* remote = kvg_getenv(s->context, "REMOTE_ADDR");
    std::string head = "Content-type: text/html\n";
    head += bk_text("Set-Cookie: KVCOOKIE=%s%s&%s%s&%s%s&%s%s&%s%d&%s%s&%s%d; ", "VANTOR_HOME=",
           kvla_cookie_value(c->home).c_str(), "VANTOR_SID=", kvla_cookie_value(c->sid).c_str(), "KVCUSER=",
           kvla_cookie_value(c->user).c_str(), "KVCPASSWORD=", c->encoded_password, "KVCPLEN=", c->password_length,
           "KVRMTADDR=", kvla_cookie_value(remote).c_str(), "KVLOGPID=", static_cast<int>(os_process_id()));
    // Script on the page never needs the login, and other sites never send it.
    head += bk_text("path=%s%s-%s%s; HttpOnly; SameSite=Strict\n\n\n", "/", kvla_cookie_value(c->sid).c_str(), "bin",
                    "/");
    return head;
}

}  // namespace

int kvla_handler(bk_host* host, int, int end, int argc, char** argv) {
    if (end) return bk_end(host, -1);
    auto* s = static_cast<kvla_state*>(bk_record(host, sizeof(kvla_state)));
    if (!s) return -1;
    // The head depends on the login, but reading it may already write a
    // block: that output waits until a head is out.
    bk_out_hold();
    if (kvg_start(host, &s->context, &s->variables, argc, argv) != 0 || !read_login(s)) {
        bk_out_release("Content-type: text/html\n\n");
        return -1;
    }
    bk_out_release(response_head(s).c_str());
    kvla_write_page(s);
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
