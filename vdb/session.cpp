#include "vdb/session.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <sqlite3.h>
#include <unistd.h>

#include "vdb/credentials.h"
#include "vdb/db.h"
#include "vdb/ddl.h"
#include "vdb/event_log.h"
#include "vdb/insert.h"
#include "vdb/instance.h"
#include "vdb/resolve.h"
#include "vdb/rowstore.h"
#include "vdb/sessions.h"
#include "vdb/space.h"
#include "vdb/state.h"
#include "vdb/throttle.h"

namespace vdb {

namespace {

std::string first_word(const std::vector<Token>& tokens, size_t skip = 0) {
    for (const auto& t : tokens) {
        if (t.kind == TokenKind::space) continue;
        if (skip-- == 0) return t.kind == TokenKind::word ? t.value : "";
    }
    return "";
}

void try_exec(sqlite3* db, const char* sql) { sqlite3_exec(db, sql, nullptr, nullptr, nullptr); }

}  // namespace

// ---- cursor -----------------------------------------------------------------

Cursor::Cursor(std::unique_ptr<Stmt> stmt, std::function<void()> on_end)
    : stmt_(std::move(stmt)), on_end_(std::move(on_end)) {
    for (int i = 0; i < stmt_->columns(); ++i) columns_.push_back(stmt_->column_name(i));
}

Cursor::~Cursor() { end(); }

void Cursor::end() {
    if (!on_end_) return;
    auto on_end = std::move(on_end_);
    on_end_ = nullptr;
    try {
        on_end();
    } catch (const Error&) {
    }
}

bool Cursor::fetch(Row& row) {
    if (done_) return false;
    if (stop_requested()) fail(code::session_ended);
    if (!stmt_->step()) {
        done_ = true;
        end();
        return false;
    }
    row.resize(columns_.size());
    for (size_t i = 0; i < columns_.size(); ++i) row[i] = stmt_->value(static_cast<int>(i));
    return true;
}

// ---- session ----------------------------------------------------------------

struct Session::Impl {
    Location loc;
    Db db;
    std::string user;
    bool dba = false;
    Logon kind;
    bool write_transaction = false;
    bool read_transaction = false;
    std::unique_ptr<SessionSlot> slot;  // this session in the instance's session store
    bool busy = false;                  // a utility's action holds the session active

    Impl(const Location& l, Logon k) : loc(l), db(l.database_file(), false), kind(k) {}

    SessionContext context() { return SessionContext{db.handle(), loc, user, dba, {}, {}, {}}; }

    // An ended session loses its transaction and gets -3100 from then on.
    void require_live() {
        if (stop_requested() || (slot && slot->ended())) {
            end_transaction("ROLLBACK");
            fail(code::session_ended);
        }
    }

    // Every statement finds the instance open; a shutdown ends the sessions of
    // other processes at their next statement.
    void require_open() {
        require_live();
        State state = read_state(loc);
        if (state.service != Service::running || state.instance == Instance::down) {
            end_transaction("ROLLBACK");
            // A shutdown immediate marks the sessions it ends before the state says down.
            require_live();
            fail(code::instance_down, loc.sid);
        }
        if (state.instance != Instance::open) fail(code::instance_starting, loc.sid);
    }

    void begin_write() {
        if (write_transaction) return;
        if (read_transaction) fail(code::invalid_sql, "the transaction is read only");
        // IMMEDIATE takes the write lock now, waiting for other writers, so a
        // transaction never fails half way for want of it.
        db.exec("BEGIN IMMEDIATE");
        write_transaction = true;
    }

    void end_transaction(const char* sql) {
        if (!write_transaction && !read_transaction) return;
        write_transaction = read_transaction = false;
        if (std::string_view(sql) == "COMMIT") {
            int rc = sqlite3_exec(db.handle(), sql, nullptr, nullptr, nullptr);
            if (rc != SQLITE_OK) {
                try_exec(db.handle(), "ROLLBACK");
                fail_sqlite(db.handle(), rc);
            }
        } else {
            try_exec(db.handle(), sql);
        }
    }

    int64_t insert(const std::vector<Token>& tokens, const std::vector<Value>& binds) {
        require_open();
        SessionContext ctx = context();
        InsertStatement statement(ctx, tokens);
        const ResolvedTable& target = statement.target();
        begin_write();
        // A failing statement takes back only its own rows.
        db.exec("SAVEPOINT vdb_statement");
        try {
            int64_t rows = statement.run(binds);
            charge_segment(db.handle(), target.owner, target.name, target.tablespace, statement.bytes());
            db.exec("RELEASE vdb_statement");
            return rows;
        } catch (...) {
            try_exec(db.handle(), "ROLLBACK TO vdb_statement");
            try_exec(db.handle(), "RELEASE vdb_statement");
            throw;
        }
    }

