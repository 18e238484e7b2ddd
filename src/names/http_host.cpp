// Reading an HTTP/1.x request's head byte by byte, as far as its Host line.
#include "names/http_host.h"

#include <string_view>

#include "capture/frame_bytes.h"

namespace tidewrack {

namespace {

// The methods of RFC 9110, PATCH, and WebDAV's: a request line starting with another word is
// not taken for HTTP.
constexpr std::string_view methods[] = {
    "GET",   "HEAD",     "POST",      "PUT",   "DELETE", "CONNECT", "OPTIONS", "TRACE",
    "PATCH", "PROPFIND", "PROPPATCH", "MKCOL", "COPY",   "MOVE",    "LOCK",    "UNLOCK",
};
constexpr std::size_t longestMethod = 9;
static_assert([] {
    for (std::string_view method : methods) {
        if (method.empty() || method.size() > longestMethod) {
            return false;
        }
        for (char c : method) {
            if (c < 'A' || c > 'Z') {
                return false;
            }
        }
    }
    return true;
}());

// True when the `length` bytes at `at` are the start of a known method (all of it, when
// `whole`).
bool methodMatches(const FrameBytes& bytes, std::uint32_t length, bool whole) {
    for (std::string_view method : methods) {
        if (length > method.size() || (whole && length != method.size())) {
            continue;
        }
        std::uint32_t i = 0;
        while (i < length && bytes.byte(i) == static_cast<std::uint8_t>(method[i])) {
            ++i;
        }
        if (i == length) {
            return true;
        }
    }
    return false;
}

constexpr bool space(std::uint8_t c) {
    return c == ' ' || c == '\t';
}

// A field name's byte: RFC 9110's tchar.
constexpr bool tokenByte(std::uint8_t c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
           std::string_view("!#$%&'*+-.^_`|~").find(static_cast<char>(c)) != std::string_view::npos;
}

bool isHost(const FrameBytes& bytes, std::uint32_t at, std::uint32_t length) {
    constexpr std::string_view host = "host";
    if (length != host.size()) {
        return false;
    }
    for (std::uint32_t i = 0; i < length; ++i) {
        if ((bytes.byte(at + i) | 0x20) != static_cast<std::uint8_t>(host[i])) {
            return false;
        }
    }
    return true;
}

}  // namespace

NameStatus readHttpHost(const std::uint8_t* data, std::uint32_t length, LearntName& out) {
    out.name.text[0] = '\0';
    out.name.length = 0;
    out.echOuter = false;
    const FrameBytes stream(data, length);
    // The method, in capitals, then a space (or, in a request without a target, the line's
    // end).
    std::uint32_t at = 0;
    while (at < length && at <= longestMethod && stream.byte(at) >= 'A' && stream.byte(at) <= 'Z') {
        ++at;
    }
    if (at == length) {
        return methodMatches(stream, at, false) ? NameStatus::NeedMore : NameStatus::Absent;
    }
    const std::uint8_t after = stream.byte(at);
    if ((after != ' ' && after != '\r' && after != '\n') || !methodMatches(stream, at, true)) {
        return NameStatus::Absent;
    }
    // The rest of the request line: the target and the version, checked for no more than
    // bytes that no request line holds, so that a request with a missing target or a cut
    // version still names its host, as tshark reads it.
    for (; at < length && stream.byte(at) != '\n'; ++at) {
        const std::uint8_t c = stream.byte(at);
        if ((c < ' ' && c != '\t' && c != '\r') || c == 0x7F) {
            return NameStatus::Absent;
        }
    }
    if (at == length) {
        return NameStatus::NeedMore;
    }
    // The header lines, each whole before it is judged.
    for (std::uint32_t line = at + 1;;) {
        std::uint32_t end = line;
        while (end < length && stream.byte(end) != '\n') {
            ++end;
        }
        if (end == length) {
            return NameStatus::NeedMore;
        }
        const std::uint32_t next = end + 1;
        if (end > line && stream.byte(end - 1) == '\r') {
            --end;
        }
        if (end == line) {
            return NameStatus::NoName;  // the blank line: the head ended without Host
        }
        if (space(stream.byte(line))) {
            line = next;  // an obsolete continuation of the line before
            continue;
        }
        std::uint32_t colon = line;
        while (colon < end && tokenByte(stream.byte(colon))) {
            ++colon;
        }
        if (colon == line || colon == end || stream.byte(colon) != ':') {
            return NameStatus::Malformed;
        }
        if (isHost(stream, line, colon - line)) {
            std::uint32_t value = colon + 1;
            while (value < end && space(stream.byte(value))) {
                ++value;
            }
            while (end > value && space(stream.byte(end - 1))) {
                --end;
            }
            if (end == value) {
                return NameStatus::NoName;
            }
            return writeHostName(stream, value, end - value, out.name) ? NameStatus::Found
                                                                       : NameStatus::Malformed;
        }
        line = next;
    }
}

}  // namespace tidewrack
