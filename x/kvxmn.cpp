// The tablespace tool's handler.
#include "x/kvx.h"

namespace {

constexpr const char* MODULE = "x/kvxmn";

bool new_text(kvg_context* c, char** slot, const char* identifier) {
    *slot = static_cast<char*>(kvg_alloc_record(c, KVX_TEXT_SIZE, 0, identifier, MODULE, __LINE__));
    return *slot != nullptr;
}

bool create_records(kvx_state* s) {
    kvg_context* c = s->context;
    if (!kvg_new_record(c, &s->error, 0, "KVX-ERRP", MODULE) || !kvg_new_record(c, &s->tablespace, 0, "KVX-TSPINF", MODULE) ||
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

}  // namespace

int kvx_handler(bk_host* host, int, int end, int argc, char** argv) {
    if (end) return bk_end(host, -1);
    bk_out("Content-type: text/html\n\n");
    auto* s = static_cast<kvx_state*>(bk_record(host, sizeof(kvx_state)));
    if (!s || kvg_start(host, &s->context, &s->variables, argc, argv) != 0) return -1;
    if (!create_records(s)) return -1;
    const char* step = kvg_first_value("KVXPDINSTANCE", s->variables, s->context);
    s->page->step = step ? lk_text_to_int(step) : 0;
    kvg_error_page(0, "KVX-PAGE", 0, "This page is not yet available in this installation.", s->context);
    return -1;
}

int main(int argc, char** argv) {
    static const bk_program_entry table[] = {
        BK_LSF_ENTRY,
        {"kvx", 3, "", 0, "", 0, kvx_handler, BK_ENTRY_REAL},
        BK_TABLE_END,
    };
    return kvg_main("kvxhost", table, argc, argv);
}
