// What the fuzz targets share: the input as text, split in two parts, and a
// scratch file for the readers that take a path.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <unistd.h>

// The input up to its first line feed, and the rest.
inline std::pair<std::string, std::string> split_input(const uint8_t* data, size_t size) {
    std::string all(reinterpret_cast<const char*>(data), size);
    size_t cut = all.find('\n');
    if (cut == std::string::npos) return {all, ""};
    return {all.substr(0, cut), all.substr(cut + 1)};
}

// Writes the input to a file of this process and returns its path.
inline std::string input_file(const uint8_t* data, size_t size) {
    static const std::string path = "/tmp/kvfuzz-" + std::to_string(getpid());
    FILE* f = std::fopen(path.c_str(), "wb");
    if (f) {
        std::fwrite(data, 1, size, f);
        std::fclose(f);
    }
    return path;
}

// The pages the code under test writes go nowhere.
inline void silence_page() {
    static bool done = [] { return std::freopen("/dev/null", "w", stdout) != nullptr; }();
    (void)done;
}
