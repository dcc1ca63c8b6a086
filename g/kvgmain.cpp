// The entry code that every program of the tool set runs.
#include <cstdio>
#include <cstring>
#include <string>

#include "g/kvg.h"

namespace {

// The part of argv[0] after its last "\" or "/", without its extension, in
// lower case.
std::string program_name(const char* argv0) {
    std::string name = argv0;
    size_t separator = name.find_last_of("\\/");
    if (separator != std::string::npos) name.erase(0, separator + 1);
    size_t dot = name.rfind('.');
    if (dot != std::string::npos) name.erase(dot);
    for (char& c : name)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return name;
}

}  // namespace

int kvg_main(const char* image_name, const bk_program_entry* table, int argc, char** argv) {
    bk_host* host = bk_register(image_name, table);
    std::string name = program_name(argc > 0 && argv[0] ? argv[0] : "");
    if (lk_equal_nocase(LK_UTF8, name.c_str(), bk_image_name(host))) {
        if (argc <= 1) {
            std::fputs("No program specified\n", stdout);
            bk_out_flush();
            return 4;
        }
        --argc;
        ++argv;
    } else {
        argv[0] = name.data();
    }

    int result;
    try {
        result = bk_dispatch(host, argc, argv);
    } catch (const bk_end_signal&) {
        result = -1;
    }
    bk_out_flush();
    if (result == 0) return 0;
    if (result == -1) return 3;
    std::printf("Unable to run program %s\n", name.c_str());
    bk_out_flush();
    return 4;
}
