// The import tool's back end: the scan of the chosen export file, the
// parameter file and the run of the import utility with its messages copied
// into the page.
#include <string>
#include <vector>

#include "e/kve.h"
#include "i/kvi.h"
#include "platform/esqlrt.h"

namespace {

constexpr const char* PIPE_FAILURE = "Failed to communicate with import tool through pipe!\n";

// A list of names for the parameter file, each written as the utility reads
// it back: a name that needs quotes carries them, so a blank or a comma in it
// splits nothing. A name the database cannot hold (one with a line break or
// another control character would add a line of its own) is refused.
class name_list {
public:
    name_list(kve_parameter_file& file, int refusal) : file_(file), refusal_(refusal) {}

    // The position of name, added at the end unless the list holds it.
    size_t add(const std::string& name) {
        for (size_t k = 0; k < names_.size(); ++k)
            if (lk_equal(names_[k].c_str(), name.c_str())) return k;
        return append(name);
    }

    // Added at the end, held twice or not.
    size_t append(const std::string& name) {
        if (name.empty()) file_.fail(0, refusal_);
        if (!esql_valid_name(name.c_str())) file_.fail(0, KVI_NO_LIST_ITEM);
        names_.push_back(name);
        return names_.size() - 1;
    }

    size_t size() const { return names_.size(); }
    const std::string& operator[](size_t k) const { return names_[k]; }

    // The opening line, then one line per name: a comma after each, a
    // closing parenthesis after the last. An empty list writes nothing.
    void write(const char* head) const {
        if (names_.empty()) return;
        file_.line("%s", head);
        for (size_t i = 0; i < names_.size(); ++i)
            file_.line("%s%s", esql_name_text(names_[i].c_str()).c_str(), i + 1 < names_.size() ? "," : ")");
    }

private:
    kve_parameter_file& file_;
    int refusal_;
    std::vector<std::string> names_;
};

// The check boxes of a list page, the selection lists of their target users,
// and the message when none is checked.
struct checked_list {
    const char* box;
    const char* target;
    bool names_tables;
    int refusal;
};
constexpr checked_list TABLE_LIST{"T", "DT", true, 4064}, USER_LIST{"U", "DU", false, 4065};

// The utility's one way to place a user's tables in another: FROMUSER and
// TOUSER paired by position.
constexpr int ONE_TARGET_PER_USER = 5030;

// One box chosen for the run: its source user, its table (none in a user
// list) and the user it goes to, chosen on this page or an earlier one. A
// box without a target user goes to the default target: the table's owner,
// or the user itself.
struct chosen_entry {
    std::string source;
    std::string table;
    std::string target;
};

std::vector<chosen_entry> chosen_entries(kvi_request* r, const checked_list& list, const std::vector<std::string>& sources) {
    std::vector<chosen_entry> out;
    for (size_t i = 0; i < sources.size(); ++i) {
        const char* value = kvi_chosen_box(r, list.box, i);
        if (!value) continue;
        out.push_back({sources[i], list.names_tables ? value : "", kvi_target_user(r, list.target, i, sources[i])});
    }
    return out;
}

// The sources, targets and (for tables) names of the boxes chosen on the
// page the run was started from and carried from earlier pages, each source
// and table once, in the order first met.
//
// The utility pairs the two user lists by position, so TOUSER holds the
// target of each FROMUSER entry at the same place, even when two sources
// share one target: a shorter TOUSER would leave the later sources in their
// own schemas, and with IGNORE=Y add their rows to the tables there. One
// source with two targets cannot be put in one run and is refused.
void write_names(kve_parameter_file& file, const checked_list& list, const std::vector<chosen_entry>& entries) {
    name_list from(file, list.refusal), to(file, list.refusal), tables(file, list.refusal);
    for (const chosen_entry& entry : entries) {
        size_t k = from.add(entry.source);
        if (k == to.size()) to.append(entry.target);
        else if (!lk_equal(to[k].c_str(), entry.target.c_str())) file.fail(0, ONE_TARGET_PER_USER);
        if (list.names_tables) tables.add(entry.table);
    }
    if (from.size() == 0) file.fail(0, list.refusal);
    from.write("FROMUSER=(");
    to.write("TOUSER=(");
    tables.write("TABLES=(");
}

// The scope's list and the entries chosen in it; none for the whole file.
const checked_list* scope_list(kvi_request* r, const std::vector<std::string>** sources) {
    if (r->options->scope == KVI_SCOPE_TABLES) return *sources = &r->scan->owners, &TABLE_LIST;
    if (r->options->scope == KVI_SCOPE_USERS) return *sources = &r->scan->users, &USER_LIST;
    return nullptr;
}

// What the run imports, before the utility's own lines: each chosen table
// or user with the user it goes to, or the whole file.
void write_chosen(kvi_request* r, const std::vector<chosen_entry>& entries, bool whole_file) {
    if (whole_file) {
        bk_out("<p>%s</p>\n", kvg_message(r->context, 5043));
        return;
    }
    bk_out("<p>%s</p>\n<ul>\n", kvg_message(r->context, 5042));
    for (const chosen_entry& entry : entries) {
        std::string what = entry.table.empty() ? entry.source : entry.source + "." + entry.table;
        bk_out("<li>%s &rarr; %s</li>\n", kvg_html_escaped(what.c_str()).c_str(),
               kvg_html_escaped(entry.target.c_str()).c_str());
    }
    bk_out("</ul>\n");
}

// The incremental types that only a whole-file import can take.
void write_incremental_type(kve_parameter_file& file, const kvi_options* o) {
    static const char* const types[][2] = {{"Restore", "INCTYPE=RESTORE"}, {"System", "INCTYPE=SYSTEM"}};
    for (const auto& [type, line] : types) {
        if (!lk_equal(o->incremental_type, type)) continue;
        if (o->scope != KVI_SCOPE_FULL) file.fail(0, 5029);
        file.line("%s", line);
    }
}

void write_lines(kve_parameter_file& file, kvi_request* r) {
    const kvi_options* o = r->options;
    const kvg_credentials* c = r->credentials;
    file.line("%s%s%s", c->user ? c->user : "", "/", c->password ? c->password : "");
    std::string directory = std::string(kvi_home(r)) + "/export";
    file.line("%s%s%s%s", "FILE=", directory.c_str(), "/", o->export_file_name);
    if (o->log) file.line("%s%s", "LOG=", o->log_file_name);
    if (o->index) file.line("%s%s", "INDEXFILE=", o->index_file_name);
    file.line("%s%d", "BUFFER=", o->buffer_size);
    file.line("%s%d", "RECORDLENGTH=", o->record_length);
    if (o->commit) file.line("%s", "COMMIT=Y");
    if (!o->grants) file.line("%s", "GRANTS=N");
    if (!o->indexes) file.line("%s", "INDEXES=N");
    if (!o->rows) file.line("%s", "ROWS=N");
    if (o->destroy) file.line("%s", "DESTROY=Y");
    if (o->ignore) file.line("%s", "IGNORE=Y");
    write_incremental_type(file, o);
    if (o->scope == KVI_SCOPE_FULL) file.line("%s", "FULL=Y");
    const std::vector<std::string>* sources = nullptr;
    if (const checked_list* list = scope_list(r, &sources)) write_names(file, *list, chosen_entries(r, *list, *sources));
}

}  // namespace

