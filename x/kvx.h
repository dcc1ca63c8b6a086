// The tablespace tool.
#pragma once

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
    char* name;  // KVX_TEXT_SIZE bytes
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
