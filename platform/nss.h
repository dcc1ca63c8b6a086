// nss: the security services' cipher for the login cookie's password.
//
// Algorithm 1 is RC4_40: the RC4 stream cipher keyed with a 40-bit working
// key that is derived from an 8-byte key and an 8-byte second value. Both
// values come from the installation's key file HOME/kv/key, which the
// installer fills with random bytes.
#pragma once

#include <cstddef>

constexpr int NSS_RC4_40 = 1;
constexpr size_t NSS_VALUE_SIZE = 8;

struct nss_cipher {
    unsigned char working_key[5];
};

// Reads the key and the second value from a key file (32 hexadecimal digits).
// Returns 0, or -1 when the file is missing or malformed.
int nss_read_key_file(const char* path, unsigned char key[NSS_VALUE_SIZE],
                      unsigned char second[NSS_VALUE_SIZE]);
// Writes a new key file of random values, readable by its owner only.
// Returns 0, or -1 with errno set.
int nss_write_key_file(const char* path);

// Sets up a cipher for the algorithm; 0, or -1 for an unknown algorithm.
int nss_init(nss_cipher* cipher, int algorithm, const unsigned char key[NSS_VALUE_SIZE],
             const unsigned char second[NSS_VALUE_SIZE]);
// Pad bytes the algorithm asks for a text of length bytes: none for a stream cipher.
size_t nss_pad_count(const nss_cipher* cipher, size_t length);
// Enciphers or deciphers length bytes of in into out (a stream cipher: the
// same operation both ways; in and out may be the same block).
void nss_encipher(const nss_cipher* cipher, const unsigned char* in, unsigned char* out, size_t length);
void nss_decipher(const nss_cipher* cipher, const unsigned char* in, unsigned char* out, size_t length);
