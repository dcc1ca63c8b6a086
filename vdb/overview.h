// What Database Control shows of an instance, read from its own files, so
// that it can be shown in every state, down and with the service stopped
// too: no logon is made and nothing is changed.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "vdb/home.h"
#include "vdb/state.h"

namespace vdb {

struct InstanceOverview {
    State state;
    std::string started;  // local time of the start, "" while down
    bool autostart = false;
    int sessions = 0;
    int data_files = 0;
    int64_t data_file_bytes = 0;
    std::vector<Parameter> parameters;  // the parameter file's, in its order
};

// Fails with -12154 when the instance does not exist.
InstanceOverview instance_overview(const Location& loc);

}  // namespace vdb
