// The one connection of a process, statements given at run time, and the
// dictionary questions that more than one tool asks.
#include <cstdio>
#include <cstring>

#include "g/kvg.h"
#include "o/kvo.h"
#include "platform/esqlrt.h"

namespace {

constexpr const char* MODULE = "o/kvocm";
constexpr size_t NAME_TEXT = 256;       // a name as fetched
constexpr size_t FILE_TEXT = 257;       // a data file name as fetched
constexpr size_t BOUND_NAME_SIZE = 512; // the tablespace name bound to :tblsp

}  // namespace

int kvo_checked(int code, kvo_sql_error* error) { return code < 0 ? kvo_sql_fail(error) : 0; }

int kvo_connect(kvg_credentials* credentials, kvo_sql_error* error) {
    if (credentials->state == KVG_CONNECTED) return 0;
    int code = esql_connect(credentials->user ? credentials->user : "",
                            credentials->password ? credentials->password : "");
    if (code < 0) return kvo_sql_fail(error);
    credentials->state = KVG_CONNECTED;
    return 0;
}

int kvo_execute(const char* statement, kvo_sql_error* error) {
    return kvo_checked(esql_execute_immediate(statement), error);
}

int kvo_commit(kvo_sql_error* error) { return kvo_checked(esql_commit(), error); }

int kvo_name_list(kvg_credentials* credentials, const char* count_statement, const char* list_statement,
                  kvg_string_list** list, kvo_sql_error* error, kvg_context* context) {
    if (kvo_connect(credentials, error) != 0) return -1;
    int32_t count = 0;
    if (kvo_checked(esql_select_into(count_statement, {esql_into(&count)}), error) != 0) return -1;
    if (kvg_list_new(list, count, context) != 0) return 1013;
    esql_cursor cursor;
    if (kvo_checked(esql_open(cursor, list_statement), error) != 0) return -1;
    char name[NAME_TEXT + 1];
    size_t length = 0;
    for (int i = 0; i < count; ++i) {
        int code = esql_fetch(cursor, {esql_into(name, NAME_TEXT, &length)});
        if (code == ESQL_NOT_FOUND) break;
        if (code < 0) return kvo_sql_fail(error);
        name[length] = '\0';
        if (kvg_list_set(*list, i, name, context) != 0) return 1013;
    }
    if (kvo_checked(esql_close(cursor), error) != 0) return -1;
    return kvo_commit(error);
}

int kvo_tablespace_list(kvg_credentials* credentials, kvg_string_list** list, kvo_sql_error* error,
                        kvg_context* context) {
    return kvo_name_list(credentials, "select count(distinct tablespace_name) into :b0  from sys.dba_data_files",
                         "select distinct tablespace_name  from sys.dba_data_files  order by tablespace_name", list,
                         error, context);
}

int kvo_file_count(kvg_credentials* credentials, kvo_sql_error* error, int which, int32_t* count) {
    static const char* const STATEMENTS[] = {
        "select count(distinct name) into :b0  from v$datafile",
        "select count(distinct member) into :b0  from v$logfile",
        "select count(distinct value) into :b0  from v$parameter where name='control_files'",
    };
    if (kvo_connect(credentials, error) != 0) return -1;
    *count = 0;
    if (which < KVO_DATA_FILES || which > KVO_CONTROL_FILES) return 0;
    return kvo_checked(esql_select_into(STATEMENTS[which], {esql_into(count)}), error);
}

