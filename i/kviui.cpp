// The import tool's options: defaults, the posted fields and their checks,
// the hidden fields that carry them from page to page, and the form blocks.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "e/kve.h"
#include "i/kvi.h"
#include "platform/os.h"

namespace {

constexpr const char* MODULE = "i/kviui";

// The catalogue's radio choices and labels.
constexpr int TABLES = 4007, USERS = 4008, WHOLE_FILE = 5016;
constexpr int INCREMENTAL_TYPES[] = {4026, 5004, 5005};
constexpr size_t LIST_PAGE = 5;  // tables or users on one selection page
// Files named outside the export directory.
constexpr int LOG_FILE_OUTSIDE = 5040, INDEX_FILE_OUTSIDE = 5041;

const char* message(kvi_request* r, int number) { return kvg_message(r->context, number); }

const char* posted(kvi_request* r, const char* name) { return kvg_first_value(name, r->variables, r->context); }

bool equals_message(kvi_request* r, const char* text, int number) {
    return text && lk_equal(text, message(r, number));
}

std::string attr(const char* text) { return kvg_attr_escaped(text ? text : ""); }
std::string html(const char* text) { return kvg_html_escaped(text ? text : ""); }
std::string attr(const std::string& text) { return kvg_attr_escaped(text.c_str()); }
std::string html(const std::string& text) { return kvg_html_escaped(text.c_str()); }

// A file name reaches the parameter file as one line: one that holds a line
// break or another control character could add parameters of its own, and
// one longer than its field would name another file once cut. Both are
// refused with the field's message.
void set_file_name(bk_host* host, kvi_request* r, char (&field)[KVI_FILE_SIZE], const char* text, int help,
                   int refusal) {
    if (kve_has_control_character(text)) kvi_fail(host, r->context, 0, KVI_CONTROL_IN_NAME);
    if (std::strlen(text) >= KVI_FILE_SIZE) kvi_fail(host, r->context, help, refusal);
    std::memcpy(field, text, std::strlen(text) + 1);
}

// A log or index file the utility writes: it must lie in the export
// directory, and the field holds the absolute path the utility is given.
void set_written_file(bk_host* host, kvi_request* r, char (&field)[KVI_FILE_SIZE], const char* text, int refusal,
                      int outside) {
    if (kve_has_control_character(text)) kvi_fail(host, r->context, 0, KVI_CONTROL_IN_NAME);
    std::string path;
    switch (kve_export_directory_path(kvi_home(r), text, &path)) {
        case KVE_INSIDE: break;
        case KVE_OUTSIDE: kvi_fail(host, r->context, 1, outside);
        case KVE_NO_DIRECTORY: kvi_fail(host, r->context, 0, refusal);
    }
    set_file_name(host, r, field, path.c_str(), 0, refusal);
}

// The export file is read by the tool itself and named to the utility: only
// a plain name of the export directory is taken, before anything is read.
void set_export_file(bk_host* host, kvi_request* r) {
    const char* name = posted(r, "KVIEXPFILE");
    if (!name) return;
    if (!kvi_plain_file_name(name)) kvi_fail(host, r->context, 1, KVI_NOT_A_LISTED_FILE);
    set_file_name(host, r, r->options->export_file_name, name, 1, 1011);
}

// A type is only ever compared with the offered words, none of which is
// longer than its field; a longer text can match none of them and is kept as
// an unrecognised type (the empty text), which is what it would be uncut.
void set_type(char (&field)[KVI_TYPE_SIZE], const char* text) {
    size_t length = std::strlen(text);
    if (length >= KVI_TYPE_SIZE) length = 0;
    std::memcpy(field, text, length);
    field[length] = '\0';
}

// HOME/export/name, for the default log and index file names.
void set_default_file(bk_host* host, kvi_request* r, char (&field)[KVI_FILE_SIZE], const char* name, int refusal) {
    size_t size = std::strlen(kvi_home(r)) + std::strlen(name) + sizeof "/export/";
    auto* path = static_cast<char*>(kvg_alloc(r->context, size, 0, MODULE, __LINE__));
    if (!path) kvi_fail(host, r->context, 1, 1010);
    std::snprintf(path, size, "%s%s%s%s%s", kvi_home(r), "/", "export", "/", name);
    set_file_name(host, r, field, path, 0, refusal);
    kvg_free(r->context, path);
}

void set_default_files(bk_host* host, kvi_request* r) {
    set_default_file(host, r, r->options->log_file_name, "export.log", 4059);
    set_default_file(host, r, r->options->index_file_name, "index.sql", 5028);
}

// A buffer size or record length: 1 to 4 characters and a value of at least 1.
void parse_size(bk_host* host, kvi_request* r, const char* field, int refusal, int32_t* value) {
    const char* text = posted(r, field);
    if (!text) return;
    size_t length = kve_character_count(r->context, text);
    int number = lk_text_to_int(text);
    if (length < 1 || length > 4 || number < 1) kvi_fail(host, r->context, 1, refusal);
    *value = number;
}

void set_if_posted(kvi_request* r, const char* field, int32_t* flag) {
    if (posted(r, field)) *flag = 1;
}

// A log or index file must be one the utility can create; the check leaves
// nothing behind and removes only a file it made itself. An existing file is
// left alone.
void check_creatable(bk_host* host, kvi_request* r, const char* name, int refusal) {
    if (os_exists(name)) return;
    if (os_create_new_file(name) != 0) kvi_fail(host, r->context, 0, refusal);
    os_remove_file(name);
}

// The name of a file the utility writes, read only when the file is asked
// for; without the name, the default.
void parse_written_file(bk_host* host, kvi_request* r, const char* box, const char* field, char (&name)[KVI_FILE_SIZE],
                        const char* fallback, int refusal, int outside, int32_t* flag) {
    if (!posted(r, box)) return;
    *flag = 1;
    if (const char* text = posted(r, field)) set_written_file(host, r, name, text, refusal, outside);
    else set_default_file(host, r, name, fallback, refusal);
}

// The scope a posted KVISELECTOPTS text names. A text that names none keeps
// the scope the options hold (on a continued request the zero-filled record's:
// tables, which imports nothing until a table is checked).
kvi_scope posted_scope(kvi_request* r, kvi_scope current) {
    const char* text = posted(r, "KVISELECTOPTS");
    if (equals_message(r, text, TABLES)) current = KVI_SCOPE_TABLES;
    if (equals_message(r, text, USERS)) current = KVI_SCOPE_USERS;
    if (equals_message(r, text, WHOLE_FILE)) current = KVI_SCOPE_FULL;
    return current;
}

// ---- page pieces ------------------------------------------------------------

void scope_radio(kvi_request* r, int number, bool checked) {
    const char* text = message(r, number);
    if (checked)
        bk_out("<label><input type=radio name=\"KVISELECTOPTS\" value=\"%s\" checked>%s</label>\n", text, text);
    else
        bk_out("<label><input type=radio name=\"KVISELECTOPTS\" value=\"%s\">%s</label>\n", text, text);
}

void object_box(kvi_request* r, const char* name, int number, bool checked) {
    if (checked)
        bk_out("<label><input type=checkbox name=\"%s\" checked>%s</label>\n", name, message(r, number));
    else
        bk_out("<label><input type=checkbox name=\"%s\">%s</label>\n", name, message(r, number));
}

void submit_button(kvi_request* r, int number) {
    bk_out("<input type=submit name=\"KVISUBMIT\" value=\"%s\">", message(r, number));
}

void carry_text(kvi_request* r, const char* field) { kve_carry_text(r->context, r->variables, field); }

void carry_count(kvi_request* r, const char* field) { kve_carry_count(r->context, r->variables, field); }


// The database's users other than the shown one, as further choices.
void target_choices(kvi_request* r, const std::string& shown) {
    const kvg_string_list* users = r->options->users;
    for (int u = 0; users && u < users->count; ++u) {
        const char* user = users->items[u] ? users->items[u] : "";
        if (shown != user) bk_out("<option value=\"%s\">%s\n", attr(user).c_str(), html(user).c_str());
    }
}

// Hidden HDT<i> or HDU<i> fields for every target that differs from its default.
void carry_targets(kvi_request* r, const char* chosen, const char* carried, const std::vector<std::string>& defaults) {
    for (size_t i = 0; i < defaults.size(); ++i) {
        const char* value = kvi_posted_indexed(r, chosen, i);
        if (!value || defaults[i] == value) value = kvi_posted_indexed(r, carried, i);
        if (value) bk_out("<input type=hidden name=\"%s%zu\" value=\"%s\">\n", carried, i, attr(value).c_str());
    }
}

// The box of a list entry, checked when it was chosen on this page or an
// earlier one.
void list_box(kvi_request* r, const char* box, size_t i, const std::string& value) {
    if (kvi_chosen_box(r, box, i))
        bk_out("<input type=checkbox name=\"%s%zu\" value=\"%s\" checked>\n", box, i, attr(value).c_str());
    else
        bk_out("<input type=checkbox name=\"%s%zu\" value=\"%s\">\n", box, i, attr(value).c_str());
}

// The entries a list page shows: from start up to the next multiple of five
// or the end of the list. A start outside the list (a position posted by
// hand) shows the list from its first entry.
size_t list_start(int32_t start, size_t count) {
    return start < 0 || static_cast<size_t>(start) >= count ? 0 : static_cast<size_t>(start);
}

size_t list_end(size_t start, size_t count) {
    size_t end = (start / LIST_PAGE + 1) * LIST_PAGE;
    return end < count ? end : count;
}

// The buttons under a list: the reset, and the more-button with the next
// position when entries remain.
void list_buttons(kvi_request* r, size_t next, size_t count, int more, const char* position_field) {
    bk_out("<table><tr><td>\n");
    bk_out("<input type=submit name=\"KVISUBMIT\" value=\"%s\">\n", message(r, 5020));
    if (next < count) {
        bk_out("</td><td><pre> </pre><td>\n");
        bk_out("<input type=submit name=\"KVISUBMIT\" value=\"%s\">\n", message(r, more));
        bk_out("<input type=hidden name=\"%s\" value=\"%zu\">\n", position_field, next);
    }
    bk_out("</td></tr></table>\n");
}

// What the advanced block shows, from the posted fields or from the options.
struct advanced_values {
    int32_t record_length;
    int32_t buffer_size;
    bool log;
    const char* log_file_name;
    int incremental;  // index into INCREMENTAL_TYPES; -1: no group
    bool index;
    const char* index_file_name;
    bool commit;
    bool destroy;
    bool ignore;
};

// The three incremental types, the one at index checked marked: the first
// opens a line, the last ends it with a blank line.
void incremental_group(kvi_request* r, int checked) {
    for (int i = 0; i < 3; ++i) {
        const char* text = message(r, INCREMENTAL_TYPES[i]);
        bool on = i == checked;
        if (i == 0 && on) bk_out("<br><label><input type=radio name=\"KVIINCTYPE\" value=\"%s\" checked>%s</label>\n", text, text);
        else if (i == 0) bk_out("<br><label><input type=radio name=\"KVIINCTYPE\" value=\"%s\">%s</label>\n", text, text);
        else if (i == 2 && on) bk_out("<label><input type=radio name=\"KVIINCTYPE\" value=\"%s\" checked>%s</label><br><br>\n", text, text);
        else if (i == 2) bk_out("<label><input type=radio name=\"KVIINCTYPE\" value=\"%s\">%s</label><br><br>\n", text, text);
        else if (on) bk_out("<label><input type=radio name=\"KVIINCTYPE\" value=\"%s\" checked>%s</label>\n", text, text);
        else bk_out("<label><input type=radio name=\"KVIINCTYPE\" value=\"%s\">%s</label>\n", text, text);
    }
}

// The index of the incremental type text equals, or -1.
int incremental_index(kvi_request* r, const char* text) {
    int found = -1;
    for (int i = 0; i < 3; ++i)
        if (equals_message(r, text, INCREMENTAL_TYPES[i])) found = i;
    return found;
}

// A number shown on the advanced page: the posted text must give at least 1.
int32_t shown_size(bk_host* host, kvi_request* r, const char* field, int refusal) {
    const char* text = posted(r, field);
    int value = lk_text_to_int(text ? text : "");
    if (value < 1) kvi_fail(host, r->context, 1, refusal);
    return value;
}

void labelled_box(kvi_request* r, const char* name, int number, bool checked) {
    if (checked)
        bk_out("<br><label><input type=checkbox name=\"%s\" checked>%s</label><br>\n", name, message(r, number));
    else
        bk_out("<br><label><input type=checkbox name=\"%s\">%s</label><br>\n", name, message(r, number));
}

void advanced_block(kvi_request* r, const advanced_values& v) {
    bk_out("<p><p><table><tr>\n");
    bk_out("<td>%s</td><td><pre> </pre></td><td>\n", message(r, 4020));
    bk_out("<input type=text name=\"KVIRECLEN\" size=4 value=\"%d\">%s\n", v.record_length, message(r, 4021));
    bk_out("</td></tr><tr><td>%s</td><td></td><td>\n", message(r, 4022));
    bk_out("<input type=text name=\"KVIBUFSIZ\" size=4 value=\"%d\">%s</td></tr>\n", v.buffer_size, message(r, 4021));
    if (v.log)
        bk_out("<tr><td><label><input type=checkbox name=\"KVILOGFILE\" checked>%s</label></td><td></td><td>\n", message(r, 4023));
    else
        bk_out("<tr><td><label><input type=checkbox name=\"KVILOGFILE\">%s</label> </td><td></td><td>\n", message(r, 4023));
    bk_out("<input type=text name=\"KVILOGFILENAME\" size=40 value=\"%s\">\n", attr(v.log_file_name).c_str());
    bk_out("</td></tr></table>\n");
    bk_out("<br>%s\n", message(r, 4025));
    if (v.incremental >= 0) incremental_group(r, v.incremental);
    if (v.index)
        bk_out("<label><input type=checkbox name=\"KVIINDEXFILE\" checked>%s</label>\n", message(r, 5006));
    else
        bk_out("<label><input type=checkbox name=\"KVIINDEXFILE\">%s</label>\n", message(r, 5006));
    bk_out("<table><tr><td><pre>                   </pre></td><td>\n");
    bk_out("<input type=text name=\"KVIINDEXFILENAME\" size=40 value=\"%s\">\n", attr(v.index_file_name).c_str());
    bk_out("</td></tr></table>\n");
    labelled_box(r, "KVICOMMIT", 5007, v.commit);
    labelled_box(r, "KVIDESTROY", 5008, v.destroy);
    labelled_box(r, "KVIIGNORE", 5019, v.ignore);
    bk_out("<p><p><p><table><tr><td>\n");
    bk_out("<input type=submit name=\"KVISUBMIT\" value=\"%s\">\n", message(r, 5012));
    bk_out("</td><td><pre> </pre></td><td>\n");
    bk_out("<input type=submit name=\"KVISUBMIT\" value=\"%s\">\n", message(r, 5013));
    bk_out("</td></tr></table>\n");
}

}  // namespace

