// The conversations and endpoints agree with tshark's own tables (-z conv,tcp, conv,udp,
// conv,ip, endpoints,ip, conv,ipv6 and endpoints,ipv6), frames and bytes, on captures whose IP
// frames are all whole and unfragmented (see the corpus MANIFEST): the bundled web session and
// office LAN, and real captures, nine of them with IPv6 beside IPv4. The databases are made
// with tidewrack -x, which analyses IPv6 and tagged frames as tshark does.
//
// Like is compared with like. tshark keeps a TCP conversation per stream, so a pair of ends
// used twice makes two of its rows: they are added up. Its IP conversation holds every
// protocol between two addresses: the report's conversations of all protocols between them
// are added up. tshark writes a byte count of 10,000 or more in kB (or MB, GB), cut, not
// rounded: the report's count must fall inside the range that the text stands for. tshark
// writes an IPv6 end as address:port, where the report writes [address]:port. tidewrack reads
// no tunnel, so tshark is told not to read IPv6 inside UDP (Teredo) either.
#include <gtest/gtest.h>

#include <arpa/inet.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <map>
#include <regex>
#include <sstream>

#include "corpus.h"
#include "report_test_kit.h"
#include "tshark.h"

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

// tshark's tables of `capture`, of each of `filters` (display filters; empty for none), by
// filter.
std::map<std::string, Tables> tsharkTables(const std::string& capture,
                                           const std::vector<std::string>& filters = {""}) {
    std::string arguments = "-r '" + capture + "' --disable-protocol teredo -q";
    for (const std::string& filter : filters) {
        for (const char* table :
             {"conv,tcp", "conv,udp", "conv,ip", "endpoints,ip", "conv,ipv6", "endpoints,ipv6"}) {
            arguments += std::string(" -z '") + table + (filter.empty() ? "" : "," + filter) + "'";
        }
    }
    const std::string out = tsharkOutput(arguments);
    static const std::regex conversation(
        R"(^(\S+) +<-> +(\S+) +(\d+) (\d+) (bytes|kB|MB|GB) +(\d+) (\d+) (bytes|kB|MB|GB) .*)");
    static const std::regex endpoint(R"(^([0-9a-f.:]+) +\d+ +\d+ +(\d+) +(\d+) +(\d+) +(\d+) *$)");
    std::map<std::string, Tables> byFilter;
    std::string table, filter;
    std::istringstream lines(out);
    for (std::string line; std::getline(lines, line);) {
        std::smatch m;
        if (line == "TCP Conversations" || line == "UDP Conversations" ||
            line == "IPv4 Conversations" || line == "IPv4 Endpoints" ||
            line == "IPv6 Conversations" || line == "IPv6 Endpoints") {
            table = line;
        } else if (line.rfind("Filter:", 0) == 0) {
            filter = line == "Filter:<No Filter>" ? "" : line.substr(7);
            byFilter[filter][table];
        } else if (std::regex_match(line, m, conversation)) {
            // "<-" is what B sent to A, "->" what A sent to B.
            add(byFilter[filter], table, m[1], m[2], tsharkSent(m[6], m[7], m[8]),
                tsharkSent(m[3], m[4], m[5]));
        } else if (std::regex_match(line, m, endpoint)) {
            byFilter[filter][table][m[1]] = {{"sent", tsharkSent(m[2], m[3], "bytes")},
                                             {"received", tsharkSent(m[4], m[5], "bytes")}};
        }
    }
    return byFilter;
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

// An end as tshark writes it: "[2001:db8::1]:443" as "2001:db8::1:443".
std::string tsharkEnd(std::string end) {
    if (!end.empty() && end.front() == '[') {
        end.erase(end.find(']'), 1);
        end.erase(0, 1);
    }
    return end;
}

// An IPv6 end or address has more than one colon; so has the first end of an IPv6 row.
bool isIpv6(const std::string& text) {
    const std::string first = text.substr(0, text.find(' '));
    return std::count(first.begin(), first.end(), ':') > 1;
}

Tables reportTables(const std::string& json) {
    Tables tables;
    for (const std::string& row :
         jsonQuery(json, "SELECT value ->> 'protocol', value ->> 'a', value ->> 'b', "
                         "value ->> 'frames_a_to_b', value ->> 'bytes_a_to_b', "
                         "value ->> 'frames_b_to_a', value ->> 'bytes_b_to_a', "
                         "value ->> 'family' FROM json_each(?1, '$.conversations')")) {
        const auto f = fields(row);
        const Sent fromA = exact(f[3], f[4]), fromB = exact(f[5], f[6]);
        std::string a = tsharkEnd(f[1]), b = tsharkEnd(f[2]);
        if (f[0] == "TCP" || f[0] == "UDP") {
            add(tables, f[0] + " Conversations", a, b, fromA, fromB);
            a.erase(a.rfind(':'));
            b.erase(b.rfind(':'));
        }
        add(tables, f[7] + " Conversations", a, b, fromA, fromB);
    }
    for (const std::string& row :
         jsonQuery(json, "SELECT value ->> 'address', value ->> 'frames_sent', "
                         "value ->> 'bytes_sent', value ->> 'frames_received', "
                         "value ->> 'bytes_received' FROM json_each(?1, '$.endpoints')")) {
        const auto f = fields(row);
        tables[isIpv6(f[0]) ? "IPv6 Endpoints" : "IPv4 Endpoints"][f[0]] = {
            {"sent", exact(f[1], f[2])}, {"received", exact(f[3], f[4])}};
    }
    return tables;
}

// Expects the report's tables to be tshark's, and says how many rows they have, and how many
// of IPv6.
std::string expectSameTables(Tables& ours, Tables& theirs, const std::string& label) {
    std::string counts;
    for (const std::string table : {"TCP Conversations", "UDP Conversations", "IPv4 Conversations",
                                    "IPv4 Endpoints", "IPv6 Conversations", "IPv6 Endpoints"}) {
        const auto &mine = ours[table], &rows = theirs[table];
        EXPECT_EQ(mine.size(), rows.size()) << label << ": " << table;
        for (const auto& [key, ends] : rows) {
            EXPECT_EQ(mine.count(key), 1u) << label << ": " << table << " " << key;
            if (mine.count(key) == 0) {
                continue;
            }
            for (const auto& [end, sent] : ends) {
                const Sent& got = mine.at(key).at(end);
                EXPECT_EQ(got.frames, sent.frames) << label << ": " << key << " from " << end;
                EXPECT_TRUE(got.lowBytes >= sent.lowBytes && got.lowBytes <= sent.highBytes)
                    << label << ": " << key << " from " << end << ": " << got.lowBytes
                    << " bytes, tshark " << sent.lowBytes << " to " << sent.highBytes;
            }
        }
        // How many of them are of IPv6: all of the IPv6 tables', those of TCP and UDP with IPv6
        // ends.
        const auto six = std::count_if(rows.begin(), rows.end(),
                                       [](const auto& row) { return isIpv6(row.first); });
        counts.append(" ").append(std::to_string(rows.size())).append(" ").append(table);
        if (table.find("IPv") == std::string::npos) {
            counts.append(" (").append(std::to_string(six)).append(" of IPv6)");
        }
        counts += ';';
    }
    return counts;
}

std::vector<std::string> capturesOf(const std::vector<const char*>& names) {
    std::vector<std::string> captures = {std::string(TIDEWRACK_SAMPLES_DIR) + "/web-session.pcap",
                                         std::string(TIDEWRACK_SAMPLES_DIR) + "/office-lan.pcap"};
    for (const char* name : names) {
        if (const std::string path = corpusFile(name); !path.empty()) {
            captures.push_back(path);
        }
    }
    return captures;
}

// The /64 prefix of an IPv6 address: "2001:db8:20::/64" of 2001:db8:20::42.
std::string tsharkPrefix64(const std::string& address) {
    unsigned char bytes[16] = {};
    inet_pton(AF_INET6, address.c_str(), bytes);
    std::fill(bytes + 8, bytes + 16, 0);
    char text[INET6_ADDRSTRLEN];
    inet_ntop(AF_INET6, bytes, text, sizeof text);
    return std::string(text) + "/64";
}

// Microseconds since 1970 of "2024-12-08T12:00:01.500000Z".
std::int64_t epochMicroseconds(const std::string& iso) {
    std::tm utc{};
    strptime(iso.c_str(), "%Y-%m-%dT%H:%M:%S", &utc);
    return static_cast<std::int64_t>(timegm(&utc)) * 1000000 + std::stoll(iso.substr(20, 6));
}

// "2024-12-08 12:00:01.500000" and "1733659201.500000" of microseconds since 1970 (UTC).
std::pair<std::string, std::string> timeTexts(std::int64_t microseconds) {
    const std::time_t seconds = microseconds / 1000000;
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    char date[32], fraction[16];
    std::strftime(date, sizeof date, "%Y-%m-%d %H:%M:%S", &utc);
    std::snprintf(fraction, sizeof fraction, ".%06lld",
                  static_cast<long long>(microseconds % 1000000));
    return {std::string(date) + fraction, std::to_string(seconds) + fraction};
}

}  // namespace

