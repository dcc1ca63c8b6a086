// The hex decoder and the password decode on any text and any announced length.
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
        nss_write_key_file((kv + "/key").c_str());
        setenv("VANTOR_HOME", home.c_str(), 1);
        return true;
    }();
    (void)done;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    silence_page();
    make_home();
    if (size < 2) return 0;
    int length = data[0] | (data[1] << 8);  // what KVCPLEN announces
    std::string text(reinterpret_cast<const char*>(data + 2), size - 2);
    text = text.substr(0, std::strlen(text.c_str()));
    test_context context;
    int groups = kvg_hex_group_count(text.c_str());
    if (length > groups) length = groups;
    unsigned char* bytes = kvg_hex_decode(context, text.c_str(), length);
    char* clear = nullptr;
    if (length > 0) kvg_decode_password(context, bytes, length, &clear);
    return 0;
}
