// dbcall: the call interface that starts and stops an instance.
//
// Unlike the embedded runtime (esqlrt.h) it offers the privileged connection,
// which INTERNAL or a DBA user may open while the instance is down, and a normal
// logon that an administrator may use while the database is only started or
// mounted. The instance is the one of VANTOR_HOME and VANTOR_SID.
//
// Every call returns 0 or the negative code of its failure; the area it worked
// on keeps the code and the message text, and dbc_message gives the general text
// of any code. Areas are zeroed by the caller before first use.
//
//   dbc_host_area hda{};
//   if (dbc_connect_privileged(&hda, "internal", "demo") == 0) {
//       dbc_startup(&hda, parameter_text, 0);      // down -> started
//       dbc_disconnect_privileged(&hda);
//   }
//   dbc_logon lda{};
//   dbc_cursor cda{};
//   dbc_logon_normal(&lda, "system", "demo");
//   dbc_open(&cda, &lda);
//   dbc_run(&cda, "ALTER DATABASE MOUNT");       // started -> mounted
//   dbc_close(&cda);
//   dbc_logoff(&lda);
#pragma once

#include <cstddef>
#include <cstdint>

// Shutdown modes; every one leaves the instance down and its service running.
// Normal is refused while other sessions are connected; immediate ends them.
constexpr int DBC_SHUTDOWN_NORMAL = 0;
constexpr int DBC_SHUTDOWN_IMMEDIATE = 1;
constexpr int DBC_SHUTDOWN_ABORT = 64;

// The host data area of a privileged connection: 256 bytes.
struct dbc_host_area {
    int32_t code;
    int32_t reserved;
    void* session;
    char message[240];
};
static_assert(sizeof(dbc_host_area) == 256);

struct dbc_logon {
    int32_t code;
    void* session;
    char message[512];
};

struct dbc_cursor {
    int32_t code;
    int32_t open;
    dbc_logon* logon;
    char message[512];
};

int dbc_connect_privileged(dbc_host_area* hda, const char* user, const char* password);
// Starts the instance with the parameters of text ("name = value" lines):
// down -> started; force restarts an instance that is not down.
int dbc_startup(dbc_host_area* hda, const char* parameter_text, int force);
int dbc_shutdown(dbc_host_area* hda, int mode);
int dbc_disconnect_privileged(dbc_host_area* hda);

int dbc_logon_normal(dbc_logon* lda, const char* user, const char* password);
int dbc_logoff(dbc_logon* lda);

int dbc_open(dbc_cursor* cda, dbc_logon* lda);
// Runs one statement on the cursor's logon.
int dbc_run(dbc_cursor* cda, const char* statement);
int dbc_close(dbc_cursor* cda);

// What Database Control shows of the instance, read from its own files in
// any state, without a logon.
constexpr int DBC_INSTANCE_DOWN = 0;
constexpr int DBC_INSTANCE_STARTED = 1;
constexpr int DBC_INSTANCE_MOUNTED = 2;
constexpr int DBC_INSTANCE_OPEN = 3;
struct dbc_instance_status {
    int32_t code;
    int32_t service_running;
    int32_t instance;  // DBC_INSTANCE_...
    int32_t autostart;
    int32_t sessions;
    int32_t data_files;
    int64_t data_file_bytes;
    char started[24];  // "YYYY-MM-DD HH:MM:SS", empty while down
    char message[240];
};
int dbc_status(dbc_instance_status* status);
// Calls each with every setting of the instance's parameter file, in its order.
int dbc_parameters(void (*each)(const char* name, const char* value, void* data), void* data);
// Calls each with the last count lines of the instance's event log, oldest first.
int dbc_event_log_tail(int count, void (*each)(const char* line, void* data), void* data);

// Calls each with every session of the instance ("number,serial", user,
// program, action), in order of logon.
int dbc_sessions(void (*each)(const char* id, const char* user, const char* program, const char* action, void* data),
                 void* data);
// Calls each with every user that the instance refused a logon in the last
// hour, and how many times.
int dbc_refused_logons(void (*each)(const char* user, long count, void* data), void* data);

// The general message text of code into buffer (zero-terminated, cut to
// capacity - 1); returns its length.
size_t dbc_message(int code, char* buffer, size_t capacity);
