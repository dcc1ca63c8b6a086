// The two states of an instance, kept in HOME/dbs/SID/state and changed under flock,
// so that parallel processes see one consistent answer.
#pragma once

#include <ctime>
#include <functional>
#include <string>
#include <string_view>

#include "vdb/home.h"

namespace vdb {

enum class Service { stopped, running };
enum class Instance { down, started, mounted, open };

struct State {
    Service service = Service::stopped;
    Instance instance = Instance::down;
    std::time_t started = 0;  // when the instance left down; 0 while it is down
};

std::string_view name_of(Service service);
std::string_view name_of(Instance instance);

// When the instance was started, in the server's local time
// ("YYYY-MM-DD HH:MM:SS"); empty while it is down, or when a state file of an
// older engine does not say.
std::string started_text(const State& state);

State read_state(const Location& loc);

// Reads the state, lets change alter it, and writes it back, all under one
// exclusive lock. change may throw; the state then stays as it was.
State update_state(const Location& loc, const std::function<void(State&)>& change);

// Creates the state file of a new instance.
void write_initial_state(const Location& loc, State state);

}  // namespace vdb
