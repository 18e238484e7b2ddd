// Recording and writing out a TCP connection's history letters.
#include "connections/tcp_history.h"

#include "vocabulary/tcp_flags.h"

namespace tidewrack {

namespace {

constexpr char endBit = static_cast<char>(0x80);

// True for 1, 10, 100...: the counts at which a logarithmic letter is recorded.
constexpr bool powerOfTen(std::uint32_t count) {
    while (count >= 10 && count % 10 == 0) {
        count /= 10;
    }
    return count == 1;
}
static_assert(powerOfTen(1) && powerOfTen(10) && powerOfTen(1000000000));
static_assert(!powerOfTen(0) && !powerOfTen(2) && !powerOfTen(20) && !powerOfTen(11));

}  // namespace

void TcpHistory::letter(int end, char letter) {
    if (length < capacity) {
        letters[length++] = static_cast<char>(end == 0 ? letter : letter | endBit);
    }
}

void TcpHistory::once(int end, Once bit, char letter) {
    if (!(onceSeen[end] & bit)) {
        onceSeen[end] |= bit;
        this->letter(end, letter);
    }
}

void TcpHistory::repeated(int end, int index, char letter, std::uint32_t sequence) {
    const std::uint8_t bit = static_cast<std::uint8_t>(1u << index);
    if (!(repeatedSeen[end] & bit) || lastSequence[end][index] != sequence) {
        repeatedSeen[end] |= bit;
        lastSequence[end][index] = sequence;
        this->letter(end, letter);
    }
}

void TcpHistory::logarithmic(int end, char letter, std::uint32_t& count) {
    if (count < UINT32_MAX && powerOfTen(++count)) {
        this->letter(end, letter);
    }
}

void TcpHistory::segment(int end, std::uint8_t flags, std::uint32_t sequence, std::uint32_t payload,
                         bool retransmitted, bool zeroWindow) {
    if ((flags & TcpSyn) && (flags & (TcpFin | TcpRst))) {
        once(end, MultiFlag, 'q');
    }
    if ((flags & TcpFin) && (flags & TcpRst)) {
        once(end, Inconsistent, 'i');
    }
    if (flags & TcpSyn) {
        repeated(end, flags & TcpAck ? 1 : 0, flags & TcpAck ? 'h' : 's', sequence);
    }
    if (flags & TcpFin) {
        repeated(end, 2, 'f', sequence);
    }
    if (flags & TcpRst) {
        repeated(end, 3, 'r', sequence);
    }
    if (payload > 0) {
        once(end, Data, 'd');
    } else if ((flags & TcpAck) && !(flags & (TcpSyn | TcpFin | TcpRst))) {
        once(end, PureAck, 'a');
    }
    if (retransmitted && payload > 0) {
        logarithmic(end, 't', retransmissions[end]);
    }
    if (zeroWindow) {
        logarithmic(end, 'w', zeroWindows[end]);
    }
}

void TcpHistory::text(int client, bool flipped, char (&out)[textSize]) const {
    std::size_t n = 0;
    if (flipped) {
        out[n++] = '^';
    }
    for (std::size_t i = 0; i < length; ++i) {
        const int end = letters[i] & endBit ? 1 : 0;
        const char lower = static_cast<char>(letters[i] & ~endBit);
        out[n++] = end == client ? static_cast<char>(lower - 'a' + 'A') : lower;
    }
    out[n] = '\0';
}

}  // namespace tidewrack
