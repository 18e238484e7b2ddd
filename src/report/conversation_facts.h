// What follows from a conversation's counts, flags and times, as the store's conversation table
// holds it (tally_store.h): its client, its server end, its TCP state, its handshake and connect
// times and the SYNs its client sent. The tally that stayed within its budget derives these
// itself, for the table and for the sections it works out in memory, rather than having the
// store add parts up.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "report/protocol_catalog.h"
#include "report/traffic_tally.h"

namespace tidewrack::report {

struct ConversationFacts {
    std::optional<int> client;  // 0 for a, 1 for b; nothing without a SYN
    int server = -1;            // the server end of TCP and UDP, 0 or 1; -1 for others
    std::string_view state{};   // the TCP state's code; empty for other protocols
    std::int64_t handshake = unknownTime;
    std::int64_t connect = unknownTime;
    std::int64_t syns = -1;  // the SYNs the client sent, 0 for TCP without a client; -1
                             // for other protocols
};

ConversationFacts conversationFacts(const ConversationKey& key, const Conversation& c,
                                    ProtocolKind kind);

// Whether end `end` (0 for a, 1 for b) sent SYN (without ACK), or SYN ACK.
inline bool sentSyn(const Conversation& c, int end) {
    return (c.seen >> 4 * end & TcpEnd::Syn) != 0;
}
inline bool sentSynAck(const Conversation& c, int end) {
    return (c.seen >> 4 * end & TcpEnd::SynAck) != 0;
}

}  // namespace tidewrack::report
