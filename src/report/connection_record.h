// One row of a database's connection record (CONNECTIONS) and one of its traffic by second
// (SECONDS), as the report reads them instead of the frames: the columns it counts by, in
// numbers, with times on the report's axis.
#pragma once

#include <cstdint>
#include <string_view>

#include "report/counts.h"
#include "report/ip_address.h"
#include "report/time_of_day.h"

namespace tidewrack::report {

struct ConnectionRecord {
    IpAddress client;
    IpAddress server;
    std::uint16_t clientPort = 0;  // for ICMP: its type, as the record keeps it
    std::uint16_t serverPort = 0;
    std::uint16_t protocol = 0;  // the ProtocolCatalog's number of the ipproto name
    Counts fromClient;
    Counts fromServer;
    std::int64_t first = unknownTime;  // its first and last frame's times, on the axis
    std::int64_t last = unknownTime;
    // TCP: the state's code, the history's letters (upper case the client's), the SYNs the
    // client sent, and the connect and handshake times in microseconds (unknownTime for none).
    std::string_view state;
    std::string_view history;
    std::uint32_t syns = 0;
    std::int64_t connect = unknownTime;
    std::int64_t handshake = unknownTime;
    // Its health, by direction (0 from the client, 1 from the server): retransmissions,
    // out-of-order segments, duplicate ACKs and zero windows; the bytes the capture missed; and
    // its Community ID.
    std::uint64_t retransmissions[2] = {0, 0};
    std::uint64_t outOfOrder[2] = {0, 0};
    std::uint64_t duplicateAcks[2] = {0, 0};
    std::uint64_t zeroWindows[2] = {0, 0};
    std::uint64_t missedBytes = 0;
    std::string_view communityId;
};

struct SecondRecord {
    std::int64_t start = 0;  // the second's start, on the axis
    Counts counts;
};

}  // namespace tidewrack::report
