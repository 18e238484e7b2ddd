// Writes a large, realistic and reproducible Ethernet/IPv4 trace for the benchmarks.
//
// The trace interleaves a few hundred concurrent conversations between ~600 clients and ~300
// servers: web and other TCP sessions with handshakes, data, acknowledgements and closes, SYNs
// refused with RST, DNS lookups (real queries and answers for a few hundred names, some through
// CNAME chains, each name answered with the addresses of the trace's servers), NTP, QUIC-like
// UDP streams, pings and ICMP errors, and a
// share of rarer protocols (GRE, ESP, OSPF, IGMP, PIM, VRRP, SCTP, UDP-Lite, an unassigned
// number). A million packets come to ~5,000 conversations and ~585 MB. Whatever the packet
// count, the timestamps span one hour, so the number of distinct seconds stays realistic.
// The same arguments always give the same bytes: the pseudo-random sequence is the generator's
// own, not the standard library's.
//
// Usage: generate_trace [--ipv6] [--other PERCENT] [--dns PERCENT]
//                       [--connections N | --syn-flood] <packets> <output.pcap>
//   --ipv6           every packet as IPv6 instead (the same conversations, each IPv4 address
//                    inside 2001:db8::/96, ICMP as ICMPv6): the per-frame cost of IPv6
//   --other PERCENT  that share of the packets replaced by frames that are not IP (ARP, LLDP,
//                    802.3 spanning tree), for the accounting of frames not analysed
//   --connections N  a trace rich in connections: every conversation is a TCP connection, some
//                    N of them in all (45,000 in a million packets: 22 packets each on
//                    average), each a whole exchange with its own sequence and acknowledgement
//                    numbers: handshake, requests and answers with their ACKs, and a close by
//                    FINs (one in ten by an RST)
//   --syn-flood      one SYN from each of <packets> distinct sources (10.0.0.1 onwards, a
//                    random port each) to one web server, 100,000 a second
//   --dns PERCENT    that share of the packets replaced by DNS lookups (a query, then its
//                    answer), for the cost of reading names where DNS is a large share
// Prints packets, conversations, bytes and distinct seconds written.
#include <pcap/pcap.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "tracekit/frames.h"
#include "tracekit/name_traffic.h"

using namespace tracekit;

