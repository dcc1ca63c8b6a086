// The end of the backup tool's page.
#include "b/kvb.h"

namespace {
constexpr const char* MODULE = "b/kvbui";
constexpr size_t SCRATCH_SIZE = 256;
}  // namespace

void kvb_page_end(kvb_state* s) {
    void* scratch = kvg_alloc(s->context, SCRATCH_SIZE, 0, MODULE, __LINE__);
    if (!scratch) {
        kvg_error_message(0, "KVB-TMPBUF", 1013, s->context);
        return;
    }
    if (s->page->step == 1) kvg_page_bottom(s->context, s->credentials, s->server, "kvb", nullptr, nullptr, nullptr);
    kvg_free(s->context, scratch);
}
