// Counting a database's connection record and traffic by second into the tally, instead of its
// frames.
//
// A connection adds to the counts exactly what its frames would: every frame of it has the
// same two ends, so that the frames and bytes of each direction go to the database, the
// protocol, the two endpoints, the conversation and (for UDP) the destination port of that
// direction, and its first and last frames give the endpoints', the conversation's and the
// database's first and last times.
//
// The flags a TCP conversation's ends sent, and the times the state, connect and handshake
// times follow from, are put back from the record so that the store derives what the record
// says: the client's SYN from its SYNs, the server's SYN ACK from the state (or the history's
// h when the state needs none), FINs and RSTs from the state, and the times from the first
// frame, the connect time and the handshake time. A conversation of several connections (a
// pair of ends used again) adds these up as its frames would.
//
// The traffic of each second goes on the timeline and into the seconds at the second's start,
// and among the stretches of traffic at the earliest and latest times that the connections'
// first and last frames tell of it (or its start, when they tell none). The earliest and
// latest frames of a stretch, and of a timeline interval, which tell the idle gaps, are exact
// so: in a capture whose times do not go back, the first frame after an idle gap starts a
// connection and the last before it ends one, since every timeout of the connection table is
// shorter than Activity::idleGap. Times that go back leave them exact to the second.
#include <algorithm>

#include "report/traffic_tally.h"

