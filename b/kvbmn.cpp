// The backup tool's handler.
#include <cstring>

#include "b/kvb.h"
#include "platform/os.h"

namespace {

constexpr const char* MODULE = "b/kvbmn";

bool contains(const char* text, const char* part) { return text && std::strstr(text, part); }

void write_head() {
    const char* query = bk_store_get("QUERY_STRING");
    if (kvb_push_capable() && !(query && *query)) {
        // One part of a server-push stream, written past the page buffer.
        os_write_raw("HTTP/1.0 200 Okay\n");
        os_write_raw((kvg_head_lines("multipart/x-mixed-replace;boundary=KvBBoundStr") + "\n").c_str());
        os_write_raw("--KvBBoundStr\n");
        os_write_raw("Content-type: text/html\n\n");
    } else {
        kvg_write_head("HTTP/1.0 200 Okay", "text/html");
    }
}

// The handler's working records, in the order the tool has always made them.
bool create_records(kvb_state* s) {
    kvg_context* c = s->context;
    if (!kvg_new_record(c, &s->error, 0, "KVB-ERRP", MODULE) || !kvg_new_record(c, &s->page, 0, "KVB-FLIST", MODULE) ||
        !kvg_new_record(c, &s->credentials, 0, "KVB-DBUSER", MODULE))
        return false;
    kvg_get_credentials(s->credentials, c, s->variables);
    if (!kvg_new_record(c, &s->log_files, 0, "KVB-LFIP", MODULE) || !kvg_new_record(c, &s->server, 0, "KVB-SRVP", MODULE) ||
        kvg_get_server(c, s->server, s->variables) != 0 || !kvg_new_record(c, &s->devices, 1, "KVB-DEVP", MODULE) ||
        !kvg_new_record(c, &s->history, 0, "KVB-HISTP", MODULE))
        return false;
    s->history->words[0] = 0;
    return true;
}

}  // namespace

int kvb_push_capable() {
    if (!contains(bk_store_get("SERVER_SOFTWARE"), "NCSA")) return 0;
    const char* agent = bk_store_get("HTTP_USER_AGENT");
    return contains(agent, "Mozilla") && !contains(agent, "ompatible") ? 1 : 0;
}

int kvb_handler(bk_host* host, int, int end, int argc, char** argv) {
    if (end) return bk_end(host, -1);
    write_head();
    auto* s = static_cast<kvb_state*>(bk_record(host, sizeof(kvb_state)));
    if (!s || kvg_start(host, &s->context, &s->variables, argc, argv) != 0) return -1;
    if (!create_records(s)) return -1;
    const char* step = kvg_first_value("KVBKUINSTANCE", s->variables, s->context);
    s->page->step = step ? lk_text_to_int(step) : 0;
    kvg_page_top(s->context, s->credentials, s->server, "kvb", nullptr, nullptr, nullptr);
    // Fixed, not a catalogue text: the same in every language.
    bk_out_text("Sorry, this tool is not available on NT yet!\n");
    kvb_page_end(s);
    return 0;
}

int main(int argc, char** argv) {
    static const bk_program_entry table[] = {
        BK_LSF_ENTRY,
        {"nph-kvb", 7, "", 0, "", 0, kvb_handler, BK_ENTRY_REAL},
        BK_TABLE_END,
    };
    return kvg_main("kvbhost", table, argc, argv);
}
