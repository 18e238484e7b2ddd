// The extended record of real captures against tshark's reading of the same frames: the times
// of the first and last frame, every analysed frame's local date, the frames not analysed by
// kind, the VLANs, the addresses and ports of tagged IPv4 frames, and every IPv6 frame's row;
// then the same IPv4 and IPv6 frames moved under Linux cooked and raw IP headers.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <map>

#include "corpus.h"
#include "database.h"
#include "run_program.h"
#include "scratch_dir.h"
#include "tracekit/frames.h"
#include "tshark.h"

using namespace testkit;
using Rows = std::vector<std::string>;

namespace {

// Captures with frames of many kinds, VLAN tags, pcapng, odd timestamps and fuzzed records.
const char* const captures[] = {
    "alexa-app.pcapng",
    "babel_update_oobr.pcap",
    "eapon1.pcap",
    "fuzz-2006-09-29-28586.pcap",
    "fuzz-2020-02-16-11740.pcap",
    "gateway_or_not.pcap",
    "icmp_dot1q.pcap",
    "many-protocols.pcap",
    "PcapsTest.testOpenOfflineWithTimestampPrecision.pcap",
    "quic_interop_V.pcapng",
    "snmp.pcap",
    "suricata-verify_base64-decode-5885_input.pcap",
    "suricata-verify_eve-flow-esp_input.pcap",
    "suricata-verify_output-eve-ftp-data_input.pcap",
    "suricata-verify_smb2-ntlmssp-negotiateflags_input.pcap",
    "suricata-verify_tls-subjectaltname_input.pcap",
    "syslog.pcap",
    "test.pcap",
    "time_2106_overflow.pcapng",
};

// Five hours west of UTC, with summer time: dates that differ from UTC's around midnight.
const std::string zone = "EST5EDT,M3.2.0,M11.1.0";

const std::vector<std::string> fields = {
    "frame.number", "frame.time_epoch", "frame.time",      "frame.len",   "frame.cap_len",
    "eth.type",     "vlan.etype",       "vlan.id",         "ip.src",      "ip.dst",
    "tcp.srcport",  "tcp.dstport",      "udp.srcport",     "udp.dstport", "ip.proto",
    "ipv6.src",     "ipv6.dst",         "frame.protocols", "tcp.flags",   "icmpv6.type",
    "icmpv6.code",  "icmpv6.checksum",
};
enum Field {
    Number,
    Epoch,
    Time,
    Length,
    Captured,
    EthType,
    VlanType,
    VlanId,
    Source,
    Destination,
    TcpSource,
    TcpDestination,
    UdpSource,
    UdpDestination,
    Protocol,
    Source6,
    Destination6,
    Layers,
    TcpFlags,
    Icmp6Type,
    Icmp6Code,
    Icmp6Checksum,
};

// tshark's epoch time "1213957237.965649000" as the extended record writes it.
std::string isoTime(const std::string& epoch) {
    const std::time_t seconds = std::stoll(epoch.substr(0, epoch.find('.')));
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    char text[64];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &utc);
    return text + epoch.substr(epoch.find('.'), 7) + "Z";
}

// tshark's local time "Jun 20, 2008 06:20:37.965649000 EDT" as a date.
std::string localDate(const std::string& time) {
    static const std::string months = "JanFebMarAprMayJunJulAugSepOctNovDec";
    char month[4] = {};
    int day = 0, year = 0;
    if (std::sscanf(time.c_str(), "%3s %d, %d", month, &day, &year) != 3) {
        return "?";
    }
    char text[48];
    std::snprintf(text, sizeof text, "%04d-%02zu-%02d", year, months.find(month) / 3 + 1, day);
    return text;
}

std::vector<std::string> split(const std::string& text) {
    std::vector<std::string> parts;
    for (std::size_t start = 0, end; start <= text.size() && !text.empty(); start = end + 1) {
        end = std::min(text.find(',', start), text.size());
        parts.push_back(text.substr(start, end - start));
    }
    return parts;
}

// The first of a field's values: the outer header's, when an ICMP error quotes another.
std::string outer(const std::string& values) {
    return values.substr(0, values.find(','));
}

// The port of a TCP or UDP packet (from the tcp or the udp field); none for other protocols,
// whose quoted headers tshark decodes too.
std::string ports(const std::string& protocols, const std::string& tcp, const std::string& udp) {
    const std::string protocol = outer(protocols);
    return protocol == "6" ? outer(tcp) : protocol == "17" ? outer(udp) : "";
}

