#include "vdb/load.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <set>

#include "vdb/columns.h"
#include "vdb/dumpfile.h"
#include "vdb/session.h"
#include "vdb/sessions.h"
#include "vdb/sqltext.h"

namespace vdb {

const std::initializer_list<std::string_view> import_parameters = {
    "USERID", "FILE",    "LOG",     "FULL",    "FROMUSER", "TOUSER",  "TABLES",       "ROWS",    "GRANTS",
    "INDEXES", "CONSTRAINTS", "IGNORE", "COMMIT", "DESTROY", "INDEXFILE", "BUFFER", "RECORDLENGTH", "INCTYPE",
    "SHOW",   "FEEDBACK"};

namespace {

struct ImportOptions {
    std::string file, index_file;
    bool full, rows, grants, indexes, constraints, ignore, commit, destroy;
    long buffer;
    std::vector<std::string> from_users, to_users;
    std::vector<QualifiedName> tables;
};

ImportOptions read_options(const UtilityParameters& p) {
    ImportOptions o{p.value("FILE", "expdat.dmp"), p.value("INDEXFILE", ""), p.flag("FULL", false),
                    p.flag("ROWS", true), p.flag("GRANTS", true), p.flag("INDEXES", true),
                    p.flag("CONSTRAINTS", true), p.flag("IGNORE", false), p.flag("COMMIT", false),
                    p.flag("DESTROY", false), p.number("BUFFER", 4096), {}, {}, {}};
    for (const auto& item : p.list("FROMUSER")) o.from_users.push_back(list_name(item));
    for (const auto& item : p.list("TOUSER")) o.to_users.push_back(list_name(item));
    for (const auto& item : p.list("TABLES")) o.tables.push_back(list_table(item));
    if (o.full && p.has("FROMUSER")) throw ParameterError("FULL=Y and FROMUSER exclude one another");
    if (p.has("TOUSER") && !p.has("FROMUSER")) throw ParameterError("TOUSER needs FROMUSER");
    if (p.has("FROMUSER") && o.from_users.empty()) throw ParameterError("FROMUSER lists no user");
    if (p.has("INDEXFILE") && o.index_file.empty()) throw ParameterError("INDEXFILE names no file");
    p.number("RECORDLENGTH", 1024);
    p.choice("INCTYPE", {"SYSTEM", "RESTORE"}, "");
    p.flag("SHOW", false);
    return o;
}

bool starts_with(std::string_view text, std::string_view prefix) { return text.substr(0, prefix.size()) == prefix; }

// CREATE TABLE "NAME" (definition) TABLESPACE "TS", split into its parts.
struct TableLine {
    std::string name, definition, tablespace;
};

bool parse_table_line(std::string_view line, TableLine& out) {
    line.remove_prefix(table_prefix.size());
    size_t quote = line.find('"');
    size_t open = line.find('(', quote);
    size_t close = line.rfind(')');
    if (quote == std::string_view::npos || open == std::string_view::npos || close == std::string_view::npos ||
        close < open)
        return false;
    out.name = std::string(line.substr(0, quote));
    out.definition = std::string(line.substr(open + 1, close - open - 1));
    std::string_view rest = line.substr(close + 1);
    constexpr std::string_view clause = " TABLESPACE \"";
    out.tablespace.clear();
    if (starts_with(rest, clause) && rest.back() == '"')
        out.tablespace = std::string(rest.substr(clause.size(), rest.size() - clause.size() - 1));
    return valid_name(out.name);
}

// CREATE [UNIQUE] INDEX "I" ON "T" (columns) TABLESPACE "TS"
struct IndexLine {
    std::string head, name, table, rest;
};

bool parse_index_line(std::string_view line, IndexLine& out) {
    size_t q1 = line.find('"'), q2 = line.find('"', q1 + 1), q3 = line.find('"', q2 + 1), q4 = line.find('"', q3 + 1);
    if (q4 == std::string_view::npos || line.substr(q2 + 1, q3 - q2 - 1) != " ON ") return false;
    out.head = std::string(line.substr(0, q1));
    out.name = std::string(line.substr(q1 + 1, q2 - q1 - 1));
    out.table = std::string(line.substr(q3 + 1, q4 - q3 - 1));
    out.rest = std::string(line.substr(q4 + 1));
    return true;
}

std::string qualified(std::string_view owner, std::string_view name) { return quote_name(owner) + "." + quote_name(name); }

// How often a run shows its progress and checks that its session may go on.
constexpr int64_t progress_rows = 4096;

std::string error_text(const Error& error) { return "error " + std::to_string(error.code()) + ": " + error.what(); }

class Importer {
public:
    Importer(Session& session, const ImportOptions& options, Report& report)
        : session_(session), options_(options), report_(report) {
        if (!options.full && options.from_users.empty()) from_users_ = {session.user()};
        else from_users_ = options.from_users;
        index_listed_tables();
        if (!options.index_file.empty()) {
            index_file_ = std::fopen(options.index_file.c_str(), "w");
            if (!index_file_)
                throw ParameterError("cannot write the index file " + options.index_file + ": " + std::strerror(errno));
        }
    }
    ~Importer() {
        if (index_file_) std::fclose(index_file_);
    }

