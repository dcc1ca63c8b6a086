// basekit: the run-time plumbing every program stands on.
//
// Component host with its program table and dispatcher, the memory service
// (a tagged, process-long heap), standard input, the variable store, plain
// text files, the page writer and the "lsf" formatter.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>

#define BK_PRINTF(fmt, args) __attribute__((format(printf, fmt, args)))

struct bk_host;

// ---- program table and dispatch -------------------------------------------

using bk_entry_fn = int (*)(bk_host* host, int reentry, int end, int argc, char** argv);

struct bk_program_entry {
    const char* name;
    int name_length;
    const char* alias1;
    int alias1_length;
    const char* alias2;
    int alias2_length;
    bk_entry_fn function;
    unsigned flags;  // 1 for a real entry, 0x8000 for the terminator
};

constexpr unsigned BK_ENTRY_REAL = 1;
constexpr unsigned BK_ENTRY_END = 0x8000;

// The table entry of the formatter component that every program lists first.
int bk_lsf_component(bk_host* host, int reentry, int end, int argc, char** argv);
#define BK_LSF_ENTRY {"lsf", 3, "", 0, "", 0, bk_lsf_component, BK_ENTRY_REAL}
#define BK_TABLE_END {"", 0, "", 0, "", 0, nullptr, BK_ENTRY_END}

// Result of bk_dispatch when no entry of the table carries the name.
constexpr int BK_NO_PROGRAM = 1;

bk_host* bk_register(const char* image_name, const bk_program_entry* table);
const char* bk_image_name(const bk_host* host);
int bk_dispatch(bk_host* host, int argc, char** argv);

// A zeroed record of n bytes that lives until the process ends; none on failure.
void* bk_record(bk_host* host, size_t size);
// The "lsf" formatter component when the program table lists it, else none.
struct bk_formatter;
bk_formatter* bk_find_formatter(bk_host* host, const char* component);

// Ends the program at once: control returns to the program entry, which
// flushes the page and exits with 3. Never returns.
[[noreturn]] int bk_end(bk_host* host, int status);

// Thrown by bk_end; only the program entry catches it.
struct bk_end_signal {
    int status;
};

// ---- memory service -------------------------------------------------------

struct bk_heap;

// KV_FAIL_ALLOC=N in the environment makes the Nth allocation of the
// process fail (heap creation included), so that every out-of-memory path can
// be walked in a test.
bk_heap* bk_heap_create();
// Releases every block of the heap and the heap itself.
void bk_heap_destroy(bk_heap* heap);
void* bk_alloc(bk_heap* heap, size_t size, int flags, const char* module, int line);
void* bk_realloc(bk_heap* heap, void* block, size_t new_size, size_t old_size, int flags,
                 const char* module, int line);
void bk_free(bk_heap* heap, void* block);
// Module and line of a live block, for diagnostics.
bool bk_block_tag(const void* block, const char** module, int* line);

// ---- standard input -------------------------------------------------------

// Reads up to count bytes; returns how many were read (0 at the end or on error).
long bk_stdin_read(char* buffer, size_t count);

// ---- variable store -------------------------------------------------------

// The store is the process environment, so whatever is set here is inherited
// by every utility a tool starts.
int bk_store_set(const char* name, const char* value);
// The value of name, or none when it is not set. The text is owned by the
// environment: copy it before the next set of the same name.
const char* bk_store_get(const char* name);

// ---- text files -----------------------------------------------------------

constexpr int BK_FILE_OPEN_FAILED = 1010;
constexpr int BK_FILE_ATTACH_FAILED = 1012;
constexpr int BK_FILE_STREAM_FAILED = 1032;
constexpr int BK_FILE_CLOSE_FAILED = 1033;

struct bk_text_file;
// Opens a text file for reading ("r") or writing ("w"); result codes as above.
int bk_text_open(const char* path, const char* mode, bk_text_file** file);
// Reads the next piece into buffer (at most size - 1 bytes, terminated);
// returns its length, or -1 at the end.
long bk_text_read(bk_text_file* file, char* buffer, size_t size);
// Writes one line (the text and a line end); 0 or BK_FILE_STREAM_FAILED.
int bk_text_write_line(bk_text_file* file, const char* text);
int bk_text_close(bk_text_file* file);

// ---- page output ----------------------------------------------------------

// Everything a program writes to its page goes through here.
int bk_out(const char* format, ...) BK_PRINTF(1, 2);
int bk_out_text(const char* text);
// The text a page template gives, for output that is put together first.
std::string bk_text(const char* format, ...) BK_PRINTF(1, 2);
// Standard output without a buffer from here on, so that raw writes of a
// child's output and the page text stay in order.
void bk_out_unbuffered();
// Holds what is written from here on until bk_out_release, which writes the
// head it is given and then what was held. A program whose response head
// depends on work that may already write a block (the launcher) holds that
// work's output until its head is out.
void bk_out_hold();
void bk_out_release(const char* head);
void bk_out_flush();

// ---- formatter ------------------------------------------------------------

bk_formatter* bk_formatter_create(bk_formatter* component, int charset);
// printf-style formatting into a bounded buffer; returns the length the full
// text would have (as snprintf).
int bk_format(bk_formatter* formatter, char* buffer, size_t size, const char* format, ...)
    BK_PRINTF(4, 5);
