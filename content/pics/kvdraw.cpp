// Draws every picture that the tool pages address by name (status lights,
// banners, tool bar maps, buttons, legend squares, the import/export switch)
// as GIF files into one directory. The installation runs it, so the repository
// holds no binary pictures.
//
//   kvdraw DIRECTORY
#include <gd.h>
#include <gdfontg.h>
#include <gdfontmb.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace {

namespace fs = std::filesystem;

struct Rgb {
    int r, g, b;
};

// The page background of every tool. Pictures with a transparent background use
// it as their first colour, so their edges blend into the page in any browser.
constexpr Rgb PAGE{184, 184, 200};
constexpr Rgb INK{32, 40, 72};
constexpr Rgb WHITE{248, 248, 252};
constexpr Rgb PLATE{216, 216, 228};
constexpr Rgb PLATE_LIGHT{244, 244, 250};
constexpr Rgb PLATE_SHADOW{112, 112, 136};
constexpr Rgb CURRENT{40, 56, 112};
constexpr Rgb CURRENT_LIGHT{88, 104, 160};
constexpr Rgb CURRENT_SHADOW{16, 24, 56};

// The usage chart of the tablespace tool paints free space in this blue and
// used space in this yellow; the legend squares must match it exactly.
constexpr Rgb CHART_BLUE{0, 0, 255};
constexpr Rgb CHART_YELLOW{255, 255, 0};

using Image = std::unique_ptr<gdImage, decltype(&gdImageDestroy)>;

Image new_image(int width, int height, Rgb background) {
    Image image(gdImageCreate(width, height), &gdImageDestroy);
    if (!image) throw std::runtime_error("out of memory for a picture");
    gdImageColorAllocate(image.get(), background.r, background.g, background.b);
    return image;
}

Image new_transparent_image(int width, int height) {
    Image image = new_image(width, height, PAGE);
    gdImageColorTransparent(image.get(), 0);
    return image;
}

int colour(gdImagePtr image, Rgb c) { return gdImageColorResolve(image, c.r, c.g, c.b); }

Rgb mix(Rgb from, Rgb to, int step, int steps) {
    auto blend = [&](int a, int b) { return a + (b - a) * step / steps; };
    return {blend(from.r, to.r), blend(from.g, to.g), blend(from.b, to.b)};
}

struct Box {
    int left, top, right, bottom;
    int width() const { return right - left + 1; }
    int height() const { return bottom - top + 1; }
};

// ---------------------------------------------------------------------------
// Text
// ---------------------------------------------------------------------------

int text_width(gdFontPtr font, std::string_view text) { return static_cast<int>(text.size()) * font->w; }

void draw_text(gdImagePtr image, gdFontPtr font, int x, int y, std::string_view text, Rgb ink) {
    std::string copy(text);
    gdImageString(image, font, x, y, reinterpret_cast<unsigned char*>(copy.data()), colour(image, ink));
}

// Lines of text centred in a box, one under the other.
void draw_centred_lines(gdImagePtr image, gdFontPtr font, Box box, const std::vector<std::string>& lines,
                        Rgb ink) {
    const int block = static_cast<int>(lines.size()) * font->h;
    int y = box.top + (box.height() - block) / 2;
    for (const std::string& line : lines) {
        draw_text(image, font, box.left + (box.width() - text_width(font, line) + 1) / 2, y, line, ink);
        y += font->h;
    }
}

// gd's largest built-in font at twice its size: crisp at banner size, and it
// needs no font files on the installing machine.
void draw_large_text(gdImagePtr image, int x, int y, std::string_view text, Rgb ink) {
    gdFontPtr font = gdFontGetGiant();
    Image scratch = new_image(text_width(font, text), font->h, {0, 0, 0});
    draw_text(scratch.get(), font, 0, 0, text, {255, 255, 255});
    const int pen = colour(image, ink);
    for (int sy = 0; sy < font->h; ++sy)
        for (int sx = 0; sx < gdImageSX(scratch.get()); ++sx)
            if (gdImageGetPixel(scratch.get(), sx, sy) != 0)
                gdImageFilledRectangle(image, x + 2 * sx, y + 2 * sy, x + 2 * sx + 1, y + 2 * sy + 1, pen);
}

int large_text_width(std::string_view text) { return 2 * text_width(gdFontGetGiant(), text); }
int large_text_height() { return 2 * gdFontGetGiant()->h; }

// ---------------------------------------------------------------------------
// Buttons and maps
// ---------------------------------------------------------------------------

