// The export tool's back end: the parameter file, the run of the export
// utility with its messages copied into the page, and the user and table
// lists. The import tool writes its parameter file, runs its utility and
// loads its lists with the same code.
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "e/kve.h"
#include "platform/esqlrt.h"
#include "platform/os.h"

namespace {

constexpr const char* MODULE = "e/kvebe";
constexpr size_t PIPE_PIECE = 80;  // the utility's output reaches the page in pieces of at most this
constexpr size_t NAME_TEXT = 256;  // a table or owner name as fetched
constexpr const char* PIPE_FAILURE = "Failed to communicate with export tool through pipe!\n";

// A heap copy of the formatted text, tagged with the caller's line; none
// when no block can be had.
char* heap_vformat(kvg_context* context, int line, const char* format, va_list args) {
    va_list measure;
    va_copy(measure, args);
    int length = std::vsnprintf(nullptr, 0, format, measure);
    va_end(measure);
    auto* text = length < 0 ? nullptr : static_cast<char*>(kvg_alloc(context, length + 1, 0, MODULE, line));
    if (text) std::vsnprintf(text, length + 1, format, args);
    return text;
}

char* heap_text(kvg_context* context, int line, const char* format, ...) BK_PRINTF(3, 4);
char* heap_text(kvg_context* context, int line, const char* format, ...) {
    va_list args;
    va_start(args, format);
    char* text = heap_vformat(context, line, format, args);
    va_end(args);
    return text;
}

// A piece of the utility's output, written as text: its messages repeat
// table, file and user names, which must not become markup. The escaped
// characters are ASCII and no byte of a multi-byte character is, so a piece
// cut anywhere escapes the same as the whole.
bool write_as_text(const char* bytes, size_t length) {
    char out[PIPE_PIECE * 5];
    size_t used = 0;
    for (size_t i = 0; i < length; ++i) {
        const char* entity = bytes[i] == '&' ? "&amp;" : bytes[i] == '<' ? "&lt;" : bytes[i] == '>' ? "&gt;" : nullptr;
        if (!entity) {
            out[used++] = bytes[i];
            continue;
        }
        std::memcpy(out + used, entity, std::strlen(entity));
        used += std::strlen(entity);
    }
    return os_write_raw(out, used);
}

// The utilities' exit status: 0 done, 2 done with warnings (a table not
// found or not written), anything else (1, or a signal) nothing or not all done.
kve_utility_end utility_end(int exit_status) {
    if (exit_status == 0) return KVE_UTILITY_DONE;
    if (exit_status == 2) return KVE_UTILITY_WARNINGS;
    return KVE_UTILITY_FAILED;
}

// Removes the parameter file at the end of the run, however it ends.
struct remove_on_exit {
    const char* path;
    ~remove_on_exit() { os_remove_file(path); }
};

// The posted boxes "prefix" + 0 to count - 1, in index order. Each value is
// a name as the lists write it (OWNER.NAME for a table). Anything else (a
// control character that would add a line of its own to the file, a comma
// or parenthesis outside quotes that would add an item of its own to the
// list) is refused.
std::vector<const char*> chosen_boxes(kve_parameter_file& file, kve_request* r, char prefix, int count, int refusal) {
    std::vector<const char*> values;
    for (int i = 0; i < count; ++i) {
        char name[16];
        std::snprintf(name, sizeof name, "%c%d", prefix, i);
        const char* value = kvg_first_value(name, r->variables, r->context);
        if (!value) continue;
        if (!esql_is_name_text(value, prefix == 'T')) file.fail(0, KVE_NO_LIST_ITEM);
        values.push_back(value);
    }
    if (values.empty()) file.fail(0, refusal);
    return values;
}

void write_list(kve_parameter_file& file, const char* head, const std::vector<const char*>& values) {
    file.line("%s", head);
    for (size_t i = 0; i < values.size(); ++i) file.line("%s%s", values[i], i + 1 < values.size() ? "," : ")");
}

// The incremental type and the statistics type, when they name one the
// utility knows.
void write_types(kve_parameter_file& file, const kve_options* o) {
    static const char* const incremental[][2] = {
        {"Complete", "INCTYPE=COMPLETE"}, {"Cumulative", "INCTYPE=CUMULATIVE"}, {"Incremental", "INCTYPE=INCREMENTAL"}};
    for (const auto& [type, line] : incremental) {
        if (!lk_equal(o->incremental_type, type)) continue;
        if (o->scope != KVE_SCOPE_FULL) file.fail(0, 4066);
        file.line("%s", line);
    }
    if (lk_equal(o->statistics_type, "Estimate")) file.line("%s", "STATISTICS=ESTIMATE");
    if (lk_equal(o->statistics_type, "Compute")) file.line("%s", "STATISTICS=COMPUTE");
}

void write_lines(kve_parameter_file& file, kve_request* r) {
    const kve_options* o = r->options;
    const kvg_credentials* c = r->credentials;
    const char* user = c->user ? c->user : "";
    const char* password = c->password ? c->password : "";
    // The login line is the cookie's: it may not add a line either.
    if (kve_has_control_character(user) || kve_has_control_character(password)) file.fail(1, 4058);
    file.line("%s%s%s", user, "/", password);
    file.line("%s%s", "FILE=", o->export_file_name);
    if (o->log) file.line("%s%s", "LOG=", o->log_file_name);
    file.line("%s%d", "BUFFER=", o->buffer_size);
    file.line("%s%d", "RECORDLENGTH=", o->record_length);
    if (!o->compress) file.line("%s", "COMPRESS=N");
    if (!o->grants) file.line("%s", "GRANTS=N");
    if (!o->indexes) file.line("%s", "INDEXES=N");
    if (!o->rows) file.line("%s", "ROWS=N");
    if (!o->constraints) file.line("%s", "CONSTRAINTS=N");
    if (!o->record) file.line("%s", "RECORD=N");
    if (o->consistent) file.line("%s", "CONSISTENT=YES");
    write_types(file, o);
    if (o->scope == KVE_SCOPE_FULL) file.line("%s", "FULL=Y");
    if (o->scope == KVE_SCOPE_TABLES)
        write_list(file, "TABLES=(", chosen_boxes(file, r, 'T', kve_list_count(o->tables), 4064));
    if (o->scope == KVE_SCOPE_USERS)
        write_list(file, "OWNER=(", chosen_boxes(file, r, 'U', kve_list_count(o->users), 4065));
}

// ---- lists --------------------------------------------------------------------

// Room for twice as many entries; false after the block.
bool grow_list(kvg_string_list* list, int* capacity, kvg_context* context) {
    int room = *capacity > 0 ? *capacity : 1;
    void* items = kvg_realloc(context, list->items, 2 * room * sizeof(char*), room * sizeof(char*), 0, MODULE, __LINE__);
    if (!items) {
        kvg_error_message(0, "KVE-TLIST", 1013, context);
        return false;
    }
    list->items = static_cast<char**>(items);
    *capacity = 2 * room;
    return true;
}

}  // namespace

