// esqlrt: the embedded-SQL runtime of the tools, over the local instance engine.
//
// One connection per process. esql_connect reaches the instance named by
// VANTOR_HOME and VANTOR_SID in the environment. Statement texts go in as the
// embedded statements write them: a select-into names its targets in an
// into-clause (":b0, :b1 ...") that the runtime takes out and binds to the host
// variables given; every other variable (":b1", ":tblsp", "?") is an input,
// bound in the order it appears.
//
// Every call returns its code and leaves it in esql_status(): 0 done, 1403 no
// (more) rows, negative an error whose text esql_error_text gives (at most 511
// bytes). A NULL fetched into an integer host variable gives 0, so an empty SUM
// reads as 0.
//
//   int32_t n = 0;
//   esql_select_into("select count(distinct tablespace_name) into :b0  from sys.dba_data_files",
//                    {esql_into(&n)});
//
//   char name[257];
//   size_t length = 0;
//   esql_cursor files;
//   esql_open(files, "SELECT file_name FROM sys.dba_data_files WHERE tablespace_name = :tblsp",
//             {esql_in("USERS")});
//   while (esql_fetch(files, {esql_into(name, 256, &length)}) == 0) name[length] = 0, use(name);
//   esql_close(files);
//   if (esql_status().code < 0) {
//       char text[512];
//       esql_error_text(text, sizeof text);
//   }
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>

constexpr int32_t ESQL_NOT_FOUND = 1403;

// The status of the last call.
struct esql_ca {
    int32_t code;
    int64_t rows;  // rows fetched by the cursor or select, rows inserted by a statement
};
const esql_ca& esql_status();

// An output host variable: a 32-bit integer, or a text buffer. A text is cut to
// capacity: length gets the bytes stored, full_length (when given) the length of
// the whole value. A zero byte follows the text when there is room for it.
struct esql_into {
    esql_into(int32_t* integer) : integer(integer) {}
    esql_into(char* text, size_t capacity, size_t* length, size_t* full_length = nullptr)
        : text(text), capacity(capacity), length(length), full_length(full_length) {}

    int32_t* integer = nullptr;
    char* text = nullptr;
    size_t capacity = 0;
    size_t* length = nullptr;
    size_t* full_length = nullptr;
};

// An input host variable: a zero-terminated text or an integer.
struct esql_in {
    esql_in(const char* text) : text(text) {}
    esql_in(int64_t integer) : integer(integer), is_integer(true) {}

    const char* text = nullptr;
    int64_t integer = 0;
    bool is_integer = false;
};

int esql_connect(const char* user, const char* password);
// Ends the connection, rolling back what is not committed.
int esql_disconnect();

int esql_select_into(const char* statement, std::initializer_list<esql_into> into,
                     std::initializer_list<esql_in> inputs = {});

// A cursor of one query; ends with esql_close (or when the object ends).
struct esql_cursor {
    esql_cursor();
    ~esql_cursor();
    esql_cursor(const esql_cursor&) = delete;
    esql_cursor& operator=(const esql_cursor&) = delete;
    struct state;
    state* open = nullptr;
};

int esql_open(esql_cursor& cursor, const char* statement, std::initializer_list<esql_in> inputs = {});
// The next row into the host variables: 0, 1403 at the end, or an error.
int esql_fetch(esql_cursor& cursor, std::initializer_list<esql_into> into);
int esql_close(esql_cursor& cursor);

// A statement text prepared at run time, opened as a cursor with its inputs.
struct esql_statement {
    esql_statement();
    ~esql_statement();
    esql_statement(const esql_statement&) = delete;
    esql_statement& operator=(const esql_statement&) = delete;
    struct state;
    state* prepared = nullptr;
};

int esql_prepare(esql_statement& statement, const char* text);
int esql_open_prepared(esql_cursor& cursor, const esql_statement& statement, std::initializer_list<esql_in> inputs = {});

int esql_execute_immediate(const char* statement);
int esql_commit();
int esql_rollback();

// The text of the last error, zero-terminated and cut to capacity - 1 bytes;
// returns its length.
size_t esql_error_text(char* buffer, size_t capacity);

// ---- names as statement text writes them ------------------------------------

// How a name as the dictionary holds it is written in a statement or in a list
// of the utilities' parameter files, so that it reads back as itself: bare
// when it is a word in upper case, else between double quotes.
std::string esql_name_text(const char* name);
// Whether text is a name as written there, or two joined by a dot when
// qualified may be: each a word or a quoted name, and a name the database can
// hold (1 to 30 characters, no quote, dot or control character, no blank at
// either end).
bool esql_is_name_text(const char* text, bool qualified);
// Whether name, as the dictionary holds it, is one the database can hold.
bool esql_valid_name(const char* name);
