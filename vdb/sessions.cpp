#include "vdb/sessions.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sqlite3.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "vdb/errors.h"
#include "vdb/event_log.h"

namespace vdb {

namespace {

// One session as it lies in the store. Texts are zero-terminated and cut to
// their field. The serial of a slot survives its session, so that a number
// reused by a new session gets a new serial.
struct Slot {
    uint32_t in_use;
    uint32_t serial;
    int32_t pid;
    uint8_t active;
    uint8_t ended;
    uint8_t signal;  // the process stops cleanly on SIGTERM
    uint8_t unused;
    uint64_t pid_start;  // field 22 of /proc/PID/stat
    int64_t logon_time;
    int64_t status_since;
    char user[64];
    char program[64];
    char client[64];
    char action[256];
    char reserved[24];
};
static_assert(sizeof(Slot) == 512);

volatile std::sig_atomic_t stop_signalled = 0;
bool stops_cleanly = false;

void on_termination(int) { stop_signalled = 1; }

std::string store_path(const Location& loc) { return loc.instance_dir() + "/sessions"; }

int open_store(const Location& loc, int flags) {
    return open(store_path(loc).c_str(), flags | O_CLOEXEC | O_NOFOLLOW, 0600);
}

template <size_t N>
void copy_field(char (&field)[N], std::string_view text) {
    size_t length = std::min(text.size(), N - 1);
    std::memcpy(field, text.data(), length);
    std::memset(field + length, 0, N - length);
}

template <size_t N>
std::string field_text(const char (&field)[N]) {
    return std::string(field, strnlen(field, N));
}

// Field wanted (counted from 1, the pid) of a process's stat line, 0 when
// there is no such process.
uint64_t stat_field(pid_t pid, int wanted) {
    char path[64];
    std::snprintf(path, sizeof path, "/proc/%d/stat", static_cast<int>(pid));
    int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return 0;
    char text[1024];
    ssize_t n = read(fd, text, sizeof text - 1);
    close(fd);
    if (n <= 0) return 0;
    text[n] = 0;
    // The program name in parentheses may hold blanks: fields count from its end.
    const char* p = std::strrchr(text, ')');
    if (!p) return 0;
    for (int field = 2; field < wanted && p; ++field) p = std::strchr(p + 1, ' ');
    return p ? std::strtoull(p + 1, nullptr, 10) : 0;
}

// The start time of a process in clock ticks since boot, 0 when there is none.
uint64_t process_start(pid_t pid) { return stat_field(pid, 22); }
pid_t process_parent(pid_t pid) { return static_cast<pid_t>(stat_field(pid, 4)); }

// Asked again in a child after fork: the cache is the parent's.
uint64_t own_start() {
    static pid_t cached_pid = 0;
    static uint64_t start = 0;
    if (cached_pid != getpid()) {
        cached_pid = getpid();
        start = process_start(cached_pid);
    }
    return start;
}

bool process_alive(const Slot& slot) {
    if (slot.pid == getpid()) return slot.pid_start == own_start();
    uint64_t start = process_start(slot.pid);
    return start != 0 && start == slot.pid_start;
}

std::string own_program() {
    char path[4096];
    ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0) return "";
    std::string exe(path, static_cast<size_t>(n));
    // A program replaced while it runs reads as "NAME (deleted)".
    if (exe.ends_with(" (deleted)")) exe.resize(exe.size() - 10);
    return exe.substr(exe.rfind('/') + 1);
}

// The store of one instance, locked for the life of this object.
class LockedStore {
public:
    explicit LockedStore(int fd) : fd_(fd) {
        while (flock(fd_, LOCK_EX) != 0)
            if (errno != EINTR) fail(code::io_failure, std::string("session store: ") + std::strerror(errno));
    }
    ~LockedStore() { flock(fd_, LOCK_UN); }
    LockedStore(const LockedStore&) = delete;
    LockedStore& operator=(const LockedStore&) = delete;

