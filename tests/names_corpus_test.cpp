// The names that the extended record learns, held against tshark's reading of the same frames.
// On every capture of the corpus: the DNS rows of NAMES (frame, address, name, TTL, and the name
// asked for when a CNAME chain led to the answer) against tshark's answers to DNS responses;
// each connection's own name against the server name of tshark's first ClientHello of its TCP
// stream or QUIC conversation, or the Host of its first HTTP request; and the name that a DNS
// answer gives each other connection, worked out from tshark's answers. What still differs is
// named below with its reason. Then a trace of our own, in which a browser's ClientHello comes
// in three segments, one of them sent twice and one out of order.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <map>
#include <set>

#include "corpus.h"
#include "database.h"
#include "run_program.h"
#include "scratch_dir.h"
#include "tracekit/name_traffic.h"
#include "tshark.h"

using namespace testkit;
using Rows = std::vector<std::string>;

namespace {

// tshark reassembles a TCP stream's segments in sequence order, as the name tracker does.
const std::string inOrder = "-o tcp.reassemble_out_of_order:TRUE";

// clang-format off
const std::vector<std::string> fields = {
    "frame.number", "ip.dst", "ipv6.dst", "tcp.stream", "udp.stream", "udp.srcport",
    "tcp.srcport", "icmp.type", "icmpv6.type", "dns.flags.response", "dns.qry.name",
    "dns.count.answers", "dns.resp.type", "dns.resp.name", "dns.resp.ttl", "dns.a", "dns.aaaa",
    "dns.cname", "tls.handshake.type", "tls.handshake.extensions_server_name", "quic.version",
    "http.request", "http.host"};
enum Field { Frame, Ip, Ip6, TcpStream, UdpStream, UdpSource, TcpSource, Icmp, Icmp6, Response,
             Question, AnswerCount, Types, Owners, Ttls, A, Aaaa, Cname, Handshake, ServerName,
             QuicVersion, Request, Host };
// clang-format on

// The values of a repeated field, as tshark joins them.
std::vector<std::string> values(const std::string& text, char separator = ',') {
    std::vector<std::string> out;
    for (std::size_t start = 0, end; !text.empty() && start <= text.size(); start = end + 1) {
        end = std::min(text.find(separator, start), text.size());
        out.push_back(text.substr(start, end - start));
    }
    return out;
}

std::string first(const std::string& text) {
    return text.substr(0, text.find(','));
}

std::string lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

// An address a DNS answer gave a client, and the name the client asked for.
struct Answer {
    long frame;
    std::string client, address, wanted;
};

// What tshark reads of one capture.
struct TsharkNames {
    std::map<std::string, std::string> dnsRows;  // first "frame|address|name|ttl|queried"
    std::vector<Answer> answers;
    std::map<std::string, std::string> own[3];  // per stream: TLS, QUIC, HTTP
    std::map<long, std::string> tcpStream, udpStream;
};

enum Own { Tls, Quic, Http };
const char* const ownSource[] = {"tls", "quic", "http"};

// The A and AAAA answers of one DNS response, as tshark lists its records.
void readResponse(const std::vector<std::string>& f, TsharkNames& names) {
    const auto types = values(f[Types]), owners = values(f[Owners]), ttls = values(f[Ttls]);
    const auto a = values(f[A]), aaaa = values(f[Aaaa]), cnames = values(f[Cname]);
    const std::size_t count = f[AnswerCount].empty() ? 0 : std::stoul(first(f[AnswerCount]));
    const std::string question = values(f[Question]).empty() ? "" : values(f[Question])[0];
    std::set<std::string> reached = {lower(question)};
    std::vector<std::pair<std::string, std::string>> links;
    struct Address {
        std::string owner, address, ttl;
        bool ipv6;
    };
    std::vector<Address> addresses;
    std::size_t ai = 0, aaaai = 0, ci = 0;
    for (std::size_t i = 0; i < types.size() && i < count && i < owners.size(); ++i) {
        if (types[i] == "1" && ai < a.size()) {
            addresses.push_back({owners[i], a[ai++], ttls[i], false});
        } else if (types[i] == "28" && aaaai < aaaa.size()) {
            addresses.push_back({owners[i], aaaa[aaaai++], ttls[i], true});
        } else if (types[i] == "5" && ci < cnames.size()) {
            links.emplace_back(lower(owners[i]), lower(cnames[ci++]));
        }
    }
    for (bool grew = !question.empty(); grew;) {
        grew = false;
        for (const auto& [owner, target] : links) {
            if (reached.count(owner) != 0 && reached.insert(target).second) {
                grew = true;
            }
        }
    }
    const bool overIpv6 = f[Ip].empty();
    const std::string client = first(overIpv6 ? f[Ip6] : f[Ip]);
    for (const Address& answer : addresses) {
        const bool chained = !question.empty() && lower(answer.owner) != lower(question) &&
                             reached.count(lower(answer.owner)) != 0;
        const std::string queried = chained ? question : "";
        names.dnsRows.emplace(answer.address + "|" + answer.owner + "|" + queried,
                              f[Frame] + "|" + answer.address + "|" + answer.owner + "|" +
                                  answer.ttl + "|" + queried);
        if (answer.ipv6 == overIpv6) {
            names.answers.push_back(
                {std::stol(f[Frame]), client, answer.address, chained ? question : answer.owner});
        }
    }
}

TsharkNames tsharkNames(const std::string& trace) {
    TsharkNames names;
    for (const auto& f : tsharkFields(trace, fields, "UTC", inOrder)) {
        const long frame = std::stol(f[Frame]);
        if (!f[TcpStream].empty()) {
            names.tcpStream[frame] = first(f[TcpStream]);
        }
        if (!f[UdpStream].empty()) {
            names.udpStream[frame] = first(f[UdpStream]);
        }
        const std::string udpPort = first(f[UdpSource]), tcpPort = first(f[TcpSource]);
        // Responses from the DNS and mDNS ports, not those quoted by an ICMP error.
        if (first(f[Response]) == "1" && f[Icmp].empty() && f[Icmp6].empty() &&
            (udpPort == "53" || udpPort == "5353" || tcpPort == "53")) {
            readResponse(f, names);
        }
        const auto types = values(f[Handshake]);
        if (std::find(types.begin(), types.end(), "1") != types.end()) {
            const bool quic = !f[QuicVersion].empty();
            const std::string& stream = quic ? f[UdpStream] : f[TcpStream];
            if (!stream.empty()) {
                names.own[quic ? Quic : Tls].emplace(first(stream), first(f[ServerName]));
            }
        }
        if (!f[Request].empty() && !f[TcpStream].empty()) {
            names.own[Http].emplace(first(f[TcpStream]), first(f[Host]));
        }
    }
    for (auto& own : names.own) {
        std::erase_if(own, [](const auto& entry) { return entry.second.empty(); });
    }
    return names;
}

// The differences that are known, by capture, each with its reason.
struct Named {
    const char* capture;
    const char* difference;
    const char* reason;
};
const Named namedDifferences[] = {
    {"badpackets.pcap", "dns, tshark only: 43|2607:f220:41f:1405::3|gslb02.nlm.nih.gov|3600|",
     "a response cut short by the capture: tshark keeps the answers before the cut, a message "
     "that runs past its end gives no name"},
    {"badpackets.pcap", "dns, tshark only: 49|81.91.161.80|grdns-de.denic.de|3600|",
     "a response cut short by the capture"},
    {"badpackets.pcap", "dns, tshark only: 87|77.240.249.244|ns1.csc.lt|86400|",
     "a response cut short by the capture"},
    {"fuzz-2006-09-29-28586.pcap", "http, stream 4: ours %s\\0002.20.3.5, tshark %s",
     "a NUL byte in the Host line: tshark's text ends there, ours writes it as \\000 and goes on"},
    {"fuzz-2006-09-29-28586.pcap", "http, stream 17: ours only 172.20.3.13",
     "the rest of the request head was never captured: tshark waits for the whole head, the "
     "Host line was whole in the first segment"},
    {"fuzz-2006-09-29-28586.pcap", "http, stream 19: ours only 172.20.3.13",
     "the rest of the request head was never captured"},
    {"fuzz-2006-09-29-28586.pcap", "http, stream 26: ours only 172.20.3.13",
     "the rest of the request head was never captured"},
    {"http_on_sip_port.pcap", "http, stream 0: ours only 45.58.148.2",
     "HTTP on port 5060, which tshark reads as SIP by its port"},
    {"methods.pcap", "http, stream 15: tshark only www.google.com",
     "method CCM_POST, which tshark knows and no HTTP standard defines"},
    {"methods.pcap", "http, stream 16: tshark only www.google.com", "method CCM_POST"},
    {"methods.pcap", "http, stream 19: tshark only www.google.com", "method CCM_POST"},
    {"ookla.pcap", "tls, stream 5: ours only spd-pub-mi-01-01.fastwebnet.it",
     "TLS on port 8080, which tshark does not read as TLS"},
    {"socks-with-ssl.pcap", "tls, stream 0: tshark only www.google.com",
     "TLS inside SOCKS: the ClientHello is not the first bytes of the connection"},
};

// The differences between two maps, as lines naming `kind`.
void compare(const std::string& kind, const std::map<std::string, std::string>& ours,
             const std::map<std::string, std::string>& theirs, Rows& differences,
             std::size_t& agreeing) {
    for (const auto& [key, name] : ours) {
        const auto other = theirs.find(key);
        if (other == theirs.end()) {
            differences.push_back(kind + ", stream " + key + ": ours only " + name);
        } else if (other->second != name) {
            differences.push_back(kind + ", stream " + key + ": ours " + name + ", tshark " +
                                  other->second);
        } else {
            ++agreeing;
        }
    }
    for (const auto& [key, name] : theirs) {
        if (ours.count(key) == 0) {
            differences.push_back(kind + ", stream " + key + ": tshark only " + name);
        }
    }
}

// Runs tidewrack -x on `trace` into `db`; false when it did not end well, or ended on a read
// error that it did not record.
bool analyse(const std::string& trace, const std::string& db) {
    std::filesystem::remove(db);
    const Outcome run = runProgram({"-x", "-r", trace, "-d", db, "-m", "2"});
    return run.status == 0 ||
           (run.status == 1 && !query(db, "SELECT read_error FROM CAPTURE WHERE read_error IS "
                                          "NOT NULL")
                                    .empty());
}

}  // namespace

