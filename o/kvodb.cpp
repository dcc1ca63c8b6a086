// Starting an instance that is down for a while, and stopping it again.
#include <cstdio>
#include <cstring>
#include <initializer_list>

#include "g/kvg.h"
#include "o/kvo.h"
#include "platform/dbcall.h"

namespace {

constexpr const char* MODULE = "o/kvodb";
constexpr size_t PATH_SIZE = 512;

void fill_error(kvo_sql_error* error, int code, const char* message) {
    error->code = code;
    std::snprintf(error->message, sizeof error->message, "%s", message);
}

// Reads the whole parameter file into text (KVO_PARAMETER_TEXT_SIZE bytes at most).
int read_parameter_file(const char* path, char* text) {
    bk_text_file* file = nullptr;
    if (int failure = bk_text_open(path, "r", &file)) return failure;
    size_t used = 0;
    long n = 0;
    while (used < KVO_PARAMETER_TEXT_SIZE && (n = bk_text_read(file, text + used, KVO_PARAMETER_TEXT_SIZE + 1 - used)) > 0)
        used += n;
    // A longer file would start the instance with half its parameters: refused.
    char probe[2];
    bool too_long = used == KVO_PARAMETER_TEXT_SIZE && bk_text_read(file, probe, sizeof probe) > 0;
    text[used] = '\0';
    if (bk_text_close(file) != 0) return BK_FILE_CLOSE_FAILED;
    return too_long ? BK_FILE_STREAM_FAILED : 0;
}

// Privileged start of the instance with the parameters: down -> started.
int start_instance(kvg_credentials* c, kvo_sql_error* error, dbc_host_area* hda, const char* parameters) {
    int code = dbc_connect_privileged(hda, c->user ? c->user : "", c->password ? c->password : "");
    if (code == 0) {
        code = dbc_startup(hda, parameters, 0);
        int closed = dbc_disconnect_privileged(hda);
        if (code == 0) code = closed;
    }
    if (code != 0) fill_error(error, code, hda->message);
    return code;
}

int shutdown_instance(kvg_credentials* c, dbc_host_area* hda, int mode) {
    int code = dbc_connect_privileged(hda, c->user ? c->user : "", c->password ? c->password : "");
    if (code != 0) return code;
    code = dbc_shutdown(hda, mode);
    int closed = dbc_disconnect_privileged(hda);
    return code != 0 ? code : closed;
}

// Normal logon and the ALTER DATABASE statements, one after the other:
// MOUNT takes started to mounted, OPEN mounted to open.
int alter_database(kvg_credentials* c, kvo_sql_error* error, dbc_host_area* hda,
                   std::initializer_list<const char*> statements) {
    dbc_logon lda{};
    dbc_cursor cda{};
    int code = dbc_logon_normal(&lda, c->user ? c->user : "", c->password ? c->password : "");
    if (code != 0) {
        fill_error(error, code, lda.message);
        return code;
    }
    if ((code = dbc_open(&cda, &lda)) == 0)
        for (const char* statement : statements)
            if ((code = dbc_run(&cda, statement)) != 0) break;
    if (code != 0) {
        fill_error(error, code, cda.message);
        dbc_logoff(&lda);
        return code;
    }
    if ((code = dbc_close(&cda)) != 0) {
        // A change whose cursor cannot be closed is not trusted: the instance goes down again.
        fill_error(error, code, cda.message);
        shutdown_instance(c, hda, DBC_SHUTDOWN_ABORT);
    }
    dbc_logoff(&lda);
    return code;
}

}  // namespace

int kvo_startup_mount(kvg_credentials* credentials, kvo_sql_error* error, kvg_context* context, const char* path,
                      const char* text) {
    auto* hda = static_cast<dbc_host_area*>(kvg_alloc(context, sizeof(dbc_host_area), 0, MODULE, __LINE__));
    if (!hda) return 1013;
    const char* parameters = text;
    if (!parameters) {
        char default_path[PATH_SIZE];
        if (!path) {
            std::snprintf(default_path, sizeof default_path, "%s%s%s%s", credentials->home ? credentials->home : "",
                          "/dbs/init", credentials->sid ? credentials->sid : "", ".vpf");
            path = default_path;
        }
        auto* buffer = static_cast<char*>(kvg_alloc(context, KVO_PARAMETER_TEXT_SIZE + 1, 0, MODULE, __LINE__));
        if (!buffer) return 1013;
        if (int failure = read_parameter_file(path, buffer)) return failure;
        parameters = buffer;
    }
    if (int code = start_instance(credentials, error, hda, parameters)) return code;
    return alter_database(credentials, error, hda, {"ALTER DATABASE MOUNT"});
}

int kvo_open_database(kvg_credentials* credentials, kvo_sql_error* error, kvg_context* context, int mounted) {
    auto* hda = static_cast<dbc_host_area*>(kvg_alloc(context, sizeof(dbc_host_area), 0, MODULE, __LINE__));
    if (!hda) return 1013;
    if (mounted) return alter_database(credentials, error, hda, {"ALTER DATABASE OPEN"});
    return alter_database(credentials, error, hda, {"ALTER DATABASE MOUNT", "ALTER DATABASE OPEN"});
}

int kvo_shutdown(kvg_credentials* credentials, kvo_sql_error* error, kvg_context* context, int mode) {
    auto* hda = static_cast<dbc_host_area*>(kvg_alloc(context, sizeof(dbc_host_area), 0, MODULE, __LINE__));
    if (!hda) return 1013;
    int code = shutdown_instance(credentials, hda, mode);
    if (code != 0) fill_error(error, code, hda->message);
    return code;
}

int kvo_abort(kvg_credentials* credentials, kvo_sql_error* error, kvg_context* context) {
    return kvo_shutdown(credentials, error, context, DBC_SHUTDOWN_ABORT);
}

int kvo_privileged_check(kvg_credentials* credentials, kvo_sql_error* error, kvg_context* context) {
    auto* hda = static_cast<dbc_host_area*>(kvg_alloc(context, sizeof(dbc_host_area), 0, MODULE, __LINE__));
    if (!hda) return 1013;
    int code = dbc_connect_privileged(hda, credentials->user ? credentials->user : "",
                                      credentials->password ? credentials->password : "");
    if (code != 0) {
        fill_error(error, code, hda->message);
        return code;
    }
    dbc_disconnect_privileged(hda);
    return 0;
}
