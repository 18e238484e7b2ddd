// Frame builders, trace files and their reading back.
#include "tracekit/frames.h"

#include <algorithm>
#include <stdexcept>

namespace tracekit {

namespace {

void put16(Bytes& b, std::size_t at, std::uint16_t v) {
    b[at] = static_cast<std::uint8_t>(v >> 8);
    b[at + 1] = static_cast<std::uint8_t>(v);
}

// Appends the bytes from `first` to the end of `from`. (vector::insert at the end draws false
// array-bounds warnings from g++ 12 once inlined.)
void append(Bytes& b, const Bytes& from, std::size_t first = 0) {
    const std::size_t at = b.size(), count = from.size() - first;
    b.resize(at + count);
    std::copy(from.begin() + static_cast<long>(first), from.end(),
              b.begin() + static_cast<long>(at));
}

}  // namespace

Bytes tcpHeader(std::uint16_t sourcePort, std::uint16_t destinationPort, std::uint8_t flags) {
    Bytes b(20, 0);
    put16(b, 0, sourcePort);
    put16(b, 2, destinationPort);
    b[12] = 5 << 4;  // data offset
    b[13] = flags;
    put16(b, 14, 65535);  // window
    return b;
}

Bytes tcpHeader(std::uint16_t sourcePort, std::uint16_t destinationPort, std::uint8_t flags,
                std::uint32_t sequence, std::uint32_t acknowledgement) {
    Bytes b = tcpHeader(sourcePort, destinationPort, flags);
    for (int i = 0; i < 4; ++i) {
        b[4 + i] = static_cast<std::uint8_t>(sequence >> (24 - 8 * i));
        b[8 + i] = static_cast<std::uint8_t>(acknowledgement >> (24 - 8 * i));
    }
    return b;
}

Bytes udpHeader(std::uint16_t sourcePort, std::uint16_t destinationPort, std::size_t payload) {
    Bytes b(8 + payload, 0x61);
    put16(b, 0, sourcePort);
    put16(b, 2, destinationPort);
    put16(b, 4, static_cast<std::uint16_t>(8 + payload));
    put16(b, 6, 0);
    return b;
}

Bytes icmpHeader(std::uint8_t type, std::uint8_t code) {
    Bytes b(8, 0);
    b[0] = type;
    b[1] = code;
    put16(b, 2, 0xBEEF);  // checksum field, not checked by anyone
    return b;
}

Bytes ipv4Frame(std::uint8_t protocol, Address source, Address destination, const Bytes& payload,
                std::uint8_t headerWords) {
    const std::size_t ipLength = headerWords * 4u;
    Bytes b(14 + ipLength, 0);
    for (int i = 0; i < 6; ++i) {
        b[i] = 0x02;      // destination MAC
        b[6 + i] = 0x04;  // source MAC
    }
    put16(b, 12, 0x0800);
    b[14] = static_cast<std::uint8_t>(0x40 | (headerWords & 0x0F));
    put16(b, 16, static_cast<std::uint16_t>(ipLength + payload.size()));
    b[22] = 64;  // time to live
    b[23] = protocol;
    for (int i = 0; i < 4; ++i) {
        b[26 + i] = source[i];
        b[30 + i] = destination[i];
    }
    append(b, payload);
    return b;
}

Bytes ipv6Frame(std::uint8_t nextHeader, const Address6& source, const Address6& destination,
                const Bytes& payload) {
    Bytes b(14 + 40, 0);
    for (int i = 0; i < 6; ++i) {
        b[i] = 0x02;
        b[6 + i] = 0x04;
    }
    put16(b, 12, 0x86DD);
    b[14] = 0x60;  // version 6
    put16(b, 18, static_cast<std::uint16_t>(payload.size()));
    b[20] = nextHeader;
    b[21] = 64;  // hop limit
    std::copy(source.begin(), source.end(), b.begin() + 22);
    std::copy(destination.begin(), destination.end(), b.begin() + 38);
    append(b, payload);
    return b;
}

Bytes tagged(const Bytes& ethernet, const std::vector<std::uint16_t>& vlans, bool outerIsQinq) {
    Bytes b(ethernet.begin(), ethernet.begin() + 12);
    for (std::size_t i = 0; i < vlans.size(); ++i) {
        const std::uint16_t tpid = i == 0 && outerIsQinq ? 0x88A8 : 0x8100;
        b.insert(b.end(), {static_cast<std::uint8_t>(tpid >> 8), static_cast<std::uint8_t>(tpid),
                           static_cast<std::uint8_t>(vlans[i] >> 8 & 0x0F),
                           static_cast<std::uint8_t>(vlans[i])});
    }
    append(b, ethernet, 12);
    return b;
}

Bytes etherTypeFrame(std::uint16_t etherType, const Bytes& payload) {
    Bytes b(14, 0x02);
    put16(b, 12, etherType);
    append(b, payload);
    return b;
}

Bytes cookedFrame(const Bytes& ethernet, int version) {
    const std::uint16_t protocol = static_cast<std::uint16_t>(ethernet[12] << 8 | ethernet[13]);
    Bytes b(version == 1 ? 16 : 20, 0);
    if (version == 1) {
        put16(b, 2, 1);  // ARPHRD_ETHER
        put16(b, 4, 6);  // address length
        put16(b, 14, protocol);
    } else {
        put16(b, 0, protocol);
        b[7] = 2;  // interface index
        put16(b, 8, 1);
        b[11] = 6;
    }
    std::copy(ethernet.begin() + 6, ethernet.begin() + 12, b.begin() + (version == 1 ? 6 : 12));
    append(b, ethernet, 14);
    return b;
}

Bytes rawIpFrame(const Bytes& ethernet) {
    return Bytes(ethernet.begin() + 14, ethernet.end());
}

Bytes loopbackFrame(const Bytes& ethernet, std::uint32_t family) {
    Bytes b = {static_cast<std::uint8_t>(family), static_cast<std::uint8_t>(family >> 8),
               static_cast<std::uint8_t>(family >> 16), static_cast<std::uint8_t>(family >> 24)};
    append(b, ethernet, 14);
    return b;
}

std::vector<Record> udpRecords(int count, std::size_t payload) {
    std::vector<Record> records;
    for (int i = 0; i < count; ++i) {
        records.push_back(
            {ipv4Frame(17, {192, 168, 1, 10}, {10, 0, 0, 1}, udpHeader(5353, 53, payload)),
             1700000000, i});
    }
    return records;
}

void putLittle(std::string& out, std::uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) {
        out += static_cast<char>(value >> (8 * i) & 0xFF);
    }
}