    void define(std::string_view sql) {
        require_open();
        end_transaction("COMMIT");
        TokenReader reader(sql);
        SessionContext ctx = context();
        db.exec("BEGIN IMMEDIATE");
        try {
            run_definition(ctx, reader);
            db.exec("COMMIT");
        } catch (...) {
            try_exec(db.handle(), "ROLLBACK");
            for (const auto& path : ctx.created_files) unlink(path.c_str());
            throw;
        }
        for (const auto& path : ctx.obsolete_files) unlink(path.c_str());
        for (const auto& event : ctx.events) log_event(loc, event + " by " + user);
    }

    void alter_database(std::string_view sql) {
        TokenReader reader(sql);
        reader.expect("ALTER");
        reader.expect("DATABASE");
        bool to_mount = reader.accept("MOUNT");
        if (!to_mount) reader.expect("OPEN");
        reader.expect_end();
        if (!dba) fail(code::no_privilege, "ALTER DATABASE needs the DBA role");
        if (to_mount)
            mount(loc, db.handle());
        else
            open_database(loc);
    }

    void set_transaction(std::string_view sql) {
        TokenReader reader(sql);
        reader.expect("SET");
        reader.expect("TRANSACTION");
        reader.expect("READ");
        reader.expect("ONLY");
        reader.expect_end();
        require_open();
        if (write_transaction || read_transaction) fail(code::invalid_sql, "SET TRANSACTION must start a transaction");
        db.exec("BEGIN");
        read_transaction = true;
    }

    // ALTER SYSTEM KILL SESSION 'number,serial' [IMMEDIATE]
    void alter_system(std::string_view sql) {
        TokenReader reader(sql);
        reader.expect("ALTER");
        reader.expect("SYSTEM");
        reader.expect("KILL");
        reader.expect("SESSION");
        auto [number, serial] = parse_session_id(reader.string_literal());
        reader.accept("IMMEDIATE");
        reader.expect_end();
        require_open();
        if (!dba) fail(code::no_privilege, "ending a session needs the DBA role");
        if (slot && slot->number() == number && slot->serial() == serial)
            fail(code::invalid_sql, "a session cannot end itself");
        end_session(loc, number, serial);
    }

    void set_status(bool active) {
        if (slot && !busy) slot->set_status(active, "");
    }

