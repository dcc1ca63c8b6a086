#include "platform/basekit.h"

#include <cerrno>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <unistd.h>

// ---- program table and dispatch -------------------------------------------

struct bk_host {
    const char* image_name;
    const bk_program_entry* table;
};

bk_host* bk_register(const char* image_name, const bk_program_entry* table) {
    static bk_host host;
    host.image_name = image_name;
    host.table = table;
    return &host;
}

const char* bk_image_name(const bk_host* host) { return host->image_name; }

static const bk_program_entry* find_entry(const bk_host* host, const char* name) {
    for (const bk_program_entry* e = host->table; !(e->flags & BK_ENTRY_END); ++e) {
        if (e->function && std::strlen(name) == static_cast<size_t>(e->name_length) &&
            std::memcmp(e->name, name, e->name_length) == 0)
            return e;
    }
    return nullptr;
}

int bk_dispatch(bk_host* host, int argc, char** argv) {
    if (argc < 1 || !argv[0]) return BK_NO_PROGRAM;
    const bk_program_entry* entry = find_entry(host, argv[0]);
    // The formatter is a component, not a program.
    if (!entry || entry->function == bk_lsf_component) return BK_NO_PROGRAM;
    return entry->function(host, 0, 0, argc, argv) == 0 ? 0 : -1;
}

int bk_lsf_component(bk_host*, int, int, int, char**) { return BK_NO_PROGRAM; }

void* bk_record(bk_host*, size_t size) { return std::calloc(1, size ? size : 1); }

[[noreturn]] int bk_end(bk_host*, int status) { throw bk_end_signal{status}; }

// ---- memory service -------------------------------------------------------

// Every block is preceded by its tag and linked into the heap, so that a
// block can be told by module and line, and the whole heap goes at once.
struct block_header {
    block_header* prev;
    block_header* next;
    const char* module;
    int line;
    size_t size;
    unsigned magic;
};
constexpr unsigned BLOCK_MAGIC = 0x6b76626bu;
static_assert(sizeof(block_header) % alignof(std::max_align_t) == 0);

struct bk_heap {
    block_header* blocks;
};

static long fail_allocation_at() {
    static long at = [] {
        const char* knob = std::getenv("KV_FAIL_ALLOC");
        return knob ? std::strtol(knob, nullptr, 10) : 0L;
    }();
    return at;
}

// True when this allocation is the one KV_FAIL_ALLOC asks to fail.
static bool allocation_refused() {
    static long count = 0;
    ++count;
    return fail_allocation_at() > 0 && count == fail_allocation_at();
}

bk_heap* bk_heap_create() { return new (std::nothrow) bk_heap{nullptr}; }

void bk_heap_destroy(bk_heap* heap) {
    if (!heap) return;
    while (heap->blocks) bk_free(heap, heap->blocks + 1);
    delete heap;
}

static block_header* header_of(void* block) { return static_cast<block_header*>(block) - 1; }

static void* new_block(bk_heap* heap, size_t size, const char* module, int line) {
    auto* h = static_cast<block_header*>(std::malloc(sizeof(block_header) + size));
    if (!h) return nullptr;
    *h = block_header{nullptr, heap->blocks, module, line, size, BLOCK_MAGIC};
    if (heap->blocks) heap->blocks->prev = h;
    heap->blocks = h;
    return h + 1;
}

void* bk_alloc(bk_heap* heap, size_t size, int, const char* module, int line) {
    if (!heap || allocation_refused()) return nullptr;
    void* block = new_block(heap, size, module, line);
    if (block) std::memset(block, 0, size);
    return block;
}

void* bk_realloc(bk_heap* heap, void* block, size_t new_size, size_t old_size, int,
                 const char* module, int line) {
    if (!heap || allocation_refused()) return nullptr;
    void* grown = new_block(heap, new_size, module, line);
    if (!grown) return nullptr;
    size_t keep = old_size < new_size ? old_size : new_size;
    if (block) {
        keep = keep < header_of(block)->size ? keep : header_of(block)->size;
        std::memcpy(grown, block, keep);
        bk_free(heap, block);
    }
    std::memset(static_cast<char*>(grown) + keep, 0, new_size - keep);
    return grown;
}

void bk_free(bk_heap* heap, void* block) {
    if (!heap || !block) return;
    block_header* h = header_of(block);
    if (h->magic != BLOCK_MAGIC) return;
    h->magic = 0;
    if (h->prev) h->prev->next = h->next;
    else heap->blocks = h->next;
    if (h->next) h->next->prev = h->prev;
    std::free(h);
}

