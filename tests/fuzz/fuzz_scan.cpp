// The import tool's scan of an export file, against a plain byte-at-a-time
// reading of the same rules: the scan skips ahead where nothing can match, and
// must find exactly what the plain reading finds.
#include <algorithm>

#include "fuzz_input.h"
#include "i/kviscan.h"

namespace {

struct plain_scan {
    const std::string& text;
    size_t at = 0;

    int next() { return at < text.size() ? static_cast<unsigned char>(text[at++]) : -1; }
    std::string line() {
        std::string out;
        int c;
        while ((c = next()) != -1 && c != '\n') out += static_cast<char>(c);
        if (!out.empty() && out.back() == '\r') out.pop_back();
        return out;
    }
    std::string name() {
        std::string out;
        int c;
        while ((c = next()) != -1 && c != '\n' && c != '\r' && c != '"') out += static_cast<char>(c);
        // A carriage return and line feed end a name as one line end.
        if (c == '\r' && at < text.size() && text[at] == '\n') ++at;
        return out;
    }
};

// The expected result; false when the file has fewer than two lines.
bool expected(const std::string& text, kvi_scan_result* r) {
    static const std::string A = "CREATE TABLE \"", B = "\nCONNECT ";
    plain_scan in{text};
    // Two lines: something must follow the first line end.
    size_t first_end = text.find('\n');
    if (first_end == std::string::npos || first_end + 1 == text.size()) return false;
    in.line();
    std::string current = in.line();
    current = current.empty() ? "" : current.substr(1);
    auto add_user = [&](const std::string& u) {
        if (std::find(r->users.begin(), r->users.end(), u) == r->users.end()) r->users.push_back(u);
    };
    if (!current.empty()) add_user(current);
    size_t a = 0, b = 0;
    for (int c; (c = in.next()) != -1;) {
        bool used = false;
        if (c == A[a]) {
            if (a == A.size() - 1) {
                r->tables.push_back(in.name());
                r->owners.push_back(current);
                a = b = 0;
                used = true;
            } else {
                ++a;
            }
        } else {
            a = c == 'C' ? 1 : 0;
        }
        if (!used && c == B[b]) {
            if (b == B.size() - 1) {
                std::string u = in.name();
                if (!u.empty() && u.find(' ') == std::string::npos && u.compare(0, 2, "BY") != 0) {
                    current = u;
                    add_user(u);
                }
                a = b = 0;
            } else {
                ++b;
            }
        } else {
            b = c == '\n' ? 1 : 0;
        }
    }
    std::reverse(r->tables.begin(), r->tables.end());
    std::reverse(r->owners.begin(), r->owners.end());
    std::reverse(r->users.begin(), r->users.end());
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    kvi_scan_result got, want;
    int result = kvi_scan_file(input_file(data, size).c_str(), &got);
    bool readable = expected(text, &want);
    if ((result == 0) != readable) __builtin_trap();
    if (readable && (got.tables != want.tables || got.owners != want.owners || got.users != want.users))
        __builtin_trap();
    return 0;
}
