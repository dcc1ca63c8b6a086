#include "platform/nss.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <utility>
#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr size_t KEY_FILE_DIGITS = 2 * 2 * NSS_VALUE_SIZE;
// The first bytes of an RC4 stream are known to leak key bits; they are dropped.
constexpr size_t DROPPED_BYTES = 768;

struct rc4_state {
    unsigned char s[256];
    unsigned char i = 0, j = 0;

    rc4_state(const unsigned char* key, size_t length) {
        for (int n = 0; n < 256; ++n) s[n] = static_cast<unsigned char>(n);
        unsigned char k = 0;
        for (int n = 0; n < 256; ++n) {
            k = static_cast<unsigned char>(k + s[n] + key[n % length]);
            std::swap(s[n], s[k]);
        }
        for (size_t n = 0; n < DROPPED_BYTES; ++n) next();
    }

    unsigned char next() {
        i = static_cast<unsigned char>(i + 1);
        j = static_cast<unsigned char>(j + s[i]);
        std::swap(s[i], s[j]);
        return s[static_cast<unsigned char>(s[i] + s[j])];
    }
};

int hex_value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

int nss_read_key_file(const char* path, unsigned char key[NSS_VALUE_SIZE],
                      unsigned char second[NSS_VALUE_SIZE]) {
    FILE* file = std::fopen(path, "r");
    if (!file) return -1;
    char digits[KEY_FILE_DIGITS + 1] = {};
    size_t n = std::fread(digits, 1, KEY_FILE_DIGITS, file);
    std::fclose(file);
    if (n != KEY_FILE_DIGITS) return -1;
    for (size_t b = 0; b < 2 * NSS_VALUE_SIZE; ++b) {
        int high = hex_value(digits[2 * b]), low = hex_value(digits[2 * b + 1]);
        if (high < 0 || low < 0) return -1;
        unsigned char byte = static_cast<unsigned char>(high * 16 + low);
        (b < NSS_VALUE_SIZE ? key[b] : second[b - NSS_VALUE_SIZE]) = byte;
    }
    return 0;
}

int nss_write_key_file(const char* path) {
    unsigned char bytes[2 * NSS_VALUE_SIZE];
    if (getrandom(bytes, sizeof bytes, 0) != static_cast<ssize_t>(sizeof bytes)) return -1;
    char text[KEY_FILE_DIGITS + 2];
    for (size_t b = 0; b < sizeof bytes; ++b) std::snprintf(text + 2 * b, 3, "%02x", bytes[b]);
    text[KEY_FILE_DIGITS] = '\n';
    text[KEY_FILE_DIGITS + 1] = '\0';
    int fd = ::open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) return -1;
    // fchmod as well: an existing file keeps its old mode through O_CREAT.
    bool written = ::fchmod(fd, 0600) == 0 &&
                   ::write(fd, text, KEY_FILE_DIGITS + 1) == static_cast<ssize_t>(KEY_FILE_DIGITS + 1);
    if (::close(fd) != 0) written = false;
    return written ? 0 : -1;
}

int nss_init(nss_cipher* cipher, int algorithm, const unsigned char key[NSS_VALUE_SIZE],
             const unsigned char second[NSS_VALUE_SIZE]) {
    if (algorithm != NSS_RC4_40) return -1;
    // The working key is the first 40 bits of an RC4 stream keyed with both values.
    unsigned char both[2 * NSS_VALUE_SIZE];
    std::memcpy(both, key, NSS_VALUE_SIZE);
    std::memcpy(both + NSS_VALUE_SIZE, second, NSS_VALUE_SIZE);
    rc4_state derive(both, sizeof both);
    for (unsigned char& b : cipher->working_key) b = derive.next();
    return 0;
}

size_t nss_pad_count(const nss_cipher*, size_t) { return 0; }

void nss_encipher(const nss_cipher* cipher, const unsigned char* in, unsigned char* out, size_t length) {
    rc4_state stream(cipher->working_key, sizeof cipher->working_key);
    for (size_t n = 0; n < length; ++n) out[n] = in[n] ^ stream.next();
}

void nss_decipher(const nss_cipher* cipher, const unsigned char* in, unsigned char* out, size_t length) {
    nss_encipher(cipher, in, out, length);
}
