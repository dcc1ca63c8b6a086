// One cell of a row.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vdb {

struct Value {
    enum class Type : uint8_t { null, integer, real, text, blob };

    Type type = Type::null;
    int64_t integer = 0;
    double real = 0;
    std::string bytes;  // text or blob

    static Value of(int64_t v) { return Value{Type::integer, v, 0, {}}; }
    static Value of(double v) { return Value{Type::real, 0, v, {}}; }
    static Value of(std::string_view v) { return Value{Type::text, 0, 0, std::string(v)}; }
    static Value blob(std::string_view v) { return Value{Type::blob, 0, 0, std::string(v)}; }

    bool is_null() const { return type == Type::null; }
    // The value as a line of text shows it: NULL is empty, numbers as digits.
    std::string to_text() const;
};

using Row = std::vector<Value>;

// Bytes a cell takes in the space accounting: a length byte and its data.
constexpr int64_t cell_bytes(Value::Type type, size_t size) {
    return type == Value::Type::null      ? 1
           : type == Value::Type::integer || type == Value::Type::real ? 1 + 8
                                                                        : 1 + static_cast<int64_t>(size);
}

}  // namespace vdb
