#include "vdb/errors.h"

#include <array>
#include <utility>

namespace vdb {

namespace {

constexpr std::array texts{
    CodeText{code::unique_violated, "unique constraint violated"},
    CodeText{code::tablespace_offline, "the tablespace is offline; its data cannot be read or written"},
    CodeText{code::tablespace_read_only, "the tablespace is read only; its data cannot be changed"},
    CodeText{code::invalid_sql, "invalid SQL statement"},
    CodeText{code::invalid_identifier, "invalid identifier"},
    CodeText{code::missing_expression, "the statement is incomplete or malformed"},
    CodeText{code::table_missing, "table or view does not exist"},
    CodeText{code::name_in_use, "the name is already used by an existing object"},
    CodeText{code::tablespace_missing, "tablespace does not exist"},
    CodeText{code::variables_unbound, "the number of bound values does not match the statement"},
    CodeText{code::fetch_out_of_sequence, "fetch out of sequence: the cursor is not open"},
    CodeText{code::not_logged_on, "not logged on"},
    CodeText{code::bad_logon, "invalid user name or password; logon refused"},
    CodeText{code::no_privilege, "insufficient privileges"},
    CodeText{code::instance_starting,
             "the instance is started but the database is not open; only an administrator may "
             "log on"},
    CodeText{code::instance_down, "the instance is not available: it is shut down"},
    CodeText{code::parameter_error, "the instance parameters could not be processed"},
    CodeText{code::instance_started, "the instance is already started; shut it down first"},
    CodeText{code::database_mounted, "the database is already mounted"},
    CodeText{code::datafile_error, "the data file could not be created"},
    CodeText{code::null_into_not_null, "a NULL value was given for a NOT NULL column"},
    CodeText{code::too_many_rows, "the query returned more than one row"},
    CodeText{code::integer_overflow, "the value does not fit into the integer variable"},
    CodeText{code::database_not_mounted, "the database is not mounted"},
    CodeText{code::database_open, "the database is already open"},
    CodeText{code::system_tablespace, "the SYSTEM tablespace cannot be taken offline or dropped"},
    CodeText{code::tablespace_exists, "the tablespace already exists"},
    CodeText{code::tablespace_not_empty,
             "the tablespace is not empty; use INCLUDING CONTENTS to drop its objects"},
    CodeText{code::cannot_extend, "no space left in the tablespace and its data files cannot grow"},
    CodeText{code::invalid_number, "invalid number"},
    CodeText{code::user_missing, "the user does not exist"},
    CodeText{code::role_missing, "the role does not exist"},
    CodeText{code::user_exists, "the user name is already in use"},
    CodeText{code::control_file_missing, "a control file cannot be found"},
    CodeText{code::resource_busy, "the instance is busy with another session; try again"},
    CodeText{code::io_failure, "the instance files could not be read or written"},
    CodeText{code::not_connected, "not connected: the instance was shut down"},
    CodeText{code::logons_throttled, "too many refused logons"},
    CodeText{code::unknown_sid, "the instance identifier is not known in this home"},
    CodeText{code::service_stopped, "the service of the instance is not running"},
    CodeText{code::not_supported, "this statement is not supported"},
    CodeText{code::instance_corrupt, "the instance files are damaged"},
    CodeText{code::account_locked, "the account is locked"},
    CodeText{code::cascade_needed, "the user owns objects: drop it with CASCADE"},
    CodeText{code::session_ended, "the session was ended by an administrator"},
    CodeText{code::sessions_connected, "other sessions are connected; a normal shutdown waits for none"},
    CodeText{code::session_missing, "there is no such session"},
};

}  // namespace

Error::Error(int code, std::string message) : code_(code), message_(std::move(message)) {
    if (message_.size() > max_message) message_.resize(max_message);
}

std::span<const CodeText> all_codes() { return texts; }

std::string_view message_of(int code) {
    for (const auto& entry : texts)
        if (entry.code == code) return entry.text;
    return "unexpected error";
}

void fail(int code, std::string_view detail) {
    std::string text(message_of(code));
    if (!detail.empty()) {
        text += ": ";
        text += detail;
    }
    throw Error(code, std::move(text));
}

}  // namespace vdb
