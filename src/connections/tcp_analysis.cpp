// Classifying TCP segments as tshark's analysis does, and counting the bytes missed.
#include "connections/tcp_analysis.h"

#include "vocabulary/tcp_flags.h"

namespace tidewrack {

namespace {

// The block at `index` is gone: the one above it moves down.
void dropBlock(TcpDirection& d, int index) {
    if (index == 0 && d.blockCount == 2) {
        d.blocks[0][0] = d.blocks[1][0];
        d.blocks[0][1] = d.blocks[1][1];
    }
    --d.blockCount;
}

// Moves `delivered` over the blocks that now touch it.
void absorbBlocks(TcpDirection& d) {
    while (d.blockCount > 0 && !sequenceBefore(d.delivered, d.blocks[0][0])) {
        if (sequenceBefore(d.delivered, d.blocks[0][1])) {
            d.delivered = d.blocks[0][1];
        }
        dropBlock(d, 0);
    }
}

// Records [start, end) as seen above `delivered`, merging it with the blocks it touches.
void addBlock(TcpDirection& d, std::uint32_t start, std::uint32_t end) {
    for (int i = 0; i < d.blockCount; ++i) {
        std::uint32_t(&block)[2] = d.blocks[i];
        if (!sequenceBefore(block[1], start) && !sequenceBefore(end, block[0])) {
            if (sequenceBefore(start, block[0])) {
                block[0] = start;
            }
            if (sequenceBefore(block[1], end)) {
                block[1] = end;
            }
            if (i == 0 && d.blockCount == 2 && !sequenceBefore(d.blocks[0][1], d.blocks[1][0])) {
                if (sequenceBefore(d.blocks[0][1], d.blocks[1][1])) {
                    d.blocks[0][1] = d.blocks[1][1];
                }
                dropBlock(d, 1);
            }
            return;
        }
    }
    if (d.blockCount < 2) {
        const int at =
            d.blockCount == 1 && sequenceBefore(start, d.blocks[0][0]) ? 0 : d.blockCount;
        if (at == 0 && d.blockCount == 1) {
            d.blocks[1][0] = d.blocks[0][0];
            d.blocks[1][1] = d.blocks[0][1];
        }
        d.blocks[at][0] = start;
        d.blocks[at][1] = end;
        ++d.blockCount;
        return;
    }
    // No room for a third block: the nearer one grows to take it in.
    if (sequenceBefore(start, d.blocks[0][0])) {
        d.blocks[0][0] = start;
    } else if (sequenceBefore(d.blocks[1][1], start)) {
        d.blocks[1][1] = end;
    } else {
        d.blocks[0][1] = end;  // between the two
    }
}

// The direction sent [start, end).
void see(TcpDirection& d, std::uint32_t start, std::uint32_t end) {
    if (!(d.known & TcpDirection::Delivered)) {
        d.delivered = end;
        d.known |= TcpDirection::Delivered;
        return;
    }
    if (!sequenceBefore(d.delivered, end)) {
        return;
    }
    if (!sequenceBefore(d.delivered, start)) {
        d.delivered = end;
        absorbBlocks(d);
        return;
    }
    addBlock(d, start, end);
}

// The other end acknowledged the direction's bytes before `acknowledged`: those not seen are
// missed.
std::uint32_t acknowledge(TcpDirection& d, std::uint32_t acknowledged) {
    if (!(d.known & TcpDirection::Delivered) || !sequenceBefore(d.delivered, acknowledged)) {
        return 0;
    }
    std::uint32_t missed = acknowledged - d.delivered;
    for (int i = 0; i < d.blockCount; ++i) {
        const std::uint32_t start = d.blocks[i][0];
        if (!sequenceBefore(start, acknowledged)) {
            break;
        }
        const std::uint32_t end =
            sequenceBefore(d.blocks[i][1], acknowledged) ? d.blocks[i][1] : acknowledged;
        missed -= end - start;
    }
    d.delivered = acknowledged;
    while (d.blockCount > 0 && !sequenceBefore(acknowledged, d.blocks[0][1])) {
        dropBlock(d, 0);
    }
    absorbBlocks(d);
    return missed;
}

}  // namespace

TcpVerdict analyseSegment(TcpDirection& forward, TcpDirection& reverse, const TcpSegment& segment,
                          Microseconds outOfOrderLimit) {
    TcpVerdict verdict;
    std::uint16_t& flags = verdict.flags;
    const std::uint8_t tcp = segment.flags;
    const bool synOrFin = tcp & (TcpSyn | TcpFin);
    const bool control = tcp & (TcpSyn | TcpFin | TcpRst);
    const std::uint32_t sequence = segment.sequence;
    const std::uint32_t end =
        sequence + segment.payload + (tcp & TcpSyn ? 1u : 0u) + (tcp & TcpFin ? 1u : 0u);
    const bool nextKnown = forward.known & TcpDirection::NextSequence;

    if (segment.window == 0 && !control) {
        flags |= TcpZeroWindow;
    }
    if (nextKnown && segment.payload <= 1 && !control && sequence + 1 == forward.nextSequence) {
        flags |= TcpKeepAlive;
    }
    if (nextKnown && segment.payload == 1 && sequence == forward.nextSequence &&
        (reverse.known & TcpDirection::Window) && reverse.window == 0) {
        flags |= TcpZeroWindowProbe;
    }
    if (nextKnown && sequenceBefore(forward.nextSequence, sequence)) {
        flags |= TcpLostSegment;
    }
    if (segment.payload == 0 && !control && (tcp & TcpAck) && segment.window != 0 &&
        (forward.known & TcpDirection::Window) && segment.window == forward.window && nextKnown &&
        (forward.known & TcpDirection::Acknowledgement) && sequence == forward.nextSequence &&
        segment.acknowledgement == forward.lastAcknowledgement) {
        flags |= reverse.known & TcpDirection::SentKeepAlive ? TcpKeepAliveAck : TcpDuplicateAck;
    }
    if (!(flags & (TcpKeepAlive | TcpZeroWindowProbe)) && (segment.payload > 0 || synOrFin) &&
        nextKnown && sequenceBefore(sequence, forward.nextSequence)) {
        if ((reverse.known & TcpDirection::Acknowledgement) &&
            !sequenceBefore(reverse.lastAcknowledgement, end)) {
            flags |= TcpSpuriousRetransmission | TcpRetransmission;
        } else if (reverse.duplicateAcks > 2 && sequence == reverse.lastAcknowledgement &&
                   segment.time - reverse.acknowledgementTime < fastRetransmissionWindow) {
            flags |= TcpFastRetransmission | TcpRetransmission;
        } else if (end != forward.nextSequence &&
                   segment.time - forward.nextSequenceTime < outOfOrderLimit) {
            flags |= TcpOutOfOrder;
        } else {
            flags |= TcpRetransmission;
        }
    }

    if (!(flags & TcpZeroWindowProbe) && !(tcp & TcpRst) &&
        (!nextKnown || sequenceBefore(forward.nextSequence, end))) {
        forward.nextSequence = end;
        forward.nextSequenceTime = segment.time;
        forward.known |= TcpDirection::NextSequence;
    }
    if (tcp & TcpAck) {
        forward.lastAcknowledgement = segment.acknowledgement;
        forward.acknowledgementTime = segment.time;
        forward.known |= TcpDirection::Acknowledgement;
    }
    forward.window = segment.window;
    forward.known |= TcpDirection::Window;
    if (flags & TcpKeepAlive) {
        forward.known |= TcpDirection::SentKeepAlive;
    } else {
        forward.known &= static_cast<std::uint8_t>(~TcpDirection::SentKeepAlive);
    }
    if (!(flags & TcpDuplicateAck)) {
        forward.duplicateAcks = 0;
    } else if (forward.duplicateAcks < 255) {
        ++forward.duplicateAcks;
    }
    if (!(forward.known & TcpDirection::Base)) {
        forward.baseSequence = sequence;
        forward.known |= TcpDirection::Base;
    }
    if (!(tcp & TcpRst)) {
        see(forward, sequence, end);
    }
    if (tcp & TcpAck) {
        verdict.missedReverse = acknowledge(reverse, segment.acknowledgement);
    }
    return verdict;
}

}  // namespace tidewrack
