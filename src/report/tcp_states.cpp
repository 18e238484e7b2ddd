// Telling the client, the state and the server end of a conversation.
#include "report/tcp_states.h"

#include <algorithm>

#include "report/time_of_day.h"
#include "vocabulary/service_tables.h"

namespace tidewrack::report {

namespace {

const TcpState& state(std::string_view code) {
    return *std::find_if(tcpStates.begin(), tcpStates.end(),
                         [&](const TcpState& s) { return s.code == code; });
}

// Whether time `x` comes before `y`, an unknown time after every known one.
bool earlier(std::int64_t x, std::int64_t y) {
    return x != unknownTime && (y == unknownTime || x < y);
}

bool wellKnown(bool tcp, std::uint16_t port) {
    return std::string_view(tcp ? tcpServiceName(port) : udpServiceName(port)) != ephemeralService;
}

}  // namespace

std::optional<int> tcpClient(const TcpEnd (&ends)[2]) {
    const bool a = ends[0].seen & TcpEnd::Syn, b = ends[1].seen & TcpEnd::Syn;
    if (a && b) {
        return earlier(ends[1].synFirst, ends[0].synFirst) ? 1 : 0;
    }
    if (a || b) {
        return a ? 0 : 1;
    }
    return std::nullopt;
}

const TcpState& tcpState(const TcpEnd (&ends)[2], std::optional<int> client) {
    if (!client) {
        return state("OTH");
    }
    const TcpEnd& opener = ends[*client];
    const TcpEnd& server = ends[1 - *client];
    if (!server.sent) {
        return state("S0");
    }
    if (!(server.seen & TcpEnd::SynAck)) {
        return state(server.seen & TcpEnd::Rst ? "REJ" : "OTH");
    }
    // The first RST of an end that is not earlier than the establishment, or unknownTime when
    // all of its RSTs came before it (an unknown time counts as after).
    const std::int64_t established = server.synAckFirst;
    const auto resetAfter = [&](const TcpEnd& end) -> std::optional<std::int64_t> {
        if (!(end.seen & TcpEnd::Rst)) {
            return std::nullopt;
        }
        if (established == unknownTime || !earlier(end.rstFirst, established)) {
            return end.rstFirst;
        }
        if (end.rstLast == unknownTime || !earlier(end.rstLast, established)) {
            return end.rstLast;
        }
        return std::nullopt;
    };
    const auto byClient = resetAfter(opener), byServer = resetAfter(server);
    if (byClient || byServer) {
        return state(byClient && (!byServer || !earlier(*byServer, *byClient)) ? "RSTO" : "RSTR");
    }
    const bool clientFin = opener.seen & TcpEnd::Fin, serverFin = server.seen & TcpEnd::Fin;
    return state(clientFin && serverFin ? "SF" : clientFin ? "S2" : serverFin ? "S3" : "S1");
}

std::string_view tcpStateMeaning(std::string_view code) {
    for (const TcpState& s : tcpStates) {
        if (s.code == code) {
            return s.meaning;
        }
    }
    return {};
}

int serverEnd(bool tcp, std::uint8_t seen, std::optional<int> client, std::uint16_t portA,
              std::uint16_t portB) {
    if (client) {
        return 1 - *client;
    }
    const bool synAckA = seen & TcpEnd::SynAck, synAckB = seen >> 4 & TcpEnd::SynAck;
    if (synAckA != synAckB) {
        return synAckA ? 0 : 1;
    }
    const bool knownA = wellKnown(tcp, portA), knownB = wellKnown(tcp, portB);
    if (knownA != knownB) {
        return knownA ? 0 : 1;
    }
    return portB < portA ? 1 : 0;
}

}  // namespace tidewrack::report
