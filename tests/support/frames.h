// Test frames and traces: Ethernet/IPv4 frames built byte by byte, written to pcap trace files
// through libpcap's own dump API.
#pragma once

#include <pcap/pcap.h>

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace testkit {

using Bytes = std::vector<std::uint8_t>;
using Address = std::array<std::uint8_t, 4>;

// Transport headers (the bytes that follow the IPv4 header).
Bytes tcpHeader(std::uint16_t sourcePort, std::uint16_t destinationPort, std::uint8_t flags);
Bytes udpHeader(std::uint16_t sourcePort, std::uint16_t destinationPort, std::size_t payload = 0);
Bytes icmpHeader(std::uint8_t type, std::uint8_t code);

// An Ethernet frame (EtherType IPv4) carrying an IPv4 header of `headerWords` 32-bit words
// (options zero-filled) with the given protocol, addresses and payload.
Bytes ipv4Frame(std::uint8_t protocol, Address source, Address destination, const Bytes& payload,
                std::uint8_t headerWords = 5);

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

// Reads a trace back: each record's header and bytes.
struct ReadRecord {
    pcap_pkthdr header;
    Bytes bytes;
};
std::vector<ReadRecord> readTrace(const std::string& path);

}  // namespace testkit