int kvo_tablespace_files(kvg_credentials* credentials, kvg_string_list** list, int capacity, kvo_sql_error* error,
                         kvg_context* context, const kvg_string_list* names) {
    if (kvo_connect(credentials, error) != 0) return -1;
    if (kvg_list_new(list, capacity, context) != 0) return 1013;
    const char* select = "SELECT file_name FROM sys.dba_data_files";
    const char* where = "WHERE tablespace_name = :tblsp";
    size_t text_size = std::strlen(select) + std::strlen(where) + 256;
    auto* text = static_cast<char*>(kvg_alloc(context, text_size, 0, MODULE, __LINE__));
    auto* bound = static_cast<char*>(kvg_alloc(context, BOUND_NAME_SIZE, 0, MODULE, __LINE__));
    if (!text || !bound) return 1013;
    std::snprintf(text, text_size, "%s %s", select, where);

    int next = 0;
    for (int t = 0; names && t < names->count; ++t) {
        std::snprintf(bound, BOUND_NAME_SIZE, "%s", names->items[t]);
        esql_statement statement;
        esql_cursor cursor;
        if (kvo_checked(esql_prepare(statement, text), error) != 0 ||
            kvo_checked(esql_open_prepared(cursor, statement, {esql_in(bound)}), error) != 0)
            return -1;
        char file[FILE_TEXT + 1];
        size_t length = 0;
        for (;;) {
            int code = esql_fetch(cursor, {esql_into(file, FILE_TEXT, &length)});
            if (code == ESQL_NOT_FOUND) break;
            if (code < 0) return kvo_sql_fail(error);
            file[length] = '\0';
            // A data file added since the caller counted them finds no slot.
            if (next >= capacity) continue;
            if (kvg_list_set(*list, next++, file, context) != 0) return 1013;
        }
        if (kvo_checked(esql_close(cursor), error) != 0) return -1;
    }
    int result = kvo_commit(error);
    kvg_free(context, text);
    return result;
}

namespace {

constexpr size_t ROW_TEXT = 512;  // a value as fetched for a table of the sibling tools

// The next row's first columns into texts (1 to KVO_ROW_COLUMNS of them).
int fetch_texts(esql_cursor& cursor, char (*texts)[ROW_TEXT + 1], size_t* lengths, int columns) {
    auto into = [&](int i) { return esql_into(texts[i], ROW_TEXT, &lengths[i]); };
    switch (columns) {
    case 1: return esql_fetch(cursor, {into(0)});
    case 2: return esql_fetch(cursor, {into(0), into(1)});
    case 3: return esql_fetch(cursor, {into(0), into(1), into(2)});
    case 4: return esql_fetch(cursor, {into(0), into(1), into(2), into(3)});
    case 5: return esql_fetch(cursor, {into(0), into(1), into(2), into(3), into(4)});
    case 6: return esql_fetch(cursor, {into(0), into(1), into(2), into(3), into(4), into(5)});
    case 7: return esql_fetch(cursor, {into(0), into(1), into(2), into(3), into(4), into(5), into(6)});
    case 8: return esql_fetch(cursor, {into(0), into(1), into(2), into(3), into(4), into(5), into(6), into(7)});
    case 9: return esql_fetch(cursor, {into(0), into(1), into(2), into(3), into(4), into(5), into(6), into(7), into(8)});
    default:
        return esql_fetch(cursor, {into(0), into(1), into(2), into(3), into(4), into(5), into(6), into(7), into(8), into(9)});
    }
}

}  // namespace

int kvo_rows(kvg_credentials* credentials, kvo_sql_error* error, const char* statement, int columns,
             const std::function<void(const char* const* values)>& each) {
    if (columns < 1 || columns > KVO_ROW_COLUMNS) return 1013;
    if (kvo_connect(credentials, error) != 0) return -1;
    esql_cursor cursor;
    if (kvo_checked(esql_open(cursor, statement), error) != 0) return -1;
    char texts[KVO_ROW_COLUMNS][ROW_TEXT + 1];
    size_t lengths[KVO_ROW_COLUMNS] = {};
    const char* values[KVO_ROW_COLUMNS];
    for (;;) {
        int code = fetch_texts(cursor, texts, lengths, columns);
        if (code == ESQL_NOT_FOUND) break;
        if (code < 0) return kvo_sql_fail(error);
        for (int i = 0; i < columns; ++i) {
            texts[i][lengths[i]] = '\0';
            values[i] = texts[i];
        }
        each(values);
    }
    if (kvo_checked(esql_close(cursor), error) != 0) return -1;
    return kvo_commit(error);
}
