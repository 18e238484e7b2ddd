// The trace kit: Ethernet/IPv4 frames built byte by byte, written to pcap trace files through
// libpcap's own dump API and read back. The tests, the sample generator, the benchmark's trace
// generator and the fuzzer's seeds all make their traces with it.
#pragma once

#include <pcap/pcap.h>

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tracekit {

using Bytes = std::vector<std::uint8_t>;
using Address = std::array<std::uint8_t, 4>;
using Address6 = std::array<std::uint8_t, 16>;

// Transport headers (the bytes that follow the IPv4 header).
Bytes tcpHeader(std::uint16_t sourcePort, std::uint16_t destinationPort, std::uint8_t flags);
// The same with sequence and acknowledgement numbers, as tshark's TCP analysis needs them.
Bytes tcpHeader(std::uint16_t sourcePort, std::uint16_t destinationPort, std::uint8_t flags,
                std::uint32_t sequence, std::uint32_t acknowledgement);
Bytes udpHeader(std::uint16_t sourcePort, std::uint16_t destinationPort, std::size_t payload = 0);
Bytes icmpHeader(std::uint8_t type, std::uint8_t code);

// An Ethernet frame (EtherType IPv4) carrying an IPv4 header of `headerWords` 32-bit words
// (options zero-filled) with the given protocol, addresses and payload.
Bytes ipv4Frame(std::uint8_t protocol, Address source, Address destination, const Bytes& payload,
                std::uint8_t headerWords = 5);

// An Ethernet frame (EtherType IPv6) carrying an IPv6 header with the given next header and
// addresses, then `payload` (extension headers, if any, and the upper-layer header).
Bytes ipv6Frame(std::uint8_t nextHeader, const Address6& source, const Address6& destination,
                const Bytes& payload);

// Link layers around an Ethernet frame: the frame with 802.1Q tags of the given ids (outer first,
// TPID 0x8100, or 0x88a8 for the outer one with `outerIsQinq`) after its addresses; an Ethernet
// frame of another EtherType; and the frame's payload under a Linux cooked (v1 or v2), raw IP or
// BSD loopback (DLT_NULL, little-endian family) header instead of its Ethernet header.
Bytes tagged(const Bytes& ethernet, const std::vector<std::uint16_t>& vlans,
             bool outerIsQinq = false);
Bytes etherTypeFrame(std::uint16_t etherType, const Bytes& payload);
Bytes cookedFrame(const Bytes& ethernet, int version = 1);
Bytes rawIpFrame(const Bytes& ethernet);
Bytes loopbackFrame(const Bytes& ethernet, std::uint32_t family);

// One record of a trace. `wireLength` 0 means the frame's size; `capturedLength` cuts the
// stored bytes (a length larger than the frame is written as the header says, bytes padded).
struct Record {
    Bytes frame;
    long seconds = 1700000000;
    long microseconds = 0;
    std::uint32_t wireLength = 0;
    std::uint32_t capturedLength = UINT32_MAX;
};

// Writes the records with pcap_dump; link type Ethernet unless given. With nanosecond
// precision the file is a nanosecond trace and `microseconds` holds nanoseconds.
void writeTrace(const std::string& path, const std::vector<Record>& records,
                int linkType = DLT_EN10MB, int precision = PCAP_TSTAMP_PRECISION_MICRO);

// `count` DNS queries from 192.168.1.10:5353 to 10.0.0.1:53, each with `payload` bytes of data,
// one second apart in microseconds only (record i is stamped i microseconds after the first).
std::vector<Record> udpRecords(int count, std::size_t payload = 20);

// Appends `value` to `out` as `bytes` little-endian bytes: the byte order of the trace headers
// this kit writes by hand.
void putLittle(std::string& out, std::uint64_t value, int bytes);

// The bytes that a text of hexadecimal digit pairs spells ("c0ff" gives 0xC0, 0xFF).
Bytes fromHex(std::string_view hex);

// Reads a trace back: each record's header and bytes.
struct ReadRecord {
    pcap_pkthdr header;
    Bytes bytes;
};
std::vector<ReadRecord> readTrace(const std::string& path);

}  // namespace tracekit
