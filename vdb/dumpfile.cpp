#include "vdb/dumpfile.h"

#include <charconv>
#include <cstdio>
#include <cstdlib>

namespace vdb {

namespace {

constexpr char hex_digits[] = "0123456789abcdef";

// Bytes that could form a marker or break the line: escaped as \xHH.
bool needs_escape(unsigned char c) { return c < 0x20 || c == 0x7f || c == '"' || c == '\\'; }

void append_text(std::string& out, const std::string& bytes) {
    for (unsigned char c : bytes) {
        if (needs_escape(c)) {
            out += '\\';
            out += 'x';
            out += hex_digits[c >> 4];
            out += hex_digits[c & 15];
        } else {
            out += static_cast<char>(c);
        }
    }
}

int hex_value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

bool decode_text(std::string_view field, std::string& out) {
    out.clear();
    out.reserve(field.size());
    for (size_t i = 0; i < field.size(); ++i) {
        if (field[i] != '\\') {
            out += field[i];
            continue;
        }
        if (i + 3 >= field.size()) return false;
        if (field[i + 1] != 'x') return false;
        int high = hex_value(field[i + 2]), low = hex_value(field[i + 3]);
        if (high < 0 || low < 0) return false;
        out += static_cast<char>(high * 16 + low);
        i += 3;
    }
    return true;
}

bool decode_blob(std::string_view field, std::string& out) {
    if (field.size() % 2) return false;
    out.clear();
    for (size_t i = 0; i < field.size(); i += 2) {
        int high = hex_value(field[i]), low = hex_value(field[i + 1]);
        if (high < 0 || low < 0) return false;
        out += static_cast<char>(high * 16 + low);
    }
    return true;
}

bool decode_field(std::string_view field, Value& value) {
    if (field.empty()) return false;
    std::string_view body = field.substr(1);
    switch (field[0]) {
    case 'N':
        value = Value{};
        return body.empty();
    case 'I': {
        value.type = Value::Type::integer;
        auto [end, ec] = std::from_chars(body.data(), body.data() + body.size(), value.integer);
        return ec == std::errc() && end == body.data() + body.size() && !body.empty();
    }
    case 'F': {
        std::string text(body);
        char* end = nullptr;
        value.type = Value::Type::real;
        value.real = std::strtod(text.c_str(), &end);
        return !text.empty() && *end == 0;
    }
    case 'T':
        value.type = Value::Type::text;
        return decode_text(body, value.bytes);
    case 'B':
        value.type = Value::Type::blob;
        return decode_blob(body, value.bytes);
    default: return false;
    }
}

}  // namespace

void append_row_line(std::string& out, const Row& row) {
    out += row_mark;
    for (size_t i = 0; i < row.size(); ++i) {
        if (i) out += '\t';
        const Value& v = row[i];
        switch (v.type) {
        case Value::Type::null: out += 'N'; break;
        case Value::Type::integer: {
            char buffer[24];
            auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, v.integer);
            out += 'I';
            out.append(buffer, end);
            break;
        }
        case Value::Type::real: {
            // The shortest text that reads back as the same number.
            char buffer[40];
            int n = std::snprintf(buffer, sizeof buffer, "%.15g", v.real);
            if (std::strtod(buffer, nullptr) != v.real) n = std::snprintf(buffer, sizeof buffer, "%.17g", v.real);
            out += 'F';
            out.append(buffer, static_cast<size_t>(n));
            break;
        }
        case Value::Type::text:
            out += 'T';
            append_text(out, v.bytes);
            break;
        case Value::Type::blob:
            out += 'B';
            for (unsigned char c : v.bytes) {
                out += hex_digits[c >> 4];
                out += hex_digits[c & 15];
            }
            break;
        }
    }
    out += '\n';
}

bool decode_row_line(std::string_view line, Row& row) {
    if (line.empty() || line[0] != row_mark) return false;
    line.remove_prefix(1);
    size_t count = 0, start = 0;
    for (;;) {
        size_t tab = line.find('\t', start);
        std::string_view field = line.substr(start, tab == std::string_view::npos ? std::string_view::npos : tab - start);
        if (row.size() <= count) row.emplace_back();
        if (!decode_field(field, row[count++])) return false;
        if (tab == std::string_view::npos) break;
        start = tab + 1;
    }
    row.resize(count);
    return true;
}

}  // namespace vdb
