// The export tool's options: defaults, the posted fields and their checks,
// the hidden fields that carry them from page to page, and the form blocks.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "e/kve.h"
#include "platform/esqlrt.h"
#include "platform/os.h"

namespace {

constexpr const char* MODULE = "e/kveui";

// The catalogue's radio choices and buttons.
constexpr int TABLES = 4007, USERS = 4008, FULL_DATABASE = 4009;
constexpr int INCREMENTAL_TYPES[] = {4026, 4027, 4028, 4029};
constexpr int STATISTICS_TYPES[] = {4026, 4032, 4033};
constexpr int NO_TYPE = 4026;
// Files named outside the export directory.
constexpr int EXPORT_FILE_OUTSIDE = 4070, LOG_FILE_OUTSIDE = 4071;

const char* message(kve_request* r, int number) { return kvg_message(r->context, number); }

const char* posted(kve_request* r, const char* name) { return kvg_first_value(name, r->variables, r->context); }

bool equals_message(kve_request* r, const char* text, int number) {
    return text && lk_equal(text, message(r, number));
}

std::string attr(const char* text) { return kvg_attr_escaped(text ? text : ""); }
std::string html(const char* text) { return kvg_html_escaped(text ? text : ""); }

size_t character_count(kve_request* r, const char* text) { return kve_character_count(r->context, text); }

// A file name reaches the parameter file as one line: one that holds a line
// break or another control character could add parameters of its own, and
// one longer than its field would name another file once cut. Both are
// refused with the field's message.
void copy_file_name(bk_host* host, kve_request* r, char (&field)[KVE_FILE_SIZE], const std::string& text,
                    int refusal) {
    if (kve_has_control_character(text.c_str())) kve_fail(host, r->context, 0, KVE_CONTROL_IN_NAME);
    if (text.size() >= KVE_FILE_SIZE) kve_fail(host, r->context, 0, refusal);
    std::memcpy(field, text.c_str(), text.size() + 1);
}

// A file the user named: it must lie in the export directory, and the field
// holds the absolute path the utility is given.
void set_file_name(bk_host* host, kve_request* r, char (&field)[KVE_FILE_SIZE], const char* text, int refusal,
                   int outside) {
    if (kve_has_control_character(text)) kve_fail(host, r->context, 0, KVE_CONTROL_IN_NAME);
    std::string path;
    switch (kve_export_directory_path(r->credentials->home ? r->credentials->home : "", text, &path)) {
        case KVE_INSIDE: break;
        case KVE_OUTSIDE: kve_fail(host, r->context, 1, outside);
        case KVE_NO_DIRECTORY: kve_fail(host, r->context, 0, refusal);
    }
    copy_file_name(host, r, field, path, refusal);
}

// A type is only ever compared with the offered words, none of which is
// longer than its field; a longer text can match none of them and is kept as
// an unrecognised type (the empty text), which is what it would be uncut.
void set_type(char (&field)[KVE_TYPE_SIZE], const char* text) {
    size_t length = std::strlen(text);
    if (length >= KVE_TYPE_SIZE) length = 0;
    std::memcpy(field, text, length);
    field[length] = '\0';
}

// HOME/export/name, for the default log and export file names.
void set_default_file(bk_host* host, kve_request* r, char (&field)[KVE_FILE_SIZE], const char* name, int refusal) {
    const char* home = r->credentials->home ? r->credentials->home : "";
    size_t size = std::strlen(home) + std::strlen(name) + sizeof "/export/";
    auto* path = static_cast<char*>(kvg_alloc(r->context, size, 0, MODULE, __LINE__));
    if (!path) kve_fail(host, r->context, 1, 1010);
    std::snprintf(path, size, "%s%s%s%s%s", home, "/", "export", "/", name);
    copy_file_name(host, r, field, path, refusal);
    kvg_free(r->context, path);
}

// A buffer size or record length: 1 to 4 characters and a value of at least 1.
void parse_size(bk_host* host, kve_request* r, const char* field, int refusal, int32_t* value) {
    const char* text = posted(r, field);
    if (!text) return;
    size_t length = character_count(r, text);
    int number = lk_text_to_int(text);
    if (length < 1 || length > 4 || number < 1) kve_fail(host, r->context, 1, refusal);
    *value = number;
}

void set_if_posted(kve_request* r, const char* field, int32_t* flag) {
    if (posted(r, field)) *flag = 1;
}

// ---- page pieces ------------------------------------------------------------

void scope_radio(kve_request* r, int number, bool checked) {
    const char* text = message(r, number);
    if (checked)
        bk_out("<label><input type=radio name=\"KVESELECTOPTS\" value=\"%s\" checked>%s</label>\n", text, text);
    else
        bk_out("<label><input type=radio name=\"KVESELECTOPTS\" value=\"%s\">%s</label>\n", text, text);
}

void object_box(kve_request* r, const char* name, int number, bool checked) {
    if (checked)
        bk_out("<label><input type=checkbox name=\"%s\" checked>%s</label>\n", name, message(r, number));
    else
        bk_out("<label><input type=checkbox name=\"%s\">%s</label>\n", name, message(r, number));
}

void submit_button(kve_request* r, int number) {
    bk_out("<input type=submit name=\"KVESUBMIT\" value=\"%s\">", message(r, number));
}

void carry_text(kve_request* r, const char* field) { kve_carry_text(r->context, r->variables, field); }

void carry_count(kve_request* r, const char* field) { kve_carry_count(r->context, r->variables, field); }

// The names of the list boxes: "T" or "U" and an index written as "%d" writes it.
bool box_index(const char* name, char prefix, int* index) {
    if (!name || name[0] != prefix || name[1] < '0' || name[1] > '9') return false;
    if (name[1] == '0' && name[2]) return false;
    size_t digits = std::strspn(name + 1, "0123456789");
    if (name[1 + digits] || digits > 9) return false;
    *index = lk_text_to_int(name + 1);
    return true;
}

void list_columns(kve_request* r, int count, const char* gap, void (*entry)(kve_request*, int)) {
    int half = count / 2;
    for (int i = 0; i < half; ++i) entry(r, i);
    bk_out("%s", gap);
    for (int i = half; i < count; ++i) entry(r, i);
    bk_out("</td></tr></table>\n");
}

const char* item(const kvg_string_list* list, int i) {
    return list && i < list->count && list->items[i] ? list->items[i] : "";
}

// A box's value is the name as the utility's lists read it back: a name that
// needs quotes carries them ("HR.\"a b\"").
void table_box(kve_request* r, int i) {
    const kve_options* o = r->options;
    std::string owner = attr(esql_name_text(item(o->owners, i)).c_str());
    std::string table = attr(esql_name_text(item(o->tables, i)).c_str());
    std::string owner_text = html(item(o->owners, i)), table_text = html(item(o->tables, i));
    bk_out("<label><input type=checkbox name=\"T%d\" value=\"%s.%s\">%s.%s</label><br>\n", i, owner.c_str(), table.c_str(),
           owner_text.c_str(), table_text.c_str());
}

void user_box(kve_request* r, int i) {
    const char* user = item(r->options->users, i);
    bk_out("<label><input type=checkbox name=\"U%d\" value=\"%s\">%s</label><br>\n", i,
           attr(esql_name_text(user).c_str()).c_str(), html(user).c_str());
}

// What the advanced block shows, from the posted fields or from the options.
struct advanced_values {
    const char* record_length;  // posted text; none: the options' number
    const char* buffer_size;
    bool log;
    const char* log_file_name;
    bool consistent;
    int incremental;  // index into INCREMENTAL_TYPES; -1: no group
    bool record;
    int statistics;   // index into STATISTICS_TYPES; -1: no group
    bool compress;
};

// The four incremental types, the one at index checked marked: the first
// opens a line, the last ends it.
void incremental_group(kve_request* r, int checked) {
    for (int i = 0; i < 4; ++i) {
        const char* text = message(r, INCREMENTAL_TYPES[i]);
        bool on = i == checked;
        if (i == 0 && on) bk_out("<br><label><input type=radio name=\"KVEINCTYPE\" value=\"%s\" checked>%s</label>\n", text, text);
        else if (i == 0) bk_out("<br><label><input type=radio name=\"KVEINCTYPE\" value=\"%s\">%s</label>\n", text, text);
        else if (i == 3 && on) bk_out("<label><input type=radio name=\"KVEINCTYPE\" value=\"%s\" checked>%s</label><br>\n", text, text);
        else if (i == 3) bk_out("<label><input type=radio name=\"KVEINCTYPE\" value=\"%s\">%s</label><br>\n", text, text);
        else if (on) bk_out("<label><input type=radio name=\"KVEINCTYPE\" value=\"%s\" checked>%s</label>\n", text, text);
        else bk_out("<label><input type=radio name=\"KVEINCTYPE\" value=\"%s\">%s</label>\n", text, text);
    }
}

// The three statistics types, the one at index checked marked; the last ends the line.
void statistics_group(kve_request* r, int checked) {
    for (int i = 0; i < 3; ++i) {
        const char* text = message(r, STATISTICS_TYPES[i]);
        bool on = i == checked;
        if (i == 2 && on) bk_out("<label><input type=radio name=\"KVESTATTYPE\" value=\"%s\" checked>%s</label><br>\n", text, text);
        else if (i == 2) bk_out("<label><input type=radio name=\"KVESTATTYPE\" value=\"%s\">%s</label><br>\n", text, text);
        else if (on) bk_out("<label><input type=radio name=\"KVESTATTYPE\" value=\"%s\" checked>%s</label>\n", text, text);
        else bk_out("<label><input type=radio name=\"KVESTATTYPE\" value=\"%s\">%s</label>\n", text, text);
    }
}

// The index of the catalogue text that text equals, or -1.
template <size_t N>
int choice_index(kve_request* r, const char* text, const int (&numbers)[N]) {
    int found = -1;
    for (size_t i = 0; i < N; ++i)
        if (equals_message(r, text, numbers[i])) found = static_cast<int>(i);
    return found;
}

// A number shown on the advanced page: the posted text must give at least 1.
int32_t shown_size(bk_host* host, kve_request* r, const char* text, int32_t fallback, int refusal) {
    if (!text) return fallback;
    int value = lk_text_to_int(text);
    if (value < 1) kve_fail(host, r->context, 1, refusal);
    return value;
}

void advanced_block(bk_host* host, kve_request* r, const advanced_values& v) {
    const kve_options* o = r->options;
    bk_out("<p><p><table><tr>\n");
    bk_out("<td>%s</td><td><pre> </pre></td><td>\n", message(r, 4020));
    int32_t record_length = shown_size(host, r, v.record_length, o->record_length, 5021);
    bk_out("<input type=text name=\"KVERECLEN\" size=4 value=\"%d\">%s\n", record_length, message(r, 4021));
    bk_out("</td></tr><tr><td>%s</td><td></td><td>\n", message(r, 4022));
    int32_t buffer_size = shown_size(host, r, v.buffer_size, o->buffer_size, 5022);
    bk_out("<input type=text name=\"KVEBUFSIZ\" size=4 value=\"%d\">%s</td></tr>\n", buffer_size, message(r, 4021));
    if (v.log)
        bk_out("<tr><td><label><input type=checkbox name=\"KVELOGFILE\" checked>%s</label></td><td></td><td>\n", message(r, 4023));
    else
        bk_out("<tr><td><label><input type=checkbox name=\"KVELOGFILE\">%s</label> </td><td></td><td>\n", message(r, 4023));
    bk_out("<input type=text name=\"KVELOGFILENAME\" size=40 value=\"%s\">\n", attr(v.log_file_name).c_str());
    bk_out("</td></tr></table><table><tr><td>\n");
    if (v.consistent)
        bk_out("<label><input type=checkbox name=\"KVECONSISTENT\" checked>%s</label></td></tr></table>\n", message(r, 4024));
    else
        bk_out("<label><input type=checkbox name=\"KVECONSISTENT\">%s</label></td></tr></table>\n", message(r, 4024));
    bk_out("<br>%s\n", message(r, 4025));
    if (v.incremental >= 0) incremental_group(r, v.incremental);
    if (v.record)
        bk_out("<label><input type=checkbox name=\"KVERECINC\" checked>%s</label>\n", message(r, 4030));
    else
        bk_out("<label><input type=checkbox name=\"KVERECINC\">%s</label>\n", message(r, 4030));
    bk_out("<p><p><p>%s<br>\n", message(r, 4031));
    if (v.statistics >= 0) statistics_group(r, v.statistics);
    if (v.compress)
        bk_out("<label><input type=checkbox name=\"KVECOMPRESS\" checked>%s</label>\n", message(r, 4034));
    else
        bk_out("<label><input type=checkbox name=\"KVECOMPRESS\">%s</label>\n", message(r, 4034));
    bk_out("<p><p><p><table><tr><td>\n");
    bk_out("<input type=submit name=\"KVESUBMIT\" value=\"%s\">\n", message(r, 4046));
    bk_out("</td><td><pre> </pre></td><td>\n");
    bk_out("<input type=submit name=\"KVESUBMIT\" value=\"%s\">\n", message(r, 4047));
    bk_out("</td></tr></table>\n");
}

// The scope a posted KVESELECTOPTS text names. A text that names none keeps
// the scope the options hold (on a continued request the zero-filled record's:
// tables, which exports nothing until a table is checked).
kve_scope posted_scope(kve_request* r, kve_scope current) {
    const char* text = posted(r, "KVESELECTOPTS");
    if (equals_message(r, text, TABLES)) current = KVE_SCOPE_TABLES;
    if (equals_message(r, text, USERS)) current = KVE_SCOPE_USERS;
    if (equals_message(r, text, FULL_DATABASE)) current = KVE_SCOPE_FULL;
    return current;
}

}  // namespace