TEST(ReportTsharkAgreement, ConversationsAndEndpointsMatchTsharksTables) {
    if (std::system("tshark --version >/dev/null 2>&1") != 0) {
        GTEST_SKIP() << "tshark is not installed (apt-get install tshark)";
    }
    for (const std::string& capture : capturesOf(
             {"650HttpResponses.pcap", "netflix.pcap", "synscan.pcap", "starcraft_battle.pcap",
              "alexa-app.pcapng", "quic_interop_V.pcapng", "test.pcap", "gateway_or_not.pcap",
              "many-protocols.pcap", "suricata-verify_smb2-ntlmssp-negotiateflags_input.pcap",
              "suricata-verify_output-eve-ftp-data_input.pcap",
              "suricata-verify_base64-decode-5885_input.pcap",
              "suricata-verify_tls-subjectaltname_input.pcap",
              "suricata-verify_eve-flow-esp_input.pcap"})) {
        ScratchDir dir;
        const Outcome made =
            runProgram({"-x", "-r", capture, "-d", dir.path("capture.db"), "-m", "2"});
        ASSERT_EQ(made.status, 0) << made.out;
        const Outcome run = runReport({"--json", "--top", "0", dir.path("capture.db")});
        ASSERT_EQ(run.status, 0) << run.err;
        Tables ours = reportTables(run.out), theirs = tsharkTables(capture)[""];
        std::printf("%s:%s\n", std::filesystem::path(capture).filename().c_str(),
                    expectSameTables(ours, theirs, capture).c_str());
    }
}

