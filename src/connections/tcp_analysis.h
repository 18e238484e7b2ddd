// Sequence analysis of a TCP connection, one direction at a time: for each segment, the flags
// that tshark's TCP analysis (tcp.analysis.*) gives it, and the bytes acknowledged but never
// seen (Zeek's missed_bytes).
//
// Each direction keeps the next sequence number it is expected to send (the last segment's
// sequence number plus its length, SYN and FIN counting one; it only moves forward, and an RST
// does not move it), when that was set, and the last acknowledgement number, window and run of
// duplicate ACKs it sent. With the reverse direction's, they classify a segment as Wireshark's
// user guide describes (section "TCP Analysis"), with tshark's defaults (sequence analysis on):
//   zero window     the window is 0 and none of SYN, FIN, RST is set
//   keep-alive      at most one byte, one before the next expected sequence number, none of SYN,
//                   FIN, RST; never a retransmission
//   zero window probe  one byte at the next expected sequence number while the reverse window
//                   is 0; never a retransmission, and it does not move the next sequence number
//   duplicate ACK   no payload, no SYN, FIN or RST, the same non-zero window, sequence number
//                   and acknowledgement number as this direction's last segment, once both were
//                   known; but not the answer to a keep-alive (the reverse direction's last
//                   segment), which tshark calls a keep-alive ACK
//   retransmission  payload (or SYN, or FIN) starting before the next expected sequence number;
//                   refined, in this order, into
//     spurious      everything it carries was already acknowledged by the reverse direction
//     fast          it starts at the reverse direction's last acknowledgement number, after more
//                   than two duplicate ACKs of it, the last less than 20 ms before
//     out-of-order  it does not end at the next expected sequence number (it ends before it,
//                   or runs past it) and comes less than the initial round-trip time (the
//                   client's last SYN to its ACK of the SYN ACK; 3 ms without it) after the
//                   segment that set it; out-of-order segments are not retransmissions
// tshark counts fast and spurious retransmissions under tcp.analysis.retransmission as well, and
// so do the flags here. Where the guide leaves a point open, the rule is tshark 4.0's as real
// captures show it: the RST, the strict "before" of out-of-order, and the last SYN of the round
// trip.
//
// Missed bytes follow Zeek: each direction's data is taken as delivered up to a sequence number,
// with at most two blocks seen above it; when the reverse direction acknowledges beyond it, the
// bytes up to the acknowledgement that no segment carried are missed. (A third block above a
// gap is merged into the nearer one, so a very broken stream may count a few missed bytes too
// few.)
#pragma once

#include <cstdint>

namespace tidewrack {

enum TcpAnalysisFlag : std::uint16_t {
    TcpRetransmission = 1 << 0,  // set for fast and spurious retransmissions too
    TcpFastRetransmission = 1 << 1,
    TcpSpuriousRetransmission = 1 << 2,
    TcpOutOfOrder = 1 << 3,
    TcpDuplicateAck = 1 << 4,
    TcpZeroWindow = 1 << 5,
    TcpKeepAlive = 1 << 6,
    TcpZeroWindowProbe = 1 << 7,
    TcpLostSegment = 1 << 8,  // the segment starts past the next expected sequence number
    TcpKeepAliveAck = 1 << 9,
};

// Times in microseconds, on the capture's clock.
using Microseconds = std::int64_t;

struct TcpSegment {
    std::uint8_t flags = 0;
    std::uint32_t sequence = 0;
    std::uint32_t acknowledgement = 0;
    std::uint16_t window = 0;
    std::uint32_t payload = 0;
    Microseconds time = 0;
};

// What one direction of a connection sent, as far as the analysis needs it.
struct TcpDirection {
    enum Known : std::uint8_t {
        NextSequence = 1,
        Acknowledgement = 2,
        Window = 4,
        Base = 8,           // baseSequence: the first sequence number it sent
        Delivered = 16,     // delivered: its data is being followed for missed bytes
        SentKeepAlive = 32  // its last segment was a keep-alive
    };
    std::uint32_t nextSequence = 0;
    std::uint32_t lastAcknowledgement = 0;
    std::uint32_t baseSequence = 0;
    std::uint32_t delivered = 0;           // every byte before it was seen, or counted missed
    std::uint32_t blocks[2][2] = {};       // [start, end) seen above `delivered`, in order
    Microseconds nextSequenceTime = 0;     // of the segment that last moved nextSequence
    Microseconds acknowledgementTime = 0;  // of its last segment with ACK
    std::uint16_t window = 0;
    std::uint8_t known = 0;          // Known bits
    std::uint8_t duplicateAcks = 0;  // in a row, at most 255
    std::uint8_t blockCount = 0;
};

struct TcpVerdict {
    std::uint16_t flags = 0;          // TcpAnalysisFlag bits
    std::uint32_t missedReverse = 0;  // bytes of the reverse direction found missed by its ACK
};

// Sequence arithmetic: a before b, modulo 2^32.
constexpr bool sequenceBefore(std::uint32_t a, std::uint32_t b) {
    return static_cast<std::int32_t>(a - b) < 0;
}
static_assert(sequenceBefore(0xFFFFFFF0u, 5) && !sequenceBefore(5, 0xFFFFFFF0u));

// Analyses a segment that `forward` sent and `reverse` is to receive, and updates both.
// `outOfOrderLimit` is the initial round-trip time, or 3 ms without one.
TcpVerdict analyseSegment(TcpDirection& forward, TcpDirection& reverse, const TcpSegment& segment,
                          Microseconds outOfOrderLimit);

inline constexpr Microseconds defaultOutOfOrderLimit = 3000;
inline constexpr Microseconds fastRetransmissionWindow = 20000;

}  // namespace tidewrack