    std::vector<Slot> read_all() const {
        struct stat st {};
        std::vector<Slot> slots;
        if (fstat(fd_, &st) != 0) return slots;
        slots.resize(static_cast<size_t>(st.st_size) / sizeof(Slot));
        ssize_t want = static_cast<ssize_t>(slots.size() * sizeof(Slot));
        if (want && pread(fd_, slots.data(), static_cast<size_t>(want), 0) != want) slots.clear();
        return slots;
    }

    bool read(size_t index, Slot& slot) const {
        return pread(fd_, &slot, sizeof slot, static_cast<off_t>(index * sizeof slot)) == sizeof slot;
    }

    void write(size_t index, const Slot& slot) const {
        if (pwrite(fd_, &slot, sizeof slot, static_cast<off_t>(index * sizeof slot)) != sizeof slot)
            fail(code::io_failure, std::string("session store: ") + std::strerror(errno));
    }

    // Frees the slots of processes that are gone; true when one was freed.
    bool clear_dead(std::vector<Slot>& slots) const {
        bool cleared = false;
        for (size_t i = 0; i < slots.size(); ++i) {
            if (!slots[i].in_use || process_alive(slots[i])) continue;
            slots[i].in_use = 0;
            write(i, slots[i]);
            cleared = true;
        }
        return cleared;
    }

private:
    int fd_;
};

size_t free_slot(const std::vector<Slot>& slots) {
    for (size_t i = 0; i < slots.size(); ++i)
        if (!slots[i].in_use) return i;
    return slots.size();
}

SessionInfo info_of(const Slot& slot, size_t index) {
    return SessionInfo{static_cast<int>(index + 1), slot.serial, field_text(slot.user), field_text(slot.program),
                       field_text(slot.client), slot.pid, slot.logon_time, slot.active != 0,
                       field_text(slot.action), slot.status_since, slot.ended != 0};
}

// Marks slot index ended (its lock held) and says so in the event log.
void mark_ended(const Location& loc, const LockedStore& store, size_t index, Slot& slot) {
    slot.ended = 1;
    store.write(index, slot);
    log_event(loc, "session " + std::to_string(index + 1) + "," + std::to_string(slot.serial) + " of " +
                       field_text(slot.user) + " (" + field_text(slot.program) + ", process " +
                       std::to_string(slot.pid) + ") ended by an administrator");
}

// Marks every session not yet ended that wanted(index, slot) picks, and adds
// it to ended (the store's lock held).
template <class Pick>
void mark_ended_where(const Location& loc, const LockedStore& store, std::vector<Slot>& slots, Pick wanted,
                      std::vector<Slot>& ended) {
    for (size_t i = 0; i < slots.size(); ++i) {
        if (!slots[i].in_use || slots[i].ended || !wanted(i, slots[i])) continue;
        mark_ended(loc, store, i, slots[i]);
        ended.push_back(slots[i]);
    }
}

// After the lock is given up: a process blocked in a write ends too.
void signal_ended(const Slot& slot) {
    if (slot.signal && slot.pid != getpid()) kill(slot.pid, SIGTERM);
}

class FileCloser {
public:
    explicit FileCloser(int fd) : fd_(fd) {}
    ~FileCloser() {
        if (fd_ >= 0) close(fd_);
    }
    FileCloser(const FileCloser&) = delete;
    FileCloser& operator=(const FileCloser&) = delete;

private:
    int fd_;
};

}  // namespace

std::string local_time(int64_t seconds) {
    std::time_t t = static_cast<std::time_t>(seconds);
    std::tm parts{};
    localtime_r(&t, &parts);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &parts);
    return text;
}

// ---- one session of this process ------------------------------------------------

