// Where an instance lives inside its home, and the instance parameter file.
//
//   HOME/dbs/initSID.vpf      parameters ("name = value" lines, "#" comments)
//   HOME/dbs/SID/instance.db  dictionary and table data
//   HOME/dbs/SID/state        service and instance state
//   HOME/dbs/SID/events.log   what happened to the instance, one line each
//   HOME/dbs/SID/logons       the refused logons of the last hour
//   HOME/dbs/SID/sessions     the connected sessions (sessions.h)
//   HOME/export/              export files of the utilities
#pragma once

#include <ctime>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace vdb {

struct Location {
    std::string home;
    std::string sid;

    std::string dbs_dir() const { return home + "/dbs"; }
    std::string parameter_file() const { return dbs_dir() + "/init" + sid + ".vpf"; }
    std::string instance_dir() const { return dbs_dir() + "/" + sid; }
    std::string database_file() const { return instance_dir() + "/instance.db"; }
    std::string state_file() const { return instance_dir() + "/state"; }
    std::string event_log_file() const { return instance_dir() + "/events.log"; }
    std::string logon_record_file() const { return instance_dir() + "/logons"; }
    std::string export_dir() const { return home + "/export"; }
};

// VANTOR_HOME and VANTOR_SID of the process environment (empty when unset).
Location location_from_environment();

// A SID is a letter followed by letters and digits, at most 16 characters: it
// becomes part of file names and of the service name.
bool valid_sid(std::string_view sid);

// Fails with -12154 unless the instance of loc has been created.
void require_instance(const Location& loc);

// One parameter of a parameter file; a list value "(a, b)" gives one entry per item.
using Parameter = std::pair<std::string, std::string>;

// Parses parameter text: names fold to lower case, "#" starts a comment, values may
// be quoted. Fails with -1078 naming the line that is not "name = value".
std::vector<Parameter> parse_parameters(std::string_view text);

// The values of name in parameters, in order.
std::vector<std::string> parameter_values(const std::vector<Parameter>& parameters,
                                          std::string_view name);

std::string read_file(const std::string& path);
// Writes the whole text to a new file next to path and renames it over path.
void write_file_atomically(const std::string& path, std::string_view text);

std::string upper(std::string_view text);
std::string trim(std::string_view text);

// A time as the server's pages and logs show it: local time, "YYYY-MM-DD HH:MM:SS".
std::string local_time_text(std::time_t when);

}  // namespace vdb
