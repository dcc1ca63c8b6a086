// The import tool: a chain of forms that picks an export file of the export
// directory, the tables or users inside it and the users to import them into,
// then a parameter file for the import utility and its run, with the
// utility's messages copied into the page.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "g/kvg.h"
#include "i/kviscan.h"
#include "o/kvo.h"

// The step a continued request asks for.
enum kvi_action : int32_t {
    KVI_ACTION_OPTIONS = 0,
    KVI_ACTION_RUN = 1,
    KVI_ACTION_ADVANCED = 2,
};

// What an import covers, chosen with the radio group KVISELECTOPTS.
enum kvi_scope : int32_t {
    KVI_SCOPE_TABLES = 0,
    KVI_SCOPE_USERS = 1,
    KVI_SCOPE_FULL = 2,
};

constexpr size_t KVI_TYPE_SIZE = 32;   // the incremental type: 31 characters
constexpr size_t KVI_FILE_SIZE = 256;  // a log, index or export file name: 255 characters

// Every choice of the form chain. Created zero-filled on each request, then
// filled from the defaults or the posted fields.
struct kvi_options {
    kvg_string_list* users;   // the database's users, offered as target users; none until loaded
    kvg_string_list* tables;  // loaded with the users, not shown
    kvg_string_list* owners;
    int32_t page_counter;  // KVIINSTANCE; 0 on a first request
    kvi_scope scope;
    int32_t buffer_size;
    int32_t record_length;
    int32_t grants;
    int32_t indexes;
    int32_t rows;
    int32_t log;
    int32_t index;
    int32_t destroy;
    int32_t commit;
    int32_t ignore;
    char incremental_type[KVI_TYPE_SIZE];
    char log_file_name[KVI_FILE_SIZE];
    char index_file_name[KVI_FILE_SIZE];
    char export_file_name[KVI_FILE_SIZE];  // a plain name inside the export directory
};

struct kvi_request {
    kvg_var* variables;
    kvg_server* server;
    kvg_credentials* credentials;
    kvo_sql_error* error;
    kvg_context* context;
    kvi_options* options;
    // The chosen export file's tables, owners and users: index i is what the
    // fields T<i>, DT<i>, U<i> and DU<i> carry. Empty until scanned.
    kvi_scan_result* scan;
};

// What the pressed button asks of a selection page besides its step.
struct kvi_list_step {
    int32_t start;       // the first table or user the list shows
    bool reset_targets;  // every target user back to its default
};

// The database home of the credentials ("" when the cookie names none).
const char* kvi_home(const kvi_request* request);
// The first posted value of the field prefix<i> (T3, DU0, ...), or none.
const char* kvi_posted_indexed(kvi_request* request, const char* prefix, size_t i);

// ---- handler (kvimn) --------------------------------------------------------

int kvi_handler(bk_host* host, int reentry, int end, int argc, char** argv);
// Writes the error block "KVI-number" with the catalogue text (and the help
// link when help is 1) and ends the program; nothing after it runs.
[[noreturn]] void kvi_fail(bk_host* host, kvg_context* context, int help, int number);

// ---- options and page blocks (kviui) ----------------------------------------

void kvi_set_defaults(bk_host* host, kvi_request* request);
// Reads the posted fields into the options; ends the program on invalid input.
void kvi_parse_options(bk_host* host, kvi_request* request);
// The defaults button of the advanced page: the advanced options go back to
// their defaults, the main choices stay.
void kvi_reset_advanced(bk_host* host, kvi_request* request);
// The files of the export directory the tool offers: regular files with a
// name kvi_plain_file_name takes. false when the directory cannot be read.
bool kvi_export_files(kvi_request* request, std::vector<std::string>* files);
// Whether the utility can create the log and index files asked for; ends the
// program when it cannot. Only for a run whose credentials the instance
// accepted: the check writes files.
void kvi_check_files(bk_host* host, kvi_request* request);
// Whether name can be the export file: a plain name inside the export
// directory, never a path out of it.
bool kvi_plain_file_name(const char* name);

// The advanced options and the main choices as hidden fields, for the pages
// that do not show them.
void kvi_carry_advanced(kvi_request* request);
void kvi_carry_main(kvi_request* request);
// The target users chosen on earlier pages (and on this request's page) as
// hidden HDT<i> and HDU<i> fields; a target equal to its default is not carried.
void kvi_carry_table_targets(kvi_request* request);
void kvi_carry_user_targets(kvi_request* request);

void kvi_switch_block(kvi_request* request);
// The files of the export directory, the chosen one marked.
void kvi_export_file_field(kvi_request* request);
void kvi_scope_block(kvi_request* request, bool first_page);
void kvi_whole_file_note(kvi_request* request);
// The entries of a list one page shows: start to end, end not included.
struct kvi_list_range {
    size_t start = 0;
    size_t end = 0;
};
// A page of the table or user list; returns the entries it shows.
kvi_list_range kvi_table_list_block(kvi_request* request, const kvi_list_step& step);
kvi_list_range kvi_user_list_block(kvi_request* request, const kvi_list_step& step);
// The target user of entry i of a list ("DT" or "DU"): a choice posted on
// this page that differs from the default, else one carried from an earlier
// page as "HDT" or "HDU", else the default.
std::string kvi_target_user(kvi_request* request, const char* chosen, size_t i, const std::string& fallback);
// The value of entry i's box of a list ("T" or "U"): checked on the page just
// posted, or carried from an earlier page as "HT" or "HU"; none when it is
// not chosen.
const char* kvi_chosen_box(kvi_request* request, const char* box, size_t i);
// The chosen boxes of a list that the page does not show, as hidden "HT" or
// "HU" fields, so that paging on keeps them.
void kvi_carry_boxes(kvi_request* request, const char* box, size_t count, kvi_list_range shown);
// posted: each box as posted; otherwise the first page's, all three checked.
void kvi_object_boxes(kvi_request* request, bool posted);
void kvi_first_page_defaults(kvi_request* request);
void kvi_bottom_buttons(kvi_request* request);
// The advanced options from the posted fields, or from the options after
// kvi_reset_advanced.
void kvi_advanced_block_posted(bk_host* host, kvi_request* request);
void kvi_advanced_block_defaults(kvi_request* request);
// The page counter plus one, stored back, as the hidden KVIINSTANCE field.
void kvi_next_counter(kvi_request* request);

// ---- back end (kvibe) -------------------------------------------------------

// Reads the chosen export file of the export directory into the request's
// scan; ends the program with 1011 when it cannot be read.
void kvi_scan_export_file(bk_host* host, kvi_request* request);
// The parameter file, the utility run and the removal of the file.
void kvi_run_import(bk_host* host, kvi_request* request);
// The written parameter file's path, or none with the failure's code in error.
char* kvi_write_parfile(bk_host* host, kvi_request* request, int* error);
