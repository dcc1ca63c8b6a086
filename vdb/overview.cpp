#include "vdb/overview.h"

#include "vdb/db.h"
#include "vdb/sessions.h"

namespace vdb {

InstanceOverview instance_overview(const Location& loc) {
    require_instance(loc);
    InstanceOverview overview;
    overview.state = read_state(loc);
    overview.started = started_text(overview.state);
    overview.parameters = parse_parameters(read_file(loc.parameter_file()));
    auto autostart = parameter_values(overview.parameters, "autostart");
    overview.autostart = !autostart.empty() && upper(autostart.back()) == "TRUE";
    overview.sessions = static_cast<int>(list_sessions(loc).size());
    Db db(loc.database_file(), false);
    Stmt files(db.handle(), "SELECT count(*), coalesce(sum(bytes), 0) FROM vdb_datafiles");
    if (files.step()) {
        overview.data_files = static_cast<int>(files.integer(0));
        overview.data_file_bytes = files.integer(1);
    }
    return overview;
}

}  // namespace vdb
