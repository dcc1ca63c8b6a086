// The login launcher.
#pragma once

#include "g/kvg.h"
#include "o/kvo.h"

struct kvla_state {
    kvg_context* context;
    kvg_var* variables;
    kvg_server* server;
    kvg_credentials* credentials;
    kvo_sql_error* error;
};

int kvla_handler(bk_host* host, int reentry, int end, int argc, char** argv);
