#include "support/utility_probe.h"

#include <filesystem>
#include <sstream>

#include <gtest/gtest.h>

probe_home::probe_home(const std::string& utility, bool with_probe, const std::string& tail) {
    const std::string program = "bin/" + utility;
    if (!with_probe) {
        remove(program);
        return;
    }
    write(program,
          "#!/bin/sh\n"
          "file=${1#PARFILE=}\n"
          "echo \"argument: $1\" >&2\n"
          "echo \"arguments: $#\" >&2\n"
          "echo \"directory: $(pwd)\" >&2\n"
          "echo \"mode: $(stat -c %a \"$file\")\" >&2\n"
          "echo '--' >&2\n"
          "cat \"$file\" >&2\n" +
              tail,
          true);
}

probe_report read_probe(const std::string& page) {
    probe_report report;
    size_t start = page.find("<pre>"), end = page.find("</pre>");
    if (start == std::string::npos || end == std::string::npos) return report;
    std::istringstream text(page.substr(start + 5, end - start - 5));
    bool in_file = false;
    for (std::string line; std::getline(text, line);) {
        if (line == "--") in_file = true;
        else (in_file ? report.lines : report.about).push_back(line);
    }
    return report;
}

std::vector<std::string> parameter_files(const std::string& home, const std::string& prefix) {
    std::vector<std::string> out;
    for (const auto& entry : std::filesystem::directory_iterator(home + "/export"))
        if (entry.path().filename().string().rfind(prefix, 0) == 0) out.push_back(entry.path());
    return out;
}

void expect_started_plainly(const probe_report& probe, const std::string& home, const std::string& prefix) {
    std::string reported;
    for (const auto& line : probe.about) reported += line + "\n";
    ASSERT_EQ(probe.about.size(), 4u) << reported;
    std::string argument = "argument: PARFILE=" + home + "/export/" + prefix;
    EXPECT_EQ(probe.about[0].rfind(argument, 0), 0u) << probe.about[0];
    EXPECT_TRUE(probe.about[0].size() > argument.size() &&
                probe.about[0].find_first_not_of("0123456789", argument.size()) == std::string::npos)
        << probe.about[0];
    EXPECT_EQ(probe.about[1], "arguments: 1");
    EXPECT_EQ(probe.about[2], "directory: " + home);
    EXPECT_EQ(probe.about[3], "mode: 400");
}