    void require_own_or_dba(std::string_view owner) const {
        if (!dba && owner != user) fail(code::no_privilege, "objects of other users need the DBA role");
    }
};

Session::Session(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

Session::~Session() {
    if (impl_) impl_->end_transaction("ROLLBACK");
}

std::unique_ptr<Session> Session::connect(const Location& loc, std::string_view user, std::string_view password,
                                          Logon kind) {
    require_instance(loc);
    State state = read_state(loc);
    if (state.service != Service::running) fail(code::service_stopped, loc.sid);
    if (kind != Logon::privileged && state.instance == Instance::down) fail(code::instance_down, loc.sid);
    if (kind == Logon::normal && state.instance != Instance::open) fail(code::instance_starting, loc.sid);

    auto impl = std::make_unique<Impl>(loc, kind);
    Credentials credentials = check_credentials(loc, impl->db.handle(), user, password);
    impl->user = credentials.schema;
    impl->dba = credentials.dba;
    if (kind == Logon::administrative && state.instance != Instance::open && !impl->dba)
        fail(code::instance_starting, loc.sid);
    if (kind == Logon::privileged && !impl->dba)
        fail(code::no_privilege, "a privileged connection needs INTERNAL or the DBA role");
    register_session_functions(impl->db.handle(), impl->user);
    register_session_view(impl->db.handle(), loc);
    impl->slot = SessionSlot::enter(loc, impl->user);
    return std::unique_ptr<Session>(new Session(std::move(impl)));
}

namespace {

// The session is active while one of its statements works.
class ActiveStatement {
public:
    explicit ActiveStatement(std::function<void(bool)> set) : set_(std::move(set)) { set_(true); }
    // The status outlives this object: something else ends it.
    void keep() { set_ = nullptr; }
    ~ActiveStatement() {
        if (!set_) return;
        try {
            set_(false);
        } catch (const Error&) {
        }
    }
    ActiveStatement(const ActiveStatement&) = delete;
    ActiveStatement& operator=(const ActiveStatement&) = delete;

private:
    std::function<void(bool)> set_;
};

}  // namespace

std::unique_ptr<Cursor> Session::query(std::string_view sql, const std::vector<Value>& binds) {
    // Active until its cursor ends.
    ActiveStatement active([this](bool on) { impl_->set_status(on); });
    auto tokens = tokenize(sql);
    std::string word = first_word(tokens);
    if (word != "SELECT" && word != "WITH") fail(code::invalid_sql, "only a query can be opened as a cursor");
    impl_->require_open();
    SessionContext ctx = impl_->context();
    auto stmt = std::make_unique<Stmt>(impl_->db.handle(), rewrite_query(ctx, tokens));
    if (!sqlite3_stmt_readonly(stmt->handle())) fail(code::invalid_sql, "a query may not change data");
    bind_values(*stmt, binds);
    active.keep();
    return std::make_unique<Cursor>(std::move(stmt), [this] { impl_->set_status(false); });
}

int64_t Session::execute(std::string_view sql, const std::vector<Value>& binds) {
    ActiveStatement active([this](bool on) { impl_->set_status(on); });
    auto tokens = tokenize(sql);
    std::string word = first_word(tokens);
    if (word == "SELECT" || word == "WITH") {
        auto cursor = query(sql, binds);
        Row row;
        while (cursor->fetch(row)) {
        }
        return 0;
    }
    if (word == "INSERT") return impl_->insert(tokens, binds);
    if (!binds.empty()) fail(code::variables_unbound, "this statement takes no values");
    if (word == "COMMIT" || word == "ROLLBACK") {
        TokenReader reader(sql);
        reader.expect(word);
        reader.accept("WORK");
        reader.expect_end();
        word == "COMMIT" ? commit() : rollback();
        return 0;
    }
    if (word == "SET") {
        impl_->set_transaction(sql);
        return 0;
    }
    if (word == "ALTER" && first_word(tokens, 1) == "SYSTEM") {
        impl_->alter_system(sql);
        return 0;
    }
    if (word == "ALTER" && first_word(tokens, 1) == "DATABASE") {
        impl_->alter_database(sql);
        return 0;
    }
    if (word == "CREATE" || word == "ALTER" || word == "DROP" || word == "GRANT" || word == "REVOKE") {
        impl_->define(sql);
        return 0;
    }
    if (word == "UPDATE" || word == "DELETE" || word == "MERGE" || word == "TRUNCATE")
        fail(code::not_supported, word);
    fail(code::invalid_sql, word.empty() ? "the statement is empty" : word);
}

void Session::commit() {
    impl_->require_live();
    if (impl_->write_transaction || impl_->read_transaction) impl_->require_open();
    impl_->end_transaction("COMMIT");
}

void Session::rollback() { impl_->end_transaction("ROLLBACK"); }

void Session::defer_sync() { impl_->db.exec("PRAGMA synchronous = NORMAL"); }

void Session::sync() {
    // What the commits wrote and no checkpoint has copied into the database
    // file yet (a checkpoint syncs what it copies) is in the write-ahead log:
    // syncing the log and its folder makes those commits durable.
    for (const std::string& path : {impl_->loc.database_file() + "-wal", impl_->loc.instance_dir()}) {
        int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) continue;
        int rc = fsync(fd);
        int saved = errno;
        close(fd);
        if (rc != 0) fail(code::io_failure, path + ": " + std::strerror(saved));
    }
}

void Session::progress(std::string_view action) {
    impl_->require_open();
    impl_->busy = !action.empty();
    if (impl_->slot) impl_->slot->set_status(impl_->busy, action);
}

const std::string& Session::user() const { return impl_->user; }
bool Session::is_dba() const { return impl_->dba; }
const Location& Session::location() const { return impl_->loc; }

// ---- bulk rows --------------------------------------------------------------

namespace {

class TableWriter : public RowWriter {
public:
    TableWriter(sqlite3* db, ResolvedTable table)
        : db_(db), table_(std::move(table)), inserter_(db, stored_table(db, table_.segment)) {}

    size_t columns() const override { return inserter_.table().columns.size(); }

    void add(const Row& row) override {
        if (row.size() != columns())
            fail(code::invalid_sql, "a row of " + std::to_string(row.size()) + " values for " +
                                        std::to_string(columns()) + " columns of " + table_.owner + "." + table_.name);
        row_ = row;
        pending_ += inserter_.insert(row_);
        if (++rows_ % 1000 == 0) flush();
    }

    void flush() override {
        charge_segment(db_, table_.owner, table_.name, table_.tablespace, pending_);
        pending_ = 0;
    }