bool kve_is_parameter_file_name(const char* name) {
    for (const char* prefix : {KVE_PARFILE_PREFIX, KVI_PARFILE_PREFIX})
        if (std::strncmp(name, prefix, std::strlen(prefix)) == 0) return true;
    return false;
}

kve_file_place kve_export_directory_path(const char* home, const char* name, std::string* path) {
    std::string export_dir = std::string(home) + "/export";
    std::string real_export = os_real_path(export_dir.c_str());
    if (real_export.empty()) real_export = export_dir;
    std::string text = name;
    size_t slash = text.rfind('/');
    std::string base = slash == std::string::npos ? text : text.substr(slash + 1);
    if (base.empty() || base == "." || base == ".." || kve_is_parameter_file_name(base.c_str())) return KVE_OUTSIDE;
    std::string directory = real_export;
    if (slash != std::string::npos) {
        // Only an absolute name: a relative one would be taken in the
        // tool's working directory by one and in the home by the other.
        if (text[0] != '/') return KVE_OUTSIDE;
        directory = os_real_path(slash == 0 ? "/" : text.substr(0, slash).c_str());
        if (directory.empty()) return KVE_NO_DIRECTORY;
        if (directory != real_export && !directory.starts_with(real_export + "/")) return KVE_OUTSIDE;
    }
    *path = directory + "/" + base;
    // The last component is never followed: an existing name must be a file
    // of its own, not a link to one elsewhere.
    return !os_exists(path->c_str()) || os_is_regular_file(path->c_str()) ? KVE_INSIDE : KVE_OUTSIDE;
}

void kve_require_login(bk_host* host, kvg_context* context, kvg_credentials* credentials, kvo_sql_error* error,
                       const char* identifier) {
    if (kvo_connect(credentials, error) == 0) return;
    // The database's text may repeat the user's name.
    const char* text = kvg_html_escape(context, error->message);
    kvg_error_page(1, identifier, error->code, text ? text : "", context);
    bk_end(host, -1);
}

