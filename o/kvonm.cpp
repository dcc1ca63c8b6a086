// Names as a user types them and as statement text writes them.
#include <cstring>

#include "o/kvo.h"
#include "platform/esqlrt.h"

namespace {

constexpr size_t NAME_LIMIT = 30;

bool letter(unsigned char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
bool digit_or_mark(unsigned char c) { return (c >= '0' && c <= '9') || c == '_' || c == '$' || c == '#'; }
bool control(unsigned char c) { return c < 0x20 || c == 0x7f; }

// A letter of first, then letters (of letter_ok), digits, "_", "$" or "#".
bool identifier(const char* name, bool (*letter_ok)(unsigned char)) {
    size_t length = std::strlen(name);
    if (length == 0 || length > NAME_LIMIT || !letter_ok(static_cast<unsigned char>(name[0]))) return false;
    for (const char* p = name + 1; *p; ++p)
        if (!letter_ok(static_cast<unsigned char>(*p)) && !digit_or_mark(static_cast<unsigned char>(*p))) return false;
    return true;
}

}  // namespace

bool kvo_plain_text(const char* text, size_t length) {
    for (size_t i = 0; i < length; ++i) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        if (control(c) || c == '"' || c == '\'') return false;
    }
    return true;
}

bool kvo_valid_name(const char* name) {
    size_t length = name ? std::strlen(name) : 0;
    if (length >= 2 && name[0] == '"' && name[length - 1] == '"')
        return length - 2 >= 1 && length - 2 <= NAME_LIMIT && kvo_plain_text(name + 1, length - 2);
    return name && identifier(name, letter);
}

bool kvo_valid_identifier(const char* name) { return name && identifier(name, letter); }

std::string kvo_name_text(const char* name) { return esql_name_text(name); }