// The filters agree with tshark's display filters, the tables of each filtered as tshark filters
// them: --host with the capture's busiest address (ip.addr or ipv6.addr of the outer header,
// #1, since ICMP errors quote others), with the /64 of its busiest IPv6 address, --port with the
// busiest server port (tcp.port or udp.port, ICMP errors left out, as they quote ports too),
// --protocol with that port's protocol and that address, and --from and --to with the middle third
// of the capture's span, as dates and times and as times of day (frame.time_epoch).
TEST(ReportTsharkAgreement, FiltersMatchTsharksDisplayFilters) {
    if (std::system("tshark --version >/dev/null 2>&1") != 0) {
        GTEST_SKIP() << "tshark is not installed (apt-get install tshark)";
    }
    std::size_t compared = 0;
    for (const std::string& capture : capturesOf(
             {"650HttpResponses.pcap", "netflix.pcap", "alexa-app.pcapng", "quic_interop_V.pcapng",
              "suricata-verify_smb2-ntlmssp-negotiateflags_input.pcap"})) {
        ScratchDir dir;
        makeExtendedDatabase(capture, dir.path("capture.db"));
        const std::string all = runReport({"--json", dir.path("capture.db")}).out;
        const auto first = [&](const std::string& sql) { return jsonQuery(all, sql).at(0); };
        const std::string host = first("SELECT ?1 ->> '$.endpoints[0].address'");
        const std::string hostField = host.find(':') == std::string::npos ? "ip.addr" : "ipv6.addr";
        const std::string port = first("SELECT ?1 ->> '$.services_by_traffic[0].port'");
        const std::string protocol = first("SELECT ?1 ->> '$.services_by_traffic[0].protocol'");
        const std::int64_t span[] = {
            epochMicroseconds(first("SELECT ?1 ->> '$.summary.first_utc'")),
            epochMicroseconds(first("SELECT ?1 ->> '$.summary.last_utc'"))};
        const std::int64_t start = span[0] + (span[1] - span[0]) / 3,
                           end = span[0] + (span[1] - span[0]) * 2 / 3;
        const auto [from, fromEpoch] = timeTexts(start);
        const auto [to, toEpoch] = timeTexts(end);
        const std::string window =
            "frame.time_epoch >= " + fromEpoch + " && frame.time_epoch < " + toEpoch;
        std::vector<std::pair<std::vector<std::string>, std::string>> filters = {
            {{"--host", host}, hostField + "#1 == " + host},
            {{"--port", port},
             "(tcp.port == " + port + " || udp.port == " + port + ") && !icmp && !icmpv6"},
            {{"--protocol", protocol, "--host", host},
             (protocol == "TCP" ? "tcp" : "udp") + std::string(" && !icmp && !icmpv6 && ") +
                 hostField + "#1 == " + host},
            {{"--from", from, "--to", to}, window},
        };
        if (from.substr(0, 10) == to.substr(0, 10)) {
            filters.push_back({{"--from", from.substr(11), "--to", to.substr(11)}, window});
        }
        const std::vector<std::string> six =
            jsonQuery(all, "SELECT value ->> 'address' FROM json_each(?1, '$.endpoints') "
                           "WHERE value ->> 'address' LIKE '%:%' LIMIT 1");
        if (!six.empty()) {
            // The /64 of the address: its first four groups, each of them as written.
            const std::string prefix = std::string(tsharkPrefix64(six[0]));
            filters.push_back({{"--host", prefix}, "ipv6.addr#1 == " + prefix});
        }
        std::vector<std::string> displayFilters;
        for (const auto& f : filters) {
            if (std::find(displayFilters.begin(), displayFilters.end(), f.second) ==
                displayFilters.end()) {
                displayFilters.push_back(f.second);
            }
        }
        std::map<std::string, Tables> theirs = tsharkTables(capture, displayFilters);
        for (const auto& [options, displayFilter] : filters) {
            std::vector<std::string> args = {"--json", "--top", "0"};
            args.insert(args.end(), options.begin(), options.end());
            args.push_back(dir.path("capture.db"));
            const Outcome run = runReport(args);
            ASSERT_EQ(run.status, 0) << run.err;
            Tables ours = reportTables(run.out);
            ASSERT_EQ(theirs.count(displayFilter), 1u) << displayFilter;
            const std::string counts =
                expectSameTables(ours, theirs[displayFilter], capture + " " + displayFilter);
            EXPECT_FALSE(ours["IPv4 Endpoints"].empty() && ours["IPv6 Endpoints"].empty())
                << capture << " " << displayFilter << ": nothing passed";
            std::printf("%s, %s:%s\n", std::filesystem::path(capture).filename().c_str(),
                        displayFilter.c_str(), counts.c_str());
            ++compared;
        }
    }
    std::printf("%zu filtered reports compared\n", compared);
}

