#include "support/test_context.h"

#include <cstdlib>

test_context::test_context(lk_charset charset) {
    bk_heap* heap = bk_heap_create();
    context_ = static_cast<kvg_context*>(bk_alloc(heap, sizeof(kvg_context), 0, "test", __LINE__));
    context_->services = static_cast<kvg_services*>(bk_alloc(heap, sizeof(kvg_services), 0, "test", __LINE__));
    context_->services->heap = heap;
    context_->nls = static_cast<kvg_nls*>(bk_alloc(heap, sizeof(kvg_nls), 0, "test", __LINE__));
    context_->nls->charset = charset;
    context_->nls->catalog = lk_catalog_open_file(KV_CATALOGUE);
}

test_context::~test_context() {
    lk_catalog_close(context_->nls->catalog);
    bk_heap_destroy(context_->services->heap);
}

scoped_env::scoped_env(const char* name, std::optional<std::string> value) : name_(name) {
    if (const char* old = std::getenv(name)) saved_ = old;
    if (value) setenv(name, value->c_str(), 1);
    else unsetenv(name);
}

scoped_env::~scoped_env() {
    if (saved_) setenv(name_.c_str(), saved_->c_str(), 1);
    else unsetenv(name_.c_str());
}

void clear_cgi_env() {
    for (const char* name : {"REQUEST_METHOD", "CONTENT_LENGTH", "QUERY_STRING", "HTTP_COOKIE", "REMOTE_ADDR",
                             "SERVER_NAME", "SERVER_PORT", "SERVER_PROTOCOL", "SCRIPT_NAME", "VANTOR_HOME",
                             "VANTOR_SID", "NLS_LANG"})
        unsetenv(name);
}
