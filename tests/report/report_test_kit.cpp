// The report tests' runner, database maker and JSON reader.
#include "report_test_kit.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <stdexcept>

namespace reportkit {

testkit::Outcome runReport(const std::vector<std::string>& args,
                           const std::vector<std::string>& environment,
                           const std::string& directory) {
    // Both outputs go to files of a scratch directory, so that neither pipe can fill up.
    testkit::ScratchDir dir;
    const std::string out = dir.path("out"), err = dir.path("err");
    const pid_t pid = fork();
    if (pid == 0) {
        // Descriptors, not streams: the streams may hold the test's own unwritten output.
        const int in = open("/dev/null", O_RDONLY);
        const int to = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int errors = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (in < 0 || to < 0 || errors < 0 || dup2(in, 0) < 0 || dup2(to, 1) < 0 ||
            dup2(errors, 2) < 0 || (!directory.empty() && chdir(directory.c_str()) != 0)) {
            _exit(126);
        }
        std::vector<char*> argv{const_cast<char*>(TIDEWRACK_REPORT_BINARY)};
        for (const std::string& a : args) {
            argv.push_back(const_cast<char*>(a.c_str()));
        }
        argv.push_back(nullptr);
        setenv("TZ", "UTC", 1);
        for (const std::string& setting : environment) {
            putenv(const_cast<char*>(setting.c_str()));
        }
        execv(TIDEWRACK_REPORT_BINARY, argv.data());
        _exit(127);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return {testkit::fileBytes(out), testkit::fileBytes(err),
            WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status)};
}

void makeDatabase(const std::string& trace, const std::string& database, int mode) {
    const testkit::Outcome run =
        testkit::runProgram({"-r", trace, "-d", database, "-m", std::to_string(mode)});
    ASSERT_EQ(run.status, 0) << run.out;
}

std::vector<std::string> jsonQuery(const std::string& json, const std::string& sql) {
    sqlite3* db = nullptr;
    sqlite3_open(":memory:", &db);
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &statement, nullptr) != SQLITE_OK) {
        const std::string message = sqlite3_errmsg(db);
        sqlite3_close(db);
        throw std::runtime_error(message + " in: " + sql);
    }
    sqlite3_bind_text(statement, 1, json.c_str(), static_cast<int>(json.size()), SQLITE_STATIC);
    std::vector<std::string> rows;
    int stepped;
    while ((stepped = sqlite3_step(statement)) == SQLITE_ROW) {
        std::string row;
        for (int i = 0; i < sqlite3_column_count(statement); ++i) {
            const auto* text = sqlite3_column_text(statement, i);
            if (i > 0) {
                row += '|';
            }
            row += text ? reinterpret_cast<const char*>(text) : "";
        }
        rows.push_back(row);
    }
    const std::string message = sqlite3_errmsg(db);
    sqlite3_finalize(statement);
    sqlite3_close(db);
    if (stepped != SQLITE_DONE) {
        throw std::runtime_error(message + " in: " + sql);
    }
    return rows;
}

}  // namespace reportkit
