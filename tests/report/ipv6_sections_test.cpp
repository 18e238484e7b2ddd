// IPv6 in every section, from a database made with -x: a SYN scan and an attempt never answered
// between IPv6 hosts, ICMPv6 errors named from ICMPv6's own texts (its type 3 is a time
// exceeded, ICMP's a destination unreachable), an IPv6 address that maps an IPv4 one kept apart
// from that IPv4 address, and IPv6 ends written [address]:port in JSON and CSV; and the services
// of TCP over both families counted as one.
#include <gtest/gtest.h>

#include "report_test_kit.h"
#include "tracekit/frames.h"

using namespace testkit;
using namespace reportkit;

namespace {

// 2001:db8::`last`, or ::ffff:192.0.2.`last` when `mapped`.
tracekit::Address6 address6(std::uint8_t last, bool mapped = false) {
    tracekit::Address6 a{};
    if (mapped) {
        a[10] = a[11] = 0xFF;
        a[12] = 192, a[14] = 2;
    } else {
        a[0] = 0x20, a[1] = 0x01, a[2] = 0x0d, a[3] = 0xb8;
    }
    a[15] = last;
    return a;
}

tracekit::Bytes tcp6(std::uint8_t from, std::uint8_t to, std::uint16_t sourcePort,
                     std::uint16_t destinationPort, std::uint8_t flags) {
    return tracekit::ipv6Frame(6, address6(from), address6(to),
                               tracekit::tcpHeader(sourcePort, destinationPort, flags));
}

}  // namespace

TEST(ReportIpv6Sections, EverySectionCoversIpv6) {
    constexpr std::uint8_t syn = 0x02, synAck = 0x12, rst = 0x14;
    std::vector<tracekit::Record> records;
    // 2001:db8::66 probes ten ports of 2001:db8::23; 22 and 80 answer.
    for (std::uint16_t port : {21, 22, 23, 25, 80, 110, 143, 443, 993, 995}) {
        records.push_back({tcp6(0x66, 0x23, 40000, port, syn)});
        const bool open = port == 22 || port == 80;
        records.push_back({tcp6(0x23, 0x66, port, 40000, open ? synAck : rst)});
    }
    // 2001:db8::77 knocks at 8080 of 2001:db8::23, twice, and hears nothing.
    records.push_back({tcp6(0x77, 0x23, 50000, 8080, syn)});
    records.push_back({tcp6(0x77, 0x23, 50000, 8080, syn)});
    // ICMPv6 errors from the router 2001:db8::1: port unreachable, then hop limit exceeded;
    // and an ICMP port unreachable of IPv4.
    records.push_back(
        {tracekit::ipv6Frame(58, address6(1), address6(0x66), tracekit::icmpHeader(1, 4))});
    records.push_back(
        {tracekit::ipv6Frame(58, address6(1), address6(0x66), tracekit::icmpHeader(3, 0))});
    records.push_back(
        {tracekit::ipv4Frame(1, {192, 0, 2, 1}, {192, 0, 2, 9}, tracekit::icmpHeader(3, 3))});
    // ::ffff:192.0.2.1 in IPv6, and 192.0.2.1 in IPv4.
    records.push_back({tracekit::ipv6Frame(17, address6(1, true), address6(0x23),
                                           tracekit::udpHeader(5353, 53, 10))});
    ScratchDir dir;
    tracekit::writeTrace(dir.path("six.pcap"), records);
    makeExtendedDatabase(dir.path("six.pcap"), dir.path("six.db"));

    const Outcome json = runReport({"--json", "--top", "0", dir.path("six.db")});
    ASSERT_EQ(json.status, 0) << json.err;
    EXPECT_EQ(jsonQuery(json.out, "SELECT value ->> 'source', value ->> 'target', "
                                  "value ->> 'ports', value -> 'open_ports' "
                                  "FROM json_each(?1, '$.port_scans')"),
              std::vector<std::string>{"2001:db8::66|2001:db8::23|10|[22,80]"});
    EXPECT_EQ(jsonQuery(json.out, "SELECT value ->> 'source', value ->> 'destination', "
                                  "value ->> 'port', value ->> 'frames' "
                                  "FROM json_each(?1, '$.unanswered_syns')"),
              std::vector<std::string>{"2001:db8::77|2001:db8::23|8080|2"});
    EXPECT_EQ(jsonQuery(json.out, "SELECT value ->> 'reporter', value ->> 'type', "
                                  "value ->> 'message', value ->> 'detail', value ->> 'family' "
                                  "FROM json_each(?1, '$.icmp_errors') ORDER BY 1, 2"),
              (std::vector<std::string>{
                  "192.0.2.1|3|DESTINATION UNREACHABLE|Destination port unreachable|IPv4",
                  "2001:db8::1|1|DESTINATION UNREACHABLE|Port unreachable|IPv6",
                  "2001:db8::1|3|TIME EXCEEDED|Hop limit exceeded in transit|IPv6"}));
    EXPECT_EQ(jsonQuery(json.out, "SELECT value ->> 'address' FROM json_each(?1, '$.endpoints') "
                                  "WHERE value ->> 'address' LIKE '%192.0.2.1' ORDER BY 1"),
              (std::vector<std::string>{"192.0.2.1", "::ffff:192.0.2.1"}));
    EXPECT_EQ(jsonQuery(json.out, "SELECT value ->> 'protocol', value ->> 'family', "
                                  "value ->> 'a', value ->> 'b' FROM json_each(?1, "
                                  "'$.conversations') WHERE value ->> 'b' LIKE '%]:53'"),
              std::vector<std::string>{"UDP|IPv6|[::ffff:192.0.2.1]:5353|[2001:db8::23]:53"});
    EXPECT_EQ(jsonQuery(json.out, "SELECT value ->> 'port', value ->> 'connections' "
                                  "FROM json_each(?1, '$.tcp_services')"),
              (std::vector<std::string>{"22|1", "80|1"}));

    const Outcome csv = runReport({"--csv", "conversations", "--top", "0", dir.path("six.db")});
    EXPECT_NE(csv.out.find("\nTCP,IPv6,[2001:db8::23]:8080,[2001:db8::77]:50000,"),
              std::string::npos)
        << csv.out;
    const Outcome text = runReport({dir.path("six.db")}, {"COLUMNS=200"});
    EXPECT_NE(text.out.find("  TCP (IPv6)  "), std::string::npos) << text.out;
    EXPECT_NE(text.out.find("  IPv6-ICMP  "), std::string::npos) << text.out;

    // With the IPv4 scan of the samples: the services of TCP of both families are one, and the
    // sections that group the conversations, worked out in memory, are those SQL works out when
    // the tally passes its memory budget.
    makeDatabase(std::string(TIDEWRACK_SAMPLES_DIR) + "/port-scan.pcap", dir.path("four.db"));
    const std::vector<std::string> both = {"--json", "--top", "0", dir.path("six.db"),
                                           dir.path("four.db")};
    const Outcome whole = runReport(both);
    EXPECT_EQ(runReport(both, {"TIDEWRACK_REPORT_MEMORY=1"}).out, whole.out);
    EXPECT_EQ(jsonQuery(whole.out, "SELECT value ->> 'protocol', value ->> 'servers' "
                                   "FROM json_each(?1, '$.services_by_traffic') "
                                   "WHERE value ->> 'port' = 22"),
              std::vector<std::string>{"TCP|2"});
}