Bytes fromHex(std::string_view hex) {
    Bytes out;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
        out.push_back(
            static_cast<std::uint8_t>(std::stoi(std::string(hex.substr(i, 2)), nullptr, 16)));
    }
    return out;
}

void writeTrace(const std::string& path, const std::vector<Record>& records, int linkType,
                int precision) {
    pcap_t* dead =
        pcap_open_dead_with_tstamp_precision(linkType, 65535, static_cast<u_int>(precision));
    pcap_dumper_t* dumper = pcap_dump_open(dead, path.c_str());
    if (dumper == nullptr) {
        pcap_close(dead);
        throw std::runtime_error("cannot write trace " + path);
    }
    for (const Record& r : records) {
        pcap_pkthdr header{};
        header.ts.tv_sec = r.seconds;
        header.ts.tv_usec = r.microseconds;
        header.caplen = r.capturedLength == UINT32_MAX ? static_cast<std::uint32_t>(r.frame.size())
                                                       : r.capturedLength;
        header.len = r.wireLength != 0 ? r.wireLength : static_cast<std::uint32_t>(r.frame.size());
        Bytes data = r.frame;
        data.resize(std::max<std::size_t>(data.size(), header.caplen), 0);
        pcap_dump(reinterpret_cast<u_char*>(dumper), &header, data.data());
    }
    pcap_dump_close(dumper);
    pcap_close(dead);
}

std::vector<ReadRecord> readTrace(const std::string& path) {
    char error[PCAP_ERRBUF_SIZE];
    pcap_t* in = pcap_open_offline(path.c_str(), error);
    if (in == nullptr) {
        throw std::runtime_error(error);
    }
    std::vector<ReadRecord> records;
    pcap_pkthdr* header;
    const u_char* data;
    while (pcap_next_ex(in, &header, &data) == 1) {
        records.push_back({*header, Bytes(data, data + header->caplen)});
    }
    pcap_close(in);
    return records;
}

}  // namespace tracekit
