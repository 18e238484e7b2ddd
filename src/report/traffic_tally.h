// The counts behind every section of the report, gathered in one pass over the frames of all
// databases. The tally owns everything the pass needs: the catalog of protocol names, each
// database's own figures, the counts of the whole and the store they end in.
//
// Each frame is counted once in each of a few tables: per protocol, per endpoint (sent and
// received, and its first and last time), per conversation (and, for TCP, the flags each end
// sent, the SYNs it sent and the times of its first SYN, last SYN before the answer, first SYN
// ACK and first and last RST: what its client, state, SYNs, connect and handshake times follow
// from, tcp_states.h), per UDP
// destination port, per ICMP type and code (of ICMP and of ICMPv6 apart), and per ICMP error
// between two hosts, once on the timeline, once in the second it falls in (of which the peaks
// over a second follow) and once among the stretches of traffic (activity.h). Frames of IPv4 and of
// IPv6 are counted alike: an address holds its family, and a protocol is a name of one family
// (protocol_catalog.h). What the extended record counts besides the frames (the frames delivered,
// those not analysed by kind, the tagged ones by VLAN) goes to the store as it is read, to be added
// up there. What the sections derive further (services, port scans, unanswered connection attempts,
// handshake times by server) comes from the conversations at the end.
//
// Memory stays within a budget however many endpoints, conversations and ICMP errors the
// traffic holds, over however many seconds and stretches: those five are counted in maps until
// the maps' estimated size passes the budget, then written to the store (tally_store.h) as parts
// and counted afresh. The other tables are small by nature (at most 65,536 ports, type-and-code
// pairs, catalog names, and the timeline's few hundred intervals). finish() writes everything to
// the store and adds the parts up there, so the report is exact whether or not the maps ever passed
// their budget. A tally that stayed within it has nothing to add up for its endpoints,
// conversations, ICMP errors and seconds: it writes each count once, at the end, straight into the
// tables the sections read, with what the adding up would have derived (each conversation's
// client, server, state, handshake and connect times and SYNs), and works out the sections that
// group the conversations itself (derived_sections.h).
//
// The traffic of a baseline (--baseline) is counted by a tally of its own, apart (in a thread
// of its own, each tally with half the budget); takeBaseline() then copies what the sections
// compare with from its store: its endpoints, its server ends and its active time.
//
// A database read from its connection record goes in by connection and by second instead of
// frame by frame (addConnection, addSecond; record_tally.cpp), to the same counts, with the
// health of each conversation's connections besides (written to the store's connection and
// conversation_health tables).
//
// A conversation of TCP or UDP is the unordered pair of address:port ends; of any other
// protocol, the unordered pair of addresses. Its end "a" is the lower one in byte order, by
// address and then by port.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "report/activity.h"
#include "report/connection_record.h"
#include "report/counts.h"
#include "report/frame_row.h"
#include "report/protocol_catalog.h"
#include "report/tally_store.h"
#include "report/tcp_states.h"
#include "report/time_axis.h"
#include "report/time_of_day.h"
#include "report/timeline.h"

