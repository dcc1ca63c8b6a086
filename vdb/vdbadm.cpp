// vdbadm: creates instances, moves them between states, and runs statements.
//
//   vdbadm [--home DIR] create SID [--demo] [--password PW]
//   vdbadm [--home DIR] start|stop|service-start|service-stop|status SID
//   vdbadm [--home DIR] stop SID normal|immediate|abort   (abort when not given)
//   vdbadm [--home DIR] sql SID USER/PASSWORD "statement"
//   vdbadm [--home DIR] sessions SID
//       one line a session, tab-separated: number,serial  user  ACTIVE|INACTIVE
//       program  client  process  logon time  seconds in status  action
//   vdbadm [--home DIR] kill SID number,serial
//
// The home is --home or VANTOR_HOME. Errors go to standard error with exit 1.
#include <algorithm>
#include <cstdio>
#include <ctime>
#include <cstdlib>
#include <string>
#include <unistd.h>
#include <vector>

#include "vdb/db.h"
#include "vdb/demo.h"
#include "vdb/instance.h"
#include "vdb/session.h"
#include "vdb/sessions.h"

namespace {

int usage() {
    std::fputs("usage: vdbadm [--home DIR] create SID [--demo] [--password PW]\n"
               "       vdbadm [--home DIR] start|stop|service-start|service-stop|status SID\n"
               "       vdbadm [--home DIR] stop SID normal|immediate|abort\n"
               "       vdbadm [--home DIR] sql SID USER/PASSWORD \"statement\"\n"
               "       vdbadm [--home DIR] sessions SID\n"
               "       vdbadm [--home DIR] kill SID number,serial\n",
               stderr);
    return 1;
}

void print_status(const vdb::Location& loc) {
    vdb::require_instance(loc);
    // An instance this engine cannot read is no working instance, whatever its state says.
    vdb::Db(loc.database_file(), false);
    vdb::State state = vdb::read_state(loc);
    std::printf("service %s\ninstance %s\n", std::string(vdb::name_of(state.service)).c_str(),
                std::string(vdb::name_of(state.instance)).c_str());
    if (std::string started = vdb::started_text(state); !started.empty()) std::printf("started %s\n", started.c_str());
}

void print_rows(vdb::Cursor& cursor) {
    vdb::Row row;
    std::string line;
    while (cursor.fetch(row)) {
        line.clear();
        for (size_t i = 0; i < row.size(); ++i) {
            if (i) line += '\t';
            line += row[i].to_text();
        }
        line += '\n';
        if (std::fwrite(line.data(), 1, line.size(), stdout) != line.size() && vdb::stop_requested())
            vdb::fail(vdb::code::session_ended);
    }
}

void print_sessions(const vdb::Location& loc) {
    vdb::require_instance(loc);
    int64_t now = std::time(nullptr);
    for (const auto& s : vdb::list_sessions(loc))
        std::printf("%d,%u\t%s\t%s\t%s\t%s\t%d\t%s\t%lld\t%s\n", s.number, s.serial, s.user.c_str(),
                    s.active ? "ACTIVE" : "INACTIVE", s.program.c_str(), s.client.c_str(), static_cast<int>(s.process),
                    vdb::local_time(s.logon_time).c_str(), static_cast<long long>(std::max<int64_t>(0, now - s.status_since)),
                    s.action.c_str());
}

int kill_session(const vdb::Location& loc, const std::string& id) {
    vdb::require_instance(loc);
    auto [number, serial] = vdb::parse_session_id(id);
    vdb::end_session(loc, number, serial);
    std::printf("session %d,%u ended\n", number, serial);
    return 0;
}

int stop(const vdb::Location& loc, const std::vector<std::string>& rest) {
    if (rest.size() > 1) return usage();
    int mode = rest.empty() ? vdb::shutdown_abort : vdb::shutdown_mode(rest[0]);
    if (mode < 0) return usage();
    vdb::require_instance(loc);
    vdb::shutdown(loc, mode);
    print_status(loc);
    return 0;
}

int run_sql(const vdb::Location& loc, const std::string& login, const std::string& statement) {
    // A statement whose session is ended stops with its error, even one blocked
    // writing rows to a reader that takes none.
    vdb::stop_cleanly_on_termination();
    size_t slash = login.find('/');
    if (slash == std::string::npos) {
        std::fputs("vdbadm: give the login as USER/PASSWORD\n", stderr);
        return 1;
    }
    auto session = vdb::Session::connect(loc, login.substr(0, slash), login.substr(slash + 1));
    std::string word = vdb::upper(vdb::trim(statement).substr(0, 6));
    if (word == "SELECT" || word.substr(0, 4) == "WITH") {
        auto cursor = session->query(statement);
        print_rows(*cursor);
    } else {
        session->execute(statement);
        session->commit();
    }
    return 0;
}

int create(const vdb::Location& loc, const std::vector<std::string>& options) {
    bool demo = false;
    std::string password = "demo";
    for (size_t i = 0; i < options.size(); ++i) {
        if (options[i] == "--demo") {
            demo = true;
        } else if (options[i] == "--password" && i + 1 < options.size()) {
            password = options[++i];
        } else {
            return usage();
        }
    }
    if (demo)
        vdb::create_demo_instance(loc);
    else
        vdb::create_instance(loc, password);
    print_status(loc);
    return 0;
}

int dispatch(const std::string& command, const vdb::Location& loc, const std::vector<std::string>& rest) {
    if (command == "create") return create(loc, rest);
    if (command == "sql") return rest.size() == 2 ? run_sql(loc, rest[0], rest[1]) : usage();
    if (command == "kill") return rest.size() == 1 ? kill_session(loc, rest[0]) : usage();
    if (command == "stop") return stop(loc, rest);
    if (!rest.empty()) return usage();
    if (command == "start") {
        vdb::require_instance(loc);
        if (vdb::read_state(loc).service == vdb::Service::stopped) vdb::start_service(loc);
        vdb::start_instance(loc);
    } else if (command == "sessions") {
        print_sessions(loc);
        return 0;
    } else if (command == "service-start") {
        if (!vdb::start_service(loc))
            std::printf("the service %s%s is already running\n", std::string(vdb::service_prefix).c_str(),
                        loc.sid.c_str());
    } else if (command == "service-stop") {
        vdb::stop_service(loc);
    } else if (command != "status") {
        return usage();
    }
    print_status(loc);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    vdb::Location loc = vdb::location_from_environment();
    if (args.size() >= 2 && args[0] == "--home") {
        loc.home = args[1];
        args.erase(args.begin(), args.begin() + 2);
    }
    if (args.size() < 2) return usage();
    if (!loc.home.empty() && loc.home.front() != '/') {
        char* cwd = getcwd(nullptr, 0);
        if (cwd) loc.home = std::string(cwd) + "/" + loc.home;
        std::free(cwd);
    }
    if (loc.home.empty()) {
        std::fputs("vdbadm: no home: give --home DIR or set VANTOR_HOME\n", stderr);
        return 1;
    }
    loc.sid = args[1];
    try {
        return dispatch(args[0], loc, std::vector<std::string>(args.begin() + 2, args.end()));
    } catch (const vdb::Error& error) {
        std::fprintf(stderr, "vdbadm: error %d: %s\n", error.code(), error.what());
        // Rows still buffered for a reader that takes none would block the exit.
        if (vdb::stop_requested()) _exit(1);
        return 1;
    }
}
