// The request decoder with a cookie: the first line is the query, the rest the
// cookie header; then the credentials (hex and password decode) and the server.
#include <cstdlib>

#include "fuzz_input.h"
#include "support/test_context.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    silence_page();
    auto [query, cookie] = split_input(data, size);
    setenv("QUERY_STRING", query.c_str(), 1);
    setenv("HTTP_COOKIE", cookie.c_str(), 1);
    setenv("REMOTE_ADDR", "127.0.0.1", 1);
    test_context context;
    char name[] = "kvx";
    char* argv[] = {name};
    kvg_var* list = kvg_decode_request(context, 1, argv);
    if (!list) return 0;
    kvg_credentials credentials{};
    kvg_get_credentials(&credentials, context, list);
    kvg_server server{};
    kvg_get_server(context, &server, list);
    const char* values[4];
    kvg_get_values("KVCUSER", list, values, 4, context);
    return 0;
}