namespace tidewrack::report {

struct ConversationKey {
    IpAddress a;
    IpAddress b;
    std::uint16_t portA = 0;  // 0 for protocols without ports
    std::uint16_t portB = 0;
    std::uint16_t protocol = 0;
    bool operator==(const ConversationKey&) const = default;
};

struct Conversation {
    Counts aToB;
    Counts bToA;
    std::int64_t first = unknownTime;
    std::int64_t last = unknownTime;
    // Of TCP, by end (a, b): the times of its first SYN (without ACK), its last SYN not later
    // than the other end's first SYN ACK (as known so far), its first SYN ACK, and its first and
    // last RST; unknownTime for none.
    std::int64_t synFirst[2] = {unknownTime, unknownTime};
    std::int64_t synLast[2] = {unknownTime, unknownTime};
    std::int64_t synAckFirst[2] = {unknownTime, unknownTime};
    std::int64_t rstFirst[2] = {unknownTime, unknownTime};
    std::int64_t rstLast[2] = {unknownTime, unknownTime};
    std::uint32_t syns[2] = {0, 0};  // of TCP, by end: the SYNs (without ACK) it sent
    std::uint8_t seen = 0;           // TcpEnd::Seen bits of TCP: a's in bits 0-3, b's in bits 4-7
};

struct Endpoint {
    Counts sent;
    Counts received;
    std::int64_t first = unknownTime;
    std::int64_t last = unknownTime;
};

struct IcmpErrorKey {
    IpAddress reporter;  // the host that sent the error
    IpAddress sentTo;
    std::uint16_t typeAndCode = 0;
    bool operator==(const IcmpErrorKey&) const = default;
};

struct KeyHash {
    // Addresses as they are, as std::hash does for integers: neighbours fall in neighbouring
    // buckets, which suits the runs of nearby addresses that traffic has. An IPv6 address folds
    // its network half into its interface half.
    std::size_t operator()(const IpAddress& k) const noexcept { return fold(k); }
    std::size_t operator()(const ConversationKey& k) const noexcept {
        return mix(fold(k.a), fold(k.b),
                   std::uint64_t{k.portA} << 32 | std::uint64_t{k.portB} << 16 | k.protocol);
    }
    std::size_t operator()(const IcmpErrorKey& k) const noexcept {
        return mix(fold(k.reporter), fold(k.sentTo), k.typeAndCode);
    }
    static std::uint64_t fold(const IpAddress& k) { return k.low ^ k.high; }
    static std::size_t mix(std::uint64_t x, std::uint64_t y, std::uint64_t z) {
        std::uint64_t h =
            (x << 32 ^ x >> 32 ^ y) * 0x9E3779B97F4A7C15ull ^ z * 0xC2B2AE3D27D4EB4Full;
        return static_cast<std::size_t>(h ^ h >> 29);
    }
};

// One database's figures, as the summary shows them.
struct DatabaseSummary {
    std::string path;
    int mode = 0;
    bool dated = false;    // it records dates: made with tidewrack -x
    bool records = false;  // read from its connection record instead of its frames
    bool frames = true;    // it holds a row per frame
    Counts counts;
    std::int64_t first = unknownTime;  // the earliest and latest known times, on the axis
    std::int64_t last = unknownTime;
    std::int64_t previous = unknownTime;  // the time of the frame before, in capture order
    std::uint64_t timeGoesBack = 0;       // frames earlier than the frame before them
    std::int64_t delivered = -1;          // CAPTURE.frames_delivered, -1 without
    bool readFailed = false;              // its capture ended in a read error (CAPTURE.read_error)
    std::string readError;                // libpcap's text of it
};

class TrafficTally {
  public:
    // The default budget of the hash maps, in bytes.
    static constexpr std::size_t defaultBudget = 40 << 20;

    explicit TrafficTally(std::size_t budget = defaultBudget) : budget(budget) {}

    // The frames added next are those of this database, which records dates or not, read from
    // its connection record (`records`) or its frames, and which holds frames or not.
    void startDatabase(const std::string& path, int mode, bool dated, bool records = false,
                       bool frames = true);
    // Counts one frame of the current database; its protocol is a number of `catalog`.
    void add(const FrameRow& row);
    // Counts the frames of one connection of the current database, as add() would count them
    // but for the times, the ICMP messages and the ICMP errors, which addSecond() and
    // addIcmpFrame() count (record_tally.cpp).
    // `placed`: the connection's first and last frames place the database's first and last
    // times, its stretches of traffic and its timeline's gaps (not so under a window of time,
    // which the connection may cross).
    // `endsOnly`: no seconds follow (a filter of hosts or ports, which they cannot pass), so
    // that the connections place nothing on the timeline; withoutSeconds() then takes the
    // stretches of traffic from their first and last frames.
    void addConnection(const ConnectionRecord& record, bool placed = true, bool endsOnly = false);
    void withoutSeconds();
    // Counts one second of the current database's traffic on the timeline; `alone`: the second
    // places the times that the connections do not.
    void addSecond(const SecondRecord& second, bool alone = false);
    // Counts an ICMP frame of the current database among the ICMP messages and errors only.
    void addIcmpFrame(const FrameRow& row);
    // The current database's frames delivered, the read error its capture ended in, a kind of
    // the frames it did not analyse, and a VLAN of its tagged frames.
    void delivered(std::int64_t frames) { databases.back().delivered = frames; }
    void readError(std::string_view text) {
        databases.back().readFailed = true;
        databases.back().readError = text;
    }
    void notAnalysed(std::string_view kind, std::int64_t frames, std::int64_t bytes);
    void vlan(std::int64_t vlan, std::int64_t frames, std::int64_t bytes);
    // Writes every count to the store and adds the parts up; the tally is spent. On a dated
    // axis the databases are placed in the order of their first times.
    TallyStore& finish(const TimeAxis& axis);
    // Works out the sections that group the conversations, of the TCP states `states` only
    // (all when empty), into the store's tables for them, when the tally stayed within its
    // budget (derived_sections.h), after finish(); the store's SQL works them out otherwise.
    void deriveSections(std::span<const std::string_view> states);
    // Copies the endpoints, server ends and active time of a finished tally of the baseline
    // into this tally's store, and the baseline's database paths, after finish().
    void takeBaseline(TrafficTally& baseline, const std::vector<std::string>& paths);

