// Counted lists of owned texts.
#include <cstring>

#include "g/kvg.h"

namespace {

constexpr const char* MODULE = "g/kvgls";

int list_out_of_memory(kvg_context* context) {
    kvg_error_message(0, "KVC-LIST", 1013, context);
    return 1013;
}

}  // namespace

int kvg_list_new(kvg_string_list** slot, int capacity, kvg_context* context) {
    auto* list = static_cast<kvg_string_list*>(kvg_alloc(context, sizeof(kvg_string_list), 0, MODULE, __LINE__));
    if (!list) return list_out_of_memory(context);
    size_t slots = capacity > 0 ? static_cast<size_t>(capacity) : 1;
    list->items = static_cast<char**>(kvg_alloc(context, slots * sizeof(char*), 0, MODULE, __LINE__));
    if (!list->items) return list_out_of_memory(context);
    list->count = 0;
    *slot = list;
    return 0;
}

int kvg_list_set(kvg_string_list* list, int index, const char* text, kvg_context* context) {
    char* copy = kvg_strdup(context, text, MODULE, __LINE__);
    if (!copy) return list_out_of_memory(context);
    list->items[index] = copy;
    list->count = index + 1;
    return 0;
}

void kvg_list_free(kvg_string_list* list, kvg_context* context) {
    if (!list) return;
    for (int i = 0; i < list->count; ++i) kvg_free(context, list->items[i]);
    kvg_free(context, list->items);
    kvg_free(context, list);
}

int kvg_list_find(const kvg_string_list* list, const char* text, kvg_context*) {
    if (!list) return -1;
    for (int i = 0; i < list->count; ++i)
        if (list->items[i] && lk_equal(list->items[i], text)) return i;
    return -1;
}

kvg_string_list* kvg_list_copy(const kvg_string_list* list, kvg_context* context) {
    if (!list) return nullptr;
    kvg_string_list* copy = nullptr;
    if (kvg_list_new(&copy, list->count, context) != 0) return nullptr;
    for (int i = 0; i < list->count; ++i)
        if (kvg_list_set(copy, i, list->items[i] ? list->items[i] : "", context) != 0) return nullptr;
    return copy;
}

void kvg_list_print(const kvg_string_list* list) {
    for (int i = 0; list && i < list->count; ++i) bk_out("%s\n", list->items[i] ? list->items[i] : "");
}
