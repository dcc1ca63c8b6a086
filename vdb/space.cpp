#include "vdb/space.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "vdb/catalog.h"
#include "vdb/db.h"
#include "vdb/errors.h"

namespace vdb {

namespace {

void resize_file(const std::string& path, int64_t bytes) {
    if (truncate(path.c_str(), bytes) != 0)
        fail(code::io_failure, path + ": " + std::strerror(errno));
}

// Grows the autoextensible files of tablespace by at least need bytes.
bool extend(sqlite3* db, std::string_view tablespace, int64_t need) {
    Stmt files(db, "SELECT file_id, name, bytes, increment_bytes, max_bytes FROM vdb_datafiles "
                   "WHERE tablespace = ? AND autoextensible = 1 AND bytes < max_bytes ORDER BY file_id");
    files.bind(1, tablespace);
    Stmt grow(db, "UPDATE vdb_datafiles SET bytes = ? WHERE file_id = ?");
    while (need > 0 && files.step()) {
        int64_t bytes = files.integer(2), step = std::max<int64_t>(files.integer(3), 8192);
        int64_t room = files.integer(4) - bytes;
        int64_t growth = std::min(room, (need + step - 1) / step * step);
        resize_file(files.text(1), bytes + growth);
        grow.bind(1, bytes + growth).bind(2, files.integer(0));
        grow.run();
        grow.reset();
        need -= growth;
    }
    return need <= 0;
}

int64_t sum_of(sqlite3* db, const char* sql, std::string_view tablespace) {
    int64_t value = 0;
    query_integer(db, sql, tablespace, value);
    return value;
}

}  // namespace

void check_data_file(const DataFileRequest& request) {
    if (request.path.empty() || request.path.front() != '/')
        fail(code::datafile_error, "'" + request.path + "' is not an absolute path");
    for (char c : request.path) {
        unsigned char u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7f || c == '\'' || c == '"')
            fail(code::datafile_error, "a data file name may hold no quote or control character");
    }
    if (request.bytes < 8192) fail(code::datafile_error, request.path + ": the size must be at least 8K");
    if (request.bytes > unlimited_size) fail(code::datafile_error, request.path + ": the size is too large");
    if (request.autoextend && request.max_bytes < request.bytes)
        fail(code::datafile_error, request.path + ": the maximum size is smaller than the size");
}

bool create_data_file(const DataFileRequest& request) {
    struct stat st {};
    bool existed = stat(request.path.c_str(), &st) == 0;
    int flags = O_WRONLY | O_CREAT | O_CLOEXEC | (request.reuse ? 0 : O_EXCL);
    int fd = open(request.path.c_str(), flags, 0640);
    if (fd < 0) fail(code::datafile_error, request.path + ": " + std::strerror(errno));
    bool ok = ftruncate(fd, request.bytes) == 0;
    int saved = errno;
    close(fd);
    if (!ok) {
        if (!existed) unlink(request.path.c_str());
        fail(code::datafile_error, request.path + ": " + std::strerror(saved));
    }
    return !existed;
}

void add_data_file_record(sqlite3* db, std::string_view tablespace, const DataFileRequest& request) {
    Stmt known(db, "SELECT 1 FROM vdb_datafiles WHERE name = ?");
    known.bind(1, request.path);
    if (known.step()) fail(code::datafile_error, request.path + " already belongs to the instance");
    Stmt insert(db, "INSERT INTO vdb_datafiles(name, tablespace, bytes, autoextensible, increment_bytes, "
                    "max_bytes) VALUES (?, ?, ?, ?, ?, ?)");
    insert.bind(1, request.path).bind(2, tablespace).bind(3, request.bytes).bind(4, int64_t{request.autoextend});
    insert.bind(5, request.autoextend ? request.increment : int64_t{0});
    insert.bind(6, request.autoextend ? request.max_bytes : request.bytes);
    insert.run();
}

void charge_segment(sqlite3* db, std::string_view owner, std::string_view name, std::string_view tablespace,
                    int64_t delta) {
    if (delta > 0) {
        int64_t used = sum_of(db, "SELECT used_bytes FROM vdb_tablespaces WHERE name = ?", tablespace);
        int64_t total = sum_of(db, "SELECT sum(bytes) FROM vdb_datafiles WHERE tablespace = ?", tablespace);
        if (used + delta > total && !extend(db, tablespace, used + delta - total))
            fail(code::cannot_extend, std::string(owner) + "." + std::string(name) + " in tablespace " +
                                          std::string(tablespace));
    }
    Stmt update(db, "UPDATE vdb_segments SET bytes = max(0, bytes + ?) WHERE owner = ? AND name = ?");
    update.bind(1, delta).bind(2, owner).bind(3, name);
    update.run();
}

void check_readable(sqlite3* db, std::string_view tablespace) {
    auto record = find_tablespace(db, tablespace);
    if (record && record->status == "OFFLINE") fail(code::tablespace_offline, std::string(tablespace));
}

void check_writable(sqlite3* db, std::string_view tablespace) {
    auto record = find_tablespace(db, tablespace);
    if (!record) fail(code::tablespace_missing, std::string(tablespace));
    if (record->status == "OFFLINE") fail(code::tablespace_offline, std::string(tablespace));
    if (record->status == "READ ONLY") fail(code::tablespace_read_only, std::string(tablespace));
}

}  // namespace vdb