const char* kvi_home(const kvi_request* r) { return r->credentials->home ? r->credentials->home : ""; }

const char* kvi_posted_indexed(kvi_request* r, const char* prefix, size_t i) {
    char name[32];
    std::snprintf(name, sizeof name, "%s%zu", prefix, i);
    return posted(r, name);
}

std::string kvi_target_user(kvi_request* r, const char* chosen, size_t i, const std::string& fallback) {
    const char* value = kvi_posted_indexed(r, chosen, i);
    if (value && *value && fallback != value) return value;
    value = kvi_posted_indexed(r, (std::string("H") + chosen).c_str(), i);
    return value && *value ? value : fallback;
}

const char* kvi_chosen_box(kvi_request* r, const char* box, size_t i) {
    if (const char* value = kvi_posted_indexed(r, box, i)) return value;
    return kvi_posted_indexed(r, (std::string("H") + box).c_str(), i);
}

bool kvi_plain_file_name(const char* name) {
    return name && *name && !std::strchr(name, '/') && std::strcmp(name, ".") != 0 && std::strcmp(name, "..") != 0 &&
           !kve_has_control_character(name) && !kve_is_parameter_file_name(name);
}

// ---- options ----------------------------------------------------------------

void kvi_set_defaults(bk_host* host, kvi_request* r) {
    kvi_options* o = r->options;
    set_default_files(host, r);
    set_file_name(host, r, o->export_file_name, "expdat.dmp", 1, 1011);
    o->buffer_size = 4096;
    o->grants = o->indexes = o->rows = 1;
    o->log = o->index = 0;
    o->scope = KVI_SCOPE_FULL;
    o->record_length = 1024;
    set_type(o->incremental_type, "None");
    o->destroy = o->commit = o->ignore = 0;
}