TEST(NamesCorpus, NamesAndServerNamesAgreeWithTshark) {
    SKIP_WITHOUT_CORPUS();
    if (!tsharkInstalled()) {
        GTEST_SKIP() << "tshark is not installed";
    }
    ScratchDir dir;
    const std::string db = dir.path("names.db");
    std::size_t agreeing[5] = {};  // DNS rows, TLS, QUIC, HTTP, names from DNS answers
    std::set<std::string> seen;
    for (const std::string& trace : corpusFiles()) {
        const std::string capture = std::filesystem::path(trace).filename();
        SCOPED_TRACE(capture);
        ASSERT_TRUE(analyse(trace, db));
        const TsharkNames theirs = tsharkNames(trace);
        Rows differences;

        std::map<std::string, std::string> dnsRows;
        for (const std::string& row : query(db, "SELECT frame, address, name, ttl, "
                                                "ifnull(queried, '') FROM NAMES WHERE source = "
                                                "'dns'")) {
            dnsRows.emplace(row, row);
        }
        for (const auto& [key, row] : theirs.dnsRows) {
            if (dnsRows.erase(row) == 0) {
                differences.push_back("dns, tshark only: " + row);
            } else {
                ++agreeing[0];
            }
        }
        for (const auto& [row, same] : dnsRows) {
            differences.push_back("dns, ours only: " + row);
        }

        std::map<std::string, std::string> own[3];
        for (const std::string& row :
             query(db, "SELECT protocol, first_frame, client, server, ifnull(server_name, ''), "
                       "ifnull(name_source, '') FROM CONNECTIONS")) {
            const auto c = values(row, '|');
            const long frame = std::stol(c[1]);
            const auto& streams = c[0] == "17" ? theirs.udpStream : theirs.tcpStream;
            const auto stream = streams.find(frame);
            for (int source : {Tls, Quic, Http}) {
                if (c[5] == ownSource[source] && stream != streams.end()) {
                    own[source][stream->second] = c[4];
                }
            }
            if (c[5] == "dns" || c[5].empty()) {
                // The latest answer the client had for the server before the first frame,
                // either end being the client, as the tracker looks it up.
                const Answer* latest = nullptr;
                for (const Answer& answer : theirs.answers) {
                    if (answer.frame < frame &&
                        ((answer.client == c[2] && answer.address == c[3]) ||
                         (answer.client == c[3] && answer.address == c[2])) &&
                        (latest == nullptr || answer.frame >= latest->frame)) {
                        latest = &answer;
                    }
                }
                const std::string expected = latest != nullptr ? latest->wanted : "";
                if (expected != c[4]) {
                    differences.push_back("dns name of " + c[2] + " to " + c[3] + " at " + c[1] +
                                          ": ours " + c[4] + ", tshark's answers " + expected);
                } else if (!expected.empty()) {
                    ++agreeing[4];
                }
            }
        }
        for (int source : {Tls, Quic, Http}) {
            compare(ownSource[source], own[source], theirs.own[source], differences,
                    agreeing[1 + source]);
        }
        for (const std::string& difference : differences) {
            const auto named = std::find_if(
                std::begin(namedDifferences), std::end(namedDifferences),
                [&](const Named& n) { return n.capture == capture && n.difference == difference; });
            if (named == std::end(namedDifferences)) {
                ADD_FAILURE() << difference;
            } else {
                seen.insert(capture + ": " + difference);
            }
        }
    }
    for (const Named& n : namedDifferences) {
        EXPECT_EQ(seen.count(std::string(n.capture) + ": " + n.difference), 1u)
            << "a named difference no longer seen: " << n.capture << ": " << n.difference;
        std::printf("%s: %s (%s)\n", n.capture, n.difference, n.reason);
    }
    std::printf("agreeing with tshark: %zu DNS rows, %zu TLS, %zu QUIC and %zu HTTP names of "
                "connections, %zu names from DNS answers; %zu named differences\n",
                agreeing[0], agreeing[1], agreeing[2], agreeing[3], agreeing[4], seen.size());
}

