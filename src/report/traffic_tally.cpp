// Counting frames into the tally, and writing it to the store.
#include "report/traffic_tally.h"

#include <algorithm>

#include "report/conversation_facts.h"
#include "report/derived_sections.h"

#include "vocabulary/icmp6_texts.h"
#include "vocabulary/icmp_texts.h"
#include "vocabulary/tcp_flags.h"

namespace tidewrack::report {

namespace {

// What an entry of an unordered map costs: its node (the next pointer and the value, in a block
// of malloc, which adds 8 bytes and rounds to 16) and a bucket and a half.
template <typename Map>
constexpr std::size_t entryCost = (sizeof(void*) + sizeof(typename Map::value_type) + 8 + 15) / 16 *
                                      16 +
                                  sizeof(void*) * 3 / 2;

void bindTime(Statement& statement, int parameter, std::int64_t time) {
    if (time == unknownTime) {
        statement.bindNull(parameter);
    } else {
        statement.bind(parameter, time);
    }
}

// Keeps in `first` and `last` the earliest and latest known times met.
void keepSpan(std::int64_t& first, std::int64_t& last, std::int64_t time) {
    if (time != unknownTime) {
        if (first == unknownTime || time < first) {
            first = time;
        }
        last = std::max(last, time);
    }
}

void keepFirst(std::int64_t& first, std::int64_t time) {
    if (time != unknownTime && (first == unknownTime || time < first)) {
        first = time;
    }
}

// A conversation's key, counts and first and last times, the first eleven columns of the
// store's conversation tables.
void bindConversation(Statement& statement, const ConversationKey& key, const Conversation& c) {
    statement.bind(1, key.protocol);
    bindAddress(statement, 2, key.a);
    statement.bind(3, key.portA);
    bindAddress(statement, 4, key.b);
    statement.bind(5, key.portB);
    bindCounts(statement, 6, c.aToB);
    bindCounts(statement, 8, c.bToA);
    bindTime(statement, 10, c.first);
    bindTime(statement, 11, c.last);
}

}  // namespace

void TrafficTally::startDatabase(const std::string& path, int mode, bool dated, bool records,
                                 bool frames) {
    DatabaseSummary& database = databases.emplace_back();
    database.path = path;
    database.mode = mode;
    database.dated = dated;
    database.records = records;
    database.frames = frames;
    knownTimes.clear();
}

void TrafficTally::notAnalysed(std::string_view kind, std::int64_t frames, std::int64_t bytes) {
    store.prepare("INSERT INTO not_analysed_part VALUES (?1, ?2, ?3)")
        .bindText(1, kind)
        .bind(2, frames)
        .bind(3, bytes)
        .run();
}

void TrafficTally::vlan(std::int64_t vlan, std::int64_t frames, std::int64_t bytes) {
    store.prepare("INSERT INTO vlan_part VALUES (?1, ?2, ?3)")
        .bind(1, vlan)
        .bind(2, frames)
        .bind(3, bytes)
        .run();
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
        database.timeGoesBack += row.time < database.previous;
        database.previous = row.time;
    }
    if (row.protocol >= protocols.size()) {
        protocols.resize(row.protocol + 1u);
    }
    protocols[row.protocol].add(row.length);
    Endpoint& source = endpoints[row.source];
    source.sent.add(row.length);
    keepSpan(source.first, source.last, row.time);
    Endpoint& destination = endpoints[row.destination];
    destination.received.add(row.length);
    keepSpan(destination.first, destination.last, row.time);

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
    keepSpan(conversation.first, conversation.last, row.time);
    if (row.time != unknownTime) {
        timeline.add(row.time, row.length);
        activity.add(row.time);
        if (row.time / microsecondsPerSecond != lastSecond) {
            lastSecond = row.time / microsecondsPerSecond;
            lastSecondCounts = &seconds[lastSecond];
        }
        lastSecondCounts->add(row.length);
    }

