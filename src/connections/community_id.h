// Community ID, version 1: the flow identifier that Zeek, Suricata and Wireshark print for a
// connection, so that its rows can be found among theirs.
//
// The identifier hashes, with SHA-1, the seed (two bytes), the two addresses, the protocol, a
// zero byte and the two ports (two bytes each), all in network order, the end with the smaller
// address (or, on equal addresses, the smaller port) first; it is "1:" and the base64 of the
// 20-byte digest. Protocols other than TCP, UDP, SCTP, ICMP and ICMPv6 hash without ports, and
// so does a packet of theirs whose ports are unknown, as tshark does for a fragment. ICMP
// and ICMPv6 hash the type as the source port and, for the types that come as a request and its
// reply (echo, timestamp, information, address mask, router and neighbour solicitation and
// advertisement, multicast listener query and report, node information, home agent address
// discovery), the counterpart type as the destination port, so that both directions hash
// alike; any other message is one-way: its code is the destination port, and its ends keep the
// packet's order. SHA-1 and base64 come from OpenSSL's libcrypto.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace tidewrack {

// A flow as the identifier sees it: its ends in the packet's order.
struct FlowTuple {
    std::uint8_t family = 4;  // 4 or 6
    std::uint8_t protocol = 0;
    std::uint8_t source[16] = {};  // an IPv4 address in the first 4 bytes
    std::uint8_t destination[16] = {};
    bool hasPorts = false;  // false for a protocol without ports, and for a packet whose
                            // ports are unknown (a fragment after the first): none are hashed
    std::uint16_t sourcePort = 0;  // ICMP: the type and code, mapped by icmpPorts()
    std::uint16_t destinationPort = 0;
};

// What an ICMP or ICMPv6 message gives as ports, and whether it is one-way.
struct IcmpPorts {
    std::uint16_t source;
    std::uint16_t destination;
    bool oneWay;
};

// The counterpart of a request or reply type, or -1 when the type is one-way.
constexpr int icmpCounterpart(bool icmpv6, std::uint8_t type) {
    if (!icmpv6) {
        switch (type) {
        case 8: return 0;    // echo
        case 0: return 8;    // echo reply
        case 13: return 14;  // timestamp
        case 14: return 13;
        case 15: return 16;  // information
        case 16: return 15;
        case 10: return 9;   // router solicitation
        case 9: return 10;   // router advertisement
        case 17: return 18;  // address mask
        case 18: return 17;
        default: return -1;
        }
    }
    switch (type) {
    case 128: return 129;  // echo
    case 129: return 128;
    case 130: return 131;  // multicast listener query
    case 131: return 130;  // and report
    case 133: return 134;  // router solicitation
    case 134: return 133;
    case 135: return 136;  // neighbour solicitation
    case 136: return 135;
    case 139: return 140;  // node information query
    case 140: return 139;
    case 144: return 145;  // home agent address discovery
    case 145: return 144;
    default: return -1;
    }
}
static_assert(icmpCounterpart(false, 8) == 0 && icmpCounterpart(false, 0) == 8);
static_assert(icmpCounterpart(true, 135) == 136 && icmpCounterpart(true, 1) == -1);
static_assert(
    [] {
        for (int family = 0; family < 2; ++family) {
            for (int type = 0; type < 256; ++type) {
                const int other = icmpCounterpart(family == 1, static_cast<std::uint8_t>(type));
                if (other >= 0 &&
                    icmpCounterpart(family == 1, static_cast<std::uint8_t>(other)) != type) {
                    return false;
                }
            }
        }
        return true;
    }(),
    "every request and reply is the counterpart of its counterpart");

constexpr IcmpPorts icmpPorts(bool icmpv6, std::uint8_t type, std::uint8_t code) {
    const int other = icmpCounterpart(icmpv6, type);
    return other < 0 ? IcmpPorts{type, code, true}
                     : IcmpPorts{type, static_cast<std::uint16_t>(other), false};
}

// True when the protocol's identifier hashes its ports: TCP, UDP and SCTP, and ICMP and ICMPv6
// with their mapped type and code.
constexpr bool hashesPorts(std::uint8_t protocol) {
    return protocol == 6 || protocol == 17 || protocol == 132 || protocol == 1 || protocol == 58;
}

// True when end a comes first in the identifier's order (or ties with b): the smaller address
// first, on equal addresses the smaller port. Addresses compare as the big-endian numbers they
// are, IPv4's in their first 4 bytes.
inline bool endsInOrder(const std::uint8_t (&a)[16], const std::uint8_t (&b)[16], bool ipv6,
                        std::uint16_t aPort, std::uint16_t bPort) {
    std::uint64_t x[2] = {}, y[2] = {};
    if (ipv6) {
        std::memcpy(x, a, 16);
        std::memcpy(y, b, 16);
        x[0] = __builtin_bswap64(x[0]), x[1] = __builtin_bswap64(x[1]);
        y[0] = __builtin_bswap64(y[0]), y[1] = __builtin_bswap64(y[1]);
    } else {
        std::uint32_t u, v;
        std::memcpy(&u, a, 4);
        std::memcpy(&v, b, 4);
        x[0] = __builtin_bswap32(u);
        y[0] = __builtin_bswap32(v);
    }
    if (x[0] != y[0]) {
        return x[0] < y[0];
    }
    if (x[1] != y[1]) {
        return x[1] < y[1];
    }
    return aPort <= bPort;
}

// True when a flow's source comes first in the identifier's order; a one-way ICMP message
// keeps its order.
inline bool sourceFirst(const FlowTuple& flow, bool oneWay) {
    return oneWay || endsInOrder(flow.source, flow.destination, flow.family == 6, flow.sourcePort,
                                 flow.destinationPort);
}

// Puts a flow's ends in the identifier's order.
void orderEnds(FlowTuple& flow, bool oneWay);

// "1:" and 28 base64 characters, and the terminator.
inline constexpr std::size_t communityIdSize = 31;

// The SHA-1 digest of an ordered flow with the given seed; false when libcrypto failed.
bool communityIdDigest(const FlowTuple& ordered, std::uint16_t seed, std::uint8_t (&digest)[20]);

// Writes the identifier of an ordered flow into `text`; false, with `text` empty, when
// libcrypto failed.
bool communityId(const FlowTuple& ordered, std::uint16_t seed, char (&text)[communityIdSize]);

}  // namespace tidewrack
