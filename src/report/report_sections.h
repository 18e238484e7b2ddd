// The report as its outputs show it: the tally's counts put in order, section by section.
//
// Every list is sorted by bytes, descending (port scans, which have no bytes of their own, by
// the ports probed), ties broken by frames and then by the row's own key so that
// the same databases always give the same report; each list keeps its first `top` rows (all
// with 0) and the number of rows it had. The databases stay in the order given, and the
// timeline keeps every interval. Ports without a well-known service fold into one EPHEMERAL
// row of the service lists.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "report/counts.h"
#include "report/timeline.h"
#include "report/traffic_tally.h"

namespace tidewrack::report {

template <typename Row>
struct Ranked {
    std::vector<Row> rows;  // the first `top`
    std::size_t total = 0;  // how many there were
};

struct ProtocolRow {
    std::string name;
    Counts counts;
};

struct EndpointRow {
    std::uint32_t address;
    Endpoint counts;
};

struct ConversationRow {
    std::string protocol;
    bool hasPorts;
    ConversationKey key;
    Conversation counts;
};

inline constexpr int foldedPorts = -1;  // the port of the EPHEMERAL row

struct TcpServiceRow {
    int port;  // or foldedPorts
    std::string service;
    std::uint64_t connections;
    std::uint64_t servers;
    Counts counts;  // both ways, over the accepted connections
};

struct UdpServiceRow {
    int port;  // or foldedPorts
    std::string service;
    Counts counts;
};

struct IcmpMessageRow {
    std::uint8_t type;
    std::uint8_t code;
    std::string message;  // the type's text
    std::string detail;   // the code's text
    Counts counts;
};

struct PortScanRow {
    std::uint32_t source;
    std::uint32_t target;
    std::uint64_t ports;     // distinct ports sent a SYN
    std::uint64_t answered;  // of those, ports that answered SYN ACK
    std::vector<std::uint16_t> openPorts;
};

struct IcmpErrorRow {
    std::uint32_t reporter;
    std::uint32_t sentTo;
    std::uint8_t type;
    std::uint8_t code;
    std::string message;
    std::string detail;
    Counts counts;
};

struct UnansweredRow {
    std::uint32_t source;
    std::uint32_t destination;
    std::uint16_t port;
    std::uint64_t attempts;  // conversations, one per source port
    Counts counts;           // the frames sent, never answered
};

struct Report {
    std::vector<DatabaseSummary> databases;
    Counts total;
    std::int64_t first = unknownTime;
    std::int64_t last = unknownTime;
    std::vector<std::string> protocolNames;  // every protocol seen, by name
    std::size_t top = 0;

    Ranked<ProtocolRow> protocols;
    std::int64_t interval = 0;  // of the timeline, in microseconds
    std::vector<Timeline::Bucket> timeline;
    Ranked<Timeline::Bucket> busiest;
    Ranked<EndpointRow> endpoints;
    Ranked<ConversationRow> conversations;
    Ranked<TcpServiceRow> tcpServices;
    Ranked<UdpServiceRow> udpServices;
    Ranked<IcmpMessageRow> icmpMessages;
    Ranked<PortScanRow> portScans;
    Ranked<IcmpErrorRow> icmpErrors;
    Ranked<UnansweredRow> unanswered;
};

inline constexpr std::uint64_t portScanThreshold = 10;  // distinct ports of one target

Report buildReport(const TrafficTally& tally, std::size_t top);

}  // namespace tidewrack::report