void kvi_scan_export_file(bk_host* host, kvi_request* r) {
    const char* name = r->options->export_file_name;
    // Only a file of the export directory is ever read.
    if (!kvi_plain_file_name(name)) kvi_fail(host, r->context, 1, KVI_NOT_A_LISTED_FILE);
    std::string path = std::string(kvi_home(r)) + "/export/" + name;
    if (kvi_scan_file(path.c_str(), r->scan) != 0) kvi_fail(host, r->context, 1, 1011);
}

char* kvi_write_parfile(bk_host* host, kvi_request* r, int* error) {
    kve_parameter_file file(host, r->context, "KVI", 1011);
    if (!file.create(kvi_home(r), KVI_PARFILE_PREFIX, error)) return nullptr;
    write_lines(file, r);
    return file.finish();
}

void kvi_run_import(bk_host* host, kvi_request* r) {
    int error = 0;
    char* path = kvi_write_parfile(host, r, &error);
    if (!path) kvi_fail(host, r->context, 1, 1011);
    const std::vector<std::string>* sources = nullptr;
    const checked_list* list = scope_list(r, &sources);
    write_chosen(r, list ? chosen_entries(r, *list, *sources) : std::vector<chosen_entry>{}, !list);
    kve_utility_end end = kve_run_utility(kvi_home(r), "dbload", path, PIPE_FAILURE);
    kve_report_utility_end(r->context, "KVI", end, KVI_ENDED_WITH_WARNINGS, KVI_ENDED_IN_FAILURE);
}
