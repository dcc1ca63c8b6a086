#include "vdb/dump.h"

#include <cerrno>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <memory>
#include <unistd.h>

#include "vdb/columns.h"
#include "vdb/dumpfile.h"
#include "vdb/session.h"
#include "vdb/sessions.h"
#include "vdb/space.h"
#include "vdb/sqltext.h"

namespace vdb {

const std::initializer_list<std::string_view> export_parameters = {
    "USERID", "FILE",   "LOG",        "FULL",   "OWNER",   "TABLES",   "ROWS",       "GRANTS",   "INDEXES",
    "CONSTRAINTS", "BUFFER", "RECORDLENGTH", "COMPRESS", "RECORD", "CONSISTENT", "INCTYPE", "STATISTICS", "FEEDBACK"};

namespace {

// How often a run shows its progress and checks that its session may go on.
constexpr int64_t progress_rows = 4096;

// The export file, written through a large buffer into a file without a name
// that gets its name only when the export is complete: a run that is killed
// leaves nothing in the directory. A table that fails half way is cut off again.
class ExportFile {
public:
    explicit ExportFile(std::string path) : path_(std::move(path)), temporary_(path_ + ".part" + std::to_string(getpid())) {
        size_t slash = path_.rfind('/');
        std::string directory = slash == std::string::npos ? "." : slash == 0 ? "/" : path_.substr(0, slash);
        fd_ = open(directory.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0644);
        // A file system without unnamed files gets a temporary name instead.
        unnamed_ = fd_ >= 0;
        if (!unnamed_) fd_ = open(temporary_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (fd_ < 0) fail(code::io_failure, "cannot create the export file " + path_ + ": " + std::strerror(errno));
    }
    ~ExportFile() {
        if (fd_ >= 0) {
            close(fd_);
            if (!unnamed_) unlink(temporary_.c_str());
        }
    }

    std::string& buffer() { return buffer_; }
    void line(const std::string& text) {
        buffer_ += text;
        buffer_ += '\n';
        if (buffer_.size() >= (1 << 20)) flush();
    }
    void maybe_flush() {
        if (buffer_.size() >= (1 << 20)) flush();
    }
    long long position() const { return written_ + static_cast<long long>(buffer_.size()); }

    void cut_back(long long position) {
        if (position >= written_) {
            buffer_.resize(static_cast<size_t>(position - written_));
            return;
        }
        buffer_.clear();
        if (ftruncate(fd_, position) != 0 || lseek(fd_, position, SEEK_SET) < 0)
            fail(code::io_failure, path_ + ": " + std::strerror(errno));
        written_ = position;
    }

    void flush() {
        size_t done = 0;
        while (done < buffer_.size()) {
            ssize_t n = write(fd_, buffer_.data() + done, buffer_.size() - done);
            if (n < 0 && errno == EINTR) {
                // Interrupted while blocked: by the administrator's signal, the run ends.
                if (stop_requested()) fail(code::session_ended);
                continue;
            }
            if (n <= 0) fail(code::io_failure, "writing " + path_ + ": " + std::strerror(errno));
            done += static_cast<size_t>(n);
        }
        written_ += static_cast<long long>(buffer_.size());
        buffer_.clear();
    }

    void commit() {
        flush();
        // The complete file gets the temporary name for the moment of the
        // rename that puts it in place (a link cannot replace a file).
        if (unnamed_) {
            std::string self = "/proc/self/fd/" + std::to_string(fd_);
            if (linkat(AT_FDCWD, self.c_str(), AT_FDCWD, temporary_.c_str(), AT_SYMLINK_FOLLOW) != 0)
                fail(code::io_failure, path_ + ": " + std::strerror(errno));
            unnamed_ = false;
        }
        if (fsync(fd_) != 0 || close(fd_) != 0) {
            fd_ = -1;
            unlink(temporary_.c_str());
            fail(code::io_failure, path_ + ": " + std::strerror(errno));
        }
        fd_ = -1;
        if (rename(temporary_.c_str(), path_.c_str()) != 0) {
            unlink(temporary_.c_str());
            fail(code::io_failure, path_ + ": " + std::strerror(errno));
        }
    }

private:
    std::string path_, temporary_;
    int fd_ = -1;
    bool unnamed_ = false;
    std::string buffer_;
    long long written_ = 0;
};

struct ExportOptions {
    std::string file;
    bool full, rows, grants, indexes, constraints;
    std::vector<std::string> owners;
    std::vector<QualifiedName> tables;
};

ExportOptions read_options(const UtilityParameters& p) {
    ExportOptions o{p.value("FILE", "expdat.dmp"), p.flag("FULL", false), p.flag("ROWS", true), p.flag("GRANTS", true),
                    p.flag("INDEXES", true), p.flag("CONSTRAINTS", true), {}, {}};
    for (const auto& item : p.list("OWNER")) o.owners.push_back(list_name(item));
    for (const auto& item : p.list("TABLES")) o.tables.push_back(list_table(item));
    if (o.file.empty()) throw ParameterError("FILE names no file");
    if (int(o.full) + int(p.has("OWNER")) + int(p.has("TABLES")) > 1)
        throw ParameterError("FULL, OWNER and TABLES exclude one another: give one of them");
    if (p.has("OWNER") && o.owners.empty()) throw ParameterError("OWNER lists no user");
    if (p.has("TABLES") && o.tables.empty()) throw ParameterError("TABLES lists no table");
    p.number("BUFFER", 4096);
    p.number("RECORDLENGTH", 1024);
    p.flag("COMPRESS", true);
    p.flag("RECORD", true);
    p.flag("CONSISTENT", false);
    p.choice("INCTYPE", {"COMPLETE", "CUMULATIVE", "INCREMENTAL"}, "");
    p.choice("STATISTICS", {"ESTIMATE", "COMPUTE", "NONE"}, "");
    return o;
}

std::string size_clause(int64_t bytes) { return std::to_string(bytes); }

std::string tablespace_line(const TablespaceDefinition& ts) {
    std::string line = "CREATE TABLESPACE " + quote_name(ts.name) + " DATAFILE ";
    for (size_t i = 0; i < ts.files.size(); ++i) {
        const auto& f = ts.files[i];
        line += (i ? ", '" : "'") + f.path + "' SIZE " + size_clause(f.bytes);
        if (!f.autoextend) {
            line += " AUTOEXTEND OFF";
            continue;
        }
        line += " AUTOEXTEND ON NEXT " + size_clause(f.increment) + " MAXSIZE " +
                (f.max_bytes >= unlimited_size ? std::string("UNLIMITED") : size_clause(f.max_bytes));
    }
    return line + (ts.contents == "TEMPORARY" ? " TEMPORARY" : "");
}

class Exporter {
public:
    Exporter(Session& session, const ExportOptions& options, Report& report, ExportFile& file)
        : session_(session), options_(options), report_(report), file_(file) {}

