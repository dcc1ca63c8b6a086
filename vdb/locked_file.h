// A small file that parallel processes read and change under flock: the state
// file, the record of refused logons.
#pragma once

#include <string>
#include <string_view>

namespace vdb {

// The file at path, open (flags and mode as open(2) takes them) and locked
// (LOCK_SH or LOCK_EX) for the life of this object. A file that cannot be
// opened leaves is_open() false; a lock that cannot be taken fails with -1114.
class LockedFile {
public:
    LockedFile(const std::string& path, int lock, int flags, unsigned mode = 0600);
    ~LockedFile();
    LockedFile(const LockedFile&) = delete;
    LockedFile& operator=(const LockedFile&) = delete;

    bool is_open() const { return fd_ >= 0; }
    // errno of a failed open.
    int open_error() const { return open_error_; }
    // 0 for an empty file, without reading it.
    long long size() const;
    std::string read_all() const;
    // The whole file becomes text.
    void replace(std::string_view text) const;
    // text after the end, in one write.
    void append(std::string_view text) const;

private:
    std::string path_;
    int fd_ = -1;
    int open_error_ = 0;
};

}  // namespace vdb
