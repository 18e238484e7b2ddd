// Counting frames into the tally, and writing it to the store.
#include "report/traffic_tally.h"

#include <algorithm>

#include "capture/tcp_flags.h"

namespace tidewrack::report {

namespace {

// What an entry of an unordered map costs: its node (the next pointer and the value, in a block
// of malloc, which adds 8 bytes and rounds to 16) and a bucket and a half.
template <typename Map>
constexpr std::size_t entryCost = (sizeof(void*) + sizeof(typename Map::value_type) + 8 + 15) / 16 *
                                      16 +
                                  sizeof(void*) * 3 / 2;

void bindAddress(Statement& statement, int parameter, IpAddress address) {
    const auto bytes = address.bytes();
    statement.bindBlob(parameter, bytes.data(), static_cast<int>(bytes.size()));
}

void bindTime(Statement& statement, int parameter, std::int64_t time) {
    if (time == unknownTime) {
        statement.bindNull(parameter);
    } else {
        statement.bind(parameter, time);
    }
}

void bindCounts(Statement& statement, int first, const Counts& counts) {
    statement.bind(first, static_cast<std::int64_t>(counts.frames))
        .bind(first + 1, static_cast<std::int64_t>(counts.bytes));
}

}  // namespace

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
        conversation.last = std::max(conversation.last, row.time);
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
    if (estimatedSize() > budget) {
        spill();
    }
}

std::size_t TrafficTally::estimatedSize() const {
    return endpoints.size() * entryCost<decltype(endpoints)> +
           conversations.size() * entryCost<decltype(conversations)> +
           icmpErrors.size() * entryCost<decltype(icmpErrors)>;
}

void TrafficTally::spill() {
    store.run("BEGIN");
    Statement endpoint = store.prepare("INSERT INTO endpoint_part VALUES (?1, ?2, ?3, ?4, ?5)");
    for (const auto& [address, counts] : endpoints) {
        bindAddress(endpoint, 1, address);
        bindCounts(endpoint, 2, counts.sent);
        bindCounts(endpoint, 4, counts.received);
        endpoint.run();
    }
    Statement conversation = store.prepare(
        "INSERT INTO conversation_part VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, "
        "?12, ?13, ?14, ?15)");
    for (const auto& [key, c] : conversations) {
        conversation.bind(1, key.protocol);
        bindAddress(conversation, 2, key.a);
        conversation.bind(3, key.portA);
        bindAddress(conversation, 4, key.b);
        conversation.bind(5, key.portB);
        bindCounts(conversation, 6, c.aToB);
        bindCounts(conversation, 8, c.bToA);
        bindTime(conversation, 10, c.first);
        bindTime(conversation, 11, c.last);
        conversation.bind(12, (c.handshake & SynFromA) != 0)
            .bind(13, (c.handshake & SynFromB) != 0)
            .bind(14, (c.handshake & SynAckFromA) != 0)
            .bind(15, (c.handshake & SynAckFromB) != 0)
            .run();
    }
    Statement error = store.prepare("INSERT INTO icmp_error_part VALUES (?1, ?2, ?3, ?4, ?5, ?6)");
    for (const auto& [key, counts] : icmpErrors) {
        bindAddress(error, 1, key.reporter);
        bindAddress(error, 2, key.sentTo);
        error.bind(3, key.typeAndCode >> 8).bind(4, key.typeAndCode & 0xFF);
        bindCounts(error, 5, counts);
        error.run();
    }
    store.run("COMMIT");
    endpoints.clear();
    conversations.clear();
    icmpErrors.clear();
}

TallyStore& TrafficTally::finish() {
    spill();
    store.run("BEGIN");
    Statement database = store.prepare("INSERT INTO database VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7)");
    for (std::size_t i = 0; i < databases.size(); ++i) {
        const DatabaseSummary& d = databases[i];
        database.bind(1, static_cast<std::int64_t>(i)).bindText(2, d.path).bind(3, d.mode);
        bindCounts(database, 4, d.counts);
        bindTime(database, 6, d.first);
        bindTime(database, 7, d.last);
        database.run();
    }
    Statement protocol = store.prepare("INSERT INTO protocol VALUES (?1, ?2, ?3, ?4, ?5, ?6)");
    for (std::size_t n = 0; n < protocols.size(); ++n) {
        const auto number = static_cast<std::uint16_t>(n);
        const ProtocolKind kind = catalog.kind(number);
        protocol.bind(1, number)
            .bindText(2, catalog.name(number))
            .bind(3, kind == ProtocolKind::Tcp)
            .bind(4, kind == ProtocolKind::Tcp || kind == ProtocolKind::Udp);
        bindCounts(protocol, 5, protocols[n]);
        protocol.run();
    }
    Statement interval = store.prepare("INSERT INTO interval VALUES (?1, ?2, ?3)");
    for (const Timeline::Bucket& bucket : timeline.buckets()) {
        interval.bind(1, bucket.start);
        bindCounts(interval, 2, bucket.counts);
        interval.run();
    }
    store.prepare("INSERT INTO timeline VALUES (?1)").bind(1, timeline.interval()).run();
    Statement udp = store.prepare("INSERT INTO udp_destination VALUES (?1, ?2, ?3)");
    for (const auto& [port, counts] : udpPorts) {
        udp.bind(1, port);
        bindCounts(udp, 2, counts);
        udp.run();
    }
    Statement icmp = store.prepare("INSERT INTO icmp_message VALUES (?1, ?2, ?3, ?4)");
    for (const auto& [typeAndCode, counts] : icmpMessages) {
        icmp.bind(1, typeAndCode >> 8).bind(2, typeAndCode & 0xFF);
        bindCounts(icmp, 3, counts);
        icmp.run();
    }
    store.run("COMMIT");
    store.aggregate();
    return store;
}

}  // namespace tidewrack::report
