// The counts behind every section of the report, gathered in one pass over the frames of all
// databases. The tally owns everything the pass needs: the catalog of protocol names, each
// database's own figures and the counts of the whole.
//
// Each frame is counted once in each of a few hash maps: per protocol, per endpoint (sent and
// received), per conversation, per UDP destination port, per ICMP type and code, and per ICMP
// error between two hosts, and once on the timeline. What the sections derive further (TCP
// services, port scans, unanswered connection attempts) comes from the conversations at the
// end. Memory thus grows with the distinct endpoints, conversations, ports and messages met,
// never with the number of frames.
//
// A conversation of TCP or UDP is the unordered pair of address:port ends; of any other
// protocol, the unordered pair of addresses. Its end "a" is the lower one in byte order, by
// address and then by port.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "report/counts.h"
#include "report/frame_row.h"
#include "report/protocol_catalog.h"
#include "report/time_of_day.h"
#include "report/timeline.h"

namespace tidewrack::report {

struct ConversationKey {
    std::uint32_t a = 0;
    std::uint32_t b = 0;
    std::uint16_t portA = 0;  // 0 for protocols without ports
    std::uint16_t portB = 0;
    std::uint16_t protocol = 0;
    bool operator==(const ConversationKey&) const = default;
};

// The TCP handshake segments seen in a conversation, by the side that sent them.
enum HandshakeSeen : std::uint8_t {
    SynFromA = 1,  // SYN without ACK: an attempt to connect
    SynFromB = 2,
    SynAckFromA = 4,  // SYN with ACK: the attempt accepted
    SynAckFromB = 8,
};

struct Conversation {
    Counts aToB;
    Counts bToA;
    std::int64_t first = unknownTime;
    std::int64_t last = unknownTime;
    std::uint8_t handshake = 0;  // HandshakeSeen bits
};

struct Endpoint {
    Counts sent;
    Counts received;
};

struct IcmpErrorKey {
    std::uint32_t reporter = 0;  // the host that sent the error
    std::uint32_t sentTo = 0;
    std::uint16_t typeAndCode = 0;
    bool operator==(const IcmpErrorKey&) const = default;
};

struct KeyHash {
    std::size_t operator()(const ConversationKey& k) const {
        return mix(k.a, k.b,
                   std::uint64_t{k.portA} << 32 | std::uint64_t{k.portB} << 16 | k.protocol);
    }
    std::size_t operator()(const IcmpErrorKey& k) const {
        return mix(k.reporter, k.sentTo, k.typeAndCode);
    }
    static std::size_t mix(std::uint64_t x, std::uint64_t y, std::uint64_t z) {
        std::uint64_t h = (x << 32 | y) * 0x9E3779B97F4A7C15ull ^ z * 0xC2B2AE3D27D4EB4Full;
        return static_cast<std::size_t>(h ^ h >> 29);
    }
};

// ICMP types that report a problem: destination unreachable, redirect, time exceeded, bad
// IP header.
constexpr bool isIcmpError(std::uint8_t type) {
    return type == 3 || type == 5 || type == 11 || type == 12;
}

// One database's figures, as the summary shows them.
struct DatabaseSummary {
    std::string path;
    int mode = 0;
    Counts counts;
    std::int64_t first = unknownTime;  // the first and last known times, on its line of days
    std::int64_t last = unknownTime;
};

struct TrafficTally {
    // The frames added next are those of this database.
    void startDatabase(const std::string& path, int mode);
    // Counts one frame of the current database; its protocol is a number of `catalog`.
    void add(const FrameRow& row);

    ProtocolCatalog catalog;
    std::vector<DatabaseSummary> databases;  // in the order read
    std::vector<Counts> protocols;           // by the catalog's number
    std::unordered_map<std::uint32_t, Endpoint> endpoints;
    std::unordered_map<ConversationKey, Conversation, KeyHash> conversations;
    std::unordered_map<std::uint16_t, Counts> udpPorts;      // by destination port
    std::unordered_map<std::uint16_t, Counts> icmpMessages;  // by type << 8 | code
    std::unordered_map<IcmpErrorKey, Counts, KeyHash> icmpErrors;
    Timeline timeline;
};

}  // namespace tidewrack::report
