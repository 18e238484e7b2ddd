// Reading a ClientHello: the record layer that carries it over TCP, then the hello's fields, one
// length-checked step at a time, to its extensions.
#include "names/tls_client_hello.h"

#include <cstring>

#include "capture/frame_bytes.h"

namespace tidewrack {

namespace {

constexpr std::uint8_t contentHandshake = 22;
constexpr std::uint8_t handshakeClientHello = 1;
constexpr std::uint32_t recordHeader = 5, handshakeHeader = 4;
constexpr std::uint32_t maxRecordPayload = 1u << 14;
constexpr std::uint16_t extensionServerName = 0, extensionEncryptedClientHello = 0xfe0d;
constexpr std::uint8_t nameTypeHostName = 0, echOuterType = 0;

std::uint32_t word24(const FrameBytes& bytes, std::uint32_t offset) {
    return static_cast<std::uint32_t>(bytes.byte(offset)) << 16 | bytes.word(offset + 1);
}

// The server_name extension's data, `length` bytes at `at`: its first host_name.
NameStatus readServerName(const FrameBytes& hello, std::uint32_t at, std::uint32_t length,
                          LearntName& out) {
    const std::uint32_t end = at + length;
    if (length < 2 || hello.word(at) != length - 2) {
        return NameStatus::Malformed;
    }
    for (at += 2; at < end;) {
        if (end - at < 3) {
            return NameStatus::Malformed;
        }
        const std::uint8_t type = hello.byte(at);
        const std::uint32_t nameLength = hello.word(at + 1);
        at += 3;
        if (nameLength > end - at) {
            return NameStatus::Malformed;
        }
        if (type == nameTypeHostName) {
            return nameLength > 0 && writeHostName(hello, at, nameLength, out.name)
                       ? NameStatus::Found
                       : NameStatus::Malformed;
        }
        at += nameLength;
    }
    return NameStatus::NoName;
}

}  // namespace

NameStatus readClientHello(const std::uint8_t* message, std::uint32_t length, LearntName& out) {
    out.echOuter = false;
    out.name.text[0] = '\0';
    out.name.length = 0;
    const FrameBytes header(message, length);
    if (!header.has(0, 1)) {
        return NameStatus::NeedMore;
    }
    if (header.byte(0) != handshakeClientHello) {
        return NameStatus::Absent;
    }
    if (!header.has(0, handshakeHeader)) {
        return NameStatus::NeedMore;
    }
    const std::uint32_t end = handshakeHeader + word24(header, 1);
    if (end > length) {
        return end > streamPrefixBytes ? NameStatus::TooLong : NameStatus::NeedMore;
    }
    // From here on nothing past the hello's own length is read.
    const FrameBytes hello(message, end);
    std::uint32_t at = handshakeHeader + 2 + 32;  // legacy_version, random
    if (!hello.has(at, 1) || hello.byte(at) > 32) {
        return NameStatus::Malformed;
    }
    at += 1 + hello.byte(at);  // legacy_session_id
    if (!hello.has(at, 2)) {
        return NameStatus::Malformed;
    }
    at += 2 + hello.word(at);  // cipher_suites
    if (!hello.has(at, 1)) {
        return NameStatus::Malformed;
    }
    at += 1 + hello.byte(at);  // legacy_compression_methods
    if (at == end) {
        return NameStatus::NoName;  // a hello without extensions
    }
    if (!hello.has(at, 2) || !hello.has(at + 2, hello.word(at))) {
        return NameStatus::Malformed;
    }
    const std::uint32_t extensionsEnd = at + 2 + hello.word(at);
    NameStatus status = NameStatus::NoName;
    for (at += 2; at < extensionsEnd;) {
        if (extensionsEnd - at < 4) {
            return NameStatus::Malformed;
        }
        const std::uint16_t type = hello.word(at);
        const std::uint32_t dataLength = hello.word(at + 2);
        at += 4;
        if (dataLength > extensionsEnd - at) {
            return NameStatus::Malformed;
        }
        if (type == extensionServerName && status == NameStatus::NoName) {
            status = readServerName(hello, at, dataLength, out);
            if (status == NameStatus::Malformed) {
                return status;
            }
        } else if (type == extensionEncryptedClientHello && dataLength > 0 &&
                   hello.byte(at) == echOuterType) {
            out.echOuter = true;
        }
        at += dataLength;
    }
    return status;
}

NameStatus TlsRecordReader::read(const std::uint8_t* data, std::uint32_t length, LearntName& out) {
    const FrameBytes stream(data, length);
    std::uint32_t have = 0;                // handshake bytes gathered
    std::uint32_t need = handshakeHeader;  // the hello's whole length once its header is in
    for (std::uint32_t at = 0;;) {
        // The record header, judged on as many of its bytes as have arrived.
        const bool first = at == 0;
        const NameStatus wrong = first ? NameStatus::Absent : NameStatus::Malformed;
        if (stream.has(at, 1) && stream.byte(at) != contentHandshake) {
            return wrong;
        }
        if (stream.has(at, 2) && stream.byte(at + 1) != 3) {
            return wrong;
        }
        if (stream.has(at, 3) && stream.byte(at + 2) > 4) {
            return wrong;
        }
        if (!stream.has(at, recordHeader)) {
            return NameStatus::NeedMore;
        }
        const std::uint32_t recordLength = stream.word(at + 3);
        if (recordLength == 0 || recordLength > maxRecordPayload) {
            return wrong;
        }
        const std::uint32_t payload = at + recordHeader;
        const std::uint32_t arrived =
            length - payload < recordLength ? length - payload : recordLength;
        // The common case: the whole hello inside the first record, read where it lies.
        if (first && arrived >= handshakeHeader &&
            handshakeHeader + word24(stream, payload + 1) <= arrived) {
            return readClientHello(stream.at(payload), arrived, out);
        }
        // A hello longer than the prefix ends before this buffer fills (see TooLong below); a
        // caller may still show more bytes than the prefix holds.
        const std::uint32_t room = streamPrefixBytes - have;
        const std::uint32_t taken = arrived < room ? arrived : room;
        std::memcpy(gathered + have, stream.at(payload), taken);
        have += taken;
        if (need == handshakeHeader && have >= handshakeHeader) {
            if (gathered[0] != handshakeClientHello) {
                return NameStatus::Absent;
            }
            need = handshakeHeader + (std::uint32_t{gathered[1]} << 16 |
                                      std::uint32_t{gathered[2]} << 8 | gathered[3]);
            if (need + recordHeader > streamPrefixBytes) {
                return NameStatus::TooLong;
            }
        }
        if (have >= need) {
            return readClientHello(gathered, need, out);
        }
        if (taken < arrived) {
            return NameStatus::TooLong;
        }
        if (arrived < recordLength) {
            return NameStatus::NeedMore;
        }
        at = payload + recordLength;
    }
}

}  // namespace tidewrack
