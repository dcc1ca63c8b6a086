// The launcher's question: does the user hold the DBA role?
#include <cstring>

#include "g/kvg.h"
#include "o/kvo.h"
#include "platform/esqlrt.h"

int kvo_check_dba(kvg_context*, kvg_credentials* credentials, kvo_sql_error* error, char role[KVO_ROLE_SIZE]) {
    role[0] = '\0';
    if (kvo_connect(credentials, error) != 0) return -1;
    size_t length = 0;
    int code = esql_select_into("select granted_role into :b0  from user_role_privs where granted_role='DBA'",
                                {esql_into(role, KVO_ROLE_SIZE - 1, &length)});
    if (code < 0) return kvo_sql_fail(error);
    if (code == ESQL_NOT_FOUND) length = 0;
    while (length > 0 && role[length - 1] == ' ') --length;
    role[length] = '\0';
    return kvo_commit(error);
}
