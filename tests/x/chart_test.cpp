// The usage chart as the browser receives it: a picture request to the
// program, decoded with gd and looked at point by point.
#include <array>
#include <cmath>
#include <cstdlib>
#include <memory>
#include <numbers>
#include <string>
#include <utility>

#include <gd.h>
#include <gtest/gtest.h>

#include "support/cgi_run.h"
#include "support/page_capture.h"
#include "x/kvx.h"

namespace {

const std::string HEAD = head_lines("image/gif") + "\n";

enum colour { TRANSPARENT, YELLOW, BLUE, OTHER };

struct picture_deleter {
    void operator()(gdImagePtr image) const { gdImageDestroy(image); }
};
using picture = std::unique_ptr<gdImage, picture_deleter>;

// The picture of a query, requested with nothing but the query and a path:
// no home, no instance, no login.
picture decoded(const std::string& gif) {
    return picture(gdImageCreateFromGifPtr(static_cast<int>(gif.size()), const_cast<char*>(gif.data())));
}

picture chart(const std::string& query) {
    cgi_result r = run_cgi(KVX_PROGRAM, {"kvx"}, {{"PATH_INFO", "/kvx4711.gif"}, {"QUERY_STRING", query}});
    EXPECT_EQ(r.exit_code, 0) << r.errors;
    EXPECT_EQ(r.page.rfind(HEAD + "GIF89a", 0), 0u) << query;
    if (r.page.size() <= HEAD.size()) return nullptr;
    return decoded(r.page.substr(HEAD.size()));
}

// The same drawing in this process, for sweeps too long for a process per
// picture.
picture drawn_here(const std::string& query) {
    setenv("QUERY_STRING", query.c_str(), 1);
    return decoded(capture_page(kvx_draw_usage_chart));
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

namespace {

// Where a pixel lies against the ideal slice of a degrees: the disc of radius
// 45 about (60, 60), from the 3 o'clock radius counter-clockwise. Distances
// are from the pixel's centre, in pixels; negative inside the slice.
double signed_distance_to_slice(int x, int y, double a) {
    constexpr double R = 45;
    double px = x - 60, py = 60 - y;
    double r = std::hypot(px, py);
    // The radius of the end point is turned with 3.14 for pi, as drawn.
    double end = a * 3.14 / 180;
    auto to_radius = [&](double angle) {
        double ux = std::cos(angle), uy = std::sin(angle);
        double along = px * ux + py * uy;
        if (along <= 0) return r;
        if (along >= R) return std::hypot(px - R * ux, py - R * uy);
        return std::abs(px * uy - py * ux);
    };
    double phi = std::atan2(py, px);
    if (phi < 0) phi += 2 * std::numbers::pi;
    bool within_angle = phi <= end;
    double to_edges = std::min(to_radius(0), to_radius(end));
    if (within_angle && r <= R) return -std::min(to_edges, R - r);
    if (within_angle) return r - R;
    return r <= R ? to_edges : std::min(to_edges, r - R);
}

}  // namespace

// Every used fraction in steps of a tenth of a degree (25 degrees among them,
// where the outline once had a gap, and 90.1 to 91.2, where the fill once
// began on the slice's own radius), and a fraction a hair above a quarter:
// the slice is filled, and the fill stays inside it.
//
// The end point of the slice's radius is cut to whole pixels (up to 1.4 away)
// and a line lies within half a pixel of its course, so the outline can lie
// up to 1.9 pixels off the ideal edge: a pixel within 2 of it may fall either
// way, one further away is yellow exactly when it lies inside. Counted, the
// yellow pixels may then differ from the slice's area by no more than the
// length of that edge, two radii and the arc.
TEST(Chart, TheSliceIsFilledAtEveryAngle) {
    constexpr double UNSURE = 2;
    std::vector<std::pair<int, int>> fractions;
    for (int k = 0; k <= 3600; ++k) fractions.push_back({k, 3600});
    fractions.push_back({250001, 1000000});
    for (auto [used, total] : fractions) {
        std::string query = "KVXUSD=" + std::to_string(used) + "&KVXTOT=" + std::to_string(total);
        SCOPED_TRACE(query);
        picture p = drawn_here(query);
        ASSERT_TRUE(p);
        double a = 360.0 * used / total;
        if (a <= 1) a += 1;
        int yellow = 0, misplaced = 0;
        for (int y = 0; y < 110; ++y)
            for (int x = 0; x < 110; ++x) {
                bool is_yellow = at(p, x, y) == YELLOW;
                yellow += is_yellow;
                double d = signed_distance_to_slice(x, y, a);
                if ((d < -UNSURE && !is_yellow) || (d > UNSURE && is_yellow)) ++misplaced;
            }
        double area = std::numbers::pi * 45 * 45 * a / 360;
        double edge = 2 * 45 + 45 * a * std::numbers::pi / 180;
        EXPECT_EQ(misplaced, 0);
        EXPECT_NEAR(yellow, area, edge);
        // One wrong picture tells enough; the rest of the sweep would repeat it.
        if (misplaced || std::abs(yellow - area) > edge) break;
    }
}
