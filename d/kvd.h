// Database Control: the instance's status, its start and stop in every mode,
// its parameters and its event log.
#pragma once

#include <string>

#include "g/kvg.h"
#include "o/kvo.h"
#include "platform/dbcall.h"

// What the request's login may do here.
enum class kvd_access {
    refused,  // credentials the instance refused (or could not check): the error block
    not_dba,  // a user the instance knows, without the DBA role: the status only
    dba,      // INTERNAL or the DBA role: every action
};

struct kvd_state {
    kvg_context* context;
    kvg_var* variables;
    kvg_credentials* credentials;
    kvg_server* server;
    kvo_sql_error* error;
    dbc_instance_status* status;
    int step;                // KVDSTEP of the submitted page
    kvd_access access;
    const char* todo;        // the button's catalogue text, or none
    bool confirming;         // the page asks to confirm todo
    kvg_outcome outcome;
};

// Catalogue numbers: the buttons are known by their texts.
namespace kvd_text {
constexpr int NOT_DBA = 3002;
constexpr int START_SERVICE = 3016;
constexpr int STOP_SERVICE = 3017;
constexpr int START_UP = 3018;
constexpr int OPEN = 3019;
constexpr int SHUT_DOWN = 3020;
constexpr int CANCEL = 3025;
}  // namespace kvd_text

int kvd_handler(bk_host* host, int reentry, int end, int argc, char** argv);

// ---- actions (d/kvdmn) ----------------------------------------------------------

// Carries out todo, or decides that it needs a confirmation first.
void kvd_act(kvd_state* state);

// ---- pages (d/kvdui) ------------------------------------------------------------

// The catalogue word of an instance state (DBC_INSTANCE_...).
const char* kvd_instance_word(kvd_state* state, int instance);
// The body: the outcome, then the confirmation page or the status page.
void kvd_write_body(kvd_state* state);
