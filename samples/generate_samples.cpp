// Writes the bundled sample traces, reproducibly: fixed addresses, fixed timestamps and a
// fixed pseudo-random sequence, so that running it again gives the same bytes.
//
//   web-session.pcap   a host browsing: DNS lookups of three names, TCP handshakes to their web
//                      servers, a TLS ClientHello or an HTTP request for the name, data, a
//                      ping, and ICMP errors (port unreachable, time exceeded)
//   port-scan.pcap     a SYN scan of one host: open ports answer SYN+ACK, closed ones RST
//   rare-protocols.pcap tunnels, routing and other protocols beside UDP services
//   office-lan.pcap    a switch's trunk port in a small office as the year turns: staff and
//                      guest VLANs, IPv4 and IPv6, ARP, LLDP and spanning tree, and a frame
//                      tagged twice
//
// Usage: generate_samples <directory>
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "tracekit/frames.h"
#include "tracekit/name_traffic.h"

using namespace tracekit;

namespace {

constexpr long start = 1733659200;  // 2024-12-08 12:00:00 UTC

class Session {
  public:
    explicit Session(long seconds) : seconds(seconds) {}
    void add(const Bytes& frame, long gapMicroseconds = 1500) {
        microseconds += gapMicroseconds;
        seconds += microseconds / 1000000;
        microseconds %= 1000000;
        records.push_back({frame, seconds, microseconds});
    }
    std::vector<Record> records;

