// The report tests' runner, database maker and JSON reader.
#include "report_test_kit.h"

#include <gtest/gtest.h>

#include <filesystem>

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

void makeExtendedDatabase(const std::string& trace, const std::string& database,
                          const std::string& zone) {
    const std::string tidewrack =
        std::filesystem::path(TIDEWRACK_REPORT_BINARY).parent_path() / "tidewrack";
    const testkit::Outcome run = testkit::runBinary(
        "/usr/bin/env", {"TZ=" + zone, tidewrack, "-x", "-r", trace, "-d", database});
    ASSERT_EQ(run.status, 0) << run.out << run.err;
}

std::string readmeRecipe(const std::string& marker) {
    const std::string readme = testkit::fileBytes(TIDEWRACK_README);
    const std::size_t at = readme.find("<!-- " + marker + " -->\n```sh\n");
    if (at == std::string::npos) {
        return "";
    }
    const std::size_t start = readme.find('\n', readme.find("```sh", at)) + 1;
    return readme.substr(start, readme.find("```", start) - start);
}

std::vector<std::string> jsonQuery(const std::string& json, const std::string& sql) {
    return testkit::query(":memory:", sql, {json});
}

}  // namespace reportkit
