// The export tool's handler: the step of the form chain and its pages.
#include <cstdio>
#include <cstring>
#include <string>

#include "e/kve.h"
#include "platform/os.h"

namespace {

constexpr const char* MODULE = "e/kvemn";

// The handler's working records, in the order the tool has always made them.
bool create_records(kve_request* r) {
    kvg_context* c = r->context;
    if (!kvg_new_record(c, &r->error, 1, "KVC-DBOH", MODULE) || !kvg_new_record(c, &r->options, 1, "KVE-FLIST", MODULE) ||
        !kvg_new_record(c, &r->credentials, 1, "KVC-DBOH", MODULE))
        return false;
    kvg_get_credentials(r->credentials, c, r->variables);
    return kvg_new_record(c, &r->server, 1, "KVE-SRVP", MODULE) && kvg_get_server(c, r->server, r->variables) == 0;
}

// The utility finds its libraries under the home.
void set_library_path(bk_host* host, kve_request* r) {
    const char* home = r->credentials->home ? r->credentials->home : "";
    size_t size = std::strlen(home) + sizeof "/lib";
    auto* value = static_cast<char*>(kvg_alloc(r->context, size, 0, MODULE, __LINE__));
    if (!value) kve_fail(host, r->context, 1, 1010);
    std::snprintf(value, size, "%s%s%s", home, "/", "lib");
    kvg_setenv(r->context, "LD_LIBRARY_PATH", value);
}

bool posted_button(kve_request* r, int number) {
    const char* button = kvg_first_value("KVESUBMIT", r->variables, r->context);
    return button && lk_equal(button, kvg_message(r->context, number));
}

// The button pressed, told by its catalogue text; the last match wins. A
// text that matches no button of the tool gives the option page, so a
// continued request always gets a page. *defaults says whether it was the
// advanced page's defaults button.
kve_action posted_action(kve_request* r, bool* defaults) {
    static const struct {
        int message;
        kve_action action;
    } buttons[] = {
        {4010, KVE_ACTION_OPTIONS}, {4046, KVE_ACTION_OPTIONS}, {4047, KVE_ACTION_ADVANCED}, {4054, KVE_ACTION_OPTIONS},
        {4002, KVE_ACTION_RUN},     {1054, KVE_ACTION_RUN},     {4005, KVE_ACTION_ADVANCED},
    };
    kve_action action = KVE_ACTION_OPTIONS;
    *defaults = false;
    for (const auto& b : buttons) {
        if (!posted_button(r, b.message)) continue;
        action = b.action;
        *defaults = b.message == 4047;
    }
    return action;
}

void first_page(bk_host* host, kve_request* r) {
    kve_set_defaults(host, r);
    kve_switch_block(r);
    kve_export_file_block(r);
    kve_scope_block(r);
    kve_full_database_note(r);
    kve_object_type_block(r, false);
    kve_first_page_defaults(r);
    kve_bottom_block(r);
}

void option_page(bk_host* host, kve_request* r) {
    kve_parse_options(host, r);
    const kve_options* o = r->options;
    kve_switch_block(r);
    kve_export_file_block(r);
    kve_scope_block(r);
    if (o->scope == KVE_SCOPE_TABLES) {
        kve_load_lists(r);
        kve_table_list_block(r);
    } else if (o->scope == KVE_SCOPE_USERS) {
        kve_load_lists(r);
        kve_user_list_block(r);
    } else {
        kve_full_database_note(r);
    }
    kve_object_type_block(r, true);
    kve_carry_advanced(r);
    kve_bottom_block(r);
}

void advanced_page(bk_host* host, kve_request* r, bool defaults) {
    if (defaults) {
        kve_reset_advanced(host, r);
        kve_advanced_block_defaults(host, r);
    } else {
        kve_parse_options(host, r);
        kve_advanced_block_posted(host, r);
    }
    kve_carry_main(r);
    kve_next_counter(r);
    bk_out("</form>\n");
}

// The export file exists and the user has not confirmed yet. Besides both
// option groups the page carries the checked table and user boxes, so that a
// confirmed table or user export still knows what was chosen. Ends the
// program: the page has no bottom.
[[noreturn]] void warning_page(bk_host* host, kve_request* r) {
    kve_carry_main(r);
    kve_carry_advanced(r);
    kve_carry_boxes(r);
    kve_next_counter(r);
    bk_out("<input type=hidden name=\"KVEWARNING\" value=\"%d\">\n", 1);
    bk_out("<h3><i>%s</i></h3><p>", kvg_message(r->context, 1053));
    bk_out("<p>%s<p>\n", kvg_message(r->context, 4062));
    bk_out("<input type=submit name=\"KVESUBMIT\" value=\"%s\">\n", kvg_message(r->context, 1054));
    bk_out("</form></body></html>\n");
    bk_end(host, -1);
}

// Whether the export file can be created, leaving nothing behind: only a file
// this check made itself is removed again.
void check_export_file(bk_host* host, kve_request* r) {
    const char* name = r->options->export_file_name;
    if (os_exists(name)) warning_page(host, r);
    if (os_create_new_file(name) != 0) kve_fail(host, r->context, 0, 4061);
    os_remove_file(name);
}

// Nothing is written or started for a request that its user did not send
// from this tool's own page: it gets the option page with the reason. Then
// nothing is written for credentials the instance refuses.
void run_page(bk_host* host, kve_request* r) {
    if (int refusal = kvg_acting_check(r->context, r->credentials, r->server, r->variables)) {
        kvg_refusal_block(r->context, refusal);
        return option_page(host, r);
    }
    kve_parse_options(host, r);
    kve_require_login(host, r->context, r->credentials, r->error, "KVE-LOGIN");
    kve_check_log_file(host, r);
    if (!kvg_first_value("KVEWARNING", r->variables, r->context)) check_export_file(host, r);
    kve_load_lists(r);
    kve_run_export(host, r);
    bk_out("</form>\n");
}

void form_chain(bk_host* host, kve_request* r) {
    std::string protocol = kvg_attr_escaped(r->server->protocol ? r->server->protocol : "");
    std::string server = kvg_attr_escaped(r->server->host ? r->server->host : "");
    std::string sid = kvg_attr_escaped(r->credentials->sid ? r->credentials->sid : "");
    bk_out("<form method=post action=%s%s%s%s%s%s%s-%s%s%s>\n", protocol.c_str(), ":", "/", "/", server.c_str(), "/",
           sid.c_str(), "bin", "/", "nph-kve");
    kvg_token_field(r->context, r->credentials);
    if (r->options->page_counter == 0) return first_page(host, r);
    bool defaults = false;
    switch (posted_action(r, &defaults)) {
        case KVE_ACTION_OPTIONS: return option_page(host, r);
        case KVE_ACTION_RUN: return run_page(host, r);
        case KVE_ACTION_ADVANCED: return advanced_page(host, r, defaults);
    }
}

}  // namespace

