// The launcher's service start, cookie values and page.
#include <cstdio>

#include "la/kvla.h"
#include "platform/svcctl.h"

namespace {

constexpr const char* MODULE = "la/kvlafn";
constexpr int32_t INSTANCE_DOWN = -1034;

bool cookie_safe(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '_' ||
           c == '.' || c == ':' || c == '/' || c == '\\' || c == '@';
}

// The verdict of the login; true when the tool bar shows text instead of the map.
bool write_verdict(kvla_state* s, const char* user, int check, const char* role) {
    kvg_context* c = s->context;
    if (check != 0) {
        if (s->error->code == INSTANCE_DOWN) {
            kvg_error_message(1, "KVLA-DBDOWN", 1035, c);
        } else {
            // The database's own text may repeat what the user typed.
            const char* text = kvg_html_escape(c, s->error->message);
            kvg_error_page(1, "KVLA-LOGIN", s->error->code, text ? text : "", c);
        }
        bk_out("<hr>");
        // The administrative login keeps the map: with the instance down it
        // still leads to database control and backup.
        return !lk_equal_nocase(c->nls->charset, user, "internal");
    }
    if (!lk_equal(role, "DBA")) {
        kvg_error_message(1, "KVLA-NOTDBA", 1042, c);
        bk_out("<hr>");
        return true;
    }
    return false;
}

}  // namespace

int kvla_start_service(const char* sid) {
    char service_name[300];
    std::snprintf(service_name, sizeof service_name, "VantorService%s", sid ? sid : "");
    return svc_start(service_name);
}

std::string kvla_cookie_value(const char* text) {
    std::string out;
    for (const char* p = text ? text : ""; *p; ++p) {
        auto c = static_cast<unsigned char>(*p);
        if (cookie_safe(c)) out += *p;
        else out += bk_text("%%%02X", c);
    }
    return out;
}

void kvla_write_page(kvla_state* s, int check, const char* role) {
    kvg_context* c = s->context;
    const char* first_user = s->credentials->user;
    const char* user = kvg_strdup(c, first_user ? first_user : "", MODULE, __LINE__);
    kvg_page_head(c, "kvla");
    kvg_banner(c, s->credentials, "kvla");
    bool text_instead_of_map = write_verdict(s, user ? user : "", check, role);
    kvg_toolbar(c, s->credentials, s->server, "kvla", text_instead_of_map, nullptr, nullptr, nullptr);
    kvg_footer(c, s->credentials, s->server);
}

void kvla_write_refusal(kvla_state* s, int refusal) {
    kvg_context* c = s->context;
    // Nothing of the form is tried: no password reaches the instance, so the
    // light comes from a probe without a user.
    s->credentials->sid = kvg_first_value("VANTOR_SID", s->variables, c);
    s->credentials->home = kvg_getenv(c, "VANTOR_HOME");
    kvg_page_head(c, "kvla");
    kvg_banner(c, s->credentials, "kvla");
    kvg_refusal_block(c, refusal);
    bk_out("<hr>");
    kvg_toolbar(c, s->credentials, s->server, "kvla", 1, nullptr, nullptr, nullptr);
    kvg_footer(c, s->credentials, s->server);
}
