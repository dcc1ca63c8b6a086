// The instance's event log, HOME/dbs/SID/events.log: one line for each thing that
// happened to the instance (service, instance state, space and user changes, ended
// sessions, refused logons), each beginning with the server's local time.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "vdb/home.h"

namespace vdb {

// Appends "YYYY-MM-DD HH:MM:SS text" as one line. Line breaks and control bytes in
// text become blanks, so one event is always one line. The log records; it never
// decides: a log that cannot be written is reported on standard error and the
// event goes on.
void log_event(const Location& loc, std::string_view text);

// The last count lines of the log, oldest first (none when there is no log).
std::vector<std::string> event_log_tail(const Location& loc, std::size_t count);

// Creates the empty log of a new instance.
void create_event_log(const Location& loc);

}  // namespace vdb