std::unique_ptr<SessionSlot> SessionSlot::enter(const Location& loc, std::string_view user) {
    int fd = open_store(loc, O_RDWR | O_CREAT);
    if (fd < 0) {
        std::fprintf(stderr, "vdb: cannot register the session in %s: %s\n", store_path(loc).c_str(),
                     std::strerror(errno));
        return nullptr;
    }
    try {
        LockedStore store(fd);
        auto slots = store.read_all();
        size_t index = free_slot(slots);
        if (index == slots.size() && store.clear_dead(slots)) index = free_slot(slots);
        Slot slot{};
        slot.serial = index < slots.size() ? slots[index].serial + 1 : 1;
        slot.in_use = 1;
        slot.pid = getpid();
        slot.pid_start = own_start();
        slot.signal = stops_cleanly;
        slot.logon_time = slot.status_since = std::time(nullptr);
        copy_field(slot.user, user);
        copy_field(slot.program, own_program());
        const char* client = std::getenv("REMOTE_ADDR");
        copy_field(slot.client, client ? client : "");
        store.write(index, slot);
        return std::unique_ptr<SessionSlot>(new SessionSlot(fd, static_cast<int>(index + 1), slot.serial));
    } catch (const Error& error) {
        close(fd);
        std::fprintf(stderr, "vdb: cannot register the session: %s\n", error.what());
        return nullptr;
    }
}

SessionSlot::~SessionSlot() {
    try {
        LockedStore store(fd_);
        Slot slot{};
        if (store.read(static_cast<size_t>(number_ - 1), slot) && slot.in_use && slot.serial == serial_ &&
            slot.pid == getpid()) {
            slot.in_use = 0;
            store.write(static_cast<size_t>(number_ - 1), slot);
        }
    } catch (const Error&) {
        // Left behind, the slot is cleared as the slot of a process that is gone.
    }
    close(fd_);
}

void SessionSlot::set_status(bool active, std::string_view action) {
    LockedStore store(fd_);
    Slot slot{};
    size_t index = static_cast<size_t>(number_ - 1);
    if (!store.read(index, slot) || !slot.in_use || slot.serial != serial_) return;
    if ((slot.active != 0) != active) slot.status_since = std::time(nullptr);
    slot.active = active;
    copy_field(slot.action, action);
    store.write(index, slot);
}

bool SessionSlot::ended() const {
    Slot slot{};
    if (pread(fd_, &slot, sizeof slot, static_cast<off_t>((number_ - 1) * sizeof slot)) != sizeof slot) return false;
    return slot.serial == serial_ && slot.ended;
}

// ---- the store as a whole ----------------------------------------------------------

std::vector<SessionInfo> list_sessions(const Location& loc) {
    int fd = open_store(loc, O_RDWR);
    if (fd < 0) return {};
    FileCloser closer(fd);
    std::vector<SessionInfo> out;
    {
        LockedStore store(fd);
        auto slots = store.read_all();
        store.clear_dead(slots);
        for (size_t i = 0; i < slots.size(); ++i)
            if (slots[i].in_use) out.push_back(info_of(slots[i], i));
    }
    std::stable_sort(out.begin(), out.end(),
                     [](const SessionInfo& a, const SessionInfo& b) { return a.logon_time < b.logon_time; });
    return out;
}

void end_session(const Location& loc, int number, uint32_t serial) {
    std::string id = std::to_string(number) + "," + std::to_string(serial);
    int fd = open_store(loc, O_RDWR);
    if (fd < 0) fail(code::session_missing, id);
    FileCloser closer(fd);
    std::vector<Slot> ended;
    {
        LockedStore store(fd);
        auto slots = store.read_all();
        size_t index = static_cast<size_t>(number - 1);
        if (number < 1 || index >= slots.size() || !slots[index].in_use || slots[index].serial != serial ||
            !process_alive(slots[index]))
            fail(code::session_missing, id);
        // A tool waits for the utility it runs: the utility's session ends with the tool's.
        const pid_t process = slots[index].pid;
        mark_ended_where(
            loc, store, slots,
            [&](size_t i, const Slot& s) { return i == index || (process_parent(s.pid) == process && process_alive(s)); },
            ended);
    }
    for (const auto& s : ended) signal_ended(s);
}

