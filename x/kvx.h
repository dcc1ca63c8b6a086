// The tablespace tool: its records, its pages and checks, and the
// tablespace statements of the database layer (o/kvoxp).
#pragma once

#include <string>

#include "g/kvg.h"
#include "o/kvo.h"

constexpr size_t KVX_TEXT_SIZE = 256;

struct kvx_page {
    kvg_string_list* datafiles;
    kvg_string_list* tablespaces;
    int step;      // KVXPDINSTANCE of the submitted page
    char* action;  // KVXTODO, KVX_TEXT_SIZE bytes
};

struct kvx_tablespace {
    char* name;  // KVX_TEXT_SIZE bytes, as the dictionary stores it
    int used_kb;
    int free_kb;
    int total_kb;
    char* status;  // KVX_TEXT_SIZE bytes
};

struct kvx_datafile {
    const char* name;
    int initial_kb;
    int increment_kb;
    int maximum_kb;
    int unlimited;
};

// The action of the button beside the status: switch the tablespace shown.
constexpr int KVX_SWITCH_STATUS = 9011;

struct kvx_state {
    kvx_page* page;
    kvx_tablespace* tablespace;
    kvx_datafile* datafile;
    kvg_context* context;
    kvg_var* variables;
    kvg_server* server;
    kvg_credentials* credentials;
    kvo_sql_error* error;
    unsigned process_id;
};

int kvx_handler(bk_host* host, int reentry, int end, int argc, char** argv);

// ---- usage chart (x/kvxch) --------------------------------------------------

// Draws the pie of QUERY_STRING's used and total kilobytes and writes it to
// standard output as a GIF.
void kvx_draw_usage_chart();

// ---- pages and form checks (x/kvxui) ------------------------------------------

// The body of a page request: 0, or another value after an error block.
int kvx_write_page(kvx_state* state);
int kvx_read_datafile(kvx_state* state);
// The kilobytes of one size field into *kilobytes; 0, or -1 after an error block.
int kvx_read_size(kvx_state* state, const char* size_variable, const char* unit_variable, int* kilobytes);
int kvx_check_datafile(kvx_state* state);
int kvx_disk_free(const char* path, long long* kilobytes);

// ---- tablespace statements (o/kvoxp) -------------------------------------------

// A data file name that may stand between the quotes of a statement: present,
// without quote or control characters.
bool kvx_valid_datafile_name(const char* name);

// 0; -1 with the error record filled; or a message number (1010, 1011, 1013,
// 1031, 9031) when the operation refused or ran short of memory.

int kvx_get_status(kvg_context* context, kvg_credentials* credentials, kvx_tablespace* tablespace,
                   kvo_sql_error* error);
int kvx_get_space(kvg_context* context, kvg_credentials* credentials, kvx_tablespace* tablespace,
                  kvo_sql_error* error);
int kvx_toggle_status(kvg_context* context, kvg_credentials* credentials, kvx_tablespace* tablespace,
                      kvo_sql_error* error);
int kvx_new_datafile_name(kvg_context* context, kvg_credentials* credentials, kvx_datafile* datafile,
                          kvo_sql_error* error);
int kvx_add_datafile(kvg_context* context, kvg_credentials* credentials, const char* tablespace,
                     const kvx_datafile* datafile, kvo_sql_error* error);
int kvx_create_tablespace(kvg_context* context, kvg_credentials* credentials, const char* tablespace,
                          const kvx_datafile* datafile, kvo_sql_error* error);
