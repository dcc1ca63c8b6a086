// Runs an installed program as a web server would: a fresh environment, the
// body on standard input, the page read from standard output.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

struct cgi_result {
    int exit_code;  // the process's exit code, or 128 + signal when it was killed
    std::string page;
    std::string errors;
};

// argv[0] is what the program sees as its own name; program is the file run.
cgi_result run_cgi(const std::string& program, const std::vector<std::string>& argv,
                   const std::map<std::string, std::string>& env, const std::string& body = "");

// The lines every response head carries after its status line, without the
// blank line that ends the head: the content type (a page's with its
// character set) and the headers that keep a page out of other sites' frames.
std::string head_lines(const std::string& content_type = "text/html");

// The installation the CGI tests run against (made by the test fixture).
std::string test_home();
// A program of that installation's kv/bin.
std::string installed_program(const std::string& name);

// The CGI environment of a request from 127.0.0.1 to dbhost:8080, with the
// query and, when given, the login cookie's pairs.
std::map<std::string, std::string> cgi_request(const std::string& query, const std::string& cookie_pairs = "");
// The login cookie's pairs of a user of the test home's PROD instance, with a
// password that is not enciphered.
std::string login_pairs(const std::string& user, const std::string& password, const std::string& sid = "PROD");
// The session of an instance of the test home whose program is program and
// whose action begins with action, "number,serial" as vdbadm lists it; empty
// when none shows within ten seconds.
std::string await_session(const std::string& sid, const std::string& program, const std::string& action);
// Runs vdbadm of the test home; true when it succeeded.
bool vdbadm(const std::vector<std::string>& args);

// ---- requests of the tools and installations of one's own, for the
// ---- hostile-input and fault suites

// Form fields in the order a browser posts them; form_post.h names the same
// type and writes them as a body.
using form_fields = std::vector<std::pair<std::string, std::string>>;
// The fields with name set to value, in its place or at the end.
form_fields with_field(form_fields fields, const std::string& name, const std::string& value);
form_fields without_field(form_fields fields, const std::string& name);
// The value of the first field of that name, "" when there is none.
std::string field_value(const form_fields& fields, const std::string& name);
// The login cookie's pairs of SYSTEM at the PROD instance of the installation
// at home, the password not enciphered.
form_fields login_fields(const std::string& home = test_home());

// login_fields with the password as the launcher enciphers it with the test
// home's key: the cookie a browser holds after a login.
form_fields enciphered_login_fields(const std::string& home = test_home());

// One request of a tool as the web server hands it over, from 127.0.0.1 to
// dbhost:8080.
struct tool_request {
    std::string program;
    form_fields form;    // the query, or the body when posted
    form_fields cookie;  // the login cookie's pairs
    bool posted = false;
    std::map<std::string, std::string> server;  // further variables of the web server, CONTENT_LENGTH among them
    // A posted form carries the form token that the tool's own page gives the
    // login (the login page's own, for the launcher), as a browser's would,
    // unless the form names a KVCTOKEN itself.
    bool token = true;
};
// The token a page of the tool writes into its form for the request's login:
// the tool's first page is asked for it with the request's cookie, as a
// browser would get it. "" when the page has none.
std::string form_token(const tool_request& request);
cgi_result run_request(const tool_request& request);
// With a body of one's own, CONTENT_LENGTH its size unless the request names one.
cgi_result run_request(const tool_request& request, const std::string& body);
// The Session Manager of the test home's PROD instance, asked by SYSTEM to
// end the session id ("number,serial") and past its confirmation.
cgi_result end_session_from_manager(const std::string& id);

// What keeps a response from being a page of the tool set, "" when it is one:
// an exit code other than 0 or 3; a beginning other than the program's head;
// an end other than the end of the document, the error block that stopped
// the request, or the backup tool's notice; any word on standard error, where
// a sanitizer or a shell would speak.
std::string page_defect(const tool_request& request, const cgi_result& result);

// A request of each program of the installation at home as its user sends it
// to change something, with the test of whether it did and the undoing of
// it: the launcher logs in, the tablespace tool switches USERS, the export
// tool exports HR.STAFF to the file dump of home's export directory, the
// import tool imports HR's DEPARTMENTS into ADAM from the demo's export file.
// The backup tool changes nothing.
struct acting_request {
    tool_request request;
    std::function<bool()> acted;
    std::function<void()> undo;
};
std::vector<acting_request> acting_requests(const std::string& home, const std::string& dump);

// What an instance of the test home holds, as one text: the state of its
// service and instance (not its start time), and, when it is open, its tablespaces with their
// status, data files, free space, users and tables. Two equal snapshots mean
// nothing was created, dropped, switched, grown or filled in between.
std::string dictionary_snapshot(const std::string& sid = "PROD");
// The names in a directory, sorted; empty when it cannot be read.
std::vector<std::string> directory_entries(const std::string& path);

// A home of its own for one test, made of links to the test home's
// instances, utilities, pictures, help, catalogue and key, copies of its
// programs, and an empty export directory. A test takes away or replaces the
// part it is about.
class scratch_home {
public:
    scratch_home();
    ~scratch_home();
    scratch_home(const scratch_home&) = delete;
    scratch_home& operator=(const scratch_home&) = delete;
    const std::string& path() const { return path_; }
    // The part at relative (such as "kv/key"), gone.
    void remove(const std::string& relative) const;
    // The part at relative replaced by a file holding text; executable for a script.
    void write(const std::string& relative, const std::string& text, bool executable = false) const;
    // The demo's export file in the export directory, as a file of its own:
    // the import tool reads no link.
    void give_demo_export_file() const;

private:
    std::string path_;
};