    void header(std::string_view mode) {
        char when[32];
        std::time_t now = std::time(nullptr);
        std::strftime(when, sizeof when, "%Y-%m-%d %H:%M:%S", std::localtime(&now));
        file_.line(std::string(export_header));
        file_.line("D" + session_.user());
        file_.line("-- " + std::string(mode) + " export of instance " + session_.location().sid + " by " +
                   session_.user() + " on " + when);
    }

    void tablespaces() {
        report_.line(". exporting tablespace definitions");
        for (const auto& ts : session_.tablespace_definitions())
            if (ts.name != "SYSTEM" && !ts.files.empty()) file_.line(tablespace_line(ts));
    }

    void users(const std::vector<std::string>& names) {
        report_.line(". exporting user definitions" + std::string(options_.grants ? " and their roles" : ""));
        std::vector<UserDefinition> definitions;
        for (const auto& name : names) definitions.push_back(session_.user_definition(name));
        for (const auto& user : definitions)
            file_.line("CREATE USER " + quote_name(user.name) + " IDENTIFIED BY VALUES " +
                       quote_literal(user.password_hash) + " DEFAULT TABLESPACE " + quote_name(user.default_tablespace));
        if (!options_.grants) return;
        for (const auto& user : definitions)
            for (const auto& role : user.roles) file_.line("GRANT " + quote_name(role) + " TO " + quote_name(user.name));
    }

