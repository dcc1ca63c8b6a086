// kverrdoc TEMPLATE OUTPUT: writes the error help with an entry for every
// error code of the instance engine. A tool shows a database error under its
// own prefix (KVX-TSPINF-959 links to error.htm#kvx959), and any code can
// reach any tool, so each code gets an anchor for every prefix that the
// template does not already describe in a tool's own words.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "vdb/errors.h"

namespace {

// The prefixes of the tools that show the database's errors.
constexpr const char* PREFIXES[] = {"kvla", "kve", "kvi", "kvx", "kvb", "kvd", "kvu", "kvs"};
constexpr const char* MARKER = "<!-- database errors -->";

std::set<std::string> anchors_of(const std::string& page) {
    std::set<std::string> out;
    const std::string opening = "<a name=\"";
    for (size_t at = page.find(opening); at != std::string::npos; at = page.find(opening, at + 1)) {
        size_t start = at + opening.size();
        out.insert(page.substr(start, page.find('"', start) - start));
    }
    return out;
}

std::string escaped(std::string_view text) {
    std::string out;
    for (char c : text) {
        if (c == '&') out += "&amp;";
        else if (c == '<') out += "&lt;";
        else if (c == '>') out += "&gt;";
        else out += c;
    }
    return out;
}

std::string section(const std::set<std::string>& present) {
    std::vector<vdb::CodeText> codes(vdb::all_codes().begin(), vdb::all_codes().end());
    std::sort(codes.begin(), codes.end(), [](const auto& a, const auto& b) { return -a.code < -b.code; });
    std::ostringstream out;
    for (const vdb::CodeText& entry : codes) {
        std::string number = std::to_string(-entry.code);
        std::string anchors;
        for (const char* prefix : PREFIXES)
            if (!present.count(prefix + number)) anchors += "<a name=\"" + std::string(prefix) + number + "\"></a>";
        out << "<h3>" << anchors << "Database error " << number << "</h3>\n"
            << "<p>" << escaped(entry.text) << ".</p>\n";
    }
    return out.str();
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: kverrdoc TEMPLATE OUTPUT\n");
        return 2;
    }
    std::ifstream in(argv[1], std::ios::binary);
    std::string page((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    size_t marker = page.find(MARKER);
    if (!in || marker == std::string::npos) {
        std::fprintf(stderr, "kverrdoc: %s is no error help template\n", argv[1]);
        return 1;
    }
    page.replace(marker, std::string(MARKER).size(), section(anchors_of(page)));
    std::ofstream out(argv[2], std::ios::binary | std::ios::trunc);
    out << page;
    out.close();
    if (!out) {
        std::fprintf(stderr, "kverrdoc: cannot write %s\n", argv[2]);
        return 1;
    }
    return 0;
}
