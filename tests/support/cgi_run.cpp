#include "support/cgi_run.h"

#include <algorithm>
#include <chrono>
#include <sstream>
#include <thread>
#include <cerrno>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <string_view>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include "support/form_post.h"

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

std::string head_lines(const std::string& content_type) {
    return "Content-type: " + content_type + (content_type.starts_with("text/") ? "; charset=utf-8" : "") +
           "\nX-Frame-Options: DENY\nContent-Security-Policy: frame-ancestors 'none'\n"
           "X-Content-Type-Options: nosniff\nReferrer-Policy: same-origin\n";
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

std::string await_session(const std::string& sid, const std::string& program, const std::string& action) {
    for (auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
         std::chrono::steady_clock::now() < until; std::this_thread::sleep_for(std::chrono::milliseconds(2))) {
        cgi_result r = run_cgi(test_home() + "/bin/vdbadm", {"vdbadm", "--home", test_home(), "sessions", sid}, {});
        std::istringstream lines(r.page);
        for (std::string line; std::getline(lines, line);) {
            std::vector<std::string> columns;
            std::istringstream fields_of(line);
            for (std::string field; std::getline(fields_of, field, '\t');) columns.push_back(field);
            // The action is the last column, and may be empty.
            if (columns.size() < 8 || columns[3] != program) continue;
            if ((columns.size() > 8 ? columns[8] : "").starts_with(action)) return columns[0];
        }
    }
    return "";
}

bool vdbadm(const std::vector<std::string>& args) {
    std::vector<std::string> argv = {"vdbadm", "--home", test_home()};
    argv.insert(argv.end(), args.begin(), args.end());
    return run_cgi(test_home() + "/bin/vdbadm", argv, {}).exit_code == 0;
}

form_fields with_field(form_fields fields, const std::string& name, const std::string& value) {
    auto it = std::find_if(fields.begin(), fields.end(), [&](const auto& f) { return f.first == name; });
    if (it != fields.end()) it->second = value;
    else fields.emplace_back(name, value);
    return fields;
}

form_fields without_field(form_fields fields, const std::string& name) {
    std::erase_if(fields, [&](const auto& f) { return f.first == name; });
    return fields;
}

std::string field_value(const form_fields& fields, const std::string& name) {
    auto it = std::find_if(fields.begin(), fields.end(), [&](const auto& f) { return f.first == name; });
    return it != fields.end() ? it->second : "";
}

form_fields login_fields(const std::string& home) {
    return {{"VANTOR_HOME", home}, {"VANTOR_SID", "PROD"},     {"KVCUSER", "system"}, {"KVCPASSWORD", "demo"},
            {"KVCPLEN", "0"},      {"KVRMTADDR", "127.0.0.1"}, {"KVLOGPID", "1"}};
}

form_fields enciphered_login_fields(const std::string& home) {
    form_fields form = without_field(without_field(login_fields(), "KVCPLEN"), "KVRMTADDR");
    std::string page = run_request({"kvla", form, {}, true, {}}).page;
    std::string line = page.substr(0, page.find('\n', page.find("Set-Cookie: ")));
    auto pair = [&](const std::string& name) {
        size_t start = line.find("&" + name + "=");
        if (start == std::string::npos) return std::string();
        start += name.size() + 2;
        return line.substr(start, line.find_first_of("&;", start) - start);
    };
    return with_field(with_field(login_fields(home), "KVCPASSWORD", pair("KVCPASSWORD")), "KVCPLEN", pair("KVCPLEN"));
}

namespace {

// The program a request reaches: the one installed in the home it names
// (its form's, else its cookie's), as the web server of that installation
// would run it; the test home's when that home has no such program.
std::string program_of(const tool_request& request) {
    std::string home = field_value(request.form, "VANTOR_HOME");
    if (home.empty()) home = field_value(request.cookie, "VANTOR_HOME");
    const std::string program = home + "/kv/bin/" + request.program;
    return !home.empty() && std::filesystem::exists(program) ? program : installed_program(request.program);
}

}  // namespace

cgi_result run_request(const tool_request& request, const std::string& body) {
    auto env = cgi_request(request.posted ? "" : form_body(request.form), form_body(request.cookie));
    env["SCRIPT_NAME"] = "/PROD-bin/" + request.program;
    if (request.posted) {
        env["REQUEST_METHOD"] = "POST";
        env["CONTENT_LENGTH"] = std::to_string(body.size());
    }
    for (const auto& [name, value] : request.server) env[name] = value;
    return run_cgi(program_of(request), {request.program}, env, body);
}

cgi_result end_session_from_manager(const std::string& id) {
    return run_request({"kvs", {{"KVSEND", id}, {"KVSCONFIRM", "1"}, {"KVSTODO", "End Sessions"}}, login_fields(), true, {}});
}

std::string form_token(const tool_request& request) {
    tool_request page{request.program, {}, request.cookie, false, request.server, false};
    // The launcher takes logins from the login page of the same installation.
    if (request.program == "kvla") page.program = "login";
    page.server.erase("CONTENT_LENGTH");
    const std::string text = run_request(page).page, field = "name=\"KVCTOKEN\" value=\"";
    size_t at = text.find(field);
    if (at == std::string::npos) return "";
    at += field.size();
    return text.substr(at, text.find('"', at) - at);
}

cgi_result run_request(const tool_request& request) {
    tool_request r = request;
    if (r.posted && r.token && field_value(r.form, "KVCTOKEN").empty()) r.form.emplace_back("KVCTOKEN", form_token(r));
    return run_request(r, r.posted ? form_body(r.form) : "");
}

namespace {

std::string head_of(const std::string& program) {
    if (program == "kvla") return head_lines();  // its cookie may follow
    if (program == "kvx") return head_lines() + "\n";
    return "HTTP/1.0 200 Okay\n" + head_lines() + "\n";
}

bool ends_as_a_page(const std::string& page) {
    if (page.ends_with("</html>") || page.ends_with("</html>\n")) return true;
    // The backup tool's page of any step but the first ends with its notice.
    if (page.ends_with("Sorry, this tool is not available on NT yet!\n")) return true;
    return page.find("<H3>") != std::string::npos && (page.ends_with("</STRONG>\n") || page.ends_with("</A>\n"));
}

std::string tail_of(const std::string& text) { return text.substr(text.size() > 300 ? text.size() - 300 : 0); }

// Standard error without the lines of refused logons, which the engine writes
// there for the server's error log.
std::string unexpected_errors(const std::string& errors) {
    std::string out;
    size_t begin = 0;
    while (begin < errors.size()) {
        size_t end = errors.find('\n', begin);
        end = end == std::string::npos ? errors.size() : end + 1;
        std::string_view line(errors.data() + begin, end - begin);
        if (!line.starts_with("vdb: refused logon of ")) out += line;
        begin = end;
    }
    return out;
}

std::string vdbadm_rows(const std::string& statement) {
    return run_cgi(test_home() + "/bin/vdbadm",
                   {"vdbadm", "--home", test_home(), "sql", "PROD", "SYSTEM/demo", statement}, {})
        .page;
}

}  // namespace

std::string page_defect(const tool_request& request, const cgi_result& result) {
    if (result.exit_code != 0 && result.exit_code != 3) return "exit code " + std::to_string(result.exit_code);
    if (result.page.rfind(head_of(request.program), 0) != 0)
        return "a head other than the program's: " + result.page.substr(0, 200);
    if (!ends_as_a_page(result.page)) return "an end that is no page's end: " + tail_of(result.page);
    std::string errors = unexpected_errors(result.errors);
    if (!errors.empty()) return "words on standard error: " + errors.substr(0, 2000);
    return "";
}

std::vector<acting_request> acting_requests(const std::string& home, const std::string& dump_name) {
    const std::string dump = home + "/export/" + dump_name;
    auto nothing = [] { return false; };
    auto no_undo = [] {};
    form_fields launcher_form = without_field(without_field(login_fields(home), "KVCPLEN"), "KVRMTADDR");
    return {
        {{"kvla", launcher_form, {}, true, {}}, nothing, no_undo},
        {{"nph-kvb", {{"KVBKUINSTANCE", "1"}}, login_fields(home), false, {}}, nothing, no_undo},
        {{"kvx",
          {{"KVXPDINSTANCE", "1"}, {"KVXTBLSPNAME", "USERS"}, {"KVXTODO", "Switch Online or Offline"}},
          login_fields(home),
          true,
          {}},
         [] {
             return vdbadm_rows("select status from sys.dba_tablespaces where tablespace_name='USERS'") != "ONLINE\n";
         },
         [] { vdbadm_rows("alter tablespace USERS online"); }},
        {{"nph-kve",
          {{"KVEINSTANCE", "1"},
           {"KVESUBMIT", "Export"},
           {"KVESELECTOPTS", "Tables"},
           {"KVEEXPFILE", dump},
           {"KVERECLEN", "1024"},
           {"KVEBUFSIZ", "4096"},
           {"KVEROWSCB", "on"},
           {"T1", "HR.STAFF"}},
          login_fields(home),
          true,
          {}},
         [dump] { return std::filesystem::exists(dump); },
         [dump] { std::filesystem::remove(dump); }},
        // The demo's export file holds DEPARTMENTS of HR as its table 5.
        {{"nph-kvi",
          {{"KVIINSTANCE", "1"},
           {"KVISUBMIT", "Import"},
           {"KVISELECTOPTS", "Tables"},
           {"KVIEXPFILE", "expdat.dmp"},
           {"KVIRECLEN", "1024"},
           {"KVIBUFSIZ", "4096"},
           {"KVIROWSCB", "on"},
           {"T5", "DEPARTMENTS"},
           {"DT5", "ADAM"}},
          login_fields(home),
          true,
          {}},
         [] { return vdbadm_rows("select table_name from all_tables where owner='ADAM'") != ""; },
         [] { vdbadm_rows("drop table ADAM.DEPARTMENTS"); }},
    };
}

std::string dictionary_snapshot(const std::string& sid) {
    const std::string vdbadm = test_home() + "/bin/vdbadm";
    cgi_result status = run_cgi(vdbadm, {"vdbadm", "--home", test_home(), "status", sid}, {});
    cgi_result dictionary =
        run_cgi(vdbadm,
                {"vdbadm", "--home", test_home(), "sql", sid, "SYSTEM/demo",
                 "select 'tablespace', tablespace_name, status, 0 from sys.dba_tablespaces"
                 " union all select 'file', file_name, tablespace_name, bytes from sys.dba_data_files"
                 " union all select 'free', '', file_id, bytes from sys.dba_free_space"
                 " union all select 'user', username, '', 0 from all_users"
                 " union all select 'table', owner, table_name, 0 from all_tables order by 1, 2, 3"},
                {});
    // The start time changes with every restart, which changes nothing else.
    std::string state = status.page;
    if (size_t started = state.find("\nstarted "); started != std::string::npos)
        state.erase(started + 8, state.find('\n', started + 1) - started - 8);
    return state + status.errors + dictionary.page + dictionary.errors;
}

std::vector<std::string> directory_entries(const std::string& path) {
    std::vector<std::string> out;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(path, error)) out.push_back(entry.path().filename());
    std::sort(out.begin(), out.end());
    return out;
}

