// Names as the program stores them. Whatever bytes a name holds on the wire, its text is
// printable ASCII that can act on no terminal: DNS names in the presentation form of RFC 1035
// (section 5.1) and RFC 4343, where a label's "." and "\" are written "\." and "\\" and every
// byte outside the printable ASCII range (space included) as "\DDD", its value in three decimal
// digits; host names from TLS, QUIC and HTTP the same way, with "." kept as the separator it is.
//
// Wire names are kept uncompressed in a fixed buffer (RFC 1035 limits them to 255 bytes, the
// root's zero byte included); their text then takes at most four bytes per name byte. Names go
// into SQL as literals with each quote doubled, written into a buffer sized for the worst case.
// Nothing here allocates.
#pragma once

#include <cstddef>
#include <cstdint>

#include "capture/frame_bytes.h"

namespace tidewrack {

// The longest name kept, in wire bytes: longer host names are refused rather than cut.
inline constexpr std::size_t maxNameBytes = 255;
// Every name byte escaped, with the terminator.
inline constexpr std::size_t nameTextSize = 4 * maxNameBytes + 1;
// The text with every character a doubled quote, the two quotes around it and the terminator.
inline constexpr std::size_t nameSqlSize = 2 * (nameTextSize - 1) + 3;

// A DNS name in wire form: its labels, each after its length byte, and the root's zero byte.
struct WireName {
    std::uint8_t bytes[maxNameBytes] = {};
    std::uint16_t length = 0;  // 1 (the root alone) to 255 once read; 0 before
};

// True when the two wire names are the same name: DNS compares ASCII letters without case.
bool sameName(const WireName& a, const WireName& b);

struct NameText {
    char text[nameTextSize] = {};  // terminated
    std::uint16_t length = 0;
};

// The presentation form of a wire name: its labels joined by "." ("." alone for the root).
void writeDnsName(const WireName& name, NameText& out);

// The text of a host name sent as `length` bytes at `offset`: printable ASCII kept but "\",
// written "\\", every other byte as "\DDD". False, with an empty text, when the bytes were not
// all captured or are more than maxNameBytes.
bool writeHostName(const FrameBytes& bytes, std::uint32_t offset, std::uint32_t length,
                   NameText& out);

// The name as an SQL string literal: between quotes, each quote doubled. Returns its length.
std::size_t writeSqlLiteral(const NameText& name, char (&out)[nameSqlSize]);

}  // namespace tidewrack
