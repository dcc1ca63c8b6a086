// The import tool's handler: the step of the form chain and its pages.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "e/kve.h"
#include "i/kvi.h"
#include "platform/os.h"

namespace {

constexpr const char* MODULE = "i/kvimn";

// The buttons, by their catalogue texts.
constexpr int APPLY_SCOPE = 4010, ACCEPT_OPTIONS = 5012, RESET_DEFAULTS = 5013, RESET_LIST = 5020,
              MORE_TABLES = 5032, MORE_USERS = 5033, IMPORT = 5001, ADVANCED_OPTIONS = 5011;

// The handler's working records, in the order the tool has always made them.
bool create_records(kvi_request* r) {
    kvg_context* c = r->context;
    if (!kvg_new_record(c, &r->error, 1, "KVC-DBOH", MODULE) || !kvg_new_record(c, &r->options, 1, "KVI-FLIST", MODULE) ||
        !kvg_new_record(c, &r->credentials, 1, "KVC-DBOH", MODULE))
        return false;
    kvg_get_credentials(r->credentials, c, r->variables);
    return kvg_new_record(c, &r->server, 1, "KVI-SRVP", MODULE) && kvg_get_server(c, r->server, r->variables) == 0;
}

// The utility finds its libraries under the home.
void set_library_path(bk_host* host, kvi_request* r) {
    size_t size = std::strlen(kvi_home(r)) + sizeof "/lib";
    auto* value = static_cast<char*>(kvg_alloc(r->context, size, 0, MODULE, __LINE__));
    if (!value) kvi_fail(host, r->context, 1, 1010);
    std::snprintf(value, size, "%s%s%s", kvi_home(r), "/", "lib");
    kvg_setenv(r->context, "LD_LIBRARY_PATH", value);
}

bool posted_button(kvi_request* r, int number) {
    const char* button = kvg_first_value("KVISUBMIT", r->variables, r->context);
    return button && lk_equal(button, kvg_message(r->context, number));
}

// The position a more-button asks for; none posted gives 0.
int32_t posted_position(kvi_request* r, const char* field) {
    const char* text = kvg_first_value(field, r->variables, r->context);
    return text ? lk_text_to_int(text) : 0;
}

// The button pressed, told by its catalogue text; the last match wins. A
// text that matches no button of the tool gives the selection page from its
// first entry, so a continued request always gets a page. *defaults says
// whether it was the advanced page's defaults button.
kvi_action posted_action(kvi_request* r, kvi_list_step* step, bool* defaults) {
    static const struct {
        int message;
        kvi_action action;
    } buttons[] = {
        {APPLY_SCOPE, KVI_ACTION_OPTIONS}, {ACCEPT_OPTIONS, KVI_ACTION_OPTIONS}, {RESET_DEFAULTS, KVI_ACTION_ADVANCED},
        {RESET_LIST, KVI_ACTION_OPTIONS},  {MORE_TABLES, KVI_ACTION_OPTIONS},    {MORE_USERS, KVI_ACTION_OPTIONS},
        {IMPORT, KVI_ACTION_RUN},          {ADVANCED_OPTIONS, KVI_ACTION_ADVANCED},
    };
    kvi_action action = KVI_ACTION_OPTIONS;
    *step = {};
    *defaults = false;
    for (const auto& b : buttons) {
        if (!posted_button(r, b.message)) continue;
        action = b.action;
        *step = {};
        if (b.message == MORE_TABLES) step->start = posted_position(r, "KVIMORET");
        if (b.message == MORE_USERS) step->start = posted_position(r, "KVIMOREU");
        step->reset_targets = b.message == RESET_LIST;
        *defaults = b.message == RESET_DEFAULTS;
    }
    return action;
}

// Without a file in the export directory there is nothing to import: the
// request ends before the page's body.
void check_export_directory(bk_host* host, kvi_request* r) {
    std::vector<std::string> files;
    if (!kvi_export_files(r, &files) || files.empty()) kvi_fail(host, r->context, 0, 5026);
}

void scan_with_tables(bk_host* host, kvi_request* r) {
    kvi_scan_export_file(host, r);
    if (r->scan->tables.empty()) kvi_fail(host, r->context, 0, 5027);
}

void load_users(kvi_request* r) {
    kvi_options* o = r->options;
    kve_load_lists(r->credentials, r->error, r->context, &o->users, &o->tables, &o->owners);
}

void first_page(bk_host* host, kvi_request* r) {
    kvi_set_defaults(host, r);
    check_export_directory(host, r);
    kvi_switch_block(r);
    kvi_export_file_field(r);
    kvi_scope_block(r, true);
    kvi_whole_file_note(r);
    kvi_object_boxes(r, false);
    kvi_first_page_defaults(r);
    kvi_bottom_buttons(r);
}

void selection_page(bk_host* host, kvi_request* r, const kvi_list_step& step) {
    kvi_parse_options(host, r);
    kvi_scope scope = r->options->scope;
    check_export_directory(host, r);
    scan_with_tables(host, r);
    if (scope != KVI_SCOPE_FULL) load_users(r);
    kvi_switch_block(r);
    kvi_export_file_field(r);
    kvi_scope_block(r, false);
    kvi_list_range tables, users;
    if (scope == KVI_SCOPE_TABLES) tables = kvi_table_list_block(r, step);
    else if (scope == KVI_SCOPE_USERS) users = kvi_user_list_block(r, step);
    else kvi_whole_file_note(r);
    kvi_object_boxes(r, true);
    kvi_carry_advanced(r);
    // The reset button drops the choices of the list it was pressed under.
    if (!(step.reset_targets && scope == KVI_SCOPE_TABLES)) kvi_carry_table_targets(r);
    if (!(step.reset_targets && scope == KVI_SCOPE_USERS)) kvi_carry_user_targets(r);
    kvi_carry_boxes(r, "T", r->scan->tables.size(), tables);
    kvi_carry_boxes(r, "U", r->scan->users.size(), users);
    kvi_bottom_buttons(r);
}

void advanced_page(bk_host* host, kvi_request* r, bool defaults) {
    if (defaults) kvi_reset_advanced(host, r);
    else kvi_parse_options(host, r);
    scan_with_tables(host, r);
    if (defaults) kvi_advanced_block_defaults(r);
    else kvi_advanced_block_posted(host, r);
    kvi_carry_main(r);
    kvi_carry_table_targets(r);
    kvi_carry_user_targets(r);
    kvi_carry_boxes(r, "T", r->scan->tables.size(), {});
    kvi_carry_boxes(r, "U", r->scan->users.size(), {});
    kvi_next_counter(r);
    bk_out("</form>\n");
}

// Nothing is written or started for a request that its user did not send
// from this tool's own page: it gets the selection page with the reason.
// Then nothing is written for credentials the instance refuses.
void run_page(bk_host* host, kvi_request* r) {
    if (int refusal = kvg_acting_check(r->context, r->credentials, r->server, r->variables)) {
        kvg_refusal_block(r->context, refusal);
        return selection_page(host, r, kvi_list_step{});
    }
    kvi_parse_options(host, r);
    kve_require_login(host, r->context, r->credentials, r->error, "KVI-LOGIN");
    kvi_check_files(host, r);
    load_users(r);
    scan_with_tables(host, r);
    bk_out("<p><p><p>\n");
    kvi_run_import(host, r);
    bk_out("</form>\n");
}

void kvi_dispatch(bk_host* host, kvi_request* r) {
    std::string protocol = kvg_attr_escaped(r->server->protocol ? r->server->protocol : "");
    std::string server = kvg_attr_escaped(r->server->host ? r->server->host : "");
    std::string sid = kvg_attr_escaped(r->credentials->sid ? r->credentials->sid : "");
    bk_out("<form method=post action=%s%s%s%s%s%s%s-%s%s%s>\n", protocol.c_str(), ":", "/", "/", server.c_str(), "/",
           sid.c_str(), "bin", "/", "nph-kvi");
    kvg_token_field(r->context, r->credentials);
    if (r->options->page_counter == 0) return first_page(host, r);
    kvi_list_step step;
    bool defaults = false;
    switch (posted_action(r, &step, &defaults)) {
        case KVI_ACTION_OPTIONS: return selection_page(host, r, step);
        case KVI_ACTION_RUN: return run_page(host, r);
        case KVI_ACTION_ADVANCED: return advanced_page(host, r, defaults);
    }
}

}  // namespace

