// What the statements of one session work with.
#pragma once

#include <string>
#include <vector>

#include "vdb/home.h"

struct sqlite3;

namespace vdb {

struct SessionContext {
    sqlite3* db;
    const Location& loc;
    std::string user;  // the schema of the session
    bool dba;
    std::vector<std::string> created_files;   // removed again when the statement fails
    std::vector<std::string> obsolete_files;  // removed once the statement is committed
    std::vector<std::string> events;          // logged once the statement is committed
};

}  // namespace vdb