// The FRAMES6 row that tshark's reading of an IPv6 frame gives: "frame|source|destination|
// protocol|source port|destination port|flags|length", with "*" where tshark does not tell
// (an upper layer it names in its own way, ports of other protocols, a later fragment).
std::string ipv6Row(const std::vector<std::string>& f) {
    static const std::map<std::string, std::string> names = {
        {"tcp", "TCP"}, {"udp", "UDP"}, {"icmpv6", "IPv6-ICMP"}, {"esp", "ESP"}, {"sctp", "SCTP"},
        {"gre", "GRE"}, {"ip", "IP"},   {"ipv6", "IPv6"}};
    std::vector<std::string> layers;
    for (std::size_t start = 0, end; start < f[Layers].size(); start = end + 1) {
        end = std::min(f[Layers].find(':', start), f[Layers].size());
        layers.push_back(f[Layers].substr(start, end - start));
    }
    std::size_t at = std::find(layers.begin(), layers.end(), "ipv6") - layers.begin() + 1;
    while (at < layers.size() && (layers[at].starts_with("ipv6.") || layers[at] == "ah")) {
        ++at;
    }
    const auto name = at < layers.size() ? names.find(layers[at]) : names.end();
    const std::string protocol = name == names.end() ? "*" : name->second;
    std::string source = "*", destination = "*", flags;
    if (protocol == "TCP") {
        source = outer(f[TcpSource]), destination = outer(f[TcpDestination]);
        const unsigned bits = std::stoul(outer(f[TcpFlags]), nullptr, 16);
        const char* flagNames[] = {"FIN ", "SYN ", "RST ", "PSH ", "ACK ", "URG ", "ECE ", "CWR "};
        for (int bit = 0; bit < 8; ++bit) {
            flags += (bits >> bit & 1) != 0 ? flagNames[bit] : "";
        }
    } else if (protocol == "UDP") {
        source = outer(f[UdpSource]), destination = outer(f[UdpDestination]);
    } else if (protocol == "IPv6-ICMP") {
        source =
            std::to_string(std::stoi(outer(f[Icmp6Type])) * 256 + std::stoi(outer(f[Icmp6Code])));
        destination = std::to_string(std::stoul(outer(f[Icmp6Checksum]), nullptr, 16));
    }
    return f[Number] + "|" + outer(f[Source6]) + "|" + outer(f[Destination6]) + "|" + protocol +
           "|" + source + "|" + destination + "|" + flags + "|" + f[Length];
}

// The differences between the rows and the expected ones, where "*" stands for anything.
Rows differences(const Rows& actual, const Rows& expected) {
    Rows found;
    const auto fields = [](const std::string& row) {
        std::vector<std::string> parts;
        for (std::size_t start = 0, end;; start = end + 1) {
            end = std::min(row.find('|', start), row.size());
            parts.push_back(row.substr(start, end - start));
            if (end == row.size()) {
                return parts;
            }
        }
    };
    for (std::size_t i = 0; i < std::max(actual.size(), expected.size()) && found.size() < 10;
         ++i) {
        const auto a = i < actual.size() ? fields(actual[i]) : std::vector<std::string>();
        const auto e = i < expected.size() ? fields(expected[i]) : std::vector<std::string>();
        bool same = a.size() == e.size();
        for (std::size_t k = 0; same && k < a.size(); ++k) {
            same = e[k] == "*" || a[k] == e[k];
        }
        if (!same) {
            found.push_back((i < actual.size() ? actual[i] : "(none)") +
                            "  tshark: " + (i < expected.size() ? expected[i] : "(none)"));
        }
    }
    return found;
}

struct Expected {
    std::map<std::string, std::pair<std::uint64_t, std::uint64_t>> notAnalysed;
    std::map<int, std::pair<std::uint64_t, std::uint64_t>> vlans;
    std::map<int, std::string> dates;  // of the analysed frames
    Rows taggedFrames;                 // "frame|source|destination|source port|destination port"
    Rows ipv6Frames;                   // as ipv6Row gives them
};

