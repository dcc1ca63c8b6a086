// The usage chart from any query: the used and total fields are read and the
// pie drawn and written as a GIF, as for a picture request.
#include <cstdlib>
#include <string>

#include "fuzz_input.h"
#include "x/kvx.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    silence_page();
    std::string query(reinterpret_cast<const char*>(data), size);
    setenv("QUERY_STRING", query.c_str(), 1);
    kvx_draw_usage_chart();
    return 0;
}
