// Parallel requests: two processes writing at once lose nothing.
#include <sys/wait.h>
#include <unistd.h>

#include "instance_fixture.h"
#include "platform/esqlrt.h"

namespace vdbtest {
namespace {

class ConcurrencyTest : public InstanceTest {};

// A child process: its own connection, one committed insert per row.
int write_rows(int writer, int count) {
    if (esql_connect("system", "demo") != 0) return 10;
    for (int i = 0; i < count; ++i) {
        std::string insert = "INSERT INTO SALES.LOG VALUES (" + std::to_string(writer) + ", " + std::to_string(i) + ")";
        if (esql_execute_immediate(insert.c_str()) != 0 || esql_commit() != 0) return 11;
    }
    esql_disconnect();
    return 0;
}

TEST_F(ConcurrencyTest, TwoWritersLoseNothing) {
    run({"CREATE USER SALES IDENTIFIED BY demo", "CREATE TABLE SALES.LOG (WRITER NUMBER, N NUMBER)"});
    const std::string used = "select bytes from sys.dba_segments where owner='SALES' and segment_name='LOG'";
    int64_t before = number(used);
    constexpr int rows = 150;
    pid_t children[2];
    for (int writer = 0; writer < 2; ++writer) {
        children[writer] = fork();
        ASSERT_GE(children[writer], 0);
        if (children[writer] == 0) _exit(write_rows(writer, rows));
    }
    for (pid_t child : children) {
        int status = -1;
        waitpid(child, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
    }
    EXPECT_EQ(number("select count(*) from sales.log"), 2 * rows);
    EXPECT_EQ(number("select count(distinct writer * 1000 + n) from sales.log"), 2 * rows);
    EXPECT_EQ(number(used) - before, 2 * rows * (3 + 9 + 9));  // every row's space was charged once
}

}  // namespace
}  // namespace vdbtest