int kve_handler(bk_host* host, int, int end, int argc, char** argv) {
    if (end) return bk_end(host, -1);
    kvg_write_head("HTTP/1.0 200 Okay", "text/html");
    auto* r = static_cast<kve_request*>(bk_record(host, sizeof(kve_request)));
    if (!r || kvg_start(host, &r->context, &r->variables, argc, argv) != 0) return -1;
    if (!create_records(r)) return -1;
    set_library_path(host, r);
    const char* counter = kvg_first_value("KVEINSTANCE", r->variables, r->context);
    r->options->page_counter = counter ? lk_text_to_int(counter) : 0;
    // The run copies the utility's output straight to the standard output
    // handle; the page text around it must not wait in a buffer. The
    // confirmation button of the warning page runs the export too.
    if (posted_button(r, 4002) || posted_button(r, 1054)) bk_out_unbuffered();
    kvg_page_top(r->context, r->credentials, r->server, "kve", nullptr, nullptr, nullptr);
    form_chain(host, r);
    kvg_page_bottom(r->context, r->credentials, r->server, "kve", nullptr, nullptr, nullptr);
    return 0;
}

int main(int argc, char** argv) {
    static const bk_program_entry table[] = {
        BK_LSF_ENTRY,
        {"nph-kve", 7, "", 0, "", 0, kve_handler, BK_ENTRY_REAL},
        BK_TABLE_END,
    };
    return kvg_main("kvehost", table, argc, argv);
}
