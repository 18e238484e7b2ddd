// Golden outputs: the program's console text for the cases of tests/golden/TESTLIST, compared
// whole with the expected files beside it.
#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <regex>
#include <sstream>

#include "file_bytes.h"
#include "run_program.h"

using namespace testkit;

namespace {

const std::string goldenDir = TIDEWRACK_SOURCE_DIR "/tests/golden/";

std::string replaceAll(std::string text, const std::string& from, const std::string& to) {
    for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at)) {
        text.replace(at, from.size(), to);
        at += to.size();
    }
    return text;
}

std::string normalized(const std::string& text) {
    static const std::regex buildDate("Compiled: [A-Z][a-z]{2} [ 123][0-9] [0-9]{4}\n");
    return std::regex_replace(replaceAll(normalizeDurations(text), TIDEWRACK_BINARY, "tidewrack"),
                              buildDate, "Compiled: Mmm dd yyyy\n");
}

}  // namespace

TEST(GoldenOutput, EveryCaseOfTheTestList) {
    ASSERT_EQ(chdir(TIDEWRACK_SOURCE_DIR), 0);
    std::ifstream list(goldenDir + "TESTLIST");
    int cases = 0;
    for (std::string line; std::getline(list, line);) {
        std::istringstream words(line);
        std::string name, word;
        if (!(words >> name) || name[0] == '#') {
            continue;
        }
        std::vector<std::string> args;
        while (words >> word) {
            args.push_back(word);
        }
        SCOPED_TRACE(name);
        const Outcome run = runProgram(args);
        EXPECT_EQ(normalized(run.out), fileBytes(goldenDir + name + ".out"));
        EXPECT_EQ(run.err, fileBytes(goldenDir + name + ".err"));
        EXPECT_EQ(run.status, 0);
        ++cases;
    }
    EXPECT_GT(cases, 0);
}
