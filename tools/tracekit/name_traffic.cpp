// DNS messages, TLS ClientHellos and HTTP requests built as clients and servers send them, and
// a connection whose ClientHello comes in scattered segments.
#include "tracekit/name_traffic.h"

#include <algorithm>

namespace tracekit {

namespace {

void put8(Bytes& b, unsigned value) {
    b.push_back(static_cast<std::uint8_t>(value));
}

void put16(Bytes& b, unsigned value) {
    b.push_back(static_cast<std::uint8_t>(value >> 8));
    b.push_back(static_cast<std::uint8_t>(value));
}

void put32(Bytes& b, std::uint32_t value) {
    put16(b, value >> 16);
    put16(b, value & 0xFFFF);
}

void append(Bytes& b, const Bytes& more) {
    const std::size_t at = b.size();
    b.resize(at + more.size());
    std::copy(more.begin(), more.end(), b.begin() + static_cast<long>(at));
}

void append(Bytes& b, std::string_view text) {
    for (char c : text) {
        b.push_back(static_cast<std::uint8_t>(c));
    }
}

// Writes a 16-bit length at `at`: that of the bytes after it.
void closeLength(Bytes& b, std::size_t at) {
    const std::size_t length = b.size() - at - 2;
    b[at] = static_cast<std::uint8_t>(length >> 8);
    b[at + 1] = static_cast<std::uint8_t>(length);
}

// ---- DNS ----

// A dotted name in wire form: each label after its length, then the root's empty label.
void putName(Bytes& b, std::string_view dotted) {
    while (!dotted.empty()) {
        const std::size_t dot = std::min(dotted.find('.'), dotted.size());
        put8(b, static_cast<unsigned>(dot));
        append(b, dotted.substr(0, dot));
        dotted.remove_prefix(std::min(dot + 1, dotted.size()));
    }
    put8(b, 0);
}

void putPointer(Bytes& b, std::size_t offset) {
    put16(b, 0xC000 | static_cast<unsigned>(offset));
}

Bytes dnsHeader(std::uint16_t id, bool response, unsigned answers) {
    Bytes b;
    put16(b, id);
    put16(b, response ? 0x8180 : 0x0100);  // a recursive query, or its answer
    put16(b, 1);
    put16(b, answers);
    put16(b, 0);
    put16(b, 0);
    return b;
}

// Pads a message to `size` bytes with an OPT record of the Padding option, when it has room.
void padDns(Bytes& message, std::size_t size) {
    constexpr std::size_t optBytes = 11 + 4;  // the record, and the option's code and length
    if (size < message.size() + optBytes) {
        return;
    }
    const std::size_t padding = size - message.size() - optBytes;
    put8(message, 0);  // the root
    put16(message, 41);
    put16(message, 1232);  // the UDP payload a client takes
    put32(message, 0);
    put16(message, static_cast<unsigned>(4 + padding));
    put16(message, 12);
    put16(message, static_cast<unsigned>(padding));
    message.resize(message.size() + padding, 0);
    message[11] = 1;  // one additional record
}

// ---- TLS ----

// A byte of filler that follows from the server name, for the random fields.
class Filler {
  public:
    explicit Filler(std::string_view seed) {
        for (char c : seed) {
            state = (state ^ static_cast<std::uint8_t>(c)) * 0x100000001B3ull;
        }
    }
    void put(Bytes& b, std::size_t count) {
        for (std::size_t i = 0; i < count; ++i) {
            state = state * 6364136223846793005ull + 1442695040888963407ull;
            b.push_back(static_cast<std::uint8_t>(state >> 56));
        }
    }

