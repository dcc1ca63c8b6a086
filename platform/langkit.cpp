#include "platform/langkit.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <deque>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

// ---- language -------------------------------------------------------------

namespace {

struct language_entry {
    const char* name;
    const char* code;
};

constexpr const char* AMERICAN_CODE = "us";

// The languages whose catalogue file names this installation knows.
constexpr language_entry LANGUAGES[] = {
    {"AMERICAN", AMERICAN_CODE}, {"ENGLISH", "gb"}, {"GERMAN", "d"},   {"FRENCH", "f"},
    {"SPANISH", "e"},            {"ITALIAN", "i"},  {"DUTCH", "nl"},   {"SWEDISH", "s"},
};

struct charset_entry {
    const char* name;
    lk_charset charset;
};

constexpr charset_entry CHARSETS[] = {
    {"UTF8", LK_UTF8}, {"AL32UTF8", LK_UTF8}, {"WE8ISO8859P1", LK_WE8ISO8859P1}};

bool copy_field(const char* from, size_t length, char* to, size_t size) {
    if (length >= size) return false;
    std::memcpy(to, from, length);
    to[length] = '\0';
    return true;
}

}  // namespace

int lk_lang_load(const char* nls_lang, lk_lang* lang) {
    std::string text = nls_lang ? nls_lang : "";
    size_t dot = text.rfind('.');
    std::string charset = dot == std::string::npos ? "" : text.substr(dot + 1);
    std::string head = text.substr(0, dot);
    size_t underscore = head.find('_');
    std::string language = head.substr(0, underscore);
    std::string territory = underscore == std::string::npos ? "" : head.substr(underscore + 1);
    if (language.empty()) language = "AMERICAN";
    if (territory.empty()) territory = "AMERICA";
    if (charset.empty()) charset = "UTF8";

    *lang = lk_lang{};
    if (!copy_field(language.data(), language.size(), lang->language, sizeof lang->language) ||
        !copy_field(territory.data(), territory.size(), lang->territory, sizeof lang->territory))
        return -1;
    lk_to_upper(LK_UTF8, lang->language);
    auto known_language = std::find_if(std::begin(LANGUAGES), std::end(LANGUAGES),
                                       [&](const language_entry& e) { return lk_equal(e.name, lang->language); });
    if (known_language == std::end(LANGUAGES)) return -1;
    std::strcpy(lang->catalogue_code, known_language->code);

    auto known_charset = std::find_if(std::begin(CHARSETS), std::end(CHARSETS), [&](const charset_entry& e) {
        return lk_equal_nocase(LK_UTF8, e.name, charset.c_str());
    });
    if (known_charset == std::end(CHARSETS)) return -1;
    lang->charset = known_charset->charset;
    return 0;
}

// ---- text stepping and comparison -----------------------------------------

size_t lk_char_length(lk_charset charset, const char* text, size_t remaining) {
    if (remaining == 0) return 0;
    auto lead = static_cast<unsigned char>(text[0]);
    if (charset != LK_UTF8 || lead < 0xC2 || lead > 0xF4) return 1;
    size_t length = lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
    if (length > remaining) return 1;
    for (size_t i = 1; i < length; ++i)
        if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) return 1;
    return length;
}

bool lk_equal(const char* a, const char* b) { return std::strcmp(a, b) == 0; }

