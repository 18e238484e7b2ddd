// A conversation's client, server end, state, handshake and connect times and SYNs.
#include "report/conversation_facts.h"

namespace tidewrack::report {

namespace {

// The handshake time of a conversation opened by `client`, as the store's adding up measures
// it: from the client's last SYN not later than the server's first SYN ACK (else its first SYN,
// if not later) to that SYN ACK; unknownTime when either is unknown.
std::int64_t handshakeTime(const Conversation& c, int client) {
    const std::int64_t answer = c.synAckFirst[1 - client];
    if (answer == unknownTime) {
        return unknownTime;
    }
    for (const std::int64_t syn : {c.synLast[client], c.synFirst[client]}) {
        if (syn != unknownTime && syn <= answer) {
            return answer - syn;
        }
    }
    return unknownTime;
}

// The client's first SYN to the server's first SYN ACK, when that answer came after it.
std::int64_t connectTime(const Conversation& c, int client) {
    const std::int64_t syn = c.synFirst[client], answer = c.synAckFirst[1 - client];
    return syn != unknownTime && answer != unknownTime && syn <= answer ? answer - syn
                                                                        : unknownTime;
}

}  // namespace

ConversationFacts conversationFacts(const ConversationKey& key, const Conversation& c,
                                    ProtocolKind kind) {
    ConversationFacts facts;
    TcpEnd ends[2]{};
    for (int end = 0; end < 2; ++end) {
        ends[end].seen = static_cast<std::uint8_t>(c.seen >> 4 * end & 0xF);
        ends[end].sent = (end == 0 ? c.aToB : c.bToA).frames > 0;
        ends[end].synFirst = c.synFirst[end];
    }
    facts.client = tcpClient(ends);
    const bool tcp = kind == ProtocolKind::Tcp;
    if (tcp || kind == ProtocolKind::Udp) {
        facts.server = serverEnd(tcp, c.seen, facts.client, key.portA, key.portB);
    }
    if (tcp) {
        for (int end = 0; end < 2; ++end) {
            ends[end].synFirst = unknownTime;
            ends[end].synAckFirst = c.synAckFirst[end];
            ends[end].rstFirst = c.rstFirst[end];
            ends[end].rstLast = c.rstLast[end];
        }
        facts.state = tcpState(ends, facts.client).code;
    }
    if (facts.client) {
        facts.handshake = handshakeTime(c, *facts.client);
        facts.connect = connectTime(c, *facts.client);
        facts.syns = c.syns[*facts.client];
    } else if (tcp) {
        facts.syns = 0;
    }
    return facts;
}

}  // namespace tidewrack::report
