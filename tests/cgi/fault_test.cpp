// Faults around the installed programs: the utility killed while it runs, the
// instance stopped between two pages of a chain, an export directory that
// cannot be written, a full disk, an installation without its catalogue or
// its key file. Each request ends with a page and leaves nothing half-done:
// no parameter file, no export file of a run that did not end, no change in
// the database.
#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "support/cgi_run.h"
#include "support/form_post.h"

namespace fs = std::filesystem;

namespace {

std::string tail(const std::string& page) { return page.substr(page.size() > 400 ? page.size() - 400 : 0); }

tool_request acting(const std::string& program, const std::string& home, const std::string& dump) {
    for (const acting_request& a : acting_requests(home, dump))
        if (a.request.program == program) return a.request;
    return {};
}

tool_request with_form_field(tool_request r, const std::string& name, const std::string& value) {
    r.form = with_field(r.form, name, value);
    return r;
}

// The acting requests of the three tools that change something, for a home.
std::vector<acting_request> tools_that_act(const std::string& home, const std::string& dump) {
    std::vector<acting_request> out = acting_requests(home, dump);
    std::erase_if(
        out, [](const acting_request& a) { return a.request.program == "kvla" || a.request.program == "nph-kvb"; });
    return out;
}

// A home whose export directory holds the demo's export file.
class import_home : public scratch_home {
public:
    import_home() { give_demo_export_file(); }
};

// The demo instance open, and a directory of its own for the files a case names.
class Fault : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(vdbadm({"service-start", "PROD"}));
        ASSERT_TRUE(vdbadm({"start", "PROD"}));
        char pattern[] = "/tmp/kv-fault.XXXXXX";
        dir_ = mkdtemp(pattern);
        before_ = dictionary_snapshot();
    }
    void TearDown() override {
        vdbadm({"service-start", "PROD"});
        vdbadm({"start", "PROD"});
        EXPECT_EQ(dictionary_snapshot(), before_) << "the database as the test found it";
        fs::remove_all(dir_);
    }
    std::string dir_, before_;
};

// ---- the utility killed ------------------------------------------------------------

// A utility that says one line and dies.
const std::string DIES = "#!/bin/sh\necho 'half way' >&2\nkill -9 $$\n";

// The real utility, killed as soon as it says that it has begun on the
// export file: its progress goes through a pipe the script reads.
std::string killed_once_begun(const std::string& utility) {
    return "#!/bin/sh\n"
           "progress=\"$(dirname \"$0\")/progress\"\n"
           "rm -f \"$progress\"; mkfifo \"$progress\"\n" +
           test_home() + "/bin/" + utility + " \"$@\" 2>\"$progress\" &\n" +
           "utility=$!\n"
           "while IFS= read -r line; do\n"
           "    echo \"$line\" >&2\n"
           "    case \"$line\" in Exporting*|Importing*) kill -9 $utility ;; esac\n"
           "done <\"$progress\"\n"
           "rm -f \"$progress\"\n";
}

// ---- a directory that cannot be written -------------------------------------------------

// Root writes to any directory it may not write to by its mode; an immutable
// one it cannot. An unprivileged run makes do with the mode.
class unwritable {
public:
    explicit unwritable(std::string path) : path_(std::move(path)) {
        if (geteuid() == 0) {
            made_ = chattr("+i");
        } else {
            fs::permissions(path_, WRITE, fs::perm_options::remove);
            made_ = true;
        }
    }
    ~unwritable() {
        if (geteuid() == 0) chattr("-i");
        else fs::permissions(path_, fs::perms::owner_write, fs::perm_options::add);
    }
    unwritable(const unwritable&) = delete;
    unwritable& operator=(const unwritable&) = delete;
    bool made() const { return made_; }

private:
    static constexpr fs::perms WRITE = fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write;
    bool chattr(const char* flag) const {
        return run_cgi("/usr/bin/chattr", {"chattr", flag, path_}, {}).exit_code == 0;
    }
    std::string path_;
    bool made_;
};

// ---- a full disk ----------------------------------------------------------------------

