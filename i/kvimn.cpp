// The import tool's handler.
#include "i/kvi.h"

namespace {

constexpr const char* MODULE = "i/kvimn";

bool create_records(kvi_request* r) {
    kvg_context* c = r->context;
    if (!kvg_new_record(c, &r->error, 1, "KVC-DBOH", MODULE) || !kvg_new_record(c, &r->options, 1, "KVI-FLIST", MODULE) ||
        !kvg_new_record(c, &r->credentials, 1, "KVC-DBOH", MODULE))
        return false;
    kvg_get_credentials(r->credentials, c, r->variables);
    return kvg_new_record(c, &r->server, 1, "KVI-SRVP", MODULE) && kvg_get_server(c, r->server, r->variables) == 0;
}

}  // namespace

int kvi_handler(bk_host* host, int, int end, int argc, char** argv) {
    if (end) return bk_end(host, -1);
    bk_out("HTTP/1.0 200 Okay\n");
    bk_out("Content-type: text/html\n\n");
    auto* r = static_cast<kvi_request*>(bk_record(host, sizeof(kvi_request)));
    if (!r || kvg_start(host, &r->context, &r->variables, argc, argv) != 0) return -1;
    if (!create_records(r)) return -1;
    kvg_error_page(0, "KVI-PAGE", 0, "This page is not yet available in this installation.", r->context);
    return -1;
}

int main(int argc, char** argv) {
    static const bk_program_entry table[] = {
        BK_LSF_ENTRY,
        {"nph-kvi", 7, "", 0, "", 0, kvi_handler, BK_ENTRY_REAL},
        BK_TABLE_END,
    };
    return kvg_main("kvihost", table, argc, argv);
}
