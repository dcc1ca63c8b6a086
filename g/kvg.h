// The request framework shared by every program of the tool set: start-up,
// request decoding, messages and error blocks, credentials, password
// encoding, string lists and path text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>

#include "platform/basekit.h"
#include "platform/langkit.h"

// ---- context --------------------------------------------------------------

struct kvg_cursor {
    lk_charset charset;
};

struct kvg_nls {
    lk_lang* language;
    void* callback;
    lk_charset charset;
    lk_catalog* catalog;
    kvg_cursor* cursor;
};

struct kvg_store {
    unsigned set_count;  // values set through kvg_setenv in this process
    bool lost_value;     // a variable was set but could not be read for want of memory
};

struct kvg_var_index;

struct kvg_services {
    bk_host* host;
    bk_heap* heap;
    bk_formatter* formatter;
    kvg_store* store;
    kvg_var_index* variable_index;  // the names of the decoded request, for lookups by name
};

struct kvg_context {
    kvg_nls* nls;
    kvg_services* services;
};

// Heap blocks carry the module and line that asked for them.
void* kvg_alloc(kvg_context* context, size_t size, int flags, const char* module, int line);
void* kvg_realloc(kvg_context* context, void* block, size_t new_size, size_t old_size, int flags,
                  const char* module, int line);
void kvg_free(kvg_context* context, void* block);
// A working record of a handler: a zeroed block, or none after the block
// "identifier-1013" (out of memory) has been written.
void* kvg_alloc_record(kvg_context* context, size_t size, int help, const char* identifier, const char* module,
                       int line);
// The same for a record of type T, stored in *slot; false after the block.
// The line of the tag is the caller's.
template <typename T>
bool kvg_new_record(kvg_context* context, T** slot, int help, const char* identifier, const char* module,
                    int line = __builtin_LINE()) {
    *slot = static_cast<T*>(kvg_alloc_record(context, sizeof(T), help, identifier, module, line));
    return *slot != nullptr;
}
// A heap copy of text (none when no block can be had).
char* kvg_strdup(kvg_context* context, const char* text, const char* module, int line);

// ---- request variables ----------------------------------------------------

struct kvg_var {
    char* name;  // none for the empty first entry of a request without data
    char* value;
    kvg_var* next;
    // The pair came from the login cookie, not from the form or query: a
    // request proves what it asks for only with what its form carries.
    bool from_cookie;
    kvg_var* next_same_name;  // the next entry of the same name, in list order
};
using kvg_var_list = kvg_var;

// The chain of variables ends at this marker, not at a null link.
inline kvg_var* const KVG_VAR_END = reinterpret_cast<kvg_var*>(std::uintptr_t{0x0FFFFFFF});

// Decodes the form data (body, else query, else name=value arguments) and
// appends the pairs of the login cookie. None after an error block.
kvg_var* kvg_decode_request(kvg_context* context, int argc, char** argv);
// Stores, in list order, up to capacity values of name into out; returns how
// many entries carry the name.
int kvg_get_values(const char* name, const kvg_var* list, const char** out, int capacity,
                   kvg_context* context);
// The first value of name, or none: what every caller takes.
const char* kvg_first_value(const char* name, const kvg_var* list, kvg_context* context);
// The first value of name that the form or query carries, the cookie's pairs
// left aside; none when the form has no such field.
const char* kvg_form_value(const char* name, const kvg_var* list, kvg_context* context);

// The first value of name among the login cookie's pairs in a Cookie header,
// decoded as the request's pairs are; "" when there is none. For pages that
// run without a request context.
std::string kvg_cookie_value(const char* header, const char* name);

// The hidden page counter a form page passes on: the one the request carried,
// plus one. It stops at the largest value rather than wrap, and never comes
// back to 0 from another value: 0 is what a first request carries.
int32_t kvg_next_counter(int32_t counter);

// The whole value of a variable (store first, then the process environment)
// in a heap block, or none when it is not set. A value that is set but finds
// no block gets the block "KVC-ENV-1013" and counts as lost: see
// kvg_value_lost.
char* kvg_getenv(kvg_context* context, const char* name);
// Whether a variable could not be read for want of memory: what was read
// must then not be taken for a request without it.
bool kvg_value_lost(kvg_context* context);
int kvg_setenv(kvg_context* context, const char* name, const char* value);

// ---- start-up -------------------------------------------------------------

// Context, language services, request, database home and instance id,
// message catalogue and formatter. 0, or non-zero after an error block.
int kvg_start(bk_host* host, kvg_context** context_slot, kvg_var** list_slot, int argc, char** argv);

// ---- messages and error blocks --------------------------------------------

