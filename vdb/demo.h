// The demo instance: a few users, tablespaces and tables with realistic rows.
#pragma once

#include "vdb/home.h"

namespace vdb {

// Creates the instance with the users SYSTEM, ADAM (DBA), EVE (no DBA), SALES
// and HR, all with password demo (INTERNAL too), the tablespaces SYSTEM, USERS,
// TOOLS and TEMP, the tables of SALES (ORDERS with 100,000 rows) and HR, and a
// full export in HOME/export/expdat.dmp. It ends open with its service running.
void create_demo_instance(const Location& loc);

}  // namespace vdb
