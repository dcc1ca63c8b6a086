// CGI request decoding and the variable accessors.
#include <cstdlib>
#include <cstring>

#include "g/kvg.h"

namespace {

constexpr const char* MODULE = "g/kvgev";
constexpr size_t BODY_CHUNK = 65536;
constexpr const char* COOKIE_NAME = "KVCOOKIE";

struct request_data {
    char* text = nullptr;
    size_t length = 0;
};

lk_charset charset_of(kvg_context* context) { return context->nls ? context->nls->charset : LK_UTF8; }

void out_of_memory(const char* identifier, const char* text, kvg_context* context) {
    kvg_error_page(0, identifier, 1013, text, context);
}

// Reads CONTENT_LENGTH bytes of body, or what arrives before the end of input.
bool read_body(kvg_context* context, long wanted, request_data& data) {
    size_t capacity = BODY_CHUNK;
    data.text = static_cast<char*>(kvg_alloc(context, capacity + 1, 0, MODULE, __LINE__));
    if (!data.text) {
        out_of_memory("KVC-WORD", "Cannot allocate memory.", context);
        return false;
    }
    while (wanted > 0) {
        if (data.length == capacity) {
            // Grow by whole chunks, at least doubling, so a large body is not copied over and over.
            size_t grown = capacity + (capacity > BODY_CHUNK ? capacity : BODY_CHUNK);
            data.text = static_cast<char*>(
                kvg_realloc(context, data.text, grown + 1, capacity + 1, 1, MODULE, __LINE__));
            if (!data.text) {
                out_of_memory("KVC-WORD", "Cannot reallocate memory.", context);
                return false;
            }
            capacity = grown;
        }
        size_t room = capacity - data.length;
        long n = bk_stdin_read(data.text + data.length, room < static_cast<size_t>(wanted) ? room : wanted);
        if (n <= 0) break;
        data.length += n;
        wanted -= n;
    }
    if (wanted > 0) {
        // The body ended before CONTENT_LENGTH said: a form cut off on its
        // way is not acted on, the request counts as one without data.
        kvg_free(context, data.text);
        data = request_data{};
        return true;
    }
    data.text[data.length] = '\0';
    return true;
}

bool copy_data(kvg_context* context, const char* text, request_data& data) {
    data.length = std::strlen(text);
    data.text = kvg_strdup(context, text, MODULE, __LINE__);
    if (!data.text) out_of_memory("KVC-ORIGW", "Cannot allocate memory.", context);
    return data.text != nullptr;
}

// Name=value arguments of a run from a command shell stand for a query.
bool join_arguments(kvg_context* context, int argc, char** argv, request_data& data) {
    size_t length = 0;
    for (int i = 1; i < argc; ++i) length += std::strlen(argv[i]) + 1;
    data.text = static_cast<char*>(kvg_alloc(context, length + 1, 0, MODULE, __LINE__));
    if (!data.text) {
        out_of_memory("KVC-ORIGW", "Cannot allocate memory.", context);
        return false;
    }
    for (int i = 1; i < argc; ++i) {
        if (i > 1) data.text[data.length++] = '&';
        size_t n = std::strlen(argv[i]);
        std::memcpy(data.text + data.length, argv[i], n);
        data.length += n;
    }
    data.text[data.length] = '\0';
    return true;
}

// The pairs of the login cookie: the value of the cookie named KVCOOKIE when
// the browser sends several cookies, else everything after the first "=".
const char* cookie_pairs(const char* header, size_t* length) {
    size_t name_length = std::strlen(COOKIE_NAME);
    for (const char* p = header; *p;) {
        while (*p == ' ' || *p == ';') ++p;
        if (std::strncmp(p, COOKIE_NAME, name_length) == 0 && p[name_length] == '=') {
            const char* value = p + name_length + 1;
            *length = std::strcspn(value, ";");
            return value;
        }
        p += std::strcspn(p, ";");
    }
    const char* equals = std::strchr(header, '=');
    const char* rest = equals ? equals + 1 : header + std::strlen(header);
    *length = std::strlen(rest);
    return rest;
}

bool append_cookie(kvg_context* context, request_data& data) {
    char* header = kvg_getenv(context, "HTTP_COOKIE");
    if (!header) return true;
    size_t rest_length = 0;
    const char* rest = cookie_pairs(header, &rest_length);
    size_t separator = data.text ? 1 : 0;
    size_t grown = data.length + separator + rest_length;
    data.text = static_cast<char*>(kvg_realloc(context, data.text, grown + 1, data.text ? data.length + 1 : 0, 1,
                                               MODULE, __LINE__));
    if (!data.text) {
        out_of_memory("KVC-ORIGW", "Cannot reallocate memory.", context);
        return false;
    }
    if (separator) data.text[data.length] = '&';
    std::memcpy(data.text + data.length + separator, rest, rest_length);
    data.length = grown;
    data.text[data.length] = '\0';
    return true;
}

int hex_digit(unsigned char c) { return c <= 64 ? c - '0' : (c & ~0x20) - 55; }

// "+" becomes a blank, then %xx escapes are decoded in place. A "%" without
// two characters after it in the word stays as it is.
size_t decode_word(char* word, size_t length) {
    for (size_t i = 0; i < length; ++i)
        if (word[i] == '+') word[i] = ' ';
    size_t out = 0;
    for (size_t i = 0; i < length; ++i) {
        if (word[i] == '%' && length - i > 2) {
            int value = 16 * hex_digit(word[i + 1]) + hex_digit(word[i + 2]);
            word[out++] = static_cast<char>(value & 0xFF);
            i += 2;
        } else {
            word[out++] = word[i];
        }
    }
    word[out] = '\0';
    return out;
}

// Offset of the first stop character in text[0, length), stepping whole characters.
size_t find_stop(lk_charset charset, const char* text, size_t length, char stop) {
    size_t i = 0;
    while (i < length && text[i] != stop) i += lk_char_length(charset, text + i, length - i);
    return i < length ? i : length;
}

bool fill_entry(kvg_context* context, kvg_var* entry, char* word, size_t length) {
    length = decode_word(word, length);
    size_t equals = find_stop(charset_of(context), word, length, '=');
    entry->name = static_cast<char*>(kvg_alloc(context, equals + 1, 0, MODULE, __LINE__));
    if (!entry->name) {
        out_of_memory("KVC-WORD", "Cannot allocate memory.", context);
        return false;
    }
    std::memcpy(entry->name, word, equals);
    const char* rest = equals < length ? word + equals + 1 : "";
    size_t rest_length = equals < length ? length - equals - 1 : 0;
    entry->value = static_cast<char*>(kvg_alloc(context, rest_length + 1, 0, MODULE, __LINE__));
    if (!entry->value) {
        out_of_memory("KVC-DPVAL", "Cannot allocate memory.", context);
        return false;
    }
    std::memcpy(entry->value, rest, rest_length);
    return true;
}

kvg_var* new_entry(kvg_context* context) {
    auto* entry = static_cast<kvg_var*>(kvg_alloc(context, sizeof(kvg_var), 0, MODULE, __LINE__));
    if (!entry) {
        out_of_memory("KVC-DP", "Cannot allocate memory.", context);
        return nullptr;
    }
    entry->next = KVG_VAR_END;
    entry->from_cookie = false;
    return entry;
}

// The pairs from cookie_start on came from the login cookie.
bool split_pairs(kvg_context* context, kvg_var* first, request_data& data, size_t cookie_start) {
    lk_charset charset = charset_of(context);
    kvg_var* last = first;
    for (size_t offset = 0; offset < data.length;) {
        kvg_var* entry = last;
        if (offset > 0) {
            if (!(entry = new_entry(context))) return false;
            last->next = entry;
            last = entry;
        }
        size_t length = find_stop(charset, data.text + offset, data.length - offset, '&');
        entry->from_cookie = offset >= cookie_start;
        if (!fill_entry(context, entry, data.text + offset, length)) return false;
        offset += length + 1;
    }
    return true;
}

// FNV-1a: names are short, and the index is built once per request.
size_t name_hash(const char* name) {
    size_t hash = 14695981039346656037ull;
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(name); *p; ++p)
        hash = (hash ^ *p) * 1099511628211ull;
    return hash;
}

}  // namespace

