// svcctl: the operating-system services of the installation's instances.
#pragma once

// Starts the service of that name (an instance's service is named
// "VantorService" and the instance id) of the installation in VANTOR_HOME.
// 1 when the service runs afterwards (also when it ran already), 0 otherwise.
int svc_start(const char* service_name);
// Stops the service of that name; the instance goes down with it. 1 when the
// service is stopped afterwards, 0 otherwise.
int svc_stop(const char* service_name);