// ---- form fields --------------------------------------------------------------

size_t kve_character_count(kvg_context* context, const char* text) {
    lk_charset charset = context->nls->charset;
    size_t count = 0;
    for (size_t left = std::strlen(text); left > 0; ++count) {
        size_t step = lk_char_length(charset, text, left);
        text += step;
        left -= step;
    }
    return count;
}

void kve_carry_text(kvg_context* context, const kvg_var* variables, const char* field) {
    const char* text = kvg_first_value(field, variables, context);
    if (text) bk_out("<input type=hidden name=\"%s\" value=\"%s\">\n", field, attr(text).c_str());
}

void kve_carry_count(kvg_context* context, const kvg_var* variables, const char* field) {
    const char* first = nullptr;
    int count = kvg_get_values(field, variables, &first, 1, context);
    if (count > 0) bk_out("<input type=hidden name=\"%s\" value=\"%d\">\n", field, count);
}

// ---- options ----------------------------------------------------------------

void kve_set_defaults(bk_host* host, kve_request* r) {
    kve_options* o = r->options;
    o->buffer_size = 4096;
    o->record_length = 1024;
    set_type(o->incremental_type, "None");
    set_type(o->statistics_type, "None");
    set_default_file(host, r, o->log_file_name, "export.log", 4059);
    set_default_file(host, r, o->export_file_name, "expdat.dmp", 4061);
    o->page_counter = 0;
    o->scope = KVE_SCOPE_FULL;
    o->compress = o->grants = o->indexes = o->rows = o->constraints = o->record = 1;
    o->log = o->consistent = 0;
}