// A raised plate; the current tool's plate is dark and sunken so that it
// stands out from its neighbours.
void draw_plate(gdImagePtr image, Box box, bool current) {
    const Rgb fill = current ? CURRENT : PLATE;
    const Rgb light = current ? CURRENT_SHADOW : PLATE_LIGHT;
    const Rgb shadow = current ? CURRENT_LIGHT : PLATE_SHADOW;
    gdImageFilledRectangle(image, box.left, box.top, box.right, box.bottom, colour(image, fill));
    gdImageLine(image, box.left, box.top, box.right, box.top, colour(image, light));
    gdImageLine(image, box.left, box.top, box.left, box.bottom, colour(image, light));
    gdImageLine(image, box.left, box.bottom, box.right, box.bottom, colour(image, shadow));
    gdImageLine(image, box.right, box.top, box.right, box.bottom, colour(image, shadow));
}

void draw_button(gdImagePtr image, Box box, const std::vector<std::string>& label, bool current) {
    draw_plate(image, box, current);
    draw_centred_lines(image, gdFontGetMediumBold(), box, label, current ? WHITE : INK);
}

// One clickable area of a map picture: its x range (inclusive, as the map
// writes it), the tool it leads to, and its label.
struct Area {
    int left, right;
    std::string_view tool;
    std::vector<std::string> label;
};

// The six areas of the tool bar while the instance is up.
const std::vector<Area>& tool_areas() {
    static const std::vector<Area> areas{
        {0, 80, "kvd", {"Database", "Control"}},   {81, 154, "kvu", {"Security", "Manager"}},
        {155, 234, "kve", {"Export", "Import"}},    {235, 308, "kvs", {"Session", "Manager"}},
        {309, 388, "kvx", {"Tablespace", "Manager"}}, {389, 464, "kvb", {"Backup"}},
    };
    return areas;
}

// The two tools that stay reachable while the instance is down.
const std::vector<Area>& down_areas() {
    static const std::vector<Area> areas{{0, 80, "kvd", {"Database", "Control"}}, {81, 155, "kvb", {"Backup"}}};
    return areas;
}

Image draw_map(const std::vector<Area>& areas, int height, std::string_view current) {
    Image image = new_transparent_image(areas.back().right + 1, height);
    for (const Area& area : areas)
        draw_button(image.get(), {area.left, 0, area.right, height - 1}, area.label, area.tool == current);
    return image;
}

// The tool bar map of one tool. Recovery shares its help with backup, so its
// tag marks the backup area; the launcher has no area of its own.
Image draw_tool_tag(std::string_view tool) {
    return draw_map(tool_areas(), 32, tool == "kvr" ? "kvb" : tool);
}

// The switch between import (left) and export (right) on both tools' pages.
Image draw_switch(std::string_view current) {
    static const std::vector<Area> areas{{0, 85, "kvi", {"Import"}}, {86, 165, "kve", {"Export"}}};
    return draw_map(areas, 21, current);
}

Image draw_login_button() {
    Image image = new_transparent_image(80, 32);
    draw_button(image.get(), {0, 0, 79, 31}, {"Login"}, false);
    return image;
}

// A plate with a round question mark and the word Help; it also follows every
// error block as the link to the error help.
Image draw_help_button() {
    Image image = new_transparent_image(80, 32);
    gdImagePtr im = image.get();
    draw_plate(im, {0, 0, 79, 31}, false);
    gdImageFilledEllipse(im, 17, 15, 21, 21, colour(im, CURRENT));
    draw_centred_lines(im, gdFontGetMediumBold(), {7, 5, 27, 25}, {"?"}, WHITE);
    draw_centred_lines(im, gdFontGetMediumBold(), {30, 0, 76, 31}, {"Help"}, INK);
    return image;
}

// ---------------------------------------------------------------------------
// Lights, banners, legend
// ---------------------------------------------------------------------------

// A round lamp in a dark bezel, shaded from its rim to a bright spot at the
// upper left; the middle of the lamp keeps the plain lamp colour.
Image draw_light(Rgb lamp) {
    Image image = new_transparent_image(32, 32);
    gdImagePtr im = image.get();
    gdImageFilledEllipse(im, 16, 16, 31, 31, colour(im, {72, 72, 88}));
    const Rgb rim{lamp.r / 2, lamp.g / 2, lamp.b / 2};
    constexpr int steps = 6;
    for (int step = 0; step < steps; ++step) {
        const int size = 26 - 2 * step;
        gdImageFilledEllipse(im, 16, 16, size, size, colour(im, mix(rim, lamp, step + 1, steps)));
    }
    gdImageFilledEllipse(im, 11, 10, 7, 5, colour(im, mix(lamp, WHITE, 3, 4)));
    return image;
}

