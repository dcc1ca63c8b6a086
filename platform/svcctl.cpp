#include "platform/svcctl.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>

#include "vdb/credentials.h"
#include "vdb/errors.h"
#include "vdb/instance.h"

namespace {

std::optional<vdb::Location> named_location(const char* service_name) {
    const char* home = std::getenv("VANTOR_HOME");
    if (!home || !service_name) return std::nullopt;
    return vdb::service_location(home, service_name);
}

void copy_text(std::string_view text, char* buffer, size_t capacity) {
    size_t length = std::min(text.size(), capacity - 1);
    std::memcpy(buffer, text.data(), length);
    buffer[length] = 0;
}

}  // namespace

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

int svc_query(const char* service_name, svc_status* status) {
    auto loc = named_location(service_name);
    if (!loc || !status) return 0;
    try {
        vdb::require_instance(*loc);
        vdb::State state = vdb::read_state(*loc);
        status->running = state.service == vdb::Service::running ? 1 : 0;
        copy_text(vdb::name_of(state.instance), status->instance, sizeof status->instance);
        copy_text(vdb::started_text(state), status->started, sizeof status->started);
        return 1;
    } catch (const vdb::Error&) {
        return 0;
    }
}

int svc_check_logon(const char* service_name, const char* user, const char* password) {
    auto loc = named_location(service_name);
    if (!loc) return vdb::code::unknown_sid;
    try {
        vdb::check_administrator_offline(*loc, user ? user : "", password ? password : "");
        return 0;
    } catch (const vdb::Error& error) {
        return error.code();
    }
}