// The active time and the peaks over a second agree with tshark's frame times and lengths (of
// the frames with an IP header): the active time is the sum of the steps between successive
// times, in time order, of an hour at most; a peak is the most bytes (and frames) of a whole
// second. 1kxun.pcap holds two days six years apart.
TEST(ReportTsharkAgreement, ActiveTimeAndPeaksMatchTsharksFrameTimes) {
    if (std::system("tshark --version >/dev/null 2>&1") != 0) {
        GTEST_SKIP() << "tshark is not installed (apt-get install tshark)";
    }
    for (const std::string& capture :
         capturesOf({"1kxun.pcap", "netflix.pcap", "alexa-app.pcapng", "650HttpResponses.pcap"})) {
        std::vector<std::pair<std::int64_t, std::uint64_t>> frames;  // microseconds, bytes
        for (const auto& row :
             tsharkFields(capture, {"frame.time_epoch", "frame.len", "ip.src", "ipv6.src"})) {
            if (row.size() == 4 && (!row[2].empty() || !row[3].empty())) {
                const std::size_t dot = row[0].find('.');
                frames.emplace_back(
                    std::stoll(row[0].substr(0, dot)) * 1000000 +
                        std::stoll((row[0].substr(dot + 1) + "000000").substr(0, 6)),
                    std::stoull(row[1]));
            }
        }
        std::sort(frames.begin(), frames.end());
        std::int64_t active = 0;
        std::map<std::int64_t, std::pair<std::uint64_t, std::uint64_t>> seconds;  // bytes, frames
        for (std::size_t i = 0; i < frames.size(); ++i) {
            if (i > 0 && frames[i].first - frames[i - 1].first <= 3600000000) {
                active += frames[i].first - frames[i - 1].first;
            }
            auto& second = seconds[frames[i].first / 1000000];
            second.first += frames[i].second;
            ++second.second;
        }
        std::int64_t peakAt = 0;
        std::uint64_t peakBytes = 0, peakFrames = 0;
        for (const auto& [second, counts] : seconds) {
            if (counts.first > peakBytes) {
                peakBytes = counts.first;
                peakAt = second;
            }
            peakFrames = std::max(peakFrames, counts.second);
        }
        ScratchDir dir;
        makeExtendedDatabase(capture, dir.path("capture.db"));
        const Outcome run = runReport({"--json", dir.path("capture.db")});
        ASSERT_EQ(run.status, 0) << run.err;
        const std::string name = std::filesystem::path(capture).filename().string();
        const std::string peakSecond = timeTexts(peakAt * 1000000).first;
        EXPECT_EQ(jsonQuery(run.out, "SELECT ?1 ->> '$.summary.frames', "
                                     "round(?1 ->> '$.summary.active', 3), "
                                     "?1 ->> '$.timeline.peak_bits_per_second', "
                                     "?1 ->> '$.timeline.peak_frames_per_second', "
                                     "?1 ->> '$.timeline.peak_at_utc'"),
                  std::vector<std::string>{
                      std::to_string(frames.size()) + "|" +
                      jsonQuery("{}", "SELECT round(" + std::to_string(active) + " / 1e6, 3)")[0] +
                      "|" + std::to_string(peakBytes * 8) + ".0|" + std::to_string(peakFrames) +
                      ".0|" + peakSecond.substr(0, 10) + "T" + peakSecond.substr(11) + "Z"})
            << name;
        std::printf("%s: %zu frames, active %.3f s, peak %llu bytes in a second\n", name.c_str(),
                    frames.size(), static_cast<double>(active) / 1e6,
                    static_cast<unsigned long long>(peakBytes));
    }
}
