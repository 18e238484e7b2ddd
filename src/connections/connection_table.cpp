// The connection table: finding a packet's connection, counting it, ending connections and
// writing their rows.
#include "connections/connection_table.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

#include "vocabulary/tcp_flags.h"

namespace tidewrack {

struct ConnectionTable::End {
    std::uint64_t frames;
    std::uint64_t bytes;
    std::uint64_t payload;
    std::uint32_t retransmissions;
    std::uint32_t outOfOrder;
    std::uint32_t duplicateAcks;
    std::uint32_t zeroWindows;
    TcpEndState flags;
    TcpDirection sequence;
};

// A record of the pool. Records are zeroed by calloc, and zero is a valid empty record.
struct ConnectionTable::Connection {
    Key key;
    std::uint32_t previous;  // in its timeout list, record index + 1; `next` links free ones
    std::uint32_t next;
    std::uint32_t hash;
    std::uint8_t timeoutClass;
    std::uint8_t firstSender;  // the end of the key that sent the first frame
    bool ported;               // the key holds ports (or ICMP's type and code)
    std::uint64_t firstFrame;
    std::uint64_t lastFrame;
    Microseconds firstTime;  // the earliest and latest time of its frames
    Microseconds lastTime;
    Microseconds initialRtt;  // the client's last SYN to its ACK of the SYN ACK; 0 unknown
    std::uint64_t missedBytes;
    End ends[2];
    TcpHistory history;
};

namespace {

constexpr std::uint8_t icmp = 1, tcp = 6, udp = 17, icmpv6 = 58;

// A capture's time in microseconds. Seconds beyond some 146,000 years either way (a pcapng
// timestamp may hold them) are held there, so that no sum of times and timeouts overflows.
Microseconds microseconds(const timeval& time) {
    constexpr Microseconds limit = (Microseconds{1} << 62) / 1000000 - 1;
    const Microseconds seconds = std::clamp<Microseconds>(time.tv_sec, -limit, limit);
    return seconds * 1000000 + time.tv_usec % 1000000;
}

timeval timevalOf(Microseconds time) {
    Microseconds seconds = time / 1000000, micro = time % 1000000;
    if (micro < 0) {
        micro += 1000000;
        --seconds;
    }
    timeval out{};
    out.tv_sec = static_cast<decltype(out.tv_sec)>(seconds);
    out.tv_usec = static_cast<decltype(out.tv_usec)>(micro);
    return out;
}

std::uint32_t nextPowerOfTwo(std::size_t n) {
    std::uint32_t power = 4;
    while (power < n && power < (1u << 31)) {
        power <<= 1;
    }
    return power;
}

}  // namespace

ConnectionTable::ConnectionTable(ConnectionSink sink, std::size_t memoryBudget,
                                 ConnectionTimeouts timeouts)
    : sink(sink), timeoutOf{timeouts.tcp, timeouts.tcpClosed, timeouts.udp, timeouts.icmp,
                            timeouts.other} {
    // What a connection costs: the 32 MiB of the default budget hold some 68,000 of them.
    static_assert(sizeof(Connection) <= 512);
    // The index keeps its load under three quarters; the pool takes what the index leaves.
    const std::size_t record = sizeof(Connection);
    const std::size_t wanted = std::max<std::size_t>(1, memoryBudget / (record + 6));
    std::uint32_t slotCount = nextPowerOfTwo(wanted + wanted / 3 + 1);
    const std::size_t indexBytes = std::size_t{slotCount} * sizeof(std::uint32_t);
    poolSize = memoryBudget > indexBytes ? (memoryBudget - indexBytes) / record : 0;
    poolSize =
        std::clamp<std::size_t>(poolSize, 1, std::min<std::size_t>(wanted, slotCount / 4 * 3));
    slotMask = slotCount - 1;
    pool.reset(static_cast<Connection*>(std::calloc(poolSize, record)));
    slots.reset(static_cast<std::uint32_t*>(std::calloc(slotCount, sizeof(std::uint32_t))));
    if (!pool || !slots) {
        throw std::bad_alloc();
    }
}

ConnectionTable::~ConnectionTable() = default;

ConnectionTable::Key ConnectionTable::keyOf(const PacketFacts& packet, int& sender) {
    std::uint16_t sourcePort = 0, destinationPort = 0;
    bool oneWay = false;
    if (packet.hasPorts) {
        sourcePort = packet.sourcePort;
        destinationPort = packet.destinationPort;
    } else if (packet.icmpHeader && (packet.protocol == icmp || packet.protocol == icmpv6)) {
        const IcmpPorts ports =
            icmpPorts(packet.protocol == icmpv6, packet.icmpType, packet.icmpCode);
        sourcePort = ports.source;
        destinationPort = ports.destination;
        oneWay = ports.oneWay;
    }
    const bool first = oneWay || endsInOrder(packet.source, packet.destination, packet.family == 6,
                                             sourcePort, destinationPort);
    sender = first ? 0 : 1;
    Key key{};
    std::memcpy(key.address[0], first ? packet.source : packet.destination, 16);
    std::memcpy(key.address[1], first ? packet.destination : packet.source, 16);
    key.port[0] = first ? sourcePort : destinationPort;
    key.port[1] = first ? destinationPort : sourcePort;
    key.family = packet.family;
    key.protocol = packet.protocol;
    return key;
}

namespace {

// A key as the 64-bit words it is made of.
template <typename Key>
struct KeyWords {
    static_assert(sizeof(Key) % sizeof(std::uint64_t) == 0);
    std::uint64_t words[sizeof(Key) / sizeof(std::uint64_t)];
    explicit KeyWords(const Key& key) { std::memcpy(words, &key, sizeof words); }
};

template <typename Key>
bool sameKey(const Key& a, const Key& b) {
    const KeyWords<Key> x(a), y(b);
    std::uint64_t differ = 0;
    for (std::size_t i = 0; i < std::size(x.words); ++i) {
        differ |= x.words[i] ^ y.words[i];
    }
    return differ == 0;
}

template <typename Key>
std::uint32_t hashOf(const Key& key) {
    const KeyWords<Key> k(key);
    const auto& words = k.words;
    std::uint64_t h = 0x9E3779B97F4A7C15ull;
    for (const std::uint64_t word : words) {
        h = (h ^ word) * 0xBF58476D1CE4E5B9ull;
        h ^= h >> 29;
    }
    h *= 0x94D049BB133111EBull;
    return static_cast<std::uint32_t>(h >> 32);
}

}  // namespace

std::uint32_t ConnectionTable::find(const Key& key, std::uint32_t hash) const {
    const Connection* records = pool.get();
    const std::uint32_t* index = slots.get();
    for (std::uint32_t i = hash & slotMask; index[i] != 0; i = (i + 1) & slotMask) {
        const Connection& c = records[index[i] - 1];
        if (c.hash == hash && sameKey(c.key, key)) {
            return index[i];
        }
    }
    return 0;
}

void ConnectionTable::unlink(Connection& c) {
    Connection* records = pool.get();
    List& list = lists[c.timeoutClass];
    (c.previous ? records[c.previous - 1].next : list.head) = c.next;
    (c.next ? records[c.next - 1].previous : list.tail) = c.previous;
    c.previous = c.next = 0;
}

void ConnectionTable::append(std::uint32_t index, TimeoutClass timeoutClass) {
    Connection* records = pool.get();
    Connection& c = records[index];
    List& list = lists[timeoutClass];
    nextDeadline = std::min(nextDeadline, c.lastTime + timeoutOf[timeoutClass]);
    c.timeoutClass = timeoutClass;
    c.previous = list.tail;
    c.next = 0;
    (list.tail ? records[list.tail - 1].next : list.head) = index + 1;
    list.tail = index + 1;
}

void ConnectionTable::unindex(std::uint32_t index) {
    const Connection* records = pool.get();
    std::uint32_t* table = slots.get();
    std::uint32_t i = records[index].hash & slotMask;
    while (table[i] != index + 1) {
        i = (i + 1) & slotMask;
    }
    // Backward-shift deletion: each entry after the hole that may live in it moves back.
    for (std::uint32_t j = (i + 1) & slotMask; table[j] != 0; j = (j + 1) & slotMask) {
        const std::uint32_t home = records[table[j] - 1].hash & slotMask;
        const bool stays = i <= j ? (i < home && home <= j) : (i < home || home <= j);
        if (!stays) {
            table[i] = table[j];
            i = j;
        }
    }
    table[i] = 0;
}

std::uint32_t ConnectionTable::create(const Key& key, std::uint32_t hash, const PacketFacts& packet,
                                      int sender) {
    if (openCount == poolSize) {
        // Full: the connection idle longest makes room.
        int oldest = -1;
        for (int k = 0; k < classCount; ++k) {
            const std::uint32_t head = lists[k].head;
            if (head != 0 && (oldest < 0 || pool.get()[head - 1].lastTime <
                                                pool.get()[lists[oldest].head - 1].lastTime)) {
                oldest = k;
            }
        }
        end(lists[oldest].head - 1, EndReason::Budget);
    }
    std::uint32_t index;
    if (freeList != 0) {
        index = freeList - 1;
        freeList = pool.get()[index].next;
    } else {
        index = used++;
    }
    Connection& c = pool.get()[index];
    c = Connection{};
    c.key = key;
    c.hash = hash;
    c.firstSender = static_cast<std::uint8_t>(sender);
    c.ported = packet.hasPorts ||
               (packet.icmpHeader && (packet.protocol == icmp || packet.protocol == icmpv6));
    c.firstFrame = packet.frame;
    c.firstTime = c.lastTime = microseconds(packet.time);
    std::uint32_t i = hash & slotMask;
    while (slots.get()[i] != 0) {
        i = (i + 1) & slotMask;
    }
    slots.get()[i] = index + 1;
    ++openCount;
    const TimeoutClass timeoutClass = key.protocol == tcp                              ? TcpOpen
                                      : key.protocol == udp                            ? Udp
                                      : key.protocol == icmp || key.protocol == icmpv6 ? Icmp
                                                                                       : Other;
    append(index, timeoutClass);
    return index + 1;
}

void ConnectionTable::end(std::uint32_t index, EndReason reason) {
    Connection& c = pool.get()[index];
    ConnectionRow out;
    out.connection = index;
    row(c, reason, out);
    unlink(c);
    unindex(index);
    c.next = freeList;
    freeList = index + 1;
    --openCount;
    sink.finished(sink.context, out);
}

void ConnectionTable::expire(Microseconds now) {
    // Lists grow at their tail, with records as recent as those before them or more (and each
    // is taken into nextDeadline as it comes): no head can be idle before nextDeadline. (In a
    // capture whose times go back, a connection deeper in a list may end a little later.)
    if (now <= nextDeadline) {
        return;
    }
    for (;;) {
        int oldest = -1;
        Microseconds deadline = INT64_MAX;
        for (int k = 0; k < classCount; ++k) {
            const std::uint32_t head = lists[k].head;
            if (head == 0) {
                continue;
            }
            const Microseconds last = pool.get()[head - 1].lastTime;
            const Microseconds limit = last + timeoutOf[k];
            if (now > limit && (oldest < 0 || last < pool.get()[lists[oldest].head - 1].lastTime)) {
                oldest = k;
            }
            deadline = std::min(deadline, limit);
        }
        if (oldest < 0) {
            nextDeadline = deadline;
            return;
        }
        end(lists[oldest].head - 1, oldest == TcpClosed ? EndReason::Closed : EndReason::Idle);
    }
}

ConnectionTable::Added ConnectionTable::add(const PacketFacts& packet) {
    const Microseconds time = microseconds(packet.time);
    expire(time);

    int sender = 0;
    const Key key = keyOf(packet, sender);
    const std::uint32_t hash = hashOf(key);
    std::uint32_t found = find(key, hash);
    if (found != 0 && packet.tcpHeader && (packet.tcpFlags & (TcpSyn | TcpAck)) == TcpSyn) {
        // A SYN with another initial sequence number than its sender's first segment: a new
        // connection on the same addresses and ports.
        const TcpDirection& d = pool.get()[found - 1].ends[sender].sequence;
        if ((d.known & TcpDirection::Base) && d.baseSequence != packet.sequence) {
            end(found - 1, EndReason::Reused);
            found = 0;
        }
    }
    const bool created = found == 0;
    if (created) {
        found = create(key, hash, packet, sender);
    }
    Connection& c = pool.get()[found - 1];
    End& from = c.ends[sender];
    ++from.frames;
    from.bytes += packet.wireLength;
    from.payload += packet.payloadLength;
    c.lastFrame = packet.frame;
    c.firstTime = std::min(c.firstTime, time);
    c.lastTime = std::max(c.lastTime, time);

    std::uint16_t flags = 0;
    if (key.protocol == tcp && packet.tcpHeader) {
        flags = addTcp(c, sender, packet, time);
    }
    // A TCP connection closes with an RST, or with the second end's FIN; a SYN after that opens
    // it again (an attempt repeated after a reset, with the same initial sequence number).
    auto timeoutClass = static_cast<TimeoutClass>(c.timeoutClass);
    if (key.protocol == tcp && packet.tcpHeader) {
        const std::uint8_t tcpFlags = packet.tcpFlags;
        if (tcpFlags & TcpSyn) {
            timeoutClass = TcpOpen;
        } else if ((tcpFlags & TcpRst) ||
                   ((tcpFlags & TcpFin) && (c.ends[1 - sender].flags.seen & TcpEndState::Fin))) {
            timeoutClass = TcpClosed;
        }
    }
    unlink(c);
    append(found - 1, timeoutClass);
    return {found - 1, created, static_cast<std::uint8_t>(sender), c.firstSender, flags};
}

std::uint16_t ConnectionTable::addTcp(Connection& c, int sender, const PacketFacts& packet,
                                      Microseconds time) {
    End& from = c.ends[sender];
    End& to = c.ends[1 - sender];
    const std::uint8_t tcpFlags = packet.tcpFlags;
    noteTcpFlags(from.flags, to.flags, tcpFlags, time);
    if (c.initialRtt == 0 && (tcpFlags & (TcpSyn | TcpAck)) == TcpAck &&
        (from.flags.seen & TcpEndState::Syn) && (to.flags.seen & TcpEndState::SynAck)) {
        c.initialRtt = std::max<Microseconds>(1, time - from.flags.synLast);
    }
    TcpSegment segment;
    segment.flags = tcpFlags;
    segment.sequence = packet.sequence;
    segment.acknowledgement = packet.acknowledgement;
    segment.window = packet.window;
    segment.payload = packet.payloadLength;
    segment.time = time;
    const TcpVerdict verdict = analyseSegment(from.sequence, to.sequence, segment,
                                              c.initialRtt ? c.initialRtt : defaultOutOfOrderLimit);
    const std::uint16_t flags = verdict.flags;
    from.retransmissions += (flags & TcpRetransmission) ? 1 : 0;
    from.outOfOrder += (flags & TcpOutOfOrder) ? 1 : 0;
    from.duplicateAcks += (flags & TcpDuplicateAck) ? 1 : 0;
    from.zeroWindows += (flags & TcpZeroWindow) ? 1 : 0;
    if (verdict.missedReverse != 0) {
        c.missedBytes += verdict.missedReverse;
        c.history.gap(1 - sender);
    }
    c.history.segment(sender, tcpFlags, packet.sequence, packet.payloadLength,
                      flags & TcpRetransmission, flags & TcpZeroWindow);
    return flags;
}

void ConnectionTable::row(const Connection& c, EndReason reason, ConnectionRow& out) const {
    FlowTuple flow;
    flow.family = c.key.family;
    flow.protocol = c.key.protocol;
    std::memcpy(flow.source, c.key.address[0], 16);
    std::memcpy(flow.destination, c.key.address[1], 16);
    flow.hasPorts = c.ported;
    flow.sourcePort = c.key.port[0];
    flow.destinationPort = c.key.port[1];
    communityId(flow, 0, out.communityId);

    const bool isTcp = c.key.protocol == tcp;
    const TcpEndState ends[2] = {c.ends[0].flags, c.ends[1].flags};
    const int client = isTcp ? tcpClient(ends, c.firstSender) : c.firstSender;
    const int server = 1 - client;
    out.family = c.key.family;
    out.protocol = c.key.protocol;
    std::memcpy(out.client, c.key.address[client], 16);
    std::memcpy(out.server, c.key.address[server], 16);
    out.hasPorts = c.ported;
    out.clientPort = c.key.port[client];
    out.serverPort = c.key.port[server];
    out.firstFrame = c.firstFrame;
    out.lastFrame = c.lastFrame;
    out.firstTime = timevalOf(c.firstTime);
    out.lastTime = timevalOf(c.lastTime);
    out.duration = c.lastTime - c.firstTime;
    const auto direction = [](const End& end, ConnectionRow::Direction& d) {
        d.frames = end.frames;
        d.bytes = end.bytes;
        d.payload = end.payload;
        d.retransmissions = end.retransmissions;
        d.outOfOrder = end.outOfOrder;
        d.duplicateAcks = end.duplicateAcks;
        d.zeroWindows = end.zeroWindows;
    };
    direction(c.ends[client], out.fromClient);
    direction(c.ends[server], out.fromServer);
    out.tcp = isTcp;
    out.end = reason;
    if (isTcp) {
        const bool sent[2] = {c.ends[0].frames > 0, c.ends[1].frames > 0};
        out.state = tcpState(ends, sent, tcpOpener(ends, c.firstSender));
        c.history.text(client, client != c.firstSender, out.history);
        out.syns = c.ends[client].flags.syns;
        out.connectTime = tcpConnectTime(ends, client);
        out.handshakeTime = tcpHandshakeTime(ends, client);
        out.missedBytes = c.missedBytes;
    }
}

void ConnectionTable::finish() {
    std::vector<std::uint32_t> open;
    open.reserve(openCount);
    for (int k = 0; k < classCount; ++k) {
        for (std::uint32_t i = lists[k].head; i != 0; i = pool.get()[i - 1].next) {
            open.push_back(i - 1);
        }
    }
    std::sort(open.begin(), open.end(), [&](std::uint32_t a, std::uint32_t b) {
        return pool.get()[a].firstFrame < pool.get()[b].firstFrame;
    });
    for (const std::uint32_t index : open) {
        end(index, EndReason::EndOfInput);
    }
}

}  // namespace tidewrack