    switch (kind) {
    case ProtocolKind::Tcp: {
        const int end = fromA ? 0 : 1;
        std::uint8_t seen = 0;
        if ((row.tcpFlags & (TcpSyn | TcpAck)) == TcpSyn) {
            seen |= TcpEnd::Syn;
            ++conversation.syns[end];
            keepFirst(conversation.synFirst[end], row.time);
            // A SYN sent after the other end's SYN ACK is not the one it answered.
            const std::int64_t answer = conversation.synAckFirst[1 - end];
            if (row.time != unknownTime && (answer == unknownTime || row.time <= answer)) {
                conversation.synLast[end] = std::max(conversation.synLast[end], row.time);
            }
        } else if (isSynAck(row.tcpFlags)) {
            seen |= TcpEnd::SynAck;
            keepFirst(conversation.synAckFirst[end], row.time);
        }
        if (row.tcpFlags & TcpFin) {
            seen |= TcpEnd::Fin;
        }
        if (row.tcpFlags & TcpRst) {
            seen |= TcpEnd::Rst;
            keepSpan(conversation.rstFirst[end], conversation.rstLast[end], row.time);
        }
        conversation.seen |= static_cast<std::uint8_t>(seen << 4 * end);
        break;
    }
    case ProtocolKind::Udp: udpPorts[row.destinationPort].add(row.length); break;
    case ProtocolKind::Icmp: addIcmpFrame(row); break;
    case ProtocolKind::Other: break;
    }
    if (estimatedSize() > budget) {
        spill();
        spilled = true;
    }
}

void TrafficTally::addIcmpFrame(const FrameRow& row) {
    const auto type = static_cast<std::uint8_t>(row.sourcePort >> 8);
    const bool six = row.source.family == 6;
    icmpMessages[std::uint32_t{six} << 16 | row.sourcePort].add(row.length);
    if (six ? isIcmp6Error(type) : isIcmpError(type)) {
        icmpErrors[{row.source, row.destination, row.sourcePort}].add(row.length);
    }
}

std::size_t TrafficTally::estimatedSize() const {
    // A node of std::map holds three pointers and a colour besides its value.
    constexpr std::size_t stretchCost =
        (4 * sizeof(void*) + sizeof(std::pair<std::int64_t, std::int64_t>) + 8 + 15) / 16 * 16;
    return endpoints.size() * entryCost<decltype(endpoints)> +
           conversations.size() * (entryCost<decltype(conversations)> + derivationCost) +
           conversationHealth.size() * entryCost<decltype(conversationHealth)> +
           icmpErrors.size() * entryCost<decltype(icmpErrors)> +
           seconds.size() * entryCost<decltype(seconds)> +
           activity.stretches().size() * stretchCost;
}

void TrafficTally::writeEndpointsAndErrors(const char* endpointTable, const char* errorTable) {
    Statement endpoint = store.prepare(std::string("INSERT INTO ") + endpointTable +
                                       " VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7)");
    for (const auto& [address, counts] : endpoints) {
        bindAddress(endpoint, 1, address);
        bindCounts(endpoint, 2, counts.sent);
        bindCounts(endpoint, 4, counts.received);
        bindTime(endpoint, 6, counts.first);
        bindTime(endpoint, 7, counts.last);
        endpoint.run();
    }
    Statement error = store.prepare(std::string("INSERT INTO ") + errorTable +
                                    " VALUES (?1, ?2, ?3, ?4, ?5, ?6)");
    for (const auto& [key, counts] : icmpErrors) {
        bindAddress(error, 1, key.reporter);
        bindAddress(error, 2, key.sentTo);
        error.bind(3, key.typeAndCode >> 8).bind(4, key.typeAndCode & 0xFF);
        bindCounts(error, 5, counts);
        error.run();
    }
}

void TrafficTally::writeSeconds(const char* table) {
    Statement second = store.prepare(std::string("INSERT INTO ") + table + " VALUES (?1, ?2, ?3)");
    for (const auto& [number, counts] : seconds) {
        second.bind(1, number);
        bindCounts(second, 2, counts);
        second.run();
    }
}

void TrafficTally::writeStretches() {
    Statement stretch = store.prepare("INSERT INTO stretch_part VALUES (?1, ?2)");
    for (const auto& [first, last] : activity.stretches()) {
        stretch.bind(1, first).bind(2, last).run();
    }
}

void TrafficTally::spill() {
    store.run("BEGIN");
    writeHealth("conversation_health_part");
    writeEndpointsAndErrors("endpoint_part", "icmp_error_part");
    Statement conversation = store.prepare(
        "INSERT INTO conversation_part VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, "
        "?12, ?13, ?14, ?15, ?16, ?17, ?18, ?19, ?20, ?21, ?22, ?23, ?24)");
    for (const auto& [key, c] : conversations) {
        bindConversation(conversation, key, c);
        conversation.bind(12, c.seen);
        for (int end = 0; end < 2; ++end) {
            bindTime(conversation, 13 + end, c.synFirst[end]);
            bindTime(conversation, 15 + end, c.synAckFirst[end]);
            bindTime(conversation, 17 + end, c.rstFirst[end]);
            bindTime(conversation, 19 + end, c.rstLast[end]);
            bindTime(conversation, 21 + end, c.synLast[end]);
            conversation.bind(23 + end, static_cast<std::int64_t>(c.syns[end]));
        }
        conversation.run();
    }
    writeSeconds("second_part");
    writeStretches();
    store.run("COMMIT");
    endpoints.clear();
    conversations.clear();
    icmpErrors.clear();
    seconds.clear();
    lastSecond = -1;
    activity.clear();
}