void kve_parse_options(bk_host* host, kve_request* r) {
    kve_options* o = r->options;
    o->scope = posted_scope(r, o->scope);
    parse_size(host, r, "KVEBUFSIZ", 4056, &o->buffer_size);
    parse_size(host, r, "KVERECLEN", 4055, &o->record_length);
    set_if_posted(r, "KVECOMPRESS", &o->compress);
    set_if_posted(r, "KVEGRANTSCB", &o->grants);
    set_if_posted(r, "KVEINDEXESCB", &o->indexes);
    set_if_posted(r, "KVEROWSCB", &o->rows);
    set_if_posted(r, "KVECONSTRAINTSCB", &o->constraints);
    // The log file's name matters only when a log is asked for.
    if (posted(r, "KVELOGFILE")) {
        o->log = 1;
        if (const char* name = posted(r, "KVELOGFILENAME"))
            set_file_name(host, r, o->log_file_name, name, 4059, LOG_FILE_OUTSIDE);
        else
            set_default_file(host, r, o->log_file_name, "export.log", 4059);
    }
    if (const char* type = posted(r, "KVEINCTYPE")) set_type(o->incremental_type, type);
    set_if_posted(r, "KVERECINC", &o->record);
    if (posted(r, "KVECONSISTENT")) {
        o->consistent = 1;
        if (!equals_message(r, o->incremental_type, NO_TYPE)) kve_fail(host, r->context, 0, 4067);
    }
    if (const char* type = posted(r, "KVESTATTYPE")) set_type(o->statistics_type, type);
    if (const char* name = posted(r, "KVEEXPFILE"))
        set_file_name(host, r, o->export_file_name, name, 4061, EXPORT_FILE_OUTSIDE);
}