// What the extended record should hold, by tshark's reading of each frame's EtherTypes.
Expected expectedOf(const std::vector<std::vector<std::string>>& frames) {
    Expected expected;
    for (const auto& f : frames) {
        const std::uint64_t length = std::stoull(f[Length]), captured = std::stoull(f[Captured]);
        const auto count = [&](const std::string& kind) {
            auto& [framesOf, bytes] = expected.notAnalysed[kind];
            ++framesOf;
            bytes += length;
        };
        std::vector<std::string> types = split(f[EthType]);
        for (const std::string& inner : split(f[VlanType])) {
            types.push_back(inner);
        }
        std::size_t tags = 0;
        while (tags < 2 && tags < types.size() &&
               (types[tags] == "0x8100" || types[tags] == "0x88a8" || types[tags] == "0x9100")) {
            ++tags;
        }
        if (tags > 0) {
            auto& [framesOf, bytes] = expected.vlans[std::stoi(split(f[VlanId])[0])];
            ++framesOf;
            bytes += length;
        }
        const std::uint64_t network = 14 + 4 * tags;
        if (captured < 14 || (tags > 0 && captured < network)) {
            count("too short to decode");
        } else if (types.empty() || tags >= types.size()) {
            count("LLC");  // a length (eth.len, vlan.len) where the EtherType would be
        } else if (types[tags] == "0x0800") {
            if (captured < network + 20) {
                count("too short to decode");
                continue;
            }
            expected.dates[std::stoi(f[Number])] = localDate(f[Time]);
            if (tags > 0) {
                expected.taggedFrames.push_back(
                    f[Number] + "|" + outer(f[Source]) + "|" + outer(f[Destination]) + "|" +
                    ports(f[Protocol], f[TcpSource], f[UdpSource]) + "|" +
                    ports(f[Protocol], f[TcpDestination], f[UdpDestination]));
            }
        } else if (types[tags] == "0x86dd") {
            if (captured < network + 40) {
                count("malformed IPv6");
                continue;
            }
            expected.dates[std::stoi(f[Number])] = localDate(f[Time]);
            expected.ipv6Frames.push_back(ipv6Row(f));
        } else if (types[tags] == "0x0806") {
            count("ARP");
        } else {
            count("EtherType " + types[tags]);
        }
    }
    return expected;
}

class ExtendedCorpus : public ::testing::Test {
  protected:
    void SetUp() override {
        SKIP_WITHOUT_CORPUS();
        if (!tsharkInstalled()) {
            GTEST_SKIP() << "tshark is not installed";
        }
    }
    // Runs tidewrack -x on `trace` into the database, in the test's time zone.
    void analyse(const std::string& trace) {
        std::filesystem::remove(db);
        const Outcome run = runBinary("/usr/bin/env", {"TZ=" + zone, TIDEWRACK_BINARY, "-x", "-r",
                                                       trace, "-d", db, "-m", "2"});
        ASSERT_EQ(run.status, 0) << trace << run.out;
    }
    ScratchDir dir;
    const std::string db = dir.path("x.db");
};

}  // namespace

TEST_F(ExtendedCorpus, TimesDatesKindsAndVlansAgreeWithTshark) {
    for (const char* name : captures) {
        SCOPED_TRACE(name);
        const std::string trace = corpusFile(name);
        ASSERT_NE(trace, "") << "not in the corpus";
        const auto frames = tsharkFields(trace, fields, zone);
        ASSERT_FALSE(frames.empty());
        analyse(trace);
        const Expected expected = expectedOf(frames);

        EXPECT_EQ(query(db, "SELECT first_utc, last_utc, frames_delivered FROM CAPTURE"),
                  Rows{isoTime(frames.front()[Epoch]) + "|" + isoTime(frames.back()[Epoch]) + "|" +
                       std::to_string(frames.size())});
        Rows dates;
        for (const auto& [frame, date] : expected.dates) {
            dates.push_back(std::to_string(frame) + "|" + date);
        }
        EXPECT_EQ(query(db, "SELECT f.frame, d.date FROM (SELECT frame FROM frames UNION ALL "
                            "SELECT frame FROM FRAMES6) AS f JOIN DAYS AS d ON d.frame = "
                            "(SELECT max(frame) FROM DAYS WHERE frame <= f.frame) ORDER BY 1"),
                  dates);
        EXPECT_EQ(differences(query(db, "SELECT frame, sIP, dIP, ipproto, sPort, dPort, flags, "
                                        "len FROM FRAMES6 ORDER BY frame"),
                              expected.ipv6Frames),
                  Rows{});
        Rows kinds;
        for (const auto& [kind, counts] : expected.notAnalysed) {
            kinds.push_back(kind + "|" + std::to_string(counts.first) + "|" +
                            std::to_string(counts.second));
        }
        EXPECT_EQ(query(db, "SELECT * FROM NOT_ANALYSED ORDER BY kind"), kinds);
        Rows vlans;
        for (const auto& [vlan, counts] : expected.vlans) {
            vlans.push_back(std::to_string(vlan) + "|" + std::to_string(counts.first) + "|" +
                            std::to_string(counts.second));
        }
        EXPECT_EQ(query(db, "SELECT * FROM VLANS ORDER BY vlan"), vlans);
        std::string tagged = "SELECT frame, printf('%d.%d.%d.%d', sIP1, sIP2, sIP3, sIP4), "
                             "printf('%d.%d.%d.%d', dIP1, dIP2, dIP3, dIP4), "
                             "CASE WHEN ipproto IN ('TCP', 'UDP') THEN sPort ELSE '' END, "
                             "CASE WHEN ipproto IN ('TCP', 'UDP') THEN dPort ELSE '' END "
                             "FROM frames WHERE frame IN (0";
        for (const std::string& row : expected.taggedFrames) {
            tagged += ',';
            tagged += row.substr(0, row.find('|'));
        }
        tagged += ") ORDER BY frame";
        EXPECT_EQ(query(db, tagged), expected.taggedFrames);
    }
}

