// Security Manager: the instance's users, their passwords, accounts, default
// tablespaces and roles, new users and dropped ones.
#pragma once

#include <string>
#include <vector>

#include "g/kvg.h"
#include "o/kvo.h"

// Catalogue numbers: the buttons are known by their texts.
namespace kvu_text {
constexpr int NOT_DBA = 8002;
constexpr int CREATE_USER = 8009;
constexpr int APPLY = 8014;
constexpr int DROP_USER = 8015;
constexpr int BACK = 8016;
constexpr int CREATE = 8017;
constexpr int CANCEL = 8018;
}  // namespace kvu_text

// The roles a user page offers, in their order.
inline const char* const KVU_ROLES[] = {"CONNECT", "RESOURCE", "DBA"};

struct kvu_user {
    std::string name;  // as the dictionary holds it
    std::string account;
    std::string tablespace;
    std::string created;
    std::vector<std::string> roles;
    int tables = 0;
    int refused_logons = 0;
};

enum class kvu_page { none, users, user, create, confirm_drop };

// What the handler keeps for one request. Its texts and lists are made in
// the handler's record, so the record is built in place.
struct kvu_request {
    kvu_page page = kvu_page::none;
    std::string selected;  // KVUUSER: the user of the user page, as stored
    std::vector<kvu_user> users;
    std::vector<std::string> tablespaces;
    std::vector<std::string> tables_of_selected;  // for the drop confirmation
    kvg_outcome outcome;
};

struct kvu_state {
    kvg_context* context;
    kvg_var* variables;
    kvg_credentials* credentials;
    kvg_server* server;
    kvo_sql_error* error;
    int step;  // KVUSTEP of the submitted page
    kvu_request* request;
};

int kvu_handler(bk_host* host, int reentry, int end, int argc, char** argv);

// ---- actions and the database (u/kvumn) ---------------------------------------

// The user of that name among the users read, or none.
kvu_user* kvu_find_user(kvu_state* state, const std::string& name);

// ---- pages (u/kvuui) -------------------------------------------------------------

void kvu_write_body(kvu_state* state);
