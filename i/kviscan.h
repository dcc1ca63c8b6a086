// What an export file holds, read from the file itself: its tables, the owner
// of each, and the users it connects as.
#pragma once

#include <string>
#include <vector>

// Every collection is in the reverse order of the file (the last table found
// comes first): index i is what the form field T<i> or U<i> carries.
struct kvi_scan_result {
    std::vector<std::string> tables;
    std::vector<std::string> owners;  // owners[i] owns tables[i]
    std::vector<std::string> users;   // the exporting user and every accepted CONNECT user, once each
};

// Scans the export file at path. 0, or 1011 when the file cannot be read or
// holds fewer than two lines. Names and collections are held whole, however
// long or many.
int kvi_scan_file(const char* path, kvi_scan_result* result);
