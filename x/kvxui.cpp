// The tablespace tool's pages: the usage page with its selection line, the add
// and create forms, and the reading and checking of a confirmed form.
#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/os.h"
#include "x/kvx.h"

namespace {

constexpr const char* MODULE = "x/kvxui";
constexpr size_t SCRATCH_SIZE = 256;

// Actions, by the catalogue texts of their buttons.
constexpr int SHOW = 9009;
constexpr int ADD_FILE = 9010;
constexpr int SWITCH_STATUS = KVX_SWITCH_STATUS;
constexpr int CREATE = 9012;
constexpr int KILOBYTES = 9019;
constexpr int MEGABYTES = 9020;

struct size_field {
    const char* size_variable;
    const char* unit_variable;
};
constexpr size_field INITIAL = {"KVXDFLINISZ", "KVXINISZUNIT"};
constexpr size_field INCREMENT = {"KVXDFLINCSZ", "KVXINCSZUNIT"};
constexpr size_field MAXIMUM = {"KVXDFLMAXSZ", "KVXMAXSZUNIT"};
constexpr size_field SIZE_ROWS[] = {INITIAL, INCREMENT, MAXIMUM};

// The catalogue texts of the two form actions, held while the page is written.
struct form_actions {
    char* add;
    char* create;
};

const char* message(kvx_state* s, int number) { return kvg_message(s->context, number); }

const char* first_value(kvx_state* s, const char* name) { return kvg_first_value(name, s->variables, s->context); }

bool is(kvx_state* s, const char* text, int number) { return text && lk_equal(text, message(s, number)); }

std::string html(const char* text) { return kvg_html_escaped(text ? text : ""); }
std::string attr(const char* text) { return kvg_attr_escaped(text ? text : ""); }

// The block of a failed database operation: the database's code and text, or
// the number the operation refused with and its catalogue text. Always -1.
int report(kvx_state* s, const char* identifier, int result) {
    if (result == -1) {
        // The database's text may repeat a name from the request.
        kvg_error_page(1, identifier, s->error->code, html(s->error->message).c_str(), s->context);
    } else {
        kvg_error_message(1, identifier, result, s->context);
    }
    return -1;
}

// A refused data file form: its block, with help; the number is the result.
int refuse(kvx_state* s, const char* identifier, int number, const std::string& text) {
    kvg_error_page(1, identifier, number, text.c_str(), s->context);
    return number;
}

// ---- the request's actions --------------------------------------------------------

// A confirmed add or create form: checked in full before its statement runs.
int apply_form(kvx_state* s, const char* confirmed, const form_actions& actions) {
    if (kvx_read_datafile(s) != 0 || kvx_check_datafile(s) != 0) return -1;
    kvg_context* c = s->context;
    int result = 0;
    if (lk_equal(confirmed, actions.add)) {
        result = kvx_add_datafile(c, s->credentials, s->tablespace->name, s->datafile, s->error);
        if (result != 0) return report(s, "KVX-XPND", result);
    } else if (lk_equal(confirmed, actions.create)) {
        result = kvx_create_tablespace(c, s->credentials, s->tablespace->name, s->datafile, s->error);
        if (result != 0) return report(s, "KVX-CREAT", result);
    }
    return 0;
}

// Whether the request may change the database: sent by its user from this
// tool's own page. When not, the block says why and the page goes on
// without the change.
bool may_act(kvx_state* s) {
    int refusal = kvg_acting_check(s->context, s->credentials, s->server, s->variables);
    if (refusal) kvg_refusal_block(s->context, refusal);
    return refusal == 0;
}

int take_action(kvx_state* s, const char* todo) {
    std::snprintf(s->page->action, KVX_TEXT_SIZE, "%s", todo);
    if (is(s, s->page->action, SHOW)) {
        s->page->step = 0;
    } else if (is(s, s->page->action, SWITCH_STATUS)) {
        s->page->step = 0;
        if (!may_act(s)) return 0;
        int result = kvx_toggle_status(s->context, s->credentials, s->tablespace, s->error);
        if (result != 0) return report(s, "KVX-TSTAT", result);
    }
    return 0;
}

// ---- usage page ----------------------------------------------------------------------

void write_form_start(kvx_state* s, const std::string& tool_path) {
    bk_out("<FORM method=post action=%s%s%s%s%s%s%s-%s%s%s>\n", attr(s->server->protocol).c_str(), ":", "/", "/",
           attr(s->server->host).c_str(), "/", attr(s->credentials->sid).c_str(), "bin", "/", tool_path.c_str());
    kvg_token_field(s->context, s->credentials);
}

void write_legend_row(kvx_state* s, const char* colour, int label, int kilobytes) {
    // The square only repeats the colour of the label beside it.
    bk_out("<TR><TD align=right><IMG src=%s%s%s%s%s%s%s%s.%s alt=\"\"></TD>\n", "/", attr(s->credentials->sid).c_str(),
           "/", "kv", "/", "pics", "/", colour, "gif");
    bk_out("<TD align=center>%s</TD><TD align=left>%d</TD>\n", message(s, label), kilobytes);
}

void write_chart(kvx_state* s, const std::string& tool_path) {
    const kvx_tablespace* t = s->tablespace;
    bk_out("<TD rowspan=4 valign=top align=right>");
    // Without the picture, its figures.
    std::string figures = bk_text("%s %d, %s %d", message(s, 9005), t->free_kb, message(s, 9006), t->used_kb);
    bk_out("<IMG src=%s%s%s%s%s%s%s-%s%s%s%s%s%d.%s?KVXUSD=%d&KVXTOT=%d alt=\"%s\"><P></TD>\n",
           attr(s->server->protocol).c_str(), ":", "/", "/", attr(s->server->host).c_str(), "/",
           attr(s->credentials->sid).c_str(), "bin", "/", tool_path.c_str(), "/", "kvx",
           static_cast<int>(s->process_id), "gif", t->used_kb, t->total_kb, attr(figures.c_str()).c_str());
}

// The data files of the tablespace, in the box under the numbers.
int write_datafiles(kvx_state* s) {
    kvg_context* c = s->context;
    int32_t count = 0;
    int result = kvo_file_count(s->credentials, s->error, KVO_DATA_FILES, &count);
    if (result != 0) return report(s, "KVX-DFLCNT", result);
    kvg_string_list* names = nullptr;
    if (kvg_list_new(&names, 1, c) != 0 || kvg_list_set(names, 0, s->tablespace->name, c) != 0) return -1;
    kvg_string_list* files = nullptr;
    result = kvo_tablespace_files(s->credentials, &files, count, s->error, c, names);
    if (result != 0) return report(s, "KVX-TDFLS", result);
    // A copy that cannot be had has written its block.
    s->page->datafiles = kvg_list_copy(files, c);
    if (!s->page->datafiles) return -1;

    bk_out("<TR><TD align=center><i>%s</i></TD></TR>\n", message(s, 9013));
    bk_out("<TR><TD align=center>\n");
    bk_out("<TABLE BORDER>\n");
    bk_out("<TR><TD>\n");
    bk_out("<P><SELECT size=4>\n");
    for (int i = 0; i < files->count; ++i)
        bk_out("<P><OPTION value=\"%s\"> %s\n", attr(files->items[i]).c_str(), html(files->items[i]).c_str());
    bk_out("</SELECT>\n");
    bk_out("</TD></TR>\n");
    bk_out("</TABLE>\n");
    bk_out("</TD></TR>\n");
    bk_out("</TABLE></CENTER>\n");
    kvg_list_free(files, c);
    kvg_list_free(names, c);
    return 0;
}

int write_usage_page(kvx_state* s, const std::string& tool_path) {
    const kvx_tablespace* t = s->tablespace;
    bk_out("<CENTER><TABLE>\n");
    bk_out("<TR>\n");
    bk_out("<TD><TABLE>\n");
    bk_out("<TR><TD align=right><b>%s</b></TD>\n", message(s, 9003));
    bk_out("<TD><i>%s</i></TD></TR>\n", html(t->name).c_str());
    bk_out("<TR><TD align=right><b>%s</b></TD>\n", message(s, 9004));
    bk_out("<TD><i>%s</i></TD></TR>\n", html(t->status).c_str());
    bk_out("</TABLE>\n");
    bk_out("</TD>\n");
    bk_out("<TD colspan=2 valign=bottom align=center>\n");
    bk_out("<INPUT type=submit name=\"KVXTODO\" value=\"%s\">\n", message(s, SWITCH_STATUS));
    // The button switches the tablespace shown beside it, whatever the
    // selector below is turned to.
    bk_out("<INPUT type=hidden name=\"KVXSHOWNTS\" value=\"%s\">\n", attr(kvo_name_text(t->name).c_str()).c_str());
    bk_out("</TD></TR>\n");
    bk_out("<TR><TD><BR></TD></TR>\n");
    bk_out("<TR><TD align=center>\n");
    bk_out("<TABLE><CAPTION><b>%s %s</b></CAPTION>\n", message(s, 9001), message(s, 9002));
    write_legend_row(s, "blue", 9005, t->free_kb);
    write_chart(s, tool_path);
    bk_out("</TR>\n");
    write_legend_row(s, "yellow", 9006, t->used_kb);
    bk_out("</TR>\n");
    bk_out("<TR><TD> </TD><TD colspan=2 align=left><HR></TD></TR>\n");
    bk_out("<TR><TD> </TD><TD align=center>%s</TD>\n", message(s, 9007));
    bk_out("<TD align=left>%d</TD></TR>\n", t->total_kb);
    bk_out("</TABLE>\n");
    bk_out("</TD></TR>\n");
    return write_datafiles(s);
}

void write_tablespace_option(const std::string& name) {
    bk_out("<OPTION value=\"%s\"> %s\n", attr(name.c_str()).c_str(), html(name.c_str()).c_str());
}

// The tablespace selector (the current one first and only once) and the
// buttons that act on the chosen tablespace.
void write_selection_line(kvx_state* s) {
    const char* current = s->tablespace->name;
    bk_out("<HR width=100%%>\n");
    bk_out("<CENTER><TABLE width=60%%>\n");
    bk_out("<TR><TD>\n");
    bk_out("<TABLE><TR><TD align=right>%s</TD>\n", message(s, 9003));
    bk_out("<TD align=left>\n");
    bk_out("<P><SELECT name=\"KVXTBLSPNAME\" size=1>\n");
    // A choice reads back through the name copy, so each is offered in the
    // form that gives the stored name again.
    // The value keeps a name's blanks, which the text of an option loses.
    write_tablespace_option(kvo_name_text(current));
    const kvg_string_list* names = s->page->tablespaces;
    for (int i = 0; names && i < names->count; ++i) {
        const char* name = names->items[i];
        if (!lk_equal(name, current)) write_tablespace_option(kvo_name_text(name));
    }
    bk_out("</SELECT>\n");
    bk_out("</TD></TR></TABLE></TD>\n");
    bk_out("<TD align=right>");
    bk_out("<INPUT type=submit name=\"KVXTODO\" value=\"%s\"></TD>\n", message(s, SHOW));
    bk_out("<TD align=right>");
    bk_out("<TD><INPUT type=submit name=\"KVXTODO\" value=\"%s\"></TD>\n", message(s, ADD_FILE));
    bk_out("<TD align=right>");
    bk_out("<TD><INPUT type=submit name=\"KVXTODO\" value=\"%s\"></TD>\n", message(s, CREATE));
    bk_out("</TR></TABLE></CENTER>\n");
}

// ---- the two forms ------------------------------------------------------------------

void write_unit_choice(kvx_state* s, const char* unit_variable) {
    const char* kilobytes = message(s, KILOBYTES);
    const char* megabytes = message(s, MEGABYTES);
    bk_out("<TABLE><TR><TD align=left>\n");
    bk_out("<label><INPUT type=radio name=\"%s\" value=\"%s\" checked>%s</label>\n", unit_variable, kilobytes, kilobytes);
    bk_out("</TD><TD align=left>\n");
    bk_out("<label><INPUT type=radio name=\"%s\" value=\"%s\">%s</label>\n", unit_variable, megabytes, megabytes);
    bk_out("</TD></TR></TABLE>\n");
}

void write_size_rows_and_closing(kvx_state* s, int action) {
    for (int i = 0; i < 3; ++i) {
        bk_out("</TD></TR>\n");
        bk_out("<TR><TD align=right>%s</TD>\n", message(s, 9015 + i));
        bk_out("<TD align=left>\n");
        bk_out("<INPUT type=text size=4 name=\"%s\"></TD>\n", SIZE_ROWS[i].size_variable);
        bk_out("<TD>\n");
        write_unit_choice(s, SIZE_ROWS[i].unit_variable);
    }
    bk_out("</TD></TR>\n");
    bk_out("</TABLE></TD></TR>\n");
    bk_out("<TR><TD><BR></TD></TR>\n");
    bk_out("<TR><TD align=center>\n");
    bk_out("<INPUT type=submit name=\"KVXPDOK\" value=\"%s\"></TD></TR>\n", message(s, action));
}

void write_add_form(kvx_state* s) {
    bk_out("<TR><TD><TABLE BORDER><TR><TD align=left>%s ", message(s, 9021));
    bk_out("%s ", message(s, 9022));
    bk_out("%s ", message(s, 9023));
    bk_out("%s </TD></TR></TABLE>", message(s, 9024));
    bk_out("</TD><TR>\n");
    bk_out("<TR><TD><TABLE><TR><TD align=right>%s</TD>\n", message(s, 9003));
    bk_out("<TD align=left>%s\n", html(s->tablespace->name).c_str());
    bk_out("</TD></TR><TR><TD align=right>%s</TD>\n", message(s, 9014));
    bk_out("<TD align=left colspan=4>\n");
    bk_out("<INPUT type=text size=32 name=\"KVXNEWDFL\">\n");
    write_size_rows_and_closing(s, ADD_FILE);
}

int write_create_form(kvx_state* s) {
    bk_out("<TR><TD align=left>\n");
    bk_out("<TABLE><TR><TD align=right>%s</TD>\n", message(s, 9003));
    bk_out("<TD align=left colspan=4>\n");
    bk_out("<INPUT type=text size=30 name=\"KVXTBLSPNAME\">\n");
    bk_out("</TD></TR>\n");
    bk_out("<TR><TD align=right>%s</TD>\n", message(s, 9014));
    int result = kvx_new_datafile_name(s->context, s->credentials, s->datafile, s->error);
    if (result != 0) {
        kvg_error_message(1, "KVX-DFLNAM", result < 1 ? 1010 : result, s->context);
        return -1;
    }
    bk_out("<TD align=left colspan=4>\n");
    bk_out("<INPUT type=text size=30 name=\"KVXNEWDFL\" VALUE=\"%s\">\n", attr(s->datafile->name).c_str());
    write_size_rows_and_closing(s, CREATE);
    return 0;
}

int write_form_page(kvx_state* s, const form_actions& actions) {
    bk_out("<CENTER><TABLE width=80%%>\n");
    bk_out("<TR><TD><BR></TD></TR>\n");
    if (lk_equal(s->page->action, actions.add)) write_add_form(s);
    else if (lk_equal(s->page->action, actions.create) && write_create_form(s) != 0) return -1;
    bk_out("</TABLE></CENTER>\n");
    return 0;
}

// What the next request needs to know, in hidden fields.
void write_trailer(kvx_state* s, const form_actions& actions) {
    if (s->page->step == 0) {
        write_selection_line(s);
    } else if (s->page->step == 1) {
        bool add = lk_equal(s->page->action, actions.add);
        if (add || lk_equal(s->page->action, actions.create))
            bk_out("<P><INPUT type=hidden name=\"KVXTODO\" value=\"%s\">\n", message(s, SHOW));
        if (add)
            bk_out("<P><INPUT type=hidden name=\"KVXTBLSPNAME\" value=\"%s\">\n",
                   attr(kvo_name_text(s->tablespace->name).c_str()).c_str());
    }
    s->page->step = kvg_next_counter(s->page->step);
    bk_out("<P><INPUT type=hidden name=\"KVXPDINSTANCE\" value=\"%d\">\n", s->page->step);
    bk_out("</FORM>\n");
}

int write_body(kvx_state* s, const form_actions& actions) {
    kvg_context* c = s->context;
    const char* confirmed = first_value(s, "KVXPDOK");
    if (confirmed && may_act(s) && apply_form(s, confirmed, actions) != 0) return -1;
    int result = kvx_get_space(c, s->credentials, s->tablespace, s->error);
    if (result != 0) return report(s, "KVX-TSPINF", result);
    const char* todo = first_value(s, "KVXTODO");
    if (todo && take_action(s, todo) != 0) return -1;
    if (s->page->step == 0) {
        s->process_id = os_process_id();
        result = kvo_tablespace_list(s->credentials, &s->page->tablespaces, s->error, c);
        if (result != 0) return report(s, "KVX-TSPC", result);
    }
    // The address of this program as the request named it.
    const char* tool = first_value(s, "KVTOOL");
    if (!tool) tool = s->server->script ? s->server->script : "";
    std::string tool_path = attr(kvg_path_base(c, tool, std::strlen(tool)));
    write_form_start(s, tool_path);
    if (s->page->step == 0 && write_usage_page(s, tool_path) != 0) return -1;
    if (s->page->step == 1 && write_form_page(s, actions) != 0) return -1;
    write_trailer(s, actions);
    return 0;
}

}  // namespace

