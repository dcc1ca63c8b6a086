// The trust boundary as a stranger tries it: a home of the stranger's
// making, changes sent from anywhere but the user's own page, credentials the
// instance refuses, files named outside the export directory, markup in what
// a utility writes, and the head and addresses of every page. Each attempt is
// refused with nothing written, nothing run and the database unchanged, while
// the same request done right goes through.
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/cgi_run.h"
#include "support/form_post.h"
#include "support/utility_probe.h"

namespace fs = std::filesystem;

namespace {

std::string tail(const std::string& page) { return page.substr(page.size() > 600 ? page.size() - 600 : 0); }

bool has_block(const std::string& page, const std::string& heading) { return contains(page, "<H3>" + heading + ":</H3>"); }

// A home of a stranger's making, with utilities, a key and a catalogue of its
// own: each utility leaves a mark when it runs.
class stranger_home {
public:
    stranger_home() {
        char pattern[] = "/tmp/kv-stranger.XXXXXX";
        path_ = mkdtemp(pattern);
        for (const char* dir : {"bin", "export", "kv/mesg"}) fs::create_directories(path_ + "/" + dir);
        for (const char* utility : {"bin/dbdump", "bin/dbload"}) {
            std::ofstream(path_ + "/" + utility) << "#!/bin/sh\ntouch " << mark() << "\n";
            fs::permissions(path_ + "/" + utility, fs::perms::owner_all);
        }
        std::ofstream(path_ + "/kv/key") << std::string(64, '0') << "\n";
        fs::copy_file(test_home() + "/kv/mesg/kvsus.msg", path_ + "/kv/mesg/kvsus.msg");
    }
    ~stranger_home() { fs::remove_all(path_); }
    const std::string& path() const { return path_; }
    std::string mark() const { return path_ + "/ran"; }

private:
    std::string path_;
};

acting_request acting(const std::string& program, const std::string& home = test_home()) {
    for (acting_request& a : acting_requests(home, "x.dmp"))
        if (a.request.program == program) return a;
    return {};
}

// Runs a request that must be refused and checks that it was, with the block
// given, that it acted on nothing and left the database and the export
// directory as they were.
cgi_result expect_refused(acting_request& a, const std::string& block) {
    const std::string before = dictionary_snapshot();
    const std::vector<std::string> exports = directory_entries(test_home() + "/export");
    cgi_result result = run_request(a.request);
    EXPECT_EQ(page_defect(a.request, result), "");
    EXPECT_TRUE(has_block(result.page, block)) << tail(result.page);
    EXPECT_FALSE(a.acted()) << tail(result.page);
    a.undo();
    EXPECT_FALSE(contains(result.page, "Set-Cookie"));
    EXPECT_EQ(dictionary_snapshot(), before);
    EXPECT_EQ(directory_entries(test_home() + "/export"), exports);
    return result;
}

// The demo instance open, as the requests below expect it.
class Boundary : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(vdbadm({"service-start", "PROD"}));
        ASSERT_TRUE(vdbadm({"start", "PROD"}));
    }
};

}  // namespace

TEST_F(Boundary, HomeNamedByTheRequestMustBeTheInstallations) {
    stranger_home stranger;
    for (const char* program : {"kvla", "nph-kve", "nph-kvi", "kvx", "nph-kvb"}) {
        // The launcher reads its home from the form only.
        for (bool in_cookie : {false, program != std::string("kvla")}) {
            SCOPED_TRACE(std::string(program) + (in_cookie ? ", the cookie's home" : ", the form's home"));
            acting_request a = acting(program);
            if (in_cookie) a.request.cookie = with_field(a.request.cookie, "VANTOR_HOME", stranger.path());
            else a.request.form = with_field(a.request.form, "VANTOR_HOME", stranger.path());
            a.request.token = false;
            cgi_result result = run_request(a.request);
            EXPECT_EQ(result.exit_code, 3);
            EXPECT_TRUE(has_block(result.page, "KVC-OH-100")) << tail(result.page);
            EXPECT_FALSE(contains(result.page, "<html>")) << "nothing of the named home is read";
            EXPECT_FALSE(fs::exists(stranger.mark()));
            EXPECT_FALSE(a.acted());
            a.undo();
        }
    }
    // The installation's own home, spelled another way, is the home.
    acting_request login = acting("kvla");
    login.request.form = with_field(login.request.form, "VANTOR_HOME", test_home() + "/kv/../export/..");
    cgi_result result = run_request(login.request);
    EXPECT_TRUE(contains(result.page, "Set-Cookie: KVCOOKIE=VANTOR_HOME=" + test_home() + "&")) << result.page;
}

