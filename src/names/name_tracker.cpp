// The name tracker: DNS answers, the first bytes of TCP connections and QUIC Initial packets
// read as packets come, the names kept once each, the recent answers by client, and the rows of
// the names learnt.
#include "names/name_tracker.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>

namespace tidewrack {

namespace {

constexpr std::uint8_t udp = 17;
constexpr std::uint16_t dnsPort = 53, mdnsPort = 5353;
constexpr std::uint8_t tcpSyn = 0x02;
constexpr std::uint32_t quicClientDatagram = 1200;  // a client pads its Initial datagrams so
constexpr std::uint32_t quicFlowCount = 256;        // QUIC connections read at once

std::uint64_t mix(std::uint64_t h, std::uint64_t value) {
    h = (h ^ value) * 0xBF58476D1CE4E5B9ull;
    return h ^ h >> 29;
}

std::uint64_t hashBytes(const void* data, std::size_t length,
                        std::uint64_t h = 0x9E3779B97F4A7C15) {
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    for (std::size_t i = 0; i < length; ++i) {
        h = (h ^ bytes[i]) * 0x100000001B3ull;
    }
    return mix(h, length);
}

}  // namespace

void NameTracker::Free::operator()(void* block) const {
    std::free(block);
}

template <typename T>
NameTracker::Zeroed<T> NameTracker::zeroed(std::size_t count) {
    void* block = std::calloc(count, sizeof(T));
    if (block == nullptr) {
        throw std::bad_alloc();
    }
    return Zeroed<T>(static_cast<T*>(block));
}

// Each name once, as text, in one block of fixed size; a name's id is its place in the block
// plus one, 0 for none.
class NameTracker::Store {
  public:
    static constexpr std::size_t capacity = std::size_t{4} << 20;  // bytes of text
    static constexpr std::uint32_t slots = 1u << 16;

    Store() : text(new char[capacity]), index(zeroed<std::uint32_t>(slots)) {}

    // The id of the name, kept now if it was not; 0 when the store is full.
    std::uint32_t intern(const NameText& name) {
        const std::uint64_t hash = hashBytes(name.text, name.length);
        for (std::uint32_t i = static_cast<std::uint32_t>(hash) & (slots - 1), probes = 0;
             probes < slots; i = (i + 1) & (slots - 1), ++probes) {
            const std::uint32_t id = index[i];
            if (id == 0) {
                if (used + name.length + 1 > capacity || 4 * count >= 3 * slots) {
                    return 0;
                }
                std::memcpy(text.get() + used, name.text, name.length + 1u);
                index[i] = static_cast<std::uint32_t>(used + 1);
                used += name.length + 1u;
                ++count;
                return index[i];
            }
            const char* kept = text.get() + id - 1;
            if (std::memcmp(kept, name.text, name.length + 1u) == 0) {
                return id;
            }
        }
        return 0;
    }
    const char* of(std::uint32_t id) const { return text.get() + id - 1; }

  private:
    std::unique_ptr<char[]> text;
    Zeroed<std::uint32_t> index;
    std::size_t used = 0;
    std::uint32_t count = 0;
};

// The name that each client asked for, by the address that the answer gave, as the latest answer
// says. A slot taken by other answers gives way to the newest.
class NameTracker::Answers {
  public:
    static constexpr std::uint32_t slots = 1u << 16, probes = 8;

    Answers() : entries(zeroed<Entry>(slots)) {}

    void remember(std::uint8_t family, const std::uint8_t (&client)[16],
                  const std::uint8_t (&address)[16], std::uint32_t name) {
        Entry wanted = key(family, client, address);
        const std::uint32_t home = slotOf(wanted);
        for (std::uint32_t p = 0; p < probes; ++p) {
            Entry& e = entries[(home + p) & (slots - 1)];
            if (e.name == 0 || sameEnds(e, wanted)) {
                wanted.name = name;
                e = wanted;
                return;
            }
        }
        wanted.name = name;
        entries[home] = wanted;
    }
    std::uint32_t find(std::uint8_t family, const std::uint8_t (&client)[16],
                       const std::uint8_t (&address)[16]) const {
        const Entry wanted = key(family, client, address);
        const std::uint32_t home = slotOf(wanted);
        for (std::uint32_t p = 0; p < probes; ++p) {
            const Entry& e = entries[(home + p) & (slots - 1)];
            if (e.name != 0 && sameEnds(e, wanted)) {
                return e.name;
            }
        }
        return 0;
    }