int kvx_write_page(kvx_state* s) {
    kvg_context* c = s->context;
    form_actions actions{static_cast<char*>(kvg_alloc(c, SCRATCH_SIZE, 0, MODULE, __LINE__)),
                         static_cast<char*>(kvg_alloc(c, SCRATCH_SIZE, 0, MODULE, __LINE__))};
    if (!actions.add || !actions.create) {
        kvg_error_message(0, "KVX-TMPBUF", 1013, c);
        return 1013;
    }
    kvg_message_copy(c, ADD_FILE, actions.add, SCRATCH_SIZE);
    kvg_message_copy(c, CREATE, actions.create, SCRATCH_SIZE);
    int result = write_body(s, actions);
    kvg_free(c, actions.add);
    kvg_free(c, actions.create);
    return result;
}

// ---- data file form ----------------------------------------------------------------

int kvx_read_datafile(kvx_state* s) {
    kvx_datafile* d = s->datafile;
    d->name = first_value(s, "KVXNEWDFL");
    if (!d->name) return 0;
    if (kvx_read_size(s, INITIAL.size_variable, INITIAL.unit_variable, &d->initial_kb) != 0 ||
        kvx_read_size(s, INCREMENT.size_variable, INCREMENT.unit_variable, &d->increment_kb) != 0 ||
        kvx_read_size(s, MAXIMUM.size_variable, MAXIMUM.unit_variable, &d->maximum_kb) != 0)
        return -1;
    return 0;
}