namespace tidewrack::report {

namespace {

void keepEarliest(std::int64_t& first, std::int64_t time) {
    if (time != unknownTime && (first == unknownTime || time < first)) {
        first = time;
    }
}

void keepSpanOf(std::int64_t& first, std::int64_t& last, std::int64_t from, std::int64_t to) {
    keepEarliest(first, from);
    if (to != unknownTime) {
        last = std::max(last, to);
    }
}

template <std::size_t size>
void copyText(char (&to)[size], std::string_view text) {
    const std::size_t length = std::min(text.size(), size - 1);
    text.copy(to, length);
    to[length] = '\0';
}

bool holds(std::string_view text, char letter) {
    return text.find(letter) != std::string_view::npos;
}

// The Seen bits and times of a TCP connection's two ends (client, server), into `c` with the
// client at end `client`.
void addTcp(Conversation& c, int client, const ConnectionRecord& r) {
    const int server = 1 - client;
    const std::string_view state = r.state;
    const bool established = state == "S1" || state == "SF" || state == "S2" || state == "S3" ||
                             state == "RSTO" || state == "RSTR";
    std::uint8_t seen[2] = {0, 0};  // client, server
    if (r.syns > 0) {
        seen[0] |= TcpEnd::Syn;
    }
    if (established || holds(r.history, 'h')) {
        seen[1] |= TcpEnd::SynAck;
    }
    if (holds(r.history, 'H')) {
        seen[0] |= TcpEnd::SynAck;
    }
    if (state == "SF" || state == "S2" || holds(r.history, 'F')) {
        seen[0] |= TcpEnd::Fin;
    }
    if (state == "SF" || state == "S3" || holds(r.history, 'f')) {
        seen[1] |= TcpEnd::Fin;
    }
    // An RST that the state does not tell of came before the establishment: it leaves the
    // state to the FINs when the SYN ACK's time is known, and is left out otherwise.
    const std::int64_t synFirst = r.syns > 0 ? r.first : unknownTime;
    const std::int64_t synAck =
        synFirst != unknownTime && r.connect != unknownTime ? synFirst + r.connect : unknownTime;
    const auto reset = [&](int end, bool byState, char letter) {
        const int at = end == 0 ? client : server;
        if (byState) {
            seen[end] |= TcpEnd::Rst;
            keepSpanOf(c.rstFirst[at], c.rstLast[at], r.last, r.last);
        } else if (holds(r.history, letter) && (synAck != unknownTime || !established)) {
            seen[end] |= TcpEnd::Rst;
            const std::int64_t before = synAck != unknownTime ? synAck - 1 : r.first;
            keepSpanOf(c.rstFirst[at], c.rstLast[at], before, before);
        }
    };
    reset(0, state == "RSTO", 'R');
    reset(1, state == "RSTR" || state == "REJ", 'r');
    c.seen |= static_cast<std::uint8_t>(seen[0] << 4 * client | seen[1] << 4 * server);
    c.syns[client] += r.syns;
    keepEarliest(c.synFirst[client], synFirst);
    keepEarliest(c.synAckFirst[server], synAck);
    if (synFirst != unknownTime) {
        const std::int64_t answered =
            synAck != unknownTime && r.handshake != unknownTime ? synAck - r.handshake : synFirst;
        c.synLast[client] = std::max(c.synLast[client], answered);
    }
}

}  // namespace

void TrafficTally::addConnection(const ConnectionRecord& r, bool placed, bool endsOnly) {
    DatabaseSummary& database = databases.back();
    database.counts += r.fromClient;
    database.counts += r.fromServer;
    if (placed) {
        keepSpanOf(database.first, database.last, r.first, r.last);
    }
    if (r.protocol >= protocols.size()) {
        protocols.resize(r.protocol + 1u);
    }
    protocols[r.protocol] += r.fromClient;
    protocols[r.protocol] += r.fromServer;
    Endpoint& client = endpoints[r.client];
    client.sent += r.fromClient;
    client.received += r.fromServer;
    keepSpanOf(client.first, client.last, r.first, r.last);
    Endpoint& server = endpoints[r.server];
    server.sent += r.fromServer;
    server.received += r.fromClient;
    keepSpanOf(server.first, server.last, r.first, r.last);

    const ProtocolKind kind = catalog.kind(r.protocol);
    const bool hasPorts = kind == ProtocolKind::Tcp || kind == ProtocolKind::Udp;
    const std::uint16_t clientPort = hasPorts ? r.clientPort : 0;
    const std::uint16_t serverPort = hasPorts ? r.serverPort : 0;
    const bool clientIsA =
        r.client < r.server || (r.client == r.server && clientPort <= serverPort);
    const ConversationKey key =
        clientIsA ? ConversationKey{r.client, r.server, clientPort, serverPort, r.protocol}
                  : ConversationKey{r.server, r.client, serverPort, clientPort, r.protocol};
    Conversation& conversation = conversations[key];
    (clientIsA ? conversation.aToB : conversation.bToA) += r.fromClient;
    (clientIsA ? conversation.bToA : conversation.aToB) += r.fromServer;
    keepSpanOf(conversation.first, conversation.last, r.first, r.last);
    if (placed && r.first != unknownTime) {
        for (const std::int64_t time : {r.first, r.last}) {
            if (!endsOnly) {
                timeline.add(time, Counts{}, time, time);
            }
            auto [known, added] = knownTimes.try_emplace(time / microsecondsPerSecond, time, time);
            known->second.first = std::min(known->second.first, time);
            known->second.second = std::max(known->second.second, time);
        }
    }
    if (kind == ProtocolKind::Tcp) {
        addTcp(conversation, clientIsA ? 0 : 1, r);
    } else if (kind == ProtocolKind::Udp) {
        // Each frame counts under its destination port: the server's, or the client's.
        if (r.fromClient.frames > 0) {
            udpPorts[r.serverPort] += r.fromClient;
        }
        if (r.fromServer.frames > 0) {
            udpPorts[r.clientPort] += r.fromServer;
        }
    }
    ConnectionHealth& health = connectionRows.emplace_back();
    health.key = key;
    health.clientIsB = !clientIsA;
    health.clientPort = r.clientPort;
    health.serverPort = r.serverPort;
    copyText(health.state, kind == ProtocolKind::Tcp ? r.state : std::string_view());
    copyText(health.communityId, r.communityId);
    health.first = r.first;
    health.last = r.last;
    const int ab = clientIsA ? 0 : 1;  // the direction of the client's frames, a>b or b>a
    for (int way = 0; way < 2; ++way) {
        const int at = way == 0 ? ab : 1 - ab;
        health.signs[at] = r.retransmissions[way];
        health.signs[2 + at] = r.outOfOrder[way];
        health.signs[4 + at] = r.duplicateAcks[way];
        health.signs[6 + at] = r.zeroWindows[way];
    }
    health.missedBytes = r.missedBytes;
    ConversationHealth& sum = conversationHealth[key];
    std::uint64_t signs = health.missedBytes;
    for (int i = 0; i < 8; ++i) {
        sum.signs[i] += health.signs[i];
        signs += health.signs[i];
    }
    sum.missedBytes += health.missedBytes;
    if (sum.communityId[0] == '\0' ||
        (r.first != unknownTime && (sum.first == unknownTime || r.first < sum.first))) {
        sum.first = r.first;
        copyText(sum.communityId, r.communityId);
    }
    if (signs == 0) {
        connectionRows.pop_back();
    } else if (connectionRows.size() >= 4096) {
        writeConnections();
    }
    if (estimatedSize() > budget) {
        spill();
        spilled = true;
    }
}

void TrafficTally::writeConnections() {
    if (connectionRows.empty()) {
        return;
    }
    store.run("BEGIN");
    Statement row =
        store.prepare("INSERT INTO connection VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, "
                      "?9, ?10, ?11, ?12, ?13, ?14, ?15, ?16, ?17, ?18, ?19, ?20, ?21)");
    const auto time = [&](int parameter, std::int64_t value) {
        if (value == unknownTime) {
            row.bindNull(parameter);
        } else {
            row.bind(parameter, value);
        }
    };
    for (const ConnectionHealth& c : connectionRows) {
        unsigned char bytes[16];
        row.bind(1, c.key.protocol);
        row.bindBlob(2, bytes, static_cast<int>(c.key.a.bytes(bytes)));
        row.bind(3, c.key.portA);
        row.bindBlob(4, bytes, static_cast<int>(c.key.b.bytes(bytes)));
        row.bind(5, c.key.portB).bind(6, c.clientIsB).bind(7, c.clientPort).bind(8, c.serverPort);
        if (c.state[0] == '\0') {
            row.bindNull(9);
        } else {
            row.bindText(9, c.state);
        }
        time(10, c.first);
        time(11, c.last);
        for (int i = 0; i < 8; ++i) {
            row.bind(12 + i,
                     static_cast<std::int64_t>(std::min<std::uint64_t>(c.signs[i], INT64_MAX)));
        }
        row.bind(20, static_cast<std::int64_t>(std::min<std::uint64_t>(c.missedBytes, INT64_MAX)));
        row.bindText(21, c.communityId).run();
    }
    store.run("COMMIT");
    connectionRows.clear();
}

void TrafficTally::withoutSeconds() {
    for (const auto& [second, times] : knownTimes) {
        activity.add(times.first);
        activity.add(times.second);
    }
}

void TrafficTally::addSecond(const SecondRecord& second, bool alone) {
    timeline.add(second.start, second.counts, second.start + microsecondsPerSecond - 1,
                 second.start);
    seconds[second.start / microsecondsPerSecond] += second.counts;
    // The stretches of traffic: the earliest and latest frame of the second that the
    // connections tell, else its start.
    const auto known = knownTimes.find(second.start / microsecondsPerSecond);
    if (known == knownTimes.end()) {
        activity.add(second.start);
    } else {
        activity.add(known->second.first);
        activity.add(known->second.second);
    }
    if (alone) {
        DatabaseSummary& database = databases.back();
        keepSpanOf(database.first, database.last, second.start, second.start);
    }
}

void TrafficTally::bindHealth(Statement& statement, int first, const ConversationHealth* health,
                              bool communityId) {
    if (health == nullptr) {
        for (int i = 0; i < (communityId ? 10 : 9); ++i) {
            statement.bindNull(first + i);
        }
        return;
    }
    for (int i = 0; i < 8; ++i) {
        statement.bind(first + i, static_cast<std::int64_t>(
                                      std::min<std::uint64_t>(health->signs[i], INT64_MAX)));
    }
    statement.bind(first + 8, static_cast<std::int64_t>(
                                  std::min<std::uint64_t>(health->missedBytes, INT64_MAX)));
    if (communityId) {
        statement.bindText(first + 9, health->communityId);
    }
}

void TrafficTally::writeHealth(const char* table) {
    Statement row = store.prepare(std::string("INSERT INTO ") + table +
                                  " VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12, "
                                  "?13, ?14, ?15, ?16)");
    for (const auto& [key, h] : conversationHealth) {
        unsigned char bytes[16];
        row.bind(1, key.protocol);
        row.bindBlob(2, bytes, static_cast<int>(key.a.bytes(bytes)));
        row.bind(3, key.portA);
        row.bindBlob(4, bytes, static_cast<int>(key.b.bytes(bytes)));
        row.bind(5, key.portB);
        bindHealth(row, 6, &h, false);
        if (h.first == unknownTime) {
            row.bindNull(15);
        } else {
            row.bind(15, h.first);
        }
        row.bindText(16, h.communityId).run();
    }
    conversationHealth.clear();
}

}  // namespace tidewrack::report
