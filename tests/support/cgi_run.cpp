#include "support/cgi_run.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

std::vector<std::string> environment(const std::map<std::string, std::string>& env) {
    std::vector<std::string> out;
    if (!env.count("PATH")) out.push_back("PATH=/usr/bin:/bin");
    // The programs keep their heap until they exit; that is no leak.
    if (!env.count("ASAN_OPTIONS")) out.push_back("ASAN_OPTIONS=detect_leaks=0");
    for (const auto& [name, value] : env) out.push_back(name + "=" + value);
    return out;
}

std::vector<char*> pointers(std::vector<std::string>& texts) {
    std::vector<char*> out;
    for (std::string& t : texts) out.push_back(t.data());
    out.push_back(nullptr);
    return out;
}

// Feeds body to the child and collects its two outputs until both close.
void exchange(int in, int out, int err, const std::string& body, cgi_result& result) {
    size_t written = 0;
    if (body.empty()) close(in), in = -1;
    while (out >= 0 || err >= 0) {
        pollfd fds[3] = {{out, POLLIN, 0}, {err, POLLIN, 0}, {in, POLLOUT, 0}};
        if (poll(fds, 3, -1) < 0 && errno != EINTR) break;
        char buffer[65536];
        for (int i = 0; i < 2; ++i) {
            if (!(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
            ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
            if (n > 0) (i == 0 ? result.page : result.errors).append(buffer, n);
            else close(fds[i].fd), (i == 0 ? out : err) = -1;
        }
        if (in >= 0 && (fds[2].revents & (POLLOUT | POLLERR | POLLHUP))) {
            ssize_t n = write(in, body.data() + written, body.size() - written);
            if (n > 0) written += n;
            if (n <= 0 || written == body.size()) close(in), in = -1;
        }
    }
    if (in >= 0) close(in);
}

}  // namespace

cgi_result run_cgi(const std::string& program, const std::vector<std::string>& argv,
                   const std::map<std::string, std::string>& env, const std::string& body) {
    int in[2], out[2], err[2];
    if (pipe2(in, O_CLOEXEC) || pipe2(out, O_CLOEXEC) || pipe2(err, O_CLOEXEC)) return {-1, "", "pipe"};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_adddup2(&actions, err[1], 2);
    std::vector<std::string> args = argv, envs = environment(env);
    std::vector<char*> arg_pointers = pointers(args), env_pointers = pointers(envs);
    pid_t pid;
    int spawned = posix_spawn(&pid, program.c_str(), &actions, nullptr, arg_pointers.data(), env_pointers.data());
    posix_spawn_file_actions_destroy(&actions);
    close(in[0]), close(out[1]), close(err[1]);
    cgi_result result{-1, "", ""};
    if (spawned != 0) {
        close(in[1]), close(out[0]), close(err[0]);
        result.errors = "cannot start " + program;
        return result;
    }
    signal(SIGPIPE, SIG_IGN);
    exchange(in[1], out[0], err[0], body, result);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    result.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return result;
}

std::string test_home() { return KV_TEST_HOME; }

std::string installed_program(const std::string& name) { return test_home() + "/kv/bin/" + name; }

std::map<std::string, std::string> cgi_request(const std::string& query, const std::string& cookie_pairs) {
    std::map<std::string, std::string> env = {{"REQUEST_METHOD", "GET"},       {"QUERY_STRING", query},
                                              {"REMOTE_ADDR", "127.0.0.1"},    {"SERVER_NAME", "dbhost"},
                                              {"SERVER_PORT", "8080"},         {"SERVER_PROTOCOL", "HTTP/1.1"},
                                              {"SERVER_SOFTWARE", "Apache/2.4"}};
    if (!cookie_pairs.empty()) env["HTTP_COOKIE"] = "KVCOOKIE=" + cookie_pairs;
    return env;
}

std::string login_pairs(const std::string& user, const std::string& password, const std::string& sid) {
    return "VANTOR_HOME=" + test_home() + "&VANTOR_SID=" + sid + "&KVCUSER=" + user + "&KVCPASSWORD=" + password +
           "&KVCPLEN=0&KVRMTADDR=127.0.0.1&KVLOGPID=1";
}

bool vdbadm(const std::vector<std::string>& args) {
    std::vector<std::string> argv = {"vdbadm", "--home", test_home()};
    argv.insert(argv.end(), args.begin(), args.end());
    return run_cgi(test_home() + "/bin/vdbadm", argv, {}).exit_code == 0;
}
