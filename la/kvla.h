// The login launcher.
#pragma once

#include <string>

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
// Starts the operating-system service of the instance: 1 when it runs, 0 otherwise.
int kvla_start_service(const char* sid);
// A cookie value that the tools' decoder gives back unchanged and that cannot
// end the cookie or the header line.
std::string kvla_cookie_value(const char* text);
// The page after the headers: banner, the verdict of the login (check and
// role from kvo_check_dba), tool bar.
void kvla_write_page(kvla_state* state, int check, const char* role);
// The page of a login that was not taken: why, and the way back to the
// login page.
void kvla_write_refusal(kvla_state* state, int refusal);
