#include "vdb/utility.h"

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

#include "vdb/errors.h"
#include "vdb/sqltext.h"
#include "vdb/session.h"
#include "vdb/sessions.h"

namespace vdb {

namespace {

// Where c stands in text outside double quotes, from start; a doubled quote
// inside a quoted name opens nothing.
size_t find_unquoted(std::string_view text, char c, size_t start) {
    bool quoted = false;
    for (size_t i = start; i < text.size(); ++i) {
        if (text[i] == '"') quoted = !quoted;
        else if (text[i] == c && !quoted) return i;
    }
    return std::string_view::npos;
}

// The items of a list text: a comma inside a quoted name splits nothing.
std::vector<std::string> split_items(std::string_view text) {
    std::vector<std::string> items;
    size_t start = 0;
    while (start <= text.size()) {
        size_t comma = find_unquoted(text, ',', start);
        if (comma == std::string_view::npos) comma = text.size();
        std::string item = trim(text.substr(start, comma - start));
        if (!item.empty()) items.push_back(item);
        start = comma + 1;
    }
    return items;
}

// Whether the list text ends with its closing ")", which is then taken off.
bool take_list_end(std::string& text) {
    if (text.empty() || text.back() != ')' || find_unquoted(text, ')', 0) != text.size() - 1) return false;
    text.pop_back();
    return true;
}

void write_all(int fd, const std::string& text) {
    size_t done = 0;
    while (done < text.size()) {
        ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n <= 0) return;
        done += static_cast<size_t>(n);
    }
}

}  // namespace

UtilityParameters::UtilityParameters(int argc, char** argv, std::initializer_list<std::string_view> known)
    : known_(known) {
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        std::string where = "argument " + std::to_string(i);
        if (upper(arg.substr(0, 8)) == "PARFILE=") {
            read_file(arg.substr(8));
        } else if (arg.find('=') == std::string::npos && arg.find('/') != std::string::npos && user_.empty()) {
            add("USERID", arg, where);
        } else {
            add_line(arg, where);
        }
    }
    if (!open_list_.empty()) throw ParameterError("the list of " + open_list_ + " is not closed with \")\"");
    if (user_.empty()) throw ParameterError("no user name and password: give them on the first line of the parameter file");
}

void UtilityParameters::read_file(const std::string& path) {
    std::FILE* file = std::fopen(path.c_str(), "r");
    if (!file) throw ParameterError("cannot read the parameter file " + path + ": " + std::strerror(errno));
    char* line = nullptr;
    size_t capacity = 0;
    ssize_t length;
    int number = 0;
    bool first = true;
    while ((length = getline(&line, &capacity, file)) >= 0) {
        ++number;
        std::string text = trim(std::string_view(line, static_cast<size_t>(length)));
        if (text.empty() || text[0] == '#') continue;
        std::string where = path + " line " + std::to_string(number);
        try {
            if (first && text.find('=') == std::string::npos)
                add("USERID", text, where);
            else
                add_line(text, where);
        } catch (...) {
            std::free(line);
            std::fclose(file);
            throw;
        }
        first = false;
    }
    std::free(line);
    std::fclose(file);
}

void UtilityParameters::add_line(const std::string& line, const std::string& where) {
    if (!open_list_.empty()) {
        std::string item = line;
        if (take_list_end(item)) open_list_.clear();
        for (auto& value : split_items(item)) entries_.back().second.push_back(value);
        return;
    }
    size_t eq = line.find('=');
    if (eq == std::string::npos || eq == 0) throw ParameterError(where + ": \"" + line + "\" is not KEY=VALUE");
    add(upper(trim(line.substr(0, eq))), trim(line.substr(eq + 1)), where);
}

void UtilityParameters::add(std::string key, std::string value, const std::string& where) {
    if (std::find(known_.begin(), known_.end(), key) == known_.end())
        throw ParameterError(where + ": " + key + " is not a parameter of this utility");
    if (key == "USERID") {
        size_t slash = value.find('/');
        if (slash == std::string::npos || slash == 0)
            throw ParameterError(where + ": the login must be user/password");
        user_ = value.substr(0, slash);
        password_ = value.substr(slash + 1);
        return;
    }
    entries_.erase(std::remove_if(entries_.begin(), entries_.end(), [&](const auto& e) { return e.first == key; }),
                   entries_.end());
    std::vector<std::string> values;
    if (!value.empty() && value.front() == '(') {
        value.erase(0, 1);
        if (!take_list_end(value)) open_list_ = key;
        values = split_items(value);
    } else {
        values.push_back(value);
    }
    entries_.emplace_back(std::move(key), std::move(values));
}

bool UtilityParameters::has(std::string_view key) const {
    return std::any_of(entries_.begin(), entries_.end(), [&](const auto& e) { return e.first == key; });
}

std::vector<std::string> UtilityParameters::list(std::string_view key) const {
    for (const auto& [name, values] : entries_)
        if (name == key) return values;
    return {};
}