    int64_t rows() const override { return rows_; }

private:
    sqlite3* db_;
    ResolvedTable table_;
    RowInserter inserter_;
    Row row_;
    int64_t rows_ = 0;
    int64_t pending_ = 0;
};

class TableReader : public RowReader {
public:
    TableReader(sqlite3* db, int64_t segment) : scan_(db, segment) {}
    bool fetch(Row& row) override { return scan_.next(row); }

private:
    RowScan scan_;
};

}  // namespace

std::unique_ptr<RowWriter> Session::row_writer(std::string_view owner, std::string_view table) {
    impl_->require_open();
    SessionContext ctx = impl_->context();
    ResolvedTable resolved = resolve_table(ctx, QualifiedName{std::string(owner), std::string(table)}, Access::write);
    impl_->begin_write();
    return std::make_unique<TableWriter>(impl_->db.handle(), std::move(resolved));
}

std::unique_ptr<RowReader> Session::row_reader(std::string_view owner, std::string_view table) {
    impl_->require_open();
    SessionContext ctx = impl_->context();
    ResolvedTable resolved = resolve_table(ctx, QualifiedName{std::string(owner), std::string(table)}, Access::read);
    if (!resolved.segment.id) fail(code::table_missing, resolved.owner + "." + resolved.name);
    return std::make_unique<TableReader>(impl_->db.handle(), resolved.segment.id);
}

// ---- dictionary records for the utilities -----------------------------------

std::vector<SegmentRecord> Session::tables(std::string_view owner) {
    impl_->require_open();
    if (!impl_->dba && owner.empty()) owner = impl_->user;
    impl_->require_own_or_dba(owner);
    std::vector<SegmentRecord> out;
    for (auto& table : segments(impl_->db.handle(), "TABLE", owner))
        if (table.owner != dictionary_owner) out.push_back(std::move(table));
    return out;
}

std::optional<SegmentRecord> Session::table(std::string_view owner, std::string_view name) {
    impl_->require_open();
    impl_->require_own_or_dba(owner);
    auto segment = find_segment(impl_->db.handle(), owner, name);
    if (!segment || segment->kind != "TABLE" || segment->owner == dictionary_owner) return std::nullopt;
    return segment;
}

std::vector<SegmentRecord> Session::indexes(std::string_view owner, std::string_view table) {
    impl_->require_open();
    impl_->require_own_or_dba(owner);
    return segments(impl_->db.handle(), "INDEX", owner, table);
}

std::vector<std::string> Session::user_names() {
    impl_->require_open();
    if (!impl_->dba) return {impl_->user};
    std::vector<std::string> out;
    for (const auto& user : users(impl_->db.handle()))
        if (user.name != dictionary_owner) out.push_back(user.name);
    return out;
}

UserDefinition Session::user_definition(std::string_view name) {
    impl_->require_open();
    impl_->require_own_or_dba(name);
    auto record = find_user(impl_->db.handle(), name);
    if (!record || !record->alias_of.empty()) fail(code::user_missing, std::string(name));
    return UserDefinition{record->name, record->password, record->default_tablespace,
                          roles_of(impl_->db.handle(), record->name)};
}

std::vector<TablespaceDefinition> Session::tablespace_definitions() {
    impl_->require_open();
    impl_->require_own_or_dba("");
    std::vector<TablespaceDefinition> out;
    Stmt spaces(impl_->db.handle(), "SELECT name, contents FROM vdb_tablespaces ORDER BY rowid");
    Stmt files(impl_->db.handle(), "SELECT name, bytes, autoextensible, increment_bytes, max_bytes FROM vdb_datafiles "
                                   "WHERE tablespace = ? ORDER BY file_id");
    while (spaces.step()) {
        TablespaceDefinition ts{spaces.text(0), spaces.text(1), {}};
        files.bind(1, ts.name);
        while (files.step())
            ts.files.push_back({files.text(0), files.integer(1), files.integer(2) != 0, files.integer(3), files.integer(4)});
        files.reset();
        out.push_back(std::move(ts));
    }
    return out;
}

// ---- instance control -------------------------------------------------------

void Session::startup(std::string_view parameter_text, bool force) {
    if (impl_->kind != Logon::privileged) fail(code::no_privilege, "starting the instance needs a privileged connection");
    vdb::startup(impl_->loc, impl_->db.handle(), parameter_text, force);
}

void Session::shutdown(int mode) {
    if (impl_->kind != Logon::privileged) fail(code::no_privilege, "stopping the instance needs a privileged connection");
    impl_->end_transaction("ROLLBACK");
    vdb::shutdown(impl_->loc, mode, impl_->slot ? impl_->slot->number() : 0);
}

}  // namespace vdb
