// The tablespace tool's statements: space and status of a tablespace, the
// status switch, new data files and new tablespaces.
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "platform/esqlrt.h"
#include "platform/os.h"
#include "x/kvx.h"

namespace {

constexpr const char* MODULE = "o/kvoxp";
constexpr int PROPOSED_NAMES = 199;
// Refusal of a tablespace the dictionary does not know.
constexpr int NO_TABLESPACE = 9031;

// A statement text in a heap block of its own size; none when no block can be had.
BK_PRINTF(2, 3) char* statement_text(kvg_context* context, const char* format, ...) {
    va_list args, measure;
    va_start(args, format);
    va_copy(measure, args);
    int length = std::vsnprintf(nullptr, 0, format, measure);
    va_end(measure);
    auto* text = length < 0 ? nullptr : static_cast<char*>(kvg_alloc(context, length + 1, 0, MODULE, __LINE__));
    if (text) std::vsnprintf(text, length + 1, format, args);
    va_end(args);
    return text;
}

// The name as it is bound: its statement form read back by the name copy, in
// a block of its own. None when no block can be had.
char* bound_name(kvg_context* context, const char* name) {
    auto* bound = static_cast<char*>(kvg_alloc(context, KVX_TEXT_SIZE, 0, MODULE, __LINE__));
    if (bound) lk_name_copy(context->nls->charset, kvo_name_text(name).c_str(), bound, KVX_TEXT_SIZE);
    return bound;
}

// One integer of a query about the named tablespace: 0 or -1.
int select_kilobytes(const char* statement, const char* name, int32_t* kilobytes, kvo_sql_error* error) {
    return kvo_checked(esql_select_into(statement, {esql_into(kilobytes)}, {esql_in(name)}), error);
}

// Runs a statement built here; its text goes back to the heap once it ran.
int run(kvg_context* context, char* statement, kvo_sql_error* error) {
    if (!statement) return 1013;
    int result = kvo_execute(statement, error);
    kvg_free(context, statement);
    return result;
}

// The add and create statements differ only in their first words.
int run_datafile_statement(kvg_context* context, kvg_credentials* credentials, const char* verb, const char* clause,
                           const char* tablespace, const kvx_datafile* d, kvo_sql_error* error) {
    // Nothing unchecked ever stands between the quotes.
    if (!kvx_valid_datafile_name(d->name)) return 9030;
    if (kvo_connect(credentials, error) != 0) return -1;
    std::string name = kvo_name_text(tablespace);
    char* statement =
        d->unlimited
            ? statement_text(context, "%s %s %s '%s' %s %dK %s %s %dK %s %s", verb, name.c_str(), clause, d->name,
                             "size", d->initial_kb, "autoextend on", "next", d->increment_kb, "maxsize", "unlimited")
            : statement_text(context, "%s %s %s '%s' %s %dK %s %s %dK %s %dK", verb, name.c_str(), clause, d->name,
                             "size", d->initial_kb, "autoextend on", "next", d->increment_kb, "maxsize", d->maximum_kb);
    return run(context, statement, error);
}

}  // namespace

bool kvx_valid_datafile_name(const char* name) { return name && *name && kvo_plain_text(name, std::strlen(name)); }

int kvx_get_status(kvg_context* context, kvg_credentials* credentials, kvx_tablespace* tablespace,
                   kvo_sql_error* error) {
    char* name = bound_name(context, tablespace->name);
    if (!name) return 1013;
    if (kvo_connect(credentials, error) != 0) return -1;
    char status[KVX_TEXT_SIZE];
    size_t length = 0;
    int code = esql_select_into("select status into :b0  from sys.dba_tablespaces where tablespace_name=:b1",
                                {esql_into(status, KVX_TEXT_SIZE - 1, &length)}, {esql_in(name)});
    if (code < 0) return kvo_sql_fail(error);
    // A tablespace that is gone (or never was) has no status to show.
    if (code == ESQL_NOT_FOUND) return NO_TABLESPACE;
    std::memcpy(tablespace->status, status, length);
    tablespace->status[length] = '\0';
    kvg_free(context, name);
    return 0;
}

int kvx_get_space(kvg_context* context, kvg_credentials* credentials, kvx_tablespace* tablespace,
                  kvo_sql_error* error) {
    char* name = bound_name(context, tablespace->name);
    if (!name) return 1013;
    if (kvo_connect(credentials, error) != 0) return -1;
    int32_t free_kb = 0, total_kb = 0;
    if (select_kilobytes("select round((sum(bytes)/1024)) into :b0  from sys.dba_free_space where tablespace_name=:b1",
                         name, &free_kb, error) != 0 ||
        select_kilobytes("select round((sum(bytes)/1024)) into :b0  from sys.dba_data_files where tablespace_name=:b1",
                         name, &total_kb, error) != 0)
        return -1;
    tablespace->free_kb = free_kb;
    tablespace->total_kb = total_kb;
    tablespace->used_kb = total_kb - free_kb;
    kvg_free(context, name);
    return kvx_get_status(context, credentials, tablespace, error);
}

int kvx_toggle_status(kvg_context* context, kvg_credentials* credentials, kvx_tablespace* tablespace,
                      kvo_sql_error* error) {
    if (kvo_connect(credentials, error) != 0) return -1;
    std::string name = kvo_name_text(tablespace->name);
    char* statement = nullptr;
    if (lk_equal(tablespace->status, "OFFLINE"))
        statement = statement_text(context, "%s %s %s", "ALTER TABLESPACE", name.c_str(), "ONLINE");
    else if (lk_equal(tablespace->status, "ONLINE"))
        statement = statement_text(context, "%s %s %s %s", "ALTER TABLESPACE", name.c_str(), "OFFLINE", "NORMAL");
    else
        return 1031;
    int result = run(context, statement, error);
    return result != 0 ? result : kvx_get_status(context, credentials, tablespace, error);
}

int kvx_new_datafile_name(kvg_context* context, kvg_credentials* credentials, kvx_datafile* datafile,
                          kvo_sql_error*) {
    const char* home = credentials->home ? credentials->home : "";
    std::string directory = bk_text("%s%s%s", home, "/", "dbs");
    if (!os_is_directory(directory.c_str())) return 1011;
    for (int i = 1; i <= PROPOSED_NAMES; ++i) {
        std::string candidate = bk_text("%s/%s/%s%03d.%s", home, "dbs", "KVS", i, "dbf");
        if (os_exists(candidate.c_str())) continue;
        datafile->name = kvg_strdup(context, candidate.c_str(), MODULE, __LINE__);
        return datafile->name ? 0 : 1013;
    }
    return 1010;
}

int kvx_add_datafile(kvg_context* context, kvg_credentials* credentials, const char* tablespace,
                     const kvx_datafile* datafile, kvo_sql_error* error) {
    return run_datafile_statement(context, credentials, "alter tablespace", "add datafile", tablespace, datafile,
                                  error);
}

int kvx_create_tablespace(kvg_context* context, kvg_credentials* credentials, const char* tablespace,
                          const kvx_datafile* datafile, kvo_sql_error* error) {
    return run_datafile_statement(context, credentials, "create tablespace", "datafile", tablespace, datafile, error);
}
