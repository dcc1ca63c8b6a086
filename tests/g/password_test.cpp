#include <fstream>
#include <optional>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include <gtest/gtest.h>

#include "platform/nss.h"
#include "support/page_capture.h"
#include "support/test_context.h"

namespace {

using bytes = std::vector<unsigned char>;

class Password : public testing::Test {
protected:
    void SetUp() override {
        clear_cgi_env();
        mkdir((home + "/kv").c_str(), 0700);
        new_key();
        setenv("VANTOR_HOME", home.c_str(), 1);
    }
    void TearDown() override {
        unlink(key_file().c_str());
        rmdir((home + "/kv").c_str());
        rmdir(home.c_str());
    }

    std::string key_file() const { return home + "/kv/key"; }
    void new_key() {
        unlink(key_file().c_str());
        bool made = false;
        ASSERT_EQ(nss_ensure_key_file(key_file().c_str(), &made), NSS_OK);
    }

    // The enciphered password as the launcher makes it.
    bytes encipher(const std::string& clear) {
        unsigned char* enciphered = nullptr;
        int length = kvg_encode_password(context, clear.c_str(), &enciphered);
        EXPECT_GT(length, 0) << clear;
        return length > 0 ? bytes(enciphered, enciphered + length) : bytes();
    }

    // The cookie's two password pairs for enciphered bytes.
    std::string cookie_pairs(const bytes& enciphered) {
        return "KVCPASSWORD=" + std::string(kvg_hex_encode(context, enciphered.data(), static_cast<int>(enciphered.size()))) +
               "&KVCPLEN=" + std::to_string(enciphered.size());
    }

    // The login a tool reads from the request.
    kvg_credentials credentials_from(const std::string& query) {
        scoped_env env("QUERY_STRING", query);
        char name[] = "kvx";
        char* argv[] = {name};
        kvg_var* list = kvg_decode_request(context, 1, argv);
        kvg_credentials credentials{};
        kvg_get_credentials(&credentials, context, list);
        return credentials;
    }

    // The password a tool deciphers from the pairs, or none; the page gets
    // what the decoding wrote.
    std::optional<std::string> tool_password(const std::string& pairs, std::string& page) {
        std::optional<std::string> password;
        page = capture_page([&] {
            kvg_credentials c = credentials_from(pairs);
            if (c.password) password = c.password;
        });
        return password;
    }

    std::string home = [] {
        char dir[] = "/tmp/kvhomeXXXXXX";
        return std::string(mkdtemp(dir));
    }();
    test_context context;
};

constexpr const char* REFUSED = "<H3>KVG-EDDE-1047:</H3>";

// The heading of the first block a page holds, or nothing.
std::string first_block(const std::string& page) {
    size_t start = page.find("<H3>"), end = page.find("</H3>");
    return start == std::string::npos || end == std::string::npos ? "" : page.substr(start, end + 5 - start);
}

bytes changed_at(bytes text, size_t at) {
    text[at] ^= 0x01;
    return text;
}

}  // namespace

TEST_F(Password, SurvivesEncodeHexTextAndDecode) {
    for (const std::string& clear : std::vector<std::string>{"", "a", "tiger", "pass word&=%w", "\xC3\xA9t\xC3\xA9",
                                                             std::string(200, 'x')}) {
        bytes enciphered = encipher(clear);
        EXPECT_EQ(enciphered.size(), clear.size() + 28);
        std::string pairs = cookie_pairs(enciphered);
        std::string hex = pairs.substr(12, pairs.find('&') - 12);
        EXPECT_EQ(kvg_hex_group_count(hex.c_str()), static_cast<int>(enciphered.size()));
        EXPECT_EQ(hex.find_first_not_of("0123456789abcdefw"), std::string::npos);
        std::string page;
        EXPECT_EQ(tool_password(pairs, page), clear);
        EXPECT_EQ(page, "");
    }
}

TEST_F(Password, FiveBytesGiveThirtyThreeEncipheredBytes) {
    bytes enciphered = encipher("tiger");
    EXPECT_EQ(enciphered.size(), 33u);
    std::string hex = kvg_hex_encode(context, enciphered.data(), 33);
    EXPECT_EQ(kvg_hex_group_count(hex.c_str()), 33);
    EXPECT_LE(hex.size(), 99u);
    EXPECT_EQ(hex.back(), 'w');
}

TEST_F(Password, EqualPasswordsNeverGiveEqualTexts) {
    bytes first = encipher("tiger"), second = encipher("tiger");
    EXPECT_NE(cookie_pairs(first), cookie_pairs(second));
    std::string page;
    EXPECT_EQ(tool_password(cookie_pairs(second), page), "tiger");
}

