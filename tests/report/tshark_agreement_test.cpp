// The conversations and endpoints agree with tshark's own tables (-z conv,tcp, conv,udp,
// conv,ip and endpoints,ip), frames and bytes, on captures whose IPv4 frames are all whole and
// unfragmented (see the corpus MANIFEST): the bundled web session and five real captures.
//
// Like is compared with like. tshark keeps a TCP conversation per stream, so a pair of ends
// used twice makes two of its rows: they are added up. Its IP conversation holds every
// protocol between two addresses: the report's conversations of all protocols between them
// are added up. tshark writes a byte count of 10,000 or more in kB (or MB, GB), cut, not
// rounded: the report's count must fall inside the range that the text stands for.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <regex>
#include <sstream>

#include "report_test_kit.h"

using namespace testkit;
using namespace reportkit;

namespace {

// What one end of a conversation sent, or one endpoint sent and received.
struct Sent {
    std::uint64_t frames = 0;
    std::uint64_t lowBytes = 0;  // the bytes lie in [lowBytes, highBytes]
    std::uint64_t highBytes = 0;
    bool operator==(const Sent&) const = default;
};
// Table -> "end <-> end" (ends in order) -> end -> what it sent.
using Tables = std::map<std::string, std::map<std::string, std::map<std::string, Sent>>>;

void add(Tables& tables, const std::string& table, const std::string& a, const std::string& b,
         const Sent& fromA, const Sent& fromB) {
    auto& ends = tables[table][a < b ? a + " <-> " + b : b + " <-> " + a];
    for (const auto& [end, sent] : {std::pair(a, fromA), std::pair(b, fromB)}) {
        Sent& total = ends[end];
        total.frames += sent.frames;
        total.lowBytes += sent.lowBytes;
        total.highBytes += sent.highBytes;
    }
}

Sent tsharkSent(const std::string& frames, const std::string& bytes, const std::string& unit) {
    const std::uint64_t scale = unit == "kB"   ? 1000
                                : unit == "MB" ? 1000000
                                : unit == "GB" ? 1000000000
                                               : 1;
    return {std::stoull(frames), std::stoull(bytes) * scale,
            std::stoull(bytes) * scale + scale - 1};
}

Tables tsharkTables(const std::string& capture) {
    const std::string command =
        "tshark -r '" + capture +
        "' -q -z conv,tcp,ip -z conv,udp,ip -z conv,ip -z endpoints,ip 2>/dev/null";
    std::FILE* pipe = popen(command.c_str(), "r");
    std::string out;
    char buffer[65536];
    for (std::size_t n; pipe && (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) {
        out.append(buffer, n);
    }
    if (pipe) {
        pclose(pipe);
    }
    static const std::regex conversation(
        R"(^(\S+) +<-> +(\S+) +(\d+) (\d+) (bytes|kB|MB|GB) +(\d+) (\d+) (bytes|kB|MB|GB) .*)");
    static const std::regex endpoint(R"(^([0-9.]+) +\d+ +\d+ +(\d+) +(\d+) +(\d+) +(\d+) *$)");
    Tables tables;
    std::string table;
    std::istringstream lines(out);
    for (std::string line; std::getline(lines, line);) {
        std::smatch m;
        if (line == "TCP Conversations" || line == "UDP Conversations" ||
            line == "IPv4 Conversations" || line == "IPv4 Endpoints") {
            table = line;
        } else if (std::regex_match(line, m, conversation)) {
            // "<-" is what B sent to A, "->" what A sent to B.
            add(tables, table, m[1], m[2], tsharkSent(m[6], m[7], m[8]),
                tsharkSent(m[3], m[4], m[5]));
        } else if (std::regex_match(line, m, endpoint)) {
            tables[table][m[1]] = {{"sent", tsharkSent(m[2], m[3], "bytes")},
                                   {"received", tsharkSent(m[4], m[5], "bytes")}};
        }
    }
    return tables;
}

std::vector<std::string> fields(const std::string& row) {
    std::vector<std::string> parts;
    std::istringstream in(row);
    for (std::string part; std::getline(in, part, '|');) {
        parts.push_back(part);
    }
    return parts;
}

Sent exact(const std::string& frames, const std::string& bytes) {
    return {std::stoull(frames), std::stoull(bytes), std::stoull(bytes)};
}

Tables reportTables(const std::string& json) {
    Tables tables;
    for (const std::string& row :
         jsonQuery(json, "SELECT value ->> 'protocol', value ->> 'a', value ->> 'b', "
                         "value ->> 'frames_a_to_b', value ->> 'bytes_a_to_b', "
                         "value ->> 'frames_b_to_a', value ->> 'bytes_b_to_a' "
                         "FROM json_each(?1, '$.conversations')")) {
        const auto f = fields(row);
        const Sent fromA = exact(f[3], f[4]), fromB = exact(f[5], f[6]);
        std::string a = f[1], b = f[2];
        if (f[0] == "TCP" || f[0] == "UDP") {
            add(tables, f[0] + " Conversations", a, b, fromA, fromB);
            a.erase(a.rfind(':'));
            b.erase(b.rfind(':'));
        }
        add(tables, "IPv4 Conversations", a, b, fromA, fromB);
    }
    for (const std::string& row :
         jsonQuery(json, "SELECT value ->> 'address', value ->> 'frames_sent', "
                         "value ->> 'bytes_sent', value ->> 'frames_received', "
                         "value ->> 'bytes_received' FROM json_each(?1, '$.endpoints')")) {
        const auto f = fields(row);
        tables["IPv4 Endpoints"][f[0]] = {{"sent", exact(f[1], f[2])},
                                          {"received", exact(f[3], f[4])}};
    }
    return tables;
}

}  // namespace

TEST(ReportTsharkAgreement, ConversationsAndEndpointsMatchTsharksTables) {
    if (std::system("tshark --version >/dev/null 2>&1") != 0) {
        GTEST_SKIP() << "tshark is not installed (apt-get install tshark)";
    }
    std::vector<std::string> captures = {std::string(TIDEWRACK_SAMPLES_DIR) + "/web-session.pcap"};
    for (const char* name : {"650HttpResponses.pcap", "netflix.pcap", "synscan.pcap",
                             "starcraft_battle.pcap", "alexa-app.pcapng"}) {
        const std::string path = std::string(TIDEWRACK_CORPUS_DIR) + "/" + name;
        if (std::filesystem::exists(path)) {
            captures.push_back(path);
        }
    }
    for (const std::string& capture : captures) {
        ScratchDir dir;
        makeDatabase(capture, dir.path("capture.db"));
        const Outcome run = runReport({"--json", "--top", "0", dir.path("capture.db")});
        ASSERT_EQ(run.status, 0) << run.err;
        Tables ours = reportTables(run.out), theirs = tsharkTables(capture);
        std::string counts;
        for (const std::string table :
             {"TCP Conversations", "UDP Conversations", "IPv4 Conversations", "IPv4 Endpoints"}) {
            const auto &mine = ours[table], &rows = theirs[table];
            EXPECT_EQ(mine.size(), rows.size()) << capture << ": " << table;
            for (const auto& [key, ends] : rows) {
                ASSERT_EQ(mine.count(key), 1u) << capture << ": " << table << " " << key;
                for (const auto& [end, sent] : ends) {
                    const Sent& got = mine.at(key).at(end);
                    EXPECT_EQ(got.frames, sent.frames) << capture << ": " << key << " from " << end;
                    EXPECT_TRUE(got.lowBytes >= sent.lowBytes && got.lowBytes <= sent.highBytes)
                        << capture << ": " << key << " from " << end << ": " << got.lowBytes
                        << " bytes, tshark " << sent.lowBytes << " to " << sent.highBytes;
                }
            }
            counts.append(" ").append(std::to_string(rows.size())).append(" ").append(table) += ';';
        }
        std::printf("%s:%s\n", std::filesystem::path(capture).filename().c_str(), counts.c_str());
    }
}