bool kve_has_control_character(const char* text) {
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p; ++p)
        if (*p < 0x20 || *p == 0x7F) return true;
    return false;
}

[[noreturn]] void kve_fail(bk_host* host, kvg_context* context, int help, int number) {
    kve_fail_as(host, context, "KVE", help, number);
}

[[noreturn]] void kve_fail_as(bk_host* host, kvg_context* context, const char* identifier, int help, int number) {
    kvg_error_page(help, identifier, number, kvg_message(context, number), context);
    bk_end(host, -1);
}

// ---- parameter file and run -----------------------------------------------------

bool kve_parameter_file::create(const char* home, const char* name, int* error) {
    char* directory = heap_text(context_, __LINE__, "%s%s%s", home, "/", "export");
    if (!directory) fail(1, 1010);
    if (!os_exists(directory) && (*error = os_make_directory(directory)) != 0) return false;
    char* path = heap_text(context_, __LINE__, "%s%s%s%u", directory, "/", name, os_process_id());
    if (!path) fail(1, 1010);
    // A file of this name can only be left over from an earlier process with
    // the same id that did not end normally; it holds a password.
    os_remove_file(path);
    // Made readable and writable by the owner only before anything is in it.
    if (os_create_new_file(path) != 0) fail(0, 4063);
    path_ = path;
    if ((*error = bk_text_open(path_, "w", &file_)) != 0) {
        discard();
        return false;
    }
    return true;
}

void kve_parameter_file::line(const char* format, ...) {
    va_list args;
    va_start(args, format);
    char* text = heap_vformat(context_, __LINE__, format, args);
    va_end(args);
    if (!text) fail(1, 1010);
    if (kve_has_control_character(text)) fail(1, write_failure_);
    // A line that did not reach the disk would hand the utility another
    // run than the one chosen.
    if (bk_text_write_line(file_, text) != 0) fail(1, write_failure_);
    kvg_free(context_, text);
}

[[noreturn]] void kve_parameter_file::fail(int help, int number) {
    discard();
    kve_fail_as(host_, context_, identifier_, help, number);
}

void kve_parameter_file::discard() {
    if (file_) bk_text_close(file_);
    file_ = nullptr;
    if (path_) os_remove_file(path_);
    path_ = nullptr;
}

char* kve_parameter_file::finish() {
    bk_text_file* file = file_;
    file_ = nullptr;
    if (bk_text_close(file) != 0) fail(1, write_failure_);
    char* path = path_;
    path_ = nullptr;
    return path;
}

char* kve_write_parfile(bk_host* host, kve_request* r, int* error) {
    kve_parameter_file file(host, r->context, "KVE", 4058);
    if (!file.create(r->credentials->home ? r->credentials->home : "", KVE_PARFILE_PREFIX, error)) return nullptr;
    write_lines(file, r);
    return file.finish();
}

void kve_run_export(bk_host* host, kve_request* r) {
    int error = 0;
    char* path = kve_write_parfile(host, r, &error);
    if (!path) kve_fail(host, r->context, 1, 4058);
    kve_utility_end end = kve_run_utility(r->credentials->home ? r->credentials->home : "", "dbdump", path, PIPE_FAILURE);
    kve_report_utility_end(r->context, "KVE", end, KVE_ENDED_WITH_WARNINGS, KVE_ENDED_IN_FAILURE);
}

void kve_report_utility_end(kvg_context* context, const char* identifier, kve_utility_end end, int warnings,
                            int failure) {
    if (end == KVE_UTILITY_WARNINGS) kvg_error_message(1, identifier, warnings, context);
    if (end == KVE_UTILITY_FAILED) kvg_error_message(1, identifier, failure, context);
}

kve_utility_end kve_run_utility(const char* home, const char* utility, const char* path, const char* failure) {
    remove_on_exit removal{path};
    // A client that goes away while the utility runs must end the copy, not
    // the program: killed by the broken pipe, the tool would leave the
    // parameter file, password and all, behind.
    os_ignore_broken_pipe();
    // No shell: the file is protected directly. It was made for the owner
    // alone, so the outcome does not decide anything.
    os_protect_file(path);
    return kve_pipe_utility(home, utility, path, failure);
}

