// The extended record of real captures against tshark's reading of the same frames: the times
// of the first and last frame, every analysed frame's local date, the frames not analysed by
// kind, the VLANs, the addresses and ports of tagged IPv4 frames, and every IPv6 frame's row;
// then the same IPv4 and IPv6 frames moved under Linux cooked and raw IP headers; and the
// connections of every capture against tshark's conversations, Community IDs and TCP analysis.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <map>
#include <optional>
#include <set>

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

std::vector<std::string> split(const std::string& text, char separator = ',') {
    std::vector<std::string> parts;
    for (std::size_t start = 0, end; start <= text.size() && !text.empty(); start = end + 1) {
        end = std::min(text.find(separator, start), text.size());
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
    // Runs tidewrack -x on `trace` into the database, in the test's time zone; a trace that ends
    // in a read error ends the run with a failure, which `readError` allows when the database
    // names it.
    void analyse(const std::string& trace, bool readError = false) {
        std::filesystem::remove(db);
        const Outcome run = runBinary("/usr/bin/env", {"TZ=" + zone, TIDEWRACK_BINARY, "-x", "-r",
                                                       trace, "-d", db, "-m", "2"});
        ASSERT_TRUE(run.status == 0 ||
                    (readError && query(db, "SELECT read_error FROM CAPTURE") != Rows{""}))
            << trace << run.out;
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

namespace {

// Connections against tshark: each CONNECTIONS row's Community ID against tshark's for its first
// frame; and each TCP and UDP conversation, as tshark's conversation tables key them, against
// the rows whose first frame is in it: frames and bytes each way (summed from the frames, as the
// tables round bytes to kB), and for TCP the frames that tshark's analysis flags each way, the
// client's SYNs and the time from its first SYN to the server's first SYN ACK. (tshark's
// udp.stream, and its tables, start anew where a dissector such as SNMP's opens a conversation of
// its own: UDP is compared by pair of ends, the record's connection, as Zeek's.)
const Rows flowFields = split(
    "frame.number frame.len frame.time_epoch frame.protocols communityid ip.src ipv6.src "
    "tcp.srcport udp.srcport ip.dst ipv6.dst tcp.dstport udp.dstport tcp.stream tcp.flags "
    "tcp.analysis.retransmission tcp.analysis.fast_retransmission "
    "tcp.analysis.spurious_retransmission tcp.analysis.out_of_order tcp.analysis.duplicate_ack "
    "tcp.analysis.zero_window ip.flags.mf ip.frag_offset ipv6.fraghdr.offset ip.version",
    ' ');
using Frame = std::vector<std::string>;

// A frame's field, its first value (the outer header's).
std::string field(const Frame& f, std::string_view name) {
    return outer(f[std::find(flowFields.begin(), flowFields.end(), name) - flowFields.begin()]);
}

// Where the record differs from tshark on purpose, beside the tunnels, fragments and fuzzed IP
// versions that the frames show: the capture, the conversation, and why.
const char* const namedCases[][3] = {
    {"fuzz-2006-09-29-28586.pcap", "tcp stream 4",
     "fuzzed sequence numbers: frame 31 out-of-order, to tshark a retransmission"},
    {"fuzz-2006-09-29-28586.pcap", "tcp stream 33",
     "fuzzed: frame 111 counted by its ports, to tshark in no stream; frame 110 out-of-order, "
     "to tshark a retransmission"},
    {"fuzz-2020-02-16-11740.pcap", "udp 10.12.64.30 29200 - 198.226.25.53 1812",
     "frame 218: IP version 5, read as IPv4 (tshark reads no further)"},
    {"fuzz-2020-02-16-11740.pcap", "udp 10.12.64.30 29200 - 198.226.25.62 1812",
     "frame 339: IP version 2, read as IPv4 (tshark reads no further)"},
    {"fuzz-2020-02-16-11740.pcap", "udp 170.170.170.170 43690 - 170.170.170.170 43690",
     "frame 238: IP version 6 in an IPv4 frame, read as IPv4 (tshark reads IPv6)"},
    {"fuzz-2021-06-07-c6c72a0a56.pcap", "udp 0.6.255.0 53975 - 102.110.128.32 2152",
     "a wire length of 4,093,509,168: tshark counts at most 2^31 - 1 bytes a frame"},
    {"kday4.pcap", "tcp stream 2",
     "frame 6, 24 days ahead, ends the connections as idle: frame 9, back in time, opens a new "
     "one, to tshark a retransmission"},
    {"suricata-verify_drop-protocol-change_input.pcap", "tcp stream 0",
     "frame 7 (a TCP header length of 8) counted by its ports, to tshark a stream of its own"},
    {"suricata-verify_drop-protocol-change_input.pcap", "tcp stream 1", "the same frame 7"},
    {"suricata-verify_tls-subjectaltname_input.pcap", "tcp stream 1",
     "a SYN 13 s after a reset, past the close delay (Zeek's 5 s), opens a new connection: tshark "
     "keeps the stream, calls the SYN a retransmission and times the handshake from the first"},
};
const char* const tunnelled = "tunnel: tshark hashes the innermost packet, the record the outer";
const char* const fragmented = "fragments: tshark counts a datagram in its last fragment's frame, "
                               "the record in its first, whose header it reads";
const char* const badVersion = "a fuzzed IP version, read as IPv4: tshark reads no further";

// A conversation from its client's end ([0]) and its server's ([1]).
struct Tally {
    std::string client;              // "address port" of the record's first row of it
    std::uint64_t count[6][2] = {};  // frames, bytes, then the health counts: retransmissions,
                                     // out-of-order, duplicate ACKs, zero windows
    std::uint64_t syns = 0;
    long long syn = -1, synAck = -1, connect = -1;  // microseconds; -1 unknown
    const char* rule = nullptr;                     // why it may differ, as its frames show
};
constexpr int health = 2;

std::string text(const Tally& t) {
    std::string text;
    for (const auto& c : t.count) {
        text += std::to_string(c[0]) + "/" + std::to_string(c[1]) + " ";
    }
    return text + "syns " + std::to_string(t.syns) + " connect " + std::to_string(t.connect);
}

struct Agreement {
    std::map<std::string, std::uint64_t> counts;
    std::uint64_t health[4][2] = {};  // the record's totals and tshark's
    Rows unnamed, named;
    std::set<std::string> used;  // the named cases met

    // A difference: named by `rule`, or else by the table of named cases, or not at all.
    void differ(const std::string& capture, const std::string& where, const char* rule,
                const std::string& detail) {
        for (const auto& c : namedCases) {
            if (rule == nullptr && capture == c[0] && where == c[1]) {
                rule = c[2];
                used.insert(capture + " " + where);
            }
        }
        const std::string line = capture + " " + where + ": " + detail;
        (rule ? named : unnamed).push_back(rule ? line + " (" + rule + ")" : line);
    }
};

// The layer after a frame's outer IP header (and its extension headers), and whether an IP header
// follows that is not quoted by an ICMP error.
std::pair<std::string, bool> transportOf(const Frame& f) {
    const Rows l = split(field(f, "frame.protocols"), ':');
    auto at = std::find_if(l.begin(), l.end(), [](auto& x) { return x == "ip" || x == "ipv6"; });
    const bool six = at != l.end() && *at == "ipv6";
    while (at != l.end() && ++at != l.end() && six && (at->starts_with("ipv6.") || *at == "ah")) {
    }
    bool tunnel = false;
    for (auto i = at; i != l.end(); ++i) {
        tunnel |= (*i == "ip" || *i == "ipv6") && i[-1] != "icmp" && i[-1] != "icmpv6";
    }
    return {at != l.end() ? *at : "", tunnel};
}

bool isFragment(const Frame& f) {
    return field(f, "ip.flags.mf") == "1" || !field(f, "ipv6.fraghdr.offset").empty() ||
           field(f, "ip.frag_offset").find_first_not_of('0') != std::string::npos;
}

// "address port" of a frame's sender or receiver.
std::string endOf(const Frame& f, bool sender) {
    const std::string v4 = field(f, sender ? "ip.src" : "ip.dst"),
                      transport = transportOf(f).first == "tcp" ? "tcp" : "udp";
    return (v4.empty() ? field(f, sender ? "ipv6.src" : "ipv6.dst") : v4) + " " +
           field(f, transport + (sender ? ".srcport" : ".dstport"));
}

std::string pairOf(const std::string& a, const std::string& b) {
    return "udp " + std::min(a, b) + " - " + std::max(a, b);
}

// A frame's TCP or UDP conversation, if its outer IP header carries one.
std::optional<std::string> conversationOf(const Frame& f) {
    const std::string transport = transportOf(f).first;
    if (transport == "tcp" && !field(f, "tcp.stream").empty()) {
        return "tcp stream " + field(f, "tcp.stream");
    }
    if (transport != "udp" || field(f, "udp.srcport").empty()) {
        return std::nullopt;
    }
    return pairOf(endOf(f, true), endOf(f, false));
}

// The record's rows of a capture, summed by conversation; their Community IDs checked on the way.
std::map<std::string, Tally> recorded(const std::string& db, const std::string& capture,
                                      const std::vector<Frame>& frames, Agreement& all) {
    std::map<std::string, Tally> conversations;
    for (const std::string& text : query(
             db, "SELECT first_frame, community_id, lower(ipproto), client || ' ' || client_port, "
                 "server || ' ' || server_port, frames_client, frames_server, bytes_client, "
                 "bytes_server, retransmissions_client, retransmissions_server, "
                 "out_of_order_client, out_of_order_server, duplicate_acks_client, "
                 "duplicate_acks_server, zero_windows_client, zero_windows_server, syns, "
                 "ifnull(CAST(round(connect_time * 1e6) AS integer), -1) "
                 "FROM CONNECTIONS ORDER BY first_frame")) {
        const Rows row = split(text + "|", '|');
        const Frame& f = frames.at(std::stoul(row[0]) - 1);
        const std::string id = field(f, "communityid"), version = field(f, "ip.version");
        ++all.counts[id.empty()     ? "rows whose first frame tshark gives no Community ID"
                     : id == row[1] ? "Community IDs identical"
                                    : "Community IDs differing"];
        if (!id.empty() && id != row[1]) {
            all.differ(capture, "frame " + row[0],
                       transportOf(f).second ? tunnelled
                       : isFragment(f)       ? fragmented
                                             : nullptr,
                       "Community ID " + row[1] + ", tshark " + id);
        }
        // A UDP row's ends are its conversation's even where tshark reads no UDP header in its
        // first frame (a fragment).
        const auto conversation =
            row[2] == "udp" && !row[3].empty() ? pairOf(row[3], row[4]) : conversationOf(f);
        if (!conversation || !conversation->starts_with(row[2] + " ") || row[3].empty()) {
            continue;
        }
        Tally& t = conversations[*conversation];
        if (t.client.empty()) {
            t.client = row[3];
            t.connect = std::stoll(row[18]);
            t.rule = !version.empty() && version != "4" ? badVersion : nullptr;
        }
        for (int k = 0; k < 12; ++k) {
            t.count[k / 2][(k % 2) ^ (t.client != row[3])] += std::stoull("0" + row[5 + k]);
        }
        t.syns += std::stoull("0" + row[17]);
    }
    return conversations;
}

// tshark's conversations of the frames that the record analysed, each from the client of the
// record's first row of it.
std::map<std::string, Tally> tsharks(const std::vector<Frame>& frames,
                                     const std::set<std::string>& analysed,
                                     const std::map<std::string, Tally>& ours, Agreement& all) {
    std::map<std::string, Tally> conversations;
    for (const Frame& f : frames) {
        const auto conversation = conversationOf(f);
        if (!conversation || !analysed.contains(field(f, "frame.number"))) {
            all.counts["frames of tshark's conversations that the record does not analyse"] +=
                conversation.has_value();
            continue;
        }
        Tally& t = conversations[*conversation];
        if (t.client.empty()) {
            t.client =
                ours.contains(*conversation) ? ours.at(*conversation).client : endOf(f, true);
        }
        t.rule = isFragment(f) ? fragmented : t.rule;
        const int side = endOf(f, true) == t.client ? 0 : 1;
        ++t.count[0][side];
        t.count[1][side] += std::stoull(field(f, "frame.len"));
        if (conversation->starts_with("udp")) {
            continue;
        }
        const bool flagged[] = {!field(f, "tcp.analysis.retransmission").empty() ||
                                    !field(f, "tcp.analysis.fast_retransmission").empty() ||
                                    !field(f, "tcp.analysis.spurious_retransmission").empty(),
                                !field(f, "tcp.analysis.out_of_order").empty(),
                                !field(f, "tcp.analysis.duplicate_ack").empty(),
                                !field(f, "tcp.analysis.zero_window").empty()};
        for (int k = 0; k < 4; ++k) {
            t.count[health + k][side] += flagged[k];
        }
        const std::string bits = field(f, "tcp.flags");  // none in a broken header
        const unsigned synAck = bits.empty() ? 0 : std::stoul(bits, nullptr, 16) & 0x12;
        const std::string epoch = field(f, "frame.time_epoch");
        const long long time =
            std::stoll(epoch) * 1000000 + std::stoll(epoch.substr(epoch.find('.') + 1, 6));
        if (synAck == 0x02 && side == 0 && t.syns++ == 0) {
            t.syn = time;
        } else if (synAck == 0x12 && side == 1 && t.synAck < 0) {
            t.synAck = time;
        }
        t.connect = t.syn >= 0 && t.synAck >= t.syn ? t.synAck - t.syn : -1;
    }
    return conversations;
}

}  // namespace

TEST_F(ExtendedCorpus, ConnectionsAgreeWithTshark) {
    Agreement all;
    for (const std::string& trace : corpusFiles()) {
        const std::string capture = std::filesystem::path(trace).filename();
        SCOPED_TRACE(capture);
        const auto frames = tsharkFields(trace, flowFields, "UTC", "--enable-protocol communityid");
        ASSERT_NO_FATAL_FAILURE(analyse(trace, true));
        const Rows analysed = query(db, "SELECT frame FROM frames UNION SELECT frame FROM FRAMES6");
        const auto ours = recorded(db, capture, frames, all);
        const auto theirs = tsharks(frames, {analysed.begin(), analysed.end()}, ours, all);
        for (const auto& [conversation, t] : theirs) {
            const Tally o = ours.contains(conversation) ? ours.at(conversation) : Tally{};
            const std::string protocol = conversation.substr(0, 3);
            const bool counts = std::equal(o.count[0], o.count[health], t.count[0]),
                       healthy = std::equal(o.count[health], o.count[6], t.count[health]),
                       handshake = o.syns == t.syns && std::abs(o.connect - t.connect) <= 1;
            ++all.counts[protocol + " conversations"];
            all.counts[protocol + " conversations: frames and bytes each way identical"] += counts;
            if (protocol == "tcp") {
                all.counts["tcp conversations: health counts identical"] += healthy;
                all.counts["tcp conversations: SYNs and connect time identical"] += handshake;
                for (int k = 0; k < 8; ++k) {
                    all.health[k / 2][0] += o.count[health + k / 2][k % 2];
                    all.health[k / 2][1] += t.count[health + k / 2][k % 2];
                }
            }
            if (!counts || !healthy || !handshake) {
                all.differ(capture, conversation, t.rule ? t.rule : o.rule,
                           "record " + (o.client.empty() ? "no row" : text(o)) + ", tshark " +
                               text(t));
            }
        }
        for (const auto& [conversation, o] : ours) {
            if (!theirs.contains(conversation)) {
                all.differ(capture, conversation, o.rule, "record " + text(o) + ", tshark none");
            }
        }
    }
    for (const auto& [what, count] : all.counts) {
        std::printf("%-66s %llu\n", what.c_str(), static_cast<unsigned long long>(count));
    }
    const char* kinds[] = {"retransmissions", "out-of-order", "duplicate ACKs", "zero windows"};
    for (int k = 0; k < 4; ++k) {
        const auto [least, most] = std::minmax(all.health[k][0], all.health[k][1]);
        std::printf("%s: record %llu, tshark %llu\n", kinds[k],
                    static_cast<unsigned long long>(all.health[k][0]),
                    static_cast<unsigned long long>(all.health[k][1]));
        EXPECT_LE((most - least) * 50, all.health[k][1]) << kinds[k] << ": not within 2 %";
    }
    for (const std::string& line : all.named) {
        std::printf("named: %s\n", line.c_str());
    }
    EXPECT_EQ(all.unnamed, Rows{}) << "differences not named";
    EXPECT_GE(all.counts["tcp conversations: health counts identical"] * 100,
              all.counts["tcp conversations"] * 95);
    for (const auto& c : namedCases) {
        EXPECT_TRUE(corpusFile(c[0]).empty() || all.used.contains(std::string(c[0]) + " " + c[1]))
            << c[0] << " " << c[1] << " is named but agrees with tshark";
    }
}
