// The export tool: a chain of forms that collects what to export and how,
// then a parameter file for the export utility and its run, with the
// utility's messages copied into the page.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "g/kvg.h"
#include "o/kvo.h"

// The step a continued request asks for.
enum kve_action : int32_t {
    KVE_ACTION_OPTIONS = 0,
    KVE_ACTION_RUN = 1,
    KVE_ACTION_ADVANCED = 2,
};

// What an export covers, chosen with the radio group KVESELECTOPTS.
enum kve_scope : int32_t {
    KVE_SCOPE_TABLES = 0,
    KVE_SCOPE_USERS = 1,
    KVE_SCOPE_FULL = 2,
};

constexpr size_t KVE_TYPE_SIZE = 32;   // an incremental or statistics type: 31 characters
constexpr size_t KVE_FILE_SIZE = 256;  // a log or export file name: 255 characters

// Every choice of the form chain. Created zero-filled on each request, then
// filled from the defaults or the posted fields.
struct kve_options {
    kvg_string_list* users;   // user names; none until loaded
    kvg_string_list* tables;  // table names
    kvg_string_list* owners;  // the owner of the table at the same index
    int32_t buffer_size;
    int32_t record_length;
    char incremental_type[KVE_TYPE_SIZE];
    char statistics_type[KVE_TYPE_SIZE];
    char log_file_name[KVE_FILE_SIZE];
    char export_file_name[KVE_FILE_SIZE];
    int32_t page_counter;  // KVEINSTANCE; 0 on a first request
    kve_scope scope;
    int32_t compress;
    int32_t grants;
    int32_t indexes;
    int32_t rows;
    int32_t constraints;
    int32_t log;
    int32_t record;
    int32_t consistent;
};

struct kve_request {
    kvg_var* variables;
    kvg_server* server;
    kvg_credentials* credentials;
    kvo_sql_error* error;
    kvg_context* context;
    kve_options* options;
};

// ---- handler (kvemn) --------------------------------------------------------

int kve_handler(bk_host* host, int reentry, int end, int argc, char** argv);

// ---- options and page blocks (kveui) ----------------------------------------

void kve_set_defaults(bk_host* host, kve_request* request);
// Reads the posted fields into the options; ends the program on invalid input.
void kve_parse_options(bk_host* host, kve_request* request);
// Whether the utility can create the log file asked for; ends the program
// when it cannot. Only for a run whose credentials the instance accepted:
// the check writes a file.
void kve_check_log_file(bk_host* host, kve_request* request);
// The defaults button of the advanced page: the advanced options go back to
// their defaults, the main choices stay.
void kve_reset_advanced(bk_host* host, kve_request* request);

// The advanced options (group A) and the main choices (group B) as hidden
// fields, for the pages that do not show them.
void kve_carry_advanced(kve_request* request);
void kve_carry_main(kve_request* request);
// The checked table and user boxes as hidden fields.
void kve_carry_boxes(kve_request* request);

void kve_switch_block(kve_request* request);
// The import/export switch on the picture of the tool that shows it.
void kve_switch_map(kvg_context* context, const kvg_credentials* credentials, const kvg_server* server,
                    const char* picture);
void kve_export_file_block(kve_request* request);
void kve_scope_block(kve_request* request);
void kve_table_list_block(kve_request* request);
void kve_user_list_block(kve_request* request);
void kve_full_database_note(kve_request* request);
// posted: each box as posted; otherwise all four checked.
void kve_object_type_block(kve_request* request, bool posted);
void kve_first_page_defaults(kve_request* request);
void kve_bottom_block(kve_request* request);
// The advanced options from the posted fields, or from the options after
// kve_reset_advanced.
void kve_advanced_block_posted(bk_host* host, kve_request* request);
void kve_advanced_block_defaults(bk_host* host, kve_request* request);
// The page counter plus one, stored back, as the hidden KVEINSTANCE field.
void kve_next_counter(kve_request* request);

// Form field helpers, shared with the import tool.
// The number of characters of text in the request's character set.
size_t kve_character_count(kvg_context* context, const char* text);
// A posted text field as a hidden field; nothing when it was not posted.
void kve_carry_text(kvg_context* context, const kvg_var* variables, const char* field);
// A posted check box as a hidden field with the number of times it was
// posted (it counts as on when posted at all); nothing when it was not.
void kve_carry_count(kvg_context* context, const kvg_var* variables, const char* field);

// ---- back end (kvebe) -------------------------------------------------------

// Writes the error block "KVE-number" with the catalogue text (and the help
// link when help is 1) and ends the program; nothing after it runs. It lives
// with the back end so that a program linking only the list loading needs no
// handler of this tool.
[[noreturn]] void kve_fail(bk_host* host, kvg_context* context, int help, int number);
// The same for a tool whose blocks carry another identifier ("KVI").
[[noreturn]] void kve_fail_as(bk_host* host, kvg_context* context, const char* identifier, int help, int number);

// A chosen name that is none the database can hold or no name as the lists
// write it, and a file name with a control character.
constexpr int KVE_NO_LIST_ITEM = 4072, KVE_CONTROL_IN_NAME = 4073;
constexpr int KVI_NO_LIST_ITEM = 5044, KVI_CONTROL_IN_NAME = 5045, KVI_NOT_A_LISTED_FILE = 5046;

