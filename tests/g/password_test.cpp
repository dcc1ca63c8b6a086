#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include <gtest/gtest.h>

#include "platform/nss.h"
#include "support/page_capture.h"
#include "support/test_context.h"

namespace {

class Password : public testing::Test {
protected:
    void SetUp() override {
        clear_cgi_env();
        mkdir((home + "/kv").c_str(), 0700);
        ASSERT_EQ(nss_write_key_file((home + "/kv/key").c_str()), 0);
        setenv("VANTOR_HOME", home.c_str(), 1);
    }
    void TearDown() override {
        unlink((home + "/kv/key").c_str());
        rmdir((home + "/kv").c_str());
        rmdir(home.c_str());
    }

    // The cookie's password as the launcher makes it: enciphered, then hex text.
    std::pair<std::string, int> encode(const char* clear) {
        unsigned char* bytes = nullptr;
        int length = kvg_encode_password(context, clear, &bytes);
        return {length > 0 ? kvg_hex_encode(context, bytes, length) : "", length};
    }

    kvg_credentials credentials_from(const std::string& query) {
        scoped_env env("QUERY_STRING", query);
        char name[] = "kvx";
        char* argv[] = {name};
        kvg_var* list = kvg_decode_request(context, 1, argv);
        kvg_credentials credentials{};
        kvg_get_credentials(&credentials, context, list);
        return credentials;
    }

    std::string home = [] {
        char dir[] = "/tmp/kvhomeXXXXXX";
        return std::string(mkdtemp(dir));
    }();
    test_context context;
};

// The same hex text with its first byte changed.
std::string flip_first_group(const std::string& hex) {
    size_t end = hex.find('w');
    return (hex.substr(0, end) == "0" ? "1" : "0") + hex.substr(end);
}

}  // namespace

TEST_F(Password, SurvivesEncodeHexTextAndDecode) {
    for (const std::string& clear : std::vector<std::string>{"a", "tiger", "pass word&=%w", "\xC3\xA9t\xC3\xA9", std::string(200, 'x')}) {
        auto [hex, length] = encode(clear.c_str());
        EXPECT_EQ(length, static_cast<int>(clear.size()) + 8);
        EXPECT_EQ(kvg_hex_group_count(hex.c_str()), length);
        EXPECT_EQ(hex.find_first_not_of("0123456789abcdefw"), std::string::npos);
        kvg_credentials c = credentials_from("KVCPASSWORD=" + hex + "&KVCPLEN=" + std::to_string(length));
        ASSERT_NE(c.password, nullptr);
        EXPECT_EQ(c.password, clear);
    }
}

TEST_F(Password, FiveBytesGiveThirteenEncipheredBytes) {
    auto [hex, length] = encode("tiger");
    EXPECT_EQ(length, 13);
    EXPECT_EQ(kvg_hex_group_count(hex.c_str()), 13);
    EXPECT_LE(hex.size(), 39u);
    EXPECT_EQ(hex.back(), 'w');
}

TEST_F(Password, HexTextIsLowerCaseWithoutLeadingZero) {
    const unsigned char bytes[] = {0x0A, 0xFF, 0x00};
    EXPECT_STREQ(kvg_hex_encode(context, bytes, 3), "awffw0w");
    unsigned char* decoded = kvg_hex_decode(context, "awffw0w", 3);
    EXPECT_EQ(std::basic_string<unsigned char>(decoded, 3), std::basic_string<unsigned char>(bytes, 3));
}

TEST_F(Password, HexDecodeNeverReadsPastItsText) {
    // Fewer groups than announced: the missing bytes are 0.
    unsigned char* decoded = kvg_hex_decode(context, "aw1", 4);
    EXPECT_EQ(decoded[0], 0x0A);
    EXPECT_EQ(decoded[1], 0x01);
    EXPECT_EQ(decoded[2], 0);
    EXPECT_EQ(decoded[3], 0);
}

TEST_F(Password, UnencipheredOrDamagedPasswordsGiveADefinedResult) {
    kvg_credentials plain = credentials_from("KVCPASSWORD=secret&KVCPLEN=0");
    EXPECT_STREQ(plain.password, "secret");
    EXPECT_STREQ(credentials_from("KVCPASSWORD=secret").password, "secret");
    EXPECT_STREQ(credentials_from("KVCPASSWORD=secret&KVCPLEN=-4").password, "secret");
    EXPECT_STREQ(credentials_from("KVCPASSWORD=secret&KVCPLEN=abc").password, "secret");

    auto [hex, length] = encode("tiger");
    struct row {
        std::string query;
        const char* password;  // none: not recovered
    } rows[] = {
        {"KVCPLEN=999999999&KVCPASSWORD=" + hex, "tiger"},  // a length beyond the text: the groups there are
        {"KVCPLEN=13&KVCPASSWORD=aw", nullptr},
        {"KVCPLEN=13", nullptr},
        {"KVCPLEN=5&KVCPASSWORD=" + hex, nullptr},
        {"KVCPLEN=13&KVCPASSWORD=" + flip_first_group(hex), nullptr},
    };
    for (const row& r : rows) {
        std::string page = capture_page([&] {
            kvg_credentials c = credentials_from(r.query);
            if (r.password) EXPECT_STREQ(c.password, r.password) << r.query;
            else EXPECT_TRUE(c.password == nullptr || std::string(c.password) != "tiger") << r.query;
        });
        EXPECT_TRUE(page.empty() || page.find("KVG-EDDE") != std::string::npos) << page;
    }
}

TEST_F(Password, MissingKeyFileRefusesTheCipher) {
    unlink((home + "/kv/key").c_str());
    unsigned char* bytes = nullptr;
    std::string page = capture_page([&] { EXPECT_EQ(kvg_encode_password(context, "tiger", &bytes), -1); });
    EXPECT_NE(page.find("<H3>KVG-EDIN-1045:</H3>"), std::string::npos) << page;
}

TEST_F(Password, NothingToDecodeIsReported) {
    char* clear = nullptr;
    std::string page = capture_page([&] { EXPECT_EQ(kvg_decode_password(context, nullptr, 0, &clear), -1); });
    EXPECT_NE(page.find("<H3>KVG-EDDE-1046:</H3>"), std::string::npos);
}
