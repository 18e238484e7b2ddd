// Writes the fuzzers' hand-made seeds. Into the first directory given, the trace fuzzer's
// traces: one per corner of the trace format and of the decoder, so that mutation starts from
// inputs that already reach each of them, and one of the traffic that names come from. Into
// the second, when given, the names fuzzer's payloads: DNS responses, a TLS ClientHello, an
// HTTP request and the frames of a QUIC client Initial packet.
#include <pcap/pcap.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

#include "tracekit/frames.h"
#include "tracekit/name_traffic.h"
#include "tracekit/pcapng_writer.h"

using namespace tracekit;

namespace {

const Address client{192, 168, 1, 10}, server{10, 0, 0, 1};

std::vector<Record> everyProtocol() {
    return {
        {ipv4Frame(6, server, client, tcpHeader(80, 40000, 0x12))},
        {ipv4Frame(6, client, server, tcpHeader(40000, 80, 0x02))},
        {ipv4Frame(17, client, server, udpHeader(5353, 53, 12))},
        {ipv4Frame(1, client, server, icmpHeader(3, 13))},
        {ipv4Frame(1, client, server, icmpHeader(200, 99))},
        {ipv4Frame(0, client, server, {})},
        {ipv4Frame(47, client, server, Bytes(8, 0))},
        {ipv4Frame(141, client, server, Bytes(4, 0))},
        {ipv4Frame(250, client, server, Bytes(4, 0))},
    };
}

// Header lengths 0 to 4 words (shorter than the fixed header) and 15 (40 bytes of options).
std::vector<Record> oddHeaderLengths() {
    std::vector<Record> records;
    for (std::uint8_t words : {0, 1, 2, 3, 4, 15}) {
        Bytes frame = ipv4Frame(17, client, server, udpHeader(1000, 2000));
        frame[14] = static_cast<std::uint8_t>(0x40 | words);
        records.push_back({frame});
    }
    records.push_back({ipv4Frame(6, client, server, tcpHeader(1, 2, 0x3F), 15)});
    return records;
}

// Captured lengths 0, 33 (one byte short of the addresses), 34, 36 and one larger than the
// length on the wire.
std::vector<Record> oddCapturedLengths() {
    const Bytes frame = ipv4Frame(6, client, server, tcpHeader(22, 2222, 0x12));
    std::vector<Record> records;
    for (std::uint32_t length : {0u, 33u, 34u, 36u}) {
        records.push_back({frame, 1700000000, 0, 0, length});
    }
    records.push_back({frame, 1700000000, 999999, 20, static_cast<std::uint32_t>(frame.size())});
    return records;
}

// The same packets under each link layer that the extended record reads, with VLAN tags, and
// beside frames that are not IP.
std::vector<Record> wrapped(Bytes (*wrap)(const Bytes&)) {
    std::vector<Record> records;
    for (const Record& record : everyProtocol()) {
        records.push_back({wrap(record.frame)});
    }
    return records;
}

// IPv6: each upper layer, extension headers before it, fragments, and a chain cut short.
std::vector<Record> ipv6Packets() {
    const Address6 a = {0x20, 0x01, 0x0d, 0xb8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1},
                   b = {0xfe, 0x80, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2};
    const Bytes tcp = tcpHeader(1025, 443, 0x12);
    Bytes options = {6, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};  // 16 bytes, then TCP
    options.insert(options.end(), tcp.begin(), tcp.end());
    const Bytes firstFragment = {17, 0, 0, 1, 0, 0, 0, 7, 0, 53, 0, 53, 0, 8, 0, 0};
    const Bytes laterFragment = {17, 0, 0, 0x40, 0, 0, 0, 7, 1, 2, 3, 4};
    const Bytes authentication = {58, 1, 0, 0, 0, 0, 0, 1, 0, 0, 0, 1, 128, 0, 0, 0};
    return {
        {ipv6Frame(6, a, b, tcp)},
        {ipv6Frame(17, a, b, udpHeader(5353, 53, 8))},
        {ipv6Frame(58, b, a, {135, 0, 0x12, 0x34, 0, 0, 0, 0})},
        {ipv6Frame(0, a, b, options)},
        {ipv6Frame(44, a, b, firstFragment)},
        {ipv6Frame(44, a, b, laterFragment)},
        {ipv6Frame(51, a, b, authentication)},
        {ipv6Frame(60, a, b, {6, 200, 0, 0, 0, 0, 0, 0})},  // a length far past the frame
        {ipv6Frame(59, a, b, {})},
    };
}

std::vector<Record> taggedAndOthers() {
    const Bytes udp = ipv4Frame(17, client, server, udpHeader(1000, 53, 8));
    return {
        {tagged(udp, {7})},
        {tagged(udp, {100, 7}, true)},
        {tagged(udp, {1, 2, 3})},
        {etherTypeFrame(0x0806, Bytes(28, 0))},
        {etherTypeFrame(0x86DD, Bytes(40, 0))},
        {etherTypeFrame(0x0026, Bytes(38, 0))},
        {tagged(udp, {9}), 1700000000, 0, 0, 17},
    };
}

// A response to www.example.com: a CNAME, then an A and an AAAA answer for its target (through
// compression pointers), and an A answer whose owner holds a space.
const Bytes dnsResponse = fromHex(
    "12348180000100040000000003777777076578616d706c6503636f6d0000010001c00c000500010000012c000e04"
    "656467650363646e036e657400c02d00010001000000140004c0000201c02d001c00010000001400102001"
    "0db8000000000000000000000001036f6464056e61206d650000010001000000050004c6336407");
// An mDNS response: no question, the cache-flush bit in the class.
const Bytes mdnsResponse =
    fromHex("123484000000000100000000077072696e746572056c6f63616c0000018001000000780004a9fe0102");
// An answer whose owner is a pointer to itself.
const Bytes pointerLoop = fromHex(
    "1234818000010001000000000171076578616d706c650000010001c01b0001000100000001000401020304");
// A ClientHello record for seed.example, with an outer encrypted_client_hello extension.
const Bytes clientHello = fromHex(
    "16030100d2010000ce030311111111111111111111111111111111111111111111111111111111111111112022"
    "22222222222222222222222222222222222222222222222222222222222222000413011302010000810a0a"
    "0000003300260024001d00203333333333333333333333333333333333333333333333333333333333333333"
    "00000011000f00000c736565642e6578616d706c65fe0d003a0000010001420020444444444444444444444444"
    "4444444444444444444444444444444444444444001055555555555555555555555555555555");

Bytes udp(std::uint16_t from, std::uint16_t to, const Bytes& payload) {
    Bytes datagram = udpHeader(from, to, payload.size());  // the header and filler bytes
    std::copy(payload.begin(), payload.end(), datagram.begin() + 8);
    return datagram;
}

Bytes tcp(std::uint16_t from, std::uint16_t to, std::uint8_t flags, std::uint32_t sequence,
          const Bytes& payload) {
    Bytes segment = tcpHeader(from, to, flags, sequence, 1);
    segment.insert(segment.end(), payload.begin(), payload.end());
    return segment;
}

// The traffic names are learnt from: DNS over UDP, mDNS and DNS over TCP; a TLS connection
// whose ClientHello (a browser's, with a post-quantum key share) comes in three segments, the
// last sent before the middle one and the first sent twice; an HTTP request.
std::vector<Record> nameTraffic() {
    Bytes overTcp = {0, static_cast<std::uint8_t>(dnsResponse.size())};
    overTcp.insert(overTcp.end(), dnsResponse.begin(), dnsResponse.end());
    std::vector<Record> records = {
        {ipv4Frame(17, server, client, udp(53, 40000, dnsResponse))},
        {ipv4Frame(17, client, {224, 0, 0, 251}, udp(5353, 5353, mdnsResponse))},
        {ipv4Frame(17, server, client, udp(53, 40001, pointerLoop))},
        {ipv4Frame(6, server, client, tcp(53, 40002, 0x18, 1, overTcp))},
    };
    for (Record& record :
         helloInThreeSegments(client, 40003, server, tlsClientHello("seed.example"))) {
        records.push_back(record);
    }
    records.push_back(
        {ipv4Frame(6, client, server, tcp(40004, 80, 0x18, 7, httpRequest("seed.example", "/")))});
    return records;
}

void writePayload(const std::string& path, const Bytes& bytes) {
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
}

// The names fuzzer's seeds: each payload alone, and the frames of a client Initial packet (a
// PING, an ACK, and the ClientHello in a CRYPTO frame).
void writeNamePayloads(const std::string& dir) {
    std::filesystem::create_directories(dir);
    writePayload(dir + "/dns-response", dnsResponse);
    writePayload(dir + "/mdns-response", mdnsResponse);
    writePayload(dir + "/dns-pointer-loop", pointerLoop);
    writePayload(dir + "/tls-client-hello", clientHello);
    writePayload(dir + "/http-request", httpRequest("seed.example", "/"));
    writePayload(dir + "/tls-client-hello-post-quantum", tlsClientHello("seed.example"));
    Bytes frames = {0x01, 0x02, 0x05, 0x00, 0x01, 0x00, 0x01, 0x01, 0x06, 0x00};
    const std::size_t helloLength = clientHello.size() - 5;  // without the record header
    frames.push_back(static_cast<std::uint8_t>(0x40 | helloLength >> 8));
    frames.push_back(static_cast<std::uint8_t>(helloLength));
    frames.insert(frames.end(), clientHello.begin() + 5, clientHello.end());
    writePayload(dir + "/quic-initial-frames", frames);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2 && argc != 3) {
        std::fputs("usage: seed_traces <directory> [<names directory>]\n", stderr);
        return 2;
    }
    const std::string dir = argv[1];
    std::filesystem::create_directories(dir);
    writeTrace(dir + "/every-protocol.pcap", everyProtocol());
    writeTrace(dir + "/odd-header-lengths.pcap", oddHeaderLengths());
    writeTrace(dir + "/odd-captured-lengths.pcap", oddCapturedLengths());
    writeTrace(dir + "/raw-ip-link.pcap", everyProtocol(), DLT_RAW);
    writeTrace(dir + "/raw-ip-packets.pcap", wrapped(rawIpFrame), DLT_RAW);
    writeTrace(dir + "/linux-cooked.pcap", wrapped([](const Bytes& f) { return cookedFrame(f); }),
               DLT_LINUX_SLL);
    writeTrace(dir + "/linux-cooked-v2.pcap",
               wrapped([](const Bytes& f) { return cookedFrame(f, 2); }), DLT_LINUX_SLL2);
    writeTrace(dir + "/bsd-loopback.pcap",
               wrapped([](const Bytes& f) { return loopbackFrame(f, 2); }), DLT_NULL);
    writeTrace(dir + "/vlans-and-others.pcap", taggedAndOthers());
    writeTrace(dir + "/name-traffic.pcap", nameTraffic());
    writeTrace(dir + "/ipv6-packets.pcap", ipv6Packets());
    writeTrace(
        dir + "/ipv6-raw-ip.pcap",
        [] {
            std::vector<Record> raw;
            for (const Record& record : ipv6Packets()) {
                raw.push_back({rawIpFrame(record.frame)});
            }
            return raw;
        }(),
        DLT_RAW);
    writeTrace(dir + "/nanoseconds.pcap", everyProtocol(), DLT_EN10MB, PCAP_TSTAMP_PRECISION_NANO);
    writePcapng(dir + "/every-protocol.pcapng", everyProtocol());
    writePcapng(dir + "/odd-captured-lengths.pcapng", oddCapturedLengths());
    // The same trace cut inside the second record's header and inside its body.
    writeTrace(dir + "/cut-header.pcap", everyProtocol());
    std::filesystem::copy_file(dir + "/cut-header.pcap", dir + "/cut-body.pcap",
                               std::filesystem::copy_options::overwrite_existing);
    const std::uintmax_t second = 24 + 16 + everyProtocol()[0].frame.size();
    std::filesystem::resize_file(dir + "/cut-header.pcap", second + 7);
    std::filesystem::resize_file(dir + "/cut-body.pcap", second + 16 + 20);
    if (argc == 3) {
        writeNamePayloads(argv[2]);
    }
    return 0;
}
