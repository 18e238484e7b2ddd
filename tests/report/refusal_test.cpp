// Inputs the report refuses: each with its one-line message on standard error, status 1,
// nothing on standard output and no file written, neither the page asked for nor a database
// at a missing path. One bad database among good ones refuses the whole run.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "report_test_kit.h"

using namespace testkit;
using namespace reportkit;
namespace fs = std::filesystem;

namespace {

void makeSqliteWithout(const std::string& path) {
    sqlite3* db = nullptr;
    sqlite3_open(path.c_str(), &db);
    sqlite3_exec(db, "CREATE TABLE packets (frame integer, len integer)", nullptr, nullptr,
                 nullptr);
    sqlite3_close(db);
}

}  // namespace

TEST(ReportRefusals, EachBadInputIsRefusedWithItsMessageAndWritesNothing) {
    ScratchDir dir;
    const std::string good = dir.path("good.db"), page = dir.path("page.html");
    makeDatabase(std::string(TIDEWRACK_SAMPLES_DIR) + "/web-session.pcap", good);
    std::ofstream(dir.path("notes.txt")) << "these are not the tables you are looking for\n";
    makeSqliteWithout(dir.path("other.db"));
    fs::create_directory(dir.path("folder.db"));

    const struct {
        std::string path, message;
    } cases[] = {
        {dir.path("missing.db"), dir.path("missing.db") + ": no such file"},
        {dir.path("notes.txt"), dir.path("notes.txt") + ": not an SQLite database"},
        {dir.path("other.db"),
         dir.path("other.db") + ": no frames table: not a database written by tidewrack"},
        {dir.path("folder.db"), dir.path("folder.db") + ": is a directory"},
    };
    for (const auto& c : cases) {
        for (const std::vector<std::string>& args : {std::vector<std::string>{c.path},
                                                     {"-o", page, good, c.path, good},
                                                     {"--json", c.path}}) {
            const Outcome run = runReport(args);
            EXPECT_EQ(run.status, 1) << c.path;
            EXPECT_EQ(run.err, "tidewrack-report: " + c.message + "\n");
            EXPECT_EQ(run.out, "");
            EXPECT_FALSE(fs::exists(page)) << c.path;
        }
    }
    EXPECT_FALSE(fs::exists(dir.path("missing.db")));
    EXPECT_EQ(fileBytes(dir.path("notes.txt")), "these are not the tables you are looking for\n");
}

TEST(ReportRefusals, NeitherTheDatabasesNorTheirFolderChange) {
    ScratchDir dir;
    const std::string db = dir.path("web.db");
    makeDatabase(std::string(TIDEWRACK_SAMPLES_DIR) + "/web-session.pcap", db);
    const std::string before = fileBytes(db);

    const Outcome over = runReport({"-o", db, db});
    EXPECT_EQ(over.status, 1);
    EXPECT_EQ(over.err, "tidewrack-report: " + db + ": is one of the databases; not overwritten\n");

    EXPECT_EQ(runReport({db}).status, 0);
    EXPECT_EQ(runReport({"--json", "-o", dir.path("web.html"), db}).status, 0);
    EXPECT_EQ(fileBytes(db), before);
    std::vector<std::string> files;
    for (const auto& entry : fs::directory_iterator(dir.path(""))) {
        files.push_back(entry.path().filename().string());
    }
    std::sort(files.begin(), files.end());
    EXPECT_EQ(files, (std::vector<std::string>{"web.db", "web.html"}));
}

TEST(ReportRefusals, WrongCommandLinesSayWhatIsWrong) {
    const struct {
        std::vector<std::string> args;
        std::string message;
    } cases[] = {
        {{}, "no database given (try --help)"},
        {{"--top", "ten", "x.db"}, "--top needs a number of rows (0 for all), not 'ten'"},
        {{"--top", "-1", "x.db"}, "--top needs a number of rows (0 for all), not '-1'"},
        {{"x.db", "-o"}, "option -o needs a value"},
        {{"--colour", "x.db"}, "unknown option --colour"},
    };
    for (const auto& c : cases) {
        const Outcome run = runReport(c.args);
        EXPECT_EQ(run.status, 2);
        EXPECT_EQ(run.err, "tidewrack-report: " + c.message + "\n");
    }
    const Outcome help = runReport({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("Usage: tidewrack-report [options] DATABASE..."), std::string::npos);
    EXPECT_EQ(runReport({"-V"}).out, "tidewrack-report " TIDEWRACK_VERSION_TEXT "\n");
}