    ProtocolCatalog catalog;

  private:
    // The estimated size of the maps that grow with the traffic, in bytes.
    std::size_t estimatedSize() const;
    // Writes those maps to the store's parts and empties them.
    void spill();
    // Writes the three maps and the seconds, which hold every count whole, straight into the
    // tables the sections read, after the store has made them.
    void writeWhole();
    // Writes the seconds into `table` of the store (their parts, or their whole table), and
    // the stretches of traffic to their parts.
    void writeSeconds(const char* table);
    void writeStretches();
    // Writes the endpoints and the ICMP errors into those two tables of the store.
    void writeEndpointsAndErrors(const char* endpointTable, const char* errorTable);

    std::size_t budget;
    bool spilled = false;                    // the maps passed their budget at least once
    std::vector<DatabaseSummary> databases;  // in the order read
    std::vector<Counts> protocols;           // by the catalog's number
    std::unordered_map<IpAddress, Endpoint, KeyHash> endpoints;
    std::unordered_map<ConversationKey, Conversation, KeyHash> conversations;
    std::unordered_map<IcmpErrorKey, Counts, KeyHash> icmpErrors;
    std::unordered_map<std::uint16_t, Counts> udpPorts;      // by destination port
    std::unordered_map<std::uint32_t, Counts> icmpMessages;  // by family << 16 | type << 8 | code
    Timeline timeline;
    std::unordered_map<std::int64_t, Counts> seconds;  // by second of the axis
    std::int64_t lastSecond = -1;
    Counts* lastSecondCounts = nullptr;
    Activity activity;
    // Of a database read from its connection record: the earliest and latest of the
    // connections' first and last times in each second, by second of the axis.
    std::unordered_map<std::int64_t, std::pair<std::int64_t, std::int64_t>> knownTimes;
    // The connections read from records, on their way to the store's connection table.
    struct ConnectionHealth {
        ConversationKey key;
        bool clientIsB;
        std::uint16_t clientPort, serverPort;
        char state[6];
        char communityId[32];
        std::int64_t first, last;
        std::uint64_t signs[8];  // retransmissions, out of order, duplicate ACKs, zero windows:
                                 // a>b and b>a of each
        std::uint64_t missedBytes;
    };
    std::vector<ConnectionHealth> connectionRows;  // those with a sign of trouble
    // The health of each conversation's connections added up, and the Community ID of its
    // first connection (the same for all of them).
    struct ConversationHealth {
        std::uint64_t signs[8] = {};
        std::uint64_t missedBytes = 0;
        std::int64_t first = unknownTime;
        char communityId[32] = {};
    };
    std::unordered_map<ConversationKey, ConversationHealth, KeyHash> conversationHealth;
    // Writes connectionRows to the store and empties it.
    void writeConnections();
    // Writes conversationHealth to `table` (the part of a spill) and empties it.
    void writeHealth(const char* table);
    // Binds the counts of `health` (its eight signs, a>b and b>a of each, and its missed bytes)
    // from parameter `first` on, and with `communityId` its Community ID after them; NULLs for
    // none.
    static void bindHealth(Statement& statement, int first, const ConversationHealth* health,
                           bool communityId);
    bool healthTold = false;  // every database tells its conversations' health
    TallyStore store;
};

}  // namespace tidewrack::report
