// Who opened a TCP connection, what became of it, and how long it took to connect: from the
// flags each end sent and the times of a few of them.
//
// The state follows the report's rules and codes (report/tcp_states.h), so that a connection's
// row and the report say the same of it: the opener is the end whose first SYN (without ACK)
// came first; without a SYN the state is OTH. Then S0 when the other end sent nothing; REJ when
// it answered RST and never SYN ACK; OTH when it answered neither; RSTO or RSTR when an end
// reset the connection after the other's first SYN ACK (the earlier reset decides, the client
// on a tie); else SF, S2, S3 or S1 by the FINs of the two ends.
//
// The connect time runs from the client's first SYN to the server's first SYN ACK; the
// handshake time from the SYN that SYN ACK answers (the client's last SYN not later than it) to
// it; and the SYNs are those (without ACK) that the client sent: as the report's connect and
// handshake times and SYNs of a TCP conversation are (report/tally_store.h).
#pragma once

#include <cstdint>
#include <string_view>

#include "connections/tcp_analysis.h"

namespace tidewrack {

struct TcpEndState {
    enum Seen : std::uint8_t { Syn = 1, SynAck = 2, Fin = 4, Rst = 8 };  // SYN is without ACK
    std::uint8_t seen = 0;
    std::uint32_t syns = 0;
    Microseconds synFirst = 0;  // valid when the bit is set
    Microseconds synLast = 0;   // the last SYN not later than the other end's first SYN ACK
    Microseconds synAckFirst = 0;
    Microseconds rstFirst = 0;
    Microseconds rstLast = 0;
};

// Notes a segment with `flags` that `sender` sent at `time` to `receiver`.
void noteTcpFlags(TcpEndState& sender, const TcpEndState& receiver, std::uint8_t flags,
                  Microseconds time);

// The end (0 or 1) whose first SYN came first, `tie` when both came at once (the report takes
// the end of the lower address, the order of the ends here; the table the first to arrive);
// -1 without a SYN.
int tcpOpener(const TcpEndState (&ends)[2], int tie);

// The client: the opener; else the receiver of the first SYN ACK; else `firstSender`.
int tcpClient(const TcpEndState (&ends)[2], int firstSender);

// The state's code, `opener` as tcpOpener() found it. `sent` tells whether each end sent any
// frame at all.
std::string_view tcpState(const TcpEndState (&ends)[2], const bool (&sent)[2], int opener);

// The connect and handshake times of a connection whose client is `client`; unknown (-1)
// without both a SYN of the client and a SYN ACK of the server after it.
Microseconds tcpConnectTime(const TcpEndState (&ends)[2], int client);
Microseconds tcpHandshakeTime(const TcpEndState (&ends)[2], int client);

}  // namespace tidewrack
