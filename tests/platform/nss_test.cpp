#include <cstring>
#include <fstream>
#include <optional>
#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <regex>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include <gtest/gtest.h>

#include "platform/nss.h"
#include "support/cgi_run.h"

namespace {

using bytes = std::vector<unsigned char>;

std::string temp_path(const char* name) { return testing::TempDir() + name + std::to_string(getpid()); }

std::string read_text(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

void write_text(const std::string& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

unsigned file_mode(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 ? st.st_mode & 0777 : 0;
}

nss_key key_of(unsigned char first) {
    nss_key key;
    for (size_t i = 0; i < NSS_KEY_SIZE; ++i) key.bytes[i] = static_cast<unsigned char>(first + i);
    return key;
}

bytes encipher(const nss_key& key, const std::string& clear) {
    bytes out(clear.size() + NSS_OVERHEAD);
    EXPECT_EQ(nss_encipher(&key, reinterpret_cast<const unsigned char*>(clear.data()), clear.size(), out.data()), NSS_OK);
    return out;
}

// The clear text, or none when the text is refused.
std::optional<std::string> decipher(const nss_key& key, const bytes& text) {
    bytes out(text.size() + 1, 'x');
    size_t length = 0;
    int result = nss_decipher(&key, text.data(), text.size(), out.data(), &length);
    EXPECT_NE(result, NSS_FAILED);
    if (result != NSS_OK) {
        // What was deciphered of a refused text is not left lying about.
        for (size_t i = 0; i + NSS_OVERHEAD < text.size(); ++i) EXPECT_EQ(out[i], 0) << i;
        return std::nullopt;
    }
    return std::string(out.begin(), out.begin() + static_cast<long>(length));
}

std::string hex_of(const unsigned char* data, size_t length) {
    static const char digits[] = "0123456789abcdef";
    std::string hex;
    for (size_t i = 0; i < length; ++i) {
        hex += digits[data[i] >> 4];
        hex += digits[data[i] & 15];
    }
    return hex;
}

// kvkey, as the installer runs it.
cgi_result run_kvkey(const std::string& path) { return run_cgi(KV_KVKEY, {"kvkey", path}, {}); }

const std::regex KEY_TEXT("[0-9a-f]{64}\n");

}  // namespace

TEST(KeyFile, InstallMakesAPrivateRandomKeyKeepsItAndReplacesAnOlderOne) {
    std::string a = temp_path("key_a"), b = temp_path("key_b");
    cgi_result made = run_kvkey(a);
    EXPECT_EQ(made.exit_code, 0) << made.errors;
    EXPECT_EQ(made.page, "Creating key file: " + a + "\n");
    std::string key_a = read_text(a);
    EXPECT_TRUE(std::regex_match(key_a, KEY_TEXT)) << key_a;
    EXPECT_EQ(file_mode(a), 0600u);
    ASSERT_EQ(run_kvkey(b).exit_code, 0);
    EXPECT_NE(read_text(b), key_a);

    // A reinstall keeps a well-formed key, and makes it private again.
    chmod(a.c_str(), 0644);
    cgi_result kept = run_kvkey(a);
    EXPECT_EQ(kept.exit_code, 0);
    EXPECT_EQ(kept.page, "");
    EXPECT_EQ(read_text(a), key_a);
    EXPECT_EQ(file_mode(a), 0600u);

    // The 32 digits of an older installation, or a damaged file, give way to a new key.
    for (const char* old : {"0123456789abcdef0123456789abcdef\n", "", "not a key"}) {
        write_text(a, old);
        chmod(a.c_str(), 0644);
        EXPECT_EQ(run_kvkey(a).exit_code, 0);
        std::string replaced = read_text(a);
        EXPECT_TRUE(std::regex_match(replaced, KEY_TEXT)) << replaced;
        EXPECT_NE(replaced, key_a);
        EXPECT_EQ(file_mode(a), 0600u);
    }

    cgi_result refused = run_kvkey("/nonexistent/kv/key");
    EXPECT_EQ(refused.exit_code, 1);
    EXPECT_NE(refused.errors.find("kvkey: cannot write /nonexistent/kv/key"), std::string::npos) << refused.errors;
    unlink(a.c_str());
    unlink(b.c_str());
}

TEST(KeyFile, OnlySixtyFourHexDigitsAreAKey) {
    const std::string digits = "000102030405060708090a0b0c0d0e0f101112131415161718191A1B1C1D1E1F";
    struct row {
        std::string text;
        bool key;
    } rows[] = {
        {digits, true},
        {digits + "\n", true},
        {"", false},
        {digits.substr(0, 32) + "\n", false},
        {digits.substr(0, 63), false},
        {digits + "0", false},
        {digits + "\n\n", false},
        {digits + " ", false},
        {"z" + digits.substr(1), false},
    };
    std::string path = temp_path("key_text");
    for (const row& r : rows) {
        write_text(path, r.text);
        nss_key key{};
        EXPECT_EQ(nss_read_key_file(path.c_str(), &key), r.key ? NSS_OK : NSS_FAILED) << r.text;
        if (r.key) {
            EXPECT_EQ(std::memcmp(key.bytes, key_of(0).bytes, NSS_KEY_SIZE), 0) << r.text;
        }
    }
    unlink(path.c_str());
    nss_key key;
    EXPECT_EQ(nss_read_key_file("/nonexistent/kv/key", &key), NSS_FAILED);
}

TEST(Cipher, RoundTripsAndNeverGivesTheSameTextTwice) {
    const nss_key key = key_of(7);
    for (const std::string& clear : {std::string(), std::string("a"), std::string("tiger"),
                                     std::string("\xC3\xA9t\xC3\xA9 \xE2\x82\xAC"), std::string(64, 'k'),
                                     std::string("with\0zero", 9) + std::string(1000, 'z')}) {
        bytes first = encipher(key, clear), second = encipher(key, clear);
        EXPECT_EQ(first.size(), clear.size() + 28);
        EXPECT_EQ(decipher(key, first), clear);
        EXPECT_EQ(decipher(key, second), clear);
        // Another nonce, so another ciphertext and tag.
        EXPECT_NE(bytes(first.begin(), first.begin() + 12), bytes(second.begin(), second.begin() + 12));
        EXPECT_NE(bytes(first.begin() + 12, first.end()), bytes(second.begin() + 12, second.end()));
    }
}

// The text is AES-256-GCM's as libcrypto's general interface makes and reads
// it: nonce, ciphertext, tag.
TEST(Cipher, IsAes256GcmWithNonceCiphertextAndTag) {
    const nss_key key = key_of(40);
    const std::string clear = "a password of some length";
    bytes ours = encipher(key, clear);
    const int length = static_cast<int>(clear.size());

    EVP_CIPHER_CTX* evp = EVP_CIPHER_CTX_new();
    bytes read(clear.size() + 16);
    int n = 0, last = 0;
    ASSERT_EQ(EVP_DecryptInit_ex(evp, EVP_aes_256_gcm(), nullptr, key.bytes, ours.data()), 1);
    ASSERT_EQ(EVP_DecryptUpdate(evp, read.data(), &n, ours.data() + 12, length), 1);
    ASSERT_EQ(EVP_CIPHER_CTX_ctrl(evp, EVP_CTRL_GCM_SET_TAG, 16, ours.data() + 12 + length), 1);
    EXPECT_EQ(EVP_DecryptFinal_ex(evp, read.data() + n, &last), 1);
    EXPECT_EQ(std::string(read.begin(), read.begin() + n + last), clear);

    bytes theirs(clear.size() + 28, 0x5a);  // a nonce of 0x5a bytes
    ASSERT_EQ(EVP_EncryptInit_ex(evp, EVP_aes_256_gcm(), nullptr, key.bytes, theirs.data()), 1);
    ASSERT_EQ(EVP_EncryptUpdate(evp, theirs.data() + 12, &n, reinterpret_cast<const unsigned char*>(clear.data()), length), 1);
    ASSERT_EQ(EVP_EncryptFinal_ex(evp, theirs.data() + 12 + n, &last), 1);
    ASSERT_EQ(EVP_CIPHER_CTX_ctrl(evp, EVP_CTRL_GCM_GET_TAG, 16, theirs.data() + 12 + length), 1);
    EVP_CIPHER_CTX_free(evp);
    EXPECT_EQ(decipher(key, theirs), clear);
}

TEST(Cipher, RefusesEveryChangedCutOrForeignText) {
    const nss_key key = key_of(1);
    const bytes text = encipher(key, "tiger");
    // Any bit of nonce, ciphertext or tag.
    for (size_t at = 0; at < text.size(); ++at) {
        for (unsigned char bit : {0x01, 0x80}) {
            bytes changed = text;
            changed[at] ^= bit;
            EXPECT_EQ(decipher(key, changed), std::nullopt) << "byte " << at;
        }
    }
    for (size_t length : {size_t{0}, size_t{1}, NSS_OVERHEAD - 1, NSS_OVERHEAD, text.size() - 1})
        EXPECT_EQ(decipher(key, bytes(text.begin(), text.begin() + static_cast<long>(length))), std::nullopt) << length;
    bytes longer = text;
    longer.push_back(0);
    EXPECT_EQ(decipher(key, longer), std::nullopt);
    EXPECT_EQ(decipher(key_of(2), text), std::nullopt);
}

TEST(Hmac, IsHmacSha256WithTheKey) {
    const nss_key key = key_of(0), other = key_of(1);
    auto hmac_hex = [](const nss_key& with, const std::string& data) {
        unsigned char out[NSS_HMAC_SIZE];
        EXPECT_EQ(nss_hmac_sha256(&with, data.data(), data.size(), out), NSS_OK);
        return hex_of(out, NSS_HMAC_SIZE);
    };
    // Worked out once with an independent implementation.
    EXPECT_EQ(hmac_hex(key, "what is signed"), "ba8a06f8fb7a5679043a177e7106ab60906972095e6e8a4900c4601a4819708c");
    EXPECT_NE(hmac_hex(other, "what is signed"), hmac_hex(key, "what is signed"));

    // And as libcrypto's general interface computes it, for texts around the hash's block size.
    for (size_t length : {0, 1, 55, 56, 63, 64, 65, 1000}) {
        std::string data(length, 'd');
        unsigned char theirs[EVP_MAX_MD_SIZE];
        unsigned int size = 0;
        ASSERT_NE(HMAC(EVP_sha256(), key.bytes, NSS_KEY_SIZE, reinterpret_cast<const unsigned char*>(data.data()),
                       length, theirs, &size),
                  nullptr);
        EXPECT_EQ(hmac_hex(key, data), hex_of(theirs, size)) << length;
    }
}
