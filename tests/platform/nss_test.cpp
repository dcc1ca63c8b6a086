#include <cstdio>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "platform/nss.h"

namespace {

std::string temp_path(const char* name) { return testing::TempDir() + name + std::to_string(getpid()); }

}  // namespace

TEST(KeyFile, IsRandomPrivateAndReadBack) {
    std::string a = temp_path("key_a"), b = temp_path("key_b");
    ASSERT_EQ(nss_write_key_file(a.c_str()), 0);
    ASSERT_EQ(nss_write_key_file(b.c_str()), 0);
    struct stat st;
    ASSERT_EQ(stat(a.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    unsigned char key_a[8], second_a[8], key_b[8], second_b[8];
    ASSERT_EQ(nss_read_key_file(a.c_str(), key_a, second_a), 0);
    ASSERT_EQ(nss_read_key_file(b.c_str(), key_b, second_b), 0);
    EXPECT_NE(std::memcmp(key_a, key_b, 8), 0);
    unlink(a.c_str());
    unlink(b.c_str());
}

TEST(KeyFile, MissingOrMalformedFilesAreRefused) {
    unsigned char key[8], second[8];
    EXPECT_EQ(nss_read_key_file("/nonexistent/kv/key", key, second), -1);
    for (const char* text : {"", "0123", "zz23456789abcdef0123456789abcdef\n"}) {
        std::string path = temp_path("bad_key");
        FILE* f = std::fopen(path.c_str(), "w");
        std::fputs(text, f);
        std::fclose(f);
        EXPECT_EQ(nss_read_key_file(path.c_str(), key, second), -1) << text;
        unlink(path.c_str());
    }
}

TEST(Cipher, RoundTripsAndDependsOnBothValues) {
    const unsigned char key[8] = {1, 2, 3, 4, 5, 6, 7, 8}, second[8] = {9, 10, 11, 12, 13, 14, 15, 16};
    const unsigned char other[8] = {9, 10, 11, 12, 13, 14, 15, 17};
    nss_cipher cipher, changed;
    ASSERT_EQ(nss_init(&cipher, NSS_RC4_40, key, second), 0);
    ASSERT_EQ(nss_init(&changed, NSS_RC4_40, key, other), 0);
    EXPECT_EQ(nss_init(&cipher, 2, key, second), -1);
    EXPECT_EQ(nss_pad_count(&cipher, 5), 0u);

    const unsigned char text[] = "tiger and more text";
    unsigned char enciphered[sizeof text], again[sizeof text], clear[sizeof text];
    nss_encipher(&cipher, text, enciphered, sizeof text);
    nss_encipher(&changed, text, again, sizeof text);
    EXPECT_NE(std::memcmp(text, enciphered, sizeof text), 0);
    EXPECT_NE(std::memcmp(enciphered, again, sizeof text), 0);
    nss_decipher(&cipher, enciphered, clear, sizeof text);
    EXPECT_EQ(std::memcmp(text, clear, sizeof text), 0);
}