    void start(std::string_view exporter) { owner_ = std::string(exporter); }

    void line(std::string_view text, long number) {
        if (!text.empty() && text[0] == row_mark) return row(text, number);
        end_table();
        if (starts_with(text, connect_prefix)) {
            owner_ = std::string(text.substr(connect_prefix.size()));
        } else if (starts_with(text, table_prefix)) {
            begin_table(text, number);
        } else if (starts_with(text, "CREATE INDEX \"") || starts_with(text, "CREATE UNIQUE INDEX \"")) {
            index(text, number);
        } else if (starts_with(text, "CREATE TABLESPACE ")) {
            if (options_.full && index_file_ == nullptr) definition(destroying(text), code::tablespace_exists);
        } else if (starts_with(text, "CREATE USER ")) {
            if (options_.full && index_file_ == nullptr) definition(std::string(text), code::user_exists);
        } else if (starts_with(text, "GRANT ")) {
            if (options_.full && options_.grants && index_file_ == nullptr) definition(std::string(text), 0);
        } else if (!text.empty() && !starts_with(text, "--")) {
            report_.warning(". line " + std::to_string(number) + " of the export file was not understood");
        }
    }

    void end_table() {
        if (!table_active_) return;
        table_active_ = false;
        if (index_file_) {
            report_.line(". . table " + target_ + "." + table_ + ": statements written to the index file");
            return;
        }
        if (!table_failed_ && writer_) {
            try {
                writer_->flush();
                writer_.reset();
                session_.commit();
            } catch (const Error& error) {
                if (ends_the_run(error.code())) throw;
                fail_table(error_text(error));
            }
        }
        if (table_failed_) return;
        report_.line(". . importing table " + table_ + " into " + target_ + " " + std::to_string(rows_) +
                     " rows imported");
        finished_.push_back(target_ + "." + table_);
    }

    // The run was ended: the table in progress is rolled back, and the last
    // lines say which tables were imported in full.
    void stop() {
        if (table_active_ && !table_failed_ && !index_file_) {
            writer_.reset();
            session_.rollback();
            report_.line(". . table " + table_ + " into " + target_ + " was rolled back: " +
                         (rows_committed_ ? "the rows committed before (COMMIT=Y) stay" : "no rows were kept"));
        }
        table_active_ = false;
        std::string done;
        for (const auto& name : finished_) done += (done.empty() ? "" : ", ") + name;
        report_.line(". tables imported in full: " + (done.empty() ? std::string("none") : done));
    }

    void finish() {
        end_table();
        report_missing();
        if (index_file_ && std::fclose(index_file_) != 0) report_.warning(". the index file could not be written");
        index_file_ = nullptr;
    }

private:
    std::string target_of(const std::string& owner) const {
        auto at = std::find(from_users_.begin(), from_users_.end(), owner);
        size_t i = static_cast<size_t>(at - from_users_.begin());
        return i < options_.to_users.size() ? options_.to_users[i] : owner;
    }

    bool selected(const std::string& owner, const std::string& table) const {
        if (!options_.full && std::find(from_users_.begin(), from_users_.end(), owner) == from_users_.end())
            return false;
        if (options_.tables.empty()) return true;
        return listed_names_.count(table) || listed_tables_.count({owner, table});
    }

    // TABLES as sets, so that a file of many tables is matched against a long
    // list in time proportional to both.
    void index_listed_tables() {
        for (const auto& item : options_.tables) {
            if (item.owner.empty())
                listed_names_.insert(item.name);
            else
                listed_tables_.insert({item.owner, item.name});
        }
    }

    void note_found(const std::string& owner, const std::string& table) {
        found_owners_.insert(owner);
        found_names_.insert(table);
        found_tables_.insert({owner, table});
    }

