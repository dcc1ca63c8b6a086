// The two states of an instance, kept in HOME/dbs/SID/state and changed under flock,
// so that parallel processes see one consistent answer.
#pragma once

#include <functional>
#include <string_view>

#include "vdb/home.h"

namespace vdb {

enum class Service { stopped, running };
enum class Instance { down, started, mounted, open };

struct State {
    Service service = Service::stopped;
    Instance instance = Instance::down;
};

std::string_view name_of(Service service);
std::string_view name_of(Instance instance);

State read_state(const Location& loc);

// Reads the state, lets change alter it, and writes it back, all under one
// exclusive lock. change may throw; the state then stays as it was.
State update_state(const Location& loc, const std::function<void(State&)>& change);

// Creates the state file of a new instance.
void write_initial_state(const Location& loc, State state);

}  // namespace vdb