  private:
    struct Entry {
        std::uint8_t client[16];
        std::uint8_t address[16];
        std::uint32_t name;
        std::uint8_t family;
    };
    // The entry of a client and an answer's address, without a name.
    static Entry key(std::uint8_t family, const std::uint8_t (&client)[16],
                     const std::uint8_t (&address)[16]) {
        Entry entry{};
        entry.family = family;
        std::memcpy(entry.client, client, 16);
        std::memcpy(entry.address, address, 16);
        return entry;
    }
    static bool sameEnds(const Entry& a, const Entry& b) {
        return a.family == b.family && std::memcmp(a.client, b.client, 16) == 0 &&
               std::memcmp(a.address, b.address, 16) == 0;
    }
    static std::uint32_t slotOf(const Entry& e) {
        return static_cast<std::uint32_t>(hashBytes(e.client, 32, e.family)) & (slots - 1);
    }
    Zeroed<Entry> entries;
};

// The rows written so far, by name, queried name, source and address; emptied when full, so
// that a row may then be written again, never lost.
class NameTracker::Written {
  public:
    static constexpr std::uint32_t slots = 1u << 16;

    Written() : entries(zeroed<Entry>(slots)) {}

    // True the first time a row is seen (since the set was last emptied).
    bool first(std::uint32_t name, std::uint32_t queried, const NameRow& row) {
        Entry wanted{};
        wanted.name = name;
        wanted.queried = queried;
        wanted.source = static_cast<std::uint8_t>(row.source);
        wanted.family = row.family;
        std::memcpy(wanted.address, row.address, 16);
        std::uint32_t i =
            static_cast<std::uint32_t>(mix(hashBytes(wanted.address, 16, wanted.family),
                                           std::uint64_t{name} << 32 | queried) ^
                                       wanted.source) &
            (slots - 1);
        for (; entries[i].name != 0; i = (i + 1) & (slots - 1)) {
            if (std::memcmp(&entries[i], &wanted, sizeof wanted) == 0) {
                return false;
            }
        }
        if (4 * count >= 3 * slots) {
            std::memset(entries.get(), 0, sizeof(Entry) * slots);
            count = 0;
            return first(name, queried, row);
        }
        entries[i] = wanted;
        ++count;
        return true;
    }

