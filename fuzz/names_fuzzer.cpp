// libFuzzer target: arbitrary bytes through every reader of names, as the payloads that the
// traffic would hand them: a DNS message over UDP and a DNS-over-TCP stream; the first bytes
// of a client's TCP stream (TLS records, a ClientHello alone, an HTTP request), read whole and
// again cut into segments that arrive out of order and twice; and a QUIC datagram, read as it
// comes and as the frames of a client Initial packet properly protected, so that mutation
// reaches the frames, the CRYPTO stream's reassembly and the ClientHello inside it, which no
// forged packet could (its tag would fail).
//
// Every name found is written as text and as SQL. At the end of each input every stream buffer
// must be back in the pool; anything else, like any sanitizer report, is a finding.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "names/client_stream.h"
#include "names/dns_message.h"
#include "names/http_host.h"
#include "names/quic_initial.h"
#include "names/stream_prefix.h"
#include "names/tls_client_hello.h"
#include "quic_protect.h"

using namespace tidewrack;

namespace {

void useName(const LearntName& name) {
    char sql[nameSqlSize];
    writeSqlLiteral(name.name, sql);
}

void readDns(const std::uint8_t* data, std::uint32_t length) {
    static DnsResponse response;
    if (readDnsResponse(data, length, response) == DnsReading::Response) {
        NameText text;
        if (response.hasQuestion) {
            writeDnsName(response.question, text);
        }
        for (std::uint32_t i = 0; i < response.addressCount; ++i) {
            writeDnsName(response.addresses[i].owner, text);
        }
    }
}

// The input as a client's TCP stream in segments of 1 to 64 bytes (the first byte says how
// long): each pair is sent in swapped order, and every third segment twice.
void readSegments(ClientStreamReader& reader, const std::uint8_t* data, std::uint32_t length) {
    if (length == 0) {
        return;
    }
    const std::uint32_t size = 1 + data[0] % 64, isn = 0xFFFFFF00u;
    ClientStream stream;
    ClientStreamReader::syn(stream, isn);
    LearntName name;
    const auto send = [&](std::uint32_t from) {
        if (from < length) {
            const std::uint32_t count = length - from < size ? length - from : size;
            if (reader.segment(stream, isn + 1 + from, data + from, count, name) ==
                NameStatus::Found) {
                useName(name);
            }
        }
    };
    for (std::uint32_t from = 0, index = 0; from < length; from += 2 * size, index += 2) {
        send(from + size);
        send(from);
        if (index % 3 == 0) {
            send(from);
        }
    }
    reader.end(stream);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static StreamPrefixPool pool(4);
    static ClientStreamReader reader(pool);
    static TlsRecordReader records;
    static QuicInitialReader quic;
    static const std::vector<std::uint8_t> connectionId = {1, 2, 3, 4, 5, 6, 7, 8};
    static QuicKeys keys;
    static const bool keyed = quic.clientKeys(quicVersion1, connectionId.data(), 8, keys);
    if (!keyed) {
        std::abort();
    }
    constexpr std::size_t largest = 16000;  // a packet's Length stays in two bytes
    const auto length = static_cast<std::uint32_t>(size < largest ? size : largest);

    readDns(data, length);
    std::uint32_t offset = 0, start = 0, messageLength = 0;
    while (nextTcpDnsMessage(data, length, offset, start, messageLength)) {
        readDns(data + start, messageLength);
    }
    LearntName name;
    if (records.read(data, length, name) == NameStatus::Found ||
        readClientHello(data, length, name) == NameStatus::Found ||
        readHttpHost(data, length, name) == NameStatus::Found) {
        useName(name);
    }
    readSegments(reader, data, length);

    QuicClientFlow raw, framed;
    if (quic.read(raw, data, length, pool, name) == NameStatus::Found) {
        useName(name);
    }
    const std::vector<std::uint8_t> frames(data, data + length);
    const std::vector<std::uint8_t> packet =
        testkit::protectClientInitial(keys, connectionId, 0, frames);
    if (quic.read(framed, packet.data(), static_cast<std::uint32_t>(packet.size()), pool, name) ==
        NameStatus::Found) {
        useName(name);
    }
    QuicInitialReader::end(raw, pool);
    QuicInitialReader::end(framed, pool);
    if (pool.buffersInUse() != 0) {
        std::abort();
    }
    return 0;
}