  private:
    std::uint64_t state = 0xcbf29ce484222325ull;
};

constexpr unsigned grease = 0x2A2A;  // RFC 8701: a value that servers must ignore

void extension(Bytes& b, unsigned type, const Bytes& data) {
    put16(b, type);
    put16(b, static_cast<unsigned>(data.size()));
    append(b, data);
}

}  // namespace

Bytes dnsQuery(std::uint16_t id, std::string_view name, std::uint16_t type, std::size_t size) {
    Bytes b = dnsHeader(id, false, 0);
    putName(b, name);
    put16(b, type);
    put16(b, 1);
    padDns(b, size);
    return b;
}

Bytes dnsResponse(std::uint16_t id, std::string_view name, std::uint16_t type,
                  const std::vector<std::string>& cnames, const std::vector<Bytes>& addresses,
                  std::uint32_t ttl, std::size_t size) {
    Bytes b = dnsHeader(id, true, static_cast<unsigned>(cnames.size() + addresses.size()));
    std::size_t owner = b.size();
    putName(b, name);
    put16(b, type);
    put16(b, 1);
    for (const std::string& target : cnames) {
        putPointer(b, owner);
        put16(b, 5);
        put16(b, 1);
        put32(b, ttl);
        const std::size_t length = b.size();
        put16(b, 0);
        owner = b.size();
        putName(b, target);
        closeLength(b, length);
    }
    for (const Bytes& address : addresses) {
        putPointer(b, owner);
        put16(b, address.size() == 16 ? 28 : 1);
        put16(b, 1);
        put32(b, ttl);
        put16(b, static_cast<unsigned>(address.size()));
        append(b, address);
    }
    padDns(b, size);
    return b;
}

Bytes tlsClientHello(std::string_view serverName, bool postQuantum, std::size_t size) {
    Filler filler(serverName);
    Bytes body;
    put16(body, 0x0303);
    filler.put(body, 32);  // random
    put8(body, 32);
    filler.put(body, 32);  // legacy session id
    const unsigned suites[] = {grease, 0x1301, 0x1302, 0x1303, 0xC02B, 0xC02F, 0xC02C, 0xC030,
                               0xCCA9, 0xCCA8, 0xC013, 0xC014, 0x009C, 0x009D, 0x002F, 0x0035};
    put16(body, 2 * static_cast<unsigned>(std::size(suites)));
    for (unsigned suite : suites) {
        put16(body, suite);
    }
    put16(body, 0x0100);  // no compression

    Bytes e;
    extension(e, grease, {});
    Bytes name;
    put16(name, static_cast<unsigned>(serverName.size() + 3));
    put8(name, 0);  // host_name
    put16(name, static_cast<unsigned>(serverName.size()));
    append(name, serverName);
    extension(e, 0x0000, name);
    extension(e, 0x0017, {});      // extended_master_secret
    extension(e, 0xFF01, {0x00});  // renegotiation_info
    Bytes groups;
    for (unsigned group : {grease, 0x11ECu, 0x001Du, 0x0017u, 0x0018u}) {
        if (postQuantum || group != 0x11EC) {
            put16(groups, group);
        }
    }
    Bytes groupList;
    put16(groupList, static_cast<unsigned>(groups.size()));
    append(groupList, groups);
    extension(e, 0x000A, groupList);
    extension(e, 0x000B, {0x01, 0x00});  // ec_point_formats: uncompressed
    extension(e, 0x0023, {});            // session_ticket
    Bytes alpn = {0x00, 0x0C, 0x02, 'h', '2', 0x08};
    append(alpn, std::string_view("http/1.1"));
    extension(e, 0x0010, alpn);
    extension(e, 0x0005, {0x01, 0, 0, 0, 0});  // status_request: OCSP
    Bytes algorithms = {0x00, 0x10};
    for (unsigned scheme : {0x0403, 0x0804, 0x0401, 0x0503, 0x0805, 0x0501, 0x0806, 0x0601}) {
        put16(algorithms, scheme);
    }
    extension(e, 0x000D, algorithms);
    extension(e, 0x0012, {});  // signed_certificate_timestamp
    Bytes shares;
    put16(shares, grease);
    put16(shares, 1);
    put8(shares, 0);
    if (postQuantum) {
        put16(shares, 0x11EC);  // X25519MLKEM768: an ML-KEM-768 key and an X25519 key
        put16(shares, 1216);
        filler.put(shares, 1216);
    }
    put16(shares, 0x001D);
    put16(shares, 32);
    filler.put(shares, 32);
    Bytes keyShare;
    put16(keyShare, static_cast<unsigned>(shares.size()));
    append(keyShare, shares);
    extension(e, 0x0033, keyShare);
    extension(e, 0x002D, {0x01, 0x01});                                // psk_key_exchange_modes
    extension(e, 0x002B, {0x06, 0x2A, 0x2A, 0x03, 0x04, 0x03, 0x03});  // supported_versions
    extension(e, 0x001B, {0x02, 0x00, 0x02});            // compress_certificate: brotli
    extension(e, 0x44CD, {0x00, 0x03, 0x02, 'h', '2'});  // application_settings
    if (postQuantum) {
        // encrypted_client_hello as GREASE: an outer hello (type 0) for HKDF-SHA256 and
        // AES-128-GCM, with a random key and payload, as browsers send it to every server.
        Bytes ech = {0x00, 0x00, 0x01, 0x00, 0x01};
        filler.put(ech, 1);  // config id
        put16(ech, 32);
        filler.put(ech, 32);
        put16(ech, 239);
        filler.put(ech, 239);
        extension(e, 0xFE0D, ech);
    }
    extension(e, 0x1A1A, {0x00});  // GREASE, last

    // Record header 5, handshake header 4, extensions length 2; a padding extension takes 4.
    const std::size_t bare = 5 + 4 + body.size() + 2 + e.size();
    if (size >= bare + 4) {
        extension(e, 0x0015, Bytes(size - bare - 4, 0));
    }
    put16(body, static_cast<unsigned>(e.size()));
    append(body, e);
    Bytes record = {0x16, 0x03, 0x01};
    put16(record, static_cast<unsigned>(body.size() + 4));
    put8(record, 0x01);  // ClientHello
    put8(record, static_cast<unsigned>(body.size() >> 16));
    put16(record, static_cast<unsigned>(body.size() & 0xFFFF));
    append(record, body);
    return record;
}

Bytes httpRequest(std::string_view host, std::string_view path, std::size_t size) {
    std::string text = "GET " + std::string(path) + " HTTP/1.1\r\nHost: " + std::string(host) +
                       "\r\nUser-Agent: Mozilla/5.0 (X11; Linux x86_64; rv:133.0) Gecko/20100101 "
                       "Firefox/133.0\r\nAccept: text/html,application/xhtml+xml,*/*;q=0.8\r\n"
                       "Accept-Language: en-GB,en;q=0.5\r\nAccept-Encoding: gzip, deflate\r\n"
                       "Connection: keep-alive\r\n";
    constexpr std::string_view cookie = "Cookie: id=";
    const std::size_t bare = text.size() + 2;  // and the empty line
    if (size >= bare + cookie.size() + 3) {
        text += cookie;
        for (std::size_t i = bare + cookie.size() + 2, n = 0; i < size; ++i, ++n) {
            text += "0123456789abcdef"[(n * 7 + host.size()) % 16];
        }
        text += "\r\n";
    }
    text += "\r\n";
    return Bytes(text.begin(), text.end());
}

std::vector<Record> helloInThreeSegments(const Address& client, std::uint16_t clientPort,
                                         const Address& server, const Bytes& hello, long start) {
    // The client's sequence numbers wrap past 2^32 inside the hello.
    const std::uint32_t c = 0xFFFFFF00u + 1, s = 7000 + 1;  // the first byte each sends
    const auto end = static_cast<std::uint32_t>(hello.size());
    const std::uint32_t a = end / 3, b = 2 * end / 3, overlap = 8;
    std::vector<Record> records;
    long microseconds = 0;
    // A segment with the hello's bytes `from` to `to`.
    const auto send = [&](bool fromClient, std::uint8_t flags, std::uint32_t sequence,
                          std::uint32_t acknowledged, std::uint32_t from = 0,
                          std::uint32_t to = 0) {
        Bytes segment = tcpHeader(fromClient ? clientPort : 443, fromClient ? 443 : clientPort,
                                  flags, sequence, acknowledged);
        append(segment, Bytes(hello.begin() + from, hello.begin() + to));
        microseconds += 700;
        records.push_back({fromClient ? ipv4Frame(6, client, server, segment)
                                      : ipv4Frame(6, server, client, segment),
                           start + microseconds / 1000000, microseconds % 1000000});
    };
    constexpr std::uint8_t syn = 0x02, ack = 0x10, push = 0x18, fin = 0x11;
    send(true, syn, c - 1, 0);
    send(false, syn | ack, s - 1, c);
    send(true, ack, c, s);
    send(true, push, c, s, 0, a);
    send(true, push, c + b, s, b, end);  // ahead of the gap
    send(true, push, c, s, 0, a);        // sent again
    send(true, push, c + a - overlap, s, a - overlap, b);
    send(false, ack, s, c + end);
    send(true, fin, c + end, s);
    send(false, fin, s, c + end + 1);
    send(true, ack, c + end + 1, s + 1);
    return records;
}

}  // namespace tracekit