  private:
    struct Entry {
        std::uint32_t name;
        std::uint32_t queried;
        std::uint8_t address[16];
        std::uint8_t source;
        std::uint8_t family;
        std::uint8_t zero[2];  // so that entries compare whole
    };
    Zeroed<Entry> entries;
    std::uint32_t count = 0;
};

// What is kept of one connection while it is open.
struct NameTracker::PerConnection {
    ClientStream ends[2];        // the first bytes of each end, while read
    std::uint32_t quicFlow = 0;  // the client's QUIC flow, place + 1, while read
    std::uint32_t own = 0;       // the connection's own name
    NameSource ownSource = NameSource::Tls;
    std::uint32_t dns = 0;  // the name the client asked for, by the DNS answer it last had
};

NameTracker::NameTracker(std::size_t connections, NameSink sink)
    : sink(sink), places(connections), perConnection(zeroed<PerConnection>(connections)),
      store(new Store), answers(new Answers), written(new Written), streams(pool),
      quicFlows(new QuicClientFlow[quicFlowCount]), freeQuicFlows(new std::uint32_t[quicFlowCount]),
      freeQuicCount(quicFlowCount), response(new DnsResponse) {
    for (std::uint32_t i = 0; i < quicFlowCount; ++i) {
        freeQuicFlows[i] = quicFlowCount - 1 - i;
    }
}

NameTracker::~NameTracker() = default;

void NameTracker::packet(const PacketFacts& facts, const FrameBytes& frame,
                         const ConnectionTable::Added& added) {
    if (added.connection >= places) {
        return;
    }
    PerConnection& connection = perConnection[added.connection];
    if (added.created) {
        connection = PerConnection{};
        // The client asked for the server's name: which end is which is told later, so either
        // way round.
        connection.dns = answers->find(facts.family, facts.source, facts.destination);
        if (connection.dns == 0) {
            connection.dns = answers->find(facts.family, facts.destination, facts.source);
        }
    }
    const std::uint32_t payload = frame.capturedFrom(facts.payloadOffset);
    const std::uint32_t length = std::min(payload, facts.payloadLength);
    if (facts.hasPorts && facts.protocol == udp) {
        if (length > 0 && (facts.sourcePort == dnsPort || facts.sourcePort == mdnsPort)) {
            dns(facts, frame.at(facts.payloadOffset), length);
        } else if (length >= quicClientDatagram && added.sender == added.firstSender &&
                   (frame.byte(facts.payloadOffset) & 0x80) != 0) {
            quic(facts, frame.at(facts.payloadOffset), length, connection);
        }
    } else if (facts.tcpHeader) {
        if (facts.sourcePort == dnsPort && length > 0) {
            // The DNS messages that this segment holds whole, each after its length.
            const std::uint8_t* bytes = frame.at(facts.payloadOffset);
            for (std::uint32_t offset = 0, start = 0, size = 0;
                 nextTcpDnsMessage(bytes, length, offset, start, size);) {
                dns(facts, bytes + start, size);
            }
        }
        stream(facts, frame, length, added);
    }
}

void NameTracker::dns(const PacketFacts& facts, const std::uint8_t* message, std::uint32_t length) {
    DnsResponse& r = *response;
    if (readDnsResponse(message, length, r) != DnsReading::Response || r.addressCount == 0) {
        return;
    }
    const bool asked = r.hasQuestion;
    if (asked) {
        writeDnsName(r.question, question);
    }
    const std::uint32_t questionId = asked ? store->intern(question) : 0;
    for (std::uint32_t i = 0; i < r.addressCount; ++i) {
        const DnsAddress& answer = r.addresses[i];
        writeDnsName(answer.owner, owner);
        NameRow row;
        row.frame = facts.frame;
        row.family = answer.ipv6 ? 6 : 4;
        std::memcpy(row.address, answer.address, 16);
        row.name = &owner;
        row.source = NameSource::Dns;
        row.dns = true;
        row.ttl = answer.ttl;
        const bool chained = asked && answer.viaCname;
        row.queried = chained ? &question : nullptr;
        write(row);
        // The name the client wanted: the question's, when the chain led from it.
        const std::uint32_t wanted = chained ? questionId : store->intern(owner);
        if (wanted != 0 && row.family == facts.family) {
            answers->remember(row.family, facts.destination, row.address, wanted);
        }
    }
}

void NameTracker::stream(const PacketFacts& facts, const FrameBytes& frame, std::uint32_t length,
                         const ConnectionTable::Added& added) {
    PerConnection& connection = perConnection[added.connection];
    ClientStream& end = connection.ends[added.sender];
    if (end.finished) {
        return;
    }
    if (facts.tcpFlags & tcpSyn) {
        ClientStreamReader::syn(end, facts.sequence);
    }
    if (length == 0) {
        return;
    }
    const NameStatus status =
        streams.segment(end, facts.sequence, frame.at(facts.payloadOffset), length, learnt);
    if (status == NameStatus::Found) {
        named(facts, learnt, connection);
        streams.end(connection.ends[1 - added.sender]);
        connection.ends[1 - added.sender].finished = true;
    }
}

void NameTracker::quic(const PacketFacts& facts, const std::uint8_t* datagram, std::uint32_t length,
                       PerConnection& connection) {
    if (connection.quicFlow == 0) {
        if (freeQuicCount == 0 || connection.own != 0) {
            return;
        }
        connection.quicFlow = freeQuicFlows[--freeQuicCount] + 1;
        quicFlows[connection.quicFlow - 1] = QuicClientFlow{};
    }
    QuicClientFlow& flow = quicFlows[connection.quicFlow - 1];
    const NameStatus status = quicReader.read(flow, datagram, length, pool, learnt);
    if (status == NameStatus::NeedMore) {
        return;
    }
    if (status == NameStatus::Found) {
        named(facts, learnt, connection);
    }
    QuicInitialReader::end(flow, pool);
    freeQuicFlows[freeQuicCount++] = connection.quicFlow - 1;
    connection.quicFlow = 0;
}

void NameTracker::named(const PacketFacts& facts, const LearntName& name,
                        PerConnection& connection) {
    NameRow row;
    row.frame = facts.frame;
    row.family = facts.family;
    std::memcpy(row.address, facts.destination, 16);  // the client sent it to the server
    row.name = &name.name;
    row.source = name.source;
    row.echOuter = name.echOuter;
    write(row);
    connection.own = store->intern(name.name);
    connection.ownSource = name.source;
}

void NameTracker::write(const NameRow& row) {
    const std::uint32_t name = store->intern(*row.name);
    const std::uint32_t queried = row.queried != nullptr ? store->intern(*row.queried) : 0;
    // A name the store could not keep is written each time, rather than never.
    if (name == 0 || (row.queried != nullptr && queried == 0) ||
        written->first(name, queried, row)) {
        sink.learnt(sink.context, row);
    }
}

NameTracker::ConnectionName NameTracker::ended(std::uint32_t place) {
    ConnectionName name;
    if (place >= places) {
        return name;
    }
    PerConnection& connection = perConnection[place];
    if (connection.own != 0) {
        name = {store->of(connection.own),
                nameSourceText[static_cast<std::size_t>(connection.ownSource)]};
    } else if (connection.dns != 0) {
        name = {store->of(connection.dns), nameSourceText[0]};
    }
    for (ClientStream& end : connection.ends) {
        streams.end(end);
    }
    if (connection.quicFlow != 0) {
        QuicInitialReader::end(quicFlows[connection.quicFlow - 1], pool);
        freeQuicFlows[freeQuicCount++] = connection.quicFlow - 1;
    }
    connection = PerConnection{};
    return name;
}

}  // namespace tidewrack
