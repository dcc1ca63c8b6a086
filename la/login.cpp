// The login form page: /SID-bin/login. It shows which instance the address
// names, offers the database home the web server was set up with, and posts
// the four login fields to the launcher kvla of the same instance.
#include <cstdio>
#include <ctime>
#include <string>

#include "g/kvg.h"
#include "platform/os.h"

namespace {

std::string escaped_text(const std::string& value) { return kvg_html_escaped(value.c_str()); }
std::string escaped_attribute(const std::string& value) { return kvg_attr_escaped(value.c_str()); }

constexpr const char* STYLE = R"(<style>
body { background: #b8b8c8; margin: 0; font-family: sans-serif; color: #202030; }
main { max-width: 26em; margin: 12vh auto 0; padding: 1.5em 2em 2em; background: #e4e4ee;
       border: 1px solid #8c8ca0; border-radius: 6px; box-shadow: 0 2px 10px rgba(40, 40, 70, 0.25); }
h1 { margin: 0 0 0.6em; font-size: 1.4em; text-align: center; }
h1 img { max-width: 100%; }
p { margin: 0 0 1.2em; }
form { display: grid; grid-template-columns: max-content 1fr; gap: 0.7em 0.8em; align-items: center; }
label { text-align: right; }
input { font: inherit; padding: 0.3em 0.4em; border: 1px solid #8c8ca0; border-radius: 3px; min-width: 0; }
button { grid-column: 2; justify-self: start; font: inherit; padding: 0.35em 1.4em; cursor: pointer; }
form.logout { display: flex; gap: 0.8em; align-items: center; justify-content: space-between; margin: 0 0 1.2em;
              padding: 0 0 1em; border-bottom: 1px solid #8c8ca0; }
</style>
)";

// The browser is to send the form in the character set the tools decode it
// with: the one NLS_LANG names.
void write_head(const char* status, const std::string& title) {
    if (status) std::printf("Status: %s\n", status);
    std::printf("%s\n", kvg_head_lines("text/html").c_str());
    std::printf("<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"%s\">\n", kvg_page_charset());
    std::printf("<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n");
    std::printf("<title>%s</title>\n%s</head>\n<body>\n<main>\n", escaped_text(title).c_str(), STYLE);
}

void write_tail() { std::printf("</main>\n</body>\n</html>\n"); }

// The launcher's address: absolute, so that the page posts to it however its
// own address ends (/SID-bin/login/ included).
std::string launcher_address(const std::string& sid) { return "/" + sid + "-bin/kvla"; }

// The token of this page's forms: the launcher takes a login or a logout
// only from this page, posted within the hour.
std::string form_token() { return kvg_login_token(os_installation_home(), std::time(nullptr)); }

// The user the browser's login cookie names, with a button that ends the login.
void write_logout(const std::string& sid, const std::string& user) {
    std::printf("<form class=\"logout\" method=\"post\" action=\"%s\">\n", escaped_attribute(launcher_address(sid)).c_str());
    std::printf("<input type=\"hidden\" name=\"VANTOR_SID\" value=\"%s\">\n", escaped_attribute(sid).c_str());
    std::printf("<input type=\"hidden\" name=\"KVCTOKEN\" value=\"%s\">\n", escaped_attribute(form_token()).c_str());
    std::printf("<input type=\"hidden\" name=\"KVCLOGOUT\" value=\"1\">\n");
    std::printf("<span>Logged in as <b id=\"logged-in\">%s</b>.</span>\n", escaped_text(user).c_str());
    std::printf("<button type=\"submit\">Log out</button>\n</form>\n");
}

void write_form(const std::string& sid, const std::string& home, const std::string& user) {
    write_head(nullptr, "Vantor Tools Login - " + sid);
    // The launcher's own banner picture, so the form looks like the page it leads to.
    std::printf("<h1><img src=\"/%s/kv/pics/kvlabanner.gif\" alt=\"Vantor Tools Login\"></h1>\n",
                escaped_attribute(sid).c_str());
    std::printf("<p>Log in to instance <b id=\"sid\">%s</b>.</p>\n", escaped_text(sid).c_str());
    if (!user.empty()) write_logout(sid, user);
    // The launcher of the same instance, whatever host and port the browser used.
    std::printf("<form method=\"post\" action=\"%s\">\n", escaped_attribute(launcher_address(sid)).c_str());
    std::printf("<input type=\"hidden\" name=\"VANTOR_SID\" value=\"%s\">\n", escaped_attribute(sid).c_str());
    std::printf("<input type=\"hidden\" name=\"KVCTOKEN\" value=\"%s\">\n", escaped_attribute(form_token()).c_str());
    std::printf("<label for=\"home\">Database home</label>\n");
    std::printf("<input id=\"home\" name=\"VANTOR_HOME\" value=\"%s\" required>\n", escaped_attribute(home).c_str());
    std::printf("<label for=\"user\">User</label>\n");
    std::printf("<input id=\"user\" name=\"KVCUSER\" autocomplete=\"username\" autofocus required>\n");
    std::printf("<label for=\"password\">Password</label>\n");
    std::printf("<input id=\"password\" type=\"password\" name=\"KVCPASSWORD\" autocomplete=\"current-password\">\n");
    std::printf("<button type=\"submit\">Log in</button>\n</form>\n");
    write_tail();
}

void write_refusal(const char* script_name) {
    write_head("400 Bad Request", "Vantor Tools Login");
    std::printf("<h1>No instance in this address</h1>\n");
    std::printf("<p>The address <b>%s</b> names no database instance.</p>\n",
                escaped_text(script_name ? script_name : "").c_str());
    std::printf("<p>Open the login page as /SID-bin/login, where SID is the instance id "
                "(letters and digits only), for example /PROD-bin/login.</p>\n");
    write_tail();
}

}  // namespace

int main() {
    const char* script_name = bk_store_get("SCRIPT_NAME");
    std::string sid = kvg_sid_from_address(script_name);
    if (sid.empty()) {
        write_refusal(script_name);
        return 0;
    }
    const char* home = bk_store_get("VANTOR_HOME");
    write_form(sid, home ? home : os_installation_home(), kvg_cookie_value(bk_store_get("HTTP_COOKIE"), "KVCUSER"));
    return 0;
}