// The tool's title on a dark plate with rounded corners, shaded from top to bottom.
Image draw_banner(std::string_view title) {
    constexpr int width = 400, height = 40, radius = 6;
    Image image = new_transparent_image(width, height);
    gdImagePtr im = image.get();
    const Rgb top{84, 100, 150}, bottom{36, 44, 88};
    for (int y = 0; y < height; ++y) {
        const int inset = y < radius ? radius - y : (y >= height - radius ? y - (height - radius - 1) : 0);
        const int edge = inset ? inset * inset / radius : 0;
        gdImageLine(im, edge, y, width - 1 - edge, y, colour(im, mix(top, bottom, y, height - 1)));
    }
    const int x = (width - large_text_width(title)) / 2;
    const int y = (height - large_text_height()) / 2 - 1;
    draw_large_text(im, x + 2, y + 2, title, {16, 20, 44});
    draw_large_text(im, x, y, title, WHITE);
    return image;
}

// A legend square of the usage table in the chart's own colour.
Image draw_legend(Rgb fill) {
    Image image = new_image(12, 12, fill);
    gdImageRectangle(image.get(), 0, 0, 11, 11, colour(image.get(), {fill.r / 2, fill.g / 2, fill.b / 2}));
    return image;
}

// ---------------------------------------------------------------------------
// The pictures of an installation
// ---------------------------------------------------------------------------

struct Picture {
    std::string name;
    std::function<Image()> draw;
};

struct Tool {
    std::string_view code, title;
};

// Tool codes with the titles their pages carry.
constexpr Tool TOOLS[] = {
    {"kvd", "Database Control"}, {"kvs", "Session Manager"},    {"kvu", "Security Manager"},
    {"kvx", "Tablespace Manager"}, {"kvla", "Vantor Tools Login"}, {"kve", "Export and Import"},
    {"kvb", "Backup"},           {"kvr", "Recovery"},
};

std::vector<Picture> pictures() {
    std::vector<Picture> all{
        {"kvsgreenlight.gif", [] { return draw_light({40, 200, 64}); }},
        {"kvsredlight.gif", [] { return draw_light({224, 40, 32}); }},
        {"kvsyellowlight.gif", [] { return draw_light({240, 208, 32}); }},
        {"kvnotuptag.gif", [] { return draw_map(down_areas(), 32, ""); }},
        {"logintag.gif", draw_login_button},
        {"helptag.gif", draw_help_button},
        {"blue.gif", [] { return draw_legend(CHART_BLUE); }},
        {"yellow.gif", [] { return draw_legend(CHART_YELLOW); }},
        {"kve.gif", [] { return draw_switch("kve"); }},
        {"kvi.gif", [] { return draw_switch("kvi"); }},
    };
    for (const Tool& tool : TOOLS) {
        const std::string code(tool.code);
        all.push_back({code + "banner.gif", [tool] { return draw_banner(tool.title); }});
        all.push_back({code + "tag.gif", [tool] { return draw_tool_tag(tool.code); }});
    }
    return all;
}

void write_gif(gdImagePtr image, const fs::path& path) {
    int size = 0;
    std::unique_ptr<void, decltype(&gdFree)> bytes(gdImageGifPtr(image, &size), &gdFree);
    if (!bytes) throw std::runtime_error("cannot encode " + path.string());
    std::unique_ptr<FILE, decltype(&std::fclose)> file(std::fopen(path.c_str(), "wb"), &std::fclose);
    bool written = file && std::fwrite(bytes.get(), 1, static_cast<size_t>(size), file.get()) == size_t(size);
    if (file) written = std::fclose(file.release()) == 0 && written;
    if (!written) throw std::runtime_error("cannot write " + path.string() + ": " + std::strerror(errno));
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: kvdraw DIRECTORY\n");
        return 2;
    }
    const fs::path directory(argv[1]);
    std::error_code error;
    if (!fs::is_directory(directory, error)) {
        std::fprintf(stderr, "kvdraw: %s is not a directory\n", argv[1]);
        return 1;
    }
    try {
        for (const Picture& picture : pictures()) {
            Image image = picture.draw();
            write_gif(image.get(), directory / picture.name);
        }
    } catch (const std::exception& failure) {
        std::fprintf(stderr, "kvdraw: %s\n", failure.what());
        return 1;
    }
    return 0;
}
