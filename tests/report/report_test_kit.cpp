// The report tests' runner, database maker and JSON reader.
#include "report_test_kit.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <set>
#include <sstream>

#include "database.h"
#include "tshark.h"

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

std::vector<std::string> sectionIds() {
    const testkit::Outcome list = runReport({"--csv", "list"});
    EXPECT_EQ(list.status, 0) << list.err;
    std::vector<std::string> ids;
    std::istringstream lines(list.out);
    for (std::string id; std::getline(lines, id);) {
        ids.push_back(id);
    }
    return ids;
}

void makeDatabase(const std::string& trace, const std::string& database, int mode) {
    const testkit::Outcome run =
        testkit::runProgram({"-r", trace, "-d", database, "-m", std::to_string(mode)});
    ASSERT_EQ(run.status, 0) << run.out;
}

void makeExtendedDatabase(const std::string& trace, const std::string& database,
                          const std::string& zone, int mode) {
    const std::string tidewrack =
        std::filesystem::path(TIDEWRACK_REPORT_BINARY).parent_path() / "tidewrack";
    const testkit::Outcome run =
        testkit::runBinary("/usr/bin/env", {"TZ=" + zone, tidewrack, "-x", "-m",
                                            std::to_string(mode), "-r", trace, "-d", database});
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

namespace {

// Nanoseconds of tshark's "1647506352.307108000".
std::int64_t nanoseconds(const std::string& seconds) {
    const std::size_t dot = seconds.find('.');
    std::string fraction = dot == std::string::npos ? "" : seconds.substr(dot + 1);
    fraction.resize(9, '0');
    return std::stoll(seconds.substr(0, dot)) * 1000000000 + std::stoll(fraction);
}

}  // namespace

TsharkHandshakes tsharkHandshakes(const std::string& capture) {
    const std::string out = testkit::tsharkOutput(
        "-r '" + capture +
        "' --disable-protocol teredo -Y 'tcp.flags.syn == 1 && !icmp && !icmpv6' -T fields "
        "-e tcp.flags -e ip.src -e ipv6.src -e tcp.srcport -e ip.dst -e ipv6.dst -e tcp.dstport "
        "-e tcp.analysis.ack_rtt -e frame.time_epoch");
    TsharkHandshakes handshakes;
    std::map<std::string, std::vector<std::int64_t>> syns;  // the clients' SYNs, nanoseconds
    std::set<std::string> seen;                             // pairs whose SYN ACK came
    std::map<std::string, std::int64_t> firstSynAck;        // its time, nanoseconds
    std::istringstream lines(out);
    for (std::string line; std::getline(lines, line);) {
        std::vector<std::string> f;
        std::istringstream fields(line);
        for (std::string field; std::getline(fields, field, '\t');) {
            f.push_back(field);
        }
        f.resize(9);
        const auto end = [](const std::string& four, const std::string& six,
                            const std::string& port) {
            return (six.empty() ? four : "[" + six + "]") + ":" + port;
        };
        const std::string source = end(f[1], f[2], f[3]), destination = end(f[4], f[5], f[6]);
        const std::int64_t time = nanoseconds(f[8]);
        if ((std::stoi(f[0], nullptr, 16) & 0x10) == 0) {
            syns[source + " > " + destination].push_back(time);
            ++handshakes.syns[source + " > " + destination];
            continue;
        }
        // The SYN ACK goes from the server to the client. A database holds times to the
        // microsecond, cut: the times of a trace of nanoseconds are cut before they are
        // subtracted.
        const std::string key = destination + " > " + source;
        if (!seen.insert(key).second) {
            continue;
        }
        firstSynAck[key] = time;
        std::int64_t last = -1;
        int before = 0;
        for (const std::int64_t syn : syns[key]) {
            if (syn <= time) {
                last = std::max(last, syn);
                ++before;
            }
        }
        if (before > 0) {
            handshakes.fromLastSyn[key] = time / 1000 - last / 1000;
        }
        if (before > 1) {
            handshakes.sentAgain.insert(key);
        }
        if (!f[7].empty()) {
            handshakes.ackRtt[key] = time / 1000 - (time - nanoseconds(f[7])) / 1000;
        }
    }
    // The SYNs of the whole capture: one sent after the SYN ACK in capture order may be the
    // earlier by its time.
    for (const auto& [key, time] : firstSynAck) {
        const auto sent = syns.find(key);
        if (sent != syns.end() && !sent->second.empty()) {
            const std::int64_t first = *std::min_element(sent->second.begin(), sent->second.end());
            if (first <= time) {
                handshakes.connect[key] = time / 1000 - first / 1000;
            }
        }
    }
    return handshakes;
}

namespace {

// A member of the report's TCP conversations by "client > server", of those where it is not
// null, its value read by `value`.
template <typename Value>
std::map<std::string, std::int64_t> byClientAndServer(const std::string& json,
                                                      const std::string& member, Value value) {
    std::map<std::string, std::int64_t> values;
    for (const std::string& row :
         jsonQuery(json, "SELECT value ->> 'client', value ->> 'server', value ->> '" + member +
                             "' FROM json_each(?1, '$.conversations') "
                             "WHERE value ->> 'client' IS NOT NULL AND value ->> '" +
                             member + "' IS NOT NULL")) {
        const std::size_t first = row.find('|'), second = row.rfind('|');
        values[row.substr(0, first) + " > " + row.substr(first + 1, second - first - 1)] =
            value(row.substr(second + 1));
    }
    return values;
}

}  // namespace

Handshakes reportHandshakes(const std::string& json, const std::string& member) {
    return byClientAndServer(json, member, [](const std::string& seconds) {
        return std::llround(std::stod(seconds) * 1e6);
    });
}

std::map<std::string, std::int64_t> reportSyns(const std::string& json) {
    return byClientAndServer(json, "syns",
                             [](const std::string& count) { return std::stoll(count); });
}

}  // namespace reportkit
