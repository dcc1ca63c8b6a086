// A connection to an instance: the one way statements reach it.
//
//   auto session = vdb::Session::connect(loc, "adam", "demo");
//   auto cursor = session->query("select username from all_users order by 1");
//   vdb::Row row;
//   while (cursor->fetch(row)) puts(row[0].to_text().c_str());
//   session->execute("insert into sales.regions values (9, 'Arctic')");
//   session->commit();
//
// Failures throw vdb::Error with a negative code. A cursor must end before its
// session does.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "vdb/catalog.h"
#include "vdb/errors.h"
#include "vdb/home.h"
#include "vdb/value.h"

namespace vdb {

enum class Logon {
    normal,          // needs the database open
    administrative,  // a DBA may also log on while it is started or mounted
    privileged,      // INTERNAL or a DBA, in any instance state: starts and stops it
};

class Stmt;

class Cursor {
public:
    // on_end runs once, at the last row or when the cursor goes.
    explicit Cursor(std::unique_ptr<Stmt> stmt, std::function<void()> on_end = {});
    ~Cursor();
    const std::vector<std::string>& columns() const { return columns_; }
    // The next row into row; false at the end.
    bool fetch(Row& row);

private:
    std::unique_ptr<Stmt> stmt_;
    std::vector<std::string> columns_;
    bool done_ = false;
    std::function<void()> on_end_;
    void end();
};

// Bulk insertion into one table, for the import utility and the demo data.
class RowWriter {
public:
    virtual ~RowWriter() = default;
    virtual size_t columns() const = 0;
    virtual void add(const Row& row) = 0;
    // Charges the space of the rows added so far; done on its own every few rows.
    virtual void flush() = 0;
    virtual int64_t rows() const = 0;
};

// The rows of one table in row order, for the export utility.
class RowReader {
public:
    virtual ~RowReader() = default;
    // The next row into row; false at the end.
    virtual bool fetch(Row& row) = 0;
};

// What the export utility writes to recreate a user.
struct UserDefinition {
    std::string name;
    std::string password_hash;
    std::string default_tablespace;
    std::vector<std::string> roles;
};

struct TablespaceDefinition {
    std::string name;
    std::string contents;
    struct File {
        std::string path;
        int64_t bytes;
        bool autoextend;
        int64_t increment;
        int64_t max_bytes;
    };
    std::vector<File> files;
};

class Session {
public:
    static std::unique_ptr<Session> connect(const Location& loc, std::string_view user, std::string_view password,
                                            Logon kind = Logon::normal);
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // A SELECT (or WITH) statement; binds fill its parameters (:name or ?) in order.
    std::unique_ptr<Cursor> query(std::string_view sql, const std::vector<Value>& binds = {});
    // Any other statement; returns the rows it inserted. A data change stays in
    // the session's transaction until commit; a dictionary change commits at once.
    int64_t execute(std::string_view sql, const std::vector<Value>& binds = {});
    void commit();
    void rollback();

    // For a bulk import: each commit stays atomic and survives a killed process,
    // but the commits reach the disk together at sync() instead of one by one.
    void defer_sync();
    // Makes every commit so far durable.
    void sync();

    std::unique_ptr<RowWriter> row_writer(std::string_view owner, std::string_view table);
    // Checks that the table may be read (privilege, tablespace online) first.
    std::unique_ptr<RowReader> row_reader(std::string_view owner, std::string_view table);

    // What a utility does now ("exporting SALES.ORDERS: 4096 rows"): the session
    // shows it, active, until an empty action. Checks that the session may go on:
    // fails with -3100 once an administrator ended it, -1034 once the instance is down.
    void progress(std::string_view action);

    // The schema of the session (SYS for INTERNAL) and whether it holds the DBA role.
    const std::string& user() const;
    bool is_dba() const;
    const Location& location() const;

    // Dictionary records for the utilities; other users' objects need the DBA role.
    std::vector<SegmentRecord> tables(std::string_view owner = {});
    // One table, or nothing when there is no such table.
    std::optional<SegmentRecord> table(std::string_view owner, std::string_view name);
    std::vector<SegmentRecord> indexes(std::string_view owner, std::string_view table);
    std::vector<std::string> user_names();
    UserDefinition user_definition(std::string_view name);
    std::vector<TablespaceDefinition> tablespace_definitions();

    // Instance control of a privileged session.
    void startup(std::string_view parameter_text, bool force);
    void shutdown(int mode);

private:
    struct Impl;
    explicit Session(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

}  // namespace vdb
