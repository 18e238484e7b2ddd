// Real captures made by others: every capture of the shared corpus is read without a crash,
// the verbose lines agree with an independent reading of the bytes, and the database holds
// one frame row per decoded frame and flow tables equal to the distinct raw rows.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "database.h"
#include "independent_decode.h"
#include "run_program.h"
#include "scratch_dir.h"

using namespace testkit;
namespace fs = std::filesystem;

namespace {

std::vector<fs::path> corpusFiles() {
    std::vector<fs::path> files;
    if (fs::is_directory(TIDEWRACK_CORPUS_DIR)) {
        for (const auto& entry : fs::directory_iterator(TIDEWRACK_CORPUS_DIR)) {
            const auto ext = entry.path().extension();
            if (ext == ".pcap" || ext == ".pcapng") {
                files.push_back(entry.path());
            }
        }
    }
    std::sort(files.begin(), files.end());
    return files;
}

}  // namespace

TEST(Corpus, VerboseLinesMatchAnIndependentDecode) {
    const auto files = corpusFiles();
    if (files.empty()) {
        GTEST_SKIP() << "no corpus at " << TIDEWRACK_CORPUS_DIR;
    }
    for (const fs::path& file : files) {
        int decoded = 0;
        const Outcome run = runProgram({"-v", "-r", file.string()});
        EXPECT_EQ(run.status, 0) << file;
        EXPECT_EQ(programLines(run.out), independentLines(file.string(), decoded)) << file;
    }
}

TEST(Corpus, DatabaseHoldsEveryDecodedFrameAndDistinctFlows) {
    const auto files = corpusFiles();
    if (files.empty()) {
        GTEST_SKIP() << "no corpus at " << TIDEWRACK_CORPUS_DIR;
    }
    ScratchDir dir;
    for (const fs::path& file : files) {
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