std::string UtilityParameters::value(std::string_view key, std::string_view fallback) const {
    auto values = list(key);
    if (!has(key)) return std::string(fallback);
    if (values.size() != 1) throw ParameterError(std::string(key) + " takes one value");
    return values.front();
}

bool UtilityParameters::flag(std::string_view key, bool fallback) const {
    if (!has(key)) return fallback;
    std::string v = upper(value(key, ""));
    if (v == "Y" || v == "YES") return true;
    if (v == "N" || v == "NO") return false;
    throw ParameterError(std::string(key) + " takes Y or N, not \"" + v + "\"");
}

long UtilityParameters::number(std::string_view key, long fallback) const {
    if (!has(key)) return fallback;
    std::string v = value(key, "");
    char* end = nullptr;
    long n = std::strtol(v.c_str(), &end, 10);
    if (v.empty() || *end || n < 1) throw ParameterError(std::string(key) + " takes a whole number above 0, not \"" + v + "\"");
    return n;
}

std::string UtilityParameters::choice(std::string_view key, std::initializer_list<std::string_view> choices,
                                      std::string_view fallback) const {
    if (!has(key)) return std::string(fallback);
    std::string v = upper(value(key, ""));
    if (std::find(choices.begin(), choices.end(), v) == choices.end())
        throw ParameterError(std::string(key) + " does not take the value \"" + v + "\"");
    return v;
}

Report::~Report() {
    if (log_) std::fclose(log_);
}

void Report::open_log(const std::string& path) {
    log_ = std::fopen(path.c_str(), "w");
    if (!log_) throw ParameterError("cannot write the log file " + path + ": " + std::strerror(errno));
    std::fputs(before_log_.c_str(), log_);
    std::fflush(log_);
    without_log();
}

void Report::without_log() {
    before_log_.clear();
    log_decided_ = true;
}

void Report::line(const std::string& text) {
    std::string out = text + "\n";
    if (!quiet_) write_all(2, out);
    if (log_) {
        std::fputs(out.c_str(), log_);
        std::fflush(log_);
    } else if (!log_decided_) {
        before_log_ += out;
    }
}

void Report::warning(const std::string& text) {
    ++warnings_;
    line(text);
}

std::string list_name(std::string_view item) {
    std::vector<std::string> names = read_name_text(item);
    if (names.size() != 1) throw ParameterError("\"" + std::string(item) + "\" is not a name (one that needs quotes is written \"between\" them)");
    return names.front();
}

QualifiedName list_table(std::string_view item) {
    std::vector<std::string> names = read_name_text(item);
    if (names.empty()) throw ParameterError("\"" + std::string(item) + "\" is not a table name (OWNER.NAME or NAME; one that needs quotes is written \"between\" them)");
    if (names.size() == 1) return {"", names.front()};
    return {names[0], names[1]};
}

Location utility_location() {
    Location loc = location_from_environment();
    if (loc.home.empty()) {
        char path[4096];
        ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
        if (n > 0) {
            std::string exe(path, static_cast<size_t>(n));
            std::string bin = exe.substr(0, exe.rfind('/'));
            loc.home = bin.substr(0, bin.rfind('/'));
        }
    }
    return loc;
}

int finish(Report& report, std::string_view what) {
    if (report.warnings() == 0) {
        report.line(std::string(what) + " terminated successfully.");
        return 0;
    }
    report.line(std::string(what) + " terminated with " + std::to_string(report.warnings()) + " warning(s).");
    return 2;
}

int run_utility(std::string_view program, int argc, char** argv, std::initializer_list<std::string_view> known,
                UtilityBody body) {
    // A reader that goes away must not kill a run half way: writes then fail instead.
    std::signal(SIGPIPE, SIG_IGN);
    // Ended by an administrator, a run stops at its next check instead of dying
    // half way: no partial export file, the table in progress rolled back.
    stop_cleanly_on_termination();
    Report report;
    try {
        UtilityParameters parameters(argc, argv, known);
        Location loc = utility_location();
        auto session = Session::connect(loc, parameters.user(), parameters.password());
        report.line("Connected to instance " + loc.sid + " as " + session->user() + ".");
        if (parameters.has("LOG"))
            report.open_log(parameters.value("LOG", ""));
        else
            report.without_log();
        return body(parameters, *session, report);
    } catch (const ParameterError& error) {
        report.line(std::string(program) + ": " + error.what());
        report.line(std::string(program) + ": nothing was done.");
    } catch (const Error& error) {
        report.line(std::string(program) + ": error " + std::to_string(error.code()) + ": " + error.what());
        if (error.code() == code::session_ended)
            report.line(std::string(program) + ": stopped: " + std::string(message_of(code::session_ended)) + ".");
        else
            report.line(std::string(program) + ": stopped.");
    }
    return 1;
}

}  // namespace vdb
