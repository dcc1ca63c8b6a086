// The password encoding on any input: the text as the cookie's password pairs
// (any announced length) is decoded like a tool does, and the text as a
// login's password goes through the cipher and back, where a changed byte of
// its enciphered form must be refused.
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>

#include "fuzz_input.h"
#include "platform/nss.h"
#include "support/test_context.h"

namespace {

// A home with a key file, so that the cipher can be set up.
void make_home() {
    static bool done = [] {
        std::string home = "/tmp/kvfuzz-home-" + std::to_string(getpid());
        std::string kv = home + "/kv";
        mkdir(home.c_str(), 0700);
        mkdir(kv.c_str(), 0700);
        bool made = false;
        if (nss_ensure_key_file((kv + "/key").c_str(), &made) != NSS_OK) __builtin_trap();
        setenv("VANTOR_HOME", home.c_str(), 1);
        return true;
    }();
    (void)done;
}

void decode_as_cookie(kvg_context* context, int length, const std::string& text) {
    int groups = kvg_hex_group_count(text.c_str());
    if (length > groups) length = groups;
    unsigned char* bytes = kvg_hex_decode(context, text.c_str(), length);
    char* clear = nullptr;
    if (length > 0) kvg_decode_password(context, bytes, length, &clear);
}

void encode_as_login(kvg_context* context, unsigned change_at, const std::string& password) {
    unsigned char* enciphered = nullptr;
    int length = kvg_encode_password(context, password.c_str(), &enciphered);
    if (length != static_cast<int>(password.size() + NSS_OVERHEAD)) __builtin_trap();
    char* hex = kvg_hex_encode(context, enciphered, length);
    unsigned char* bytes = kvg_hex_decode(context, hex, length);
    char* clear = nullptr;
    if (kvg_decode_password(context, bytes, length, &clear) != 0 || password != clear) __builtin_trap();
    bytes[change_at % length] ^= static_cast<unsigned char>(1 + change_at / length % 255);
    if (kvg_decode_password(context, bytes, length, &clear) == 0) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    silence_page();
    make_home();
    if (size < 2) return 0;
    unsigned number = data[0] | (data[1] << 8);  // what KVCPLEN announces, or where to change a byte
    std::string text(reinterpret_cast<const char*>(data + 2), size - 2);
    text = text.substr(0, std::strlen(text.c_str()));
    test_context context;
    decode_as_cookie(context, static_cast<int>(number), text);
    encode_as_login(context, number, text);
    return 0;
}
