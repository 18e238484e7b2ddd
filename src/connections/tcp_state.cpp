// Telling a TCP connection's client, state, connect time and handshake time.
#include "connections/tcp_state.h"

#include "vocabulary/tcp_flags.h"

namespace tidewrack {

void noteTcpFlags(TcpEndState& sender, const TcpEndState& receiver, std::uint8_t flags,
                  Microseconds time) {
    if ((flags & (TcpSyn | TcpAck)) == TcpSyn) {
        ++sender.syns;
        if (!(sender.seen & TcpEndState::Syn)) {
            sender.synFirst = sender.synLast = time;
        } else if (time < sender.synFirst) {
            sender.synFirst = time;
        }
        const bool answered = receiver.seen & TcpEndState::SynAck;
        if ((!answered || time <= receiver.synAckFirst) && time > sender.synLast) {
            sender.synLast = time;
        }
        sender.seen |= TcpEndState::Syn;
    }
    if (isSynAck(flags)) {
        if (!(sender.seen & TcpEndState::SynAck) || time < sender.synAckFirst) {
            sender.synAckFirst = time;
        }
        sender.seen |= TcpEndState::SynAck;
    }
    if (flags & TcpFin) {
        sender.seen |= TcpEndState::Fin;
    }
    if (flags & TcpRst) {
        if (!(sender.seen & TcpEndState::Rst)) {
            sender.rstFirst = sender.rstLast = time;
        } else if (time < sender.rstFirst) {
            sender.rstFirst = time;
        } else if (time > sender.rstLast) {
            sender.rstLast = time;
        }
        sender.seen |= TcpEndState::Rst;
    }
}

int tcpOpener(const TcpEndState (&ends)[2], int tie) {
    const bool a = ends[0].seen & TcpEndState::Syn, b = ends[1].seen & TcpEndState::Syn;
    if (a && b) {
        return ends[0].synFirst < ends[1].synFirst   ? 0
               : ends[1].synFirst < ends[0].synFirst ? 1
                                                     : tie;
    }
    return a ? 0 : b ? 1 : -1;
}

int tcpClient(const TcpEndState (&ends)[2], int firstSender) {
    const int opener = tcpOpener(ends, firstSender);
    if (opener >= 0) {
        return opener;
    }
    const bool a = ends[0].seen & TcpEndState::SynAck, b = ends[1].seen & TcpEndState::SynAck;
    if (a && b) {
        return ends[1].synAckFirst < ends[0].synAckFirst ? 0 : 1;
    }
    return a ? 1 : b ? 0 : firstSender;
}

std::string_view tcpState(const TcpEndState (&ends)[2], const bool (&sent)[2], int opener) {
    if (opener < 0) {
        return "OTH";
    }
    const TcpEndState& client = ends[opener];
    const TcpEndState& server = ends[1 - opener];
    if (!sent[1 - opener]) {
        return "S0";
    }
    if (!(server.seen & TcpEndState::SynAck)) {
        return server.seen & TcpEndState::Rst ? "REJ" : "OTH";
    }
    // An end's reset after the establishment: its first RST not earlier than the server's first
    // SYN ACK, else its last; none when all of its RSTs came before.
    const Microseconds established = server.synAckFirst;
    const auto resetAfter = [&](const TcpEndState& end, Microseconds& at) {
        if (!(end.seen & TcpEndState::Rst)) {
            return false;
        }
        at = end.rstFirst >= established ? end.rstFirst : end.rstLast;
        return at >= established;
    };
    Microseconds byClient = 0, byServer = 0;
    const bool clientReset = resetAfter(client, byClient);
    const bool serverReset = resetAfter(server, byServer);
    if (clientReset || serverReset) {
        return clientReset && (!serverReset || byServer >= byClient) ? "RSTO" : "RSTR";
    }
    const bool clientFin = client.seen & TcpEndState::Fin,
               serverFin = server.seen & TcpEndState::Fin;
    return clientFin && serverFin ? "SF" : clientFin ? "S2" : serverFin ? "S3" : "S1";
}

Microseconds tcpConnectTime(const TcpEndState (&ends)[2], int client) {
    const TcpEndState& opener = ends[client];
    const TcpEndState& server = ends[1 - client];
    if (!(opener.seen & TcpEndState::Syn) || !(server.seen & TcpEndState::SynAck) ||
        server.synAckFirst < opener.synFirst) {
        return -1;
    }
    return server.synAckFirst - opener.synFirst;
}

Microseconds tcpHandshakeTime(const TcpEndState (&ends)[2], int client) {
    const TcpEndState& opener = ends[client];
    const TcpEndState& server = ends[1 - client];
    if (!(opener.seen & TcpEndState::Syn) || !(server.seen & TcpEndState::SynAck)) {
        return -1;
    }
    // A SYN recorded as the last before the SYN ACK but stamped after it (a capture whose
    // times go back) leaves the first SYN to stand for it, as in the report.
    const Microseconds answered =
        opener.synLast <= server.synAckFirst ? opener.synLast : opener.synFirst;
    return answered <= server.synAckFirst ? server.synAckFirst - answered : -1;
}

}  // namespace tidewrack