void kve_check_log_file(bk_host* host, kve_request* r) {
    // The log file must be one the utility can create; the check leaves
    // nothing behind and removes only a file it made itself. An existing log
    // file is left alone.
    const char* name = r->options->log_file_name;
    if (!r->options->log || os_exists(name)) return;
    if (os_create_new_file(name) != 0) kve_fail(host, r->context, 0, 4059);
    os_remove_file(name);
}

void kve_reset_advanced(bk_host* host, kve_request* r) {
    kve_options* o = r->options;
    set_default_file(host, r, o->log_file_name, "export.log", 4059);
    o->scope = posted_scope(r, o->scope);
    o->buffer_size = 4096;
    o->record_length = 1024;
    o->compress = 1;
    set_if_posted(r, "KVEGRANTSCB", &o->grants);
    set_if_posted(r, "KVEINDEXESCB", &o->indexes);
    set_if_posted(r, "KVEROWSCB", &o->rows);
    set_if_posted(r, "KVECONSTRAINTSCB", &o->constraints);
    o->log = 0;
    set_type(o->incremental_type, "None");
    o->record = 1;
    o->consistent = 0;
    set_type(o->statistics_type, "None");
    if (const char* name = posted(r, "KVEEXPFILE"))
        set_file_name(host, r, o->export_file_name, name, 4061, EXPORT_FILE_OUTSIDE);
}

