// Slow guessing: the instance's record of refused logons, HOME/dbs/SID/logons.
//
// Only a refused password counts, and once per process for one user and client
// address, however often the process tries again. After logon_limit refusals
// within logon_window seconds for one (user, address) pair, that pair is refused
// without its password being tried; after logon_address_limit from one address,
// every user from it is. The refusal lasts from the last counted refusal for a
// delay of window / limit seconds (at least 1), doubled for each refusal beyond
// the limit, up to 15 minutes. The limits come from the instance's parameter
// file; without them they are 5, 20 and 900 seconds.
//
// The record is one line per refusal ("time user address", bytes that would
// break a line written as %XX), changed under flock, and keeps at least an hour.
#pragma once

#include <ctime>
#include <string>
#include <string_view>
#include <vector>

#include "vdb/home.h"

namespace vdb {

struct LogonLimits {
    long pair = 5;
    long address = 20;
    long window = 15 * 60;  // seconds
};

constexpr long longest_logon_delay = 15 * 60;

// The limits of the instance's parameter file; a missing or unusable value is the default.
LogonLimits logon_limits(const Location& loc);

// The client of this process: the web server's REMOTE_ADDR, else "local".
std::string client_address();

// The seconds the logon of user (folded) from address must still wait at now; 0 when it may try.
long logon_wait(const Location& loc, std::string_view user, std::string_view address, std::time_t now);

// Counts a refused password of user from address at now, unless this process counted it already.
void record_refused_logon(const Location& loc, std::string_view user, std::string_view address, std::time_t now);

// The refused logons of the last hour before now, per user, most first.
struct UserRefusals {
    std::string user;
    long count;
};
std::vector<UserRefusals> refused_logons_per_user(const Location& loc, std::time_t now);

// Creates the empty record of a new instance.
void create_logon_record(const Location& loc);

// The logon's two steps, for the user name as it logs on (folded). An empty
// name is no guess: the launcher probes the instance with it.
//
// Before the password is tried: fails with -3103 while the logon must wait.
void check_logon_allowed(const Location& loc, std::string_view user);
// After the password is refused: counts it and fails with -1017.
[[noreturn]] void refuse_logon(const Location& loc, std::string_view user);

}  // namespace vdb
