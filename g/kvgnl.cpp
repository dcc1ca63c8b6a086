// Language services and the message catalogue.
#include <cstring>

#include "g/kvg.h"
#include "g/kvg_internal.h"

namespace {

constexpr const char* MODULE = "g/kvgnl";
constexpr size_t MESSAGE_CACHE_SIZE = 2048;
constexpr size_t CHARSET_NAME_SIZE = 32;

void* alloc(kvg_context* context, size_t size, int line) { return kvg_alloc(context, size, 0, MODULE, line); }

int out_of_memory(const char* identifier, kvg_context* context) {
    kvg_error_page(0, identifier, 1013, "Cannot allocate memory.", context);
    return 1013;
}

const char* charset_name(lk_charset charset) { return charset == LK_UTF8 ? "UTF8" : "WE8ISO8859P1"; }

}  // namespace

int kvg_start_language(kvg_context* context) {
    auto* nls = static_cast<kvg_nls*>(alloc(context, sizeof(kvg_nls), __LINE__));
    if (!nls) {
        kvg_error_page(0, "KVC-NLINF", 1013, "Cannot allocate memory", context);
        return 1013;
    }
    context->nls = nls;
    nls->callback = alloc(context, sizeof(void*), __LINE__);
    if (!nls->callback) {
        kvg_error_page(1, "KVC-CBKP", 1023, "NLS client callback initialization failed.", context);
        return 1023;
    }
    lk_lang loaded;
    if (lk_lang_load(bk_store_get("NLS_LANG"), &loaded) != 0) {
        kvg_error_page(1, "KVC-NLOBL", 1024, "NLS data loading initialization failed.", context);
        return 1024;
    }
    nls->language = static_cast<lk_lang*>(alloc(context, sizeof(lk_lang), __LINE__));
    if (!nls->language) return out_of_memory("KVC-GLOP", context);
    *nls->language = loaded;
    nls->cursor = static_cast<kvg_cursor*>(alloc(context, sizeof(kvg_cursor), __LINE__));
    if (!nls->cursor) return out_of_memory("KVC-LSTP", context);
    // The work block names the character set; its identifier is taken from there.
    auto* work = static_cast<char*>(alloc(context, CHARSET_NAME_SIZE, __LINE__));
    if (!work) return out_of_memory("KVC-NLSSTRG", context);
    std::strcpy(work, charset_name(loaded.charset));
    nls->charset = std::strcmp(work, "UTF8") == 0 ? LK_UTF8 : LK_WE8ISO8859P1;
    nls->cursor->charset = nls->charset;
    return 0;
}

int kvg_open_catalog(kvg_context* context) {
    kvg_nls* nls = context->nls;
    char* home = kvg_getenv(context, "VANTOR_HOME");
    if (!home) return out_of_memory("KVC-NLMSTRG", context);
    nls->catalog = lk_catalog_open(home, "kv", "kvs", nls->language);
    if (!nls->catalog) {
        kvg_error_page(1, "KVC-MHD", 1026, "NLS message handle initialization failed.", context);
        return 1026;
    }
    auto* cache = static_cast<char*>(alloc(context, MESSAGE_CACHE_SIZE, __LINE__));
    if (cache) lk_catalog_attach_cache(nls->catalog, cache, MESSAGE_CACHE_SIZE);
    else kvg_error_message(0, "KVC-CACHE", 1013, context);
    return 0;
}

const char* kvg_message(kvg_context* context, int number) {
    return lk_catalog_text(context && context->nls ? context->nls->catalog : nullptr, number);
}

size_t kvg_message_copy(kvg_context* context, int number, char* buffer, size_t size) {
    return lk_catalog_copy(context && context->nls ? context->nls->catalog : nullptr, number, buffer, size);
}

std::string kvg_message_filled(kvg_context* context, int number, std::initializer_list<std::string> values) {
    std::string text = kvg_message(context, number);
    std::string out;
    for (size_t at = 0; at < text.size(); ++at) {
        size_t which = at + 1 < text.size() ? static_cast<size_t>(text[at + 1] - '1') : values.size();
        if (text[at] == '%' && which < values.size()) {
            out += kvg_html_escaped(values.begin()[which].c_str());
            ++at;
        } else {
            out += text[at];
        }
    }
    return out;
}