[[noreturn]] void kvi_fail(bk_host* host, kvg_context* context, int help, int number) {
    kve_fail_as(host, context, "KVI", help, number);
}

int kvi_handler(bk_host* host, int, int end, int argc, char** argv) {
    if (end) return bk_end(host, -1);
    kvg_write_head("HTTP/1.0 200 Okay", "text/html");
    auto* r = static_cast<kvi_request*>(bk_record(host, sizeof(kvi_request)));
    if (!r || kvg_start(host, &r->context, &r->variables, argc, argv) != 0) return -1;
    if (!create_records(r)) return -1;
    // Unwound with the rest of the request when the program ends early.
    kvi_scan_result scan;
    r->scan = &scan;
    set_library_path(host, r);
    const char* counter = kvg_first_value("KVIINSTANCE", r->variables, r->context);
    r->options->page_counter = counter ? lk_text_to_int(counter) : 0;
    // The run copies the utility's output straight to the standard output
    // handle; the page text around it must not wait in a buffer.
    if (posted_button(r, IMPORT)) bk_out_unbuffered();
    kvg_page_top(r->context, r->credentials, r->server, "kve", nullptr, nullptr, nullptr);
    kvi_dispatch(host, r);
    kvg_page_bottom(r->context, r->credentials, r->server, "kve", nullptr, nullptr, nullptr);
    return 0;
}

int main(int argc, char** argv) {
    static const bk_program_entry table[] = {
        BK_LSF_ENTRY,
        {"nph-kvi", 7, "", 0, "", 0, kvi_handler, BK_ENTRY_REAL},
        BK_TABLE_END,
    };
    return kvg_main("kvihost", table, argc, argv);
}
