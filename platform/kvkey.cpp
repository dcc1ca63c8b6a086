// kvkey PATH: writes a new random key file for the login cookie's cipher,
// readable by its owner only.
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/nss.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: kvkey PATH\n");
        return 2;
    }
    if (nss_write_key_file(argv[1]) != 0) {
        std::fprintf(stderr, "kvkey: cannot write %s: %s\n", argv[1], std::strerror(errno));
        return 1;
    }
    return 0;
}