// A file system of its own at path, a few pages large and filled to the last
// byte. It is mounted in a mount namespace of this test process, so it goes
// with the process whatever becomes of the test; the programs the test starts
// share the namespace.
// The files of keep are written before the filling.
class full_disk {
public:
    explicit full_disk(std::string path, const std::map<std::string, std::string>& keep = {}) : path_(std::move(path)) {
        static const bool own_namespace =
            unshare(CLONE_NEWNS) == 0 && mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
        mounted_ = own_namespace && mount("tmpfs", path_.c_str(), "tmpfs", 0, "size=64k") == 0;
        if (!mounted_) return;
        for (const auto& [name, text] : keep) std::ofstream(path_ + "/" + name) << text;
        int fd = open((path_ + "/filler").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
        char block[4096] = {};
        while (fd >= 0 && write(fd, block, sizeof block) > 0) {
        }
        if (fd >= 0) close(fd);
    }
    ~full_disk() {
        if (mounted_) umount2(path_.c_str(), MNT_DETACH);
    }
    full_disk(const full_disk&) = delete;
    full_disk& operator=(const full_disk&) = delete;
    bool mounted() const { return mounted_; }

private:
    std::string path_;
    bool mounted_;
};

}  // namespace

TEST_F(Fault, UtilityKilledWhileItRunsEndsThePageAndLeavesNoFile) {
    const std::string dump = "full.dmp";
    struct row {
        const char* what;
        const char* program;
        const char* utility;
        std::string script;
        const char* last_word;  // of the utility, in the page
    } rows[] = {
        {"an export utility that dies", "nph-kve", "dbdump", DIES, "half way\n"},
        {"an import utility that dies", "nph-kvi", "dbload", DIES, "half way\n"},
        // A full export has a long way to go when it has begun on the file.
        {"the export utility killed", "nph-kve", "dbdump", killed_once_begun("dbdump"),
         "Exporting (full database mode)"},
        {"the import utility killed", "nph-kvi", "dbload", killed_once_begun("dbload"), "Importing from"},
    };
    for (const row& row : rows) {
        SCOPED_TRACE(row.what);
        import_home home;
        home.write(std::string("bin/") + row.utility, row.script, true);
        tool_request r = acting(row.program, home.path(), dump);
        if (r.program == "nph-kve") r = with_form_field(r, "KVESELECTOPTS", "Full database");
        cgi_result result = run_request(r);
        EXPECT_EQ(page_defect(r, result), "");
        EXPECT_EQ(result.exit_code, 0);
        EXPECT_TRUE(result.page.ends_with("</html>")) << tail(result.page);
        size_t output = result.page.find("<pre>");
        EXPECT_NE(result.page.find(row.last_word, output), std::string::npos) << tail(result.page);
        EXPECT_LT(result.page.find(row.last_word, output), result.page.find("</pre>", output));
        // No parameter file; no export file, whole or in part.
        EXPECT_EQ(directory_entries(home.path() + "/export"), std::vector<std::string>{"expdat.dmp"});
        EXPECT_EQ(directory_entries(dir_), std::vector<std::string>{});
        EXPECT_EQ(dictionary_snapshot(), before_);
        for (const std::string& left : directory_entries(dir_)) fs::remove(dir_ + "/" + left);
    }
}

TEST_F(Fault, InstanceStoppedBetweenTwoPagesLeavesNothingHalfDone) {
    const std::string dump = "x.dmp", data_file = dir_ + "/a.dbf";
    const form_fields confirmed_add = {{"KVXPDINSTANCE", "2"},    {"KVXTODO", "Show Tablespace"},
                                       {"KVXTBLSPNAME", "USERS"}, {"KVXPDOK", "Add Data File"},
                                       {"KVXNEWDFL", data_file},  {"KVXDFLINISZ", "64"},
                                       {"KVXDFLINCSZ", "8"},      {"KVXDFLMAXSZ", "128"}};
    const tool_request export_run = acting("nph-kve", test_home(), dump);
    struct row {
        const char* what;
        tool_request first;
        const char* stop;  // what vdbadm does between the pages
        tool_request second;
    } rows[] = {
        // The table list is read again for the run, from an instance the
        // tool mounts for the purpose and takes down again.
        {"export of a table", with_form_field(export_run, "KVESUBMIT", "Apply Scope"), "stop", export_run},
        {"export of the database",
         {"nph-kve", {}, login_fields(), true, {}},
         "service-stop",
         with_form_field(export_run, "KVESELECTOPTS", "Full database")},
        {"import of a table", with_form_field(acting("nph-kvi", test_home(), dump), "KVISUBMIT", "Apply Scope"), "stop",
         acting("nph-kvi", test_home(), dump)},
        {"data file added",
         {"kvx",
          {{"KVXPDINSTANCE", "1"}, {"KVXTBLSPNAME", "USERS"}, {"KVXTODO", "Add Data File"}},
          login_fields(),
          true,
          {}},
         "stop",
         {"kvx", confirmed_add, login_fields(), true, {}}},
        {"tablespace switched",
         {"kvx", {}, login_fields(), true, {}},
         "service-stop",
         acting("kvx", test_home(), dump)},
    };
    const std::vector<std::string> exports = directory_entries(test_home() + "/export");
    for (const row& row : rows) {
        SCOPED_TRACE(row.what);
        cgi_result first = run_request(row.first);
        ASSERT_EQ(first.exit_code, 0) << tail(first.page);
        ASSERT_TRUE(first.page.ends_with("</html>")) << tail(first.page);
        ASSERT_TRUE(vdbadm({row.stop, "PROD"}));
        std::string stopped = dictionary_snapshot();
        cgi_result second = run_request(row.second);
        EXPECT_EQ(page_defect(row.second, second), "");
        // The instance is left as it was found, neither started nor mounted.
        EXPECT_EQ(dictionary_snapshot(), stopped);
        EXPECT_EQ(directory_entries(dir_), std::vector<std::string>{});
        EXPECT_EQ(directory_entries(test_home() + "/export"), exports);
        ASSERT_TRUE(vdbadm({"service-start", "PROD"}) && vdbadm({"start", "PROD"}));
        EXPECT_EQ(dictionary_snapshot(), before_);
    }
}

