#include "vdb/event_log.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

namespace vdb {
namespace {

std::string one_line(std::string_view text) {
    std::string line(text);
    for (char& c : line)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = ' ';
    return line;
}

}  // namespace

void log_event(const Location& loc, std::string_view text) {
    std::string line = local_time_text(std::time(nullptr)) + " " + one_line(text) + "\n";
    // One write of an O_APPEND file: parallel processes never interleave a line.
    int fd = open(loc.event_log_file().c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0 || write(fd, line.data(), line.size()) != static_cast<ssize_t>(line.size()))
        std::fprintf(stderr, "vdb: cannot write the event log %s: %s\n", loc.event_log_file().c_str(),
                     std::strerror(errno));
    if (fd >= 0) close(fd);
}

std::vector<std::string> event_log_tail(const Location& loc, std::size_t count) {
    std::vector<std::string> lines;
    if (count == 0) return lines;
    int fd = open(loc.event_log_file().c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0) return lines;
    // Reads backwards in blocks until count line ends lie before the end.
    off_t end = lseek(fd, 0, SEEK_END);
    std::string tail;
    std::size_t breaks = 0;
    off_t at = end;
    while (at > 0 && breaks <= count) {
        off_t step = at < 8192 ? at : 8192;
        at -= step;
        std::string block(static_cast<std::size_t>(step), '\0');
        if (pread(fd, block.data(), block.size(), at) != step) break;
        for (char c : block) breaks += c == '\n';
        tail.insert(0, block);
    }
    close(fd);
    std::size_t begin = 0;
    while (begin < tail.size()) {
        std::size_t next = tail.find('\n', begin);
        if (next == std::string::npos) next = tail.size();
        lines.emplace_back(tail, begin, next - begin);
        begin = next + 1;
    }
    if (at > 0 && !lines.empty()) lines.erase(lines.begin());  // cut in the middle of a line
    if (lines.size() > count) lines.erase(lines.begin(), lines.end() - static_cast<std::ptrdiff_t>(count));
    return lines;
}

void create_event_log(const Location& loc) {
    int fd = open(loc.event_log_file().c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd >= 0) close(fd);
}

}  // namespace vdb
