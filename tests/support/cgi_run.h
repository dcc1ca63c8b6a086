// Runs an installed program as a web server would: a fresh environment, the
// body on standard input, the page read from standard output.
#pragma once

#include <map>
#include <string>
#include <vector>

struct cgi_result {
    int exit_code;  // the process's exit code, or 128 + signal when it was killed
    std::string page;
    std::string errors;
};

// argv[0] is what the program sees as its own name; program is the file run.
cgi_result run_cgi(const std::string& program, const std::vector<std::string>& argv,
                   const std::map<std::string, std::string>& env, const std::string& body = "");

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
// Runs vdbadm of the test home; true when it succeeded.
bool vdbadm(const std::vector<std::string>& args);