// The request's entries by name: an open-addressing table of the first entry
// of each name, whose entries of the same name are chained in list order. A
// form with thousands of boxes is looked up box by box, so each lookup must
// not walk the list.
struct kvg_var_index {
    const kvg_var* list;
    size_t mask;
    kvg_var** first;
    kvg_var** last;

    kvg_var** slot(const char* name) const {
        for (size_t i = name_hash(name) & mask;; i = (i + 1) & mask)
            if (!first[i] || std::strcmp(first[i]->name, name) == 0) return first + i;
    }
};

namespace {

// Without a block for the index, lookups walk the list as before.
void index_variables(kvg_context* context, kvg_var* list) {
    size_t entries = 0;
    for (const kvg_var* v = list; v != KVG_VAR_END; v = v->next) ++entries;
    size_t capacity = 16;
    while (capacity < 2 * entries) capacity *= 2;
    auto* index = static_cast<kvg_var_index*>(kvg_alloc(context, sizeof(kvg_var_index), 0, MODULE, __LINE__));
    auto* first = static_cast<kvg_var**>(kvg_alloc(context, capacity * sizeof(kvg_var*), 0, MODULE, __LINE__));
    auto* last = static_cast<kvg_var**>(kvg_alloc(context, capacity * sizeof(kvg_var*), 0, MODULE, __LINE__));
    if (!index || !first || !last) return;
    std::memset(first, 0, capacity * sizeof(kvg_var*));
    *index = kvg_var_index{list, capacity - 1, first, last};
    for (kvg_var* v = list; v != KVG_VAR_END; v = v->next) {
        v->next_same_name = nullptr;
        if (!v->name) continue;
        kvg_var** head = index->slot(v->name);
        kvg_var*& tail = last[head - first];
        if (*head) tail->next_same_name = v;
        else *head = v;
        tail = v;
    }
    context->services->variable_index = index;
}

// The first entry of name when the list is the indexed one; none otherwise.
const kvg_var* indexed_entry(const char* name, const kvg_var* list, kvg_context* context, bool* indexed) {
    const kvg_var_index* index = context ? context->services->variable_index : nullptr;
    *indexed = index && index->list == list;
    return *indexed ? *index->slot(name) : nullptr;
}

}  // namespace

