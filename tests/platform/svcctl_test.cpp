// The service control as Database Control uses it: the state of a service, and
// the administrator's check that must pass before a stopped service is started.
#include <cstring>
#include <string>

#include "instance_fixture.h"
#include "platform/svcctl.h"

namespace {

class ServiceControl : public vdbtest::InstanceTest {
protected:
    void SetUp() override {
        InstanceTest::SetUp();
        run({"CREATE USER EVE IDENTIFIED BY demo"});
    }
};

TEST_F(ServiceControl, QueryGivesTheStateAndTheStartTimeWhileUp) {
    svc_status status{};
    ASSERT_EQ(svc_query("VantorServiceTEST", &status), 1);
    EXPECT_EQ(status.running, 1);
    EXPECT_STREQ(status.instance, "open");
    EXPECT_EQ(std::string(status.started), vdb::started_text(vdb::read_state(loc)));
    EXPECT_EQ(std::strlen(status.started), 19u);

    vdb::stop_service(loc);
    ASSERT_EQ(svc_query("VantorServiceTEST", &status), 1);
    EXPECT_EQ(status.running, 0);
    EXPECT_STREQ(status.instance, "down");
    EXPECT_STREQ(status.started, "");
    EXPECT_EQ(svc_query("VantorServiceNOPE", &status), 0);
    EXPECT_EQ(svc_query("OtherTEST", &status), 0);
}

TEST_F(ServiceControl, LogonCheckOfAStoppedServiceAdmitsAdministratorsAndStartsNothing) {
    vdb::stop_service(loc);
    EXPECT_EQ(svc_check_logon("VantorServiceTEST", "internal", "demo"), 0);
    EXPECT_EQ(svc_check_logon("VantorServiceTEST", "system", "demo"), 0);
    EXPECT_EQ(svc_check_logon("VantorServiceTEST", "system", "wrong"), vdb::code::bad_logon);
    EXPECT_EQ(svc_check_logon("VantorServiceTEST", "eve", "demo"), vdb::code::no_privilege);
    EXPECT_EQ(svc_check_logon("VantorServiceTEST", nullptr, nullptr), vdb::code::bad_logon);
    EXPECT_EQ(svc_check_logon("VantorServiceNOPE", "internal", "demo"), vdb::code::unknown_sid);
    EXPECT_EQ(svc_check_logon(nullptr, "internal", "demo"), vdb::code::unknown_sid);
    EXPECT_EQ(vdb::read_state(loc).service, vdb::Service::stopped);
    unsetenv("VANTOR_HOME");
    EXPECT_EQ(svc_check_logon("VantorServiceTEST", "internal", "demo"), vdb::code::unknown_sid);
}

}  // namespace
