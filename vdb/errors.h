// Error codes of the instance engine and the one exception type that carries them.
//
// Every failure the engine reports is a negative code and a message text of at most
// 511 bytes. The codes are the ones the tools interpret (-1017, -1034, ...) plus the
// engine's own; the texts are ours.
#pragma once

#include <exception>
#include <span>
#include <string>
#include <string_view>

namespace vdb {

namespace code {
constexpr int unique_violated = -1;
constexpr int tablespace_offline = -376;
constexpr int tablespace_read_only = -372;
constexpr int invalid_sql = -900;
constexpr int invalid_identifier = -904;
constexpr int missing_expression = -936;
constexpr int table_missing = -942;
constexpr int name_in_use = -955;
constexpr int tablespace_missing = -959;
constexpr int variables_unbound = -1008;
constexpr int fetch_out_of_sequence = -1002;
constexpr int not_logged_on = -1012;
constexpr int bad_logon = -1017;
constexpr int no_privilege = -1031;
constexpr int instance_starting = -1033;
constexpr int instance_down = -1034;
constexpr int parameter_error = -1078;
constexpr int instance_started = -1081;
constexpr int database_mounted = -1100;
constexpr int datafile_error = -1119;
constexpr int null_into_not_null = -1400;
constexpr int too_many_rows = -1422;
constexpr int integer_overflow = -1455;
constexpr int database_not_mounted = -1507;
constexpr int database_open = -1531;
constexpr int system_tablespace = -1541;
constexpr int tablespace_exists = -1543;
constexpr int tablespace_not_empty = -1549;
constexpr int cannot_extend = -1653;
constexpr int invalid_number = -1722;
constexpr int user_missing = -1918;
constexpr int role_missing = -1919;
constexpr int user_exists = -1920;
constexpr int control_file_missing = -205;
constexpr int resource_busy = -54;
constexpr int io_failure = -1114;
constexpr int not_connected = -3114;
constexpr int logons_throttled = -3103;
constexpr int unknown_sid = -12154;
constexpr int service_stopped = -12560;
constexpr int not_supported = -3001;
constexpr int instance_corrupt = -600;
constexpr int account_locked = -3101;
constexpr int cascade_needed = -3102;
constexpr int session_ended = -3100;
constexpr int sessions_connected = -3110;
constexpr int session_missing = -3111;
}  // namespace code

// The longest message text a caller ever receives.
constexpr size_t max_message = 511;

class Error : public std::exception {
public:
    Error(int code, std::string message);
    int code() const { return code_; }
    const char* what() const noexcept override { return message_.c_str(); }

private:
    int code_;
    std::string message_;
};

// The general text of a code, without details ("insufficient privileges").
std::string_view message_of(int code);

// Every code the engine gives, with its general text, in no particular order.
struct CodeText {
    int code;
    std::string_view text;
};
std::span<const CodeText> all_codes();

// Throws the error of code, its general text followed by the detail when one is given.
[[noreturn]] void fail(int code, std::string_view detail = {});

}  // namespace vdb
