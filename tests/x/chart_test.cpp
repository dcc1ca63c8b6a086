// The usage chart as the browser receives it: a picture request to the
// program, decoded with gd and looked at point by point.
#include <array>
#include <memory>
#include <string>
#include <utility>

#include <gd.h>
#include <gtest/gtest.h>

#include "support/cgi_run.h"

namespace {

const std::string HEAD = head_lines("image/gif") + "\n";

enum colour { TRANSPARENT, YELLOW, BLUE, OTHER };

struct picture_deleter {
    void operator()(gdImagePtr image) const { gdImageDestroy(image); }
};
using picture = std::unique_ptr<gdImage, picture_deleter>;

// The picture of a query, requested with nothing but the query and a path:
// no home, no instance, no login.
picture chart(const std::string& query) {
    cgi_result r = run_cgi(KVX_PROGRAM, {"kvx"}, {{"PATH_INFO", "/kvx4711.gif"}, {"QUERY_STRING", query}});
    EXPECT_EQ(r.exit_code, 0) << r.errors;
    EXPECT_EQ(r.page.rfind(HEAD + "GIF89a", 0), 0u) << query;
    if (r.page.size() <= HEAD.size()) return nullptr;
    std::string gif = r.page.substr(HEAD.size());
    return picture(gdImageCreateFromGifPtr(static_cast<int>(gif.size()), gif.data()));
}

colour at(const picture& p, int x, int y) {
    int c = gdImageGetPixel(p.get(), x, y);
    if (c == gdImageGetTransparent(p.get())) return TRANSPARENT;
    int r = gdImageRed(p.get(), c), g = gdImageGreen(p.get(), c), b = gdImageBlue(p.get(), c);
    if (r == 255 && g == 255 && b == 0) return YELLOW;
    if (r == 0 && g == 0 && b == 255) return BLUE;
    return OTHER;
}

bool same(const picture& a, const picture& b) {
    for (int y = 0; y < 110; ++y)
        for (int x = 0; x < 110; ++x)
            if (at(a, x, y) != at(b, x, y)) return false;
    return true;
}

struct spot {
    int x, y;
    colour expected;
};

}  // namespace

// The disc is centred at (60, 60) with radius 45; the slice grows counter-
// clockwise from 3 o'clock.
TEST(Chart, ColoursAtTheirPlaces) {
    struct row {
        const char* query;
        std::array<spot, 5> spots;
    } rows[] = {
        // A sliver on the 3 o'clock radius, the rest blue.
        {"KVXUSD=0&KVXTOT=1000",
         {{{60, 60, YELLOW}, {90, 60, YELLOW}, {60, 30, BLUE}, {60, 90, BLUE}, {30, 60, BLUE}}}},
        // The upper right quarter.
        {"KVXUSD=250&KVXTOT=1000",
         {{{60, 60, YELLOW}, {80, 40, YELLOW}, {40, 40, BLUE}, {80, 80, BLUE}, {40, 80, BLUE}}}},
        // The upper half.
        {"KVXUSD=500&KVXTOT=1000",
         {{{60, 60, YELLOW}, {30, 45, YELLOW}, {90, 45, YELLOW}, {30, 75, BLUE}, {90, 75, BLUE}}}},
        // All yellow, with the 3 o'clock radius drawn again in blue.
        {"KVXUSD=1000&KVXTOT=1000",
         {{{60, 60, BLUE}, {90, 60, BLUE}, {60, 30, YELLOW}, {60, 90, YELLOW}, {30, 60, YELLOW}}}},
        // At 25 degrees the slice's outline has a gap; the fill must stay inside.
        {"KVXUSD=25&KVXTOT=360",
         {{{60, 60, YELLOW}, {95, 55, YELLOW}, {60, 30, BLUE}, {95, 70, BLUE}, {12, 12, TRANSPARENT}}}},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.query);
        picture p = chart(r.query);
        ASSERT_TRUE(p);
        EXPECT_EQ(gdImageSX(p.get()), 110);
        EXPECT_EQ(gdImageSY(p.get()), 110);
        int background = gdImageGetTransparent(p.get());
        ASSERT_NE(background, -1);
        EXPECT_EQ(gdImageRed(p.get(), background), 192);
        EXPECT_EQ(gdImageGreen(p.get(), background), 192);
        EXPECT_EQ(gdImageBlue(p.get(), background), 192);
        // Corners, and points just outside the disc.
        for (auto [x, y] : {std::pair{0, 0}, {109, 0}, {0, 109}, {109, 109}, {60, 12}, {108, 60}})
            EXPECT_EQ(at(p, x, y), TRANSPARENT) << x << "," << y;
        for (const spot& s : r.spots) EXPECT_EQ(at(p, s.x, s.y), s.expected) << s.x << "," << s.y;
    }
}

// Only the positions of the two numbers count; what the usage page never
// sends is drawn as the nearest picture it does send.
TEST(Chart, OddQueriesDrawTheNearestSensiblePicture) {
    struct row {
        std::string query;
        const char* drawn_as;
    } rows[] = {
        {"A=250&B=1000", "KVXUSD=250&KVXTOT=1000"},
        {"KVXUSD=250&KVXTOT=1000&KVXUSD=999", "KVXUSD=250&KVXTOT=1000"},
        {"KVXUSD=5&KVXTOT=0", "KVXUSD=0&KVXTOT=1000"},
        {"KVXUSD=5&KVXTOT=-100", "KVXUSD=0&KVXTOT=1000"},
        {"KVXUSD=-5&KVXTOT=1000", "KVXUSD=0&KVXTOT=1000"},
        {"KVXUSD=2000&KVXTOT=1000", "KVXUSD=1000&KVXTOT=1000"},
        {"KVXUSD=99999999999&KVXTOT=1000", "KVXUSD=1000&KVXTOT=1000"},
        {"", "KVXUSD=0&KVXTOT=1000"},
        {"KVXUSD=500", "KVXUSD=0&KVXTOT=1000"},
        {"500&1000", "KVXUSD=0&KVXTOT=1000"},
        {"KVXUSD=abc&KVXTOT=1000", "KVXUSD=0&KVXTOT=1000"},
        // A value whose "=" lies past the 63 characters a field is read to.
        {"KVXUSD" + std::string(60, 'x') + "=500&KVXTOT=1000", "KVXUSD=0&KVXTOT=1000"},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.query);
        picture odd = chart(r.query), sensible = chart(r.drawn_as);
        ASSERT_TRUE(odd && sensible);
        EXPECT_TRUE(same(odd, sensible));
    }
}
