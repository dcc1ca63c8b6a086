// The import tool's scan of an export file.
#include "fuzz_input.h"
#include "i/kviscan.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    kvi_scan_result result;
    if (kvi_scan_file(input_file(data, size).c_str(), &result) == 0 && result.tables.size() != result.owners.size())
        __builtin_trap();  // a table without its owner
    return 0;
}
