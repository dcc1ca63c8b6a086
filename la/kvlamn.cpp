// The login launcher's handler.
#include "la/kvla.h"

namespace {

constexpr const char* MODULE = "la/kvlamn";

bool create_records(kvla_state* s) {
    kvg_context* c = s->context;
    if (!kvg_new_record(c, &s->error, 1, "KVLA-ERRP", MODULE) || !kvg_new_record(c, &s->credentials, 1, "KVLA-DBUSER", MODULE))
        return false;
    return kvg_new_record(c, &s->server, 1, "KVLA-SRVP", MODULE) && kvg_get_server(c, s->server, s->variables) == 0;
}

// The launcher knows its response head only once it has read the login, but
// start-up may already have written a block: it is held until a head is out,
// so the browser always receives a page.
void write_plain_head() { bk_out_release("Content-type: text/html\n\n"); }

}  // namespace

int kvla_handler(bk_host* host, int, int end, int argc, char** argv) {
    if (end) return bk_end(host, -1);
    auto* s = static_cast<kvla_state*>(bk_record(host, sizeof(kvla_state)));
    if (!s) return -1;
    bk_out_hold();
    if (kvg_start(host, &s->context, &s->variables, argc, argv) != 0 || !create_records(s)) {
        write_plain_head();
        return -1;
    }
    write_plain_head();
    kvg_error_page(0, "KVLA-PAGE", 0, "This page is not yet available in this installation.", s->context);
    return -1;
}

int main(int argc, char** argv) {
    static const bk_program_entry table[] = {
        BK_LSF_ENTRY,
        {"kvla", 4, "", 0, "", 0, kvla_handler, BK_ENTRY_REAL},
        BK_TABLE_END,
    };
    return kvg_main("kvlaunch", table, argc, argv);
}