void TrafficTally::writeWhole() {
    store.run("BEGIN");
    writeEndpointsAndErrors("endpoint", "icmp_error");
    writeSeconds("second");
    // The columns of the store's conversation table, each as its adding up derives it from the
    // parts, here from the one part there is.
    Statement conversation = store.prepare(
        "INSERT INTO conversation VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12, ?13, "
        "?14, ?15, ?16, ?17, ?18, ?19, ?20, ?21, ?22, ?23, ?24, ?25, ?26, ?27, ?28, ?29, ?30, "
        "?31)");
    for (const auto& [key, c] : conversations) {
        const ConversationFacts facts = conversationFacts(key, c, catalog.kind(key.protocol));
        bindConversation(conversation, key, c);
        for (int end = 0; end < 2; ++end) {
            conversation.bind(12 + end, sentSyn(c, end)).bind(14 + end, sentSynAck(c, end));
        }
        if (facts.client) {
            conversation.bind(16, *facts.client);
        } else {
            conversation.bindNull(16);
        }
        if (facts.server >= 0) {
            conversation.bind(17, facts.server);
        } else {
            conversation.bindNull(17);
        }
        if (!facts.state.empty()) {
            conversation.bindText(18, facts.state);
        } else {
            conversation.bindNull(18);
        }
        bindTime(conversation, 19, facts.handshake);
        bindTime(conversation, 20, facts.connect);
        if (facts.syns >= 0) {
            conversation.bind(21, facts.syns);
        } else {
            conversation.bindNull(21);
        }
        // The health of its connections (left NULL, never bound, when not every database
        // tells it).
        if (healthTold) {
            const auto health = conversationHealth.find(key);
            bindHealth(conversation, 22,
                       health == conversationHealth.end() ? nullptr : &health->second, true);
        }
        conversation.run();
    }
    store.run("COMMIT");
    conversationHealth.clear();
}

TallyStore& TrafficTally::finish(const TimeAxis& axis) {
    writeConnections();
    // The conversations' health, when every database tells it: a tally within its budget
    // writes it with the conversations themselves (writeWhole), one that spilled adds its parts
    // up here, for the adding up of the conversations to join.
    healthTold = std::all_of(databases.begin(), databases.end(),
                             [](const DatabaseSummary& d) { return d.records; });
    if (healthTold && spilled) {
        store.run("BEGIN");
        writeHealth("conversation_health_part");
        // The bare Community ID is the one of the row of the earliest first.
        store.run("INSERT INTO conversation_health SELECT protocol, a, port_a, b, port_b, "
                  "sum(retransmissions_ab), sum(retransmissions_ba), sum(out_of_order_ab), "
                  "sum(out_of_order_ba), sum(duplicate_acks_ab), sum(duplicate_acks_ba), "
                  "sum(zero_windows_ab), sum(zero_windows_ba), sum(missed_bytes), min(first), "
                  "community_id FROM conversation_health_part "
                  "GROUP BY protocol, a, port_a, b, port_b");
        store.run("COMMIT");
    }
    if (spilled) {
        spill();
    } else {
        // The stretches are joined as parts either way (they are few); the seconds, whole,
        // go straight into their table with the rest (writeWhole).
        store.run("BEGIN");
        writeStretches();
        store.run("COMMIT");
    }
    store.run("BEGIN");
    // In the order given; on a dated axis, in the order of their first times (those without a
    // known time last), as rotated captures are read.
    std::vector<std::size_t> order(databases.size());
    for (std::size_t i = 0; i < order.size(); ++i) {
        order[i] = i;
    }
    if (axis.dated) {
        std::stable_sort(order.begin(), order.end(), [&](std::size_t x, std::size_t y) {
            const std::int64_t a = databases[x].first, b = databases[y].first;
            return a != unknownTime && (b == unknownTime || a < b);
        });
    }
    Statement database =
        store.prepare("INSERT INTO database VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, "
                      "?12, ?13, ?14)");
    for (std::size_t place = 0; place < order.size(); ++place) {
        const DatabaseSummary& d = databases[order[place]];
        database.bind(1, static_cast<std::int64_t>(order[place]))
            .bindText(2, d.path)
            .bind(3, d.mode)
            .bind(4, d.dated);
        bindCounts(database, 5, d.counts);
        bindTime(database, 7, d.first);
        bindTime(database, 8, d.last);
        database.bind(13, d.records).bind(14, d.frames);
        if (axis.dated && !d.records) {
            database.bind(9, static_cast<std::int64_t>(d.timeGoesBack));
        } else {
            database.bindNull(9);
        }
        if (d.delivered >= 0) {
            database.bind(10, d.delivered);
        } else {
            database.bindNull(10);
        }
        if (d.readFailed) {
            database.bindText(12, d.readError);
        } else {
            database.bindNull(12);
        }
        database.bind(11, static_cast<std::int64_t>(place)).run();
    }
    Statement protocol = store.prepare("INSERT INTO protocol VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7)");
    for (std::size_t n = 0; n < protocols.size(); ++n) {
        const auto number = static_cast<std::uint16_t>(n);
        const ProtocolKind kind = catalog.kind(number);
        protocol.bind(1, number)
            .bindText(2, catalog.name(number))
            .bind(3, catalog.family(number))
            .bind(4, kind == ProtocolKind::Tcp)
            .bind(5, kind == ProtocolKind::Tcp || kind == ProtocolKind::Udp);
        bindCounts(protocol, 6, protocols[n]);
        protocol.run();
    }
    Statement interval = store.prepare("INSERT INTO interval VALUES (?1, ?2, ?3, ?4)");
    for (const Timeline::Bucket& bucket : timeline.buckets()) {
        interval.bind(1, bucket.start);
        bindCounts(interval, 2, bucket.counts);
        if (bucket.idle > 0) {
            interval.bind(4, bucket.idle);
        } else {
            interval.bindNull(4);
        }
        interval.run();
    }
    store.prepare("INSERT INTO timeline VALUES (?1)").bind(1, timeline.interval()).run();
    Statement udp = store.prepare("INSERT INTO udp_destination VALUES (?1, ?2, ?3)");
    for (const auto& [port, counts] : udpPorts) {
        udp.bind(1, port);
        bindCounts(udp, 2, counts);
        udp.run();
    }
    Statement icmp = store.prepare("INSERT INTO icmp_message VALUES (?1, ?2, ?3, ?4, ?5)");
    for (const auto& [key, counts] : icmpMessages) {
        icmp.bind(1, key >> 16 ? 6 : 4).bind(2, key >> 8 & 0xFF).bind(3, key & 0xFF);
        bindCounts(icmp, 4, counts);
        icmp.run();
    }
    store.run("COMMIT");
    store.aggregate();
    if (!spilled) {
        writeWhole();
    }
    return store;
}