// The names of the tools' parameter files begin so: no name a user gives
// may take them, and the import tool does not offer them.
constexpr const char* KVE_PARFILE_PREFIX = "exppar";
constexpr const char* KVI_PARFILE_PREFIX = "imppar";
bool kve_is_parameter_file_name(const char* name);

// Where a file the user named for a utility (an export, log or index file)
// lies: a plain name is taken in HOME/export, an absolute name must resolve
// inside it, links and ".." followed. The last component is never a link, and
// never a name of the tools' parameter files. *path is absolute when the file
// is inside; a name whose directory does not exist cannot be placed at all.
enum kve_file_place { KVE_INSIDE, KVE_OUTSIDE, KVE_NO_DIRECTORY };
kve_file_place kve_export_directory_path(const char* home, const char* name, std::string* path);

// Ends the program with the tool's connect error block (identifier, the
// database's code and text) unless the request's user and password connect:
// nothing is written or started for credentials the instance refuses.
void kve_require_login(bk_host* host, kvg_context* context, kvg_credentials* credentials, kvo_sql_error* error,
                       const char* identifier);

// Whether text holds a line break or another control character: such a
// value would add a line of its own to the parameter file.
bool kve_has_control_character(const char* text);

// The parameter file, the utility run and the removal of the file.
void kve_run_export(bk_host* host, kve_request* request);
// The written parameter file's path, or none with the failure's code in error.
char* kve_write_parfile(bk_host* host, kve_request* request, int* error);

// A utility's parameter file while it is written; the import tool writes its
// own the same way. The file holds the password in clear: whichever way the
// writing ends, the program's end included (which unwinds through here), the
// file is removed unless finish has handed it on.
class kve_parameter_file {
public:
    // identifier: the tool's error blocks ("KVE", "KVI"); write_failure: the
    // message when a line cannot be written or would break the file's lines.
    kve_parameter_file(bk_host* host, kvg_context* context, const char* identifier, int write_failure)
        : host_(host), context_(context), identifier_(identifier), write_failure_(write_failure) {}
    ~kve_parameter_file() { discard(); }
    kve_parameter_file(const kve_parameter_file&) = delete;
    kve_parameter_file& operator=(const kve_parameter_file&) = delete;

    // Creates HOME/export/<name><process id>, readable and writable by the
    // owner only before anything is in it, and opens it. false with *error
    // set when the export directory cannot be made or the file cannot be
    // opened; ends the program with 1010 (no path) or 4063 (no file).
    bool create(const char* home, const char* name, int* error);
    // One line, built in a block of its own. A line break or another control
    // character would add a line of its own: refused with write_failure.
    void line(const char* format, ...) BK_PRINTF(2, 3);
    // Closes and removes the file, then writes the block and ends the program.
    [[noreturn]] void fail(int help, int number);
    // Closes and removes the file.
    void discard();
    // The written file's path; from here on the caller removes it.
    char* finish();

private:
    bk_host* host_;
    kvg_context* context_;
    const char* identifier_;
    int write_failure_;
    char* path_ = nullptr;
    bk_text_file* file_ = nullptr;
};

// How a utility's run ended: unknown when it could not be started, its pipe
// failed or the page's reader went away before its end.
enum kve_utility_end { KVE_UTILITY_DONE, KVE_UTILITY_WARNINGS, KVE_UTILITY_FAILED, KVE_UTILITY_UNKNOWN };
// The run's end after the utility's messages: a run that did not do all it
// was asked must not end the page as if it had.
constexpr int KVE_ENDED_WITH_WARNINGS = 4074, KVE_ENDED_IN_FAILURE = 4075;
constexpr int KVI_ENDED_WITH_WARNINGS = 5047, KVI_ENDED_IN_FAILURE = 5048;

// Runs HOME/bin/<utility> PARFILE=path with its error output copied into the
// page, then removes the parameter file, however the run ends. failure is the
// page's text when the utility cannot be started or its pipe fails.
kve_utility_end kve_run_utility(const char* home, const char* utility, const char* path, const char* failure);
// The start and the copy alone.
kve_utility_end kve_pipe_utility(const char* home, const char* utility, const char* path, const char* failure);
// The block after the utility's messages when it ended with warnings or
// failed; nothing when it did all it was asked.
void kve_report_utility_end(kvg_context* context, const char* identifier, kve_utility_end end, int warnings,
                            int failure);

// The users, tables and table owners the database offers, SYS's excepted.
// When the instance is down it is started and mounted for the queries and
// aborted afterwards. Failures are silent: a list that could not be read is
// left absent (or as far as it was read) and the error record tells why.
void kve_load_lists(kvg_credentials* credentials, kvo_sql_error* error, kvg_context* context,
                    kvg_string_list** users, kvg_string_list** tables, kvg_string_list** owners);
// The same for the lists of the request's options.
void kve_load_lists(kve_request* request);
// 0, or -1 with the error record filled.
int kve_user_list_query(kvg_credentials* credentials, kvg_string_list** users, kvo_sql_error* error,
                        kvg_context* context);
int kve_table_list_query(kvg_credentials* credentials, kvg_string_list** tables, kvg_string_list** owners,
                         kvo_sql_error* error, kvg_context* context);
// The number of entries; a list that could not be loaded counts as empty.
int kve_list_count(const kvg_string_list* list);