    // A listed table or user that the file does not hold imports nothing: the
    // run says so, and does not end as if all went well.
    void report_missing() {
        for (const auto& item : options_.tables) {
            bool found = item.owner.empty() ? found_names_.count(item.name) > 0
                                            : found_tables_.count({item.owner, item.name}) > 0;
            if (!found)
                report_.warning(". . table " + (item.owner.empty() ? "" : name_text(item.owner) + ".") +
                                name_text(item.name) + " was not found among the tables of the export file that are imported");
        }
        for (const auto& user : options_.from_users)
            if (!found_owners_.count(user))
                report_.warning(". user " + name_text(user) + " owns no table to import in the export file");
    }

    void fail_table(const std::string& why) {
        writer_.reset();
        session_.rollback();
        table_failed_ = true;
        report_.warning(". . table " + table_ + " into " + target_ + " failed: " + why +
                        (rows_committed_ ? "; rows committed before the failure stay" : "; no rows were kept"));
    }

    std::string create_statement(const TableLine& t, bool with_tablespace) const {
        std::string definition =
            options_.constraints ? t.definition : definition_text(parse_table_definition(t.definition), false);
        std::string statement = "CREATE TABLE " + qualified(target_, t.name) + " (" + definition + ")";
        if (with_tablespace && !t.tablespace.empty()) statement += " TABLESPACE " + quote_name(t.tablespace);
        return statement;
    }

    void begin_table(std::string_view text, long number) {
        TableLine t;
        if (!parse_table_line(text, t)) {
            report_.warning(". line " + std::to_string(number) + " holds a malformed table definition");
            return;
        }
        if (!selected(owner_, t.name)) return;
        note_found(owner_, t.name);
        table_active_ = true;
        table_failed_ = false;
        rows_ = 0;
        rows_committed_ = false;
        pending_bytes_ = 0;
        table_ = t.name;
        target_ = target_of(owner_);
        if (index_file_) {
            std::fprintf(index_file_, "-- %s;\n", create_statement(t, true).c_str());
            return;
        }
        show_progress();
        rows_wanted_ = create_table(t) && options_.rows;
    }

    bool create_table(const TableLine& t) {
        try {
            try {
                session_.execute(create_statement(t, true));
            } catch (const Error& error) {
                // A tablespace this instance lacks: the table goes to the user's default.
                if (error.code() != code::tablespace_missing) throw;
                session_.execute(create_statement(t, false));
            }
        } catch (const Error& error) {
            if (ends_the_run(error.code())) throw;
            if (error.code() == code::name_in_use && options_.ignore) return true;
            if (error.code() == code::name_in_use) {
                table_failed_ = true;
                report_.warning(". . table " + t.name + " exists in " + target_ + "; its rows were not imported"
                                " (IGNORE=Y imports them into the existing table)");
                return false;
            }
            fail_table(error_text(error));
            return false;
        }
        return true;
    }

    void row(std::string_view text, long number) {
        if (!table_active_ || table_failed_ || !rows_wanted_) return;
        if (!decode_row_line(text, row_)) return fail_table("line " + std::to_string(number) + " holds a malformed row");
        try {
            // Opened at the first row, so that a table without rows costs no
            // transaction of its own.
            if (!writer_) writer_ = session_.row_writer(target_, table_);
            writer_->add(row_);
            if (++rows_ % progress_rows == 0) show_progress();
            pending_bytes_ += static_cast<long>(text.size());
            if (options_.commit && pending_bytes_ >= options_.buffer) commit_batch();
        } catch (const Error& error) {
            if (ends_the_run(error.code())) throw;
            fail_table("row " + std::to_string(rows_ + 1) + ": " + error_text(error));
        }
    }

    void show_progress() {
        session_.progress("importing " + target_ + "." + table_ + ": " + std::to_string(rows_) + " rows");
    }

    void commit_batch() {
        writer_->flush();
        writer_.reset();
        session_.commit();
        rows_committed_ = true;
        pending_bytes_ = 0;
    }

