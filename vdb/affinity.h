// How a column's declared type shapes the values it stores.
//
// A value keeps the kind it was given unless its column's type says otherwise:
// a NUMBER column stores the text '5' as the number 5, a VARCHAR2 column stores
// the number 5 as the text '5'. The rules are the ones SQLite applies to a
// column of the same declared type, so stored rows compare, sort and export
// exactly as rows of a plain SQLite table would.
#pragma once

#include <string_view>

#include "vdb/value.h"

namespace vdb {

enum class Affinity { text, numeric, integer, real, blob };

// The affinity of a declared type such as NUMBER(10,2) or VARCHAR2(40).
Affinity affinity_of(std::string_view declared_type);

// Converts value in place as a column of the affinity stores it. A real that is
// not a number (NaN) becomes NULL, as everywhere in the engine.
void apply_affinity(Value& value, Affinity affinity);

}  // namespace vdb
