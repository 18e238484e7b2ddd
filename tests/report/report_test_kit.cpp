// The report tests' runner, database maker and JSON reader.
#include "report_test_kit.h"

#include <gtest/gtest.h>

#include "database.h"

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
    return testkit::query(":memory:", sql, {json});
}

}  // namespace reportkit