    void index(std::string_view text, long number) {
        IndexLine ix;
        if (!parse_index_line(text, ix)) {
            report_.warning(". line " + std::to_string(number) + " holds a malformed index definition");
            return;
        }
        if (ix.table != table_ || table_failed_ || !selected(owner_, ix.table)) return;
        std::string statement = ix.head + qualified(target_, ix.name) + " ON " + qualified(target_, ix.table) + ix.rest;
        if (index_file_) {
            std::fprintf(index_file_, "%s;\n", statement.c_str());
            return;
        }
        if (!options_.indexes) return;
        try {
            session_.execute(statement);
        } catch (const Error& error) {
            if (ends_the_run(error.code())) throw;
            if (error.code() == code::name_in_use && options_.ignore) return;
            report_.warning(". . index " + ix.name + " of " + target_ + "." + ix.table + ": " + error_text(error));
        }
    }

    // With DESTROY=Y a tablespace takes over the data files that exist already.
    std::string destroying(std::string_view text) const {
        std::string statement(text);
        if (!options_.destroy) return statement;
        for (size_t at = 0; (at = statement.find("' SIZE ", at)) != std::string::npos; at += 14)
            statement.replace(at, 7, "' REUSE SIZE ");
        return statement;
    }

    void definition(const std::string& statement, int quiet_code) {
        try {
            session_.execute(statement);
        } catch (const Error& error) {
            if (ends_the_run(error.code())) throw;
            if (error.code() != quiet_code || quiet_code == 0)
                report_.warning(". " + statement.substr(0, statement.find(' ', 7)) + ": " + error_text(error));
        }
    }

    Session& session_;
    const ImportOptions& options_;
    Report& report_;
    std::vector<std::string> from_users_;
    std::vector<std::string> finished_;  // OWNER.TABLE imported in full
    std::set<std::string> listed_names_;
    std::set<std::pair<std::string, std::string>> listed_tables_;
    std::set<std::string> found_owners_, found_names_;
    std::set<std::pair<std::string, std::string>> found_tables_;
    std::FILE* index_file_ = nullptr;
    std::string owner_, table_, target_;
    bool table_active_ = false, table_failed_ = false, rows_committed_ = false, rows_wanted_ = false;
    int64_t rows_ = 0;
    long pending_bytes_ = 0;
    std::unique_ptr<RowWriter> writer_;
    Row row_;
};

class ExportReader {
public:
    explicit ExportReader(const std::string& path) : path_(path), file_(std::fopen(path.c_str(), "r")) {
        if (!file_) throw ParameterError("cannot read the export file " + path + ": " + std::strerror(errno));
    }
    ~ExportReader() {
        std::free(line_);
        std::fclose(file_);
    }
    ExportReader(const ExportReader&) = delete;
    ExportReader& operator=(const ExportReader&) = delete;

    bool next(std::string_view& text) {
        ssize_t n = getline(&line_, &capacity_, file_);
        if (n < 0) {
            if (std::ferror(file_)) throw ParameterError("reading " + path_ + " failed: " + std::strerror(errno));
            return false;
        }
        ++number_;
        // A carriage return before the line feed belongs to the line end: a
        // copy with CR LF line ends reads as the file. Data bytes never hold
        // one, dbdump escapes them.
        if (n > 0 && line_[n - 1] == '\n' && --n > 0 && line_[n - 1] == '\r') --n;
        text = std::string_view(line_, static_cast<size_t>(n));
        return true;
    }
    long number() const { return number_; }

private:
    std::string path_;
    std::FILE* file_;
    char* line_ = nullptr;
    size_t capacity_ = 0;
    long number_ = 0;
};

}  // namespace

int run_import(const UtilityParameters& parameters, Session& session, Report& report) {
    ImportOptions options = read_options(parameters);
    ExportReader reader(options.file);
    std::string_view header, exporter;
    if (!reader.next(header) || header != export_header || !reader.next(exporter) || exporter.size() < 2 ||
        exporter[0] != 'D')
        throw ParameterError(options.file + " is not an export file");
    std::string exporting_user(exporter.substr(1));

    report.line("Importing from " + options.file + ", exported by " + exporting_user +
                (options.index_file.empty() ? "" : "; writing the index file " + options.index_file));
    // A commit for each table, as keeping the tables finished before a failure
    // needs, without waiting for the disk at each one: the run ends durable,
    // however it ends.
    session.defer_sync();
    try {
        Importer importer(session, options, report);
        importer.start(exporting_user);
        try {
            std::string_view text;
            while (reader.next(text)) importer.line(text, reader.number());
            importer.finish();
        } catch (const Error& error) {
            if (ends_the_run(error.code())) importer.stop();
            throw;
        }
    } catch (...) {
        try {
            session.sync();
        } catch (const Error&) {
        }
        throw;
    }
    session.sync();
    return finish(report, "Import");
}

}  // namespace vdb
