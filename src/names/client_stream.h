// The name a TCP connection's client sends in its first bytes: the server name of a TLS
// ClientHello (when the stream starts with a handshake record) or the Host of an HTTP/1.x
// request (when it starts with a letter). Anything else is given up at its first byte.
//
// The segments of the client's side are handed in as they come. While they arrive in order and
// the first one already decides, it is read in place and no buffer is taken; otherwise they
// are placed in a stream prefix from the pool, and the contiguous bytes are read again each
// time they grow. The buffer goes back to the pool as soon as a name is found or given up, or
// when the connection ends first (end()).
#pragma once

#include <cstdint>

#include "names/learnt_name.h"
#include "names/stream_prefix.h"
#include "names/tls_client_hello.h"

namespace tidewrack {

// What is kept of a TCP connection's client side while its name is read.
struct ClientStream {
    StreamPrefix prefix;
    bool finished = false;  // a name was found, or none will be
};

class ClientStreamReader {
  public:
    explicit ClientStreamReader(StreamPrefixPool& pool) : pool(pool) {}

    // The client's SYN, with its sequence number: the stream's data starts at the next one.
    // Without it, the first segment seen of more than one byte starts the stream.
    static void syn(ClientStream& stream, std::uint32_t sequence);
    // One segment of the client's data: `length` payload bytes at `payload`, sent with
    // `sequence`. NeedMore until a final status; then the stream is finished, its buffer back
    // in the pool, and later segments give Absent. out.source says TLS or HTTP.
    NameStatus segment(ClientStream& stream, std::uint32_t sequence, const std::uint8_t* payload,
                       std::uint32_t length, LearntName& out);
    // The connection ends (or is dropped) before a final status: its buffer goes back.
    void end(ClientStream& stream);

  private:
    NameStatus readStart(const std::uint8_t* bytes, std::uint32_t length, LearntName& out);
    NameStatus finish(ClientStream& stream, NameStatus status);

    StreamPrefixPool& pool;
    TlsRecordReader tls;
};

}  // namespace tidewrack
