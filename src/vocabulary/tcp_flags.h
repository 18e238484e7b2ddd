// TCP flag bits and the text that names the flags set in a flags byte.
//
// The text lists the set flags from the lowest bit to the highest, each name followed by one
// blank ("SYN ACK " for 0x12, empty for 0x00, 32 characters for 0xFF). All 256 texts are built
// at compile time, so the decoder copies one of them instead of assembling it per packet.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace tidewrack {

enum TcpFlag : std::uint8_t {
    TcpFin = 0x01,
    TcpSyn = 0x02,
    TcpRst = 0x04,
    TcpPsh = 0x08,
    TcpAck = 0x10,
    TcpUrg = 0x20,
    TcpEce = 0x40,
    TcpCwr = 0x80,
};

inline constexpr std::size_t tcpFlagsTextSize = 52;  // room the decoder keeps for the text

struct TcpFlagsText {
    char text[33];  // eight names of four characters and the terminator
    std::uint8_t length;
};

namespace detail {

constexpr std::array<TcpFlagsText, 256> makeTcpFlagsTexts() {
    constexpr std::array<std::string_view, 8> names = {"FIN ", "SYN ", "RST ", "PSH ",
                                                       "ACK ", "URG ", "ECE ", "CWR "};
    std::array<TcpFlagsText, 256> texts{};
    for (int flags = 0; flags < 256; ++flags) {
        TcpFlagsText& t = texts[flags];
        for (int bit = 0; bit < 8; ++bit) {
            if (flags & (1 << bit)) {
                for (char c : names[bit]) {
                    t.text[t.length++] = c;
                }
            }
        }
        t.text[t.length] = '\0';
    }
    return texts;
}

}  // namespace detail

inline constexpr std::array<TcpFlagsText, 256> TcpFlagsTexts = detail::makeTcpFlagsTexts();

static_assert(std::string_view(TcpFlagsTexts[0x12].text) == "SYN ACK ");
static_assert(std::string_view(TcpFlagsTexts[0x80].text) == "CWR ");
static_assert(std::string_view(TcpFlagsTexts[0xFF].text) == "FIN SYN RST PSH ACK URG ECE CWR ");
static_assert(TcpFlagsTexts[0xFF].length == 32 && TcpFlagsTexts[0x00].length == 0);
static_assert(sizeof(TcpFlagsText::text) <= tcpFlagsTextSize);

// True when a flags byte has both SYN and ACK set, whatever the other bits.
constexpr bool isSynAck(std::uint8_t flags) {
    return (flags & (TcpSyn | TcpAck)) == (TcpSyn | TcpAck);
}
static_assert(isSynAck(0xFF) && !isSynAck(TcpSyn) && !isSynAck(TcpAck));

}  // namespace tidewrack
