#include "vdb/instance.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <functional>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include "vdb/catalog.h"
#include "vdb/db.h"
#include "vdb/event_log.h"
#include "vdb/throttle.h"
#include "vdb/errors.h"
#include "vdb/password.h"
#include "vdb/session.h"
#include "vdb/sessions.h"
#include "vdb/space.h"

namespace vdb {

namespace {

void make_dir(const std::string& path) {
    if (mkdir(path.c_str(), 0755) != 0 && errno != EEXIST)
        fail(code::io_failure, path + ": " + std::strerror(errno));
}

std::string lower(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

std::string service_name(const Location& loc) { return std::string(service_prefix) + loc.sid; }

std::string control_file(const Location& loc, int n) {
    return loc.instance_dir() + "/control0" + std::to_string(n) + ".ctl";
}

std::string log_file(const Location& loc, int n) { return loc.instance_dir() + "/redo0" + std::to_string(n) + ".log"; }

std::string default_parameter_text(const Location& loc) {
    return "# Parameters of the instance " + loc.sid + "\n"
           "db_name = " + loc.sid + "\n"
           "control_files = (" + control_file(loc, 1) + ", " + control_file(loc, 2) + ")\n"
           "db_block_size = 8192\n"
           "# Open the instance when its service starts.\n"
           "autostart = true\n";
}

struct ShutdownMode {
    std::string_view name;
    int mode;
};
constexpr ShutdownMode shutdown_modes[] = {
    {"normal", shutdown_normal}, {"immediate", shutdown_immediate}, {"abort", shutdown_abort}};

void refuse_with_other_sessions(const Location& loc, int own_session) {
    auto sessions = list_sessions(loc);
    auto others = std::count_if(sessions.begin(), sessions.end(),
                                [&](const SessionInfo& s) { return s.number != own_session; });
    if (others > 0)
        fail(code::sessions_connected, std::to_string(others) + (others == 1 ? " other session" : " other sessions"));
}

void write_small_file(const std::string& path, int64_t bytes) {
    create_data_file(DataFileRequest{path, bytes, false, 0, 0, true});
}

void store_parameters(sqlite3* db, const std::vector<Parameter>& parameters) {
    Stmt clear(db, "DELETE FROM vdb_parameters");
    clear.run();
    Stmt insert(db, "INSERT INTO vdb_parameters VALUES (?, ?)");
    for (const auto& [name, value] : parameters) {
        insert.bind(1, name).bind(2, value);
        insert.run();
        insert.reset();
    }
}

void in_transaction(sqlite3* db, const std::function<void()>& work) {
    Stmt(db, "BEGIN IMMEDIATE").run();
    try {
        work();
        Stmt(db, "COMMIT").run();
    } catch (...) {
        sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
        throw;
    }
}

void bootstrap_dictionary(const Location& loc, std::string_view password) {
    Db db(loc.database_file(), true);
    db.exec("PRAGMA journal_mode=WAL");
    in_transaction(db.handle(), [&] {
        create_dictionary(db.handle());
        DataFileRequest system{default_data_file(loc, "system"), 64 * 1024 * 1024, true, 8 * 1024 * 1024, unlimited_size,
                            false};
        check_data_file(system);
        Stmt(db.handle(), "INSERT INTO vdb_tablespaces(name, status, contents) VALUES ('SYSTEM', 'ONLINE', 'PERMANENT')").run();
        add_data_file_record(db.handle(), "SYSTEM", system);
        // The dictionary itself takes room in SYSTEM, as it would on a server.
        Stmt(db.handle(), "INSERT INTO vdb_segments(owner, name, kind, tablespace, bytes, definition) "
                          "VALUES ('SYS', 'DICTIONARY', 'CLUSTER', 'SYSTEM', 6291456, '')")
            .run();
        Stmt user(db.handle(), "INSERT INTO vdb_users(name, password, default_tablespace, alias_of, created) "
                               "VALUES (?, ?, 'SYSTEM', ?, datetime('now'))");
        for (const char* name : {"SYS", "INTERNAL"}) {
            user.bind(1, std::string_view(name)).bind(2, hash_password(password));
            if (std::string_view(name) == "INTERNAL") user.bind(3, std::string_view("SYS"));
            user.run();
            user.reset();
        }
        Stmt(db.handle(), "INSERT INTO vdb_role_grants VALUES ('SYS', 'DBA')").run();
        Stmt log(db.handle(), "INSERT INTO vdb_logfiles VALUES (?, ?)");
        for (int n = 1; n <= 2; ++n) {
            log.bind(1, int64_t{n}).bind(2, log_file(loc, n));
            log.run();
            log.reset();
        }
        store_parameters(db.handle(), parse_parameters(read_file(loc.parameter_file())));
        create_data_file(system);
    });
}

}  // namespace

std::string default_data_file(const Location& loc, std::string_view tablespace) {
    return loc.dbs_dir() + "/" + lower(loc.sid) + "_" + std::string(tablespace) + "01.dbf";
}

void create_instance(const Location& loc, std::string_view password) {
    if (!valid_sid(loc.sid)) fail(code::unknown_sid, "\"" + loc.sid + "\" is not a valid SID");
    if (loc.home.empty() || loc.home.front() != '/') fail(code::io_failure, "the home must be an absolute path");
    struct stat st {};
    if (stat(loc.database_file().c_str(), &st) == 0) fail(code::name_in_use, "the instance " + loc.sid + " exists");
    for (const auto& dir : {loc.home, loc.dbs_dir(), loc.instance_dir(), loc.export_dir()}) make_dir(dir);
    if (stat(loc.parameter_file().c_str(), &st) != 0) write_file_atomically(loc.parameter_file(), default_parameter_text(loc));
    for (int n = 1; n <= 2; ++n) {
        write_small_file(control_file(loc, n), 16 * 1024);
        write_small_file(log_file(loc, n), 1024 * 1024);
    }
    write_initial_state(loc, State{Service::running, Instance::open, std::time(nullptr)});
    create_event_log(loc);
    create_logon_record(loc);
    create_session_store(loc);
    bootstrap_dictionary(loc, password);

    auto sys = Session::connect(loc, "SYS", password);
    sys->execute("CREATE TABLESPACE USERS DATAFILE '" + default_data_file(loc, "users") +
                 "' SIZE 16M AUTOEXTEND ON NEXT 4M MAXSIZE UNLIMITED");
    sys->execute("CREATE USER SYSTEM IDENTIFIED BY VALUES '" + hash_password(password) + "' DEFAULT TABLESPACE SYSTEM");
    sys->execute("GRANT DBA TO SYSTEM");
}

bool start_service(const Location& loc) {
    require_instance(loc);
    bool started = false;
    update_state(loc, [&](State& state) {
        started = state.service == Service::stopped;
        state.service = Service::running;
    });
    if (!started) return false;
    log_event(loc, "service " + service_name(loc) + " started");
    auto autostart = parameter_values(parse_parameters(read_file(loc.parameter_file())), "autostart");
    if (!autostart.empty() && lower(autostart.back()) == "true") start_instance(loc);
    return true;
}

void stop_service(const Location& loc) {
    require_instance(loc);
    bool was_running = false;
    update_state(loc, [&](State& state) {
        was_running = state.service == Service::running;
        state.service = Service::stopped;
        state.instance = Instance::down;
    });
    if (was_running) log_event(loc, "service " + service_name(loc) + " stopped");
}

void startup(const Location& loc, sqlite3* db, std::string_view parameter_text, bool force) {
    auto parameters = parse_parameters(parameter_text);
    auto names = parameter_values(parameters, "db_name");
    if (!names.empty() && upper(names.back()) != upper(loc.sid))
        fail(code::parameter_error, "db_name " + names.back() + " does not name the instance " + loc.sid);
    update_state(loc, [&](State& state) {
        if (state.service != Service::running) fail(code::service_stopped, loc.sid);
        if (state.instance != Instance::down && !force) fail(code::instance_started);
        in_transaction(db, [&] { store_parameters(db, parameters); });
        state.instance = Instance::started;
        state.started = std::time(nullptr);
    });
    log_event(loc, "instance " + loc.sid + " started");
}

void mount(const Location& loc, sqlite3* db) {
    update_state(loc, [&](State& state) {
        if (state.instance == Instance::down) fail(code::instance_down);
        if (state.instance != Instance::started) fail(code::database_mounted);
        Stmt files(db, "SELECT value FROM vdb_parameters WHERE name = 'control_files'");
        while (files.step()) {
            struct stat st {};
            if (stat(files.text(0).c_str(), &st) != 0) fail(code::control_file_missing, files.text(0));
        }
        state.instance = Instance::mounted;
    });
    log_event(loc, "database " + loc.sid + " mounted");
}

void open_database(const Location& loc) {
    update_state(loc, [&](State& state) {
        if (state.instance == Instance::down) fail(code::instance_down);
        if (state.instance == Instance::started) fail(code::database_not_mounted);
        if (state.instance == Instance::open) fail(code::database_open);
        state.instance = Instance::open;
    });
    log_event(loc, "database " + loc.sid + " opened");
}

int shutdown_mode(std::string_view name) {
    for (size_t i = 0; i < std::size(shutdown_modes); ++i)
        if (name == shutdown_modes[i].name) return shutdown_modes[i].mode;
    return -1;
}

void shutdown(const Location& loc, int mode, int own_session) {
    auto known = std::find_if(std::begin(shutdown_modes), std::end(shutdown_modes),
                              [&](const ShutdownMode& m) { return m.mode == mode; });
    if (known == std::end(shutdown_modes)) fail(code::not_supported, "shutdown mode " + std::to_string(mode));
    std::string ended;
    update_state(loc, [&](State& state) {
        if (state.instance == Instance::down && mode != shutdown_abort) fail(code::instance_down);
        if (mode == shutdown_normal) refuse_with_other_sessions(loc, own_session);
        if (mode == shutdown_immediate) ended = ", " + std::to_string(end_other_sessions(loc, own_session)) + " sessions ended";
        state.instance = Instance::down;
    });
    log_event(loc, "instance " + loc.sid + " shut down (" + std::string(known->name) + ended + ")");
}

void start_instance(const Location& loc) {
    require_instance(loc);
    State state = read_state(loc);
    if (state.service != Service::running) fail(code::service_stopped, loc.sid);
    if (state.instance == Instance::open) return;
    Db db(loc.database_file(), false);
    if (state.instance == Instance::down) startup(loc, db.handle(), read_file(loc.parameter_file()), false);
    if (read_state(loc).instance == Instance::started) mount(loc, db.handle());
    open_database(loc);
}

void stop_instance(const Location& loc) {
    require_instance(loc);
    shutdown(loc, shutdown_abort);
}

std::optional<Location> service_location(const std::string& home, std::string_view service_name) {
    if (service_name.substr(0, service_prefix.size()) != service_prefix) return std::nullopt;
    return Location{home, std::string(service_name.substr(service_prefix.size()))};
}

namespace {

// Runs change on the instance of the service named, then asks whether its
// service is in the state wanted. 0 when the name names no instance.
template <typename Change>
int control_named_service(const std::string& home, std::string_view service_name, Service wanted, Change change) {
    auto named = service_location(home, service_name);
    if (!named) return 0;
    const Location& loc = *named;
    try {
        change(loc);
    } catch (const Error&) {
        // The service may run even though the instance did not open; the state says.
    }
    try {
        return read_state(loc).service == wanted ? 1 : 0;
    } catch (const Error&) {
        return 0;
    }
}

}  // namespace

int start_named_service(const std::string& home, std::string_view service_name) {
    return control_named_service(home, service_name, Service::running, [](const Location& loc) { start_service(loc); });
}

int stop_named_service(const std::string& home, std::string_view service_name) {
    return control_named_service(home, service_name, Service::stopped, [](const Location& loc) { stop_service(loc); });
}

}  // namespace vdb
