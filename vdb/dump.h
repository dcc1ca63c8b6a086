// The export utility: writes tables, their rows and indexes, and for a full or
// user export the tablespaces, users and roles, into an export file.
//
// FILE (default expdat.dmp), LOG, FULL, OWNER, TABLES, ROWS, GRANTS, INDEXES and
// CONSTRAINTS are honoured; BUFFER, RECORDLENGTH, COMPRESS, RECORD, CONSISTENT,
// INCTYPE, STATISTICS and FEEDBACK are accepted. The file is written under a
// temporary name and renamed when done, so a failed run leaves no half file.
#pragma once

#include <initializer_list>
#include <string_view>

#include "vdb/utility.h"

namespace vdb {

extern const std::initializer_list<std::string_view> export_parameters;

int run_export(const UtilityParameters& parameters, Session& session, Report& report);

}  // namespace vdb
