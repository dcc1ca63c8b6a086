// kvkey PATH: makes sure PATH holds the installation's key for the login
// cookie's cipher and the forms' tokens. A well-formed key is kept, so that a
// new install over a home leaves logged-in browsers logged in; a missing,
// malformed or older, shorter key is replaced by a new random one, readable by
// its owner only (its browsers log in again).
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/nss.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: kvkey PATH\n");
        return 2;
    }
    bool made = false;
    if (nss_ensure_key_file(argv[1], &made) != NSS_OK) {
        std::fprintf(stderr, "kvkey: cannot write %s: %s\n", argv[1], std::strerror(errno));
        return 1;
    }
    if (made) std::printf("Creating key file: %s\n", argv[1]);
    return 0;
}
