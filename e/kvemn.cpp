// The export tool's handler.
#include "e/kve.h"

namespace {

constexpr const char* MODULE = "e/kvemn";

bool create_records(kve_request* r) {
    kvg_context* c = r->context;
    if (!kvg_new_record(c, &r->error, 1, "KVC-DBOH", MODULE) || !kvg_new_record(c, &r->options, 1, "KVE-FLIST", MODULE) ||
        !kvg_new_record(c, &r->credentials, 1, "KVC-DBOH", MODULE))
        return false;
    kvg_get_credentials(r->credentials, c, r->variables);
    return kvg_new_record(c, &r->server, 1, "KVE-SRVP", MODULE) && kvg_get_server(c, r->server, r->variables) == 0;
}

}  // namespace

int kve_handler(bk_host* host, int, int end, int argc, char** argv) {
    if (end) return bk_end(host, -1);
    bk_out("HTTP/1.0 200 Okay\n");
    bk_out("Content-type: text/html\n\n");
    auto* r = static_cast<kve_request*>(bk_record(host, sizeof(kve_request)));
    if (!r || kvg_start(host, &r->context, &r->variables, argc, argv) != 0) return -1;
    if (!create_records(r)) return -1;
    kvg_error_page(0, "KVE-PAGE", 0, "This page is not yet available in this installation.", r->context);
    return -1;
}

int main(int argc, char** argv) {
    static const bk_program_entry table[] = {
        BK_LSF_ENTRY,
        {"nph-kve", 7, "", 0, "", 0, kve_handler, BK_ENTRY_REAL},
        BK_TABLE_END,
    };
    return kvg_main("kvehost", table, argc, argv);
}