TEST_F(Fault, UnwritableExportDirectoryRefusesTheRun) {
    const std::string dump = "x.dmp";
    struct row {
        const char* program;
        bool without_directory;  // the export directory is missing, and the home cannot be written
        const char* block;
    } rows[] = {
        // The export file lies in the export directory too: it is the
        // first file the run cannot make.
        {"nph-kve", false, "KVE-4061"},
        {"nph-kvi", false, "KVI-4063"},
        {"nph-kve", true, "KVE-4061"},
    };
    for (const row& row : rows) {
        SCOPED_TRACE(std::string(row.program) + (row.without_directory ? " without the directory" : ""));
        import_home home;
        if (row.without_directory) home.remove("export");
        const std::string locked = home.path() + (row.without_directory ? "" : "/export");
        std::vector<std::string> files = directory_entries(locked);
        unwritable guard(locked);
        if (!guard.made()) GTEST_SKIP() << "no way here to make " << locked << " unwritable";
        tool_request r = acting(row.program, home.path(), dump);
        cgi_result result = run_request(r);
        EXPECT_EQ(page_defect(r, result), "");
        EXPECT_EQ(result.exit_code, 3);
        EXPECT_TRUE(contains(result.page, std::string("<H3>") + row.block + ":</H3>")) << tail(result.page);
        EXPECT_EQ(directory_entries(locked), files);
        EXPECT_EQ(directory_entries(dir_), std::vector<std::string>{});
        EXPECT_EQ(dictionary_snapshot(), before_);
    }
}

// An export file of HR's DEPARTMENTS alone, small enough for a disk of a
// few pages, written by the utility.
std::string small_export_file(const std::string& dir) {
    const std::string parameters = dir + "/small.par", file = dir + "/small.dmp";
    std::ofstream(parameters) << "SYSTEM/demo\nFILE=" << file << "\nTABLES=(HR.DEPARTMENTS)\n";
    EXPECT_EQ(run_cgi(test_home() + "/bin/dbdump", {"dbdump", "PARFILE=" + parameters}, {{"VANTOR_HOME", test_home()}, {"VANTOR_SID", "PROD"}}).exit_code, 0);
    std::ifstream in(file);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    fs::remove(parameters);
    fs::remove(file);
    return text;
}

