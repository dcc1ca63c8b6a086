// Session Manager: who is connected, what each session does, and ending a
// session cleanly.
#pragma once

#include <string>
#include <vector>

#include "g/kvg.h"
#include "o/kvo.h"

namespace kvs_text {
constexpr int NOT_DBA = 7002;
constexpr int THIS_PAGE = 7011;
constexpr int REFRESH = 7012;
constexpr int END_SESSIONS = 7013;
constexpr int CANCEL = 7014;
constexpr int ENDED = 7016;
}  // namespace kvs_text

struct kvs_session {
    std::string id;  // "number,serial"
    std::string user;
    std::string program;
    std::string client;
    std::string process;
    std::string logon_time;
    std::string status;
    std::string action;
    std::string seconds;
    bool own = false;    // the session of this request
    bool ended = false;  // marked ended, its process not yet gone
};

struct kvs_request {
    bool may_see = false;
    bool confirming = false;
    std::vector<kvs_session> sessions;
    std::vector<std::string> chosen;  // the checked sessions, "number,serial"
    kvg_outcome outcome;
};

struct kvs_state {
    kvg_context* context;
    kvg_var* variables;
    kvg_credentials* credentials;
    kvg_server* server;
    kvo_sql_error* error;
    int step;  // KVSSTEP of the submitted page
    kvs_request* request;
};

int kvs_handler(bk_host* host, int reentry, int end, int argc, char** argv);

// ---- pages (s/kvsui) -------------------------------------------------------------

void kvs_write_body(kvs_state* state);
