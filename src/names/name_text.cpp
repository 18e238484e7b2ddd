// Names as text: the escapes of the presentation form, and SQL literals. Run once per name
// recorded, into fixed buffers.
#include "names/name_text.h"

#include <cstring>

namespace tidewrack {

namespace {

constexpr std::uint8_t fold(std::uint8_t c) {
    return c >= 'A' && c <= 'Z' ? static_cast<std::uint8_t>(c + ('a' - 'A')) : c;
}

constexpr bool printable(std::uint8_t c) {
    return c > 0x20 && c < 0x7F;
}

// Appends one name byte to `out` at `at`, escaped; `escapeDot` for a byte inside a DNS label.
std::size_t put(char* out, std::size_t at, std::uint8_t c, bool escapeDot) {
    if (c == '\\' || (escapeDot && c == '.')) {
        out[at++] = '\\';
        out[at++] = static_cast<char>(c);
    } else if (printable(c)) {
        out[at++] = static_cast<char>(c);
    } else {
        out[at++] = '\\';
        out[at++] = static_cast<char>('0' + c / 100);
        out[at++] = static_cast<char>('0' + c / 10 % 10);
        out[at++] = static_cast<char>('0' + c % 10);
    }
    return at;
}

}  // namespace

bool sameName(const WireName& a, const WireName& b) {
    if (a.length != b.length || a.length > maxNameBytes) {
        return false;
    }
    if (std::memcmp(a.bytes, b.bytes, a.length) == 0) {
        return true;  // the usual case: the same name, written alike
    }
    // Length bytes are at most 63, below every letter, so folding leaves them alone.
    for (std::size_t i = 0; i < a.length; ++i) {
        if (fold(a.bytes[i]) != fold(b.bytes[i])) {
            return false;
        }
    }
    return true;
}

void writeDnsName(const WireName& name, NameText& out) {
    const std::size_t length = name.length < maxNameBytes ? name.length : maxNameBytes;
    std::size_t at = 0;
    std::size_t i = 0;
    // Each byte takes at most four characters and each length byte at most one dot, and the
    // 255 wire bytes include those length bytes: the text stays below nameTextSize.
    while (i < length && name.bytes[i] != 0) {
        const std::size_t end = i + 1 + name.bytes[i];
        if (at > 0) {
            out.text[at++] = '.';
        }
        for (++i; i < end && i < length; ++i) {
            at = put(out.text, at, name.bytes[i], true);
        }
    }
    if (at == 0) {
        out.text[at++] = '.';
    }
    out.text[at] = '\0';
    out.length = static_cast<std::uint16_t>(at);
}

bool writeHostName(const FrameBytes& bytes, std::uint32_t offset, std::uint32_t length,
                   NameText& out) {
    out.text[0] = '\0';
    out.length = 0;
    if (length > maxNameBytes || !bytes.has(offset, length)) {
        return false;
    }
    std::size_t at = 0;
    for (std::uint32_t i = 0; i < length; ++i) {
        at = put(out.text, at, bytes.byte(offset + i), false);
    }
    out.text[at] = '\0';
    out.length = static_cast<std::uint16_t>(at);
    return true;
}

std::size_t writeSqlLiteral(const NameText& name, char (&out)[nameSqlSize]) {
    std::size_t at = 0;
    out[at++] = '\'';
    for (std::size_t i = 0; i < name.length && i < nameTextSize - 1; ++i) {
        if (name.text[i] == '\'') {
            out[at++] = '\'';
        }
        out[at++] = name.text[i];
    }
    out[at++] = '\'';
    out[at] = '\0';
    return at;
}

}  // namespace tidewrack
