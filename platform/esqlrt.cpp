#include "platform/esqlrt.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "vdb/session.h"
#include "vdb/sqltext.h"

namespace {

struct Runtime {
    std::unique_ptr<vdb::Session> session;
    esql_ca status{0, 0};
    std::string error;
};

Runtime& runtime() {
    static Runtime instance;
    return instance;
}

int succeed(int64_t rows = 0, int32_t code = 0) {
    runtime().status = esql_ca{code, rows};
    return code;
}

int failed(const vdb::Error& error) {
    runtime().status = esql_ca{error.code(), 0};
    runtime().error = error.what();
    return error.code();
}

vdb::Session& session() {
    if (!runtime().session) vdb::fail(vdb::code::not_logged_on);
    return *runtime().session;
}

// Runs body, turning an engine error into the status and its code.
template <typename Body>
int guarded(Body body) {
    try {
        return body();
    } catch (const vdb::Error& error) {
        return failed(error);
    } catch (const std::bad_alloc&) {
        return failed(vdb::Error(vdb::code::io_failure, "out of memory"));
    }
}

std::vector<vdb::Value> values_of(std::initializer_list<esql_in> inputs) {
    std::vector<vdb::Value> values;
    for (const auto& in : inputs) {
        if (in.is_integer)
            values.push_back(vdb::Value::of(in.integer));
        else if (in.text)
            values.push_back(vdb::Value::of(std::string_view(in.text)));
        else
            values.emplace_back();
    }
    return values;
}

// Takes the into-clause out of a select-into: the statement for the engine and
// the number of targets it named.
std::string without_into(const char* statement, size_t& targets) {
    auto tokens = vdb::tokenize(statement);
    std::string out;
    targets = 0;
    size_t i = 0;
    int depth = 0;
    bool removed = false;
    while (i < tokens.size()) {
        const auto& t = tokens[i];
        if (t.kind == vdb::TokenKind::symbol && t.text == "(") ++depth;
        if (t.kind == vdb::TokenKind::symbol && t.text == ")") --depth;
        if (!removed && depth == 0 && t.kind == vdb::TokenKind::word && t.value == "INTO") {
            removed = true;
            ++i;
            // :b0 [, :b1 ...], blanks between them included.
            while (i < tokens.size()) {
                const auto& n = tokens[i];
                if (n.kind == vdb::TokenKind::param) ++targets;
                else if (!(n.kind == vdb::TokenKind::space || (n.kind == vdb::TokenKind::symbol && n.text == ",")))
                    break;
                ++i;
            }
            continue;
        }
        out += t.text;
        ++i;
    }
    return out;
}

int32_t integer_of(const vdb::Value& value) {
    int64_t n = 0;
    switch (value.type) {
    case vdb::Value::Type::null: return 0;
    case vdb::Value::Type::integer: n = value.integer; break;
    case vdb::Value::Type::real:
        if (!std::isfinite(value.real) || std::fabs(value.real) > 2147483647.0) vdb::fail(vdb::code::integer_overflow);
        n = std::llround(value.real);
        break;
    case vdb::Value::Type::text: {
        char* end = nullptr;
        double d = std::strtod(value.bytes.c_str(), &end);
        if (value.bytes.empty() || *end) vdb::fail(vdb::code::invalid_number, value.bytes);
        if (std::fabs(d) > 2147483647.0) vdb::fail(vdb::code::integer_overflow);
        n = std::llround(d);
        break;
    }
    case vdb::Value::Type::blob: vdb::fail(vdb::code::invalid_number, "a binary value");
    }
    if (n > INT32_MAX || n < INT32_MIN) vdb::fail(vdb::code::integer_overflow);
    return static_cast<int32_t>(n);
}

void store(const vdb::Value& value, const esql_into& target) {
    if (target.integer) {
        *target.integer = integer_of(value);
        return;
    }
    std::string text = value.to_text();
    size_t stored = std::min(text.size(), target.capacity);
    if (target.text && stored) std::memcpy(target.text, text.data(), stored);
    if (target.text && stored < target.capacity) target.text[stored] = 0;
    if (target.length) *target.length = stored;
    if (target.full_length) *target.full_length = text.size();
}

void store_row(const vdb::Row& row, std::initializer_list<esql_into> into) {
    if (into.size() > row.size())
        vdb::fail(vdb::code::variables_unbound, "more host variables than the query has columns");
    size_t i = 0;
    for (const auto& target : into) store(row[i++], target);
}

}  // namespace

