#include "vdb/credentials.h"

#include "vdb/catalog.h"
#include "vdb/db.h"
#include "vdb/errors.h"
#include "vdb/password.h"
#include "vdb/throttle.h"

namespace vdb {

Credentials check_credentials(const Location& loc, sqlite3* db, std::string_view user, std::string_view password) {
    std::string login = upper(user);
    check_logon_allowed(loc, login);
    auto record = find_user(db, login);
    if (!record || !password_matches(password, record->password)) refuse_logon(loc, login);
    if (record->locked) fail(code::account_locked, record->name);
    Credentials credentials;
    credentials.schema = record->alias_of.empty() ? record->name : record->alias_of;
    credentials.dba = has_role(db, credentials.schema, "DBA");
    return credentials;
}

void check_administrator_offline(const Location& loc, std::string_view user, std::string_view password) {
    require_instance(loc);
    Db db(loc.database_file(), false);
    if (!check_credentials(loc, db.handle(), user, password).dba)
        fail(code::no_privilege, "only INTERNAL or a user with the DBA role may start the service");
}

}  // namespace vdb