namespace {

// Latin-1 letters: upper case 0xC0-0xDE, lower case 0xE0-0xFE, except the
// multiplication and division signs.
bool latin1_upper(unsigned char c) { return c >= 0xC0 && c <= 0xDE && c != 0xD7; }
bool latin1_lower(unsigned char c) { return c >= 0xE0 && c <= 0xFE && c != 0xF7; }

// Converts the character at text in place; returns its length.
size_t convert_char(lk_charset charset, char* text, size_t remaining, bool upper) {
    size_t length = lk_char_length(charset, text, remaining);
    auto* p = reinterpret_cast<unsigned char*>(text);
    if (length == 1) {
        if (upper ? (*p >= 'a' && *p <= 'z') : (*p >= 'A' && *p <= 'Z')) *p ^= 0x20;
        else if (charset == LK_WE8ISO8859P1 && (upper ? latin1_lower(*p) : latin1_upper(*p))) *p ^= 0x20;
    } else if (length == 2 && p[0] == 0xC3) {
        // U+00C0..U+00FE are encoded as C3 80..C3 BE: the case bit is the same.
        unsigned char latin = static_cast<unsigned char>(0xC0 | (p[1] & 0x3F));
        if (upper ? latin1_lower(latin) : latin1_upper(latin)) p[1] ^= 0x20;
    }
    return length;
}

void convert_case(lk_charset charset, char* text, bool upper) {
    size_t remaining = std::strlen(text);
    while (remaining > 0) {
        size_t step = convert_char(charset, text, remaining, upper);
        text += step;
        remaining -= step;
    }
}

}  // namespace

void lk_to_upper(lk_charset charset, char* text) { convert_case(charset, text, true); }
void lk_to_lower(lk_charset charset, char* text) { convert_case(charset, text, false); }

bool lk_equal_nocase(lk_charset charset, const char* a, const char* b) {
    std::string x = a, y = b;
    lk_to_upper(charset, x.data());
    lk_to_upper(charset, y.data());
    return x == y;
}

// ---- numbers --------------------------------------------------------------

int lk_text_to_int(const char* text) {
    constexpr size_t MAX_DIGITS_TEXT = 31;
    size_t i = 0;
    while (i < MAX_DIGITS_TEXT && (text[i] == ' ' || text[i] == '\t')) ++i;
    bool negative = false;
    if (i < MAX_DIGITS_TEXT && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    long long value = 0;
    for (; i < MAX_DIGITS_TEXT && text[i] >= '0' && text[i] <= '9'; ++i) {
        value = value * 10 + (text[i] - '0');
        if (value > static_cast<long long>(INT_MAX) + 1) value = static_cast<long long>(INT_MAX) + 1;
    }
    if (negative) value = -value;
    return static_cast<int>(std::clamp<long long>(value, INT_MIN, INT_MAX));
}

int lk_int_to_text(int value, char* buffer, size_t size) {
    return std::snprintf(buffer, size, "%d", value);
}

// ---- object names ---------------------------------------------------------

size_t lk_name_copy(lk_charset charset, const char* name, char* out, size_t size) {
    if (size == 0) return 0;
    size_t length = std::strlen(name);
    bool quoted = length >= 2 && name[0] == '"' && name[length - 1] == '"';
    if (quoted) {
        ++name;
        length -= 2;
    }
    length = std::min(length, size - 1);
    // Never cut a multi-byte character in two.
    size_t whole = 0;
    while (whole < length) {
        size_t step = lk_char_length(charset, name + whole, length - whole);
        if (whole + step > length) break;
        whole += step;
    }
    std::memcpy(out, name, whole);
    out[whole] = '\0';
    if (!quoted) lk_to_upper(charset, out);
    return whole;
}

// ---- message catalogue ----------------------------------------------------

struct lk_catalog {
    std::vector<std::pair<int, std::string>> messages;  // sorted by number
    std::deque<std::string> missing;                    // texts handed out for absent numbers
    std::string product = "kv";
    std::string facility = "kvs";
};

namespace {

// UTF-8 to Latin-1; characters outside Latin-1 become "?".
std::string to_latin1(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size();) {
        size_t step = lk_char_length(LK_UTF8, text.data() + i, text.size() - i);
        auto lead = static_cast<unsigned char>(text[i]);
        if (step == 1) out += text[i];
        else if (step == 2 && lead <= 0xC3)
            out += static_cast<char>(((lead & 0x03) << 6) | (text[i + 1] & 0x3F));
        else out += '?';
        i += step;
    }
    return out;
}

// One line: decimal number, one blank, the text. Empty lines and lines
// beginning with "#" are comments.
bool parse_line(const std::string& line, lk_catalog& catalog) {
    if (line.empty() || line[0] == '#') return true;
    size_t i = 0;
    long number = 0;
    while (i < line.size() && line[i] >= '0' && line[i] <= '9' && number < 100000000)
        number = number * 10 + (line[i++] - '0');
    if (i == 0 || i >= line.size() || line[i] != ' ') return false;
    catalog.messages.emplace_back(static_cast<int>(number), line.substr(i + 1));
    return true;
}

}  // namespace