// ---- hidden fields ------------------------------------------------------------

void kve_carry_advanced(kve_request* r) {
    bk_out("<input type=hidden name=\"KVERECLEN\" value=\"%d\">\n", r->options->record_length);
    bk_out("<input type=hidden name=\"KVEBUFSIZ\" value=\"%d\">\n", r->options->buffer_size);
    carry_count(r, "KVELOGFILE");
    carry_text(r, "KVELOGFILENAME");
    carry_count(r, "KVECONSISTENT");
    carry_text(r, "KVEINCTYPE");
    carry_count(r, "KVERECINC");
    carry_text(r, "KVESTATTYPE");
    carry_count(r, "KVECOMPRESS");
}

void kve_carry_main(kve_request* r) {
    carry_text(r, "KVEEXPFILE");
    carry_count(r, "KVEGRANTSCB");
    carry_count(r, "KVEINDEXESCB");
    carry_count(r, "KVEROWSCB");
    carry_count(r, "KVECONSTRAINTSCB");
    carry_text(r, "KVESELECTOPTS");
}

void kve_carry_boxes(kve_request* r) {
    for (const kvg_var* v = r->variables; v && v != KVG_VAR_END; v = v->next) {
        int index = 0;
        // A box posted twice is carried once, with its first value.
        if (!v->name || posted(r, v->name) != v->value) continue;
        if (box_index(v->name, 'T', &index))
            bk_out("<input type=hidden name=\"T%d\" value=\"%s\">\n", index, attr(v->value).c_str());
        else if (box_index(v->name, 'U', &index))
            bk_out("<input type=hidden name=\"U%d\" value=\"%s\">\n", index, attr(v->value).c_str());
    }
}

// ---- blocks -------------------------------------------------------------------

void kve_switch_block(kve_request* r) { kve_switch_map(r->context, r->credentials, r->server, "kve.gif"); }

void kve_switch_map(kvg_context* context, const kvg_credentials* credentials, const kvg_server* server,
                    const char* picture) {
    kvg_image_map(credentials, picture, "kve.map", kvg_message(context, 4001));
    kvg_map_area(credentials, server, 0, 0, 85, 20, "nph-kvi", nullptr, kvg_message(context, 5001));
    kvg_map_area(credentials, server, 86, 0, 165, 20, "nph-kve", nullptr, kvg_message(context, 4002));
    bk_out("</MAP>\n");
}

void kve_export_file_block(kve_request* r) {
    bk_out("<p><p><table><tr><td>\n");
    bk_out("%s</td><td><pre> </pre></td><td>\n", message(r, 4043));
    bk_out("<input type=text size=40 name=\"KVEEXPFILE\" value=\"%s\">\n", attr(r->options->export_file_name).c_str());
    bk_out("</td></tr></table>\n");
}

void kve_scope_block(kve_request* r) {
    kve_scope scope = r->options->scope;
    bk_out("<hr><br>%s<br>\n", message(r, 4006));
    bk_out("<table><tr><td>\n");
    scope_radio(r, TABLES, scope == KVE_SCOPE_TABLES);
    bk_out("</td></tr><tr><td>\n");
    scope_radio(r, USERS, scope == KVE_SCOPE_USERS);
    bk_out("</td></tr><tr><td>\n");
    scope_radio(r, FULL_DATABASE, scope == KVE_SCOPE_FULL);
    bk_out("</td></tr></table>\n");
    bk_out("<input type=submit name=\"KVESUBMIT\" value=\"%s\">\n", message(r, 4010));
    bk_out("<hr><br>\n");
}

