// Error and message blocks, the submit block, escaping, the credentials and
// server records of a request, and path text.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>

#include "g/kvg.h"

namespace {

constexpr const char* MODULE = "g/kvgcm";

// The store is the process environment: read in place, an error block
// needs no block of the heap that may just have failed.
const char* sid_for_help() { return bk_store_get("VANTOR_SID"); }

// With a context the blocks come from its heap; before there is one, from the
// run-time library.
char* help_block(kvg_context* context, size_t size) {
    return static_cast<char*>(context ? kvg_alloc(context, size, 0, MODULE, __LINE__) : std::calloc(1, size));
}

void release(kvg_context* context, void* block) {
    if (context) kvg_free(context, block);
    else std::free(block);
}

// "KVC-OH" with 100 gives "kvc100".
std::string help_anchor(const char* identifier, long long number) {
    std::string anchor = identifier ? std::string(identifier, std::strcspn(identifier, "-")) : "kv";
    for (char& c : anchor)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return anchor + std::to_string(number);
}

// Characters that need an entity, as text or inside a quoted attribute.
const char* html_entity(char c) {
    switch (c) {
        case '&': return "&amp;";
        case '<': return "&lt;";
        case '>': return "&gt;";
        case '"': return "&quot;";
        case '\'': return "&#39;";
        default: return nullptr;
    }
}

// Further characters that end an attribute value written without quotes.
const char* attribute_entity(char c) {
    switch (c) {
        case ' ': return "&#32;";
        case '\t': return "&#9;";
        case '\n': return "&#10;";
        case '\r': return "&#13;";
        case '\f': return "&#12;";
        case '=': return "&#61;";
        case '`': return "&#96;";
        default: return html_entity(c);
    }
}

char* copy_span(kvg_context* context, const char* from, size_t length, int line) {
    auto* out = static_cast<char*>(kvg_alloc(context, length + 1, 0, MODULE, line));
    if (out) std::memcpy(out, from, length);
    return out;
}

// The characters escaped here are ASCII, and no byte of a multi-byte
// character of the supported character sets is ASCII, so bytes can be
// looked at one by one.
std::string escaped(const char* text, const char* (*entity)(char)) {
    std::string out;
    for (const char* p = text; *p; ++p) {
        const char* e = entity(*p);
        if (e) out += e;
        else out += *p;
    }
    return out;
}

char* escape(kvg_context* context, const char* text, const char* (*entity)(char)) {
    std::string out = escaped(text, entity);
    return copy_span(context, out.data(), out.size(), __LINE__);
}

// Finds the last "\" or "/" within the first length bytes of path.
const char* last_separator(const char* path, size_t length) {
    const char* found = nullptr;
    for (size_t i = 0; i < length && path[i]; ++i)
        if (path[i] == '\\' || path[i] == '/') found = path + i;
    return found;
}


// Copies text (none: the empty text) into the server record's field.
bool set_server_field(kvg_context* context, char** field, const std::string& text, const char* identifier) {
    *field = copy_span(context, text.data(), text.size(), __LINE__);
    if (!*field) kvg_error_message(1, identifier, 1013, context);
    return *field != nullptr;
}

std::string env_text(kvg_context* context, const char* name) {
    const char* value = kvg_getenv(context, name);
    return value ? value : "";
}

}  // namespace

void kvg_error_page(int help, const char* identifier, int number, const char* text, kvg_context* context) {
    const char* sid = help ? sid_for_help() : nullptr;
    char* address = nullptr;
    char* icon = nullptr;
    long long shown = number < 0 ? -static_cast<long long>(number) : number;
    if (sid) {
        std::string safe_sid = escaped(sid, attribute_entity);
        std::string anchor = help_anchor(identifier, shown);
        address = help_block(context, safe_sid.size() + anchor.size() + 32);
        icon = help_block(context, safe_sid.size() + 32);
        if (!address || !icon) {
            release(context, address);
            release(context, icon);
            return;
        }
        std::sprintf(address, "%s%s%s%s%s%s%s%s#%s", "/", safe_sid.c_str(), "/", "kv", "/", "doc", "/",
                     "dtug/error.htm", anchor.c_str());
        std::sprintf(icon, "%s%s%s%s%s%s%s%s", "/", safe_sid.c_str(), "/", "kv", "/", "pics", "/", "helptag.gif");
    }
    if (number == 0) {
        bk_out("<P><STRONG>%s</STRONG>\n", text);
    } else {
        bk_out("<H3>%s-%lld:</H3><P><STRONG>%s</STRONG>\n", identifier ? identifier : "kv", shown, text);
        if (address) bk_out("<P><A HREF=\"%s\"><IMG SRC=\"%s\"></A>\n", address, icon);
    }
    release(context, address);
    release(context, icon);
}

void kvg_error_message(int help, const char* identifier, int number, kvg_context* context) {
    kvg_error_page(help, identifier, number, kvg_message(context, number), context);
}

