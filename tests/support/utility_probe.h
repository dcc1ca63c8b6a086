// A probe in place of the export or import utility, for the tests of the
// tools that start one: what it was started with and what the parameter file
// held, read from the page the tool copies the utility's output into.
#pragma once

#include <string>
#include <vector>

#include "support/cgi_run.h"

// A scratch home whose utility (bin/dbdump or bin/dbload) is the probe: it
// reports how it was started and what the parameter file holds, so that the
// file can be read although the tool removes it, then runs the shell lines of
// tail. Without a probe the home has no such utility at all.
class probe_home : public scratch_home {
public:
    explicit probe_home(const std::string& utility, bool with_probe = true, const std::string& tail = "");
};

// What the probe reported: its lines before "--", then the file's lines.
struct probe_report {
    std::vector<std::string> about;
    std::vector<std::string> lines;
};
probe_report read_probe(const std::string& page);

// The parameter files, the names beginning with prefix, in home's export directory.
std::vector<std::string> parameter_files(const std::string& home, const std::string& prefix);

// That the utility was started without a shell, in home, with one argument
// naming a parameter file prefix<number> of the export directory that was
// readable by its owner only.
void expect_started_plainly(const probe_report& probe, const std::string& home, const std::string& prefix);