// A browser's ClientHello (with a post-quantum key share and GREASE for an encrypted hello) in
// three segments, the third sent before the second and the first sent twice, after the DNS
// answer that told the client the server's address; then a connection to the server that sends
// nothing, named by that answer.
TEST(NameTraffic, ClientHelloInThreeSegmentsResentAndOutOfOrder) {
    using namespace tracekit;
    const Address client{192, 168, 7, 20}, resolver{192, 168, 7, 1}, server{198, 51, 100, 80};
    const Bytes hello = tlsClientHello("www.example.org");
    ASSERT_GT(hello.size(), 1700u);
    const Bytes response = dnsResponse(0x4242, "www.example.org", 1, {"edge.example.net"},
                                       {{server.begin(), server.end()}}, 120);
    Bytes datagram = udpHeader(53, 41000, response.size());
    std::copy(response.begin(), response.end(), datagram.begin() + 8);
    std::vector<Record> records = {{ipv4Frame(17, resolver, client, datagram), 1700000000, 0}};
    for (const Record& record : helloInThreeSegments(client, 50500, server, hello)) {
        records.push_back(record);
    }
    records.push_back({ipv4Frame(6, client, server, tcpHeader(50501, 8443, 0x02)), 1700000001});
    ScratchDir dir;
    const std::string trace = dir.path("hello.pcap"), db = dir.path("hello.db");
    writeTrace(trace, records);
    ASSERT_TRUE(analyse(trace, db));

    // The hello is whole with the eighth frame, the second segment.
    EXPECT_EQ(query(db, "SELECT * FROM NAMES ORDER BY frame"),
              (Rows{"1|198.51.100.80|edge.example.net|dns|120|www.example.org|",
                    "8|198.51.100.80|www.example.org|tls|||1"}));
    EXPECT_EQ(query(db, "SELECT client_port, server_port, server_name, name_source FROM "
                        "CONNECTIONS WHERE protocol = 6 ORDER BY client_port"),
              (Rows{"50500|443|www.example.org|tls", "50501|8443|www.example.org|dns"}));

    if (!tsharkInstalled()) {
        GTEST_SKIP() << "tshark is not installed: the names were checked, not tshark's reading";
    }
    EXPECT_EQ(tsharkFields(trace,
                           {"frame.number", "tls.handshake.extensions_server_name",
                            "tls.handshake.extension.type", "dns.cname", "dns.a"},
                           "UTC", inOrder + " -Y 'tls.handshake.type == 1 || dns'"),
              (std::vector<std::vector<std::string>>{
                  {"1", "", "", "edge.example.net", "198.51.100.80"},
                  {"8", "www.example.org",
                   "10794,0,23,65281,10,11,35,16,5,13,18,51,45,43,27,17613,65037,6682", "", ""}}));
}