void kvi_parse_options(bk_host* host, kvi_request* r) {
    kvi_options* o = r->options;
    o->scope = posted_scope(r, o->scope);
    parse_size(host, r, "KVIBUFSIZ", 5022, &o->buffer_size);
    parse_size(host, r, "KVIRECLEN", 5021, &o->record_length);
    set_if_posted(r, "KVICOMMIT", &o->commit);
    set_if_posted(r, "KVIDESTROY", &o->destroy);
    set_if_posted(r, "KVIIGNORE", &o->ignore);
    set_if_posted(r, "KVIGRANTSCB", &o->grants);
    set_if_posted(r, "KVIINDEXESCB", &o->indexes);
    set_if_posted(r, "KVIROWSCB", &o->rows);
    parse_written_file(host, r, "KVILOGFILE", "KVILOGFILENAME", o->log_file_name, "export.log", 4059,
                       LOG_FILE_OUTSIDE, &o->log);
    parse_written_file(host, r, "KVIINDEXFILE", "KVIINDEXFILENAME", o->index_file_name, "index.sql", 5028,
                       INDEX_FILE_OUTSIDE, &o->index);
    if (const char* type = posted(r, "KVIINCTYPE")) set_type(o->incremental_type, type);
    set_export_file(host, r);
}

bool kvi_export_files(kvi_request* r, std::vector<std::string>* files) {
    std::string directory = std::string(kvi_home(r)) + "/export";
    if (!os_list_files(directory.c_str(), files)) return false;
    std::erase_if(*files, [](const std::string& name) { return !kvi_plain_file_name(name.c_str()); });
    return true;
}