// The catalogue's text of number (a "not found" text for an unknown number).
const char* kvg_message(kvg_context* context, int number);
size_t kvg_message_copy(kvg_context* context, int number, char* buffer, size_t size);
// The catalogue's text of number with "%1", "%2", ... replaced by the values
// in their order, each HTML-escaped: for the sentences of the sibling tools
// that name an instance, a user or a count.
std::string kvg_message_filled(kvg_context* context, int number, std::initializer_list<std::string> values);

// Writes one error or message block. The text is written as it stands: a
// caller passing a value from the request or the database escapes it first.
// Without a context (early start-up) the process environment is used.
void kvg_error_page(int help, const char* identifier, int number, const char* text,
                    kvg_context* context);
// Looks number up in the catalogue and writes it as an error block.
void kvg_error_message(int help, const char* identifier, int number, kvg_context* context);
void kvg_submit_block(kvg_context* context, const char* title, const char* text, const char* label);

// Text for an element's content or a quoted attribute: & < > " ' become entities.
char* kvg_html_escape(kvg_context* context, const char* text);
// The same two escapes for programs that run without a context.
std::string kvg_html_escaped(const char* text);
std::string kvg_attr_escaped(const char* text);
// Text for an attribute that may stand without quotes: blanks, "=" and "`"
// are made entities as well.
char* kvg_attr_escape(kvg_context* context, const char* text);

// ---- credentials and server -----------------------------------------------

constexpr int32_t KVG_CONNECTED = 109;

struct kvg_credentials {
    const char* home;
    const char* sid;
    const char* user;
    const char* password;          // clear text
    const char* encoded_password;  // as carried in the cookie
    int32_t password_length; // enciphered length; 0 or less: not enciphered
    int32_t state;           // KVG_CONNECTED or not
};

struct kvg_server {
    char* host;      // server name, ":" and the port when known
    char* protocol;  // lower case
    char* script;    // SCRIPT_NAME
};

void kvg_get_credentials(kvg_credentials* credentials, kvg_context* context, const kvg_var* list);
int kvg_get_server(kvg_context* context, kvg_server* server, const kvg_var* list);
// The server record alone, without the check of the client's address (for a
// login, which replaces the cookie that check reads).
int kvg_server_record(kvg_context* context, kvg_server* server);

// ---- password encoding ----------------------------------------------------

// Enciphers clear text (the empty text too) under the installation's key;
// returns the enciphered length (nonce, ciphertext as long as the text, and
// tag) with the bytes in *out, or -1 after an error block.
int kvg_encode_password(kvg_context* context, const char* clear, unsigned char** out);
// Each byte as lower-case hex followed by "w" (0x0A 0xFF gives "awffw").
char* kvg_hex_encode(kvg_context* context, const unsigned char* bytes, int length);
// Reads length "w"-ended groups; never reads past the end of text, missing
// groups give 0 bytes. The text itself comes back when no block can be had.
unsigned char* kvg_hex_decode(kvg_context* context, const char* text, int length);
// Deciphers length bytes into the clear text; 0, or -1 after an error block
// (1047 for a text that was changed, cut or enciphered under another key).
int kvg_decode_password(kvg_context* context, const unsigned char* bytes, int length, char** out);
// How many "w"-ended groups a hex text holds.
int kvg_hex_group_count(const char* text);

// ---- trust boundary -------------------------------------------------------

// The lines of a response head: the content type (a text one with the
// page's character set) and the headers that keep the page out of other
// sites' frames and its type from being guessed. Without the blank line.
std::string kvg_head_lines(const char* content_type);
// The status line when one is given (non-parsed-header programs), the head
// lines and the blank line that ends the head.
void kvg_write_head(const char* status_line, const char* content_type);
// "utf-8" or "iso-8859-1": the character set NLS_LANG names for pages.
const char* kvg_page_charset();
// Whether the request came over TLS (HTTPS=on).
bool kvg_request_is_https(kvg_context* context);

// Why a request may not change anything; each is a catalogue message.
constexpr int KVG_NOT_POSTED = 1060;      // not a POST
constexpr int KVG_BAD_TOKEN = 1061;       // the form token is missing or not this login's
constexpr int KVG_FOREIGN_ORIGIN = 1062;  // the browser says it comes from another site
constexpr int KVG_BAD_LOGIN_FORM = 1063;  // a login that did not come from this login page

// The hex HMAC-SHA256, with the installation's key, of the login's home,
// SID, user and enciphered password text: what every form of a tool
// carries as KVCTOKEN. None when the key cannot be read.
char* kvg_form_token(kvg_context* context, const kvg_credentials* credentials);
// The hidden field KVCTOKEN of a form.
void kvg_token_field(kvg_context* context, const kvg_credentials* credentials);
// The login form's own token, "time.hmac(time)", with the key of the
// installation at home; empty when the key cannot be read.
std::string kvg_login_token(const std::string& home, long long now);
// Whether token is a login token of this installation no older than an hour.
bool kvg_login_token_valid(const std::string& home, const char* token, long long now);

