#include "vdb/home.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "vdb/errors.h"

namespace vdb {

Location location_from_environment() {
    const char* home = std::getenv("VANTOR_HOME");
    const char* sid = std::getenv("VANTOR_SID");
    return Location{home ? home : "", sid ? sid : ""};
}

bool valid_sid(std::string_view sid) {
    if (sid.empty() || sid.size() > 16 || !std::isalpha(static_cast<unsigned char>(sid[0])))
        return false;
    for (char c : sid)
        if (!std::isalnum(static_cast<unsigned char>(c))) return false;
    return true;
}

void require_instance(const Location& loc) {
    if (loc.home.empty()) fail(code::unknown_sid, "no home given (VANTOR_HOME is not set)");
    if (!valid_sid(loc.sid)) fail(code::unknown_sid, "\"" + loc.sid + "\" is not a valid SID");
    struct stat st {};
    if (stat(loc.parameter_file().c_str(), &st) != 0 || stat(loc.database_file().c_str(), &st) != 0)
        fail(code::unknown_sid, loc.sid + " in " + loc.home);
}

std::string upper(std::string_view text) {
    std::string out(text);
    for (char& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return out;
}

std::string local_time_text(std::time_t when) {
    std::tm parts{};
    localtime_r(&when, &parts);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &parts);
    return text;
}

std::string trim(std::string_view text) {
    size_t begin = 0, end = text.size();
    while (begin < end && std::isspace(static_cast<unsigned char>(text[begin]))) ++begin;
    while (end > begin && std::isspace(static_cast<unsigned char>(text[end - 1]))) --end;
    return std::string(text.substr(begin, end - begin));
}

namespace {

std::string unquote(std::string value) {
    value = trim(value);
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front())
        return value.substr(1, value.size() - 2);
    return value;
}

std::string strip_comment(std::string_view line) {
    char quote = 0;
    for (size_t i = 0; i < line.size(); ++i) {
        char c = line[i];
        if (quote) {
            if (c == quote) quote = 0;
        } else if (c == '"' || c == '\'') {
            quote = c;
        } else if (c == '#') {
            return std::string(line.substr(0, i));
        }
    }
    return std::string(line);
}

void add_values(std::vector<Parameter>& out, const std::string& name, std::string value) {
    value = trim(value);
    if (value.size() >= 2 && value.front() == '(' && value.back() == ')') {
        std::string items = value.substr(1, value.size() - 2);
        size_t start = 0;
        while (start <= items.size()) {
            size_t comma = items.find(',', start);
            if (comma == std::string::npos) comma = items.size();
            std::string item = unquote(items.substr(start, comma - start));
            if (!item.empty()) out.emplace_back(name, item);
            start = comma + 1;
        }
        return;
    }
    out.emplace_back(name, unquote(value));
}

}  // namespace

std::vector<Parameter> parse_parameters(std::string_view text) {
    std::vector<Parameter> out;
    size_t number = 0, start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string_view::npos) end = text.size();
        ++number;
        std::string line = trim(strip_comment(text.substr(start, end - start)));
        start = end + 1;
        if (line.empty()) continue;
        size_t eq = line.find('=');
        std::string name = eq == std::string::npos ? "" : trim(line.substr(0, eq));
        if (name.empty())
            fail(code::parameter_error, "line " + std::to_string(number) + " is not name = value");
        for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        add_values(out, name, line.substr(eq + 1));
    }
    return out;
}

std::vector<std::string> parameter_values(const std::vector<Parameter>& parameters,
                                          std::string_view name) {
    std::vector<std::string> values;
    for (const auto& [key, value] : parameters)
        if (key == name) values.push_back(value);
    return values;
}

std::string read_file(const std::string& path) {
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) fail(code::io_failure, path + ": " + std::strerror(errno));
    std::string text;
    char buffer[65536];
    for (;;) {
        ssize_t n = read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        text.append(buffer, static_cast<size_t>(n));
    }
    close(fd);
    return text;
}

void write_file_atomically(const std::string& path, std::string_view text) {
    std::string temporary = path + ".new" + std::to_string(getpid());
    int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) fail(code::io_failure, temporary + ": " + std::strerror(errno));
    bool ok = write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    ok = close(fd) == 0 && ok;
    if (!ok || rename(temporary.c_str(), path.c_str()) != 0) {
        std::string reason = std::strerror(errno);
        unlink(temporary.c_str());
        fail(code::io_failure, path + ": " + reason);
    }
}

}  // namespace vdb