void kvi_check_files(bk_host* host, kvi_request* r) {
    const kvi_options* o = r->options;
    if (o->log) check_creatable(host, r, o->log_file_name, 4059);
    if (o->index) check_creatable(host, r, o->index_file_name, 5028);
}

void kvi_reset_advanced(bk_host* host, kvi_request* r) {
    kvi_options* o = r->options;
    set_default_files(host, r);
    o->scope = posted_scope(r, o->scope);
    o->buffer_size = 4096;
    o->record_length = 1024;
    set_if_posted(r, "KVIGRANTSCB", &o->grants);
    set_if_posted(r, "KVIINDEXESCB", &o->indexes);
    set_if_posted(r, "KVIROWSCB", &o->rows);
    o->log = o->index = 0;
    set_type(o->incremental_type, "None");
    o->destroy = o->commit = o->ignore = 0;
    set_export_file(host, r);
}

// ---- hidden fields ------------------------------------------------------------

void kvi_carry_advanced(kvi_request* r) {
    bk_out("<input type=hidden name=\"KVIRECLEN\" value=\"%d\">\n", r->options->record_length);
    bk_out("<input type=hidden name=\"KVIBUFSIZ\" value=\"%d\">\n", r->options->buffer_size);
    carry_count(r, "KVILOGFILE");
    carry_text(r, "KVILOGFILENAME");
    carry_count(r, "KVIINDEXFILE");
    carry_text(r, "KVIINDEXFILENAME");
    carry_text(r, "KVIINCTYPE");
    carry_count(r, "KVICOMMIT");
    carry_count(r, "KVIDESTROY");
    carry_count(r, "KVIIGNORE");
}