kvg_var* kvg_decode_request(kvg_context* context, int argc, char** argv) {
    kvg_var* first = static_cast<kvg_var*>(kvg_alloc(context, sizeof(kvg_var), 0, MODULE, __LINE__));
    if (!first) {
        out_of_memory("KVC-DP", "Cannot allocate memory", context);
        return nullptr;
    }
    first->next = KVG_VAR_END;
    first->from_cookie = false;

    request_data data;
    char* content_length = kvg_getenv(context, "CONTENT_LENGTH");
    char* query = kvg_getenv(context, "QUERY_STRING");
    bool read = true;
    if (content_length && *content_length)
        read = read_body(context, std::strtol(content_length, nullptr, 10), data);
    else if (query && *query)
        read = copy_data(context, query, data);
    else if (argc > 1)
        read = join_arguments(context, argc, argv, data);
    // The cookie's pairs follow the form's "&".
    size_t cookie_start = data.text ? data.length + 1 : 0;
    if (!read || !append_cookie(context, data) || kvg_value_lost(context)) return nullptr;
    if (data.text && !split_pairs(context, first, data, cookie_start)) return nullptr;
    kvg_free(context, data.text);
    index_variables(context, first);
    return first;
}

int kvg_get_values(const char* name, const kvg_var* list, const char** out, int capacity, kvg_context* context) {
    int count = 0;
    bool indexed = false;
    if (const kvg_var* v = indexed_entry(name, list, context, &indexed); indexed) {
        for (; v; v = v->next_same_name) {
            if (count < capacity) out[count] = v->value;
            ++count;
        }
        return count;
    }
    for (const kvg_var* v = list; v && v != KVG_VAR_END; v = v->next) {
        if (!v->name || std::strcmp(v->name, name) != 0) continue;
        if (count < capacity) out[count] = v->value;
        ++count;
    }
    return count;
}

const char* kvg_first_value(const char* name, const kvg_var* list, kvg_context* context) {
    const char* value = nullptr;
    return kvg_get_values(name, list, &value, 1, context) > 0 ? value : nullptr;
}

std::string kvg_cookie_value(const char* header, const char* name) {
    if (!header) return "";
    size_t length = 0;
    const char* pairs = cookie_pairs(header, &length);
    std::string text(pairs, length);
    for (size_t start = 0; start <= text.size();) {
        size_t end = text.find('&', start);
        if (end == std::string::npos) end = text.size();
        std::string word = text.substr(start, end - start);
        word.resize(decode_word(word.data(), word.size()));
        size_t equals = word.find('=');
        if (equals != std::string::npos && word.compare(0, equals, name) == 0 && std::strlen(name) == equals)
            return word.substr(equals + 1);
        start = end + 1;
    }
    return "";
}

const char* kvg_form_value(const char* name, const kvg_var* list, kvg_context* context) {
    bool indexed = false;
    if (const kvg_var* v = indexed_entry(name, list, context, &indexed); indexed)
        return v && !v->from_cookie ? v->value : nullptr;
    for (const kvg_var* v = list; v && v != KVG_VAR_END && !v->from_cookie; v = v->next)
        if (v->name && std::strcmp(v->name, name) == 0) return v->value;
    return nullptr;
}

int32_t kvg_next_counter(int32_t counter) {
    if (counter < INT32_MAX) ++counter;
    return counter == 0 ? 1 : counter;
}

char* kvg_getenv(kvg_context* context, const char* name) {
    const char* value = bk_store_get(name);
    if (!value) return nullptr;
    char* copy = kvg_strdup(context, value, MODULE, __LINE__);
    if (!copy) {
        out_of_memory("KVC-ENV", "Cannot allocate memory.", context);
        if (kvg_store* store = context->services->store) store->lost_value = true;
    }
    return copy;
}

bool kvg_value_lost(kvg_context* context) {
    const kvg_store* store = context->services->store;
    return store && store->lost_value;
}

int kvg_setenv(kvg_context* context, const char* name, const char* value) {
    if (bk_store_set(name, value) != 0) return -1;
    if (context->services->store) ++context->services->store->set_count;
    return 0;
}
