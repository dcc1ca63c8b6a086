#include "vdb/throttle.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <set>

#include "vdb/errors.h"
#include "vdb/event_log.h"
#include "vdb/locked_file.h"

namespace vdb {
namespace {

constexpr long record_keeps = 60 * 60;  // seconds of history, at least
// A user name or address longer than this is cut in the record and the logs:
// a request must not make the record large.
constexpr size_t longest_name = 128;

struct Refusal {
    std::time_t time;
    std::string user, address;  // as the record writes them
};

// Bytes that would break the record's line or its fields become %XX.
std::string record_field(std::string_view text) {
    static constexpr char digits[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : text.substr(0, longest_name)) {
        if (c <= ' ' || c == 0x7f || c == '%') {
            out += '%';
            out += digits[c >> 4];
            out += digits[c & 15];
        } else {
            out += static_cast<char>(c);
        }
    }
    return out.empty() ? "%00" : out;
}

// Calls each(time, user, address) for every whole line of the record, in
// order, without copying: a connect reads the record every time.
template <typename Each>
void for_each_refusal(std::string_view text, Each each) {
    while (!text.empty()) {
        size_t end = text.find('\n');
        if (end == std::string_view::npos) break;  // a line still being written
        std::string_view line = text.substr(0, end);
        text.remove_prefix(end + 1);
        size_t first = line.find(' '), second = line.find(' ', first + 1);
        if (first == 0 || first == std::string_view::npos || second == std::string_view::npos) continue;
        long long time = 0;
        auto [stop, error] = std::from_chars(line.data(), line.data() + first, time);
        if (error != std::errc() || stop != line.data() + first) continue;
        each(static_cast<std::time_t>(time), line.substr(first + 1, second - first - 1), line.substr(second + 1));
    }
}

std::vector<Refusal> parse_record(const std::string& text) {
    std::vector<Refusal> refusals;
    for_each_refusal(text, [&](std::time_t time, std::string_view user, std::string_view address) {
        refusals.push_back({time, std::string(user), std::string(address)});
    });
    return refusals;
}

std::string record_line(const Refusal& refusal) {
    return std::to_string(static_cast<long long>(refusal.time)) + " " + refusal.user + " " + refusal.address + "\n";
}

std::string read_record(const Location& loc) {
    LockedFile file(loc.logon_record_file(), LOCK_SH, O_RDONLY | O_NOFOLLOW);
    if (!file.is_open() || file.size() == 0) return {};
    return file.read_all();
}

long positive_parameter(const std::vector<Parameter>& parameters, std::string_view name, long fallback) {
    auto values = parameter_values(parameters, name);
    if (values.empty()) return fallback;
    char* stop = nullptr;
    long value = std::strtol(values.back().c_str(), &stop, 10);
    return values.back().empty() || *stop || value < 1 ? fallback : value;
}

// The seconds a group of refusals (of one pair, or of one address) still bars
// its logons at now.
long group_wait(const std::vector<std::time_t>& times, long limit, long window, std::time_t now) {
    long counted = 0;
    std::time_t last = 0;
    for (std::time_t t : times) {
        if (now - t >= window) continue;
        ++counted;
        last = std::max(last, t);
    }
    if (counted < limit) return 0;
    long delay = std::max(1L, window / limit);
    for (long beyond = limit; beyond < counted && delay < longest_logon_delay; ++beyond) delay *= 2;
    delay = std::min(delay, longest_logon_delay);
    return std::clamp(static_cast<long>(last + delay - now), 0L, longest_logon_delay);
}

// True the first time this process asks for what; a forked child starts afresh.
bool first_in_process(const std::string& what) {
    static pid_t owner = 0;
    static std::set<std::string> seen;
    if (owner != getpid()) {
        owner = getpid();
        seen.clear();
    }
    return seen.insert(what).second;
}

std::string process_key(const char* kind, const Location& loc, std::string_view user, std::string_view address) {
    return std::string(kind) + "\n" + loc.logon_record_file() + "\n" + std::string(user) + "\n" + std::string(address);
}

// Into the server's error log and the instance's event log: who and from
// where, never the password.
void report_refusal(const Location& loc, std::string_view user, std::string_view address, const std::string& why) {
    std::string text = "refused logon of " + record_field(user) + " from " + record_field(address) + " to " +
                       loc.sid + ": " + why;
    std::fprintf(stderr, "vdb: %s\n", text.c_str());
    log_event(loc, text);
}

}  // namespace

LogonLimits logon_limits(const Location& loc) {
    LogonLimits limits;
    std::vector<Parameter> parameters;
    try {
        parameters = parse_parameters(read_file(loc.parameter_file()));
    } catch (const Error&) {
        return limits;  // an unreadable file is the instance's to report at startup
    }
    limits.pair = positive_parameter(parameters, "logon_limit", limits.pair);
    limits.address = positive_parameter(parameters, "logon_address_limit", limits.address);
    limits.window = positive_parameter(parameters, "logon_window", limits.window);
    return limits;
}

std::string client_address() {
    const char* remote = std::getenv("REMOTE_ADDR");
    return remote && *remote ? remote : "local";
}

long logon_wait(const Location& loc, std::string_view user, std::string_view address, std::time_t now) {
    std::string user_field = record_field(user), address_field = record_field(address);
    std::vector<std::time_t> of_pair, of_address;
    for_each_refusal(read_record(loc), [&](std::time_t time, std::string_view by, std::string_view from) {
        if (from != address_field) return;
        of_address.push_back(time);
        if (by == user_field) of_pair.push_back(time);
    });
    // The common case reads no parameter file: nothing was refused from here.
    if (of_address.empty()) return 0;
    LogonLimits limits = logon_limits(loc);
    return std::max(group_wait(of_pair, limits.pair, limits.window, now),
                    group_wait(of_address, limits.address, limits.window, now));
}

void record_refused_logon(const Location& loc, std::string_view user, std::string_view address, std::time_t now) {
    if (!first_in_process(process_key("counted", loc, user, address))) return;
    LockedFile file(loc.logon_record_file(), LOCK_EX, O_RDWR | O_CREAT | O_NOFOLLOW);
    if (!file.is_open()) {
        std::fprintf(stderr, "vdb: cannot write the logon record %s: %s\n", loc.logon_record_file().c_str(),
                     std::strerror(file.open_error()));
        return;
    }
    Refusal refusal{now, record_field(user), record_field(address)};
    std::vector<Refusal> refusals = parse_record(file.read_all());
    const long keep = std::max(record_keeps, logon_limits(loc).window);
    if (refusals.empty() || now - refusals.front().time <= keep) {
        file.append(record_line(refusal));
        return;
    }
    // The oldest lines have served: the record is written anew without them.
    std::string kept;
    for (const Refusal& r : refusals)
        if (now - r.time <= keep) kept += record_line(r);
    file.replace(kept + record_line(refusal));
}

std::vector<UserRefusals> refused_logons_per_user(const Location& loc, std::time_t now) {
    std::map<std::string, long> counts;
    for_each_refusal(read_record(loc), [&](std::time_t time, std::string_view user, std::string_view) {
        if (now - time < record_keeps) ++counts[std::string(user)];
    });
    std::vector<UserRefusals> out;
    for (const auto& [user, count] : counts) out.push_back({user, count});
    std::stable_sort(out.begin(), out.end(), [](const auto& a, const auto& b) { return a.count > b.count; });
    return out;
}

void create_logon_record(const Location& loc) {
    int fd = open(loc.logon_record_file().c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd >= 0) close(fd);
}

void check_logon_allowed(const Location& loc, std::string_view user) {
    if (user.empty()) return;
    std::string address = client_address();
    long wait = logon_wait(loc, user, address, std::time(nullptr));
    if (wait == 0) return;
    if (first_in_process(process_key("barred", loc, user, address)))
        report_refusal(loc, user, address, "too many refused logons, " + std::to_string(wait) + " seconds left");
    fail(code::logons_throttled, "wait " + std::to_string(wait) + " seconds");
}

void refuse_logon(const Location& loc, std::string_view user) {
    if (!user.empty()) {
        std::string address = client_address();
        if (first_in_process(process_key("reported", loc, user, address)))
            report_refusal(loc, user, address, "wrong user name or password");
        record_refused_logon(loc, user, address, std::time(nullptr));
    }
    fail(code::bad_logon);
}

}  // namespace vdb
