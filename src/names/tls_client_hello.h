// The server name of a TLS ClientHello (RFC 8446 section 4.1.2; RFC 6066 section 3): the first
// host_name of its server_name extension, marked as the outer name when the hello also carries
// an encrypted_client_hello extension (type 0xfe0d) of the outer kind.
//
// Over TCP, the ClientHello comes in TLS records: each of content type handshake (22), version
// 3.x and at most 2^14 bytes, and the hello may span several of them, as the larger hellos of
// post-quantum key shares do. Over QUIC, the CRYPTO stream carries the handshake message
// without records. Every length inside the hello (session id, cipher suites, compression
// methods, the extensions and the name list) must fit inside the one that holds it.
#pragma once

#include <cstdint>

#include "names/learnt_name.h"
#include "names/stream_prefix.h"

namespace tidewrack {

// Reads the ClientHello handshake message, from its four-byte header on, in `length` bytes.
// Sets out.name and out.echOuter; out.source is the caller's.
NameStatus readClientHello(const std::uint8_t* message, std::uint32_t length, LearntName& out);

// Reads the records at the start of a client's TCP stream. A hello inside its first record is
// read in place; one that spans records is first gathered into the reader's own buffer.
class TlsRecordReader {
  public:
    NameStatus read(const std::uint8_t* stream, std::uint32_t length, LearntName& out);

  private:
    std::uint8_t gathered[streamPrefixBytes];
};

}  // namespace tidewrack
