#include "vdb/state.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/file.h>

#include "vdb/errors.h"
#include "vdb/locked_file.h"

namespace vdb {

namespace {

constexpr std::string_view service_names[] = {"stopped", "running"};
constexpr std::string_view instance_names[] = {"down", "started", "mounted", "open"};

// An instance that is down has no start time: whoever takes it down need not
// remember to clear it.
std::string format(State state) {
    std::string text = "service = " + std::string(name_of(state.service)) +
                       "\ninstance = " + std::string(name_of(state.instance)) + "\n";
    if (state.instance != Instance::down && state.started > 0)
        text += "started = " + std::to_string(static_cast<long long>(state.started)) + "\n";
    return text;
}

std::time_t parse_time(const std::string& value) {
    errno = 0;
    char* end = nullptr;
    long long seconds = std::strtoll(value.c_str(), &end, 10);
    if (errno != 0 || end == value.c_str() || *end != 0 || seconds <= 0) return 0;
    return static_cast<std::time_t>(seconds);
}

State parse(const std::string& text) {
    State state;
    for (const auto& [name, value] : parse_parameters(text)) {
        if (name == "service") {
            state.service = value == "running" ? Service::running : Service::stopped;
        } else if (name == "instance") {
            for (size_t i = 0; i < std::size(instance_names); ++i)
                if (value == instance_names[i]) state.instance = static_cast<Instance>(i);
        } else if (name == "started") {
            state.started = parse_time(value);
        }
    }
    if (state.instance == Instance::down) state.started = 0;
    return state;
}

// The state file, open and locked; an instance without one is not known.
class StateFile : public LockedFile {
public:
    StateFile(const Location& loc, int lock, int flags) : LockedFile(loc.state_file(), lock, flags, 0644) {
        if (!is_open()) fail(code::unknown_sid, loc.sid + " (" + std::strerror(open_error()) + ")");
    }
};

}  // namespace

std::string_view name_of(Service service) { return service_names[static_cast<int>(service)]; }
std::string_view name_of(Instance instance) { return instance_names[static_cast<int>(instance)]; }

std::string started_text(const State& state) {
    if (state.instance == Instance::down || state.started <= 0) return "";
    return local_time_text(state.started);
}

State read_state(const Location& loc) {
    StateFile file(loc, LOCK_SH, O_RDONLY);
    return parse(file.read_all());
}

State update_state(const Location& loc, const std::function<void(State&)>& change) {
    StateFile file(loc, LOCK_EX, O_RDWR);
    State state = parse(file.read_all());
    change(state);
    file.replace(format(state));
    return state;
}

void write_initial_state(const Location& loc, State state) {
    StateFile file(loc, LOCK_EX, O_RDWR | O_CREAT);
    file.replace(format(state));
}

}  // namespace vdb
