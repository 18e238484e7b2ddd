// UTF-8 repair, and escaping for HTML and the terminal.
#include "report/escaped_text.h"

#include <cstdint>

namespace tidewrack::report {

namespace {

// The length of the well-formed UTF-8 sequence at the start of `text`, or 0.
std::size_t sequenceLength(std::string_view text) {
    const auto byte = [&](std::size_t i) { return static_cast<std::uint8_t>(text[i]); };
    const std::uint8_t lead = byte(0);
    std::size_t length = 0;
    std::uint8_t low = 0x80, high = 0xBF;  // the range of the second byte
    if (lead < 0x80) {
        return 1;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        low = lead == 0xE0 ? 0xA0 : 0x80;   // no overlong forms
        high = lead == 0xED ? 0x9F : 0xBF;  // no surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        low = lead == 0xF0 ? 0x90 : 0x80;
        high = lead == 0xF4 ? 0x8F : 0xBF;
    } else {
        return 0;
    }
    if (text.size() < length || byte(1) < low || byte(1) > high) {
        return 0;
    }
    for (std::size_t i = 2; i < length; ++i) {
        if (byte(i) < 0x80 || byte(i) > 0xBF) {
            return 0;
        }
    }
    return length;
}

// Calls `character` with each character of `text` as a view: a UTF-8 sequence, or U+FFFD in
// place of a byte that starts none.
template <typename Visit>
void eachCharacter(std::string_view text, Visit character) {
    while (!text.empty()) {
        const std::size_t length = sequenceLength(text);
        character(length == 0 ? std::string_view("\xEF\xBF\xBD") : text.substr(0, length));
        text.remove_prefix(length == 0 ? 1 : length);
    }
}

// Whether the character `c`, as eachCharacter gives it, is a C0 control, DEL or a C1 control.
bool isControl(std::string_view c) {
    const auto lead = static_cast<unsigned char>(c[0]);
    return c.size() == 1 ? lead < 0x20 || lead == 0x7F
                         : c.size() == 2 && lead == 0xC2 && static_cast<unsigned char>(c[1]) < 0xA0;
}

}  // namespace

std::string htmlText(std::string_view text) {
    std::string out;
    eachCharacter(text, [&](std::string_view c) {
        switch (c.size() == 1 ? c[0] : '\0') {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        case '\'': out += "&#39;"; break;
        default:
            // Control characters have no place in HTML text; they are shown as the
            // replacement character too.
            const bool control =
                c.size() == 1 && (static_cast<unsigned char>(c[0]) < 0x20 || c[0] == 0x7F);
            out += control ? std::string_view("\xEF\xBF\xBD") : c;
        }
    });
    return out;
}

std::string terminalText(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    eachCharacter(text,
                  [&](std::string_view c) { out += isControl(c) ? std::string_view("?") : c; });
    return out;
}

}  // namespace tidewrack::report
