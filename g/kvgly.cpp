// The frame of every page: head, banner with the status light, tool bar with
// the map of the sibling tools, footer.
#include <string>

#include "g/kvg.h"
#include "o/kvo.h"

namespace {

constexpr const char* MODULE = "g/kvgly";
constexpr int COPYRIGHT_YEAR = 2026;
constexpr size_t TAG_PICTURE_SIZE = 64;

struct tool_entry {
    const char* code;
    int title;
    const char* help_page;
};

constexpr tool_entry TOOLS[] = {
    {"kvd", 3000, "db.htm"}, {"kvs", 7000, "ss.htm"}, {"kvu", 8000, "sc.htm"}, {"kvx", 9000, "ta.htm"},
    {"kvla", 1000, "kv.htm"}, {"kve", 4001, "da.htm"}, {"kvb", 2000, "br.htm"}, {"kvr", 6000, "br.htm"},
};

const tool_entry* find_tool(const char* code) {
    for (const tool_entry& t : TOOLS)
        if (code && lk_equal(t.code, code)) return &t;
    return nullptr;
}

struct map_area {
    int left, top, right, bottom;
    const char* program;
    int title;  // the tool's title, the area's text where no picture is shown
};

// The sibling tools while the instance is up, and the two that stay
// reachable while it is down.
constexpr map_area UP_AREAS[] = {
    {0, 0, 80, 31, "kvd", 3000},    {81, 0, 154, 31, "kvu", 8000},  {155, 0, 234, 31, "nph-kve", 4001},
    {235, 0, 308, 31, "kvs", 7000}, {309, 0, 388, 31, "kvx", 9000}, {389, 0, 464, 31, "nph-kvb", 2000},
};
constexpr map_area DOWN_AREAS[] = {{0, 0, 80, 31, "kvd", 3000}, {81, 0, 155, 31, "nph-kvb", 2000}};

// The texts of the pictures of the frame, for browsers that show none.
constexpr int INSTANCE_UP = 1065, INSTANCE_DOWN = 1066, INSTANCE_UNKNOWN = 1067, LOGIN = 1068, HELP = 1069,
              TOOL_BAR = 1070;

int light_text(int status) {
    switch (status) {
        case KVO_DB_UP: return INSTANCE_UP;
        case KVO_DB_DOWN: return INSTANCE_DOWN;
        default: return INSTANCE_UNKNOWN;
    }
}

// The parts of every address of a page, escaped once: they come from the
// request and are written into attributes, most of them without quotes.
struct address_parts {
    std::string protocol, host, sid;

    address_parts(const kvg_credentials* credentials, const kvg_server* server)
        : protocol(kvg_attr_escaped(server && server->protocol ? server->protocol : "")),
          host(kvg_attr_escaped(server && server->host ? server->host : "")),
          sid(kvg_attr_escaped(credentials && credentials->sid ? credentials->sid : "")) {}
};

int database_status(kvg_context* context, kvg_credentials* credentials, int line) {
    auto* error = static_cast<kvo_sql_error*>(kvg_alloc(context, sizeof(kvo_sql_error), 0, MODULE, line));
    return error ? kvo_db_status(credentials, error, context) : KVO_DB_UNKNOWN;
}

void write_tool_map(kvg_context* context, kvg_credentials* credentials, const kvg_server* server,
                    const char* tool_code, int status) {
    if (status == KVO_DB_UP) {
        auto* picture = static_cast<char*>(kvg_alloc(context, TAG_PICTURE_SIZE, 0, MODULE, __LINE__));
        if (!picture) return;
        bk_format(context->services->formatter, picture, TAG_PICTURE_SIZE, "%stag.gif", tool_code);
        kvg_image_map(credentials, picture, "kvcmup.map", kvg_message(context, TOOL_BAR));
        for (const map_area& a : UP_AREAS)
            kvg_map_area(credentials, server, a.left, a.top, a.right, a.bottom, a.program, nullptr,
                         kvg_message(context, a.title));
    } else {
        kvg_image_map(credentials, "kvnotuptag.gif", "kvcmnotup.map", kvg_message(context, TOOL_BAR));
        for (const map_area& a : DOWN_AREAS)
            kvg_map_area(credentials, server, a.left, a.top, a.right, a.bottom, a.program, nullptr,
                         kvg_message(context, a.title));
    }
    bk_out("</MAP>\n");
}

}  // namespace

int kvg_title_message(const char* tool_code) {
    const tool_entry* t = find_tool(tool_code);
    return t ? t->title : 1000;
}

const char* kvg_help_page(const char* tool_code) {
    const tool_entry* t = find_tool(tool_code);
    return t ? t->help_page : "kv.htm";
}

const char* kvg_light_name(int status) {
    switch (status) {
        case KVO_DB_UP: return "green";
        case KVO_DB_DOWN: return "red";
        default: return "yellow";
    }
}

void kvg_page_head(kvg_context* context, const char* tool_code) {
    bk_out("<html>\n<body bgcolor=\"%s\">\n", "#b8b8c8");
    bk_out("<title>%s</title>\n", kvg_message(context, kvg_title_message(tool_code)));
}