// 0 when the browser's Origin and Sec-Fetch-Site say the request comes from
// this server's own pages or say nothing; KVG_FOREIGN_ORIGIN otherwise.
int kvg_origin_check(kvg_context* context, const kvg_server* server);
// 0 when a request may change something: posted, from this server's pages,
// with the form token of the login it acts for; otherwise the refusal.
int kvg_acting_check(kvg_context* context, const kvg_credentials* credentials, const kvg_server* server,
                     const kvg_var* list);
// The block that tells the user why nothing was done.
void kvg_refusal_block(kvg_context* context, int refusal);

// ---- the sibling tools' actions -------------------------------------------

// What a request's action came to: written above the page's body once the
// frame is out, as the action comes before the page.
struct kvg_outcome {
    std::string line;                  // what was done, or empty
    const char* identifier = nullptr;  // of the error block, or none
    int number = 0;                    // the block's number (a database code is negative)
    std::string text;                  // the block's text, escaped
    int refusal = 0;                   // a refusal of kvg_acting_check, or 0
};
// The block of a refused check, with the catalogue's text of number; false.
bool kvg_outcome_refuse(kvg_context* context, kvg_outcome* outcome, const char* identifier, int number);
// The block of a failed database layer call: a catalogue number (result > 0),
// or the database's code and message (result < 0). True when result is 0.
bool kvg_outcome_result(kvg_context* context, kvg_outcome* outcome, const char* identifier, int result, int code,
                        const char* message);
void kvg_write_outcome(kvg_context* context, const kvg_outcome& outcome);
// The form of a page that posts to its own program, with the form token.
void kvg_self_form_start(kvg_context* context, const kvg_credentials* credentials, const kvg_server* server);
// The button pressed: the last posted value of name that is the catalogue
// text of one of labels, or none.
const char* kvg_last_button(kvg_context* context, const kvg_var* list, const char* name, std::initializer_list<int> labels);

// ---- page frame -----------------------------------------------------------

// The tool's title message, banner and help page hang on its code: "kvd",
// "kvs", "kvu", "kvx", "kvla", "kve", "kvb", "kvr".
int kvg_title_message(const char* tool_code);
const char* kvg_help_page(const char* tool_code);
// "green", "red" or "yellow" for a database status.
const char* kvg_light_name(int status);

void kvg_page_head(kvg_context* context, const char* tool_code);
void kvg_banner(kvg_context* context, kvg_credentials* credentials, const char* tool_code);
// The row of links: login (or the target program), the tool map (or message
// 1043 when text_instead_of_map is set) and help.
void kvg_toolbar(kvg_context* context, kvg_credentials* credentials, const kvg_server* server,
                 const char* tool_code, int text_instead_of_map, const char* target, const char* query,
                 const char* picture);
void kvg_footer(kvg_context* context, const kvg_credentials* credentials, const kvg_server* server);
void kvg_page_top(kvg_context* context, kvg_credentials* credentials, const kvg_server* server,
                  const char* tool_code, const char* target, const char* query, const char* picture);
void kvg_page_bottom(kvg_context* context, kvg_credentials* credentials, const kvg_server* server,
                     const char* tool_code, const char* target, const char* query, const char* picture);
// The alt texts are catalogue texts: what a browser that shows no pictures shows.
void kvg_image_map(const kvg_credentials* credentials, const char* picture, const char* map_name, const char* alt);
void kvg_map_area(const kvg_credentials* credentials, const kvg_server* server, int left, int top, int right,
                  int bottom, const char* program, const char* query, const char* alt);

// The instance id an address /SID-bin/NAME names, or "" when it names none:
// the id is one or more letters and digits.
std::string kvg_sid_from_address(const char* script_name);

// ---- string lists and paths -----------------------------------------------

struct kvg_string_list {
    int32_t count;
    char** items;
};

int kvg_list_new(kvg_string_list** slot, int capacity, kvg_context* context);
int kvg_list_set(kvg_string_list* list, int index, const char* text, kvg_context* context);
void kvg_list_free(kvg_string_list* list, kvg_context* context);
int kvg_list_find(const kvg_string_list* list, const char* text, kvg_context* context);
kvg_string_list* kvg_list_copy(const kvg_string_list* list, kvg_context* context);
void kvg_list_print(const kvg_string_list* list);

const char* kvg_path_base(kvg_context* context, const char* path, size_t length);
const char* kvg_path_dir(kvg_context* context, const char* path, size_t length);

// ---- program entry --------------------------------------------------------

// The entry code of every program: registers the table, finds the program by
// name and dispatches to it. Returns the process exit code (0, 3 or 4).
int kvg_main(const char* image_name, const bk_program_entry* table, int argc, char** argv);
