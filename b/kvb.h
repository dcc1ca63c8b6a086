// The backup tool.
#pragma once

#include "g/kvg.h"
#include "o/kvo.h"

struct kvb_page {
    int step;  // KVBKUINSTANCE of the submitted page
};

// The tool makes three of these and keeps nothing in them but the history's first word.
struct kvb_work_record {
    int32_t words[16];
};

struct kvb_state {
    kvg_context* context;
    kvg_var* variables;
    kvg_credentials* credentials;
    kvg_server* server;
    kvo_sql_error* error;
    kvb_page* page;
    kvb_work_record* log_files;
    kvb_work_record* devices;
    kvb_work_record* history;
};

int kvb_handler(bk_host* host, int reentry, int end, int argc, char** argv);
// 1 when the server and the browser can take a server-push stream.
int kvb_push_capable();
// The end of the page: the page bottom for a page of step 1 only.
void kvb_page_end(kvb_state* state);
