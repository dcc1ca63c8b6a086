// What the export and import utilities share: their parameters and their report.
//
// Parameters come from PARFILE=path and from KEY=VALUE arguments. A parameter
// file has the user name and password joined by a slash on its first line, then
// KEY=VALUE lines; a list "KEY=(" continues over lines up to the item that ends
// with ")". Keys fold to upper case. A comma or parenthesis inside a quoted
// name ("a,b") belongs to the name.
#pragma once

#include <cstdio>
#include <initializer_list>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "vdb/home.h"
#include "vdb/sqltext.h"

namespace vdb {

class Session;

// Bad parameters: the message says which and why.
struct ParameterError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

class UtilityParameters {
public:
    // Reads the command line of a utility; keys outside known are refused.
    UtilityParameters(int argc, char** argv, std::initializer_list<std::string_view> known);

    const std::string& user() const { return user_; }
    const std::string& password() const { return password_; }

    bool has(std::string_view key) const;
    std::string value(std::string_view key, std::string_view fallback) const;
    std::vector<std::string> list(std::string_view key) const;
    // Y, YES, N or NO; anything else is refused.
    bool flag(std::string_view key, bool fallback) const;
    // A whole number of at least 1.
    long number(std::string_view key, long fallback) const;
    // One of choices (compared in upper case), or fallback.
    std::string choice(std::string_view key, std::initializer_list<std::string_view> choices,
                       std::string_view fallback) const;

private:
    void read_file(const std::string& path);
    void add_line(const std::string& line, const std::string& where);
    void add(std::string key, std::string value, const std::string& where);

    std::string user_, password_;
    std::vector<std::pair<std::string, std::vector<std::string>>> entries_;
    std::string open_list_;  // the key of a list still waiting for its ")"
    std::vector<std::string_view> known_;
};

// Progress lines: each is written to standard error at once, so that a page that
// copies the utility's output shows it live, and to the log file when one is given.
// Lines written before the log file is opened go into it when it is.
class Report {
public:
    // quiet: to the log file only (for a utility run inside another program).
    explicit Report(bool quiet = false) : quiet_(quiet) {}
    ~Report();
    Report(const Report&) = delete;
    Report& operator=(const Report&) = delete;

    void open_log(const std::string& path);
    // There will be no log file: lines are no longer kept for it.
    void without_log();
    void line(const std::string& text);
    void warning(const std::string& text);
    int warnings() const { return warnings_; }

private:
    bool quiet_;
    std::FILE* log_ = nullptr;
    std::string before_log_;
    bool log_decided_ = false;
    int warnings_ = 0;
};

// The names of a list parameter: bare names fold to upper case, "quoted" stay
// as written. An item that is no name is refused.
std::string list_name(std::string_view item);
// A table of a list: OWNER.NAME, or NAME with no owner.
QualifiedName list_table(std::string_view item);

// The home of a utility: VANTOR_HOME, else the folder above the program's own.
Location utility_location();

// The exit status of a utility: 0 done, 1 nothing done, 2 done with warnings.
int finish(Report& report, std::string_view what);

using UtilityBody = int (*)(const UtilityParameters& parameters, Session& session, Report& report);

// Reads the parameters (keys outside known are refused), logs on, and only then
// opens the LOG file and runs body: a refused logon writes no file. A parameter
// or engine error becomes a report line and exit 1.
int run_utility(std::string_view program, int argc, char** argv, std::initializer_list<std::string_view> known,
                UtilityBody body);

}  // namespace vdb
