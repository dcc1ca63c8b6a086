// Password encoding for the login cookie: encipher, hex text and back.
// The enciphered text is the security services' nonce, ciphertext and tag.
#include <climits>
#include <cstdio>
#include <cstring>
#include <string>

#include "g/kvg.h"
#include "platform/nss.h"

namespace {

constexpr const char* MODULE = "g/kvged";
// The longest clear text whose enciphered length, and the terminating byte
// after it, still fit the cookie's decimal length.
constexpr size_t LONGEST_CLEAR = INT_MAX - NSS_OVERHEAD - 1;

// Reads the installation's key into a block of the heap, at every encode and
// decode. The key, or none after an error block; release it with drop_key.
nss_key* cipher_setup(kvg_context* context) {
    auto* key = static_cast<nss_key*>(kvg_alloc(context, sizeof(nss_key), 0, MODULE, __LINE__));
    if (!key) {
        kvg_error_message(0, "KVG-EDIN", 1013, context);
        return nullptr;
    }
    const char* home = kvg_getenv(context, "VANTOR_HOME");
    std::string key_file = std::string(home ? home : "") + "/kv/key";
    if (nss_read_key_file(key_file.c_str(), key) == NSS_OK) return key;
    kvg_free(context, key);
    kvg_error_message(0, "KVG-EDIN", 1045, context);
    return nullptr;
}

void drop_key(kvg_context* context, nss_key* key) {
    nss_wipe(key, sizeof *key);
    kvg_free(context, key);
}

}  // namespace

int kvg_encode_password(kvg_context* context, const char* clear, unsigned char** out) {
    nss_key* key = cipher_setup(context);
    if (!key) return -1;
    size_t length = std::strlen(clear);
    unsigned char* enciphered = nullptr;
    if (length <= LONGEST_CLEAR)
        enciphered = static_cast<unsigned char*>(kvg_alloc(context, length + NSS_OVERHEAD + 1, 0, MODULE, __LINE__));
    if (!enciphered) {
        drop_key(context, key);
        kvg_error_message(0, "KVG-EDEN", 1013, context);
        return -1;
    }
    int result = nss_encipher(key, reinterpret_cast<const unsigned char*>(clear), length, enciphered);
    drop_key(context, key);
    if (result != NSS_OK) {
        kvg_error_message(0, "KVG-EDIN", 1045, context);
        return -1;
    }
    enciphered[length + NSS_OVERHEAD] = '\0';
    *out = enciphered;
    return static_cast<int>(length + NSS_OVERHEAD);
}

char* kvg_hex_encode(kvg_context* context, const unsigned char* bytes, int length) {
    auto* text = static_cast<char*>(kvg_alloc(context, 3 * static_cast<size_t>(length) + 1, 0, MODULE, __LINE__));
    if (!text) return nullptr;
    char* end = text;
    for (int i = 0; i < length; ++i) end += std::sprintf(end, "%xw", bytes[i]);
    return text;
}

int kvg_hex_group_count(const char* text) {
    int groups = 0;
    for (const char* p = text; *p; ++p) groups += *p == 'w';
    return groups;
}

unsigned char* kvg_hex_decode(kvg_context* context, const char* text, int length) {
    auto* bytes = static_cast<unsigned char*>(kvg_alloc(context, length > 0 ? length + 1 : 1, 0, MODULE, __LINE__));
    if (!bytes) return reinterpret_cast<unsigned char*>(const_cast<char*>(text));
    const char* p = text;
    for (int i = 0; i < length && *p; ++i) {
        unsigned value = 0;
        for (; *p && *p != 'w'; ++p) {
            char c = *p;
            unsigned digit = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10
                           : c >= 'A' && c <= 'F' ? c - 'A' + 10 : 0;
            value = value * 16 + digit;
        }
        bytes[i] = static_cast<unsigned char>(value);
        if (*p == 'w') ++p;
    }
    return bytes;
}

int kvg_decode_password(kvg_context* context, const unsigned char* bytes, int length, char** out) {
    if (length <= 0) {
        kvg_error_message(0, "KVG-EDDE", 1046, context);
        return -1;
    }
    nss_key* key = cipher_setup(context);
    if (!key) return -1;
    auto* clear = static_cast<unsigned char*>(kvg_alloc(context, length + 1, 0, MODULE, __LINE__));
    if (!clear) {
        drop_key(context, key);
        kvg_error_message(0, "KVG-EDDE", 1013, context);
        return -1;
    }
    size_t clear_length = 0;
    int result = nss_decipher(key, bytes, static_cast<size_t>(length), clear, &clear_length);
    drop_key(context, key);
    if (result != NSS_OK) {
        // A text that fails its tag was changed, cut or made under another
        // key: the login is not this installation's.
        if (result == NSS_REFUSED) kvg_error_message(0, "KVG-EDDE", 1047, context);
        else kvg_error_message(0, "KVG-EDIN", 1045, context);
        return -1;
    }
    clear[clear_length] = '\0';
    *out = reinterpret_cast<char*>(clear);
    return 0;
}
