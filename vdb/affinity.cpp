#include "vdb/affinity.h"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <sqlite3.h>
#include <string>

namespace vdb {

namespace {

bool contains(std::string_view text, std::string_view part) { return text.find(part) != std::string_view::npos; }

bool is_space(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }
bool is_digit(char c) { return c >= '0' && c <= '9'; }

std::string_view trimmed(std::string_view text) {
    while (!text.empty() && is_space(text.front())) text.remove_prefix(1);
    while (!text.empty() && is_space(text.back())) text.remove_suffix(1);
    return text;
}

enum class NumberForm { none, integer, decimal };

// The form of a numeric literal with optional blanks around it: digits with an
// optional sign, then an optional fraction and exponent. Hexadecimal, words such
// as "inf" and anything after the number make it text.
NumberForm number_form(std::string_view text) {
    size_t i = 0, digits = 0;
    bool decimal = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) ++i;
    for (; i < text.size() && is_digit(text[i]); ++i) ++digits;
    if (i < text.size() && text[i] == '.') {
        decimal = true;
        for (++i; i < text.size() && is_digit(text[i]); ++i) ++digits;
    }
    if (digits == 0) return NumberForm::none;
    if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
        decimal = true;
        ++i;
        if (i < text.size() && (text[i] == '-' || text[i] == '+')) ++i;
        size_t exponent_digits = 0;
        for (; i < text.size() && is_digit(text[i]); ++i) ++exponent_digits;
        if (exponent_digits == 0) return NumberForm::none;
    }
    if (i != text.size()) return NumberForm::none;
    return decimal ? NumberForm::decimal : NumberForm::integer;
}

double parse_real(std::string_view text) {
    if (!text.empty() && text.front() == '+') text.remove_prefix(1);
    double value = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    // Beyond the range of a double: infinity or zero, as the C library rounds it.
    if (ec == std::errc::result_out_of_range) value = std::strtod(std::string(text).c_str(), nullptr);
    return value;
}

bool parse_integer(std::string_view text, int64_t& value) {
    if (!text.empty() && text.front() == '+') text.remove_prefix(1);
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    return ec == std::errc() && end == text.data() + text.size();
}

// A real that is a whole number strictly inside the range of a 64-bit integer
// becomes that integer.
void integer_if_whole(Value& value) {
    double r = value.real;
    if (!(r > -9223372036854775808.0 && r < 9223372036854775808.0)) return;
    auto whole = static_cast<int64_t>(r);
    if (static_cast<double>(whole) != r || whole == INT64_MAX) return;
    value = Value::of(whole);
}

void numeric_from_text(Value& value) {
    std::string_view text = trimmed(value.bytes);
    NumberForm form = number_form(text);
    if (form == NumberForm::none) return;
    int64_t whole = 0;
    if (form == NumberForm::integer && parse_integer(text, whole)) {
        value = Value::of(whole);
        return;
    }
    value = Value::of(parse_real(text));
    integer_if_whole(value);
}

void apply_numeric(Value& value) {
    if (value.type == Value::Type::text) numeric_from_text(value);
    else if (value.type == Value::Type::real) integer_if_whole(value);
}

void apply_real(Value& value) {
    apply_numeric(value);
    if (value.type == Value::Type::integer) value = Value::of(static_cast<double>(value.integer));
}

void apply_text(Value& value) {
    if (value.type == Value::Type::integer) {
        value = Value::of(std::string_view(std::to_string(value.integer)));
    } else if (value.type == Value::Type::real) {
        // SQLite's own rendering of a real as text, so that the digits match
        // those of a plain SQLite column.
        char* text = sqlite3_mprintf("%!.15g", value.real);
        if (!text) throw std::bad_alloc();
        value = Value::of(std::string_view(text));
        sqlite3_free(text);
    }
}

}  // namespace

Affinity affinity_of(std::string_view type) {
    if (contains(type, "INT")) return Affinity::integer;
    if (contains(type, "CHAR") || contains(type, "CLOB") || contains(type, "TEXT")) return Affinity::text;
    if (type.empty() || contains(type, "BLOB")) return Affinity::blob;
    if (contains(type, "REAL") || contains(type, "FLOA") || contains(type, "DOUB")) return Affinity::real;
    return Affinity::numeric;
}

void apply_affinity(Value& value, Affinity affinity) {
    if (value.type == Value::Type::real && std::isnan(value.real)) value = Value{};
    switch (affinity) {
    case Affinity::numeric:
    case Affinity::integer: apply_numeric(value); break;
    case Affinity::real: apply_real(value); break;
    case Affinity::text: apply_text(value); break;
    case Affinity::blob: break;
    }
}

}  // namespace vdb
