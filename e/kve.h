// The export tool.
#pragma once

#include "g/kvg.h"
#include "o/kvo.h"

struct kve_options {
    int32_t page_counter;  // KVEINSTANCE; 0 on a first request
};

struct kve_request {
    kvg_var* variables;
    kvg_server* server;
    kvg_credentials* credentials;
    kvo_sql_error* error;
    kvg_context* context;
    kve_options* options;
};

int kve_handler(bk_host* host, int reentry, int end, int argc, char** argv);
