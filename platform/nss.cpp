#include "platform/nss.h"

// libcrypto's EVP interface would build, on its first use in a process, the
// method tables of every algorithm its default provider offers (1.4 ms per
// run measured here, for every request), and would link 4 MB more into each
// tool. A page needs one cipher and one hash, so they are taken from the
// block cipher, the GCM mode and the hash interfaces directly, which libcrypto
// still carries from its 1.1.1 interface.
#define OPENSSL_API_COMPAT 0x10101000L

#include <cstdio>
#include <fcntl.h>
#include <openssl/aes.h>
#include <openssl/crypto.h>
#include <openssl/modes.h>
#include <openssl/sha.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr size_t KEY_DIGITS = 2 * NSS_KEY_SIZE;

// AES-256-GCM under the key: a GCM context over the expanded block key.
class gcm_cipher {
public:
    gcm_cipher(const nss_key* key, const unsigned char nonce[NSS_NONCE_SIZE]) {
        if (AES_set_encrypt_key(key->bytes, 8 * NSS_KEY_SIZE, &block_key_) != 0) return;
        gcm_ = CRYPTO_gcm128_new(&block_key_, encrypt_block);
        if (gcm_) CRYPTO_gcm128_setiv(gcm_, nonce, NSS_NONCE_SIZE);
    }
    ~gcm_cipher() {
        if (gcm_) CRYPTO_gcm128_release(gcm_);
        OPENSSL_cleanse(&block_key_, sizeof block_key_);
    }
    gcm_cipher(const gcm_cipher&) = delete;
    gcm_cipher& operator=(const gcm_cipher&) = delete;

    GCM128_CONTEXT* get() const { return gcm_; }

private:
    static void encrypt_block(const unsigned char in[16], unsigned char out[16], const void* key) {
        AES_encrypt(in, out, static_cast<const AES_KEY*>(key));
    }

    AES_KEY block_key_;
    GCM128_CONTEXT* gcm_ = nullptr;
};

int hex_value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool parse_key(const char* text, size_t length, nss_key* key) {
    if (length != KEY_DIGITS && !(length == KEY_DIGITS + 1 && text[KEY_DIGITS] == '\n')) return false;
    for (size_t b = 0; b < NSS_KEY_SIZE; ++b) {
        int high = hex_value(text[2 * b]), low = hex_value(text[2 * b + 1]);
        if (high < 0 || low < 0) return false;
        key->bytes[b] = static_cast<unsigned char>(high * 16 + low);
    }
    return true;
}

// A new random key, written over whatever path held.
int write_key_file(const char* path) {
    nss_key key;
    if (getrandom(key.bytes, sizeof key.bytes, 0) != static_cast<ssize_t>(sizeof key.bytes)) return NSS_FAILED;
    char text[KEY_DIGITS + 2];
    for (size_t b = 0; b < NSS_KEY_SIZE; ++b) std::snprintf(text + 2 * b, 3, "%02x", key.bytes[b]);
    OPENSSL_cleanse(key.bytes, sizeof key.bytes);
    text[KEY_DIGITS] = '\n';
    int fd = ::open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) return NSS_FAILED;
    // fchmod as well: an existing file keeps its old mode through O_CREAT.
    bool written = ::fchmod(fd, 0600) == 0 && ::write(fd, text, KEY_DIGITS + 1) == static_cast<ssize_t>(KEY_DIGITS + 1);
    OPENSSL_cleanse(text, sizeof text);
    if (::close(fd) != 0) written = false;
    return written ? NSS_OK : NSS_FAILED;
}

}  // namespace

int nss_read_key_file(const char* path, nss_key* key) {
    int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return NSS_FAILED;
    // One byte more than a key file holds, so that a longer file shows.
    char text[KEY_DIGITS + 2];
    ssize_t length = ::read(fd, text, sizeof text);
    ::close(fd);
    bool parsed = length > 0 && parse_key(text, static_cast<size_t>(length), key);
    OPENSSL_cleanse(text, sizeof text);
    return parsed ? NSS_OK : NSS_FAILED;
}

