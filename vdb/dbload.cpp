// dbload PARFILE=file | user/password KEY=VALUE ...: the import utility.
#include "vdb/load.h"

int main(int argc, char** argv) {
    return vdb::run_utility("dbload", argc, argv, vdb::import_parameters, vdb::run_import);
}