lk_catalog* lk_catalog_parse(const char* text, size_t length, lk_charset charset) {
    auto* catalog = new (std::nothrow) lk_catalog;
    if (!catalog) return nullptr;
    std::string all(text, length);
    size_t start = 0;
    while (start < all.size()) {
        size_t end = all.find('\n', start);
        if (end == std::string::npos) end = all.size();
        std::string line = all.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.find('\0') != std::string::npos || !parse_line(line, *catalog)) {
            delete catalog;
            return nullptr;
        }
        start = end + 1;
    }
    if (charset == LK_WE8ISO8859P1)
        for (auto& message : catalog->messages) message.second = to_latin1(message.second);
    std::stable_sort(catalog->messages.begin(), catalog->messages.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    return catalog;
}

// The whole file in one string, read in as few calls as its size allows (every
// tool page reads the catalogue, so this is on the path of each request).
static bool read_whole_file(const std::string& path, std::string* text) {
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat info;
    if (fstat(fd, &info) == 0 && info.st_size > 0) text->reserve(static_cast<size_t>(info.st_size));
    char buffer[16384];
    bool read_to_end = false;
    for (;;) {
        ssize_t got = read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) {
            read_to_end = got == 0;
            break;
        }
        text->append(buffer, static_cast<size_t>(got));
    }
    close(fd);
    return read_to_end;
}

static lk_catalog* open_path(const std::string& path, lk_charset charset) {
    std::string text;
    if (!read_whole_file(path, &text)) return nullptr;
    return lk_catalog_parse(text.data(), text.size(), charset);
}

static bool file_missing(const std::string& path) {
    struct stat info;
    return stat(path.c_str(), &info) != 0 && errno == ENOENT;
}

lk_catalog* lk_catalog_open(const char* home, const char* product, const char* facility,
                            const lk_lang* lang) {
    const std::string directory = std::string(home) + "/" + product + "/mesg/" + facility;
    const std::string path = directory + lang->catalogue_code + ".msg";
    lk_catalog* catalog = open_path(path, lang->charset);
    // Only the American catalogue comes with every installation: a language
    // that has none of its own reads it, in the request's character set. One
    // that is there but cannot be read is reported, not passed over.
    if (!catalog && file_missing(path)) catalog = open_path(directory + AMERICAN_CODE + ".msg", lang->charset);
    if (catalog) {
        catalog->product = product;
        catalog->facility = facility;
    }
    return catalog;
}

lk_catalog* lk_catalog_open_file(const char* path) { return open_path(path, LK_UTF8); }

void lk_catalog_close(lk_catalog* catalog) { delete catalog; }

// The whole catalogue is held in memory, so the cache block only has to exist.
void lk_catalog_attach_cache(lk_catalog*, char*, size_t) {}

const char* lk_catalog_find(const lk_catalog* catalog, int number) {
    if (!catalog) return nullptr;
    auto it = std::lower_bound(catalog->messages.begin(), catalog->messages.end(), number,
                               [](const auto& message, int n) { return message.first < n; });
    return it != catalog->messages.end() && it->first == number ? it->second.c_str() : nullptr;
}

const char* lk_catalog_text(lk_catalog* catalog, int number) {
    if (const char* text = lk_catalog_find(catalog, number)) return text;
    static lk_catalog none;
    lk_catalog& owner = catalog ? *catalog : none;
    owner.missing.push_back("Message " + std::to_string(number) + " not found; product=" + owner.product +
                            "; facility=" + owner.facility);
    return owner.missing.back().c_str();
}

size_t lk_catalog_copy(lk_catalog* catalog, int number, char* buffer, size_t size) {
    if (size == 0) return 0;
    const char* text = lk_catalog_text(catalog, number);
    size_t length = std::min(std::strlen(text), size - 1);
    std::memcpy(buffer, text, length);
    buffer[length] = '\0';
    return length;
}
