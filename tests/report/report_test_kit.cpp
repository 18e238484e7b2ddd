// The report tests' runner, database maker and JSON reader.
#include "report_test_kit.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <stdexcept>

namespace reportkit {

testkit::Outcome runReport(const std::vector<std::string>& args,
                           const std::vector<std::string>& environment,
                           const std::string& directory) {
    std::vector<std::string> command;
    if (!directory.empty()) {
        command = {"-C", directory};
    }
    command.insert(command.end(), environment.begin(), environment.end());
    command.push_back(TIDEWRACK_REPORT_BINARY);
    command.insert(command.end(), args.begin(), args.end());
    return testkit::runBinary("/usr/bin/env", command);
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
