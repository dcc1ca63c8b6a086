// The sessions of an instance, HOME/dbs/SID/sessions: one fixed slot for each
// connected session, changed under flock.
//
// The store is a file of its own, not the instance database, so that a logon
// never waits on a long write to the instance. A slot whose process is gone (or
// whose process id now belongs to another process, told apart by its start
// time) is cleared whenever the store is read, so a killed program leaves no
// session behind.
//
// Ending a session marks its slot; the session's own process sees the mark at
// its next statement, and a utility every few thousand rows. A process that
// stops cleanly on SIGTERM (stop_cleanly_on_termination) is signalled too, so
// that one blocked in a write ends as well.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <vector>

#include "vdb/home.h"

struct sqlite3;

namespace vdb {

struct SessionInfo {
    int number = 0;
    uint32_t serial = 0;
    std::string user;
    std::string program;  // the connecting program's name
    std::string client;   // REMOTE_ADDR of a request, else empty
    pid_t process = 0;
    int64_t logon_time = 0;    // seconds since the epoch
    bool active = false;       // a statement or a utility is at work
    std::string action;        // what it does now
    int64_t status_since = 0;  // when it became active or inactive
    bool ended = false;        // ended by an administrator
};

// This process's registration of one session; the destructor removes it.
class SessionSlot {
public:
    // Registers a session of user. Nothing (and a message on standard error)
    // when the store cannot be written: the session works unlisted.
    static std::unique_ptr<SessionSlot> enter(const Location& loc, std::string_view user);
    ~SessionSlot();
    SessionSlot(const SessionSlot&) = delete;
    SessionSlot& operator=(const SessionSlot&) = delete;

    int number() const { return number_; }
    uint32_t serial() const { return serial_; }
    // A non-empty action keeps the session active until an empty one.
    void set_status(bool active, std::string_view action);
    // True once an administrator has ended the session.
    bool ended() const;

private:
    SessionSlot(int fd, int number, uint32_t serial) : fd_(fd), number_(number), serial_(serial) {}
    int fd_;
    int number_;
    uint32_t serial_;
    bool active_ = false;
};

// The sessions in order of logon, the slots of dead processes cleared first.
std::vector<SessionInfo> list_sessions(const Location& loc);

// Ends the session number,serial, and the sessions of the programs its
// process runs (a tool's utility); fails with -3111 when there is none.
void end_session(const Location& loc, int number, uint32_t serial);
// Ends every session but the one numbered except (0: none); returns how many.
int end_other_sessions(const Location& loc, int except);

// "n,serial" into its two numbers; fails with -3111 on anything else.
std::pair<int, uint32_t> parse_session_id(std::string_view text);

// Creates the empty store of a new instance.
void create_session_store(const Location& loc);

// Makes the dictionary view SYS.V$SESSION readable on a connection.
void register_session_view(sqlite3* db, const Location& loc);

// Installs a SIGTERM handler without SA_RESTART: a blocked write then returns
// EINTR, and stop_requested() says so. Sessions this process connects afterwards
// may be signalled when they are ended.
void stop_cleanly_on_termination();
bool stop_requested();

// seconds since the epoch as "YYYY-MM-DD HH:MM:SS" of the server's local time.
std::string local_time(int64_t seconds);

// Errors after which a utility cannot go on with another table.
bool ends_the_run(int code);

}  // namespace vdb