TEST_F(Boundary, ChangesComeOnlyFromThisLoginsOwnPages) {
    struct variant {
        const char* what;
        const char* tool_block;   // the block of a tool
        const char* login_block;  // the launcher's
        void (*change)(tool_request&);
    } variants[] = {
        {"a plain address", "KVC-POST-1060", "KVC-POST-1060", [](tool_request& r) { r.posted = false; }},
        {"no token", "KVC-TOKEN-1061", "KVC-LOGINFORM-1063", [](tool_request& r) { r.token = false; }},
        {"a made-up token", "KVC-TOKEN-1061", "KVC-LOGINFORM-1063",
         [](tool_request& r) { r.form = with_field(r.form, "KVCTOKEN", "1." + std::string(64, '0')); }},
        {"the token of another login", "KVC-TOKEN-1061", "KVC-LOGINFORM-1063",
         [](tool_request& r) {
             tool_request eve = r;
             eve.cookie = with_field(with_field(eve.cookie, "KVCUSER", "eve"), "VANTOR_HOME", test_home());
             eve.form = with_field(eve.form, "KVCUSER", "eve");
             std::string token = form_token(eve);
             // The launcher's token names no login: an hour and a day old instead.
             if (r.program == "kvla") token = std::to_string(time(nullptr) - 90000) + token.substr(token.find('.'));
             r.form = with_field(r.form, "KVCTOKEN", token);
         }},
        {"a page of another port", "KVC-ORIGIN-1062", "KVC-ORIGIN-1062",
         [](tool_request& r) { r.server["HTTP_ORIGIN"] = "http://dbhost:9090"; }},
        {"a page without an origin of its own", "KVC-ORIGIN-1062", "KVC-ORIGIN-1062",
         [](tool_request& r) { r.server["HTTP_ORIGIN"] = "null"; }},
        {"another site of the same domain", "KVC-ORIGIN-1062", "KVC-ORIGIN-1062",
         [](tool_request& r) { r.server["HTTP_SEC_FETCH_SITE"] = "same-site"; }},
    };
    for (const char* program : {"kvla", "kvx", "nph-kve", "nph-kvi"}) {
        for (const variant& v : variants) {
            SCOPED_TRACE(std::string(program) + ": " + v.what);
            acting_request a = acting(program);
            v.change(a.request);
            expect_refused(a, program == std::string("kvla") ? v.login_block : v.tool_block);
        }
        // From the tool's own page, as a browser says it.
        SCOPED_TRACE(std::string(program) + " from its own page");
        acting_request a = acting(program);
        a.request.server["HTTP_ORIGIN"] = "http://dbhost:8080";
        a.request.server["HTTP_SEC_FETCH_SITE"] = "same-origin";
        cgi_result result = run_request(a.request);
        EXPECT_EQ(page_defect(a.request, result), "");
        EXPECT_FALSE(contains(result.page, "<H3>KVC-")) << tail(result.page);
        if (program == std::string("kvla")) EXPECT_TRUE(contains(result.page, "Set-Cookie: KVCOOKIE="));
        else EXPECT_TRUE(a.acted()) << tail(result.page);
        a.undo();
    }
}

TEST_F(Boundary, RefusedCredentialsWriteNothingAndStartNothing) {
    struct row {
        const char* program;
        const char* utility;
        form_fields log;  // the fields that ask for a log file and name it
        const char* block;
    } rows[] = {
        {"nph-kve", "dbdump", {{"KVELOGFILE", "1"}, {"KVELOGFILENAME", "run.log"}}, "KVE-LOGIN-1017"},
        {"nph-kvi", "dbload", {{"KVILOGFILE", "1"}, {"KVILOGFILENAME", "run.log"}, {"KVIINDEXFILE", "1"}, {"KVIINDEXFILENAME", "index.sql"}},
         "KVI-LOGIN-1017"},
    };
    for (const row& row : rows) {
        for (const char* password : {"wrong", ""}) {
            SCOPED_TRACE(std::string(row.program) + " with the password '" + password + "'");
            probe_home home(row.utility);
            home.give_demo_export_file();
            tool_request r = acting(row.program, home.path()).request;
            r.cookie = with_field(with_field(r.cookie, "KVCUSER", "intruder"), "KVCPASSWORD", password);
            r.form = with_fields(r.form, row.log);
            r.form = with_field(r.form, r.program == "nph-kve" ? "KVEEXPFILE" : "KVIEXPFILE",
                                r.program == "nph-kve" ? "out.dmp" : "expdat.dmp");
            // The token its page gives these credentials: the page itself does
            // not know that the instance will refuse them.
            std::string before = dictionary_snapshot();
            cgi_result result = run_request(r);
            EXPECT_EQ(page_defect(r, result), "");
            EXPECT_TRUE(has_block(result.page, row.block)) << tail(result.page);
            EXPECT_FALSE(contains(result.page, "argument: PARFILE")) << "the utility did not run";
            EXPECT_EQ(directory_entries(home.path() + "/export"), std::vector<std::string>{"expdat.dmp"});
            EXPECT_EQ(dictionary_snapshot(), before);
        }
    }
}