scratch_home::scratch_home() {
    namespace fs = std::filesystem;
    char pattern[] = "/tmp/kv-scratch.XXXXXX";
    path_ = mkdtemp(pattern);
    const std::string& from = test_home();
    for (const char* dir : {"bin", "kv", "export"}) fs::create_directories(path_ + "/" + dir);
    for (const char* part : {"dbs", "doc", "bin/dbdump", "bin/dbload", "bin/vdbadm", "kv/pics", "kv/doc", "kv/mesg", "kv/key"})
        fs::create_symlink(from + "/" + part, path_ + "/" + part);
    // The programs are copies: a program takes its home from where it lies,
    // and a link would lead it back to the test home.
    fs::copy(from + "/kv/bin", path_ + "/kv/bin", fs::copy_options::recursive);
}

scratch_home::~scratch_home() {
    std::error_code error;
    std::filesystem::remove_all(path_, error);
}

void scratch_home::remove(const std::string& relative) const { std::filesystem::remove_all(path_ + "/" + relative); }

void scratch_home::give_demo_export_file() const {
    const std::string from = test_home() + "/export/expdat.dmp", to = path_ + "/export/expdat.dmp";
    std::error_code linked;
    std::filesystem::create_hard_link(from, to, linked);
    if (linked) std::filesystem::copy_file(from, to);
}

void scratch_home::write(const std::string& relative, const std::string& text, bool executable) const {
    remove(relative);
    std::ofstream(path_ + "/" + relative, std::ios::binary) << text;
    if (executable) std::filesystem::permissions(path_ + "/" + relative, std::filesystem::perms::owner_all);
}
