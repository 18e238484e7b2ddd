// A TCP connection's history in Zeek's letters (conn.log's `history`), each in upper case when
// the client sent it and in lower case when the server did:
//   s  a SYN without ACK             h  a SYN with ACK
//   a  a pure ACK (no payload, no SYN, FIN or RST)
//   d  a segment with payload        f  a FIN           r  an RST
//   t  a retransmitted payload (tshark's retransmissions, fast and spurious included, that
//      carry payload)
//   w  a zero window                 g  a content gap: bytes acknowledged but never seen
//   i  an inconsistent segment (FIN and RST together)
//   q  a multi-flag segment (SYN with FIN or RST)
//   ^  first of all when the client is not the sender of the first frame
// a, d, i and q are recorded once per direction; s, h, f and r again whenever the sequence
// number differs from the last one of the same letter; t, w and g the 1st, 10th, 100th... time.
// Zeek's c (bad checksum) is not recorded: checksums are not checked. The history keeps its
// first 24 letters.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tidewrack {

class TcpHistory {
  public:
    static constexpr std::size_t capacity = 24;
    static constexpr std::size_t textSize = capacity + 2;  // with '^' and the terminator

    // Letters of a segment that `end` (0 or 1) sent with `flags`, `sequence` and `payload`;
    // `retransmitted` and `zeroWindow` as the sequence analysis found them.
    void segment(int end, std::uint8_t flags, std::uint32_t sequence, std::uint32_t payload,
                 bool retransmitted, bool zeroWindow);
    // A content gap in what `end` sent.
    void gap(int end) { logarithmic(end, 'g', gaps[end]); }

    // The letters, in upper case for `client`'s, after '^' when `flipped`.
    void text(int client, bool flipped, char (&out)[textSize]) const;

  private:
    enum Once : std::uint8_t { PureAck = 1, Data = 2, Inconsistent = 4, MultiFlag = 8 };
    void letter(int end, char letter);
    void once(int end, Once bit, char letter);
    void repeated(int end, int index, char letter, std::uint32_t sequence);
    void logarithmic(int end, char letter, std::uint32_t& count);

    char letters[capacity] = {};  // lower case; bit 7 set for end 1's
    std::uint8_t length = 0;
    std::uint8_t onceSeen[2] = {};
    std::uint8_t repeatedSeen[2] = {};  // bit n: letter n of s, h, f, r recorded before
    std::uint32_t lastSequence[2][4] = {};
    std::uint32_t retransmissions[2] = {};
    std::uint32_t zeroWindows[2] = {};
    std::uint32_t gaps[2] = {};
};

}  // namespace tidewrack
