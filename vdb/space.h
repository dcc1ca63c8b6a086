// Data files and the space that tables and indexes take in their tablespaces.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

struct sqlite3;

namespace vdb {

struct DataFileRequest {
    std::string path;
    int64_t bytes = 0;
    bool autoextend = false;
    int64_t increment = 0;
    int64_t max_bytes = 0;  // when autoextend; unlimited_size for UNLIMITED
    bool reuse = false;     // an existing file may be taken over
};

constexpr int64_t unlimited_size = int64_t(32) * 1024 * 1024 * 1024;

// Checks the path (absolute, no quote or control character) and the sizes.
void check_data_file(const DataFileRequest& request);

// Creates the file sparse at its size. An existing path is an error unless the
// request says reuse. Returns true when a new file was made.
bool create_data_file(const DataFileRequest& request);

// Enters a data file of tablespace into the dictionary (its name must be free).
void add_data_file_record(sqlite3* db, std::string_view tablespace, const DataFileRequest& request);

// Adds delta bytes to a segment, growing autoextensible data files when the
// tablespace is full; fails with -1653 when it cannot.
void charge_segment(sqlite3* db, std::string_view owner, std::string_view name, std::string_view tablespace,
                    int64_t delta);

// Fails unless rows may be written into a table of the tablespace (-376, -372).
void check_writable(sqlite3* db, std::string_view tablespace);
// Fails unless rows may be read from a table of the tablespace (-376).
void check_readable(sqlite3* db, std::string_view tablespace);

// Bytes a row takes: a header plus its cells.
constexpr int64_t row_overhead = 3;

}  // namespace vdb