void kvg_submit_block(kvg_context* context, const char* title, const char* text, const char* label) {
    constexpr size_t MESSAGE_BUFFER = 256;
    char title_text[MESSAGE_BUFFER], label_text[MESSAGE_BUFFER];
    if (!title) {
        kvg_message_copy(context, 1053, title_text, MESSAGE_BUFFER);
        title = title_text;
    }
    bk_out("<h3><i>%s</i></h3><P>", title);
    if (text) bk_out("<P>%s<P>\n", text);
    if (!label) {
        kvg_message_copy(context, 1054, label_text, MESSAGE_BUFFER);
        label = label_text;
    }
    // The label is a catalogue text and may hold blanks: the unquoted name
    // must stay one attribute.
    const char* name = kvg_attr_escape(context, label);
    bk_out("<INPUT type=submit name=%s value=\"%s\">\n", name ? name : label, label);
}

char* kvg_html_escape(kvg_context* context, const char* text) { return escape(context, text, html_entity); }

std::string kvg_html_escaped(const char* text) { return escaped(text, html_entity); }

std::string kvg_attr_escaped(const char* text) { return escaped(text, attribute_entity); }

char* kvg_attr_escape(kvg_context* context, const char* text) { return escape(context, text, attribute_entity); }

void kvg_get_credentials(kvg_credentials* credentials, kvg_context* context, const kvg_var* list) {
    // The home the request named, checked at start-up and kept in the
    // installation's own spelling.
    credentials->home = kvg_getenv(context, "VANTOR_HOME");
    credentials->sid = kvg_first_value("VANTOR_SID", list, context);
    credentials->user = kvg_first_value("KVCUSER", list, context);
    credentials->encoded_password = kvg_first_value("KVCPASSWORD", list, context);
    const char* length = kvg_first_value("KVCPLEN", list, context);
    credentials->password_length = length ? lk_text_to_int(length) : 0;
    credentials->password = credentials->encoded_password;
    if (credentials->password_length <= 0) return;
    // A length beyond the groups the text holds comes from a damaged cookie:
    // decode what is there and let the login fail, never read past the text.
    const char* encoded = credentials->encoded_password ? credentials->encoded_password : "";
    int groups = kvg_hex_group_count(encoded);
    if (credentials->password_length > groups) credentials->password_length = groups;
    credentials->password = nullptr;
    unsigned char* bytes = kvg_hex_decode(context, encoded, credentials->password_length);
    char* clear = nullptr;
    if (kvg_decode_password(context, bytes, credentials->password_length, &clear) == 0)
        credentials->password = clear;
}

int kvg_get_server(kvg_context* context, kvg_server* server, const kvg_var* list) {
    const char* remote = kvg_getenv(context, "REMOTE_ADDR");
    const char* recorded = kvg_first_value("KVRMTADDR", list, context);
    if (remote && recorded && std::strcmp(remote, recorded) != 0) kvg_error_message(1, "KVC-TOOL", 1052, context);
    return kvg_server_record(context, server);
}

int kvg_server_record(kvg_context* context, kvg_server* server) {
    std::string host = env_text(context, "SERVER_NAME");
    std::string port = env_text(context, "SERVER_PORT");
    if (!host.empty() && !port.empty()) host += ":" + port;
    std::string protocol = env_text(context, "SERVER_PROTOCOL");
    protocol = protocol.substr(0, protocol.find('/'));
    for (char& c : protocol)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    // Behind TLS the protocol line still says HTTP: the server says so apart.
    if (kvg_request_is_https(context) && protocol == "http") protocol = "https";
    if (kvg_value_lost(context)) return 1013;
    if (!set_server_field(context, &server->host, host, "KVC-SNAME") ||
        !set_server_field(context, &server->protocol, protocol, "KVC-PCOL") ||
        !set_server_field(context, &server->script, env_text(context, "SCRIPT_NAME"), "KVC-SCRIPT"))
        return 1013;
    return 0;
}

std::string kvg_sid_from_address(const char* script_name) {
    static const std::string suffix = "-bin";
    std::string name = script_name ? script_name : "";
    if (name.empty() || name[0] != '/') return "";
    size_t end = name.find('/', 1);
    if (end == std::string::npos) return "";
    std::string first = name.substr(1, end - 1);
    if (first.size() <= suffix.size() || first.compare(first.size() - suffix.size(), suffix.size(), suffix) != 0)
        return "";
    std::string sid = first.substr(0, first.size() - suffix.size());
    for (char c : sid)
        if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'))) return "";
    return sid;
}

const char* kvg_path_base(kvg_context* context, const char* path, size_t length) {
    const char* separator = last_separator(path, length);
    if (!separator) return path;
    size_t end = std::min(length, std::strlen(path));
    const char* base = copy_span(context, separator + 1, path + end - separator - 1, __LINE__);
    return base ? base : path;
}

const char* kvg_path_dir(kvg_context* context, const char* path, size_t length) {
    const char* separator = last_separator(path, length);
    if (!separator) return path;
    const char* dir = copy_span(context, path, separator - path, __LINE__);
    return dir ? dir : path;
}
