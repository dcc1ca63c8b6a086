// The error handler of every embedded statement.
#include "o/kvo.h"
#include "platform/esqlrt.h"

int kvo_sql_fail(kvo_sql_error* error) {
    error->code = esql_status().code;
    esql_error_text(error->message, sizeof error->message);
    // A failed statement leaves no half-done work behind.
    esql_rollback();
    return -1;
}