namespace {

constexpr long traceStart = 1733659200;  // 2024-12-08 12:00:00 UTC
constexpr double traceSpanMicroseconds = 3600e6;
constexpr std::size_t concurrentFlows = 200;

// splitmix64: small, fast, and the same on every platform and library.
class Random {
  public:
    explicit Random(std::uint64_t seed) : state(seed) {}
    std::uint64_t next() {
        std::uint64_t z = (state += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    std::uint32_t below(std::uint32_t n) { return static_cast<std::uint32_t>(next() % n); }
    std::uint32_t between(std::uint32_t low, std::uint32_t high) {
        return low + below(high - low + 1);
    }
    bool chance(std::uint32_t percent) { return below(100) < percent; }
    // Heavy-tailed length: mostly short, sometimes very long, at most `cap`.
    std::uint32_t heavyTail(std::uint32_t scale, std::uint32_t cap) {
        const double u = (static_cast<double>(next() >> 11) + 1.0) / 9007199254740993.0;
        const double length = scale / (u * u);
        return length > cap ? cap : static_cast<std::uint32_t>(length);
    }

  private:
    std::uint64_t state;
};

// One packet of a conversation: direction, TCP flags or ICMP type/code, payload bytes.
struct Step {
    bool fromServer;
    std::uint8_t flagsOrType;
    std::uint8_t code;
    std::uint16_t payload;
};

struct Flow {
    std::uint8_t protocol;
    Address client;
    Address server;
    std::uint16_t clientPort;
    std::uint16_t serverPort;
    std::vector<Step> steps;
    std::size_t next = 0;
    // With sequence numbers: each end's next one (its initial number plus what it sent so far).
    bool sequenced = false;
    std::uint32_t sequence[2] = {};
    std::vector<Bytes> messages = {};  // for DNS, the payload of each step
};

// The n-th of the 300 servers.
Address serverAddress(std::uint32_t n) {
    static constexpr std::uint8_t prefixes[][2] = {{93, 184},  {151, 101}, {140, 82},
                                                   {142, 250}, {104, 16},  {185, 199}};
    const auto& p = prefixes[n % 6];
    return {p[0], p[1], static_cast<std::uint8_t>(n * 7 % 256),
            static_cast<std::uint8_t>(n % 200 + 10)};
}

// The names the trace's DNS answers give: 360 host names, a service name under a site's
// domain, each answered with one to three of the servers' addresses; a third of them through a
// CNAME to a content network, a ninth through two.
class NameBook {
  public:
    static constexpr std::uint32_t count = 360;

    // The query and the answer of a lookup of name `n`, the query of `querySize` bytes and the
    // answer of `answerSize` when their contents leave room for padding.
    std::pair<Bytes, Bytes> lookup(std::uint32_t n, bool ipv6, std::uint16_t id,
                                   std::size_t querySize, std::size_t answerSize) const {
        static constexpr const char* services[] = {"www",  "api",  "cdn",    "static",
                                                   "img",  "m",    "login",  "mail",
                                                   "news", "shop", "assets", "docs"};
        static constexpr const char* sites[] = {
            "wikipedia.org",   "python.org",  "debian.org",        "mozilla.org",
            "github.com",      "gitlab.com",  "example.com",       "example.net",
            "bbc.co.uk",       "lemonde.fr",  "spiegel.de",        "nytimes.com",
            "theguardian.com", "reuters.com", "stackoverflow.com", "openstreetmap.org",
            "kernel.org",      "apache.org",  "cloudflare.com",    "fastly.com",
            "booking.com",     "airbnb.com",  "zalando.de",        "ikea.com",
            "netflix.com",     "spotify.com", "dropbox.com",       "slack.com",
            "zoom.us",         "office.com"};
        static_assert(std::size(services) * std::size(sites) == count);
        const std::string name = std::string(services[n % 12]) + "." + sites[n / 12];
        std::vector<std::string> chain;
        if (n % 3 == 0) {
            char text[64];
            std::snprintf(text, sizeof text, "%s-%u.%s", services[n % 12], n,
                          n % 9 == 0 ? "edgekey.net" : "cdn.cloudflare.net");
            chain.emplace_back(text);
            if (n % 9 == 0) {
                std::snprintf(text, sizeof text, "e%u.a.akamaiedge.net", n * 37 % 9973);
                chain.emplace_back(text);
            }
        }
        std::vector<Bytes> addresses;
        for (std::uint32_t i = 0; i <= n % 3; ++i) {
            const Address a = serverAddress((n * 5 + i) % 300);
            addresses.push_back(
                ipv6 ? Bytes{0x20, 0x01, 0x0d, 0xb8, 0, 0, 0, 0, 0, 0, 0, 0, a[0], a[1], a[2], a[3]}
                     : Bytes(a.begin(), a.end()));
        }
        const std::uint16_t type = ipv6 ? 28 : 1;
        return {dnsQuery(id, name, type, querySize),
                dnsResponse(id, name, type, chain, addresses, 60 + n % 7 * 50, answerSize)};
    }
};

constexpr std::uint8_t syn = 0x02, ack = 0x10, psh = 0x08, fin = 0x01, rst = 0x04;

class FlowMaker {
  public:
    // `exchangeSteps` above 0 makes every conversation a TCP connection of that many packets on
    // average.
    explicit FlowMaker(Random& random, std::uint32_t exchangeSteps = 0)
        : random(random), exchangeSteps(exchangeSteps) {}

    // A new conversation, its kind drawn by share (per thousand conversations).
    Flow make() {
        if (exchangeSteps > 0) {
            return exchange();
        }
        struct Kind {
            std::uint32_t upTo;
            Flow (FlowMaker::*make)();
        };
        static constexpr Kind kinds[] = {
            {330, &FlowMaker::web},  {400, &FlowMaker::interactive}, {450, &FlowMaker::refused},
            {740, &FlowMaker::dns},  {780, &FlowMaker::ntp},         {880, &FlowMaker::quic},
            {940, &FlowMaker::icmp}, {1000, &FlowMaker::rare},
        };
        const std::uint32_t pick = random.below(1000);
        for (const Kind& kind : kinds) {
            if (pick < kind.upTo) {
                return (this->*kind.make)();
            }
        }
        return rare();
    }

    // A DNS lookup alone: a query and its answer.
    Flow lookup() { return dns(); }

  private:
    Address client() {
        const std::uint32_t n = random.below(600);
        return {10, 1, static_cast<std::uint8_t>(n / 250), static_cast<std::uint8_t>(n % 250 + 1)};
    }
    Address server() { return serverAddress(random.below(300)); }
    std::uint16_t ephemeral() { return static_cast<std::uint16_t>(random.between(32768, 60999)); }

    Flow tcp(std::uint16_t serverPort) {
        Flow f{6, client(), server(), ephemeral(), serverPort, {}};
        f.steps.push_back({false, syn, 0, 0});
        f.steps.push_back({true, syn | ack, 0, 0});
        f.steps.push_back({false, ack, 0, 0});
        return f;
    }
    void close(Flow& f) {
        f.steps.push_back({false, fin | ack, 0, 0});
        f.steps.push_back({true, fin | ack, 0, 0});
        f.steps.push_back({false, ack, 0, 0});
    }

    Flow web() {
        const std::uint32_t p = random.below(100);
        Flow f = tcp(p < 70 ? 443 : p < 95 ? 80 : 8080);
        const std::uint32_t requests = random.between(1, 4);
        for (std::uint32_t r = 0; r < requests; ++r) {
            f.steps.push_back(
                {false, psh | ack, 0, static_cast<std::uint16_t>(random.between(250, 900))});
            const std::uint32_t segments = random.heavyTail(6, 500);
            for (std::uint32_t s = 0; s < segments; ++s) {
                const bool last = s + 1 == segments;
                const bool full = !last && random.chance(45);
                f.steps.push_back(
                    {true, static_cast<std::uint8_t>(last ? psh | ack : ack), 0,
                     static_cast<std::uint16_t>(full ? 1460 : random.between(40, 1400))});
                f.steps.push_back({false, ack, 0, 0});
            }
        }
        close(f);
        return f;
    }

    Flow interactive() {
        static constexpr std::uint16_t ports[] = {22, 25, 110, 143, 21, 23, 3306, 5432};
        Flow f = tcp(ports[random.below(8)]);
        const std::uint32_t exchanges = random.heavyTail(10, 500);
        for (std::uint32_t e = 0; e < exchanges; ++e) {
            const bool fromServer = random.chance(50);
            f.steps.push_back(
                {fromServer, psh | ack, 0, static_cast<std::uint16_t>(random.between(30, 300))});
            f.steps.push_back({!fromServer, ack, 0, 0});
        }
        close(f);
        return f;
    }

    // A connection of some `exchangeSteps` packets: requests of the client's, each answered with
    // segments that the client acknowledges every second one, then a close.
    Flow exchange() {
        static constexpr std::uint16_t ports[] = {443, 443, 443, 80, 8080, 22, 993, 5432};
        Flow f = tcp(ports[random.below(8)]);
        f.sequenced = true;
        f.sequence[0] = static_cast<std::uint32_t>(random.next());
        f.sequence[1] = static_cast<std::uint32_t>(random.next());
        const std::uint32_t steps = random.between(6, 2 * exchangeSteps - 10);
        while (f.steps.size() + 4 < steps) {
            f.steps.push_back(
                {false, psh | ack, 0, static_cast<std::uint16_t>(random.between(80, 700))});
            const std::uint32_t segments = random.between(1, 6);
            for (std::uint32_t s = 0; s < segments; ++s) {
                const bool last = s + 1 == segments;
                f.steps.push_back(
                    {true, static_cast<std::uint8_t>(last ? psh | ack : ack), 0,
                     static_cast<std::uint16_t>(last ? random.between(40, 1400) : 1460)});
                if (last || s % 2 == 1) {
                    f.steps.push_back({false, ack, 0, 0});
                }
            }
        }
        if (random.chance(10)) {
            f.steps.push_back({false, rst | ack, 0, 0});
        } else {
            close(f);
        }
        return f;
    }

    Flow refused() {
        Flow f{6,
               client(),
               server(),
               ephemeral(),
               static_cast<std::uint16_t>(random.between(1, 10000)),
               {}};
        f.steps.push_back({false, syn, 0, 0});
        f.steps.push_back({true, rst | ack, 0, 0});
        return f;
    }

    Flow dns() {
        Flow f{17, client(), {10, 1, 0, 53}, ephemeral(), 53, {}};
        f.steps.push_back({false, 0, 0, static_cast<std::uint16_t>(random.between(28, 60))});
        f.steps.push_back({true, 0, 0, static_cast<std::uint16_t>(random.between(60, 400))});
        // The name and its kind from a sequence of their own, so that the rest of the trace is
        // what it was when the lookups were filler.
        auto [query, answer] = book.lookup(names.below(NameBook::count), names.chance(30),
                                           static_cast<std::uint16_t>(names.next()),
                                           f.steps[0].payload, f.steps[1].payload);
        f.messages = {std::move(query), std::move(answer)};
        return f;
    }

    Flow ntp() {
        Flow f{17, client(), {10, 1, 0, 123}, 123, 123, {}};
        f.steps.push_back({false, 0, 0, 48});
        f.steps.push_back({true, 0, 0, 48});
        return f;
    }

    Flow quic() {
        Flow f{17, client(), server(), ephemeral(), 443, {}};
        const std::uint32_t packets = random.heavyTail(40, 1500);
        for (std::uint32_t i = 0; i < packets; ++i) {
            const bool fromServer = random.chance(75);
            f.steps.push_back({fromServer, 0, 0,
                               static_cast<std::uint16_t>(fromServer ? random.between(1200, 1350)
                                                                     : random.between(40, 120))});
        }
        return f;
    }

    Flow icmp() {
        Flow f{1, client(), server(), 0, 0, {}};
        const std::uint32_t kind = random.below(10);
        if (kind < 6) {  // ping
            for (std::uint32_t i = random.between(1, 8); i > 0; --i) {
                f.steps.push_back({false, 8, 0, 56});
                f.steps.push_back({true, 0, 0, 56});
            }
        } else if (kind < 8) {  // a datagram to a closed port
            f.steps.push_back({true, 3, static_cast<std::uint8_t>(random.chance(80) ? 3 : 1), 28});
        } else if (kind < 9) {  // a trace route hop
            f.steps.push_back({true, 11, 0, 28});
        } else {
            f.steps.push_back({true, 5, 1, 28});
        }
        return f;
    }

    Flow rare() {
        static constexpr std::uint8_t protocols[] = {47, 50, 89, 2, 103, 112, 132, 136, 200};
        const std::uint8_t protocol = protocols[random.below(9)];
        Flow f{protocol, client(), {10, 1, 0, 1}, 0, 0, {}};
        const bool tunnel = protocol == 47 || protocol == 50;
        const std::uint32_t packets = tunnel ? random.heavyTail(15, 600) : random.between(1, 20);
        for (std::uint32_t i = 0; i < packets; ++i) {
            f.steps.push_back({random.chance(50), 0, 0,
                               static_cast<std::uint16_t>(tunnel ? random.between(60, 1400)
                                                                 : random.between(20, 80))});
        }
        return f;
    }

    Random& random;
    std::uint32_t exchangeSteps;
    Random names{0x6e616d6573ull};
    NameBook book;
};

Address6 asIpv6(const Address& a) {
    return {0x20, 0x01, 0x0d, 0xb8, 0, 0, 0, 0, 0, 0, 0, 0, a[0], a[1], a[2], a[3]};
}

// The IPv6 twin of an IPv4 frame: the same payload under an IPv6 header, ICMP as ICMPv6.
Bytes asIpv6Frame(const Bytes& v4) {
    const std::size_t ip = 14, payloadAt = ip + (v4[ip] & 0x0Fu) * 4;
    std::uint8_t next = v4[ip + 9];
    Bytes payload(v4.begin() + static_cast<long>(payloadAt), v4.end());
    if (next == 1) {
        next = 58;
        switch (payload[0]) {
        case 8: payload[0] = 128; break;   // echo request
        case 0: payload[0] = 129; break;   // echo reply
        case 3: payload[0] = 1; break;     // destination unreachable
        case 11: payload[0] = 3; break;    // time exceeded
        default: payload[0] = 137; break;  // redirect
        }
    }
    const auto address = [&v4](std::size_t at) {
        return Address{v4[at], v4[at + 1], v4[at + 2], v4[at + 3]};
    };
    return ipv6Frame(next, asIpv6(address(ip + 12)), asIpv6(address(ip + 16)), payload);
}

// A frame that is not IP: ARP, LLDP or an 802.3 spanning-tree frame, in turn.
Bytes otherFrame(std::uint32_t which) {
    switch (which % 3) {
    case 0: return etherTypeFrame(0x0806, Bytes(28, 0x01));
    case 1: return etherTypeFrame(0x88CC, Bytes(40, 0x02));
    default: return etherTypeFrame(0x0026, Bytes(38, 0x42));
    }
}

Bytes frameOf(Flow& f, std::size_t step) {
    const Step& s = f.steps[step];
    const Address& from = s.fromServer ? f.server : f.client;
    const Address& to = s.fromServer ? f.client : f.server;
    const std::uint16_t fromPort = s.fromServer ? f.serverPort : f.clientPort;
    const std::uint16_t toPort = s.fromServer ? f.clientPort : f.serverPort;
    Bytes payload;
    std::uint32_t& sequence = f.sequence[s.fromServer ? 1 : 0];
    switch (f.protocol) {
    case 6:
        if (!f.sequenced) {
            payload = tcpHeader(fromPort, toPort, s.flagsOrType);
            break;
        }
        payload = tcpHeader(fromPort, toPort, s.flagsOrType, sequence,
                            s.flagsOrType & ack ? f.sequence[s.fromServer ? 0 : 1] : 0);
        sequence += s.payload + (s.flagsOrType & (syn | fin) ? 1 : 0);
        break;
    case 17:
        if (!f.messages.empty()) {
            const Bytes& message = f.messages[step];
            payload = udpHeader(fromPort, toPort, message.size());
            std::copy(message.begin(), message.end(), payload.begin() + 8);
            return ipv4Frame(f.protocol, from, to, payload);
        }
        [[fallthrough]];
    case 136:
        return ipv4Frame(f.protocol, from, to,
                         udpHeader(f.protocol == 136 ? 5004 : fromPort,
                                   f.protocol == 136 ? 5004 : toPort, s.payload));
    case 1: payload = icmpHeader(s.flagsOrType, s.code); break;
    case 132: payload = udpHeader(2905, 2905); break;  // SCTP ports
    default: break;
    }
    payload.resize(payload.size() + s.payload, 0x5a);
    return ipv4Frame(f.protocol, from, to, payload);
}

// The SYN of the flood's `n`th source, to a web server.
Bytes floodSyn(Random& random, std::uint32_t n) {
    const std::uint32_t source = (10u << 24) + n + 1;
    const Address from{static_cast<std::uint8_t>(source >> 24),
                       static_cast<std::uint8_t>(source >> 16),
                       static_cast<std::uint8_t>(source >> 8), static_cast<std::uint8_t>(source)};
    const auto port = static_cast<std::uint16_t>(random.between(1024, 65535));
    return ipv4Frame(6, from, {192, 0, 2, 80},
                     tcpHeader(port, 80, syn, static_cast<std::uint32_t>(random.next()), 0));
}

}  // namespace

int main(int argc, char** argv) {
    bool ipv6 = false, synFlood = false;
    std::uint32_t otherPercent = 0, dnsPercent = 0;
    long connections = 0;
    int first = 1;
    for (; first < argc && argv[first][0] == '-'; ++first) {
        const std::string_view option = argv[first];
        if (option == "--ipv6") {
            ipv6 = true;
        } else if (option == "--other" && first + 1 < argc) {
            otherPercent = static_cast<std::uint32_t>(std::atoi(argv[++first]));
        } else if (option == "--connections" && first + 1 < argc) {
            connections = std::atol(argv[++first]);
        } else if (option == "--syn-flood") {
            synFlood = true;
        } else if (option == "--dns" && first + 1 < argc) {
            dnsPercent = static_cast<std::uint32_t>(std::atoi(argv[++first]));
        } else {
            first = argc;
        }
    }
    const long packets = argc - first == 2 ? std::atol(argv[first]) : 0;
    if (packets <= 0 || otherPercent > 100 || dnsPercent > 100 || connections < 0 ||
        (connections > 0 && packets / connections < 10) || (synFlood && connections > 0)) {
        std::fprintf(stderr,
                     "usage: %s [--ipv6] [--other PERCENT] [--dns PERCENT] "
                     "[--connections N | --syn-flood] <packets> <output.pcap>\n"
                     "(--connections: at least 10 packets each)\n",
                     argv[0]);
        return 2;
    }
    const char* output = argv[first + 1];
    pcap_t* dead = pcap_open_dead(DLT_EN10MB, 65535);
    pcap_dumper_t* dumper = pcap_dump_open(dead, output);
    if (dumper == nullptr) {
        std::fprintf(stderr, "%s\n", pcap_geterr(dead));
        return 1;
    }

    Random random(0x7469646577726163ull);
    Random others(0x6f7468657273ull);
    Random lookups(0x6c6f6f6b757073ull), lookupShare(0x7368617265ull);
    FlowMaker maker(random,
                    connections > 0 ? static_cast<std::uint32_t>(packets / connections) : 0);
    FlowMaker lookupMaker(lookups);
    Flow lookup = lookupMaker.lookup();
    std::vector<Flow> active;
    long flows = 0;
    while (active.size() < concurrentFlows) {
        active.push_back(maker.make());
        ++flows;
    }

    const auto meanGap = static_cast<std::uint64_t>(traceSpanMicroseconds / packets);
    std::uint64_t clock = 0;
    long distinctSeconds = 0, lastSecond = -1;
    for (long n = 0; n < packets; ++n) {
        Bytes frame;
        if (synFlood) {
            clock += 10;  // 100,000 a second
            frame = floodSyn(random, static_cast<std::uint32_t>(n));
        } else {
            clock += random.below(static_cast<std::uint32_t>(2 * meanGap + 1));
            Flow& flow = active[random.below(concurrentFlows)];
            frame = frameOf(flow, flow.next++);
            if (flow.next == flow.steps.size()) {
                flow = maker.make();
                ++flows;
            }
        }
        // Drawn from sequences of their own, so that the IPv4 traffic stays that of the trace
        // without the options.
        if (dnsPercent > 0 && lookupShare.below(100) < dnsPercent) {
            frame = frameOf(lookup, lookup.next++);
            if (lookup.next == lookup.steps.size()) {
                lookup = lookupMaker.lookup();
                ++flows;
            }
        }
        if (otherPercent > 0 && others.below(100) < otherPercent) {
            frame = otherFrame(others.below(3));
        } else if (ipv6) {
            frame = asIpv6Frame(frame);
        }
        pcap_pkthdr header{};
        header.ts.tv_sec = traceStart + static_cast<long>(clock / 1000000);
        header.ts.tv_usec = static_cast<long>(clock % 1000000);
        header.caplen = header.len = static_cast<bpf_u_int32>(frame.size());
        pcap_dump(reinterpret_cast<u_char*>(dumper), &header, frame.data());
        if (header.ts.tv_sec != lastSecond) {
            lastSecond = header.ts.tv_sec;
            ++distinctSeconds;
        }
    }
    const long bytes = pcap_dump_ftell(dumper);
    const bool failed = pcap_dump_flush(dumper) != 0;
    pcap_dump_close(dumper);
    pcap_close(dead);
    if (failed) {
        std::fprintf(stderr, "error writing %s\n", output);
        return 1;
    }
    std::printf("packets %ld conversations %ld bytes %ld distinct_seconds %ld\n", packets,
                synFlood ? packets : flows, bytes, distinctSeconds);
    return 0;
}