void kve_table_list_block(kve_request* r) {
    bk_out("%s:<p><p><p><table><tr><td>\n", message(r, TABLES));
    list_columns(r, kve_list_count(r->options->tables), "</td><td><pre>  </pre></td><td>\n", table_box);
}

void kve_user_list_block(kve_request* r) {
    bk_out("%s:<p><p><p><table><tr><td>\n", message(r, USERS));
    list_columns(r, kve_list_count(r->options->users), "</td><td><pre>            </pre></td><td>\n", user_box);
}

void kve_full_database_note(kve_request* r) {
    bk_out("%s<br>\n", message(r, 4011));
    bk_out("<i>%s</i>\n", message(r, 4012));
}

void kve_object_type_block(kve_request* r, bool posted_boxes) {
    auto on = [&](const char* name) { return !posted_boxes || posted(r, name) != nullptr; };
    bk_out("<br><br><hr><br>\n");
    bk_out("%s<br>\n", message(r, 4013));
    bk_out("<table><tr><td>\n");
    object_box(r, "KVEGRANTSCB", 4014, on("KVEGRANTSCB"));
    bk_out("</td><td><pre>       </pre></td><td>\n");
    object_box(r, "KVEINDEXESCB", 4015, on("KVEINDEXESCB"));
    bk_out("</td></tr><tr><td>\n");
    object_box(r, "KVEROWSCB", 4016, on("KVEROWSCB"));
    bk_out("</td><td></td><td>\n");
    object_box(r, "KVECONSTRAINTSCB", 4017, on("KVECONSTRAINTSCB"));
    bk_out("</td></tr></table>\n");
}

void kve_first_page_defaults(kve_request* r) {
    std::string home = attr(r->credentials->home);
    bk_out("<input type=hidden name=\"KVERECLEN\" value=\"%d\">\n", 1024);
    bk_out("<input type=hidden name=\"KVEBUFSIZ\" value=\"%d\">\n", 4096);
    bk_out("<input type=hidden name=\"KVELOGFILENAME\" value=\"%s%s%s%s%s\">\n", home.c_str(), "/", "export", "/",
           "export.log");
    bk_out("<input type=hidden name=\"KVEINCTYPE\" value=\"%s\">\n", "None");
    bk_out("<input type=hidden name=\"KVERECINC\" value=\"%d\">\n", 1);
    bk_out("<input type=hidden name=\"KVESTATTYPE\" value=\"%s\">\n", "None");
    bk_out("<input type=hidden name=\"KVECOMPRESS\" value=\"%d\">\n", 1);
}

void kve_next_counter(kve_request* r) {
    int32_t& counter = r->options->page_counter;
    counter = kvg_next_counter(counter);
    bk_out("<input type=hidden name=\"KVEINSTANCE\" value=\"%d\">\n", counter);
}

void kve_bottom_block(kve_request* r) {
    bk_out("<hr><table><tr><td>\n");
    submit_button(r, 4002);
    bk_out("</td>\n");
    bk_out("<td><pre> </pre></td><td>\n");
    submit_button(r, 4005);
    bk_out("\n");
    bk_out("</td></tr></table>\n");
    kve_next_counter(r);
    bk_out("</form>\n");
}

void kve_advanced_block_posted(bk_host* host, kve_request* r) {
    const char* record_length = posted(r, "KVERECLEN");
    const char* buffer_size = posted(r, "KVEBUFSIZ");
    advanced_values v{
        record_length ? record_length : "",
        buffer_size ? buffer_size : "",
        posted(r, "KVELOGFILE") != nullptr,
        posted(r, "KVELOGFILENAME"),
        posted(r, "KVECONSISTENT") != nullptr,
        choice_index(r, posted(r, "KVEINCTYPE"), INCREMENTAL_TYPES),
        posted(r, "KVERECINC") != nullptr,
        choice_index(r, posted(r, "KVESTATTYPE"), STATISTICS_TYPES),
        posted(r, "KVECOMPRESS") != nullptr,
    };
    advanced_block(host, r, v);
}

void kve_advanced_block_defaults(bk_host* host, kve_request* r) {
    advanced_values v{nullptr, nullptr, false, r->options->log_file_name, false, 0, true, 0, true};
    advanced_block(host, r, v);
}
