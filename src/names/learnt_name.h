// What a reader of names gives back: whether the bytes it was shown hold a name, need more
// bytes, or will never give one, and the name with where it came from.
//
// Each reader (the DNS message, the TLS ClientHello, the QUIC Initial packets, the HTTP request)
// says NeedMore only while more bytes of the same stream could still complete its answer; every
// other status is final for that stream, and the caller gives back the stream's buffer.
#pragma once

#include <cstdint>

#include "names/name_text.h"

namespace tidewrack {

enum class NameStatus : std::uint8_t {
    Found,      // the name is in the result
    NeedMore,   // the bytes so far are a valid beginning: show more of the stream
    Absent,     // not this protocol (not a TLS handshake, not an HTTP request, no client Initial)
    NoName,     // this protocol, whole and valid, but it names no host
    Malformed,  // this protocol, but its bytes break its own rules
    TooLong,    // the message would not fit in the bytes kept for a stream
    NoRoom,     // the stream needed a buffer and the pool had none left
};

// Where a name was learnt, as the NAMES table writes it.
enum class NameSource : std::uint8_t { Dns, Tls, Quic, Http };

inline constexpr const char* nameSourceText[] = {"dns", "tls", "quic", "http"};
static_assert(sizeof nameSourceText / sizeof nameSourceText[0] ==
              static_cast<unsigned>(NameSource::Http) + 1);

// A host name from a TLS or QUIC ClientHello or an HTTP request.
struct LearntName {
    NameSource source = NameSource::Tls;
    // The ClientHello carried an outer encrypted_client_hello extension: the name is the outer
    // (public) one, and the name the client wants is encrypted. Browsers also send such an
    // extension as GREASE to servers without ECH, where the name is the real one; the two look
    // alike on the wire.
    bool echOuter = false;
    NameText name;
};

}  // namespace tidewrack