struct esql_cursor::state {
    std::unique_ptr<vdb::Cursor> cursor;
    int64_t rows = 0;
};

struct esql_statement::state {
    std::string text;
};

esql_cursor::esql_cursor() = default;
esql_cursor::~esql_cursor() { delete open; }
esql_statement::esql_statement() = default;
esql_statement::~esql_statement() { delete prepared; }

const esql_ca& esql_status() { return runtime().status; }

int esql_connect(const char* user, const char* password) {
    return guarded([&] {
        runtime().session.reset();
        runtime().session = vdb::Session::connect(vdb::location_from_environment(), user ? user : "",
                                                  password ? password : "");
        return succeed();
    });
}

int esql_disconnect() {
    runtime().session.reset();
    return succeed();
}

int esql_select_into(const char* statement, std::initializer_list<esql_into> into,
                     std::initializer_list<esql_in> inputs) {
    return guarded([&] {
        size_t targets = 0;
        std::string query = without_into(statement, targets);
        if (targets != into.size())
            vdb::fail(vdb::code::variables_unbound, "the into-clause names " + std::to_string(targets) +
                                                        " variables, " + std::to_string(into.size()) + " were given");
        auto cursor = session().query(query, values_of(inputs));
        vdb::Row row, extra;
        if (!cursor->fetch(row)) return succeed(0, ESQL_NOT_FOUND);
        if (cursor->fetch(extra)) vdb::fail(vdb::code::too_many_rows);
        store_row(row, into);
        return succeed(1);
    });
}

int esql_open(esql_cursor& cursor, const char* statement, std::initializer_list<esql_in> inputs) {
    return guarded([&] {
        delete cursor.open;
        cursor.open = nullptr;
        auto opened = session().query(statement, values_of(inputs));
        cursor.open = new esql_cursor::state{std::move(opened), 0};
        return succeed();
    });
}

int esql_fetch(esql_cursor& cursor, std::initializer_list<esql_into> into) {
    return guarded([&] {
        if (!cursor.open) vdb::fail(vdb::code::fetch_out_of_sequence);
        vdb::Row row;
        if (!cursor.open->cursor->fetch(row)) return succeed(cursor.open->rows, ESQL_NOT_FOUND);
        store_row(row, into);
        return succeed(++cursor.open->rows);
    });
}

int esql_close(esql_cursor& cursor) {
    return guarded([&] {
        if (!cursor.open) vdb::fail(vdb::code::fetch_out_of_sequence);
        int64_t rows = cursor.open->rows;
        delete cursor.open;
        cursor.open = nullptr;
        return succeed(rows);
    });
}

int esql_prepare(esql_statement& statement, const char* text) {
    return guarded([&] {
        vdb::tokenize(text ? text : "");
        delete statement.prepared;
        statement.prepared = new esql_statement::state{text ? text : ""};
        return succeed();
    });
}

int esql_open_prepared(esql_cursor& cursor, const esql_statement& statement, std::initializer_list<esql_in> inputs) {
    if (!statement.prepared)
        return failed(vdb::Error(vdb::code::invalid_sql, "the statement was not prepared"));
    return esql_open(cursor, statement.prepared->text.c_str(), inputs);
}

int esql_execute_immediate(const char* statement) {
    return guarded([&] { return succeed(session().execute(statement ? statement : "")); });
}

int esql_commit() {
    return guarded([&] {
        session().commit();
        return succeed();
    });
}

int esql_rollback() {
    return guarded([&] {
        session().rollback();
        return succeed();
    });
}

size_t esql_error_text(char* buffer, size_t capacity) {
    if (!buffer || capacity == 0) return 0;
    const std::string& text = runtime().error;
    size_t length = std::min({text.size(), capacity - 1, vdb::max_message});
    std::memcpy(buffer, text.data(), length);
    buffer[length] = 0;
    return length;
}

std::string esql_name_text(const char* name) { return vdb::name_text(name ? name : ""); }

bool esql_is_name_text(const char* text, bool qualified) {
    std::vector<std::string> names = vdb::read_name_text(text ? text : "");
    if (names.empty() || (names.size() > 1 && !qualified)) return false;
    return std::all_of(names.begin(), names.end(), [](const std::string& n) { return vdb::valid_name(n); });
}

bool esql_valid_name(const char* name) { return name && vdb::valid_name(name); }
