// The table of open connections: every analysed packet is added to its connection, and each
// connection, once it ends, goes to a sink as one row, oriented from its client to its server.
//
// A connection is a flow of TCP, UDP, ICMP, ICMPv6 or any other IP protocol, of either family,
// between two ends. Its key is its Community ID tuple: the family, the protocol, the two
// addresses and the two ports in the identifier's order (see community_id.h), so that ICMP's
// request and reply share a connection and its identifier is its own. A protocol without ports,
// and a fragment after the first, is keyed by its addresses alone.
//
// The client is the sender of the first SYN (without ACK); without one, the receiver of the
// first SYN ACK; without either (UDP, ICMP, other protocols, and a TCP connection seen from its
// middle), the sender of the first frame. A TCP connection's state is worked out as the report
// works it out (report/tcp_states.h), with the same codes: S0, REJ, S1, SF, S2, S3, RSTO, RSTR,
// OTH; a connection seen from its middle is OTH.
//
// A connection ends, and its row is written, for one of these reasons:
//   closed     a TCP connection that both ends closed with FIN, or that one reset, once idle
//              for the close delay (5 s, Zeek's tcp_close_delay and tcp_reset_delay); a SYN
//              within the delay opens it again (an attempt repeated after a reset)
//   reused     a SYN (without ACK) came with another initial sequence number than its sender's
//              first segment of it: a new connection on the same addresses and ports, where
//              tshark starts a new tcp.stream too
//   idle       no packet for the inactivity timeout, after Zeek's defaults: 5 minutes for TCP
//              (tcp_inactivity_timeout), 1 minute for UDP, ICMP and other protocols
//              (udp_, icmp_ and unknown_ip_inactivity_timeout)
//   budget     the table was full: the connection idle longest is written early to make room
//   end        still open at the end of the input
// Time is the capture's: a connection is idle when a frame comes more than its timeout after
// the latest of its own frames (a frame whose time goes back ends none, and one from far ahead
// ends the others once, not every frame after it). At the end of the input, open connections
// are written in the order of their first frame; otherwise rows go out as the connections end,
// the idle longest first.
//
// Memory stays within the budget given to the constructor: the connections are records of a
// pool allocated once (calloc, so that pages never used cost nothing), found through an
// open-addressed index, and kept in one list per timeout, least recently active first, so that
// expiry and eviction cost the same whatever the table holds. Adding a packet allocates nothing.
#pragma once

#include <sys/time.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <iterator>
#include <memory>
#include <string_view>

#include "connections/community_id.h"
#include "connections/packet_facts.h"
#include "connections/tcp_analysis.h"
#include "connections/tcp_history.h"
#include "connections/tcp_state.h"

namespace tidewrack {

enum class EndReason : std::uint8_t { Closed, Reused, Idle, Budget, EndOfInput };

inline constexpr std::string_view endReasonNames[] = {"closed", "reused", "idle", "budget", "end"};
static_assert(std::size(endReasonNames) == static_cast<std::size_t>(EndReason::EndOfInput) + 1);

struct ConnectionTimeouts {
    Microseconds tcp = 300'000'000;
    Microseconds tcpClosed = 5'000'000;
    Microseconds udp = 60'000'000;
    Microseconds icmp = 60'000'000;
    Microseconds other = 60'000'000;
};

inline constexpr Microseconds unknownDuration = -1;

// A finished connection, from its client's side.
struct ConnectionRow {
    std::uint32_t connection = 0;  // the connection's place in the table, as add() gave it
    char communityId[communityIdSize] = {};
    std::uint8_t family = 4;
    std::uint8_t protocol = 0;
    std::uint8_t client[16] = {};  // an IPv4 address in the first 4 bytes
    std::uint8_t server[16] = {};
    bool hasPorts = false;  // ICMP's "ports" are its type and its code or counterpart type
    std::uint16_t clientPort = 0;
    std::uint16_t serverPort = 0;
    std::uint64_t firstFrame = 0;
    std::uint64_t lastFrame = 0;
    timeval firstTime{};  // the earliest and the latest time of its frames
    timeval lastTime{};
    Microseconds duration = 0;