int end_other_sessions(const Location& loc, int except) {
    int fd = open_store(loc, O_RDWR);
    if (fd < 0) return 0;
    FileCloser closer(fd);
    std::vector<Slot> ended;
    {
        LockedStore store(fd);
        auto slots = store.read_all();
        store.clear_dead(slots);
        mark_ended_where(loc, store, slots, [&](size_t i, const Slot&) { return static_cast<int>(i + 1) != except; }, ended);
    }
    for (const auto& slot : ended) signal_ended(slot);
    return static_cast<int>(ended.size());
}

std::pair<int, uint32_t> parse_session_id(std::string_view text) {
    std::string id = trim(text);
    unsigned long number = 0, serial = 0;
    int used = 0;
    if (std::sscanf(id.c_str(), "%lu,%lu%n", &number, &serial, &used) != 2 || used != static_cast<int>(id.size()) ||
        !std::isdigit(static_cast<unsigned char>(id[0])) || number < 1 || number > 1000000 || serial > UINT32_MAX)
        fail(code::session_missing, "give the session as \"number,serial\", not \"" + id + "\"");
    return {static_cast<int>(number), static_cast<uint32_t>(serial)};
}

void create_session_store(const Location& loc) {
    int fd = open_store(loc, O_RDWR | O_CREAT);
    if (fd < 0) fail(code::io_failure, store_path(loc) + ": " + std::strerror(errno));
    close(fd);
}

// ---- clean stop ---------------------------------------------------------------------

void stop_cleanly_on_termination() {
    struct sigaction action {};
    action.sa_handler = on_termination;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;  // no SA_RESTART: a blocked write returns EINTR
    sigaction(SIGTERM, &action, nullptr);
    stops_cleanly = true;
}

bool stop_requested() { return stop_signalled != 0; }

bool ends_the_run(int error) {
    return error == code::session_ended || error == code::instance_down || error == code::instance_starting ||
           error == code::not_connected || error == code::service_stopped;
}

// ---- SYS.V$SESSION --------------------------------------------------------------------
//
// An eponymous virtual table named as the dictionary names its views, read
// from the store at each scan. Its columns:
//   SID           session number       SERIAL#       serial of the number
//   USERNAME      schema of the session
//   STATUS        ACTIVE while a statement or utility works, else INACTIVE
//   PROGRAM       connecting program   MACHINE       client address (REMOTE_ADDR)
//   PROCESS       OS process id        LOGON_TIME    YYYY-MM-DD HH:MM:SS, local time
//   ACTION        what it does now     LAST_CALL_ET  seconds in its status
//   ENDED         YES once an administrator ended it, else NO

