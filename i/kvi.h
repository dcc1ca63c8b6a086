// The import tool.
#pragma once

#include "g/kvg.h"
#include "o/kvo.h"

struct kvi_options {
    int32_t page_counter;  // KVIINSTANCE; 0 on a first request
};

struct kvi_request {
    kvg_var* variables;
    kvg_server* server;
    kvg_credentials* credentials;
    kvo_sql_error* error;
    kvg_context* context;
    kvi_options* options;
};

int kvi_handler(bk_host* host, int reentry, int end, int argc, char** argv);
