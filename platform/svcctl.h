// svcctl: the operating-system services of the installation's instances.
//
// A service is named "VantorService" and the instance id; the installation is
// the one in VANTOR_HOME.
#pragma once

#include <cstdint>

// Starts the service of that name. 1 when the service runs afterwards (also
// when it ran already), 0 otherwise.
int svc_start(const char* service_name);
// Stops the service of that name; the instance goes down with it. 1 when the
// service is stopped afterwards, 0 otherwise.
int svc_stop(const char* service_name);

// The state of a service and its instance.
struct svc_status {
    int32_t running;   // 1 when the service runs, 0 when it is stopped
    char instance[16]; // "down", "started", "mounted" or "open"
    char started[24];  // when the instance was started, local "YYYY-MM-DD HH:MM:SS"; empty while down
};

// 1 with the state in status, 0 when there is no such service.
int svc_query(const char* service_name, svc_status* status);

// Checks user and password against the dictionary of the service's instance
// while the service may be stopped, starting and changing nothing: the check
// that must pass before a request may start the service. 0 when the user may
// (INTERNAL or a DBA), else the engine's negative code: -1017 for a wrong user
// or password, -3101 for a locked account, -1031 for a user without the DBA
// role, -12154 for an unknown service.
int svc_check_logon(const char* service_name, const char* user, const char* password);
