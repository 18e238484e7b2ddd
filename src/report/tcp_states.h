// Who opened a TCP conversation, what became of it, and which end of a conversation of TCP or
// UDP is the server: worked out from the flags each end sent and the times of a few of them.
//
// A conversation's client is the end that sent SYN (without ACK); when both ends did (a
// simultaneous open, or a pair of ends used again the other way), the end whose first SYN came
// first, end a on a tie. Its state follows from the flags, in the spirit of Zeek's conn_state
// and with its codes (the table `tcpStates` says each in words):
//   S0    the client sent SYN and the server sent nothing at all
//   REJ   the server answered RST and never SYN ACK
//   S1    the server answered SYN ACK; no FIN, no RST since
//   SF    established, then FIN from both ends
//   S2    established, then FIN from the client only
//   S3    established, then FIN from the server only
//   RSTO  established, then RST from the client first (whatever FINs went before)
//   RSTR  established, then RST from the server first
//   OTH   no SYN seen: traffic already under way (a SYN ACK whose SYN is not in the data, or FIN
//         or RST without a SYN, included); or a SYN answered with neither SYN ACK nor RST
// An RST counts as one after the establishment when it is not earlier than the server's first
// SYN ACK; an end's RSTs all before it (a reset of an earlier attempt, then a SYN sent again)
// leave the state to the FINs.
//
// The server end, for the services that conversations of TCP and UDP ran to: the SYN's
// destination when a SYN was seen, else the end that sent SYN ACK, else the end whose port has
// a well-known service (the lower port when both have), else the lower port, else end a.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

namespace tidewrack::report {

// What one end of a TCP conversation sent. Times are on the report's axis, unknownTime when
// the flag never came or came without a known time.
struct TcpEnd {
    enum Seen : std::uint8_t { Syn = 1, SynAck = 2, Fin = 4, Rst = 8 };  // SYN is without ACK
    std::uint8_t seen = 0;                                               // Seen bits
    bool sent = false;                                                   // any frame at all
    std::int64_t synFirst;
    std::int64_t synAckFirst;
    std::int64_t rstFirst;
    std::int64_t rstLast;
};

struct TcpState {
    std::string_view code;
    std::string_view meaning;
};

inline constexpr std::array<TcpState, 9> tcpStates = {{
    {"S0", "attempt never answered"},
    {"REJ", "rejected: RST answered the SYN"},
    {"S1", "established, still open"},
    {"SF", "closed: FIN from both ends"},
    {"S2", "established, FIN from the client only"},
    {"S3", "established, FIN from the server only"},
    {"RSTO", "established, then reset by the client"},
    {"RSTR", "established, then reset by the server"},
    {"OTH", "mid-stream: no SYN seen, or no usual answer"},
}};
static_assert(
    [] {
        for (std::size_t i = 0; i < tcpStates.size(); ++i) {
            for (std::size_t j = 0; j < i; ++j) {
                if (tcpStates[i].code == tcpStates[j].code) {
                    return false;
                }
            }
        }
        return true;
    }(),
    "each state has its own code");

// The client's end: 0 for a, 1 for b; nothing when neither end sent SYN.
std::optional<int> tcpClient(const TcpEnd (&ends)[2]);

// The state of a conversation whose ends sent `ends`, its client as tcpClient found it.
const TcpState& tcpState(const TcpEnd (&ends)[2], std::optional<int> client);

// The meaning of a state's code; empty for a code that is none.
std::string_view tcpStateMeaning(std::string_view code);

// The server end of a conversation of TCP (`tcp`) or UDP: 0 for a, 1 for b. `seen` holds each
// end's Seen bits (a's in bits 0-3, b's in bits 4-7; none for UDP).
int serverEnd(bool tcp, std::uint8_t seen, std::optional<int> client, std::uint16_t portA,
              std::uint16_t portB);

}  // namespace tidewrack::report
