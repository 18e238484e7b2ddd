// One row of a frames table, as the report reads it: the columns it counts by, in numbers.
#pragma once

#include <cstdint>

namespace tidewrack::report {

struct FrameRow {
    std::uint32_t source = 0;       // IPv4 address, first byte in the highest bits
    std::uint32_t destination = 0;  // the same
    std::uint16_t sourcePort = 0;   // for ICMP: type in the high byte, code in the low one
    std::uint16_t destinationPort = 0;
    std::uint16_t protocol = 0;  // the ProtocolCatalog's number of the ipproto name
    std::uint8_t tcpFlags = 0;   // TcpFlag bits, read from the flags text of TCP frames
    std::uint32_t length = 0;    // bytes on the wire
    std::int64_t time = 0;       // on the database's line of days (time_of_day.h), or unknownTime
};

}  // namespace tidewrack::report
