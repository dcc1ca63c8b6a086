// The tablespace tool's usage chart: a pie of used and total kilobytes.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <string_view>

#include <gd.h>

#include "x/kvx.h"

namespace {

// The pie sits in its own image and is copied into the picture with this
// offset; the disc and the fill seeds derive from these numbers.
constexpr int SHADOW = 10;
constexpr int WIDTH = 10 * SHADOW;
constexpr int HEIGHT = WIDTH;
constexpr int DIAMETER = HEIGHT - SHADOW;
constexpr int CENTRE = HEIGHT / 2;
constexpr int RADIUS = DIAMETER / 2;
constexpr int SEED_DISTANCE = DIAMETER / 4;
constexpr int PICTURE_SIZE = SHADOW + HEIGHT;
// The chart has always used this value, and its pictures are what people
// compare against: the angles stay as they were drawn.
constexpr double PI = 3.14;
constexpr size_t FIELD_LIMIT = 63;
// Grey is the first colour of each image, and so its background.
constexpr int GREY = 0;

struct point {
    int x, y;
};

double radians(double degrees) { return degrees * PI / 180; }

// The number after the first "=" of a query field (0 without one); the
// field's name is not looked at.
int field_value(std::string_view field) {
    field = field.substr(0, FIELD_LIMIT);
    size_t equals = field.find('=');
    if (equals == std::string_view::npos) return 0;
    return lk_text_to_int(std::string(field.substr(equals + 1)).c_str());
}

// The used and total kilobytes are the first two fields of the query, by
// position.
void read_chart_query(const char* query, int* used, int* total) {
    std::string_view text = query ? query : "";
    size_t first_end = text.find('&');
    *used = field_value(text.substr(0, first_end));
    if (first_end == std::string_view::npos) {
        *total = 0;
        return;
    }
    std::string_view rest = text.substr(first_end + 1);
    *total = field_value(rest.substr(0, rest.find('&')));
}

// Degrees of the used slice. A request the usage page would never send (no
// total, negative numbers, more used than there is) is drawn as the nearest
// sensible picture: empty below nothing, full above the total.
double slice_angle(int used, int total) {
    if (total <= 0) used = 0, total = 1;
    used = std::clamp(used, 0, total);
    double a = static_cast<double>(used) / static_cast<double>(total) * 360;
    // An empty tablespace still shows a sliver.
    if (a <= 1) a += 1;
    return a;
}

// Where the slice's second radius meets the circle, a degrees counter-clockwise
// from 3 o'clock; y grows downwards.
point slice_end(double a) {
    double r = RADIUS;
    if (a <= 90)
        return {static_cast<int>(std::cos(radians(a)) * r + CENTRE),
                static_cast<int>(CENTRE - std::sin(radians(a)) * r)};
    if (a <= 180)
        return {static_cast<int>(CENTRE - std::cos(radians(180 - a)) * r),
                static_cast<int>(CENTRE - std::sin(radians(180 - a)) * r)};
    if (a <= 270)
        return {static_cast<int>(CENTRE - std::cos(radians(a - 180)) * r),
                static_cast<int>(std::sin(radians(a - 180)) * r + CENTRE)};
    return {static_cast<int>(std::cos(radians(360 - a)) * r + CENTRE),
            static_cast<int>(std::sin(radians(360 - a)) * r + CENTRE)};
}

// A point inside the slice from which its fill spreads: the point above the
// centre for a slice wider than a quarter, else one on the slice's bisector.
// Just above a quarter the slice's own radius runs through the point above
// the centre, and a fill begun on the outline paints nothing; the fill then
// begins on the bisector, as far out, which lies well inside such a slice.
point fill_seed(gdImagePtr pie, double a, int outline) {
    if (a <= 90)
        return {CENTRE + SEED_DISTANCE, static_cast<int>(CENTRE - std::tan(radians(a / 2)) * SEED_DISTANCE)};
    point above = {CENTRE, CENTRE - SEED_DISTANCE};
    if (gdImageGetPixel(pie, above.x, above.y) != outline) return above;
    return {static_cast<int>(CENTRE + std::cos(radians(a / 2)) * SEED_DISTANCE),
            static_cast<int>(CENTRE - std::sin(radians(a / 2)) * SEED_DISTANCE)};
}

void draw_radii(gdImagePtr pie, point end, int colour) {
    gdImageLine(pie, CENTRE, CENTRE, CENTRE + DIAMETER / 2, CENTRE, colour);
    gdImageLine(pie, CENTRE, CENTRE, end.x, end.y, colour);
}

// The blue disc with its yellow slice, top left at the origin of its image;
// the slice's arc begins lead degrees before the slice does.
gdImagePtr draw_pie(double a, int lead) {
    gdImagePtr pie = gdImageCreate(HEIGHT + SHADOW / 2, WIDTH + SHADOW / 2);
    if (!pie) return nullptr;
    gdImageColorAllocate(pie, 192, 192, 192);
    int yellow = gdImageColorAllocate(pie, 255, 255, 0);
    int blue = gdImageColorAllocate(pie, 0, 0, 255);
    gdImageArc(pie, CENTRE, CENTRE, DIAMETER, DIAMETER, 0, 360, blue);
    gdImageFillToBorder(pie, CENTRE, CENTRE, blue, blue);
    point end = slice_end(a);
    draw_radii(pie, end, yellow);
    // gd counts its angles clockwise.
    gdImageArc(pie, CENTRE, CENTRE, DIAMETER, DIAMETER, static_cast<int>(360 - a) - lead, 360, yellow);
    point seed = fill_seed(pie, a, yellow);
    gdImageFillToBorder(pie, seed.x, seed.y, yellow, yellow);
    if (a > 0 && a <= 90) draw_radii(pie, end, yellow);
    else if (a > 270 && a <= 360) draw_radii(pie, end, blue);
    return pie;
}

// The slice's radius is cut off where the arc is rounded the other way, and at
// a few angles (25 degrees among them) a pixel gap opens between the two: the
// fill then runs out of the slice and paints the whole picture. Such a pie is
// drawn again with the arc begun a degree earlier, which closes the gap.
gdImagePtr draw_closed_pie(double a) {
    constexpr int MOST_LEAD = 3;
    for (int lead = 0;; ++lead) {
        gdImagePtr pie = draw_pie(a, lead);
        // The corner lies outside the disc: yellow there means the fill escaped.
        if (!pie || lead == MOST_LEAD || gdImageGetPixel(pie, 0, 0) == GREY) return pie;
        gdImageDestroy(pie);
    }
}

}  // namespace

void kvx_draw_usage_chart() {
    int used = 0, total = 0;
    read_chart_query(bk_store_get("QUERY_STRING"), &used, &total);
    double a = slice_angle(used, total);

    gdImagePtr picture = gdImageCreate(PICTURE_SIZE, PICTURE_SIZE);
    gdImagePtr pie = draw_closed_pie(a);
    if (picture && pie) {
        int grey = gdImageColorAllocate(picture, 192, 192, 192);
        gdImageRectangle(picture, 0, 0, PICTURE_SIZE, PICTURE_SIZE, grey);
        gdImageCopy(picture, pie, SHADOW, SHADOW, 0, 0, WIDTH, HEIGHT);
        int background = gdImageColorExact(picture, 192, 192, 192);
        if (background != -1) gdImageColorTransparent(picture, background);
        gdImageGif(picture, stdout);
    }
    if (pie) gdImageDestroy(pie);
    if (picture) gdImageDestroy(picture);
}
