// Real captures made by others: every capture of the shared corpus is read without a crash,
// the verbose lines agree with an independent reading of the bytes, and the database holds
// one frame row per decoded frame and flow tables equal to the distinct raw rows.
#include <gtest/gtest.h>

#include <filesystem>

#include "corpus.h"
#include "database.h"
#include "independent_decode.h"
#include "run_program.h"
#include "scratch_dir.h"

using namespace testkit;
namespace fs = std::filesystem;

TEST(Corpus, VerboseLinesMatchAnIndependentDecode) {
    SKIP_WITHOUT_CORPUS();
    const auto files = corpusFiles();
    for (const fs::path file : files) {
        int decoded = 0;
        const Outcome run = runProgram({"-v", "-r", file.string()});
        EXPECT_EQ(run.status, 0) << file;
        EXPECT_EQ(programLines(run.out), independentLines(file.string(), decoded)) << file;
    }
}

TEST(Corpus, DatabaseHoldsEveryDecodedFrameAndDistinctFlows) {
    SKIP_WITHOUT_CORPUS();
    const auto files = corpusFiles();
    ScratchDir dir;
    for (const fs::path file : files) {
        const std::string db = dir.path(file.filename().string() + ".db");
        int decoded = 0;
        independentLines(file.string(), decoded);
        const Outcome run = runProgram({"-r", file.string(), "-d", db});
        ASSERT_EQ(run.status, 0) << file;
        EXPECT_EQ(query(db, "SELECT count(*) FROM FRAMES"),
                  std::vector<std::string>{std::to_string(decoded)})
            << file;
        for (const std::string& name : query(db, "SELECT name FROM IPPROTO")) {
            const std::string flow = "\"" + name + "\"", raw = "\"" + name + "_raw\"";
            EXPECT_EQ(query(db, "SELECT * FROM " + flow + " ORDER BY 1,2,3,4,5,6,7,8"),
                      query(db, "SELECT DISTINCT * FROM " + raw + " ORDER BY 1,2,3,4,5,6,7,8"))
                << file << " " << name;
        }
    }
}
