// Password encoding for the login cookie: encipher, hex text and back.
#include <cstdio>
#include <cstring>
#include <string>

#include "g/kvg.h"
#include "platform/nss.h"

namespace {

constexpr const char* MODULE = "g/kvged";
// A stream cipher asks for no pad; the text then gets this many bytes, the
// last of which holds the count.
constexpr int DEFAULT_PAD = 8;

// Sets up the cipher from the installation's key file, at every encode and
// decode. 0, or -1 after an error block.
int cipher_setup(kvg_context* context, nss_cipher* cipher) {
    auto* key = static_cast<unsigned char*>(kvg_alloc(context, NSS_VALUE_SIZE, 0, MODULE, __LINE__));
    auto* second = static_cast<unsigned char*>(kvg_alloc(context, NSS_VALUE_SIZE, 0, MODULE, __LINE__));
    if (!key || !second) {
        kvg_error_message(0, "KVG-EDIN", 1013, context);
        return -1;
    }
    const char* home = kvg_getenv(context, "VANTOR_HOME");
    std::string key_file = std::string(home ? home : "") + "/kv/key";
    int result = nss_read_key_file(key_file.c_str(), key, second) == 0 &&
                         nss_init(cipher, NSS_RC4_40, key, second) == 0
                     ? 0
                     : -1;
    std::memset(key, 0, NSS_VALUE_SIZE);
    std::memset(second, 0, NSS_VALUE_SIZE);
    kvg_free(context, key);
    kvg_free(context, second);
    if (result != 0) kvg_error_message(0, "KVG-EDIN", 1045, context);
    return result;
}

}  // namespace

int kvg_encode_password(kvg_context* context, const char* clear, unsigned char** out) {
    nss_cipher cipher;
    if (cipher_setup(context, &cipher) != 0) return -1;
    int length = static_cast<int>(std::strlen(clear));
    int pad = static_cast<int>(nss_pad_count(&cipher, length));
    if (pad == 0) pad = DEFAULT_PAD;
    auto* plain = static_cast<unsigned char*>(kvg_alloc(context, length + pad, 0, MODULE, __LINE__));
    auto* enciphered = static_cast<unsigned char*>(kvg_alloc(context, length + pad + 1, 0, MODULE, __LINE__));
    if (!plain || !enciphered) {
        kvg_error_message(0, "KVG-EDEN", 1013, context);
        return -1;
    }
    std::memcpy(plain, clear, length);
    plain[length + pad - 1] = static_cast<unsigned char>(pad);
    nss_encipher(&cipher, plain, enciphered, length + pad);
    enciphered[length + pad] = '\0';
    *out = enciphered;
    return length + pad;
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
    nss_cipher cipher;
    if (cipher_setup(context, &cipher) != 0) return -1;
    auto* clear = static_cast<unsigned char*>(kvg_alloc(context, length + 1, 0, MODULE, __LINE__));
    if (!clear) {
        kvg_error_message(0, "KVG-EDDE", 1013, context);
        return -1;
    }
    nss_decipher(&cipher, bytes, clear, length);
    // The last byte says how many pad bytes follow the text; a count the text
    // cannot hold means the bytes were not enciphered with this key.
    int pad = clear[length - 1];
    if (pad < 1 || pad > length) {
        kvg_error_message(0, "KVG-EDDE", 1047, context);
        return -1;
    }
    clear[length - pad] = '\0';
    *out = reinterpret_cast<char*>(clear);
    return 0;
}
