// The database layer: the one connection of a process and its error record.
#pragma once

#include <cstdint>
#include <cstddef>
#include <functional>
#include <string>

constexpr int KVO_MESSAGE_SIZE = 512;

struct kvo_sql_error {
    int32_t code;                    // negative database error code of the last failure, or 0
    char message[KVO_MESSAGE_SIZE];  // its message text, at most 511 bytes and a zero byte
};

// Database status: up, down, undetermined.
constexpr int KVO_DB_UP = 3123;
constexpr int KVO_DB_DOWN = 3124;
constexpr int KVO_DB_UNKNOWN = 1031;

struct kvg_context;
struct kvg_credentials;

// Connects once per process with the credentials of the login cookie.
int kvo_connect(kvg_credentials* credentials, kvo_sql_error* error);
// Runs a statement text given at run time.
int kvo_execute(const char* statement, kvo_sql_error* error);
int kvo_commit(kvo_sql_error* error);
// Fills the error record from the failed statement and ends its transaction; always -1.
int kvo_sql_fail(kvo_sql_error* error);
// A statement's code: 0 and 1403 (no row) give 0, a failure goes through kvo_sql_fail.
int kvo_checked(int code, kvo_sql_error* error);
// KVO_DB_UP, KVO_DB_DOWN or KVO_DB_UNKNOWN, by trying to connect.
int kvo_db_status(kvg_credentials* credentials, kvo_sql_error* error, kvg_context* context);

struct kvg_string_list;

constexpr int KVO_ROW_COLUMNS = 10;
// Calls each with the texts of the first columns (1 to KVO_ROW_COLUMNS) of
// every row of a query, a value cut at 512 bytes (the connection is made).
// 0, -1 (database) or 1013.
int kvo_rows(kvg_credentials* credentials, kvo_sql_error* error, const char* statement, int columns,
             const std::function<void(const char* const* values)>& each);

// ---- dictionary queries ----------------------------------------------------

// The names the one-column query list_statement gives, into a new list of
// as many entries as count_statement counts (the connection is made). 0, -1
// (database) or 1013 (the list).
int kvo_name_list(kvg_credentials* credentials, const char* count_statement, const char* list_statement,
                  kvg_string_list** list, kvo_sql_error* error, kvg_context* context);
// The tablespaces that have data files, sorted by name. 0, -1 (database) or 1013.
int kvo_tablespace_list(kvg_credentials* credentials, kvg_string_list** list, kvo_sql_error* error,
                        kvg_context* context);
constexpr int KVO_DATA_FILES = 0;
constexpr int KVO_LOG_MEMBERS = 1;
constexpr int KVO_CONTROL_FILES = 2;
// How many distinct data files, redo log members or control files the instance has.
int kvo_file_count(kvg_credentials* credentials, kvo_sql_error* error, int which, int32_t* count);
// The data files of the tablespaces of names, in one list of at most capacity entries.
int kvo_tablespace_files(kvg_credentials* credentials, kvg_string_list** list, int capacity, kvo_sql_error* error,
                         kvg_context* context, const kvg_string_list* names);

// ---- instance start and stop -------------------------------------------------

constexpr int KVO_PARAMETER_TEXT_SIZE = 8191;
// Starts an instance that is down and mounts it, with the parameter text given
// or read from path (default HOME/dbs/initSID.vpf). 0, a file result (1010,
// 1012, 1032, 1033), 1013, or the failing call's code.
int kvo_startup_mount(kvg_credentials* credentials, kvo_sql_error* error, kvg_context* context, const char* path,
                      const char* text);
// Opens a started (mounted 0) or mounted (mounted 1) instance with a normal
// logon. 0, 1013 or the failing call's code.
int kvo_open_database(kvg_credentials* credentials, kvo_sql_error* error, kvg_context* context, int mounted);
// Shuts the instance down in mode (dbcall's normal, immediate or abort) with a
// privileged connection. 0, 1013 or the failing call's code.
int kvo_shutdown(kvg_credentials* credentials, kvo_sql_error* error, kvg_context* context, int mode);
// Whether the credentials may open a privileged connection (INTERNAL or the
// DBA role, in any state of a running service): 0, 1013 or the refusal's code.
int kvo_privileged_check(kvg_credentials* credentials, kvo_sql_error* error, kvg_context* context);
// Shuts the instance down at once (abort). 0, 1013 or the failing call's code.
int kvo_abort(kvg_credentials* credentials, kvo_sql_error* error, kvg_context* context);

// ---- login -----------------------------------------------------------------

constexpr int KVO_ROLE_SIZE = 32;
// The DBA role of the connected user into role (empty when not granted). 0 or -1.
int kvo_check_dba(kvg_context* context, kvg_credentials* credentials, kvo_sql_error* error,
                  char role[KVO_ROLE_SIZE]);

// ---- names -------------------------------------------------------------------

// A name as typed that may reach statement text: a plain identifier (a
// letter, then letters, digits, "_", "$" or "#", at most 30 in all) or a
// double-quoted name of 1 to 30 bytes without quote or control characters.
bool kvo_valid_name(const char* name);
// A plain identifier alone, as user names are.
bool kvo_valid_identifier(const char* name);
// How a name as the dictionary stores it is written so that the database, and
// the name copy, read it back as itself: bare when it is a word in upper
// case, else in double quotes (the engine's own rule).
std::string kvo_name_text(const char* name);
// Text without quote or control characters.
bool kvo_plain_text(const char* text, size_t length);
