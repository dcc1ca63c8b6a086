// langkit: language, character set and message catalogue services.
//
// NLS_LANG (LANGUAGE_TERRITORY.CHARSET, default AMERICAN_AMERICA.UTF8) picks
// the language of the messages and the character set in which request text
// is stepped, compared and case-converted.
#pragma once

#include <cstddef>

enum lk_charset : int {
    LK_UTF8 = 871,
    LK_WE8ISO8859P1 = 31,
};

struct lk_lang {
    char language[32];
    char territory[32];
    lk_charset charset;
    char catalogue_code[8];  // "us" for AMERICAN: the catalogue is kvsus.msg
};

// Fills lang from an NLS_LANG text (none or empty: the default). Returns 0, or
// -1 when the language or the character set is not one this installation
// knows.
int lk_lang_load(const char* nls_lang, lk_lang* lang);

// ---- text stepping and comparison -----------------------------------------

// Length of the character at text, never more than remaining (which must be
// at least 1). A broken multi-byte sequence counts as single bytes, so a stop
// character that follows it is never swallowed.
size_t lk_char_length(lk_charset charset, const char* text, size_t remaining);
bool lk_equal(const char* a, const char* b);
// Case-blind equality in the character set (ASCII and Latin-1 letters).
bool lk_equal_nocase(lk_charset charset, const char* a, const char* b);
void lk_to_upper(lk_charset charset, char* text);
void lk_to_lower(lk_charset charset, char* text);

// ---- numbers --------------------------------------------------------------

// Decimal value of at most the first 31 characters: leading blanks, an
// optional sign, then the leading digits; 0 when there are none. Saturates at
// the limits of int.
int lk_text_to_int(const char* text);
int lk_int_to_text(int value, char* buffer, size_t size);

// ---- object names ---------------------------------------------------------

// Copies a database object name for binding: folded to upper case, unless it
// is written in double quotes, which are then removed and the case kept.
// Returns the length of the copy (cut to size - 1).
size_t lk_name_copy(lk_charset charset, const char* name, char* out, size_t size);

// ---- message catalogue ----------------------------------------------------

struct lk_catalog;

// Opens HOME/<product>/mesg/<facility><code>.msg, with the texts converted to
// the language's character set; the American catalogue (code "us") when the
// language has no file of its own. None when the file cannot be read.
lk_catalog* lk_catalog_open(const char* home, const char* product, const char* facility,
                            const lk_lang* lang);
// Opens a catalogue file by path, texts kept as stored (UTF-8).
lk_catalog* lk_catalog_open_file(const char* path);
// Reads a catalogue from text in memory; none when it is malformed.
lk_catalog* lk_catalog_parse(const char* text, size_t length, lk_charset charset);
void lk_catalog_close(lk_catalog* catalog);
void lk_catalog_attach_cache(lk_catalog* catalog, char* cache, size_t size);

// The text of number, or none when the catalogue has no such message.
const char* lk_catalog_find(const lk_catalog* catalog, int number);
// The text of number in the catalogue's own storage; a message that is
// missing reads "Message N not found; product=kv; facility=kvs".
const char* lk_catalog_text(lk_catalog* catalog, int number);
// The same text copied into a caller's buffer of size bytes (cut, always
// terminated); returns the length copied.
size_t lk_catalog_copy(lk_catalog* catalog, int number, char* buffer, size_t size);
