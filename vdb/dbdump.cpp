// dbdump PARFILE=file | user/password KEY=VALUE ...: the export utility.
#include "vdb/dump.h"

int main(int argc, char** argv) {
    return vdb::run_utility("dbdump", argc, argv, vdb::export_parameters, vdb::run_export);
}