void kvg_banner(kvg_context* context, kvg_credentials* credentials, const char* tool_code) {
    int status = database_status(context, credentials, __LINE__);
    const char* light = kvg_light_name(status);
    address_parts a(credentials, nullptr);
    std::string user = kvg_html_escaped(credentials->user ? credentials->user : "");
    const char* sid = a.sid.c_str();
    bk_out("<center><table width=95%%>\n");
    bk_out("<tr><td align=right valign=top><img src=%s%s%s%s%s%s%skvs%slight.%s alt=\"%s\"></td>\n", "/", sid, "/",
           "kv", "/", "pics", "/", light, "gif", kvg_message(context, light_text(status)));
    bk_out("<td align=center valign=top><img src=%s%s%s%s%s%s%s%sbanner.%s alt=\"%s\"></td>\n", "/", sid, "/", "kv", "/",
           "pics", "/", tool_code, "gif", kvg_message(context, kvg_title_message(tool_code)));
    bk_out("<td valign=top>\n<table><tr><td align=right>%s:</td>\n", kvg_message(context, 1005));
    bk_out("<td><b>%s</b></td></tr>\n", kvg_html_escaped(credentials->sid ? credentials->sid : "").c_str());
    bk_out("<tr><td align=right>%s:</td>\n", kvg_message(context, 1006));
    bk_out("<td><b>%s</b></td></tr></table>\n</td></tr></table></center>", user.c_str());
}

void kvg_toolbar(kvg_context* context, kvg_credentials* credentials, const kvg_server* server,
                 const char* tool_code, int text_instead_of_map, const char* target, const char* query,
                 const char* picture) {
    int status = database_status(context, credentials, __LINE__);
    const char* help_page = kvg_help_page(tool_code);
    address_parts a(credentials, server);
    const char *protocol = a.protocol.c_str(), *host = a.host.c_str(), *sid = a.sid.c_str();

    bk_out("<center><table width=95%%>\n");
    if (target) {
        bk_out("<tr><td align=center valign=top><a href=%s%s%s%s%s%s%s-%s%s%s", protocol, ":", "/", "/", host, "/",
               sid, "bin", "/", target);
        if (query) bk_out("?%s", kvg_attr_escaped(query).c_str());
    } else {
        bk_out("<tr><td align=center valign=top><a href=%s%s%s%s%s%s%s-%s%slogin", protocol, ":", "/", "/", host,
               "/", sid, "bin", "/");
        picture = "logintag.gif";
    }
    bk_out("><img src=%s%s%s%s%s%s%s%s alt=\"%s\" border=0></a></td>\n", "/", sid, "/", "kv", "/", "pics", "/",
           picture ? picture : "", kvg_message(context, target ? kvg_title_message(tool_code) : LOGIN));

    bk_out("<td align=center valign=bottom>");
    if (text_instead_of_map) {
        bk_out("%s</td>", kvg_message(context, 1043));
    } else {
        write_tool_map(context, credentials, server, tool_code, status);
        bk_out("</td>\n");
    }

    bk_out("<td align=center valign=top><a href=%s%s%s%s%s%s%s-%s%s%s%s%s>", protocol, ":", "/", "/", host, "/", sid,
           "doc", "/", "dtug", "/", help_page);
    bk_out("<img src=%s%s%s%s%s%s%shelptag.%s alt=\"%s\" border=0></a></td>\n</tr>", "/", sid, "/", "kv", "/", "pics",
           "/", "gif", kvg_message(context, HELP));
    bk_out("</table><hr width=100%%></center>\n");
}

void kvg_footer(kvg_context* context, const kvg_credentials* credentials, const kvg_server* server) {
    address_parts a(credentials, server);
    const char *protocol = a.protocol.c_str(), *host = a.host.c_str(), *sid = a.sid.c_str();
    bk_out("<center>");
    bk_out("<SMALL><A href=%s%s%s%s%s%s%s-%s%s%s>%s &#169; %d</A>, ", protocol, ":", "/", "/", host, "/", sid, "doc",
           "/", "copyright.html", kvg_message(context, 1034), COPYRIGHT_YEAR);
    // The home page of the tool set is the start page of its help.
    bk_out("<A href=%s%s%s%s%s%s%s-%s%s%s>%s</A>, ", protocol, ":", "/", "/", host, "/", sid, "doc", "/",
           "dtug/kv.htm", kvg_message(context, 1044));
    bk_out("%s<BR>", kvg_message(context, 1036));
    bk_out("</SMALL></center></body></html>");
}

void kvg_page_top(kvg_context* context, kvg_credentials* credentials, const kvg_server* server,
                  const char* tool_code, const char* target, const char* query, const char* picture) {
    kvg_page_head(context, tool_code);
    kvg_banner(context, credentials, tool_code);
    kvg_toolbar(context, credentials, server, tool_code, 0, target, query, picture);
}

void kvg_page_bottom(kvg_context* context, kvg_credentials* credentials, const kvg_server* server,
                     const char* tool_code, const char* target, const char* query, const char* picture) {
    bk_out("<hr width=100%%>");
    kvg_toolbar(context, credentials, server, tool_code, 0, target, query, picture);
    kvg_footer(context, credentials, server);
}

void kvg_image_map(const kvg_credentials* credentials, const char* picture, const char* map_name, const char* alt) {
    address_parts a(credentials, nullptr);
    bk_out("<img src=%s%s%s%s%s%s%s%s alt=\"%s\" border=0 USEMAP=\"#%s\">\n", "/", a.sid.c_str(), "/", "kv", "/", "pics",
           "/", picture, alt, map_name);
    bk_out("<MAP NAME=%s>\n", map_name);
}

void kvg_map_area(const kvg_credentials* credentials, const kvg_server* server, int left, int top, int right,
                  int bottom, const char* program, const char* query, const char* alt) {
    address_parts a(credentials, server);
    bk_out("<AREA SHAPE=RECT COORDS=\"%d,%d,%d,%d\" alt=\"%s\" ", left, top, right, bottom, alt);
    bk_out("HREF=\"%s%s%s%s%s%s%s-%s%s%s", a.protocol.c_str(), ":", "/", "/", a.host.c_str(), "/", a.sid.c_str(),
           "bin", "/", program);
    if (query) bk_out("%s%s", "?", kvg_attr_escaped(query).c_str());
    bk_out("\">\n");
}
