#include "vdb/locked_file.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "vdb/errors.h"

namespace vdb {

LockedFile::LockedFile(const std::string& path, int lock, int flags, unsigned mode) : path_(path) {
    fd_ = open(path.c_str(), flags | O_CLOEXEC, mode);
    if (fd_ < 0) {
        open_error_ = errno;
        return;
    }
    while (flock(fd_, lock) != 0)
        if (errno != EINTR) {
            int error = errno;
            close(fd_);
            fd_ = -1;
            fail(code::io_failure, path + ": " + std::strerror(error));
        }
}

LockedFile::~LockedFile() {
    if (fd_ >= 0) close(fd_);
}

long long LockedFile::size() const {
    struct stat st{};
    return fstat(fd_, &st) == 0 ? static_cast<long long>(st.st_size) : 0;
}

std::string LockedFile::read_all() const {
    std::string text;
    char buffer[4096];
    ssize_t n;
    off_t offset = 0;
    while ((n = pread(fd_, buffer, sizeof buffer, offset)) > 0) {
        text.append(buffer, static_cast<size_t>(n));
        offset += n;
    }
    return text;
}

void LockedFile::replace(std::string_view text) const {
    if (ftruncate(fd_, 0) != 0 || pwrite(fd_, text.data(), text.size(), 0) != static_cast<ssize_t>(text.size()))
        fail(code::io_failure, path_ + ": " + std::strerror(errno));
}

void LockedFile::append(std::string_view text) const {
    off_t end = lseek(fd_, 0, SEEK_END);
    if (end < 0 || pwrite(fd_, text.data(), text.size(), end) != static_cast<ssize_t>(text.size()))
        fail(code::io_failure, path_ + ": " + std::strerror(errno));
}

}  // namespace vdb
