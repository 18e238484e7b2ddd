// The report tests' runner, database maker and JSON reader.
#include "report_test_kit.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <set>
#include <sstream>

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

namespace {

// Nanoseconds of tshark's "1647506352.307108000".
std::int64_t nanoseconds(const std::string& seconds) {
    const std::size_t dot = seconds.find('.');
    std::string fraction = dot == std::string::npos ? "" : seconds.substr(dot + 1);
    fraction.resize(9, '0');
    return std::stoll(seconds.substr(0, dot)) * 1000000000 + std::stoll(fraction);
}

}  // namespace

Handshakes tsharkHandshakes(const std::string& capture) {
    const std::string command =
        "tshark -r '" + capture +
        "' --disable-protocol teredo -Y 'tcp.flags.syn == 1 && tcp.flags.ack == 1 && !icmp && "
        "!icmpv6' -T fields -e tcp.stream -e ip.src -e ipv6.src -e tcp.srcport -e ip.dst "
        "-e ipv6.dst -e tcp.dstport -e tcp.analysis.ack_rtt -e frame.time_epoch 2>/dev/null";
    std::FILE* pipe = popen(command.c_str(), "r");
    std::string out;
    char buffer[65536];
    for (std::size_t n; pipe && (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) {
        out.append(buffer, n);
    }
    if (pipe) {
        pclose(pipe);
    }
    Handshakes times;
    std::set<std::string> seen;  // pairs of ends met in an earlier stream
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
        // The SYN ACK goes from the server to the client.
        const std::string key = end(f[4], f[5], f[6]) + " > " + end(f[1], f[2], f[3]);
        if (seen.insert(key).second && !f[7].empty()) {
            // A database holds times to the microsecond, cut: the SYN's and the SYN ACK's times
            // of a trace of nanoseconds are cut before they are subtracted.
            const std::int64_t synAck = nanoseconds(f[8]), time = nanoseconds(f[7]);
            times[key] = synAck / 1000 - (synAck - time) / 1000;
        }
    }
    return times;
}

Handshakes reportHandshakes(const std::string& json) {
    Handshakes times;
    for (const std::string& row :
         jsonQuery(json, "SELECT value ->> 'client', value ->> 'server', value ->> 'handshake' "
                         "FROM json_each(?1, '$.conversations') "
                         "WHERE value ->> 'handshake' IS NOT NULL")) {
        const std::size_t first = row.find('|'), second = row.rfind('|');
        times[row.substr(0, first) + " > " + row.substr(first + 1, second - first - 1)] =
            std::llround(std::stod(row.substr(second + 1)) * 1e6);
    }
    return times;
}

}  // namespace reportkit
