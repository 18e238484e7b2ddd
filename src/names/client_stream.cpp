// Reading the first bytes of a TCP connection's client side for a name: in place while the
// first segment decides, else from the stream prefix.
#include "names/client_stream.h"

#include "names/http_host.h"

namespace tidewrack {

namespace {

constexpr std::uint8_t tlsHandshakeRecord = 22;

}  // namespace

void ClientStreamReader::syn(ClientStream& stream, std::uint32_t sequence) {
    if (!stream.prefix.based) {
        StreamPrefixPool::startAfterSyn(stream.prefix, sequence);
    }
}

NameStatus ClientStreamReader::readStart(const std::uint8_t* bytes, std::uint32_t length,
                                         LearntName& out) {
    if (bytes[0] == tlsHandshakeRecord) {
        out.source = NameSource::Tls;
        return tls.read(bytes, length, out);
    }
    out.source = NameSource::Http;
    return readHttpHost(bytes, length, out);
}

NameStatus ClientStreamReader::finish(ClientStream& stream, NameStatus status) {
    if (status != NameStatus::NeedMore) {
        stream.finished = true;
        pool.release(stream.prefix);
    }
    return status;
}

NameStatus ClientStreamReader::segment(ClientStream& stream, std::uint32_t sequence,
                                       const std::uint8_t* payload, std::uint32_t length,
                                       LearntName& out) {
    if (stream.finished) {
        return NameStatus::Absent;
    }
    if (length == 0) {
        return NameStatus::NeedMore;
    }
    StreamPrefix& prefix = stream.prefix;
    if (!prefix.based) {
        // Without the SYN, a lone byte is most likely a keep-alive probe, which repeats the
        // last byte already sent: the stream starts with the next segment instead.
        if (length == 1) {
            return NameStatus::NeedMore;
        }
        prefix.base = sequence;
        prefix.based = true;
    }
    if (prefix.slot < 0 && sequence == prefix.base) {
        const NameStatus status = readStart(payload, length, out);
        if (status != NameStatus::NeedMore || length >= streamPrefixBytes) {
            return finish(stream, status == NameStatus::NeedMore ? NameStatus::TooLong : status);
        }
    }
    switch (pool.placeSegment(prefix, sequence, payload, length)) {
    case Placement::NoBuffer: return finish(stream, NameStatus::NoRoom);
    case Placement::Unchanged: return NameStatus::NeedMore;
    case Placement::Grew: break;
    }
    NameStatus status = readStart(pool.bytes(prefix), prefix.contiguous, out);
    if (status == NameStatus::NeedMore && prefix.contiguous == streamPrefixBytes) {
        status = NameStatus::TooLong;
    }
    return finish(stream, status);
}

void ClientStreamReader::end(ClientStream& stream) {
    pool.release(stream.prefix);
    stream.finished = true;
}

}  // namespace tidewrack
