// The service control as Database Control uses it: the state of a service, and
// the administrator's check that must pass before a stopped service is started.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "platform/svcctl.h"
#include "vdb/instance.h"
#include "vdb/session.h"

namespace {

class ServiceControl : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/svcctltestXXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        loc = vdb::Location{pattern, "TEST"};
        vdb::create_instance(loc, "demo");
        vdb::Session::connect(loc, "system", "demo")->execute("CREATE USER EVE IDENTIFIED BY demo");
        setenv("VANTOR_HOME", loc.home.c_str(), 1);
    }
    void TearDown() override {
        unsetenv("VANTOR_HOME");
        std::filesystem::remove_all(loc.home);
    }
    vdb::Location loc;
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