    void table(const SegmentRecord& table) {
        long long start = file_.position();
        std::string connected = connected_;
        try {
            int64_t rows = write_table(table);
            report_.line(". . exporting table " + table.owner + "." + table.name + " " + std::to_string(rows) +
                         " rows exported");
        } catch (const Error& error) {
            if (ends_the_run(error.code())) throw;
            file_.cut_back(start);
            connected_ = connected;
            report_.warning(". . table " + table.owner + "." + table.name + " was not exported: error " +
                            std::to_string(error.code()) + ": " + error.what());
        }
    }

private:
    int64_t write_table(const SegmentRecord& table) {
        // Opening the reader first checks that the table can be read at all, before
        // anything of it is written.
        auto reader = session_.row_reader(table.owner, table.name);
        if (connected_ != table.owner) {
            file_.line(std::string(connect_prefix) + table.owner);
            connected_ = table.owner;
        }
        std::string definition =
            options_.constraints ? table.definition : definition_text(parse_table_definition(table.definition), false);
        file_.line(std::string(table_prefix) + table.name + "\" (" + definition + ") TABLESPACE " +
                   quote_name(table.tablespace));
        int64_t rows = 0;
        if (options_.rows) {
            Row row;
            std::string what = "exporting " + table.owner + "." + table.name + ": ";
            session_.progress(what + "0 rows");
            while (reader->fetch(row)) {
                append_row_line(file_.buffer(), row);
                file_.maybe_flush();
                if (++rows % progress_rows == 0) session_.progress(what + std::to_string(rows) + " rows");
            }
        }
        if (options_.indexes)
            for (const auto& index : session_.indexes(table.owner, table.name))
                file_.line(std::string(index.unique ? "CREATE UNIQUE INDEX " : "CREATE INDEX ") + quote_name(index.name) +
                           " ON " + quote_name(table.name) + " (" + index.definition + ") TABLESPACE " +
                           quote_name(index.tablespace));
        return rows;
    }

    Session& session_;
    const ExportOptions& options_;
    Report& report_;
    ExportFile& file_;
    std::string connected_;
};

// The tables named by TABLES, each OWNER.NAME or NAME of the exporting user.
// A run that finds none of them has nothing to export: it fails before the
// export file is written, so that an existing file of the name stays.
std::vector<SegmentRecord> listed_tables(Session& session, const ExportOptions& options, Report& report) {
    std::vector<SegmentRecord> out;
    for (const auto& item : options.tables) {
        std::string owner = item.owner.empty() ? session.user() : item.owner;
        std::optional<SegmentRecord> table;
        try {
            table = session.table(owner, item.name);
        } catch (const Error& error) {
            if (ends_the_run(error.code())) throw;
        }
        if (table)
            out.push_back(std::move(*table));
        else
            report.warning(". . table " + name_text(owner) + "." + name_text(item.name) + " was not found or may not be read");
    }
    if (out.empty()) throw ParameterError("no table that TABLES lists was found: nothing was exported");
    return out;
}

}  // namespace

int run_export(const UtilityParameters& parameters, Session& session, Report& report) {
    ExportOptions options = read_options(parameters);
    // One read transaction: every table is exported as of the same moment.
    session.execute("SET TRANSACTION READ ONLY");

    std::vector<SegmentRecord> tables;
    std::vector<std::string> users;
    std::string mode;
    if (options.full) {
        if (!session.is_dba()) fail(code::no_privilege, "FULL=Y needs the DBA role");
        mode = "full database";
        users = session.user_names();
        tables = session.tables();
    } else if (!options.owners.empty()) {
        mode = "user";
        for (const auto& owner : options.owners) {
            session.user_definition(owner);
            auto owned = session.tables(owner);
            tables.insert(tables.end(), owned.begin(), owned.end());
        }
        users = options.owners;
    } else if (!options.tables.empty()) {
        mode = "table";
        tables = listed_tables(session, options, report);
    } else {
        mode = "user";
        users = {session.user()};
        tables = session.tables(session.user());
    }

    ExportFile file(options.file);
    Exporter exporter(session, options, report, file);
    report.line("Exporting (" + mode + " mode) to " + options.file);
    exporter.header(mode);
    if (options.full) exporter.tablespaces();
    if (!users.empty()) exporter.users(users);
    for (const auto& table : tables) exporter.table(table);
    file.commit();
    session.commit();
    return finish(report, "Export");
}

}  // namespace vdb
