// Checks the installation content that the pages address by fixed names: the
// pictures that kvdraw draws at install time (names, sizes that the image maps
// depend on, colours that carry meaning), the anchors of the error help that
// error blocks link to, and the links between the help pages.
#include <gd.h>
#include <gtest/gtest.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "vdb/errors.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;

struct Outcome {
    int exit_code;
    std::string error_output;
};

// Runs an installation program with the given arguments, its standard error in a file.
Outcome run_program(const char* program, const std::vector<std::string>& args, const fs::path& scratch) {
    const fs::path error_file = scratch / "program.err";
    std::vector<std::string> words{program};
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 2, error_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) return {-1, std::string("cannot start ") + program};
    int status = 0;
    waitpid(pid, &status, 0);
    std::ifstream in(error_file);
    std::stringstream text;
    text << in.rdbuf();
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, text.str()};
}

Outcome run_kvdraw(const std::vector<std::string>& args, const fs::path& scratch) {
    return run_program(KV_DRAW, args, scratch);
}

using Image = std::unique_ptr<gdImage, decltype(&gdImageDestroy)>;

Image load_gif(const fs::path& path) {
    std::unique_ptr<FILE, decltype(&std::fclose)> file(std::fopen(path.c_str(), "rb"), &std::fclose);
    return Image(file ? gdImageCreateFromGif(file.get()) : nullptr, &gdImageDestroy);
}

struct Rgb {
    int r, g, b;
    bool operator==(const Rgb&) const = default;
};

Rgb pixel_colour(gdImagePtr image, int x, int y) {
    const int index = gdImageGetPixel(image, x, y);
    return {gdImageRed(image, index), gdImageGreen(image, index), gdImageBlue(image, index)};
}

// The colour most pixels of a column range have: the plate of a map area,
// whatever its label.
int dominant_colour(gdImagePtr image, int left, int right) {
    std::map<int, int> counts;
    for (int x = left; x <= right; ++x)
        for (int y = 0; y < gdImageSY(image); ++y) ++counts[gdImageGetPixel(image, x, y)];
    return std::max_element(counts.begin(), counts.end(),
                            [](const auto& a, const auto& b) { return a.second < b.second; })
        ->first;
}

class Pictures : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        char pattern[] = "/tmp/kvdraw-test-XXXXXX";
        directory = mkdtemp(pattern);
        drawn = run_kvdraw({directory.string()}, directory);
    }
    static void TearDownTestSuite() { fs::remove_all(directory); }

    static Image picture(const std::string& name) { return load_gif(directory / name); }

    static inline fs::path directory;
    static inline Outcome drawn;
};

TEST_F(Pictures, EveryAddressedPictureIsAGifOfTheSizeItsMapNeeds) {
    ASSERT_EQ(drawn.exit_code, 0) << drawn.error_output;
    struct Case {
        std::string name;
        int width, height;  // 0: the pages fix no size
    };
    std::vector<Case> cases{
        {"kvsgreenlight.gif", 0, 0}, {"kvsredlight.gif", 0, 0}, {"kvsyellowlight.gif", 0, 0},
        {"kvnotuptag.gif", 156, 32}, {"logintag.gif", 0, 0},    {"helptag.gif", 0, 0},
        {"blue.gif", 0, 0},          {"yellow.gif", 0, 0},      {"kve.gif", 166, 21},
        {"kvi.gif", 166, 21},
    };
    for (const char* tool : {"kvd", "kvs", "kvu", "kvx", "kvla", "kve", "kvb", "kvr"}) {
        cases.push_back({std::string(tool) + "banner.gif", 0, 0});
        cases.push_back({std::string(tool) + "tag.gif", 465, 32});
    }
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Image image = picture(c.name);
        ASSERT_TRUE(image) << "missing or not a GIF";
        if (c.width == 0) continue;
        EXPECT_EQ(gdImageSX(image.get()), c.width);
        EXPECT_EQ(gdImageSY(image.get()), c.height);
    }
}

