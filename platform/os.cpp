#include "platform/os.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

void os_write_raw(const char* text) { os_write_raw(text, std::strlen(text)); }

bool os_write_raw(const char* bytes, size_t length) {
    while (length > 0) {
        ssize_t n = ::write(1, bytes, length);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        bytes += n;
        length -= static_cast<size_t>(n);
    }
    return true;
}

unsigned os_process_id() { return static_cast<unsigned>(::getpid()); }

void os_ignore_broken_pipe() { std::signal(SIGPIPE, SIG_IGN); }

bool os_exists(const char* path) {
    struct stat st;
    return ::lstat(path, &st) == 0;
}

bool os_is_directory(const char* path) {
    struct stat st;
    return ::stat(path, &st) == 0 && S_ISDIR(st.st_mode);
}

bool os_is_regular_file(const char* path) {
    struct stat st;
    return ::lstat(path, &st) == 0 && S_ISREG(st.st_mode);
}

std::string os_real_path(const char* path) {
    char* resolved = ::realpath(path, nullptr);
    if (!resolved) return "";
    std::string out = resolved;
    std::free(resolved);
    return out;
}

std::string os_installation_home() {
    std::string program = os_real_path("/proc/self/exe");
    static const std::string programs = "/kv/bin/";
    size_t slash = program.rfind('/');
    if (slash == std::string::npos || slash + 1 < programs.size()) return "";
    size_t folder = slash + 1 - programs.size();
    if (program.compare(folder, programs.size(), programs) != 0) return "";
    return folder == 0 ? "/" : program.substr(0, folder);
}

int os_make_directory(const char* path) {
    if (os_exists(path)) return 0;
    return ::mkdir(path, 0755) == 0 || errno == EEXIST ? 0 : errno;
}

int os_create_new_file(const char* path) {
    int fd = ::open(path, O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) return errno;
    return ::close(fd) == 0 ? 0 : errno;
}

int os_protect_file(const char* path) { return ::chmod(path, 0400) == 0 ? 0 : errno; }

int os_remove_file(const char* path) { return ::unlink(path) == 0 ? 0 : errno; }

std::FILE* os_open_regular_file(const char* path) {
    int fd = ::open(path, O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return nullptr;
    struct stat st;
    int flags = ::fcntl(fd, F_GETFL);
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
        ::close(fd);
        return nullptr;
    }
    std::FILE* file = ::fdopen(fd, "r");
    if (!file) ::close(fd);
    return file;
}

bool os_list_files(const char* directory, std::vector<std::string>* names) {
    DIR* dir = ::opendir(directory);
    if (!dir) return false;
    std::string base = directory;
    while (dirent* entry = ::readdir(dir)) {
        std::string path = base + "/" + entry->d_name;
        if (os_is_regular_file(path.c_str())) names->push_back(entry->d_name);
    }
    ::closedir(dir);
    std::sort(names->begin(), names->end());
    return true;
}

int os_change_directory(const char* path) { return ::chdir(path) == 0 ? 0 : errno; }

bool os_free_kilobytes(const char* path, long long* kilobytes) {
    struct statvfs fs;
    if (::statvfs(path, &fs) != 0) return false;
    *kilobytes = static_cast<long long>(fs.f_bavail) * static_cast<long long>(fs.f_frsize) / 1024;
    return true;
}

os_spawn_stage os_spawn_with_error_pipe(const char* program, const std::vector<std::string>& argv,
                                        const char* directory, os_child* child) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) return OS_SPAWN_PIPE;
    posix_spawn_file_actions_t actions;
    if (posix_spawn_file_actions_init(&actions) != 0) {
        ::close(fds[0]);
        ::close(fds[1]);
        return OS_SPAWN_ACTIONS;
    }
    // The child's standard error is the pipe's write end; its working
    // directory is set in the child only, the tool's stays where it is.
    bool prepared = posix_spawn_file_actions_adddup2(&actions, fds[1], 2) == 0 &&
                    (!directory || posix_spawn_file_actions_addchdir_np(&actions, directory) == 0);
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    pid_t pid = -1;
    int spawned = prepared ? posix_spawn(&pid, program, &actions, nullptr, args.data(), environ) : -1;
    posix_spawn_file_actions_destroy(&actions);
    ::close(fds[1]);
    if (!prepared || spawned != 0) {
        ::close(fds[0]);
        return prepared ? OS_SPAWN_PROCESS : OS_SPAWN_ACTIONS;
    }
    child->pid = pid;
    child->read_fd = fds[0];
    return OS_SPAWN_STARTED;
}

long os_read_pipe(os_child* child, char* buffer, size_t size) {
    for (;;) {
        ssize_t n = ::read(child->read_fd, buffer, size);
        if (n >= 0) return n;
        if (errno != EINTR) return -1;
    }
}

int os_close_pipe(os_child* child) {
    int fd = child->read_fd;
    child->read_fd = -1;
    return fd >= 0 && ::close(fd) != 0 ? errno : 0;
}

void os_reap_child(os_child* child) {
    if (child->pid > 0) ::waitpid(child->pid, nullptr, WNOHANG);
}

int os_wait_child(os_child* child) {
    if (child->pid <= 0) return -1;
    int status = 0;
    pid_t done;
    while ((done = ::waitpid(child->pid, &status, 0)) < 0 && errno == EINTR) {
    }
    child->pid = -1;
    if (done < 0) return -1;
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    return WIFSIGNALED(status) ? 128 + WTERMSIG(status) : -1;
}
