#include <climits>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>

#include <unistd.h>

#include <gtest/gtest.h>

#include "platform/langkit.h"

TEST(Language, NlsLangPicksLanguageAndCharacterSet) {
    struct row {
        const char* nls_lang;
        int result;
        const char* code;
        lk_charset charset;
    } rows[] = {
        {nullptr, 0, "us", LK_UTF8},
        {"", 0, "us", LK_UTF8},
        {"AMERICAN_AMERICA.UTF8", 0, "us", LK_UTF8},
        {"american_america.we8iso8859p1", 0, "us", LK_WE8ISO8859P1},
        {".WE8ISO8859P1", 0, "us", LK_WE8ISO8859P1},
        {"GERMAN_GERMANY.AL32UTF8", 0, "d", LK_UTF8},
        {"KLINGON_KRONOS.UTF8", -1, "", LK_UTF8},
        {"AMERICAN_AMERICA.EBCDIC", -1, "", LK_UTF8},
        {"AMERICAN_AMERICA.", 0, "us", LK_UTF8},
    };
    for (const row& r : rows) {
        lk_lang lang;
        SCOPED_TRACE(r.nls_lang ? r.nls_lang : "(none)");
        ASSERT_EQ(lk_lang_load(r.nls_lang, &lang), r.result);
        if (r.result != 0) continue;
        EXPECT_STREQ(lang.catalogue_code, r.code);
        EXPECT_EQ(lang.charset, r.charset);
    }
    lk_lang lang;
    EXPECT_EQ(lk_lang_load(std::string(100, 'A').c_str(), &lang), -1);
}

TEST(Language, StepsWholeCharactersAndNeverSwallowsAStopCharacter) {
    struct row {
        const char* text;
        size_t remaining;
        lk_charset charset;
        size_t length;
    } rows[] = {
        {"a", 1, LK_UTF8, 1},
        {"\xC3\xA9x", 3, LK_UTF8, 2},
        {"\xE2\x82\xAC", 3, LK_UTF8, 3},
        {"\xF0\x9F\x98\x80", 4, LK_UTF8, 4},
        {"\xE2\x82\xAC", 2, LK_UTF8, 1},   // cut by the end of the text
        {"\xC3&", 2, LK_UTF8, 1},          // broken sequence before a stop character
        {"\x80", 1, LK_UTF8, 1},           // stray continuation byte
        {"\xC3\xA9", 2, LK_WE8ISO8859P1, 1},
    };
    for (const row& r : rows) EXPECT_EQ(lk_char_length(r.charset, r.text, r.remaining), r.length) << r.text;
}

TEST(Language, CaseConversionCoversAsciiAndLatin1Letters) {
    struct row {
        lk_charset charset;
        const char* text;
        const char* upper;
        const char* lower;
    } rows[] = {
        {LK_UTF8, "Users_01", "USERS_01", "users_01"},
        {LK_UTF8, "\xC3\xA9t\xC3\xA9", "\xC3\x89T\xC3\x89", "\xC3\xA9t\xC3\xA9"},
        {LK_UTF8, "\xC3\xB7\xC3\x97", "\xC3\xB7\xC3\x97", "\xC3\xB7\xC3\x97"},  // division and multiplication signs
        {LK_WE8ISO8859P1, "\xE9t\xE9", "\xC9T\xC9", "\xE9t\xE9"},
        {LK_UTF8, "\xE2\x82\xAC", "\xE2\x82\xAC", "\xE2\x82\xAC"},
    };
    for (const row& r : rows) {
        std::string upper = r.text, lower = r.text;
        lk_to_upper(r.charset, upper.data());
        lk_to_lower(r.charset, lower.data());
        EXPECT_EQ(upper, r.upper);
        EXPECT_EQ(lower, r.lower);
    }
    EXPECT_TRUE(lk_equal_nocase(LK_UTF8, "nph-KVB", "NPH-kvb"));
    EXPECT_FALSE(lk_equal_nocase(LK_UTF8, "kvb", "kvbx"));
}

TEST(Language, TextToNumberTakesAnOptionalSignAndLeadingDigits) {
    struct row {
        const char* text;
        int value;
    } rows[] = {
        {"42", 42},       {" 7", 7},          {"-13", -13},     {"+5", 5},         {"12abc", 12},
        {"abc", 0},       {"", 0},            {"-", 0},         {"99999999999", INT_MAX},
        {"-99999999999", INT_MIN},            {"2147483648", INT_MAX},               {"-2147483648", INT_MIN},
        // Only the first 31 characters count.
        {"0000000000000000000000000000001", 1}, {"00000000000000000000000000000001", 0},
    };
    for (const row& r : rows) EXPECT_EQ(lk_text_to_int(r.text), r.value) << '"' << r.text << '"';
    char buffer[16];
    lk_int_to_text(-2051, buffer, sizeof buffer);
    EXPECT_STREQ(buffer, "-2051");
}

TEST(Language, NameCopyFoldsUnquotedNames) {
    struct row {
        const char* name;
        size_t size;
        const char* copy;
    } rows[] = {
        {"users", 32, "USERS"},
        {"\"Mixed Case\"", 32, "Mixed Case"},
        {"\"", 32, "\""},
        {"temporary", 5, "TEMP"},
        {"\xC3\xA9t\xC3\xA9", 3, "\xC3\x89"},  // never half a character
    };
    for (const row& r : rows) {
        char out[32];
        lk_name_copy(LK_UTF8, r.name, out, r.size);
        EXPECT_STREQ(out, r.copy);
    }
}