int kvx_read_size(kvx_state* s, const char* size_variable, const char* unit_variable, int* kilobytes) {
    *kilobytes = 0;
    const char* text = first_value(s, size_variable);
    if (!text) return 0;
    int n = lk_text_to_int(text);
    bool initial = std::strcmp(size_variable, INITIAL.size_variable) == 0;
    // A data file cannot start empty, and no size is below nothing: the
    // database would take a negative size for a statement it cannot read.
    if (n < 0 || (initial && n == 0)) {
        kvg_error_message(1, "KVX-SZ", 9025, s->context);
        return -1;
    }
    if (n == 0) {
        if (std::strcmp(size_variable, MAXIMUM.size_variable) == 0) s->datafile->unlimited = 1;
        else *kilobytes = 1;
        return 0;
    }
    const char* unit = first_value(s, unit_variable);
    long long value = is(s, unit, MEGABYTES) ? n * 1024LL : n;
    // Megabytes beyond what kilobytes can count stay at the limit, so the free
    // space check refuses them instead of a wrapped small number passing.
    *kilobytes = static_cast<int>(std::clamp<long long>(value, INT_MIN, INT_MAX));
    return 0;
}

int kvx_check_datafile(kvx_state* s) {
    const kvx_datafile* d = s->datafile;
    if (!d->unlimited) {
        if (d->initial_kb > d->maximum_kb)
            return refuse(s, "KVX-INISZ", 9025, bk_text("%s%s", message(s, 9026), message(s, 9028)));
        if (static_cast<long long>(d->initial_kb) + d->increment_kb > d->maximum_kb)
            return refuse(s, "KVX-SUMSZ", 9025, bk_text("%s%s", message(s, 9027), message(s, 9028)));
    }
    // The name goes between quotes into a statement.
    if (!kvx_valid_datafile_name(d->name))
        return refuse(s, "KVX-DFL", 9030, bk_text("%s \"%s\"", message(s, 9030), html(d->name).c_str()));
    const char* directory = kvg_path_dir(s->context, d->name, std::strlen(d->name));
    // A file right under the root has the root as its directory.
    if (!*directory && d->name[0] == '/') directory = "/";
    long long free_kb = 0;
    if (kvx_disk_free(directory, &free_kb) != 0) {
        refuse(s, "KVX-FSP", 1011, bk_text("%s \"%s\"", message(s, 1011), html(directory).c_str()));
        return -1;
    }
    long long needed = d->unlimited ? d->initial_kb : d->maximum_kb;
    if (needed > free_kb) {
        kvg_error_message(1, "KVX-MAXSZ", 9029, s->context);
        return 9029;
    }
    return 0;
}

int kvx_disk_free(const char* path, long long* kilobytes) {
    // Only a full path names the disk the file will be on.
    if (!path || path[0] != '/') return -1;
    return os_free_kilobytes(path, kilobytes) ? 0 : -1;
}
