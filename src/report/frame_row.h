// One row of a frames table, as the report reads it: the columns it counts by, in numbers.
#pragma once

#include <cstdint>

#include "report/ip_address.h"

namespace tidewrack::report {

struct FrameRow {
    IpAddress source;
    IpAddress destination;
    std::uint16_t sourcePort = 0;  // for ICMP: type in the high byte, code in the low one
    std::uint16_t destinationPort = 0;
    std::uint16_t protocol = 0;  // the ProtocolCatalog's number of the ipproto name
    std::uint8_t tcpFlags = 0;   // TcpFlag bits, read from the flags text of TCP frames
    std::uint32_t length = 0;    // bytes on the wire
    std::int64_t time = 0;       // on the database's line of days (time_of_day.h), or unknownTime
};

}  // namespace tidewrack::report
