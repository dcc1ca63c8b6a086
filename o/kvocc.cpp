// The status of the instance, as the status light shows it.
#include "o/kvo.h"

namespace {
constexpr int32_t REFUSED_LOGIN = -1017;
constexpr int32_t NOT_AVAILABLE = -1034;
}  // namespace

int kvo_db_status(kvg_credentials* credentials, kvo_sql_error* error, kvg_context*) {
    if (kvo_connect(credentials, error) == 0) return KVO_DB_UP;
    // A refused password means the instance answered.
    if (error->code == REFUSED_LOGIN) return KVO_DB_UP;
    if (error->code == NOT_AVAILABLE) return KVO_DB_DOWN;
    return KVO_DB_UNKNOWN;
}
