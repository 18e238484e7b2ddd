// Real captures made by others: every capture of the shared corpus is read without a crash,
// the verbose lines agree with an independent reading of the bytes, and the database holds
// one frame row per decoded frame and flow tables equal to the distinct raw rows.
#include <gtest/gtest.h>
#include <pcap/pcap.h>

#include <filesystem>
#include <sstream>

#include "capture/protocol_names.h"
#include "database.h"
#include "program.h"

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

// The packet lines expected for a trace, from its bytes read here with no help from the
// program: "<protocol> a.b.c.d:port  ->  e.f.g.h:port" for each record matching "ip", or the
// truncated-frame text.
std::vector<std::string> independentLines(const fs::path& file, int& decoded) {
    char error[PCAP_ERRBUF_SIZE];
    pcap_t* in = pcap_open_offline(file.c_str(), error);
    std::vector<std::string> lines;
    if (in == nullptr) {
        return lines;
    }
    bpf_program ip{};
    const bool filtered = pcap_compile(in, &ip, "ip", 1, PCAP_NETMASK_UNKNOWN) == 0;
    pcap_pkthdr* h;
    const u_char* d;
    while (pcap_next_ex(in, &h, &d) == 1) {
        if (filtered && !pcap_offline_filter(&ip, h, d)) {
            continue;
        }
        std::ostringstream line;
        if (h->caplen < 34) {
            line << "truncated frame (" << h->caplen << " bytes)";
        } else {
            ++decoded;
            const unsigned t = 14 + (d[14] & 15) * 4;
            const auto port = [&](unsigned at) {
                return at + 2 <= h->caplen ? d[at] * 256 + d[at + 1] : 0;
            };
            line << tidewrack::DecoderProtocolNameTable[d[23]] << ' ' << +d[26] << '.' << +d[27]
                 << '.' << +d[28] << '.' << +d[29] << ':' << port(t) << "  ->  " << +d[30] << '.'
                 << +d[31] << '.' << +d[32] << '.' << +d[33] << ':' << port(t + 2);
        }
        lines.push_back(line.str());
    }
    pcap_freecode(&ip);
    pcap_close(in);
    return lines;
}

// The program's packet lines without their "n: hh:mm:ss.uuuuuu " prefix.
std::vector<std::string> programLines(const std::string& out) {
    std::vector<std::string> lines;
    std::istringstream in(out);
    std::string line;
    for (int n = 1; std::getline(in, line);) {
        const std::string prefix = std::to_string(n) + ": ";
        if (line.rfind(prefix, 0) == 0) {
            lines.push_back(line.substr(line.find(' ', prefix.size()) + 1));
            ++n;
        }
    }
    return lines;
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
        EXPECT_EQ(programLines(run.out), independentLines(file, decoded)) << file;
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
        independentLines(file, decoded);
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
