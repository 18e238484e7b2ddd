// Writing IPv6 addresses as text, without printf: once or twice per packet.
#include "capture/ipv6_text.h"

namespace tidewrack {

namespace {

char* hexGroup(char* out, unsigned group) {
    constexpr char digits[] = "0123456789abcdef";
    bool started = false;
    for (int shift = 12; shift >= 0; shift -= 4) {
        const unsigned digit = group >> shift & 0xF;
        if (digit != 0 || started || shift == 0) {
            *out++ = digits[digit];
            started = true;
        }
    }
    return out;
}

char* decimalByte(char* out, unsigned byte) {
    if (byte >= 100) {
        *out++ = static_cast<char>('0' + byte / 100);
    }
    if (byte >= 10) {
        *out++ = static_cast<char>('0' + byte / 10 % 10);
    }
    *out++ = static_cast<char>('0' + byte % 10);
    return out;
}

}  // namespace

std::size_t formatIpv6(const std::uint8_t (&address)[16], char (&text)[ipv6TextSize]) {
    unsigned groups[8];
    for (int i = 0; i < 8; ++i) {
        groups[i] = static_cast<unsigned>(address[2 * i] << 8 | address[2 * i + 1]);
    }
    // The longest run of zero groups, the first of equal ones; runs of one group stay.
    int bestStart = -1, bestLength = 0;
    for (int i = 0; i < 8;) {
        int end = i;
        while (end < 8 && groups[end] == 0) {
            ++end;
        }
        if (end - i > bestLength) {
            bestStart = i;
            bestLength = end - i;
        }
        i = end == i ? i + 1 : end;
    }
    if (bestLength < 2) {
        bestStart = -1;
    }
    char* out = text;
    for (int i = 0; i < 8; ++i) {
        if (bestStart >= 0 && i >= bestStart && i < bestStart + bestLength) {
            if (i == bestStart) {
                *out++ = ':';
            }
            continue;
        }
        if (i != 0) {
            *out++ = ':';
        }
        if (i == 6 && bestStart == 0 &&
            (bestLength == 6 || (bestLength == 5 && groups[5] == 0xFFFF))) {
            for (int b = 12; b < 16; ++b) {
                out = decimalByte(out, address[b]);
                if (b < 15) {
                    *out++ = '.';
                }
            }
            break;
        }
        out = hexGroup(out, groups[i]);
    }
    if (bestStart >= 0 && bestStart + bestLength == 8) {
        *out++ = ':';
    }
    *out = '\0';
    return static_cast<std::size_t>(out - text);
}

}  // namespace tidewrack
