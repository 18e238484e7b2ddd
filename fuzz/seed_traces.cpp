// Writes the fuzzer's hand-made seed traces into the directory given as the only argument:
// one trace per corner of the trace format and of the decoder, so that mutation starts from
// inputs that already reach each of them.
#include <pcap/pcap.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "tracekit/frames.h"
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

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fputs("usage: seed_traces <directory>\n", stderr);
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
    return 0;
}
