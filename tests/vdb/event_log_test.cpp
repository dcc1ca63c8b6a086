// The event log: one line per event whatever the text holds, a tail that reads
// from the end, and parallel writers that never interleave.
#include <sys/wait.h>
#include <unistd.h>

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

TEST(EventLogWithoutInstance, NoLogGivesNoLines) {
    EXPECT_TRUE(vdb::event_log_tail(vdb::Location{"/nonexistent", "NONE"}, 40).empty());
}

}  // namespace
}  // namespace vdbtest