bool bk_block_tag(const void* block, const char** module, int* line) {
    const block_header* h = static_cast<const block_header*>(block) - 1;
    if (h->magic != BLOCK_MAGIC) return false;
    *module = h->module;
    *line = h->line;
    return true;
}

// ---- standard input -------------------------------------------------------

long bk_stdin_read(char* buffer, size_t count) {
    for (;;) {
        ssize_t n = ::read(0, buffer, count);
        if (n >= 0) return n;
        if (errno != EINTR) return 0;
    }
}

// ---- variable store -------------------------------------------------------

int bk_store_set(const char* name, const char* value) {
    return ::setenv(name, value, 1) == 0 ? 0 : -1;
}

const char* bk_store_get(const char* name) { return std::getenv(name); }

// ---- text files -----------------------------------------------------------

struct bk_text_file {
    FILE* stream;
};

int bk_text_open(const char* path, const char* mode, bk_text_file** file) {
    *file = nullptr;
    FILE* stream = std::fopen(path, mode[0] == 'w' ? "w" : "r");
    if (!stream) return BK_FILE_OPEN_FAILED;
    *file = new (std::nothrow) bk_text_file{stream};
    if (!*file) {
        std::fclose(stream);
        return BK_FILE_STREAM_FAILED;
    }
    return 0;
}

long bk_text_read(bk_text_file* file, char* buffer, size_t size) {
    if (size < 2) return -1;
    size_t n = std::fread(buffer, 1, size - 1, file->stream);
    buffer[n] = '\0';
    return n == 0 ? -1 : static_cast<long>(n);
}

int bk_text_write_line(bk_text_file* file, const char* text) {
    if (std::fputs(text, file->stream) < 0 || std::fputc('\n', file->stream) == EOF)
        return BK_FILE_STREAM_FAILED;
    return 0;
}

int bk_text_close(bk_text_file* file) {
    int result = std::fclose(file->stream) == 0 ? 0 : BK_FILE_CLOSE_FAILED;
    delete file;
    return result;
}

// ---- page output ----------------------------------------------------------

namespace {
bool output_held = false;
std::string held_output;
}  // namespace

int bk_out(const char* format, ...) {
    va_list args;
    va_start(args, format);
    int n;
    if (output_held) {
        va_list measure;
        va_copy(measure, args);
        n = std::vsnprintf(nullptr, 0, format, measure);
        va_end(measure);
        if (n > 0) {
            size_t at = held_output.size();
            held_output.resize(at + n + 1);
            std::vsnprintf(held_output.data() + at, n + 1, format, args);
            held_output.resize(at + n);
        }
    } else {
        n = std::vprintf(format, args);
    }
    va_end(args);
    return n;
}

int bk_out_text(const char* text) {
    if (!output_held) return std::fputs(text, stdout);
    held_output += text;
    return 0;
}

std::string bk_text(const char* format, ...) {
    va_list args, measure;
    va_start(args, format);
    va_copy(measure, args);
    int n = std::vsnprintf(nullptr, 0, format, measure);
    va_end(measure);
    std::string text(n > 0 ? n : 0, '\0');
    if (n > 0) std::vsnprintf(text.data(), n + 1, format, args);
    va_end(args);
    return text;
}

void bk_out_hold() { output_held = true; }

void bk_out_release(const char* head) {
    output_held = false;
    std::fputs(head, stdout);
    std::fwrite(held_output.data(), 1, held_output.size(), stdout);
    held_output.clear();
}

void bk_out_unbuffered() {
    std::fflush(stdout);
    std::setvbuf(stdout, nullptr, _IONBF, 0);
}

void bk_out_flush() {
    if (output_held) bk_out_release("");
    std::fflush(stdout);
    std::fflush(stderr);
}

// ---- formatter ------------------------------------------------------------

struct bk_formatter {
    int charset;
};

bk_formatter* bk_find_formatter(bk_host* host, const char* component) {
    static bk_formatter lsf{0};
    const bk_program_entry* entry = find_entry(host, component);
    return entry && entry->function == bk_lsf_component ? &lsf : nullptr;
}

bk_formatter* bk_formatter_create(bk_formatter* component, int charset) {
    if (!component) return nullptr;
    return new (std::nothrow) bk_formatter{charset};
}

int bk_format(bk_formatter*, char* buffer, size_t size, const char* format, ...) {
    va_list args;
    va_start(args, format);
    int n = std::vsnprintf(buffer, size, format, args);
    va_end(args);
    return n;
}
