// The scan of an export file: two markers, "CREATE TABLE \"" before each table
// name and a line end followed by "CONNECT " before each change of schema.
#include "i/kviscan.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>

#include "platform/os.h"

namespace {

constexpr char TABLE_MARKER[] = "CREATE TABLE \"";
constexpr size_t TABLE_LAST = sizeof TABLE_MARKER - 2;
constexpr char USER_MARKER[] = "\nCONNECT ";
constexpr size_t USER_LAST = sizeof USER_MARKER - 2;
constexpr size_t READ_SIZE = 65536;

// Bytes of a file through a buffer: one system call per 64 KiB, not per byte.
class byte_reader {
public:
    explicit byte_reader(FILE* file) : file_(file) {}

    int next() {
        if (at_ == end_ && !refill()) return EOF;
        return static_cast<unsigned char>(buffer_[at_++]);
    }

    int peek() {
        if (at_ == end_ && !refill()) return EOF;
        return static_cast<unsigned char>(buffer_[at_]);
    }

    // Moves to the next byte that is one of the two given (or to the end).
    // Where each of them stands next in the buffer is kept, so a byte that
    // comes often costs no second search for the other.
    void skip_to(char first, char second) {
        for (;;) {
            if (at_ == end_ && !refill()) return;
            if (next_first_ == UNKNOWN || next_first_ < at_) next_first_ = find(first);
            if (next_second_ == UNKNOWN || next_second_ < at_) next_second_ = find(second);
            at_ = std::min(next_first_, next_second_);
            if (at_ < end_) return;
        }
    }

    // One line without its line end; false at the end of the file.
    bool line(std::string* text) {
        text->clear();
        int c;
        while ((c = next()) != EOF && c != '\n') text->push_back(static_cast<char>(c));
        if (c == EOF && text->empty()) return false;
        if (!text->empty() && text->back() == '\r') text->pop_back();
        return true;
    }

    // A name: everything up to a line end, a carriage return, a quotation mark
    // or the end of the file. The byte that ends it is consumed, and so is the
    // line feed after a carriage return: a file with CR LF line ends must read
    // as the same file with LF ones, where the line end after a CONNECT name
    // is consumed and the CONNECT line after it is therefore no marker.
    std::string name() {
        std::string text;
        int c;
        while ((c = next()) != EOF && c != '\n' && c != '\r' && c != '"') text.push_back(static_cast<char>(c));
        if (c == '\r' && peek() == '\n') next();
        return text;
    }

private:
    bool refill() {
        end_ = std::fread(buffer_, 1, READ_SIZE, file_);
        at_ = 0;
        next_first_ = next_second_ = UNKNOWN;
        return end_ > 0;
    }

    size_t find(char c) const {
        const void* found = std::memchr(buffer_ + at_, c, end_ - at_);
        return found ? static_cast<const char*>(found) - buffer_ : end_;
    }

    FILE* file_;
    char buffer_[READ_SIZE];
    size_t at_ = 0, end_ = 0;
    static constexpr size_t UNKNOWN = static_cast<size_t>(-1);
    size_t next_first_ = UNKNOWN, next_second_ = UNKNOWN;  // where each byte skip_to looks for stands next
};

// A CONNECT BY clause of a stored query is no change of schema.
bool acceptable_user(const std::string& name) {
    return !name.empty() && name.find(' ') == std::string::npos && name.compare(0, 2, "BY") != 0;
}

void add_user(std::vector<std::string>& users, const std::string& name) {
    if (std::find(users.begin(), users.end(), name) == users.end()) users.push_back(name);
}

void scan_markers(byte_reader& in, std::string current, kvi_scan_result* result) {
    size_t table_at = 0, user_at = 0;
    for (int c;;) {
        // With no marker begun, only the first byte of one can change anything.
        if (table_at == 0 && user_at == 0) in.skip_to(TABLE_MARKER[0], USER_MARKER[0]);
        if ((c = in.next()) == EOF) break;
        bool used = false;
        if (c == TABLE_MARKER[table_at]) {
            if (table_at == TABLE_LAST) {
                result->tables.push_back(in.name());
                result->owners.push_back(current);
                table_at = user_at = 0;
                used = true;
            } else {
                ++table_at;
            }
        } else {
            table_at = c == TABLE_MARKER[0] ? 1 : 0;
        }
        if (!used && c == USER_MARKER[user_at]) {
            if (user_at == USER_LAST) {
                std::string name = in.name();
                if (acceptable_user(name)) {
                    current = name;
                    add_user(result->users, name);
                }
                table_at = user_at = 0;
            } else {
                ++user_at;
            }
        } else {
            user_at = c == '\n' ? 1 : 0;
        }
    }
}

}  // namespace

int kvi_scan_file(const char* path, kvi_scan_result* result) {
    *result = kvi_scan_result{};
    // Only a regular file is read: a pipe or a device named in the export
    // directory would hold the request forever.
    FILE* file = os_open_regular_file(path);
    if (!file) return 1011;
    auto in = std::make_unique<byte_reader>(file);
    std::string header, second;
    bool readable = in->line(&header) && in->line(&second);
    if (readable) {
        // The exporting user follows the one leading character of line two.
        std::string exporter = second.empty() ? "" : second.substr(1);
        if (!exporter.empty()) add_user(result->users, exporter);
        scan_markers(*in, exporter, result);
    }
    bool failed = std::ferror(file);
    std::fclose(file);
    if (!readable || failed) {
        *result = kvi_scan_result{};
        return 1011;
    }
    std::reverse(result->tables.begin(), result->tables.end());
    std::reverse(result->owners.begin(), result->owners.end());
    std::reverse(result->users.begin(), result->users.end());
    return 0;
}