void kvi_carry_main(kvi_request* r) {
    carry_text(r, "KVIEXPFILE");
    carry_count(r, "KVIGRANTSCB");
    carry_count(r, "KVIINDEXESCB");
    carry_count(r, "KVIROWSCB");
    carry_text(r, "KVISELECTOPTS");
}

void kvi_carry_table_targets(kvi_request* r) { carry_targets(r, "DT", "HDT", r->scan->owners); }

void kvi_carry_user_targets(kvi_request* r) { carry_targets(r, "DU", "HDU", r->scan->users); }

// ---- blocks -------------------------------------------------------------------

void kvi_switch_block(kvi_request* r) { kve_switch_map(r->context, r->credentials, r->server, "kvi.gif"); }

void kvi_export_file_field(kvi_request* r) {
    std::vector<std::string> files;
    kvi_export_files(r, &files);
    bk_out("<p><p><table><tr><td>\n");
    bk_out("%s</td><td><pre> </pre></td><td><select name=\"KVIEXPFILE\">\n", message(r, 4043));
    for (const std::string& file : files) {
        if (file == r->options->export_file_name)
            bk_out("<option value=\"%s\" selected>%s\n", attr(file).c_str(), html(file).c_str());
        else
            bk_out("<option value=\"%s\">%s\n", attr(file).c_str(), html(file).c_str());
    }
    bk_out("</select></td></tr></table><hr>\n");
}

