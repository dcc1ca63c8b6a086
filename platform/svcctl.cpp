#include "platform/svcctl.h"

#include <cstdlib>

#include "vdb/instance.h"

int svc_start(const char* service_name) {
    const char* home = std::getenv("VANTOR_HOME");
    if (!home || !service_name) return 0;
    return vdb::start_named_service(home, service_name);
}

int svc_stop(const char* service_name) {
    const char* home = std::getenv("VANTOR_HOME");
    if (!home || !service_name) return 0;
    return vdb::stop_named_service(home, service_name);
}
