// Operating-system services the tools need beyond plain C++: raw page output,
// files and directories, child processes with a pipe, disk space.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>
#include <vector>

// Writes text straight to the standard output handle, past any buffer.
void os_write_raw(const char* text);
// false when the page can no longer be written (the client went away).
bool os_write_raw(const char* bytes, size_t length);
unsigned os_process_id();
// A client that goes away mid-page ends the writes, not the process: the
// process still cleans up behind itself.
void os_ignore_broken_pipe();

// ---- files and directories ----------------------------------------------

bool os_exists(const char* path);
bool os_is_directory(const char* path);
// Whether path names a regular file itself, not a link or anything else.
bool os_is_regular_file(const char* path);
// The path with every link, "." and ".." resolved; "" when it does not exist.
std::string os_real_path(const char* path);
// The home of the installation the running program belongs to: the program
// is HOME/kv/bin/NAME, links resolved. "" when it does not lie so.
std::string os_installation_home();
// Creates a directory (mode 0755) unless something of that name exists.
// 0, or the errno of the failure.
int os_make_directory(const char* path);
// Creates a new file that must not exist yet, readable and writable by its
// owner only, and closes it. 0, or the errno of the failure.
int os_create_new_file(const char* path);
// Makes a file readable by its owner only (mode 0400). 0 or errno.
int os_protect_file(const char* path);
// 0, or errno (ENOENT when there was nothing to remove).
int os_remove_file(const char* path);
// Opens a regular file for reading without ever blocking on it or
// following a link at its last component: a pipe, a device or a link gives
// none, like a file that cannot be opened.
std::FILE* os_open_regular_file(const char* path);
// The names of the regular files of a directory (no links, directories,
// pipes or devices), sorted. false when the directory cannot be read.
bool os_list_files(const char* directory, std::vector<std::string>* names);
int os_change_directory(const char* path);

// Kilobytes free for an unprivileged writer on the file system of path. false
// when the path cannot be asked.
bool os_free_kilobytes(const char* path, long long* kilobytes);

// ---- child processes ---------------------------------------------------------

// A utility started with its standard error on a pipe: the tool reads what
// the utility writes there from read_fd until the utility closes it.
struct os_child {
    int pid = -1;
    int read_fd = -1;
};

// The stage at which starting a child failed, 0 when it runs.
enum os_spawn_stage {
    OS_SPAWN_STARTED = 0,
    OS_SPAWN_PIPE = 1,
    OS_SPAWN_ACTIONS = 2,
    OS_SPAWN_PROCESS = 5,
};

// Starts program with argv (no shell), standard output shared with the tool,
// standard error on a new pipe, working directory directory, the tool's own
// environment. Returns the stage, OS_SPAWN_STARTED when it runs.
os_spawn_stage os_spawn_with_error_pipe(const char* program, const std::vector<std::string>& argv,
                                        const char* directory, os_child* child);
// Reads up to size bytes of the child's error output; 0 at its end, -1 on failure.
long os_read_pipe(os_child* child, char* buffer, size_t size);
// Closes the tool's end of the pipe. 0 or errno.
int os_close_pipe(os_child* child);
// Collects the child once it has ended, so that no process is left behind;
// does not wait for a child that goes on running.
void os_reap_child(os_child* child);
// Waits for the child to end: its exit status, 128 + the signal that ended
// it, or -1 when it cannot be collected.
int os_wait_child(os_child* child);