kve_utility_end kve_pipe_utility(const char* home, const char* utility, const char* path, const char* failure) {
    std::string program = std::string(home) + "/bin/" + utility;
    std::vector<std::string> argv = {program, std::string("PARFILE=") + path};
    os_child child;
    kve_utility_end end = KVE_UTILITY_UNKNOWN;
    int status = os_spawn_with_error_pipe(program.c_str(), argv, home, &child);
    if (status == OS_SPAWN_STARTED) {
        // Whatever the page holds so far goes out before the utility's output.
        bk_out_flush();
        bk_out("<pre>");
        bk_out_flush();
        char piece[PIPE_PIECE];
        long n;
        while ((n = os_read_pipe(&child, piece, sizeof piece)) > 0)
            if (!write_as_text(piece, static_cast<size_t>(n))) break;
        bk_out("</pre>\n");
        if (os_close_pipe(&child) != 0) status = 8;
        // The utility has closed its error output, which it does as it ends:
        // its exit status tells whether it did all it was asked. A page whose
        // reader went away waits for nothing.
        if (n == 0 && status == 0) end = utility_end(os_wait_child(&child));
        else os_reap_child(&child);
    }
    if (status != 0) {
        bk_out("<pre>");
        bk_out("%s", failure);
        bk_out("</pre>\n");
    }
    return end;
}

// ---- lists ------------------------------------------------------------------------

int kve_list_count(const kvg_string_list* list) { return list ? list->count : 0; }

int kve_user_list_query(kvg_credentials* credentials, kvg_string_list** users, kvo_sql_error* error,
                        kvg_context* context) {
    return kvo_name_list(credentials, "select count(distinct username) into :b0  from all_users where  not username='SYS'",
                         "select distinct username  from all_users where  not username='SYS' order by username", users,
                         error, context) == 0
               ? 0
               : -1;
}

int kve_table_list_query(kvg_credentials* credentials, kvg_string_list** tables, kvg_string_list** owners,
                         kvo_sql_error* error, kvg_context* context) {
    if (kvo_connect(credentials, error) != 0) return -1;
    int32_t count = 0;
    if (kvo_checked(esql_select_into("select count(distinct table_name) into :b0  from all_tables where  not owner='SYS'",
                                 {esql_into(&count)}),
                error) != 0)
        return -1;
    if (kvg_list_new(tables, count, context) != 0 || kvg_list_new(owners, count, context) != 0) return -1;
    esql_cursor cursor;
    if (kvo_checked(esql_open(cursor, "select distinct table_name ,owner  from all_tables where  not owner='SYS' order by owner"),
                error) != 0)
        return -1;
    // The count is of distinct names: a name that several owners use comes
    // once per owner, so the lists grow as the rows arrive.
    int capacity = count;
    char table[NAME_TEXT + 1], owner[NAME_TEXT + 1];
    size_t table_length = 0, owner_length = 0;
    for (int i = 0;; ++i) {
        int code = esql_fetch(cursor, {esql_into(table, NAME_TEXT, &table_length), esql_into(owner, NAME_TEXT, &owner_length)});
        if (code == ESQL_NOT_FOUND) break;
        if (code < 0) return kvo_sql_fail(error);
        table[table_length] = '\0';
        owner[owner_length] = '\0';
        if (i >= capacity) {
            int owner_capacity = capacity;
            if (!grow_list(*tables, &capacity, context) || !grow_list(*owners, &owner_capacity, context)) return -1;
        }
        if (kvg_list_set(*tables, i, table, context) != 0 || kvg_list_set(*owners, i, owner, context) != 0) return -1;
    }
    if (kvo_checked(esql_close(cursor), error) != 0) return -1;
    return kvo_commit(error);
}

void kve_load_lists(kvg_credentials* credentials, kvo_sql_error* error, kvg_context* context, kvg_string_list** users,
                    kvg_string_list** tables, kvg_string_list** owners) {
    switch (kvo_db_status(credentials, error, context)) {
        case KVO_DB_DOWN:
            // Mounted for the queries only: the instance goes down again.
            if (kvo_startup_mount(credentials, error, context, nullptr, nullptr) != 0) return;
            kve_user_list_query(credentials, users, error, context);
            kve_table_list_query(credentials, tables, owners, error, context);
            kvo_abort(credentials, error, context);
            return;
        case KVO_DB_UP:
            kve_user_list_query(credentials, users, error, context);
            kve_table_list_query(credentials, tables, owners, error, context);
            return;
        default:
            return;
    }
}

void kve_load_lists(kve_request* r) {
    kve_options* o = r->options;
    kve_load_lists(r->credentials, r->error, r->context, &o->users, &o->tables, &o->owners);
}
