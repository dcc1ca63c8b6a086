// Checking who logs on: the password against the dictionary, then the account.
#pragma once

#include <string>
#include <string_view>

#include "vdb/home.h"

struct sqlite3;

namespace vdb {

struct Credentials {
    std::string schema;  // the user's own, or the one a login such as INTERNAL stands for
    bool dba = false;
};

// The user (folded to upper case) and password against the dictionary of db:
// -1017 when either is wrong, -3101 when both are right but the account is
// locked. A wrong password is refused the same way whether the account is
// locked or not, so a refusal never tells a guesser more than "wrong". The
// logon throttle of loc comes first (-3103) and counts each refusal.
Credentials check_credentials(const Location& loc, sqlite3* db, std::string_view user, std::string_view password);

// The same check against the instance's own dictionary in any state of the
// instance and its service, changing and starting nothing: the one check that
// may come before a stopped service is started. Also -1031 unless the user is
// INTERNAL or holds the DBA role, and -12154 for an unknown instance.
void check_administrator_offline(const Location& loc, std::string_view user, std::string_view password);

}  // namespace vdb