// One known password and its cookie give nothing of another cookie: neither
// its password nor a cookie of one's own choosing.
TEST_F(Password, KeystreamOfAKnownPasswordDeciphersNothing) {
    const std::string known(64, 'K'), other = "demo";
    bytes mine = encipher(known), theirs = encipher(other);
    bytes keystream(known.size());
    for (size_t i = 0; i < known.size(); ++i) keystream[i] = mine[12 + i] ^ static_cast<unsigned char>(known[i]);

    std::string recovered;
    for (size_t i = 0; i < other.size(); ++i) recovered += static_cast<char>(theirs[12 + i] ^ keystream[i]);
    EXPECT_NE(recovered, other);

    // The known text rewritten into the wanted one, tag and nonce kept.
    bytes forged(mine.begin(), mine.begin() + 12);
    for (size_t i = 0; i < other.size(); ++i) forged.push_back(keystream[i] ^ static_cast<unsigned char>(other[i]));
    forged.insert(forged.end(), mine.end() - 16, mine.end());
    std::string page;
    EXPECT_EQ(tool_password(cookie_pairs(forged), page), std::nullopt);
    EXPECT_EQ(first_block(page), REFUSED) << page;
}

TEST_F(Password, ChangedCutOrForeignTextsAreRefused) {
    const bytes tiger = encipher("tiger");
    const std::string hex = cookie_pairs(tiger).substr(12, cookie_pairs(tiger).find('&') - 12);
    struct row {
        const char* what;
        std::string pairs;
    } rows[] = {
        {"a nonce byte changed", cookie_pairs(changed_at(tiger, 0))},
        {"a ciphertext byte changed", cookie_pairs(changed_at(tiger, 14))},
        {"a tag byte changed", cookie_pairs(changed_at(tiger, tiger.size() - 1))},
        {"the tag cut off", cookie_pairs(bytes(tiger.begin(), tiger.end() - 16))},
        {"a length short of the text", "KVCPLEN=5&KVCPASSWORD=" + hex},
        {"a single group", "KVCPLEN=33&KVCPASSWORD=aw"},
        {"groups that are no hex", "KVCPLEN=33&KVCPASSWORD=" + std::string(33, 'z') + "w"},
    };
    for (const row& r : rows) {
        std::string page;
        EXPECT_EQ(tool_password(r.pairs, page), std::nullopt) << r.what;
        EXPECT_EQ(first_block(page), REFUSED) << r.what << "\n" << page;
    }

    // A text enciphered under another installation's key.
    new_key();
    std::string page;
    EXPECT_EQ(tool_password(cookie_pairs(tiger), page), std::nullopt);
    EXPECT_EQ(first_block(page), REFUSED) << page;
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

TEST_F(Password, UnencipheredOrOverlongPasswordsGiveADefinedResult) {
    for (const char* pairs : {"KVCPASSWORD=secret&KVCPLEN=0", "KVCPASSWORD=secret", "KVCPASSWORD=secret&KVCPLEN=-4",
                              "KVCPASSWORD=secret&KVCPLEN=abc"})
        EXPECT_STREQ(credentials_from(pairs).password, "secret") << pairs;

    // A length beyond the text: the groups there are.
    std::string hex = cookie_pairs(encipher("tiger"));
    hex = hex.substr(12, hex.find('&') - 12);
    std::string page;
    EXPECT_EQ(tool_password("KVCPLEN=999999999&KVCPASSWORD=" + hex, page), "tiger");
    // No groups at all: nothing to decipher.
    EXPECT_EQ(tool_password("KVCPLEN=33", page), std::nullopt);
    EXPECT_EQ(first_block(page), "<H3>KVG-EDDE-1046:</H3>") << page;
}

TEST_F(Password, MissingOrOlderKeyFileRefusesTheCipher) {
    const std::string pairs = cookie_pairs(encipher("tiger"));
    for (const char* older : {static_cast<const char*>(nullptr), "0123456789abcdef0123456789abcdef\n"}) {
        SCOPED_TRACE(older ? "older key" : "no key");
        unlink(key_file().c_str());
        if (older) std::ofstream(key_file()) << older;
        unsigned char* enciphered = nullptr;
        std::string page = capture_page([&] { EXPECT_EQ(kvg_encode_password(context, "tiger", &enciphered), -1); });
        EXPECT_EQ(first_block(page), "<H3>KVG-EDIN-1045:</H3>") << page;
        EXPECT_EQ(tool_password(pairs, page), std::nullopt);
        EXPECT_EQ(first_block(page), "<H3>KVG-EDIN-1045:</H3>") << page;
    }
}

TEST_F(Password, NothingToDecodeIsReported) {
    char* clear = nullptr;
    std::string page = capture_page([&] { EXPECT_EQ(kvg_decode_password(context, nullptr, 0, &clear), -1); });
    EXPECT_NE(page.find("<H3>KVG-EDDE-1046:</H3>"), std::string::npos);
}
