// The tablespace tool's handler.
#include <cstdio>

#include "x/kvx.h"

namespace {

constexpr const char* MODULE = "x/kvxmn";

// ---- page requests --------------------------------------------------------------

bool new_text(kvg_context* c, char** slot, const char* identifier) {
    *slot = static_cast<char*>(kvg_alloc_record(c, KVX_TEXT_SIZE, 0, identifier, MODULE, __LINE__));
    return *slot != nullptr;
}

bool create_records(kvx_state* s) {
    kvg_context* c = s->context;
    if (!kvg_new_record(c, &s->error, 0, "KVX-ERRP", MODULE) ||
        !kvg_new_record(c, &s->tablespace, 0, "KVX-TSPINF", MODULE) ||
        !new_text(c, &s->tablespace->name, "KVX-TNAME") || !new_text(c, &s->tablespace->status, "KVX-STATUS") ||
        !kvg_new_record(c, &s->datafile, 0, "KVX-DFLINF", MODULE))
        return false;
    s->datafile->unlimited = 0;
    if (!kvg_new_record(c, &s->page, 0, "KVX-FLIST", MODULE) || !new_text(c, &s->page->action, "KVX-ACTION") ||
        !kvg_new_record(c, &s->credentials, 0, "KVX-DBUSER", MODULE))
        return false;
    kvg_get_credentials(s->credentials, c, s->variables);
    return kvg_new_record(c, &s->server, 0, "KVX-SRVP", MODULE) && kvg_get_server(c, s->server, s->variables) == 0;
}

// The tablespace the page is about: the posted name in the form the
// dictionary stores it, or SYSTEM on a first call. A name that could not stand
// in a statement is refused here, before anything reaches the database.
bool read_tablespace_name(kvx_state* s) {
    kvg_context* c = s->context;
    const char* name = kvg_first_value("KVXTBLSPNAME", s->variables, c);
    // The switch button acts on the tablespace the page showed beside it.
    const char* todo = kvg_first_value("KVXTODO", s->variables, c);
    const char* shown = kvg_first_value("KVXSHOWNTS", s->variables, c);
    if (shown && todo && lk_equal(todo, kvg_message(c, KVX_SWITCH_STATUS))) name = shown;
    if (!name && s->page->step == 0) {
        std::snprintf(s->tablespace->name, KVX_TEXT_SIZE, "%s", "SYSTEM");
        return true;
    }
    if (!name || !kvo_valid_name(name)) {
        kvg_error_message(1, "KVX-TSP", 9031, c);
        return false;
    }
    lk_name_copy(c->nls->charset, name, s->tablespace->name, KVX_TEXT_SIZE);
    return true;
}

}  // namespace

int kvx_handler(bk_host* host, int, int end, int argc, char** argv) {
    if (end) return bk_end(host, -1);
    // The chart is fully given by its query: no start-up, login or database.
    const char* path_info = bk_store_get("PATH_INFO");
    if (path_info && *path_info) {
        kvg_write_head(nullptr, "image/gif");
        kvx_draw_usage_chart();
        return 0;
    }
    kvg_write_head(nullptr, "text/html");
    auto* s = static_cast<kvx_state*>(bk_record(host, sizeof(kvx_state)));
    if (!s || kvg_start(host, &s->context, &s->variables, argc, argv) != 0) return -1;
    if (!create_records(s)) return -1;
    const char* step = kvg_first_value("KVXPDINSTANCE", s->variables, s->context);
    s->page->step = step ? lk_text_to_int(step) : 0;
    kvg_page_top(s->context, s->credentials, s->server, "kvx", nullptr, nullptr, nullptr);
    if (!read_tablespace_name(s) || kvx_write_page(s) != 0) return -1;
    kvg_page_bottom(s->context, s->credentials, s->server, "kvx", nullptr, nullptr, nullptr);
    return 0;
}

int main(int argc, char** argv) {
    static const bk_program_entry table[] = {
        BK_LSF_ENTRY,
        {"kvx", 3, "", 0, "", 0, kvx_handler, BK_ENTRY_REAL},
        BK_TABLE_END,
    };
    return kvg_main("kvxhost", table, argc, argv);
}
