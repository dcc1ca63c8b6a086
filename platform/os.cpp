#include "platform/os.h"

#include <cerrno>
#include <cstring>
#include <unistd.h>

void os_write_raw(const char* text) { os_write_raw(text, std::strlen(text)); }

void os_write_raw(const char* bytes, size_t length) {
    while (length > 0) {
        ssize_t n = ::write(1, bytes, length);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        bytes += n;
        length -= static_cast<size_t>(n);
    }
}

unsigned os_process_id() { return static_cast<unsigned>(::getpid()); }