  private:
    long seconds;
    long microseconds = 0;
};

Bytes withPayload(Bytes header, std::size_t bytes) {
    header.resize(header.size() + bytes, 0x2e);
    return header;
}

void tcp(Session& s, Address from, Address to, std::uint16_t sport, std::uint16_t dport,
         std::uint8_t flags, std::size_t payload = 0, long gap = 1500) {
    s.add(ipv4Frame(6, from, to, withPayload(tcpHeader(sport, dport, flags), payload)), gap);
}

// A header followed by the given bytes.
Bytes carrying(Bytes header, const Bytes& payload) {
    const std::size_t at = header.size();
    header.resize(at + payload.size());
    std::copy(payload.begin(), payload.end(), header.begin() + static_cast<long>(at));
    return header;
}

// A UDP datagram carrying the given bytes.
Bytes datagram(std::uint16_t sport, std::uint16_t dport, const Bytes& payload) {
    Bytes b = udpHeader(sport, dport, payload.size());
    std::copy(payload.begin(), payload.end(), b.begin() + 8);
    return b;
}

std::vector<Record> webSession() {
    const Address host{192, 168, 1, 23}, resolver{192, 168, 1, 1}, router{10, 20, 0, 1};
    const Address servers[] = {{93, 184, 216, 34}, {151, 101, 1, 69}, {140, 82, 121, 4}};
    // Each name takes 16 bytes in a DNS message: a query of 32 bytes, and an answer of 48 that
    // gives one address.
    const char* const names[] = {"my.example.com", "www.python.org", "www.github.com"};
    Session s(start);
    std::uint16_t port = 51000, dnsPort = 40000;
    for (int i = 0; i < 3; ++i) {
        const Address& server = servers[i];
        const auto id = static_cast<std::uint16_t>(0x5a00 + i);
        s.add(ipv4Frame(17, host, resolver, datagram(dnsPort, 53, dnsQuery(id, names[i]))), 250000);
        s.add(ipv4Frame(17, resolver, host,
                        datagram(53, dnsPort,
                                 dnsResponse(id, names[i], 1, {}, {{server.begin(), server.end()}},
                                             300))),
              9000);
        ++dnsPort;
        for (std::uint16_t service : {443, 80}) {
            tcp(s, host, server, port, service, 0x02, 0, 2000);
            tcp(s, server, host, service, port, 0x12, 0, 24000);
            tcp(s, host, server, port, service, 0x10);
            // A browser's ClientHello of the time before post-quantum keys, padded to 517 bytes
            // as they padded it; the HTTP request of the same length.
            s.add(ipv4Frame(6, host, server,
                            carrying(tcpHeader(port, service, 0x18),
                                     service == 443 ? tlsClientHello(names[i], false, 517)
                                                    : httpRequest(names[i], "/", 517))));
            tcp(s, server, host, service, port, 0x18, 1400, 30000);
            tcp(s, server, host, service, port, 0x18, 900);
            tcp(s, host, server, port, service, 0x10);
            tcp(s, host, server, port, service, 0x11, 0, 400000);
            tcp(s, server, host, service, port, 0x11, 0, 25000);
            tcp(s, host, server, port, service, 0x10);
            ++port;
        }
    }
    // A ping, a lookup that finds the resolver's port closed, and a hop that gives up.
    s.add(ipv4Frame(1, host, servers[0], icmpHeader(8, 0)), 500000);
    s.add(ipv4Frame(1, servers[0], host, icmpHeader(0, 0)), 24000);
    s.add(ipv4Frame(17, host, resolver, udpHeader(dnsPort, 5353, 30)), 300000);
    s.add(ipv4Frame(1, resolver, host, icmpHeader(3, 3)), 800);
    s.add(ipv4Frame(17, host, servers[2], udpHeader(33434, 33434, 12)), 200000);
    s.add(ipv4Frame(1, router, host, icmpHeader(11, 0)), 7000);
    return s.records;
}

std::vector<Record> portScan() {
    const Address scanner{203, 0, 113, 66}, target{192, 168, 1, 23};
    const std::uint16_t ports[] = {21,  22,  23,  25,  53,  80,   110,  111,  135,  139,
                                   143, 443, 445, 993, 995, 3306, 3389, 5432, 8080, 8443};
    const auto open = [](std::uint16_t p) { return p == 22 || p == 80 || p == 443 || p == 5432; };
    Session s(start + 3600);
    std::uint32_t random = 12345;
    for (std::uint16_t p : ports) {
        random = random * 1103515245u + 12345u;
        const auto source = static_cast<std::uint16_t>(40000 + (random >> 16) % 20000);
        tcp(s, scanner, target, source, p, 0x02, 0, 800);
        if (open(p)) {
            tcp(s, target, scanner, p, source, 0x12, 0, 120);
            tcp(s, scanner, target, source, p, 0x04, 0, 90);
        } else {
            tcp(s, target, scanner, p, source, 0x14, 0, 110);
        }
    }
    return s.records;
}

std::vector<Record> rareProtocols() {
    const Address a{172, 16, 0, 1}, b{172, 16, 0, 2}, group{224, 0, 0, 5}, vrrp{224, 0, 0, 18};
    Session s(start + 7200);
    const Bytes opaque(24, 0x11);
    for (int round = 0; round < 3; ++round) {
        s.add(ipv4Frame(89, a, group, opaque), 100000);                 // OSPF hello
        s.add(ipv4Frame(112, a, vrrp, opaque), 20000);                  // VRRP advertisement
        s.add(ipv4Frame(47, a, b, opaque), 20000);                      // GRE tunnel
        s.add(ipv4Frame(50, b, a, opaque), 20000);                      // ESP
        s.add(ipv4Frame(2, b, {224, 0, 0, 1}, opaque), 20000);          // IGMP
        s.add(ipv4Frame(132, a, b, udpHeader(2905, 2905, 16)), 20000);  // SCTP
        s.add(ipv4Frame(136, a, b, udpHeader(5004, 5004, 16)), 20000);  // UDP-Lite
        s.add(ipv4Frame(17, a, b, udpHeader(123, 123, 40)), 20000);     // NTP
        s.add(ipv4Frame(17, b, a, udpHeader(40001, 161, 30)), 20000);   // SNMP
        s.add(ipv4Frame(17, b, a, udpHeader(514, 514, 60)), 20000);     // syslog
    }
    s.add(ipv4Frame(114, a, b, opaque), 20000);  // any 0-hop protocol
    s.add(ipv4Frame(200, a, b, opaque), 20000);  // unassigned number
    return s.records;
}

// An ARP request (operation 1) or reply (2) between two addresses of the staff's network.
Bytes arp(std::uint8_t operation, Address sender, Address target) {
    Bytes b = {0, 1, 0x08, 0, 6, 4, 0, operation, 2, 2, 2, 2, 2, 2};
    b.insert(b.end(), sender.begin(), sender.end());
    b.insert(b.end(), {4, 4, 4, 4, 4, 4});
    b.insert(b.end(), target.begin(), target.end());
    return b;
}

// The switch's LLDP announcement: chassis and port by MAC address, a time to live, the end.
const Bytes lldp = {0x02, 0x07, 4, 2, 2, 2, 2,    2,    2, 0x04, 0x07, 3,
                    2,    2,    2, 2, 2, 2, 0x06, 0x02, 0, 120,  0,    0};
// A spanning-tree configuration BPDU under its 802.2 LLC header (38 bytes: the length field).
const Bytes stp = {0x42, 0x42, 0x03, 0, 0, 0, 0, 0, 0x80, 0,    2, 2, 2, 2,    2, 2, 0, 0,    0,
                   0,    0x80, 0,    2, 2, 2, 2, 2, 2,    0x80, 1, 0, 0, 0x14, 0, 2, 0, 0x0f, 0};

// A trunk port: staff on VLAN 10 use IPv4, guests on VLAN 20 IPv6; the switch speaks LLDP and
// spanning tree untagged, and a provider's frame arrives tagged twice (802.1ad outside 802.1Q).
// The capture starts two seconds before 2025 (UTC) and ends three seconds into it.
std::vector<Record> officeLan() {
    const Address laptop{10, 10, 0, 23}, gateway{10, 10, 0, 1}, web{198, 51, 100, 7},
        timeServer{192, 0, 2, 123};
    const Address6 guest = {0x20, 0x01, 0x0d, 0xb8, 0, 0x20, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x42},
                   site = {0x20, 0x01, 0x0d, 0xb8, 0xf0, 0x0d, 0, 0, 0, 0, 0, 0, 0, 0, 0, 7},
                   guestLink = {0xfe, 0x80, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x42},
                   router = {0xfe, 0x80, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1},
                   allRouters = {0xff, 0x02, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2};
    constexpr std::uint16_t staff = 10, guests = 20;
    Session s(1735689598);  // 2024-12-31 23:59:58 UTC
    const auto staffFrame = [&](std::uint8_t protocol, Address from, Address to, Bytes payload,
                                long gap) {
        s.add(tagged(ipv4Frame(protocol, from, to, payload), {staff}), gap);
    };
    const auto guestFrame = [&](std::uint8_t next, const Address6& from, const Address6& to,
                                Bytes payload, long gap) {
        s.add(tagged(ipv6Frame(next, from, to, payload), {guests}), gap);
    };
    s.add(etherTypeFrame(0x88CC, Bytes(46, 0x02)), 10000);  // LLDP
    s.add(tagged(etherTypeFrame(0x0806, arp(1, laptop, gateway)), {staff}), 100000);
    s.add(tagged(etherTypeFrame(0x0806, arp(2, gateway, laptop)), {staff}), 900);
    staffFrame(17, laptop, gateway, udpHeader(41000, 53, 33), 4000);
    staffFrame(17, gateway, laptop, udpHeader(53, 41000, 49), 11000);
    staffFrame(6, laptop, web, tcpHeader(50100, 443, 0x02), 2000);
    staffFrame(6, web, laptop, tcpHeader(443, 50100, 0x12), 31000);
    staffFrame(6, laptop, web, tcpHeader(50100, 443, 0x10), 900);
    staffFrame(6, laptop, web, withPayload(tcpHeader(50100, 443, 0x18), 517), 1200);
    // Router solicitation of a guest, with the hop-by-hop header that an MLD report carries next.
    guestFrame(58, guestLink, allRouters, Bytes{133, 0, 0x7b, 0x4c, 0, 0, 0, 0}, 600000);
    guestFrame(0, guestLink, {0xff, 0x02, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x16},
               Bytes{58, 0, 5, 2, 0, 0, 1, 0, 143, 0, 0x2c, 0x1d, 0, 0, 0, 0}, 1200);
    guestFrame(58, router, guestLink, Bytes{134, 0, 0x3e, 0x21, 64, 0, 7, 8}, 3000);
    guestFrame(6, guest, site, tcpHeader(51515, 443, 0x02), 800000);
    guestFrame(6, site, guest, tcpHeader(443, 51515, 0x12), 42000);
    guestFrame(6, guest, site, tcpHeader(51515, 443, 0x10), 700);
    // The year turns here, between two segments of the staff's download.
    staffFrame(6, web, laptop, withPayload(tcpHeader(443, 50100, 0x10), 1400), 400000);
    staffFrame(6, web, laptop, withPayload(tcpHeader(443, 50100, 0x18), 620), 300);
    staffFrame(6, laptop, web, tcpHeader(50100, 443, 0x10), 800);
    s.add(etherTypeFrame(static_cast<std::uint16_t>(stp.size()), stp), 500000);
    s.add(tagged(ipv4Frame(17, laptop, timeServer, udpHeader(123, 123, 48)), {100, staff}, true),
          200000);
    guestFrame(17, guest, site, udpHeader(50000, 443, 1200), 300000);
    guestFrame(17, site, guest, udpHeader(443, 50000, 1200), 41000);
    staffFrame(6, laptop, web, tcpHeader(50100, 443, 0x11), 900000);
    staffFrame(6, web, laptop, tcpHeader(443, 50100, 0x11), 30000);
    staffFrame(6, laptop, web, tcpHeader(50100, 443, 0x10), 700);
    return s.records;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <directory>\n", argv[0]);
        return 2;
    }
    const std::string dir = argv[1];
    writeTrace(dir + "/web-session.pcap", webSession());
    writeTrace(dir + "/port-scan.pcap", portScan());
    writeTrace(dir + "/rare-protocols.pcap", rareProtocols());
    writeTrace(dir + "/office-lan.pcap", officeLan());
    return 0;
}