    struct Direction {
        std::uint64_t frames = 0;
        std::uint64_t bytes = 0;    // on the wire
        std::uint64_t payload = 0;  // after the transport header
        // TCP only, from tshark's analysis flags (tcp_analysis.h)
        std::uint64_t retransmissions = 0;  // fast and spurious included
        std::uint64_t outOfOrder = 0;
        std::uint64_t duplicateAcks = 0;
        std::uint64_t zeroWindows = 0;
    };
    Direction fromClient;
    Direction fromServer;

    bool tcp = false;  // the fields below are TCP's
    std::string_view state;
    char history[TcpHistory::textSize] = {};
    std::uint64_t syns = 0;                        // SYNs (without ACK) the client sent
    Microseconds connectTime = unknownDuration;    // its first SYN to the first SYN ACK
    Microseconds handshakeTime = unknownDuration;  // its last SYN before that SYN ACK to it
    std::uint64_t missedBytes = 0;
    EndReason end = EndReason::EndOfInput;
};

// Where rows go: `finished` is called with `context` and each row as its connection ends.
struct ConnectionSink {
    void (*finished)(void* context, const ConnectionRow& row) = nullptr;
    void* context = nullptr;
};

class ConnectionTable {
  public:
    static constexpr std::size_t defaultBudget = std::size_t{32} << 20;

    explicit ConnectionTable(ConnectionSink sink, std::size_t memoryBudget = defaultBudget,
                             ConnectionTimeouts timeouts = {});
    ~ConnectionTable();
    ConnectionTable(const ConnectionTable&) = delete;
    ConnectionTable& operator=(const ConnectionTable&) = delete;

    // What add() did with a packet: its connection's place in the table (the same until the
    // connection ends, when its row gives it; then another may take it), whether the packet
    // began that connection, which of the connection's two ends sent it (0 or 1, the same for
    // every packet of one end) and which sent its first frame, and its TCP analysis flags (0
    // for other protocols).
    struct Added {
        std::uint32_t connection = 0;
        bool created = false;
        std::uint8_t sender = 0;
        std::uint8_t firstSender = 0;
        std::uint16_t flags = 0;
    };
    // Adds an analysed packet.
    Added add(const PacketFacts& packet);
    // Writes every connection still open, in the order of their first frame.
    void finish();

    std::size_t capacity() const { return poolSize; }
    std::size_t openConnections() const { return openCount; }

  private:
    struct Key {
        std::uint8_t address[2][16];
        std::uint16_t port[2];
        std::uint8_t family;
        std::uint8_t protocol;
        std::uint8_t zero[2];  // so that keys compare whole
    };
    struct End;
    struct Connection;
    enum TimeoutClass : std::uint8_t { TcpOpen, TcpClosed, Udp, Icmp, Other, classCount };
    struct List {
        std::uint32_t head = 0;  // record index + 1, 0 for none
        std::uint32_t tail = 0;
    };
    struct Free {
        void operator()(void* block) const { std::free(block); }
    };

    static Key keyOf(const PacketFacts& packet, int& sender);
    std::uint32_t find(const Key& key, std::uint32_t hash) const;
    std::uint32_t create(const Key& key, std::uint32_t hash, const PacketFacts& packet, int sender);
    void end(std::uint32_t index, EndReason reason);
    void expire(Microseconds now);
    void unlink(Connection& c);
    void append(std::uint32_t index, TimeoutClass timeoutClass);
    void unindex(std::uint32_t index);
    std::uint16_t addTcp(Connection& c, int sender, const PacketFacts& packet, Microseconds now);
    void row(const Connection& c, EndReason reason, ConnectionRow& out) const;

    ConnectionSink sink;
    Microseconds timeoutOf[classCount];
    std::unique_ptr<Connection, Free> pool;
    std::unique_ptr<std::uint32_t, Free> slots;  // record index + 1, 0 for an empty slot
    std::size_t poolSize = 0;
    std::uint32_t slotMask = 0;
    std::uint32_t used = 0;      // records ever handed out: those past it were never touched
    std::uint32_t freeList = 0;  // record index + 1
    std::size_t openCount = 0;
    List lists[classCount];
    Microseconds nextDeadline = INT64_MIN;  // no connection can be idle before it
};

}  // namespace tidewrack