TEST(Catalogue, LooksUpNumbersAndNamesMissingOnes) {
    const char text[] = "# comment\n\n1013 Out of memory.\r\n1000 Login\n4026 None\n";
    lk_catalog* catalog = lk_catalog_parse(text, sizeof text - 1, LK_UTF8);
    ASSERT_NE(catalog, nullptr);
    EXPECT_STREQ(lk_catalog_find(catalog, 1013), "Out of memory.");
    EXPECT_STREQ(lk_catalog_text(catalog, 1000), "Login");
    EXPECT_EQ(lk_catalog_find(catalog, 9999), nullptr);
    EXPECT_STREQ(lk_catalog_text(catalog, 9999), "Message 9999 not found; product=kv; facility=kvs");
    char small[5];
    EXPECT_EQ(lk_catalog_copy(catalog, 1013, small, sizeof small), 4u);
    EXPECT_STREQ(small, "Out ");
    lk_catalog_close(catalog);
}

TEST(Catalogue, RefusesMalformedFiles) {
    const std::string texts[] = {"1013Out of memory\n", "x13 text\n", "1013\n", " 1013 text\n",
                                 std::string("1013 a\0b\n", 9)};
    for (const std::string& text : texts)
        EXPECT_EQ(lk_catalog_parse(text.data(), text.size(), LK_UTF8), nullptr) << text;
}

TEST(Catalogue, ConvertsTextsToTheSingleByteCharacterSet) {
    const char text[] = "1 caf\xC3\xA9 \xE2\x82\xAC\n";
    lk_catalog* catalog = lk_catalog_parse(text, sizeof text - 1, LK_WE8ISO8859P1);
    ASSERT_NE(catalog, nullptr);
    EXPECT_STREQ(lk_catalog_find(catalog, 1), "caf\xE9 ?");
    lk_catalog_close(catalog);
}

TEST(Catalogue, InstallationCatalogueOpensByProductAndFacility) {
    lk_lang lang;
    ASSERT_EQ(lk_lang_load(nullptr, &lang), 0);
    std::string home = std::string(KV_CATALOGUE).substr(0, std::string(KV_CATALOGUE).find("/content/"));
    // The source tree keeps the catalogue in content/mesg; an installation in kv/mesg.
    EXPECT_EQ(lk_catalog_open(home.c_str(), "kv", "kvs", &lang), nullptr);
    lk_catalog* catalog = lk_catalog_open(home.c_str(), "content", "kvs", &lang);
    ASSERT_NE(catalog, nullptr);
    EXPECT_STREQ(lk_catalog_find(catalog, 4026), "None");
    lk_catalog_close(catalog);
}

// A language without a catalogue of its own reads the American one, in the
// character set the request asked for; one whose catalogue is there but
// damaged is not hidden behind it.
TEST(Catalogue, LanguageWithoutItsOwnCatalogueReadsTheAmericanOne) {
    namespace fs = std::filesystem;
    const std::string american = "1 caf\xC3\xA9\n", german = "1 Kaffee\n";
    struct row {
        const char* nls_lang;
        std::map<std::string, std::string> files;  // kvs<code>.msg and its text
        const char* text;                          // of message 1, none when the open fails
    } rows[] = {
        {"GERMAN_GERMANY.UTF8", {{"us", american}}, "caf\xC3\xA9"},
        {"GERMAN_GERMANY.WE8ISO8859P1", {{"us", american}}, "caf\xE9"},
        {"FRENCH_FRANCE.UTF8", {{"us", american}, {"d", german}}, "caf\xC3\xA9"},
        {"GERMAN_GERMANY.UTF8", {{"us", american}, {"d", german}}, "Kaffee"},
        {"GERMAN_GERMANY.UTF8", {{"us", american}, {"d", "1Kaffee\n"}}, nullptr},
        {"GERMAN_GERMANY.UTF8", {}, nullptr},
        {"AMERICAN_AMERICA.UTF8", {{"d", german}}, nullptr},
    };
    const fs::path home = fs::path(testing::TempDir()) / ("catalogues" + std::to_string(getpid()));
    for (const row& r : rows) {
        SCOPED_TRACE(std::string(r.nls_lang) + " with " + std::to_string(r.files.size()) + " files");
        fs::remove_all(home);
        fs::create_directories(home / "kv" / "mesg");
        for (const auto& [code, text] : r.files) std::ofstream(home / "kv" / "mesg" / ("kvs" + code + ".msg")) << text;
        lk_lang lang;
        ASSERT_EQ(lk_lang_load(r.nls_lang, &lang), 0);
        lk_catalog* catalog = lk_catalog_open(home.c_str(), "kv", "kvs", &lang);
        if (!r.text) {
            EXPECT_EQ(catalog, nullptr);
            continue;
        }
        ASSERT_NE(catalog, nullptr);
        EXPECT_STREQ(lk_catalog_find(catalog, 1), r.text);
        EXPECT_STREQ(lk_catalog_text(catalog, 2), "Message 2 not found; product=kv; facility=kvs");
        lk_catalog_close(catalog);
    }
    fs::remove_all(home);
}
