// The export file, one statement or row a line:
//
//   VANTOR EXPORT FILE 1                      header
//   DSYSTEM                                   "D" and the exporting user
//   -- comment                                so that line 3 is never a schema line
//   CREATE TABLESPACE / CREATE USER / GRANT   definitions of a full or user export
//   CONNECT SALES                             each change of schema, just before a table
//   CREATE TABLE "ORDERS" (...) TABLESPACE "USERS"
//   +I1<TAB>TSmith                            one line per row
//   CREATE INDEX "ORDERS_IX" ON "ORDERS" ("CUSTOMER") TABLESPACE "USERS"
//
// Readers of the file find tables by the text CREATE TABLE followed by a blank
// and a double quote, and schemas by a line end followed by CONNECT and a blank.
// Rows are written so that neither can come from data: a row line starts with
// "+", and a double quote, a backslash and every control byte of a value are
// escaped. Names hold no double quote or control byte and no blank at either end.
#pragma once

#include <string>
#include <string_view>

#include "vdb/value.h"

namespace vdb {

constexpr std::string_view export_header = "VANTOR EXPORT FILE 1";
constexpr std::string_view connect_prefix = "CONNECT ";
constexpr std::string_view table_prefix = "CREATE TABLE \"";
constexpr char row_mark = '+';

// Appends the row line (with its line end) to out.
void append_row_line(std::string& out, const Row& row);

// Decodes a row line (without its line end) into row; false when it is malformed.
bool decode_row_line(std::string_view line, Row& row);

}  // namespace vdb