int nss_ensure_key_file(const char* path, bool* made) {
    nss_key key;
    *made = nss_read_key_file(path, &key) != NSS_OK;
    OPENSSL_cleanse(key.bytes, sizeof key.bytes);
    if (*made) return write_key_file(path);
    return ::chmod(path, 0600) == 0 ? NSS_OK : NSS_FAILED;
}

int nss_encipher(const nss_key* key, const unsigned char* in, size_t length, unsigned char* out) {
    unsigned char* nonce = out;
    unsigned char* ciphertext = out + NSS_NONCE_SIZE;
    // A nonce must never repeat under one key; 96 random bits make that as
    // good as certain for any number of logins an installation will see.
    if (getrandom(nonce, NSS_NONCE_SIZE, 0) != static_cast<ssize_t>(NSS_NONCE_SIZE)) return NSS_FAILED;
    gcm_cipher cipher(key, nonce);
    if (!cipher.get() || CRYPTO_gcm128_encrypt(cipher.get(), in, ciphertext, length) != 0) return NSS_FAILED;
    CRYPTO_gcm128_tag(cipher.get(), ciphertext + length, NSS_TAG_SIZE);
    return NSS_OK;
}

int nss_decipher(const nss_key* key, const unsigned char* in, size_t length, unsigned char* out,
                 size_t* clear_length) {
    if (length < NSS_OVERHEAD) return NSS_REFUSED;
    size_t clear = length - NSS_OVERHEAD;
    const unsigned char* ciphertext = in + NSS_NONCE_SIZE;
    gcm_cipher cipher(key, in);
    if (!cipher.get() || CRYPTO_gcm128_decrypt(cipher.get(), ciphertext, out, clear) != 0) return NSS_FAILED;
    // Only the tag tells a genuine text from a changed one; until it has been
    // checked, the bytes in out are nobody's password.
    if (CRYPTO_gcm128_finish(cipher.get(), ciphertext + clear, NSS_TAG_SIZE) != 0) {
        OPENSSL_cleanse(out, clear);
        return NSS_REFUSED;
    }
    *clear_length = clear;
    return NSS_OK;
}

int nss_hmac_sha256(const nss_key* key, const void* data, size_t length, unsigned char out[NSS_HMAC_SIZE]) {
    // H((K ^ 0x5c...) || H((K ^ 0x36...) || data)), where K is the key
    // filled up with zeros to the hash's block; a key shorter than the block
    // is not hashed first.
    static_assert(NSS_KEY_SIZE <= SHA256_CBLOCK);
    unsigned char pad[SHA256_CBLOCK];
    unsigned char inner_hash[SHA256_DIGEST_LENGTH];
    auto keyed_pad = [&](unsigned char with) {
        for (size_t i = 0; i < sizeof pad; ++i)
            pad[i] = static_cast<unsigned char>((i < NSS_KEY_SIZE ? key->bytes[i] : 0) ^ with);
    };
    SHA256_CTX inner, outer;
    keyed_pad(0x36);
    bool done = SHA256_Init(&inner) == 1 && SHA256_Update(&inner, pad, sizeof pad) == 1 &&
                (length == 0 || SHA256_Update(&inner, data, length) == 1) && SHA256_Final(inner_hash, &inner) == 1;
    keyed_pad(0x5c);
    done = done && SHA256_Init(&outer) == 1 && SHA256_Update(&outer, pad, sizeof pad) == 1 &&
           SHA256_Update(&outer, inner_hash, sizeof inner_hash) == 1 && SHA256_Final(out, &outer) == 1;
    OPENSSL_cleanse(pad, sizeof pad);
    OPENSSL_cleanse(inner_hash, sizeof inner_hash);
    OPENSSL_cleanse(&inner, sizeof inner);
    OPENSSL_cleanse(&outer, sizeof outer);
    return done ? NSS_OK : NSS_FAILED;
}

void nss_wipe(void* bytes, size_t length) { OPENSSL_cleanse(bytes, length); }
