// Creating an instance and moving it between its states.
//
// The service is stopped or running; the instance is down, started (parameters
// read), mounted (control files found) or open. Starting a stopped service opens
// the instance when its parameter file says autostart = true. A shutdown of any
// mode leaves the service running and the instance down.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "vdb/home.h"
#include "vdb/state.h"

struct sqlite3;

namespace vdb {

// Makes HOME/dbs/initSID.vpf (unless present), the instance database with its
// dictionary, the SYSTEM and USERS tablespaces and the users SYS, SYSTEM and the
// login INTERNAL, all with password. The instance ends open, its service running.
void create_instance(const Location& loc, std::string_view password);

// The data file path of a new instance's tablespace: HOME/dbs/sid_name01.dbf.
std::string default_data_file(const Location& loc, std::string_view tablespace);

// False when the service was running already (nothing is changed then).
bool start_service(const Location& loc);
void stop_service(const Location& loc);

// Down, started or mounted to open, reading the parameter file when down.
void start_instance(const Location& loc);
// Any state to down.
void stop_instance(const Location& loc);

// Down to started with the parameters of text (force: from any state).
void startup(const Location& loc, sqlite3* db, std::string_view parameter_text, bool force);
void mount(const Location& loc, sqlite3* db);
void open_database(const Location& loc);
// Modes: normal (0) is refused while sessions other than own_session (0: none)
// are connected; immediate (1) ends them first; abort (64) goes down at once,
// and of a down instance is no error. Each is written to the event log.
void shutdown(const Location& loc, int mode, int own_session = 0);

// The service control of the launcher: starts the service "VantorService<SID>"
// of the instance in home. 1 when it runs afterwards, 0 otherwise.
int start_named_service(const std::string& home, std::string_view service_name);
// The same for stopping it: 1 when it is stopped afterwards.
int stop_named_service(const std::string& home, std::string_view service_name);

// The instance of home that the service "VantorService<SID>" runs, when the
// name has that form.
std::optional<Location> service_location(const std::string& home, std::string_view service_name);

constexpr std::string_view service_prefix = "VantorService";
constexpr int shutdown_normal = 0;
constexpr int shutdown_immediate = 1;
constexpr int shutdown_abort = 64;

// "normal", "immediate" or "abort" as a mode; -1 for any other text.
int shutdown_mode(std::string_view name);

}  // namespace vdb