TEST_F(Fault, FullDiskEndsTheRunWithoutAHalfWrittenFile) {
    const std::string small = small_export_file(dir_);
    struct row {
        const char* what;
        const char* program;
        bool export_directory_full;  // else the file the request names is on the full disk
        const char* shown;
    } rows[] = {
        {"the export file", "nph-kve", false, "No space left on device"},
        {"the export parameter file", "nph-kve", true, "<H3>KVE-4058:</H3>"},
        {"the import parameter file", "nph-kvi", true, "<H3>KVI-1011:</H3>"},
        // A data file is made sparse: only the check of the free space keeps
        // it from a disk that could never hold it.
        {"a data file", "kvx", false, "<H3>KVX-MAXSZ-9029:</H3>"},
    };
    for (const row& row : rows) {
        SCOPED_TRACE(row.what);
        import_home home;
        // The full disk holds the export directory, or a directory inside it.
        const std::string disk = home.path() + "/export" + (row.export_directory_full ? "" : "/full");
        fs::create_directories(disk);
        std::map<std::string, std::string> keep;
        if (row.export_directory_full) keep["expdat.dmp"] = small;
        full_disk filled(disk, keep);
        if (!filled.mounted()) GTEST_SKIP() << "no file system of its own can be mounted here";
        std::vector<std::string> files = directory_entries(disk);
        tool_request r = acting(row.program, home.path(), row.export_directory_full ? "x.dmp" : "full/x.dmp");
        // The small export file holds one table: its whole file.
        if (r.program == "nph-kvi") r = with_form_field(r, "KVISELECTOPTS", "Whole file");
        const std::string full = disk;
        if (r.program == "kvx")
            r.form = {{"KVXPDINSTANCE", "2"},       {"KVXTODO", "Show Tablespace"}, {"KVXTBLSPNAME", "USERS"},
                      {"KVXPDOK", "Add Data File"}, {"KVXNEWDFL", full + "/a.dbf"}, {"KVXDFLINISZ", "64"},
                      {"KVXDFLINCSZ", "8"},         {"KVXDFLMAXSZ", "128"}};
        cgi_result result = run_request(r);
        EXPECT_EQ(page_defect(r, result), "");
        EXPECT_TRUE(contains(result.page, row.shown)) << tail(result.page);
        EXPECT_EQ(directory_entries(disk), files);
        if (!row.export_directory_full) {
            EXPECT_EQ(directory_entries(home.path() + "/export"), (std::vector<std::string>{"expdat.dmp", "full"}));
        }
        EXPECT_EQ(dictionary_snapshot(), before_);
    }
}

// In American, and in a language that would read the American catalogue for
// want of its own.
TEST_F(Fault, MissingCatalogueEndsEveryProgramBeforeItActs) {
    import_home home;
    home.remove("kv/mesg");
    fs::create_directories(home.path() + "/kv/mesg");
    for (const char* language : {"AMERICAN_AMERICA.UTF8", "GERMAN_GERMANY.UTF8"}) {
        for (acting_request& a : acting_requests(home.path(), "x.dmp")) {
            SCOPED_TRACE(std::string(a.request.program) + " in " + language);
            a.request.server["NLS_LANG"] = language;
            cgi_result result = run_request(a.request);
            EXPECT_EQ(page_defect(a.request, result), "");
            EXPECT_EQ(result.exit_code, 3);
            EXPECT_TRUE(contains(result.page, "\n\n<H3>KVC-MHD-1026:</H3>")) << tail(result.page);
            EXPECT_FALSE(contains(result.page, "Set-Cookie"));
            EXPECT_FALSE(a.acted());
            a.undo();
        }
    }
    EXPECT_EQ(directory_entries(home.path() + "/export"), std::vector<std::string>{"expdat.dmp"});
}

TEST_F(Fault, MissingOrOlderKeyFileRefusesEveryEncipheredPassword) {
    for (bool older : {false, true}) {
        SCOPED_TRACE(older ? "an older installation's key" : "no key file");
        import_home home;
        if (older) home.write("kv/key", "0123456789abcdef0123456789abcdef\n");
        else home.remove("kv/key");
        // The launcher cannot encipher a login: no cookie.
        tool_request login = acting("kvla", home.path(), "");
        cgi_result launched = run_request(login);
        EXPECT_EQ(page_defect(login, launched), "");
        EXPECT_EQ(launched.exit_code, 3);
        EXPECT_EQ(launched.page.rfind(head_lines() + "\n<H3>KVG-EDIN-1045:</H3>", 0), 0u) << launched.page;
        // A tool cannot decipher the login of a cookie made before the key went.
        for (acting_request& a : tools_that_act(home.path(), "x.dmp")) {
            SCOPED_TRACE(a.request.program);
            a.request.cookie = enciphered_login_fields(home.path());
            cgi_result result = run_request(a.request);
            EXPECT_EQ(page_defect(a.request, result), "");
            EXPECT_TRUE(contains(result.page, "<H3>KVG-EDIN-1045:</H3>")) << tail(result.page);
            EXPECT_FALSE(a.acted()) << tail(result.page);
            a.undo();
        }
        EXPECT_EQ(directory_entries(home.path() + "/export"), std::vector<std::string>{"expdat.dmp"});
    }
}
