// nss: the security services of the login cookie and the forms.
//
// The cookie's password is enciphered with AES-256-GCM under the
// installation's 256-bit key, with a fresh random 96-bit nonce every time, so
// equal passwords never give equal texts and a changed text is refused. The
// same key signs the forms' tokens with HMAC-SHA256. The key lives in
// HOME/kv/key (64 hexadecimal digits, readable by its owner only), made once
// by the installer; it is never part of the program.
#pragma once

#include <cstddef>

constexpr size_t NSS_KEY_SIZE = 32;
constexpr size_t NSS_NONCE_SIZE = 12;
constexpr size_t NSS_TAG_SIZE = 16;
// An enciphered text is the nonce, the ciphertext (as long as the clear text)
// and the tag, in this order.
constexpr size_t NSS_OVERHEAD = NSS_NONCE_SIZE + NSS_TAG_SIZE;
constexpr size_t NSS_HMAC_SIZE = 32;

struct nss_key {
    unsigned char bytes[NSS_KEY_SIZE];
};

// Results of the operations below.
constexpr int NSS_OK = 0;
constexpr int NSS_FAILED = -1;  // the file or the library failed; nothing to blame on the text
constexpr int NSS_REFUSED = 1;  // the text was not enciphered, unchanged, under this key

// Reads the key from a key file: exactly 64 hexadecimal digits, one line feed
// allowed after them. NSS_OK, or NSS_FAILED when the file is missing or
// malformed (an older, shorter key is malformed).
int nss_read_key_file(const char* path, nss_key* key);
// Makes sure path holds a key: a well-formed key is kept (and made private),
// anything else is replaced by a new random key, readable by its owner only.
// NSS_OK with *made telling whether a new key was written, or NSS_FAILED with
// errno set.
int nss_ensure_key_file(const char* path, bool* made);

// Enciphers length bytes of in into out, which holds length + NSS_OVERHEAD
// bytes. NSS_OK or NSS_FAILED.
int nss_encipher(const nss_key* key, const unsigned char* in, size_t length, unsigned char* out);
// Deciphers an enciphered text of length bytes into out, which holds at least
// length bytes; *clear_length is the clear text's length. NSS_OK, NSS_REFUSED
// for a changed, cut or foreign text, or NSS_FAILED.
int nss_decipher(const nss_key* key, const unsigned char* in, size_t length, unsigned char* out,
                 size_t* clear_length);

// HMAC-SHA256 of length bytes with the key. NSS_OK or NSS_FAILED.
int nss_hmac_sha256(const nss_key* key, const void* data, size_t length, unsigned char out[NSS_HMAC_SIZE]);

// Overwrites bytes that held a key or a password, in a way the compiler keeps.
void nss_wipe(void* bytes, size_t length);