void kvi_scope_block(kvi_request* r, bool first_page) {
    kvi_scope scope = r->options->scope;
    bk_out("<br>%s<br>\n", message(r, 4006));
    bk_out("<table><tr><td>\n");
    scope_radio(r, TABLES, scope == KVI_SCOPE_TABLES);
    bk_out("</td></tr><tr><td>\n");
    scope_radio(r, USERS, scope == KVI_SCOPE_USERS);
    bk_out("</td></tr><tr><td>\n");
    scope_radio(r, WHOLE_FILE, scope == KVI_SCOPE_FULL);
    bk_out("</td></tr></table>\n");
    bk_out("<input type=submit name=\"KVISUBMIT\" value=\"%s\">\n", message(r, 4010));
    if (first_page || scope == KVI_SCOPE_FULL) bk_out("<hr><br>\n");
    else bk_out("<br><hr>\n");
}

void kvi_whole_file_note(kvi_request* r) {
    bk_out("%s<br>\n", message(r, 5017));
    bk_out("<i>%s</i>\n", message(r, 5002));
}

kvi_list_range kvi_table_list_block(kvi_request* r, const kvi_list_step& step) {
    const kvi_scan_result* scan = r->scan;
    size_t count = scan->tables.size();
    size_t start = list_start(step.start, count), end = list_end(start, count);
    bk_out("%s:<br>\n", message(r, TABLES));
    bk_out("<p><p><p>\n");
    for (size_t i = start; i < end; ++i) {
        std::string target = step.reset_targets ? scan->owners[i] : kvi_target_user(r, "DT", i, scan->owners[i]);
        list_box(r, "T", i, scan->tables[i]);
        bk_out("<select name=\"%s%zu\"><option value=\"%s\" selected>%s\n", "DT", i, attr(target).c_str(),
               html(target).c_str());
        target_choices(r, target);
        bk_out("</select>.%s<br>\n", html(scan->tables[i]).c_str());
    }
    list_buttons(r, end, count, 5032, "KVIMORET");
    return {start, end};
}

kvi_list_range kvi_user_list_block(kvi_request* r, const kvi_list_step& step) {
    const kvi_scan_result* scan = r->scan;
    size_t count = scan->users.size();
    size_t start = list_start(step.start, count), end = list_end(start, count);
    bk_out("%s:<br>\n", message(r, USERS));
    bk_out("<p><p><p>\n");
    for (size_t i = start; i < end; ++i) {
        std::string target = step.reset_targets ? scan->users[i] : kvi_target_user(r, "DU", i, scan->users[i]);
        list_box(r, "U", i, scan->users[i]);
        bk_out("<select name=\"%s%zu\"><option value=\"%s\" selected>%s\n", "DU", i, attr(target).c_str(),
               html(target).c_str());
        target_choices(r, target);
        bk_out("</select><br>\n");
    }
    list_buttons(r, end, count, 5033, "KVIMOREU");
    return {start, end};
}

