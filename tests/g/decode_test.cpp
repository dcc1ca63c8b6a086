#include <cstdio>
#include <fcntl.h>
#include <string>
#include <unistd.h>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "support/test_context.h"

namespace {

using pairs = std::vector<std::pair<std::string, std::string>>;

pairs entries(const kvg_var* list) {
    pairs out;
    for (const kvg_var* v = list; v != KVG_VAR_END; v = v->next)
        if (v->name) out.emplace_back(v->name, v->value);
    return out;
}

class Decode : public testing::Test {
protected:
    void SetUp() override { clear_cgi_env(); }

    kvg_var* decode(std::vector<const char*> args = {"nph-kvb"}) {
        return kvg_decode_request(context, static_cast<int>(args.size()), const_cast<char**>(args.data()));
    }

    // Runs the decoder with body on standard input.
    kvg_var* decode_body(const std::string& body) {
        std::string path = testing::TempDir() + "body" + std::to_string(getpid());
        FILE* f = std::fopen(path.c_str(), "w");
        std::fwrite(body.data(), 1, body.size(), f);
        std::fclose(f);
        int saved = dup(0), fd = open(path.c_str(), O_RDONLY);
        dup2(fd, 0);
        kvg_var* list = decode();
        dup2(saved, 0);
        close(fd);
        close(saved);
        unlink(path.c_str());
        return list;
    }

    test_context context;
};

}  // namespace

TEST_F(Decode, QueryPairsByTheOrderOfPlusEscapesAndEquals) {
    struct row {
        const char* query;
        pairs expected;
    } rows[] = {
        {"a=1&b=x+y%21", {{"a", "1"}, {"b", "x y!"}}},
        {"flag", {{"flag", ""}}},
        {"a=1&&b=2", {{"a", "1"}, {"", ""}, {"b", "2"}}},
        {"%41%42=%4a%4A", {{"AB", "JJ"}}},
        {"a%3Db=c", {{"a", "b=c"}}},  // an escaped "=" splits the name
        {"p=%2B+1", {{"p", "+ 1"}}},  // an escaped "+" stays a plus sign
        {"x=%4", {{"x", "%4"}}},      // a truncated escape stays as it is
        {"x=%", {{"x", "%"}}},
        {"x=%zz", {{"x", "S"}}},      // no character is refused: 16 * 35 + 35 = 595, kept to 8 bits
        {"n=a%00b", {{"n", "a"}}},    // a NUL byte ends the value
        {"a=1&a=2&", {{"a", "1"}, {"a", "2"}}},
        {"\xC3\xA9=%C3%A9", {{"\xC3\xA9", "\xC3\xA9"}}},
    };
    for (const row& r : rows) {
        scoped_env query("QUERY_STRING", r.query);
        EXPECT_EQ(entries(decode()), r.expected) << r.query;
    }
}

TEST_F(Decode, CookiePairsFollowTheFormPairs) {
    scoped_env query("QUERY_STRING", "KVCUSER=adam");
    scoped_env cookie("HTTP_COOKIE", "KVCOOKIE=VANTOR_SID=PROD&KVCUSER=eve");
    kvg_var* list = decode();
    EXPECT_EQ(entries(list), (pairs{{"KVCUSER", "adam"}, {"VANTOR_SID", "PROD"}, {"KVCUSER", "eve"}}));
    const char* values[4];
    EXPECT_EQ(kvg_get_values("KVCUSER", list, values, 4, context), 2);
    EXPECT_STREQ(values[0], "adam");
    EXPECT_STREQ(kvg_first_value("KVCUSER", list, context), "adam");
    EXPECT_EQ(kvg_get_values("NOPE", list, values, 4, context), 0);
}

TEST_F(Decode, LoginCookieIsFoundAmongOtherCookies) {
    struct row {
        const char* header;
        pairs expected;
    } rows[] = {
        {"theme=dark; KVCOOKIE=VANTOR_SID=PROD&KVCUSER=eve; lang=en", {{"VANTOR_SID", "PROD"}, {"KVCUSER", "eve"}}},
        {"KVCOOKIE=VANTOR_SID=PROD", {{"VANTOR_SID", "PROD"}}},
        {"OTHER=VANTOR_SID=TEST", {{"VANTOR_SID", "TEST"}}},  // one cookie of another name: its pairs
        {"novalue", {}},
    };
    for (const row& r : rows) {
        scoped_env cookie("HTTP_COOKIE", r.header);
        EXPECT_EQ(entries(decode()), r.expected) << r.header;
    }
}

TEST_F(Decode, BodyIsReadWholeAndWinsOverTheQuery) {
    std::string value(70000 - 2, 'v');
    scoped_env query("QUERY_STRING", "q=1");
    {
        scoped_env length("CONTENT_LENGTH", "70000");
        EXPECT_EQ(entries(decode_body("b=" + value)), (pairs{{"b", value}}));
    }
    {
        // A body shorter than announced was cut off on its way: not used.
        scoped_env length("CONTENT_LENGTH", "5000");
        EXPECT_EQ(entries(decode_body("b=12")), pairs{});
    }
    {
        scoped_env length("CONTENT_LENGTH", "3");
        EXPECT_EQ(entries(decode_body("b=12345")), (pairs{{"b", "1"}}));
    }
    for (const char* length_text : {"-5", "abc", "0"}) {
        scoped_env length("CONTENT_LENGTH", length_text);
        EXPECT_EQ(entries(decode_body("b=1")), pairs{}) << length_text;
    }
    {
        scoped_env length("CONTENT_LENGTH", "");
        EXPECT_EQ(entries(decode_body("b=1")), (pairs{{"q", "1"}}));
    }
}

TEST_F(Decode, ShellArgumentsStandForAQuery) {
    EXPECT_EQ(entries(decode({"nph-kvb", "x=1", "y=2"})), (pairs{{"x", "1"}, {"y", "2"}}));
    scoped_env query("QUERY_STRING", "q=1");
    EXPECT_EQ(entries(decode({"nph-kvb", "x=1"})), (pairs{{"q", "1"}}));
}

TEST_F(Decode, RequestWithoutDataHasOneNamelessEntry) {
    kvg_var* list = decode();
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(list->name, nullptr);
    EXPECT_EQ(list->next, KVG_VAR_END);
    EXPECT_EQ(kvg_first_value("", list, context), nullptr);
}

TEST_F(Decode, LongValuesAreReadWhole) {
    std::string cookie_value(5000, 'c');
    scoped_env cookie("HTTP_COOKIE", "KVCOOKIE=KVCUSER=" + cookie_value);
    EXPECT_EQ(entries(decode()), (pairs{{"KVCUSER", cookie_value}}));
    scoped_env long_env("SOME_PATH", std::string(300, 'p'));
    EXPECT_EQ(std::string(kvg_getenv(context, "SOME_PATH")), std::string(300, 'p'));
    EXPECT_EQ(kvg_getenv(context, "SURELY_NOT_SET_ANYWHERE"), nullptr);
}
