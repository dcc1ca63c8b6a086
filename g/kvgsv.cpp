// Context start-up and the tagged heap.
#include <cstring>
#include <string>

#include "g/kvg.h"
#include "g/kvg_internal.h"
#include "platform/os.h"

namespace {

constexpr const char* MODULE = "g/kvgsv";

void* alloc_early(bk_heap* heap, size_t size, int line) { return bk_alloc(heap, size, 0, MODULE, line); }

// Step 1: the context, its runtime services and the variable store.
int create_context(bk_host* host, kvg_context** slot) {
    bk_heap* heap = bk_heap_create();
    auto* context = heap ? static_cast<kvg_context*>(alloc_early(heap, sizeof(kvg_context), __LINE__)) : nullptr;
    if (!context) {
        kvg_error_page(0, "KVC-CFSP", 1013, "Cannot allocate memory", nullptr);
        return 1013;
    }
    auto* services = static_cast<kvg_services*>(alloc_early(heap, sizeof(kvg_services), __LINE__));
    if (!services) {
        kvg_error_page(0, "KVC-CINFO", 1013, "Cannot allocate memory", nullptr);
        return 1013;
    }
    services->host = host;
    services->heap = heap;
    context->services = services;
    services->store = static_cast<kvg_store*>(alloc_early(heap, sizeof(kvg_store), __LINE__));
    if (!services->store) {
        kvg_error_page(0, "KVC-SLEP", 1013, "Cannot allocate memory", nullptr);
        return 1013;
    }
    *slot = context;
    return 0;
}

// The request's database home must be the installation's own: the key, the
// catalogue and the utilities are read and run from the home, and a request
// may not point them at a directory of its choosing. The store gets the home
// as the installation has it, whatever spelling the request used.
bool set_installation_home(kvg_context* context, const char* requested) {
    std::string home = os_installation_home();
    if (home.empty() || os_real_path(requested) != home) return false;
    return kvg_setenv(context, "VANTOR_HOME", home.c_str()) == 0;
}

struct required {
    const char* name;
    const char* identifier;
    int number;
    const char* text;
};

// A request without the login's home or instance: a tool opened from a
// bookmark or after the browser's restart. Its address names the instance,
// so the block leads to the error help and to that instance's login page.
// The catalogue is not open yet: the link's text is as literal as the block's.
int no_login(kvg_context* context, const required& missing) {
    std::string sid = kvg_sid_from_address(bk_store_get("SCRIPT_NAME"));
    if (!sid.empty() && !bk_store_get("VANTOR_SID")) kvg_setenv(context, "VANTOR_SID", sid.c_str());
    kvg_error_page(1, missing.identifier, missing.number, missing.text, context);
    if (!sid.empty()) bk_out("<P><A HREF=\"/%s-bin/login\">Log in to instance %s.</A>\n", sid.c_str(), sid.c_str());
    return missing.number;
}

// Step 3: the database home and instance id of the request go into the
// variable store, where the database libraries and every later lookup find them.
int publish_instance(kvg_context* context, const kvg_var* list) {
    static constexpr required HOME = {"VANTOR_HOME", "KVC-OH", 100, "Vantor Home not initialized."};
    static constexpr required SID = {"VANTOR_SID", "KVC-OSID", 101, "Vantor SID not initialized."};
    const char* home = kvg_first_value(HOME.name, list, context);
    if (!home || !set_installation_home(context, home)) return no_login(context, HOME);
    const char* sid = kvg_first_value(SID.name, list, context);
    if (!sid) return no_login(context, SID);
    return kvg_setenv(context, SID.name, sid) == 0 ? 0 : SID.number;
}

// Step 5: the "lsf" formatter component of the host.
int start_formatter(kvg_context* context) {
    bk_formatter* component = bk_find_formatter(context->services->host, "lsf");
    int failure = 0;
    if (!component) failure = 1027;
    else if (!(context->services->formatter = bk_formatter_create(component, context->nls->charset)))
        failure = 1028;
    if (failure) kvg_error_message(1, "KVC-LSF", failure, context);
    return failure;
}

}  // namespace

void* kvg_alloc(kvg_context* context, size_t size, int flags, const char* module, int line) {
    return bk_alloc(context->services->heap, size, flags, module, line);
}

void* kvg_realloc(kvg_context* context, void* block, size_t new_size, size_t old_size, int flags,
                  const char* module, int line) {
    return bk_realloc(context->services->heap, block, new_size, old_size, flags, module, line);
}

void kvg_free(kvg_context* context, void* block) { bk_free(context->services->heap, block); }

void* kvg_alloc_record(kvg_context* context, size_t size, int help, const char* identifier, const char* module,
                       int line) {
    void* record = kvg_alloc(context, size, 0, module, line);
    if (!record) kvg_error_message(help, identifier, 1013, context);
    return record;
}

char* kvg_strdup(kvg_context* context, const char* text, const char* module, int line) {
    size_t length = std::strlen(text);
    auto* copy = static_cast<char*>(kvg_alloc(context, length + 1, 0, module, line));
    if (copy) std::memcpy(copy, text, length + 1);
    return copy;
}

int kvg_start(bk_host* host, kvg_context** context_slot, kvg_var** list_slot, int argc, char** argv) {
    if (int failure = create_context(host, context_slot)) return failure;
    kvg_context* context = *context_slot;
    if (int failure = kvg_start_language(context)) return failure;
    kvg_var* list = kvg_decode_request(context, argc, argv);
    if (!list) return -1;
    *list_slot = list;
    if (int failure = publish_instance(context, list)) return failure;
    if (int failure = kvg_open_catalog(context)) return failure;
    return start_formatter(context);
}