void kvi_carry_boxes(kvi_request* r, const char* box, size_t count, kvi_list_range shown) {
    std::string carried = std::string("H") + box;
    for (size_t i = 0; i < count; ++i) {
        if (i >= shown.start && i < shown.end) continue;
        if (const char* value = kvi_chosen_box(r, box, i))
            bk_out("<input type=hidden name=\"%s%zu\" value=\"%s\">\n", carried.c_str(), i, attr(value).c_str());
    }
}

void kvi_object_boxes(kvi_request* r, bool posted_boxes) {
    auto on = [&](const char* name) { return !posted_boxes || posted(r, name) != nullptr; };
    bk_out("<br><br><hr><br>\n");
    bk_out("%s<br>\n", message(r, 5003));
    bk_out("<table><tr><td>\n");
    object_box(r, "KVIGRANTSCB", 4014, on("KVIGRANTSCB"));
    bk_out("</td><td><pre>       </pre></td><td>\n");
    object_box(r, "KVIINDEXESCB", 4015, on("KVIINDEXESCB"));
    bk_out("</td></tr><tr><td>\n");
    object_box(r, "KVIROWSCB", 4016, on("KVIROWSCB"));
    if (!posted_boxes) bk_out("</td><td></td><td>\n");
    bk_out("</td></tr></table>\n");
}

void kvi_first_page_defaults(kvi_request* r) {
    std::string home = attr(kvi_home(r));
    bk_out("<input type=hidden name=\"KVIRECLEN\" value=\"%d\">\n", 1024);
    bk_out("<input type=hidden name=\"KVIBUFSIZ\" value=\"%d\">\n", 4096);
    bk_out("<input type=hidden name=\"KVILOGFILENAME\" value=\"%s%s%s%s%s\">\n", home.c_str(), "/", "export", "/",
           "export.log");
    bk_out("<input type=hidden name=\"KVIINDEXFILENAME\" value=\"%s%s%s%s%s\">\n", home.c_str(), "/", "export", "/",
           "index.sql");
    bk_out("<input type=hidden name=\"KVIINCTYPE\" value=\"%s\">\n", "None");
}

void kvi_next_counter(kvi_request* r) {
    int32_t& counter = r->options->page_counter;
    counter = kvg_next_counter(counter);
    bk_out("<input type=hidden name=\"KVIINSTANCE\" value=\"%d\">\n", counter);
}

void kvi_bottom_buttons(kvi_request* r) {
    bk_out("<hr><table><tr><td>\n");
    submit_button(r, 5001);
    bk_out("</td>\n");
    bk_out("<td><pre> </pre></td><td>\n");
    submit_button(r, 5011);
    bk_out("\n");
    bk_out("</td></tr></table>\n");
    kvi_next_counter(r);
    bk_out("</form>\n");
}

void kvi_advanced_block_posted(bk_host* host, kvi_request* r) {
    advanced_values v{};
    v.record_length = shown_size(host, r, "KVIRECLEN", 5021);
    v.buffer_size = shown_size(host, r, "KVIBUFSIZ", 5022);
    v.log = posted(r, "KVILOGFILE") != nullptr;
    v.log_file_name = posted(r, "KVILOGFILENAME");
    v.incremental = incremental_index(r, posted(r, "KVIINCTYPE"));
    v.index = posted(r, "KVIINDEXFILE") != nullptr;
    v.index_file_name = posted(r, "KVIINDEXFILENAME");
    v.commit = posted(r, "KVICOMMIT") != nullptr;
    v.destroy = posted(r, "KVIDESTROY") != nullptr;
    v.ignore = posted(r, "KVIIGNORE") != nullptr;
    advanced_block(r, v);
}

void kvi_advanced_block_defaults(kvi_request* r) {
    const kvi_options* o = r->options;
    advanced_block(r, {o->record_length, o->buffer_size, false, o->log_file_name, 0, false, o->index_file_name, false,
                       false, false});
}
