// The Host header of the first request in a client's HTTP/1.x stream (RFC 9112): a request
// line that starts with a known method and a space, then header lines up to the blank line;
// the first line whose field name is "host", in any case, gives the name, without the spaces
// and tabs around it (a port stays, as it was sent). Lines may end in CRLF or a bare LF. The
// rest of the request line is not checked beyond holding no control bytes: a request whose
// target or version is malformed still tells the host it was meant for. HTTP/2's preface
// ("PRI * HTTP/2.0") is not an HTTP/1.x request.
#pragma once

#include <cstdint>

#include "names/learnt_name.h"

namespace tidewrack {

// Reads the first `length` bytes of the client's stream. NeedMore while the request line or a
// header line before Host is still incomplete; NoName when the headers end without Host (or
// with an empty one); Malformed for a line that no HTTP/1.x request holds.
NameStatus readHttpHost(const std::uint8_t* stream, std::uint32_t length, LearntName& out);

}  // namespace tidewrack