namespace {

constexpr const char* session_view_name = "SYS.V$SESSION";

struct SessionTable {
    sqlite3_vtab base{};
    const Location* loc;
};

struct SessionCursor {
    sqlite3_vtab_cursor base{};
    std::vector<SessionInfo> rows;
    size_t at = 0;
    int64_t now = 0;
};

int view_connect(sqlite3* db, void* aux, int, const char* const*, sqlite3_vtab** out, char**) {
    int rc = sqlite3_declare_vtab(db,
                                  "CREATE TABLE x(SID INTEGER, \"SERIAL#\" INTEGER, USERNAME TEXT, STATUS TEXT, "
                                  "PROGRAM TEXT, MACHINE TEXT, PROCESS TEXT, LOGON_TIME TEXT, ACTION TEXT, "
                                  "LAST_CALL_ET INTEGER, ENDED TEXT)");
    if (rc != SQLITE_OK) return rc;
    auto* table = new SessionTable;
    table->loc = static_cast<const Location*>(aux);
    *out = &table->base;
    return SQLITE_OK;
}

int view_disconnect(sqlite3_vtab* base) {
    delete reinterpret_cast<SessionTable*>(base);
    return SQLITE_OK;
}

int view_best_index(sqlite3_vtab*, sqlite3_index_info* info) {
    info->estimatedCost = 100;
    info->estimatedRows = 20;
    return SQLITE_OK;
}

int view_open(sqlite3_vtab*, sqlite3_vtab_cursor** out) {
    *out = &(new SessionCursor)->base;
    return SQLITE_OK;
}

int view_close(sqlite3_vtab_cursor* base) {
    delete reinterpret_cast<SessionCursor*>(base);
    return SQLITE_OK;
}

int view_filter(sqlite3_vtab_cursor* base, int, const char*, int, sqlite3_value**) {
    auto* cursor = reinterpret_cast<SessionCursor*>(base);
    try {
        cursor->rows = list_sessions(*reinterpret_cast<SessionTable*>(base->pVtab)->loc);
    } catch (const Error& error) {
        base->pVtab->zErrMsg = sqlite3_mprintf("%s", error.what());
        return SQLITE_ERROR;
    }
    cursor->at = 0;
    cursor->now = std::time(nullptr);
    return SQLITE_OK;
}

int view_next(sqlite3_vtab_cursor* base) {
    ++reinterpret_cast<SessionCursor*>(base)->at;
    return SQLITE_OK;
}

int view_eof(sqlite3_vtab_cursor* base) {
    auto* cursor = reinterpret_cast<SessionCursor*>(base);
    return cursor->at >= cursor->rows.size();
}

void result_text(sqlite3_context* context, const std::string& text) {
    sqlite3_result_text(context, text.c_str(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
}

int view_column(sqlite3_vtab_cursor* base, sqlite3_context* context, int column) {
    auto* cursor = reinterpret_cast<SessionCursor*>(base);
    const SessionInfo& s = cursor->rows[cursor->at];
    switch (column) {
    case 0: sqlite3_result_int64(context, s.number); break;
    case 1: sqlite3_result_int64(context, s.serial); break;
    case 2: result_text(context, s.user); break;
    case 3: result_text(context, s.active ? "ACTIVE" : "INACTIVE"); break;
    case 4: result_text(context, s.program); break;
    case 5: result_text(context, s.client); break;
    case 6: result_text(context, std::to_string(s.process)); break;
    case 7: result_text(context, local_time(s.logon_time)); break;
    case 8: result_text(context, s.action); break;
    case 9: sqlite3_result_int64(context, std::max<int64_t>(0, cursor->now - s.status_since)); break;
    default: result_text(context, s.ended ? "YES" : "NO"); break;
    }
    return SQLITE_OK;
}

int view_rowid(sqlite3_vtab_cursor* base, sqlite3_int64* out) {
    *out = static_cast<sqlite3_int64>(reinterpret_cast<SessionCursor*>(base)->at);
    return SQLITE_OK;
}

const sqlite3_module session_view = [] {
    sqlite3_module m{};
    m.iVersion = 1;
    m.xCreate = nullptr;  // eponymous only: no CREATE VIRTUAL TABLE makes another
    m.xConnect = view_connect;
    m.xBestIndex = view_best_index;
    m.xDisconnect = view_disconnect;
    m.xDestroy = view_disconnect;
    m.xOpen = view_open;
    m.xClose = view_close;
    m.xFilter = view_filter;
    m.xNext = view_next;
    m.xEof = view_eof;
    m.xColumn = view_column;
    m.xRowid = view_rowid;
    return m;
}();

}  // namespace

void register_session_view(sqlite3* db, const Location& loc) {
    auto* copy = new Location(loc);
    sqlite3_create_module_v2(db, session_view_name, &session_view, copy,
                             [](void* p) { delete static_cast<Location*>(p); });
}

}  // namespace vdb
