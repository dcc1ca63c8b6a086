// The trust boundary of a request: the response head every program writes,
// the form token that ties a form to the login it was written for, and the
// checks a request must pass before it may change anything.
#include <cstring>
#include <initializer_list>
#include <string>

#include "g/kvg.h"
#include "platform/nss.h"

namespace {

constexpr long long LOGIN_TOKEN_LIFETIME = 3600;  // seconds a login page's form stays good
constexpr long long CLOCK_SKEW = 60;              // a token from a little in the future still counts

// The hex HMAC-SHA256 of data with the key of the installation at home; ""
// when the key cannot be read.
std::string keyed_digest(const std::string& home, const std::string& data) {
    nss_key key;
    std::string path = home + "/kv/key";
    if (nss_read_key_file(path.c_str(), &key) != NSS_OK) return "";
    unsigned char digest[NSS_HMAC_SIZE];
    bool made = nss_hmac_sha256(&key, data.data(), data.size(), digest) == NSS_OK;
    std::memset(&key, 0, sizeof key);
    if (!made) return "";
    std::string hex;
    for (unsigned char b : digest) hex += bk_text("%02x", b);
    return hex;
}

std::string text_or_empty(const char* text) { return text ? text : ""; }

// Each part with its length before it, so that no two lists of parts give
// the same text.
std::string joined(std::initializer_list<const char*> parts) {
    std::string out;
    for (const char* part : parts) {
        std::string text = text_or_empty(part);
        out += std::to_string(text.size()) + ":" + text;
    }
    return out;
}

// Equality that takes as long for a near miss as for a far one: a token is
// never found out character by character.
bool same_secret(const std::string& a, const char* b) {
    size_t length = std::strlen(b);
    unsigned char difference = a.size() != length;
    for (size_t i = 0; i < length; ++i) difference |= static_cast<unsigned char>(a[i % (a.size() + 1)] ^ b[i]);
    return difference == 0;
}

bool same_text_nocase(const char* text, const char* expected) {
    return text && lk_equal_nocase(LK_UTF8, text, expected);
}

// The origin the browser names for a page of this server, as the server is
// configured: protocol, name and, unless it is the protocol's default, port.
bool is_own_origin(const kvg_server* server, const char* origin) {
    std::string protocol = server && server->protocol ? server->protocol : "";
    std::string host = server && server->host ? server->host : "";
    if (protocol.empty() || host.empty()) return false;
    std::string own = protocol + "://" + host;
    if (own == origin) return true;
    // Browsers leave out a default port.
    static const struct {
        const char* protocol;
        const char* port;
    } defaults[] = {{"http", ":80"}, {"https", ":443"}};
    for (const auto& d : defaults)
        if (protocol == d.protocol && own.ends_with(d.port) && own.substr(0, own.size() - std::strlen(d.port)) == origin)
            return true;
    return false;
}

}  // namespace

bool kvg_request_is_https(kvg_context* context) {
    const char* https = context ? kvg_getenv(context, "HTTPS") : bk_store_get("HTTPS");
    return same_text_nocase(https, "on");
}

const char* kvg_page_charset() {
    lk_lang lang;
    if (lk_lang_load(bk_store_get("NLS_LANG"), &lang) != 0) return "utf-8";
    return lang.charset == LK_WE8ISO8859P1 ? "iso-8859-1" : "utf-8";
}

std::string kvg_head_lines(const char* content_type) {
    std::string head = bk_text("Content-type: %s", content_type);
    if (std::strncmp(content_type, "text/", 5) == 0) head += bk_text("; charset=%s", kvg_page_charset());
    // Apache adds nothing to the head of a program that writes its own: the
    // program keeps its pages out of other sites' frames and their types
    // from being guessed, and sends its address to no other site.
    head += "\nX-Frame-Options: DENY\n"
            "Content-Security-Policy: frame-ancestors 'none'\n"
            "X-Content-Type-Options: nosniff\n"
            "Referrer-Policy: same-origin\n";
    return head;
}

void kvg_write_head(const char* status_line, const char* content_type) {
    if (status_line) bk_out("%s\n", status_line);
    bk_out("%s\n", kvg_head_lines(content_type).c_str());
}

char* kvg_form_token(kvg_context* context, const kvg_credentials* credentials) {
    std::string data = joined({"form", credentials->home, credentials->sid, credentials->user,
                               credentials->encoded_password});
    std::string token = keyed_digest(text_or_empty(credentials->home), data);
    return token.empty() ? nullptr : kvg_strdup(context, token.c_str(), "g/kvgtb", __LINE__);
}

void kvg_token_field(kvg_context* context, const kvg_credentials* credentials) {
    const char* token = kvg_form_token(context, credentials);
    bk_out("<input type=hidden name=\"KVCTOKEN\" value=\"%s\">\n", token ? token : "");
}

std::string kvg_login_token(const std::string& home, long long now) {
    std::string time = std::to_string(now);
    std::string digest = keyed_digest(home, joined({"login", time.c_str()}));
    return digest.empty() ? "" : time + "." + digest;
}

bool kvg_login_token_valid(const std::string& home, const char* token, long long now) {
    if (!token) return false;
    const char* dot = std::strchr(token, '.');
    // At most 18 digits: every such number is a time a long long holds.
    if (!dot || dot == token || static_cast<size_t>(dot - token) > 18) return false;
    std::string time(token, dot);
    if (time.find_first_not_of("0123456789") != std::string::npos) return false;
    long long made = std::stoll(time);
    if (made > now + CLOCK_SKEW || now - made > LOGIN_TOKEN_LIFETIME) return false;
    std::string expected = kvg_login_token(home, made);
    return !expected.empty() && same_secret(expected, token);
}

int kvg_origin_check(kvg_context* context, const kvg_server* server) {
    // A browser says where a request comes from; one that says nothing (a
    // text browser, a script) is judged by its form token alone.
    if (const char* origin = kvg_getenv(context, "HTTP_ORIGIN"); origin && !is_own_origin(server, origin))
        return KVG_FOREIGN_ORIGIN;
    const char* site = kvg_getenv(context, "HTTP_SEC_FETCH_SITE");
    if (site && !same_text_nocase(site, "same-origin") && !same_text_nocase(site, "none")) return KVG_FOREIGN_ORIGIN;
    return 0;
}

int kvg_acting_check(kvg_context* context, const kvg_credentials* credentials, const kvg_server* server,
                     const kvg_var* list) {
    if (!same_text_nocase(kvg_getenv(context, "REQUEST_METHOD"), "POST")) return KVG_NOT_POSTED;
    if (int origin = kvg_origin_check(context, server)) return origin;
    const char* token = kvg_form_value("KVCTOKEN", list, context);
    const char* expected = kvg_form_token(context, credentials);
    if (!token || !expected || !same_secret(expected, token)) return KVG_BAD_TOKEN;
    return 0;
}

void kvg_refusal_block(kvg_context* context, int refusal) {
    static const struct {
        int refusal;
        const char* identifier;
    } identifiers[] = {{KVG_NOT_POSTED, "KVC-POST"},
                       {KVG_BAD_TOKEN, "KVC-TOKEN"},
                       {KVG_FOREIGN_ORIGIN, "KVC-ORIGIN"},
                       {KVG_BAD_LOGIN_FORM, "KVC-LOGINFORM"}};
    const char* identifier = "KVC";
    for (const auto& i : identifiers)
        if (i.refusal == refusal) identifier = i.identifier;
    kvg_error_message(1, identifier, refusal, context);
}