// The IPv4 and IPv6 frames of a real capture, moved under Linux cooked (v1, v2) and raw IP
// headers, decode as tshark decodes them.
TEST_F(ExtendedCorpus, CookedAndRawIpTracesDecodeAsTsharkDecodesThem) {
    const auto original = tracekit::readTrace(corpusFile("alexa-app.pcapng"));
    ASSERT_FALSE(original.empty());
    const struct {
        int linkType;
        tracekit::Bytes (*wrap)(const tracekit::Bytes&);
    } types[] = {
        {DLT_LINUX_SLL, [](const tracekit::Bytes& f) { return tracekit::cookedFrame(f, 1); }},
        {DLT_LINUX_SLL2, [](const tracekit::Bytes& f) { return tracekit::cookedFrame(f, 2); }},
        {DLT_RAW, tracekit::rawIpFrame},
    };
    for (const auto& type : types) {
        SCOPED_TRACE(type.linkType);
        std::vector<tracekit::Record> records;
        for (const auto& record : original) {
            const tracekit::Bytes& f = record.bytes;
            const bool ip = f.size() >= 14 &&
                            ((f[12] == 0x08 && f[13] == 0x00) || (f[12] == 0x86 && f[13] == 0xDD));
            if (ip && f.size() == record.header.caplen) {
                records.push_back(
                    {type.wrap(f), record.header.ts.tv_sec, record.header.ts.tv_usec});
            }
        }
        const std::string trace = dir.path("moved.pcap");
        tracekit::writeTrace(trace, records, type.linkType);
        analyse(trace);
        Rows expected;
        for (const auto& f :
             tsharkFields(trace, {"frame.number", "ip.src", "ip.dst", "ip.proto", "tcp.srcport",
                                  "tcp.dstport", "udp.srcport", "udp.dstport"})) {
            if (!f[1].empty()) {
                expected.push_back(f[0] + "|" + outer(f[1]) + "|" + outer(f[2]) + "|" +
                                   ports(f[3], f[4], f[6]) + "|" + ports(f[3], f[5], f[7]));
            }
        }
        EXPECT_EQ(query(db, "SELECT frame, printf('%d.%d.%d.%d', sIP1, sIP2, sIP3, sIP4), "
                            "printf('%d.%d.%d.%d', dIP1, dIP2, dIP3, dIP4), "
                            "CASE WHEN ipproto IN ('TCP', 'UDP') THEN sPort ELSE '' END, "
                            "CASE WHEN ipproto IN ('TCP', 'UDP') THEN dPort ELSE '' END "
                            "FROM frames ORDER BY frame"),
                  expected);
        EXPECT_GT(expected.size(), 3000u);
        Rows ipv6Frames;
        for (const auto& f : tsharkFields(trace, fields, zone)) {
            if (!f[Source6].empty()) {
                ipv6Frames.push_back(ipv6Row(f));
            }
        }
        EXPECT_EQ(differences(query(db, "SELECT frame, sIP, dIP, ipproto, sPort, dPort, flags, "
                                        "len FROM FRAMES6 ORDER BY frame"),
                              ipv6Frames),
                  Rows{});
        EXPECT_EQ(ipv6Frames.size(), 12u);
    }
}
