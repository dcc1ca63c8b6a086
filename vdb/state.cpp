#include "vdb/state.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/file.h>
#include <unistd.h>

#include "vdb/errors.h"

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

// The open state file, locked for the life of this object.
class LockedFile {
public:
    LockedFile(const Location& loc, int lock, int flags) {
        fd_ = open(loc.state_file().c_str(), flags | O_CLOEXEC, 0644);
        if (fd_ < 0) fail(code::unknown_sid, loc.sid + " (" + std::strerror(errno) + ")");
        while (flock(fd_, lock) != 0)
            if (errno != EINTR) fail(code::io_failure, loc.state_file() + ": " + std::strerror(errno));
    }
    ~LockedFile() { close(fd_); }
    LockedFile(const LockedFile&) = delete;
    LockedFile& operator=(const LockedFile&) = delete;

    std::string read_all() const {
        std::string text;
        char buffer[256];
        ssize_t n;
        off_t offset = 0;
        while ((n = pread(fd_, buffer, sizeof buffer, offset)) > 0) {
            text.append(buffer, static_cast<size_t>(n));
            offset += n;
        }
        return text;
    }

    void replace(const std::string& text) const {
        if (ftruncate(fd_, 0) != 0 ||
            pwrite(fd_, text.data(), text.size(), 0) != static_cast<ssize_t>(text.size()))
            fail(code::io_failure, std::string("state file: ") + std::strerror(errno));
    }

private:
    int fd_ = -1;
};

}  // namespace

std::string_view name_of(Service service) { return service_names[static_cast<int>(service)]; }
std::string_view name_of(Instance instance) { return instance_names[static_cast<int>(instance)]; }

std::string started_text(const State& state) {
    if (state.instance == Instance::down || state.started <= 0) return "";
    return local_time_text(state.started);
}

State read_state(const Location& loc) {
    LockedFile file(loc, LOCK_SH, O_RDONLY);
    return parse(file.read_all());
}

State update_state(const Location& loc, const std::function<void(State&)>& change) {
    LockedFile file(loc, LOCK_EX, O_RDWR);
    State state = parse(file.read_all());
    change(state);
    file.replace(format(state));
    return state;
}

void write_initial_state(const Location& loc, State state) {
    LockedFile file(loc, LOCK_EX, O_RDWR | O_CREAT);
    file.replace(format(state));
}

}  // namespace vdb
