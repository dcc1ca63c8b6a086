// Slow guessing: refused passwords bar a (user, address) pair and an address
// for a doubling delay, counted once per process, kept in a file that parallel
// processes share and that outlives the instance's restarts.
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <regex>
#include <sstream>

#include "instance_fixture.h"
#include "vdb/event_log.h"
#include "vdb/throttle.h"

namespace vdbtest {
namespace {

// What a logon of a child process met, as its exit status says it.
enum Met { logged_on = 0, wrong_password = 1, barred = 2, other = 3 };

class ThrottleTest : public InstanceTest {
protected:
    // Forks a process that logs on tries times as user from address and
    // exits with what the last try met; its standard error goes to errors().
    pid_t start_logon(const std::string& user, const std::string& password, const std::string& address,
                      int tries = 1) {
        pid_t child = fork();
        if (child != 0) return child;
        int errors = open(errors_file().c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
        dup2(errors, 2);
        setenv("REMOTE_ADDR", address.c_str(), 1);
        int met = other;
        for (int i = 0; i < tries; ++i) {
            try {
                vdb::Session::connect(loc, user, password);
                met = logged_on;
            } catch (const vdb::Error& error) {
                met = error.code() == vdb::code::bad_logon          ? wrong_password
                      : error.code() == vdb::code::logons_throttled ? barred
                                                                    : other;
                if (met == barred) std::fprintf(stderr, "message: %s\n", error.what());
            }
        }
        _exit(met);
    }

    static int met_by(pid_t child) {
        int status = -1;
        waitpid(child, &status, 0);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    int logon(const std::string& user, const std::string& password, const std::string& address, int tries = 1) {
        return met_by(start_logon(user, password, address, tries));
    }

    std::string errors_file() const { return loc.home + "/stderr"; }
    std::string errors() const { return text_of(errors_file()); }
    std::vector<std::string> record() const {
        std::vector<std::string> lines;
        std::istringstream in(text_of(loc.logon_record_file()));
        for (std::string line; std::getline(in, line);) lines.push_back(line);
        return lines;
    }

    static std::string text_of(const std::string& path) {
        std::ifstream in(path);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }

    void add_parameters(const std::string& lines) { std::ofstream(loc.parameter_file(), std::ios::app) << lines; }
};

// The delays as the record gives them: each case writes the record, then asks
// how long SYSTEM from 10.0.0.1 must wait, 10 seconds after the last refusal.
TEST_F(ThrottleTest, DelayFollowsTheLimitsAndDoublesUpToFifteenMinutes) {
    const std::time_t now = 1'700'000'000;
    struct Case {
        const char* what;
        std::vector<std::pair<std::string, std::string>> refusals;  // (user, address), the last 10 s ago
        std::string parameters;
        long wait;
    };
    auto times = [](int n, std::string user, std::string address) {
        return std::vector<std::pair<std::string, std::string>>(size_t(n), {user, address});
    };
    auto many_users = [](int n, std::string address) {
        std::vector<std::pair<std::string, std::string>> out;
        for (int i = 0; i < n; ++i) out.emplace_back("U" + std::to_string(i), address);
        return out;
    };
    const Case cases[] = {
        {"four refusals", times(4, "SYSTEM", "10.0.0.1"), "", 0},
        {"five: the window over the limit", times(5, "SYSTEM", "10.0.0.1"), "", 180 - 10},
        {"six: twice that", times(6, "SYSTEM", "10.0.0.1"), "", 360 - 10},
        {"seven: twice again", times(7, "SYSTEM", "10.0.0.1"), "", 720 - 10},
        {"twelve: no more than 15 minutes", times(12, "SYSTEM", "10.0.0.1"), "", 900 - 10},
        {"another user's refusals", times(9, "ADAM", "10.0.0.1"), "", 0},
        {"the same user from another address", times(9, "SYSTEM", "10.0.0.2"), "", 0},
        {"nineteen users from the address", many_users(19, "10.0.0.1"), "", 0},
        {"twenty users from the address", many_users(20, "10.0.0.1"), "", 45 - 10},
        {"limits of the parameter file", times(2, "SYSTEM", "10.0.0.1"), "logon_limit = 2\nlogon_window = 60\n", 30 - 10},
        {"address limit of the parameter file", many_users(3, "10.0.0.1"), "logon_address_limit = 3\n", 300 - 10},
        {"unusable values are the defaults", times(5, "SYSTEM", "10.0.0.1"), "logon_limit = 0\nlogon_window = soon\n",
         180 - 10},
    };
    const std::string parameters = text_of(loc.parameter_file());
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::ofstream(loc.parameter_file()) << parameters << c.parameters;
        std::ofstream out(loc.logon_record_file());
        std::time_t at = now - 10 - std::time_t(c.refusals.size());
        for (const auto& [user, address] : c.refusals) out << ++at << " " << user << " " << address << "\n";
        out.close();
        EXPECT_EQ(vdb::logon_wait(loc, "SYSTEM", "10.0.0.1", now), c.wait);
    }
    // Refusals older than the window bar nothing; the record's hour still counts them.
    std::ofstream(loc.parameter_file()) << parameters;
    std::ofstream out(loc.logon_record_file());
    for (int i = 0; i < 5; ++i) out << now - 1000 << " SYSTEM 10.0.0.1\n";
    out << now - 4000 << " ADAM 10.0.0.1\n" << now - 5 << " ADAM 10.0.0.9\n";
    out.close();
    EXPECT_EQ(vdb::logon_wait(loc, "SYSTEM", "10.0.0.1", now), 0);
    auto per_user = vdb::refused_logons_per_user(loc, now);
    ASSERT_EQ(per_user.size(), 2u);
    EXPECT_EQ(per_user[0].user, "SYSTEM");
    EXPECT_EQ(per_user[0].count, 5);
    EXPECT_EQ(per_user[1].user, "ADAM");
    EXPECT_EQ(per_user[1].count, 1);
}

TEST_F(ThrottleTest, BurstOfWrongPasswordsBarsThePairWithoutTryingThePassword) {
    for (int n = 0; n < 5; ++n) ASSERT_EQ(logon("system", "guess" + std::to_string(n), "10.0.0.1"), wrong_password);
    // Even the right password is not tried now, and a restart changes nothing.
    EXPECT_EQ(logon("system", "demo", "10.0.0.1"), barred);
    vdb::stop_instance(loc);
    vdb::start_instance(loc);
    EXPECT_EQ(logon("SYSTEM", "demo", "10.0.0.1"), barred);
    EXPECT_TRUE(std::regex_search(errors(), std::regex("message: too many refused logons: wait (1[0-7][0-9]|180) seconds\n")))
        << errors();
    // The same user from elsewhere, and another user from here, log on.
    EXPECT_EQ(logon("system", "demo", "10.0.0.2"), logged_on);
    EXPECT_EQ(logon("sys", "demo", "10.0.0.1"), logged_on);
    // Barred tries are no refused passwords: the record holds the five.
    EXPECT_EQ(record().size(), 5u);

    // Each refusal is told with user and address, never the password.
    std::string told = errors();
    EXPECT_NE(told.find("vdb: refused logon of SYSTEM from 10.0.0.1 to TEST: wrong user name or password"),
              std::string::npos)
        << told;
    EXPECT_NE(told.find("vdb: refused logon of SYSTEM from 10.0.0.1 to TEST: too many refused logons"),
              std::string::npos);
    std::string events;
    for (const auto& line : vdb::event_log_tail(loc, 100)) events += line + "\n";
    EXPECT_NE(events.find("refused logon of SYSTEM from 10.0.0.1 to TEST: wrong user name or password"),
              std::string::npos)
        << events;
    EXPECT_NE(events.find("refused logon of SYSTEM from 10.0.0.1 to TEST: too many refused logons"), std::string::npos);
    for (const std::string& text : {told, events}) EXPECT_EQ(text.find("guess"), std::string::npos);
}

TEST_F(ThrottleTest, OneProcessCountsOnceAndAnEmptyUserNeverCounts) {
    EXPECT_EQ(logon("system", "wrong", "10.0.0.1", 7), wrong_password);
    EXPECT_EQ(record().size(), 1u);
    for (int n = 0; n < 6; ++n) EXPECT_EQ(logon("", "", "10.0.0.1"), wrong_password);
    EXPECT_EQ(record().size(), 1u);
    EXPECT_EQ(logon("system", "demo", "10.0.0.1"), logged_on);
}

TEST_F(ThrottleTest, ParallelProcessesLoseNoRefusal) {
    add_parameters("logon_limit = 100\nlogon_address_limit = 100\n");
    constexpr int processes = 8;
    std::vector<pid_t> children;
    for (int n = 0; n < processes; ++n) children.push_back(start_logon("system", "wrong", "10.0.0.1", 3));
    for (pid_t child : children) EXPECT_EQ(met_by(child), wrong_password);
    EXPECT_EQ(record().size(), size_t(processes));
    EXPECT_EQ(logon("system", "demo", "10.0.0.1"), logged_on) << "the parameter file's limit is not reached";
}

TEST_F(ThrottleTest, TheRecordDropsWhatIsOlderThanAnHourAndItsClientIsTheWebServers) {
    const std::time_t now = std::time(nullptr);
    std::ofstream(loc.logon_record_file()) << now - 7200 << " OLD 10.0.0.1\n" << now - 60 << " RECENT 10.0.0.1\n";
    vdb::record_refused_logon(loc, "NEW\nLINE", "10.0.0.1", now);
    EXPECT_EQ(record(), (std::vector<std::string>{std::to_string(now - 60) + " RECENT 10.0.0.1",
                                                  std::to_string(now) + " NEW%0ALINE 10.0.0.1"}));
    unsetenv("REMOTE_ADDR");
    EXPECT_EQ(vdb::client_address(), "local");
    setenv("REMOTE_ADDR", "10.1.1.1", 1);
    EXPECT_EQ(vdb::client_address(), "10.1.1.1");
    unsetenv("REMOTE_ADDR");
}

}  // namespace
}  // namespace vdbtest
