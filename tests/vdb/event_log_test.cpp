// The event log: one line per event whatever the text holds, a tail that reads
// from the end, and parallel writers that never interleave.
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <regex>

#include "instance_fixture.h"
#include "vdb/event_log.h"

namespace vdbtest {
namespace {

// Starts from an empty log: creating the instance has logged its own events.
class EventLogTest : public InstanceTest {
protected:
    void SetUp() override {
        InstanceTest::SetUp();
        std::filesystem::resize_file(loc.event_log_file(), 0);
    }
};

TEST_F(EventLogTest, EachEventIsOneStampedLine) {
    vdb::log_event(loc, "user HR\nCONNECT x\r created");
    auto lines = vdb::event_log_tail(loc, 10);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_TRUE(std::regex_match(lines[0], std::regex(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d user HR CONNECT x  created)")))
        << lines[0];
}

TEST_F(EventLogTest, TailGivesTheLastLinesOldestFirst) {
    // Long enough that the tail spans several of the reader's blocks.
    for (int n = 0; n < 3000; ++n) vdb::log_event(loc, "event " + std::to_string(n));
    auto lines = vdb::event_log_tail(loc, 40);
    ASSERT_EQ(lines.size(), 40u);
    EXPECT_NE(lines.front().find(" event 2960"), std::string::npos) << lines.front();
    EXPECT_NE(lines.back().find(" event 2999"), std::string::npos) << lines.back();
    EXPECT_EQ(vdb::event_log_tail(loc, 5000).size(), 3000u);
}

TEST_F(EventLogTest, ParallelWritersKeepWholeLines) {
    const int writers = 4, each = 500;
    for (int w = 0; w < writers; ++w) {
        if (fork() == 0) {
            for (int n = 0; n < each; ++n) vdb::log_event(loc, "writer " + std::to_string(w) + std::string(200, 'x'));
            _exit(0);
        }
    }
    for (int w = 0; w < writers; ++w) wait(nullptr);
    auto lines = vdb::event_log_tail(loc, writers * each + 10);
    ASSERT_EQ(lines.size(), static_cast<size_t>(writers * each));
    for (const auto& line : lines) ASSERT_TRUE(line.ends_with(std::string(200, 'x'))) << line;
}

// The lines an action added to the log, without their time stamps.
std::vector<std::string> logged_by(const vdb::Location& loc, const std::function<void()>& action) {
    size_t before = vdb::event_log_tail(loc, 100000).size();
    action();
    auto lines = vdb::event_log_tail(loc, 100000);
    std::vector<std::string> added;
    for (size_t i = before; i < lines.size(); ++i) added.push_back(lines[i].substr(20));
    return added;
}

TEST_F(EventLogTest, ServiceAndInstanceChangesAreLogged) {
    using Lines = std::vector<std::string>;
    EXPECT_EQ(logged_by(loc, [&] { vdb::stop_service(loc); }), Lines{"service VantorServiceTEST stopped"});
    EXPECT_EQ(logged_by(loc, [&] { vdb::stop_service(loc); }), Lines{});
    EXPECT_EQ(logged_by(loc, [&] { vdb::start_service(loc); }),
              (Lines{"service VantorServiceTEST started", "instance TEST started", "database TEST mounted",
                     "database TEST opened"}));
    EXPECT_EQ(logged_by(loc, [&] { vdb::start_service(loc); }), Lines{});
}

TEST_F(EventLogTest, EverySpaceAndUserChangeIsLoggedWithWhoMadeItAndNoPassword) {
    add_sales();
    const std::string t2 = file("t2.dbf"), t2b = file("t2b.dbf");
    const std::pair<std::string, std::vector<std::string>> cases[] = {
        {"CREATE TABLESPACE T2 DATAFILE '" + t2 + "' SIZE 1M",
         {"tablespace T2 created ONLINE by SYSTEM", "data file " + t2 + " of 1048576 bytes added to tablespace T2 by SYSTEM"}},
        {"ALTER TABLESPACE T2 ADD DATAFILE '" + t2b + "' SIZE 2M AUTOEXTEND ON",
         {"data file " + t2b + " of 2097152 bytes added to tablespace T2 by SYSTEM"}},
        {"ALTER TABLESPACE T2 OFFLINE NORMAL", {"tablespace T2 is now OFFLINE by SYSTEM"}},
        {"ALTER TABLESPACE T2 ONLINE", {"tablespace T2 is now ONLINE by SYSTEM"}},
        {"ALTER TABLESPACE T2 ONLINE", {}},
        {"ALTER TABLESPACE T2 READ ONLY", {"tablespace T2 is now READ ONLY by SYSTEM"}},
        {"DROP TABLESPACE T2 INCLUDING CONTENTS AND DATAFILES",
         {"tablespace T2 dropped with its contents and data files by SYSTEM"}},
        {"CREATE USER HR IDENTIFIED BY secret1", {"user HR created by SYSTEM"}},
        {"ALTER USER HR IDENTIFIED BY secret2 ACCOUNT LOCK",
         {"password of user HR changed by SYSTEM", "user HR locked by SYSTEM"}},
        {"ALTER USER HR ACCOUNT LOCK", {}},
        {"ALTER USER HR ACCOUNT UNLOCK DEFAULT TABLESPACE SYSTEM",
         {"user HR unlocked by SYSTEM", "default tablespace of user HR set to SYSTEM by SYSTEM"}},
        {"GRANT DBA, CONNECT TO HR", {"role DBA granted to HR by SYSTEM", "role CONNECT granted to HR by SYSTEM"}},
        {"REVOKE DBA FROM HR", {"role DBA revoked from HR by SYSTEM"}},
        {"REVOKE DBA FROM HR", {}},
        {"DROP USER HR", {"user HR dropped by SYSTEM"}},
        {"DROP USER SALES", {}},  // refused: a statement that fails logs nothing
        {"DROP USER SALES CASCADE", {"user SALES dropped with its 2 tables by SYSTEM"}},
    };
    auto system = as("system");
    for (const auto& [statement, lines] : cases) {
        SCOPED_TRACE(statement);
        EXPECT_EQ(logged_by(loc, [&] { code_of([&] { system->execute(statement); }); }), lines);
    }
    for (const auto& line : vdb::event_log_tail(loc, 1000)) EXPECT_EQ(line.find("secret"), std::string::npos) << line;
}

TEST(EventLogWithoutInstance, NoLogGivesNoLines) {
    EXPECT_TRUE(vdb::event_log_tail(vdb::Location{"/nonexistent", "NONE"}, 40).empty());
}

}  // namespace
}  // namespace vdbtest