TEST_F(Boundary, OutsidersPlainAddressNamingALogFileWritesNothing) {
    // One address of a hidden frame on any site: made-up credentials, and the
    // instance's own file as the log.
    const std::string instance = test_home() + "/dbs/PROD/instance.db";
    struct stat before_stat {};
    ASSERT_EQ(stat(instance.c_str(), &before_stat), 0);
    const std::string before = dictionary_snapshot();
    struct row {
        const char* program;
        form_fields form;
    } rows[] = {
        {"nph-kve",
         {{"KVEINSTANCE", "1"}, {"KVESUBMIT", "Export"}, {"KVESELECTOPTS", "Full database"}, {"KVELOGFILE", "1"},
          {"KVELOGFILENAME", instance}}},
        {"nph-kvi",
         {{"KVIINSTANCE", "1"}, {"KVISUBMIT", "Import"}, {"KVISELECTOPTS", "Whole file"}, {"KVIEXPFILE", "expdat.dmp"},
          {"KVILOGFILE", "1"}, {"KVILOGFILENAME", instance}}},
    };
    for (const row& row : rows) {
        for (bool posted : {false, true}) {
            SCOPED_TRACE(std::string(row.program) + (posted ? " posted" : " as an address"));
            form_fields cookie = with_field(with_field(login_fields(), "KVCUSER", "made"), "KVCPASSWORD", "up");
            tool_request r{row.program, row.form, cookie, posted, {}};
            cgi_result result = run_request(r);
            EXPECT_EQ(page_defect(r, result), "");
            EXPECT_TRUE(contains(result.page, "<H3>")) << tail(result.page);
        }
    }
    struct stat after_stat {};
    ASSERT_EQ(stat(instance.c_str(), &after_stat), 0);
    EXPECT_EQ(after_stat.st_size, before_stat.st_size);
    EXPECT_EQ(after_stat.st_mtim.tv_sec, before_stat.st_mtim.tv_sec);
    EXPECT_EQ(after_stat.st_mtim.tv_nsec, before_stat.st_mtim.tv_nsec);
    EXPECT_EQ(dictionary_snapshot(), before);
}

TEST_F(Boundary, FilesTheUtilitiesWriteStayInTheExportDirectory) {
    struct field {
        const char* program;
        const char* utility;
        form_fields asks;   // the fields that ask for the file
        const char* name;   // the field that names it
        const char* line;   // its line in the parameter file
        const char* block;  // when it is refused
    } fields[] = {
        {"nph-kve", "dbdump", {}, "KVEEXPFILE", "FILE=", "KVE-4070"},
        {"nph-kve", "dbdump", {{"KVELOGFILE", "1"}}, "KVELOGFILENAME", "LOG=", "KVE-4071"},
        {"nph-kvi", "dbload", {{"KVILOGFILE", "1"}}, "KVILOGFILENAME", "LOG=", "KVI-5040"},
        {"nph-kvi", "dbload", {{"KVIINDEXFILE", "1"}}, "KVIINDEXFILENAME", "INDEXFILE=", "KVI-5041"},
    };
    for (const field& f : fields) {
        probe_home home(f.utility);
        home.give_demo_export_file();
        const std::string exports = fs::canonical(home.path() + "/export").string();
        const std::string outside = fs::canonical("/tmp").string() + "/kv-outside-" + std::to_string(getpid());
        fs::create_directories(exports + "/inner");
        fs::create_directory_symlink("/tmp", exports + "/elsewhere");
        fs::create_symlink(outside, exports + "/link.dmp");
        struct name {
            std::string given;
            std::string taken;  // the parameter file's path, "" when refused
        } names[] = {
            {"plain.out", exports + "/plain.out"},
            {exports + "/inner/full.out", exports + "/inner/full.out"},
            {exports + "/inner/../up.out", exports + "/up.out"},
            {outside, ""},
            {"inner/x.out", ""},
            {"../x.out", ""},
            {exports + "/../kv/key", ""},
            {exports + "/elsewhere/x.out", ""},
            {exports + "/link.dmp", ""},
            {"exppar4711", ""},
            {exports + "/imppar1", ""},
            {exports, ""},
        };
        for (const name& n : names) {
            SCOPED_TRACE(std::string(f.name) + " = " + n.given);
            tool_request r = acting(f.program, home.path()).request;
            r.form = with_field(with_fields(r.form, f.asks), f.name, n.given);
            std::vector<std::string> before = directory_entries(exports);
            cgi_result result = run_request(r);
            EXPECT_EQ(page_defect(r, result), "");
            probe_report probe = read_probe(result.page);
            if (n.taken.empty()) {
                EXPECT_TRUE(has_block(result.page, f.block)) << tail(result.page);
                EXPECT_TRUE(probe.lines.empty()) << "the utility did not run";
            } else {
                EXPECT_NE(std::find(probe.lines.begin(), probe.lines.end(), f.line + n.taken), probe.lines.end())
                    << tail(result.page);
            }
            EXPECT_EQ(directory_entries(exports), before);
            EXPECT_FALSE(fs::exists(outside));
        }
    }
}

