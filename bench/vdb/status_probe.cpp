// What every tool page does first: open the instance, connect, and tell the
// status (3123 up, 3124 down, 1031 undetermined) from the connect's code.
#include "platform/esqlrt.h"

int main(int argc, char** argv) {
    if (argc < 3) return 2;
    int code = esql_connect(argv[1], argv[2]);
    int status = code == 0 || code == -1017 ? 3123 : code == -1034 ? 3124 : 1031;
    return status == 3123 ? 0 : 1;
}
