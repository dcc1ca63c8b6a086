// The utilities' parameter file reader.
#include "fuzz_input.h"
#include "vdb/utility.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string argument = "PARFILE=" + input_file(data, size);
    char program[] = "dbload";
    char* argv[] = {program, argument.data(), nullptr};
    try {
        vdb::UtilityParameters parameters(2, argv, {"FILE", "LOG", "FULL", "TABLES", "FROMUSER", "TOUSER", "ROWS"});
        parameters.list("TABLES");
        parameters.value("FILE", "expdat.dmp");
        parameters.flag("ROWS", true);
    } catch (const vdb::ParameterError&) {
        // A clear refusal is the expected answer to a bad file.
    }
    return 0;
}