TEST_F(Pictures, StatusLightsShowTheirColourOnATransparentBackground) {
    struct Case {
        std::string name;
        bool red, green;  // the channels that must outweigh blue and the other one
    };
    const Case cases[] = {
        {"kvsgreenlight.gif", false, true}, {"kvsredlight.gif", true, false}, {"kvsyellowlight.gif", true, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Image image = picture(c.name);
        ASSERT_TRUE(image);
        gdImagePtr im = image.get();
        const Rgb centre = pixel_colour(im, gdImageSX(im) / 2, gdImageSY(im) / 2);
        const int strong = 100;
        EXPECT_EQ(centre.r - centre.b > strong, c.red) << centre.r << "," << centre.g << "," << centre.b;
        EXPECT_EQ(centre.g - centre.b > strong, c.green) << centre.r << "," << centre.g << "," << centre.b;
        if (c.red != c.green) {
            EXPECT_GT(std::abs(centre.r - centre.g), strong);
        }
        EXPECT_NE(gdImageGetTransparent(im), -1);
        EXPECT_EQ(gdImageGetPixel(im, 0, 0), gdImageGetTransparent(im));
    }
}

TEST_F(Pictures, LegendSquaresHaveTheColoursOfTheUsageChart) {
    const std::pair<std::string, Rgb> cases[] = {{"blue.gif", {0, 0, 255}}, {"yellow.gif", {255, 255, 0}}};
    for (const auto& [name, chart] : cases) {
        Image image = picture(name);
        ASSERT_TRUE(image) << name;
        EXPECT_EQ(pixel_colour(image.get(), gdImageSX(image.get()) / 2, gdImageSY(image.get()) / 2), chart) << name;
    }
}

// Only the area of the page's own tool stands out; every other area looks alike.
TEST_F(Pictures, MapPicturesMarkOnlyTheirOwnToolsArea) {
    using Ranges = std::vector<std::pair<int, int>>;
    const Ranges tools{{0, 80}, {81, 154}, {155, 234}, {235, 308}, {309, 388}, {389, 464}};
    const Ranges down{{0, 80}, {81, 155}};
    const Ranges switch_areas{{0, 85}, {86, 165}};
    struct Case {
        std::string name;
        const Ranges& areas;
        int marked;  // index of the highlighted area, -1 for none
    };
    const Case cases[] = {
        {"kvdtag.gif", tools, 0},      {"kvutag.gif", tools, 1},     {"kvetag.gif", tools, 2},
        {"kvstag.gif", tools, 3},      {"kvxtag.gif", tools, 4},     {"kvbtag.gif", tools, 5},
        {"kvrtag.gif", tools, 5},      {"kvlatag.gif", tools, -1},   {"kvnotuptag.gif", down, -1},
        {"kvi.gif", switch_areas, 0},  {"kve.gif", switch_areas, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Image image = picture(c.name);
        ASSERT_TRUE(image);
        std::vector<int> plates;
        for (const auto& [left, right] : c.areas) plates.push_back(dominant_colour(image.get(), left, right));
        const int plain = plates[c.marked == 0 ? 1 : 0];
        for (int i = 0; i < static_cast<int>(plates.size()); ++i) {
            if (i == c.marked) {
                EXPECT_NE(plates[i], plain) << "area " << i << " is not highlighted";
            } else {
                EXPECT_EQ(plates[i], plain) << "area " << i << " stands out";
            }
        }
    }
}

TEST(Kvdraw, RefusesBadArgumentsWithAMessage) {
    const fs::path scratch = fs::temp_directory_path();
    const std::string missing = (scratch / "kvdraw-no-such-directory").string();
    struct Case {
        std::vector<std::string> args;
        int exit_code;
        std::string message;
    };
    const Case cases[] = {{{}, 2, "usage"}, {{missing}, 1, missing}, {{"a", "b"}, 2, "usage"}};
    for (const Case& c : cases) {
        const Outcome run = run_kvdraw(c.args, scratch);
        EXPECT_EQ(run.exit_code, c.exit_code);
        EXPECT_NE(run.error_output.find(c.message), std::string::npos) << run.error_output;
    }
    EXPECT_FALSE(fs::exists(missing));
}

std::string read_file(const fs::path& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// The quoted values that follow each occurrence of opening, such as the names
// of <a name="..."> anchors.
std::vector<std::string> quoted_after(const std::string& page, const std::string& opening) {
    std::vector<std::string> values;
    for (size_t at = page.find(opening); at != std::string::npos; at = page.find(opening, at + 1)) {
        const size_t start = at + opening.size();
        values.push_back(page.substr(start, page.find('"', start) - start));
    }
    return values;
}

std::map<std::string, int> anchors_of(const std::string& page) {
    std::map<std::string, int> counts;
    for (const std::string& name : quoted_after(page, "<a name=\"")) ++counts[name];
    return counts;
}

// The error help as the installation writes it from its template, with the
// entries of the engine's codes.
std::string installed_error_help() {
    const fs::path scratch = fs::temp_directory_path() / ("kv-errdoc-" + std::to_string(getpid()));
    fs::create_directories(scratch);
    Outcome written = run_program(KV_ERRDOC, {(fs::path(KV_DOC_DIR) / "error.htm").string(), (scratch / "error.htm").string()}, scratch);
    EXPECT_EQ(written.exit_code, 0) << written.error_output;
    std::string page = read_file(scratch / "error.htm");
    fs::remove_all(scratch);
    return page;
}

// The anchor an error block links to: the identifier up to its first "-" in
// lower case, then the number without its sign.
std::string help_anchor(const std::string& identifier, int number) {
    std::string prefix = identifier.substr(0, identifier.find('-'));
    std::transform(prefix.begin(), prefix.end(), prefix.begin(), [](unsigned char c) { return std::tolower(c); });
    return prefix + std::to_string(std::abs(number));
}

// Every error block that the tools write with the help link, by identifier and
// number, and the database errors that reach such blocks.
TEST(ErrorHelp, HasOneEntryForEveryErrorBlockWithAHelpLink) {
    struct Block {
        const char* identifier;
        int number;
    };
    const std::vector<Block> blocks{
        // Request handling, in every tool.
        {"KVC-OH", 100}, {"KVC-OSID", 101}, {"KVC-CBKP", 1023}, {"KVC-NLOBL", 1024}, {"KVC-MHD", 1026},
        {"KVC-LSF", 1027}, {"KVC-LSF", 1028}, {"KVC-TOOL", 1052}, {"KVC-SNAME", 1013}, {"KVC-DBOH", 1013},
        // Requests that may not change anything.
        {"KVC-POST", 1060}, {"KVC-TOKEN", 1061}, {"KVC-ORIGIN", 1062}, {"KVC-LOGINFORM", 1063},
        // Login, with the database errors a login can meet.
        {"KVLA-ERRP", 1013}, {"KVLA-DBDOWN", 1035}, {"KVLA-NOTDBA", 1042}, {"KVLA-LOGIN", -1017},
        {"KVLA-LOGIN", -1031}, {"KVLA-LOGIN", -1033}, {"KVLA-LOGIN", -1034}, {"KVLA-LOGIN", -12154},
        {"KVLA-LOGIN", -12560}, {"KVLA-LOGIN", -3101}, {"KVLA-LOGIN", -3103},
        // Export.
        {"KVE-FLIST", 1013}, {"KVE-SRVP", 1013}, {"KVE", 1010}, {"KVE", 4055}, {"KVE", 4056}, {"KVE", 4058},
        {"KVE", 5021}, {"KVE", 5022}, {"KVE", 4070}, {"KVE", 4071}, {"KVE", 4072}, {"KVE", 4073},
        {"KVE", 4074}, {"KVE", 4075},
        // The logon of the export and import runs, before anything is written.
        {"KVE-LOGIN", -1017}, {"KVE-LOGIN", -1033}, {"KVE-LOGIN", -1034}, {"KVE-LOGIN", -3101}, {"KVE-LOGIN", -3103},
        {"KVE-LOGIN", -12154}, {"KVE-LOGIN", -12560}, {"KVI-LOGIN", -1017}, {"KVI-LOGIN", -1034}, {"KVI-LOGIN", -12560},
        // Import.
        {"KVI-FLIST", 1013}, {"KVI", 1010}, {"KVI", 1011}, {"KVI", 5021}, {"KVI", 5022}, {"KVI", 5040}, {"KVI", 5041}, {"KVI", 5044}, {"KVI", 5045}, {"KVI", 5046},
        {"KVI", 5047}, {"KVI", 5048},
        // Tablespace Manager: its own checks, then the database errors of its statements.
        {"KVX-TSP", 9031}, {"KVX-SZ", 9025}, {"KVX-INISZ", 9025}, {"KVX-SUMSZ", 9025}, {"KVX-DFL", 9030},
        {"KVX-FSP", 1011}, {"KVX-MAXSZ", 9029}, {"KVX-DFLNAM", 1010}, {"KVX-DFLNAM", 1011}, {"KVX-TSTAT", 1031},
        {"KVX-XPND", 1013}, {"KVX-TSPINF", -1017}, {"KVX-TSPINF", -1033}, {"KVX-TSPINF", -1034},
        {"KVX-TSPINF", -12154}, {"KVX-TSPINF", -12560}, {"KVX-TSPINF", -959}, {"KVX-TSPINF", -54},
        {"KVX-TSPINF", -1114}, {"KVX-TSTAT", -1541}, {"KVX-XPND", -1119}, {"KVX-CREAT", -1543},
        {"KVX-CREAT", -904},
        // Database Control: its refusals, then the database errors of its logon and actions.
        {"KVD-NOTDBA", 3002}, {"KVD-STARTSVC", 3039}, {"KVD-SVCSTOP", 3040}, {"KVD-SHUTNORM", 3041},
        {"KVD-STATE", 3042}, {"KVD-STOPSVC", 3047}, {"KVD-SHUTDOWN", -3110}, {"KVD-LOGIN", -1017}, {"KVD-LOGIN", -12560},
        {"KVD-STARTUP", -1081}, {"KVD-OPEN", -1034}, {"KVD-SHUTDOWN", -1034}, {"KVD-STATUS", -12154},
        // Security Manager: its checks, then the database errors of its statements.
        {"KVU-NOTDBA", 8002}, {"KVU-NAME", 8050}, {"KVU-PASS", 8051}, {"KVU-PASSMATCH", 8052}, {"KVU-PASS", 8053},
        {"KVU-PROTECT", 8054}, {"KVU-SELF", 8055}, {"KVU-OWNDBA", 8056}, {"KVU-DEFTS", 8057}, {"KVU-USER", 8058},
        {"KVU-LOGIN", -1017}, {"KVU-LOGIN", -1034}, {"KVU-CREATE", -1920}, {"KVU-DROP", -3102}, {"KVU-APPLY", -959},
        // Session Manager.
        {"KVS-NOTDBA", 7002}, {"KVS-NONE", 7021}, {"KVS-OWN", 7023}, {"KVS-LOGIN", -1017}, {"KVS-END", -3111},
        {"KVS-SESSIONS", -1031},
        // Backup.
        {"KVB-DEVP", 1013},
    };
    const std::map<std::string, int> anchors = anchors_of(installed_error_help());
    for (const Block& block : blocks) {
        const std::string anchor = help_anchor(block.identifier, block.number);
        const auto found = anchors.find(anchor);
        EXPECT_TRUE(found != anchors.end()) << block.identifier << "-" << std::abs(block.number) << ": no anchor " << anchor;
    }
    for (const auto& [anchor, count] : anchors) EXPECT_EQ(count, 1) << "anchor " << anchor << " is not unique";
}

// Any engine code can reach any tool's error block: each has its entry under
// every tool's prefix.
TEST(ErrorHelp, EveryCodeOfTheEngineHasAnEntryForEveryTool) {
    const std::map<std::string, int> anchors = anchors_of(installed_error_help());
    for (const vdb::CodeText& entry : vdb::all_codes())
        for (const char* prefix : {"kvla", "kve", "kvi", "kvx", "kvb", "kvd", "kvu", "kvs"})
            EXPECT_EQ(anchors.count(prefix + std::to_string(-entry.code)), 1u) << prefix << -entry.code;
}

// Broken links in the help would leave a DBA stranded: every page the tool bar
// names exists, and every link between the documents leads to a file and,
// where it names one, to an anchor of that file.
TEST(HelpPages, ToolBarPagesExistAndEveryLinkResolves) {
    const fs::path docs(KV_DOC_DIR);
    for (const char* page : {"kv.htm", "db.htm", "da.htm", "ta.htm", "br.htm", "ss.htm", "sc.htm"})
        EXPECT_TRUE(fs::is_regular_file(docs / "dtug" / page)) << page;
    for (const auto& entry : fs::recursive_directory_iterator(docs)) {
        if (!entry.is_regular_file()) continue;
        for (const std::string& target : quoted_after(read_file(entry.path()), "<a href=\"")) {
            const size_t hash = target.find('#');
            const std::string file = target.substr(0, hash);
            const fs::path resolved = file.empty() ? entry.path() : entry.path().parent_path() / file;
            SCOPED_TRACE(entry.path().filename().string() + " -> " + target);
            ASSERT_TRUE(fs::is_regular_file(resolved));
            if (hash != std::string::npos) {
                EXPECT_EQ(anchors_of(read_file(resolved)).count(target.substr(hash + 1)), 1u);
            }
        }
    }
}

}  // namespace
