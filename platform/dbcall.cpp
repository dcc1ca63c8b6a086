#include "platform/dbcall.h"

#include <algorithm>
#include <cstring>
#include <ctime>
#include <string>

#include "vdb/event_log.h"
#include "vdb/overview.h"
#include "vdb/session.h"
#include "vdb/sessions.h"
#include "vdb/throttle.h"

namespace {

void copy_text(const std::string& text, char* buffer, size_t capacity) {
    size_t length = std::min(text.size(), capacity - 1);
    std::memcpy(buffer, text.data(), length);
    buffer[length] = 0;
}

// Runs body on an area with a code and a message, keeping the outcome there.
template <typename Area, typename Body>
int on_area(Area* area, Body body) {
    if (!area) return vdb::code::not_logged_on;
    try {
        body();
        area->code = 0;
        area->message[0] = 0;
    } catch (const vdb::Error& error) {
        area->code = error.code();
        copy_text(error.what(), area->message, sizeof area->message);
    }
    return area->code;
}

vdb::Session& session_of(void* session) {
    if (!session) vdb::fail(vdb::code::not_logged_on);
    return *static_cast<vdb::Session*>(session);
}

void end_session(void*& session) {
    delete static_cast<vdb::Session*>(session);
    session = nullptr;
}

// Ends the session held in session, if any, and connects a new one there.
void reconnect(void*& session, const char* user, const char* password, vdb::Logon logon) {
    end_session(session);
    session = vdb::Session::connect(vdb::location_from_environment(), user ? user : "", password ? password : "", logon)
                  .release();
}

}  // namespace

int dbc_connect_privileged(dbc_host_area* hda, const char* user, const char* password) {
    return on_area(hda, [&] { reconnect(hda->session, user, password, vdb::Logon::privileged); });
}

int dbc_startup(dbc_host_area* hda, const char* parameter_text, int force) {
    return on_area(hda, [&] { session_of(hda->session).startup(parameter_text ? parameter_text : "", force != 0); });
}

int dbc_shutdown(dbc_host_area* hda, int mode) {
    return on_area(hda, [&] { session_of(hda->session).shutdown(mode); });
}

int dbc_disconnect_privileged(dbc_host_area* hda) {
    return on_area(hda, [&] {
        session_of(hda->session);
        end_session(hda->session);
    });
}

int dbc_logon_normal(dbc_logon* lda, const char* user, const char* password) {
    return on_area(lda, [&] { reconnect(lda->session, user, password, vdb::Logon::administrative); });
}

int dbc_logoff(dbc_logon* lda) {
    return on_area(lda, [&] {
        session_of(lda->session);
        end_session(lda->session);
    });
}

int dbc_open(dbc_cursor* cda, dbc_logon* lda) {
    return on_area(cda, [&] {
        if (!lda) vdb::fail(vdb::code::not_logged_on);
        session_of(lda->session);
        cda->logon = lda;
        cda->open = 1;
    });
}

int dbc_run(dbc_cursor* cda, const char* statement) {
    return on_area(cda, [&] {
        if (!cda->logon || !cda->open) vdb::fail(vdb::code::fetch_out_of_sequence, "the cursor is not open");
        session_of(cda->logon->session).execute(statement ? statement : "");
    });
}

int dbc_close(dbc_cursor* cda) {
    return on_area(cda, [&] {
        if (!cda->logon || !cda->open) vdb::fail(vdb::code::fetch_out_of_sequence, "the cursor is not open");
        cda->logon = nullptr;
        cda->open = 0;
    });
}

int dbc_status(dbc_instance_status* status) {
    return on_area(status, [&] {
        vdb::InstanceOverview overview = vdb::instance_overview(vdb::location_from_environment());
        status->service_running = overview.state.service == vdb::Service::running;
        status->instance = static_cast<int32_t>(overview.state.instance);
        status->autostart = overview.autostart;
        status->sessions = overview.sessions;
        status->data_files = overview.data_files;
        status->data_file_bytes = overview.data_file_bytes;
        copy_text(overview.started, status->started, sizeof status->started);
    });
}

namespace {

// Runs body on the instance of the environment, which must exist.
template <typename Body>
int on_instance(Body body) {
    dbc_logon area{};
    return on_area(&area, [&] {
        vdb::Location loc = vdb::location_from_environment();
        vdb::require_instance(loc);
        body(loc);
    });
}

}  // namespace

int dbc_parameters(void (*each)(const char* name, const char* value, void* data), void* data) {
    return on_instance([&](const vdb::Location& loc) {
        for (const auto& [name, value] : vdb::parse_parameters(vdb::read_file(loc.parameter_file())))
            each(name.c_str(), value.c_str(), data);
    });
}

int dbc_event_log_tail(int count, void (*each)(const char* line, void* data), void* data) {
    return on_instance([&](const vdb::Location& loc) {
        for (const auto& line : vdb::event_log_tail(loc, count > 0 ? static_cast<size_t>(count) : 0))
            each(line.c_str(), data);
    });
}

int dbc_sessions(void (*each)(const char* id, const char* user, const char* program, const char* action, void* data),
                 void* data) {
    return on_instance([&](const vdb::Location& loc) {
        for (const vdb::SessionInfo& session : vdb::list_sessions(loc)) {
            std::string id = std::to_string(session.number) + "," + std::to_string(session.serial);
            each(id.c_str(), session.user.c_str(), session.program.c_str(), session.action.c_str(), data);
        }
    });
}

int dbc_refused_logons(void (*each)(const char* user, long count, void* data), void* data) {
    return on_instance([&](const vdb::Location& loc) {
        for (const vdb::UserRefusals& refusals : vdb::refused_logons_per_user(loc, std::time(nullptr)))
            each(refusals.user.c_str(), refusals.count, data);
    });
}

size_t dbc_message(int code, char* buffer, size_t capacity) {
    if (!buffer || capacity == 0) return 0;
    copy_text(std::string(vdb::message_of(code)), buffer, capacity);
    return std::strlen(buffer);
}
