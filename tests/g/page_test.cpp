#include <string>

#include <gtest/gtest.h>

#include "support/page_capture.h"
#include "support/test_context.h"

namespace {

class Page : public testing::Test {
protected:
    void SetUp() override { clear_cgi_env(); }
    test_context context;
};

}  // namespace

TEST_F(Page, ErrorBlockForms) {
    struct row {
        const char* sid;
        int help;
        const char* identifier;
        int number;
        const char* page;
    } rows[] = {
        {"PROD", 1, "KVLA-LOGIN", -1017,
         "<H3>KVLA-LOGIN-1017:</H3><P><STRONG>refused</STRONG>\n"
         "<P><A HREF=\"/PROD/kv/doc/dtug/error.htm#kvla1017\"><IMG SRC=\"/PROD/kv/pics/helptag.gif\"></A>\n"},
        {nullptr, 1, "KVC-OH", 100, "<H3>KVC-OH-100:</H3><P><STRONG>refused</STRONG>\n"},
        {"PROD", 0, "KVC-DP", 1013, "<H3>KVC-DP-1013:</H3><P><STRONG>refused</STRONG>\n"},
        {"PROD", 1, "KVC-DP", 0, "<P><STRONG>refused</STRONG>\n"},
        {"PROD", 1, nullptr, 1031,
         "<H3>kv-1031:</H3><P><STRONG>refused</STRONG>\n"
         "<P><A HREF=\"/PROD/kv/doc/dtug/error.htm#kv1031\"><IMG SRC=\"/PROD/kv/pics/helptag.gif\"></A>\n"},
        // An instance id from the request cannot leave the address it is written into.
        {"P\"><script>", 1, "KVX-TSP", 9031,
         "<H3>KVX-TSP-9031:</H3><P><STRONG>refused</STRONG>\n"
         "<P><A HREF=\"/P&quot;&gt;&lt;script&gt;/kv/doc/dtug/error.htm#kvx9031\">"
         "<IMG SRC=\"/P&quot;&gt;&lt;script&gt;/kv/pics/helptag.gif\"></A>\n"},
    };
    for (const row& r : rows) {
        scoped_env sid("VANTOR_SID", r.sid ? std::optional<std::string>(r.sid) : std::nullopt);
        EXPECT_EQ(capture_page([&] { kvg_error_page(r.help, r.identifier, r.number, "refused", context); }), r.page);
        // Before the context exists the process environment serves.
        EXPECT_EQ(capture_page([&] { kvg_error_page(r.help, r.identifier, r.number, "refused", nullptr); }), r.page);
    }
}

TEST_F(Page, SubmitBlockTakesItsDefaultsFromTheCatalogue) {
    std::string title = lk_catalog_find(context->nls->catalog, 1053);
    std::string label = lk_catalog_find(context->nls->catalog, 1054);
    EXPECT_EQ(capture_page([&] { kvg_submit_block(context, nullptr, nullptr, nullptr); }),
              "<h3><i>" + title + "</i></h3><P><INPUT type=submit name=" + label + " value=\"" + label + "\">\n");
    EXPECT_EQ(capture_page([&] { kvg_submit_block(context, "Title", "Body", "Go on"); }),
              "<h3><i>Title</i></h3><P><P>Body<P>\n<INPUT type=submit name=Go&#32;on value=\"Go on\">\n");
}

TEST_F(Page, EscapingForTextAndAttributes) {
    struct row {
        const char* text;
        const char* html;
        const char* attribute;
    } rows[] = {
        {"a<b>c", "a&lt;b&gt;c", "a&lt;b&gt;c"},
        {"Tom & \"Jerry\" 's", "Tom &amp; &quot;Jerry&quot; &#39;s", "Tom&#32;&amp;&#32;&quot;Jerry&quot;&#32;&#39;s"},
        {"x=1`\t\n", "x=1`\t\n", "x&#61;1&#96;&#9;&#10;"},
        {"\xC3\xA9t\xC3\xA9", "\xC3\xA9t\xC3\xA9", "\xC3\xA9t\xC3\xA9"},
        {"", "", ""},
    };
    for (const row& r : rows) {
        EXPECT_STREQ(kvg_html_escape(context, r.text), r.html);
        EXPECT_STREQ(kvg_attr_escape(context, r.attribute ? r.text : r.text), r.attribute);
    }
}

TEST_F(Page, ServerRecordFromTheWebServersVariables) {
    struct row {
        const char* name;
        const char* port;
        const char* protocol;
        const char* host;
        const char* lower_protocol;
    } rows[] = {
        {"dbhost", "8080", "HTTP/1.0", "dbhost:8080", "http"},
        {"dbhost", nullptr, "HTTPS/1.1", "dbhost", "https"},
        {nullptr, "8080", nullptr, "", ""},
    };
    for (const row& r : rows) {
        scoped_env name("SERVER_NAME", r.name ? std::optional<std::string>(r.name) : std::nullopt);
        scoped_env port("SERVER_PORT", r.port ? std::optional<std::string>(r.port) : std::nullopt);
        scoped_env protocol("SERVER_PROTOCOL", r.protocol ? std::optional<std::string>(r.protocol) : std::nullopt);
        scoped_env script("SCRIPT_NAME", "/PROD-bin/kvx");
        kvg_server server{};
        ASSERT_EQ(kvg_get_server(context, &server, nullptr), 0);
        EXPECT_STREQ(server.host, r.host);
        EXPECT_STREQ(server.protocol, r.lower_protocol);
        EXPECT_STREQ(server.script, "/PROD-bin/kvx");
    }
}

TEST_F(Page, ChangedClientAddressIsAWarningNotARefusal) {
    scoped_env query("QUERY_STRING", "KVRMTADDR=10.0.0.7");
    scoped_env sid("VANTOR_SID", "PROD");
    char name[] = "kvx";
    char* argv[] = {name};
    kvg_var* list = kvg_decode_request(context, 1, argv);
    for (const char* remote : {"10.0.0.7", "10.0.0.8"}) {
        scoped_env address("REMOTE_ADDR", remote);
        kvg_server server{};
        std::string page = capture_page([&] { EXPECT_EQ(kvg_get_server(context, &server, list), 0); });
        bool warned = page.find("<H3>KVC-TOOL-1052:</H3>") != std::string::npos &&
                      page.find("error.htm#kvc1052") != std::string::npos;
        EXPECT_EQ(warned, std::string(remote) == "10.0.0.8") << page;
    }
}
