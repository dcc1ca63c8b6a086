// The message catalogue reader, in both character sets.
#include "fuzz_input.h"
#include "platform/langkit.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    for (lk_charset charset : {LK_UTF8, LK_WE8ISO8859P1}) {
        lk_catalog* catalog = lk_catalog_parse(reinterpret_cast<const char*>(data), size, charset);
        if (!catalog) continue;
        char buffer[16];
        lk_catalog_copy(catalog, 1013, buffer, sizeof buffer);
        lk_catalog_text(catalog, 9999);
        lk_catalog_close(catalog);
    }
    return 0;
}