void TrafficTally::deriveSections(std::span<const std::string_view> states) {
    if (!spilled) {
        report::deriveSections(store, conversations, catalog, states);
    }
}

void TrafficTally::takeBaseline(TrafficTally& baseline, const std::vector<std::string>& paths) {
    store.run("BEGIN");
    store.prepare("INSERT INTO baseline_activity VALUES (?1)")
        .bind(1, baseline.store.firstInteger("SELECT total(last - start) FROM activity"))
        .run();
    Statement database = store.prepare("INSERT INTO baseline_database VALUES (?1, ?2)");
    for (std::size_t place = 0; place < paths.size(); ++place) {
        database.bindText(1, paths[place]).bind(2, static_cast<std::int64_t>(place)).run();
    }
    // Both in the order of their keys, so that their indexes grow at the end.
    Statement endpoints = baseline.store.prepare(
        "SELECT address, frames_sent + frames_received, bytes_sent + bytes_received FROM endpoint "
        "ORDER BY address");
    Statement endpoint = store.prepare("INSERT INTO baseline_endpoint VALUES (?1, ?2, ?3)");
    while (endpoints.step()) {
        const std::string_view address = endpoints.text(0);
        endpoint.bindBlob(1, address.data(), static_cast<int>(address.size()))
            .bind(2, endpoints.integer(1))
            .bind(3, endpoints.integer(2))
            .run();
    }
    Statement servers = baseline.store.prepare(
        "SELECT protocol, address, port, count(*), sum(frames), sum(bytes) FROM server_end "
        "GROUP BY 1, 2, 3 ORDER BY 1, 2, 3");
    Statement server = store.prepare("INSERT INTO baseline_server VALUES (?1, ?2, ?3, ?4, ?5, ?6)");
    while (servers.step()) {
        const std::string_view address = servers.text(1);
        server.bindText(1, servers.text(0))
            .bindBlob(2, address.data(), static_cast<int>(address.size()))
            .bind(3, servers.integer(2))
            .bind(4, servers.integer(3))
            .bind(5, servers.integer(4))
            .bind(6, servers.integer(5))
            .run();
    }
    store.run("COMMIT");
}

}  // namespace tidewrack::report