TEST_F(Boundary, ImportOffersRegularFilesOfItsOwnOnly) {
    probe_home home("dbload");
    home.give_demo_export_file();
    const std::string exports = home.path() + "/export";
    ASSERT_EQ(mkfifo((exports + "/pipe.dmp").c_str(), 0600), 0);
    fs::create_symlink(exports + "/expdat.dmp", exports + "/link.dmp");
    fs::create_directory(exports + "/folder.dmp");
    std::ofstream(exports + "/imppar123") << "system/demo\n";
    std::ofstream(exports + "/exppar45") << "system/demo\n";
    cgi_result first = run_request({"nph-kvi", {}, login_fields(home.path()), false, {}});
    EXPECT_TRUE(contains(first.page, "expdat.dmp")) << tail(first.page);
    for (const char* hidden : {"pipe.dmp", "link.dmp", "folder.dmp", "imppar123", "exppar45"})
        EXPECT_FALSE(contains(first.page, hidden)) << hidden;
    // Chosen all the same, none is read: a pipe would hold the request forever.
    for (auto [chosen, block] : {std::pair{"pipe.dmp", "KVI-1011"}, {"link.dmp", "KVI-1011"},
                                 {"folder.dmp", "KVI-1011"}, {"imppar123", "KVI-5046"}}) {
        SCOPED_TRACE(chosen);
        tool_request r{"nph-kvi",
                       {{"KVIINSTANCE", "1"}, {"KVISUBMIT", "Apply Scope"}, {"KVISELECTOPTS", "Tables"}, {"KVIEXPFILE", chosen}},
                       login_fields(home.path()),
                       true,
                       {}};
        cgi_result result = run_request(r);
        EXPECT_EQ(page_defect(r, result), "");
        EXPECT_TRUE(has_block(result.page, block)) << tail(result.page);
    }
}

TEST_F(Boundary, UtilityOutputReachesThePageAsText) {
    probe_home home("dbdump", true,
                    "printf '<script>alert(1)</script>' >&2\nsleep 0.2\nprintf ' & <b>bold</b>\\n' >&2\n");
    tool_request r = acting("nph-kve", home.path()).request;
    cgi_result result = run_request(r);
    EXPECT_EQ(page_defect(r, result), "");
    EXPECT_FALSE(contains(result.page, "<script>"));
    EXPECT_FALSE(contains(result.page, "<b>bold"));
    EXPECT_TRUE(contains(result.page, "&lt;script&gt;alert(1)&lt;/script&gt; &amp; &lt;b&gt;bold&lt;/b&gt;\n</pre>"))
        << tail(result.page);
}

TEST_F(Boundary, BehindTlsAddressesSayHttpsAndTheCookieIsSecure) {
    acting_request a = acting("kvla");
    a.request.server["HTTPS"] = "on";
    a.request.server["HTTP_ORIGIN"] = "https://dbhost:8080";
    cgi_result login = run_request(a.request);
    EXPECT_TRUE(contains(login.page, "; HttpOnly; SameSite=Strict; Secure\n\n\n")) << login.page.substr(0, 800);
    EXPECT_TRUE(contains(login.page, "<a href=https://dbhost:8080/PROD-bin/login>")) << tail(login.page);
    cgi_result page = run_request({"nph-kve", {}, login_fields(), false, {{"HTTPS", "on"}}});
    EXPECT_TRUE(contains(page.page, "<form method=post action=https://dbhost:8080/PROD-bin/nph-kve>")) << tail(page.page);
    EXPECT_FALSE(contains(page.page, "http://"));
}
