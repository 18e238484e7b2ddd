// Counting one frame into the tally.
#include "report/traffic_tally.h"

#include <algorithm>

#include "capture/tcp_flags.h"

namespace tidewrack::report {

void TrafficTally::startDatabase(const std::string& path, int mode) {
    databases.push_back({path, mode, {}, unknownTime, unknownTime});
}

void TrafficTally::add(const FrameRow& row) {
    const ProtocolKind kind = catalog.kind(row.protocol);
    DatabaseSummary& database = databases.back();
    database.counts.add(row.length);
    if (row.time != unknownTime) {
        if (database.first == unknownTime || row.time < database.first) {
            database.first = row.time;
        }
        database.last = std::max(database.last, row.time);
    }
    if (row.protocol >= protocols.size()) {
        protocols.resize(row.protocol + 1u);
    }
    protocols[row.protocol].add(row.length);
    endpoints[row.source].sent.add(row.length);
    endpoints[row.destination].received.add(row.length);

    const bool hasPorts = kind == ProtocolKind::Tcp || kind == ProtocolKind::Udp;
    const std::uint16_t sourcePort = hasPorts ? row.sourcePort : 0;
    const std::uint16_t destinationPort = hasPorts ? row.destinationPort : 0;
    const bool fromA = row.source < row.destination ||
                       (row.source == row.destination && sourcePort <= destinationPort);
    const ConversationKey key = fromA ? ConversationKey{row.source, row.destination, sourcePort,
                                                        destinationPort, row.protocol}
                                      : ConversationKey{row.destination, row.source,
                                                        destinationPort, sourcePort, row.protocol};
    Conversation& conversation = conversations[key];
    (fromA ? conversation.aToB : conversation.bToA).add(row.length);
    if (row.time != unknownTime) {
        if (conversation.first == unknownTime || row.time < conversation.first) {
            conversation.first = row.time;
        }
        if (row.time > conversation.last) {
            conversation.last = row.time;
        }
        timeline.add(row.time, row.length);
    }

    switch (kind) {
    case ProtocolKind::Tcp:
        if ((row.tcpFlags & (TcpSyn | TcpAck)) == TcpSyn) {
            conversation.handshake |= fromA ? SynFromA : SynFromB;
        } else if (isSynAck(row.tcpFlags)) {
            conversation.handshake |= fromA ? SynAckFromA : SynAckFromB;
        }
        break;
    case ProtocolKind::Udp: udpPorts[row.destinationPort].add(row.length); break;
    case ProtocolKind::Icmp:
        icmpMessages[row.sourcePort].add(row.length);
        if (isIcmpError(static_cast<std::uint8_t>(row.sourcePort >> 8))) {
            icmpErrors[{row.source, row.destination, row.sourcePort}].add(row.length);
        }
        break;
    case ProtocolKind::Other: break;
    }
}

}  // namespace tidewrack::report
