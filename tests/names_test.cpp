// The readers of names from the traffic, fed messages built byte by byte: DNS responses (CNAME
// chains, mDNS, TCP framing and every kind of hostile name), the stream prefix that puts TCP
// segments back in order, TLS ClientHellos split across records and segments, QUIC client
// Initial packets (the sample packets of RFC 9001 and RFC 9369, and a CRYPTO stream scattered
// over two packets) and HTTP requests.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "names/client_stream.h"
#include "names/dns_message.h"
#include "names/http_host.h"
#include "names/name_text.h"
#include "names/quic_initial.h"
#include "names/stream_prefix.h"
#include "names/tls_client_hello.h"
#include "quic_protect.h"
#include "tracekit/frames.h"

using namespace tidewrack;

namespace {

using Bytes = std::vector<std::uint8_t>;
using tracekit::fromHex;

void put16(Bytes& out, unsigned value) {
    out.push_back(static_cast<std::uint8_t>(value >> 8));
    out.push_back(static_cast<std::uint8_t>(value));
}

void append(Bytes& out, const Bytes& more) {
    out.insert(out.end(), more.begin(), more.end());
}

// ---- DNS ----

// A dotted name in wire form, each label after its length.
Bytes wire(std::string_view dotted) {
    Bytes out;
    while (!dotted.empty()) {
        const std::size_t dot = std::min(dotted.find('.'), dotted.size());
        out.push_back(static_cast<std::uint8_t>(dot));
        out.insert(out.end(), dotted.begin(), dotted.begin() + static_cast<long>(dot));
        dotted.remove_prefix(std::min(dot + 1, dotted.size()));
    }
    out.push_back(0);
    return out;
}

Bytes pointer(unsigned offset) {
    return {static_cast<std::uint8_t>(0xC0 | offset >> 8), static_cast<std::uint8_t>(offset)};
}

// A response header (id 0x1234, QR set, RD and RA) with the given section counts.
Bytes dnsHeader(unsigned questions, unsigned answers, std::uint8_t flags = 0x81) {
    Bytes out = {0x12, 0x34, flags, 0x80};
    put16(out, questions);
    put16(out, answers);
    put16(out, 0);
    put16(out, 0);
    return out;
}

void question(Bytes& message, const Bytes& name, unsigned type = 1) {
    append(message, name);
    put16(message, type);
    put16(message, 1);
}

void record(Bytes& message, const Bytes& owner, unsigned type, std::uint32_t ttl, const Bytes& data,
            unsigned recordClass = 1) {
    append(message, owner);
    put16(message, type);
    put16(message, recordClass);
    put16(message, ttl >> 16);
    put16(message, ttl & 0xFFFF);
    put16(message, static_cast<unsigned>(data.size()));
    append(message, data);
}

DnsReading read(const Bytes& message, DnsResponse& out) {
    return readDnsResponse(message.data(), static_cast<std::uint32_t>(message.size()), out);
}

std::string nameText(const WireName& name) {
    NameText out;
    writeDnsName(name, out);
    return std::string(out.text, out.length);
}

// "owner address ttl [<- question]" for each address, in order.
std::vector<std::string> addresses(const DnsResponse& response) {
    std::vector<std::string> out;
    for (std::uint32_t i = 0; i < response.addressCount; ++i) {
        const DnsAddress& a = response.addresses[i];
        char address[32];
        if (a.ipv6) {
            std::snprintf(address, sizeof address, "v6:%u..%u", a.address[0], a.address[15]);
        } else {
            std::snprintf(address, sizeof address, "%u.%u.%u.%u", a.address[0], a.address[1],
                          a.address[2], a.address[3]);
        }
        std::string line = nameText(a.owner) + " " + address + " " + std::to_string(a.ttl);
        if (a.viaCname) {
            line += " <- " + nameText(response.question);
        }
        out.push_back(line);
    }
    return out;
}

}  // namespace

TEST(DnsNames, CnameChainLeadsFromTheQuestionToTheAddresses) {
    Bytes m = dnsHeader(1, 6);
    question(m, wire("WWW.Example.com"));                    // at offset 12
    const auto edge = static_cast<unsigned>(m.size() + 12);  // the data of the next record
    record(m, pointer(12), 5, 300, wire("edge.cdn.net"));
    Bytes target = wire("e1.g");
    target.pop_back();
    append(target, pointer(edge + 5));  // e1.g.cdn.net, the pointer going back into "cdn.net"
    record(m, pointer(edge), 5, 60, target);
    record(m, wire("E1.G.CDN.NET"), 1, 20, {192, 0, 2, 1});  // case differs, same name
    record(m, wire("e1.g.cdn.net"), 28, 20, Bytes(16, 0x20));
    record(m, wire("other.org"), 1, 5, {198, 51, 100, 7});  // not on the chain
    record(m, pointer(12), 16, 1, {0});                     // TXT: not kept
    DnsResponse response;
    ASSERT_EQ(read(m, response), DnsReading::Response);
    EXPECT_EQ(addresses(response),
              (std::vector<std::string>{"E1.G.CDN.NET 192.0.2.1 20 <- WWW.Example.com",
                                        "e1.g.cdn.net v6:32..32 20 <- WWW.Example.com",
                                        "other.org 198.51.100.7 5"}));
    EXPECT_EQ(response.cnameCount, 2u);

    // The question's own answer is not "via" anything; an mDNS response has no question and
    // sets the cache-flush bit of its records' class.
    Bytes direct = dnsHeader(1, 1);
    question(direct, wire("a.example"));
    record(direct, pointer(12), 1, 7, {10, 0, 0, 1});
    ASSERT_EQ(read(direct, response), DnsReading::Response);
    EXPECT_EQ(addresses(response), (std::vector<std::string>{"a.example 10.0.0.1 7"}));
    Bytes mdns = dnsHeader(0, 2, 0x84);
    record(mdns, wire("printer.local"), 28, 120, Bytes(16, 0xFE), 0x8001);
    record(mdns, wire("printer.local"), 1, 120, {169, 254, 1, 2}, 0x8001);
    ASSERT_EQ(read(mdns, response), DnsReading::Response);
    EXPECT_FALSE(response.hasQuestion);
    EXPECT_EQ(addresses(response), (std::vector<std::string>{"printer.local v6:254..254 120",
                                                             "printer.local 169.254.1.2 120"}));

    // Past the cap, addresses are counted, not kept; a query gives nothing.
    Bytes many = dnsHeader(1, maxDnsAddresses + 3);
    question(many, wire("pool.example"));
    for (unsigned i = 0; i < maxDnsAddresses + 3; ++i) {
        record(many, pointer(12), 1, 1, {10, 0, 0, static_cast<std::uint8_t>(i)});
    }
    ASSERT_EQ(read(many, response), DnsReading::Response);
    EXPECT_EQ(response.addressCount, maxDnsAddresses);
    EXPECT_EQ(response.addressesLeftOut, 3u);
    EXPECT_EQ(read(dnsHeader(1, 0, 0x01), response), DnsReading::NotResponse);
}

TEST(DnsNames, TcpStreamsHoldMessagesAfterTheirLength) {
    Bytes one = dnsHeader(1, 1);
    question(one, wire("t.example"));
    record(one, pointer(12), 1, 9, {1, 2, 3, 4});
    Bytes stream;
    for (int i = 0; i < 2; ++i) {
        put16(stream, static_cast<unsigned>(one.size()));
        append(stream, one);
    }
    put16(stream, 200);  // a third message, cut
    stream.push_back(0x12);
    std::uint32_t offset = 0, start = 0, length = 0, whole = 0;
    DnsResponse response;
    while (nextTcpDnsMessage(stream.data(), static_cast<std::uint32_t>(stream.size()), offset,
                             start, length)) {
        ASSERT_EQ(readDnsResponse(stream.data() + start, length, response), DnsReading::Response);
        EXPECT_EQ(addresses(response), (std::vector<std::string>{"t.example 1.2.3.4 9"}));
        ++whole;
    }
    EXPECT_EQ(whole, 2u);
    EXPECT_EQ(offset, 2 * (one.size() + 2));
}

TEST(DnsNames, HostileMessagesGiveNoAddress) {
    const auto answerWith = [](const Bytes& owner, unsigned type = 1, Bytes data = {1, 2, 3, 4}) {
        Bytes m = dnsHeader(1, 2);
        question(m, wire("q.example"));
        record(m, pointer(12), 1, 1, {9, 9, 9, 9});  // a good answer first: it must not survive
        record(m, owner, type, 1, data);
        return m;
    };
    const std::size_t second = 12 + 11 + 4 + 16;  // where the second answer's owner starts
    Bytes labels63 = wire(std::string(63, 'a') + "." + std::string(63, 'b') + "." +
                          std::string(63, 'c') + "." + std::string(61, 'd'));  // 255 bytes
    Bytes over255 = wire(std::string(63, 'a') + "." + std::string(63, 'b') + "." +
                         std::string(63, 'c') + "." + std::string(62, 'd'));  // 256 bytes
    Bytes label64 = wire(std::string(64, 'x'));
    Bytes pointerToItself = pointer(second);
    Bytes forward = pointer(second + 10);
    Bytes loop = {1, 'a'};  // "a", then a pointer back to its own start
    append(loop, pointer(second));
    const struct {
        const char* what;
        Bytes message;
    } cases[] = {
        {"a pointer to itself", answerWith(pointerToItself)},
        {"a forward pointer", answerWith(forward)},
        {"a pointer back to the start of its own name", answerWith(loop)},
        {"a label of 64 bytes", answerWith(label64)},
        {"a name over 255 bytes", answerWith(over255)},
        {"an A record of 5 bytes", answerWith(wire("z"), 1, {1, 2, 3, 4, 5})},
        {"an AAAA record of 4 bytes", answerWith(wire("z"), 28, {1, 2, 3, 4})},
        {"a CNAME with a byte after its name", answerWith(wire("z"), 5, {1, 'y', 0, 0})},
        {"a CNAME cut inside its name", answerWith(wire("z"), 5, {3, 'y'})},
    };
    DnsResponse response;
    for (const auto& c : cases) {
        EXPECT_EQ(read(c.message, response), DnsReading::Malformed) << c.what;
    }
    // The longest name is fine, and so is a pointer to the start of an earlier name.
    ASSERT_EQ(read(answerWith(labels63), response), DnsReading::Response);
    EXPECT_EQ(response.addresses[1].owner.length, 255u);
    ASSERT_EQ(read(answerWith(pointer(12)), response), DnsReading::Response);
    // A message cut anywhere is malformed, never read past its end.
    const Bytes whole = answerWith(wire("cut.example"));
    for (std::size_t length = 0; length < whole.size(); ++length) {
        Bytes cut(whole.begin(), whole.begin() + static_cast<long>(length));
        EXPECT_EQ(read(cut, response), DnsReading::Malformed) << length;
    }
    // Pointers past the cap: a chain of names, each a label and a pointer to the one before,
    // kept in a TXT record's data, and an answer whose owner points at the last of them.
    for (const unsigned links : {maxDnsPointers - 1, maxDnsPointers + 8}) {
        Bytes chain = dnsHeader(1, 2);
        question(chain, wire("q"));
        const std::size_t data = chain.size() + 2 + 10;
        Bytes names;
        std::size_t previous = 12;
        for (unsigned i = 0; i < links; ++i) {
            const std::size_t here = data + names.size();
            append(names, {1, 'n'});
            append(names, pointer(static_cast<unsigned>(previous)));
            previous = here;
        }
        record(chain, pointer(12), 16, 1, names);
        record(chain, pointer(static_cast<unsigned>(previous)), 1, 1, {1, 1, 1, 1});
        EXPECT_EQ(read(chain, response),
                  links < maxDnsPointers ? DnsReading::Response : DnsReading::Malformed)
            << links;
    }
}

TEST(NameText, EveryByteIsPrintableAndSafeInSql) {
    WireName name;
    const Bytes bytes = {5, 'a', '.', '\\', ' ', '\'', 3, 0x00, 0xFF, 0x7F, 2, 'O', 'k', 0};
    std::memcpy(name.bytes, bytes.data(), bytes.size());
    name.length = static_cast<std::uint16_t>(bytes.size());
    EXPECT_EQ(nameText(name), "a\\.\\\\\\032'.\\000\\255\\127.Ok");
    WireName root;
    root.length = 1;
    EXPECT_EQ(nameText(root), ".");
    // The longest text: 255 wire bytes whose label bytes all need escapes.
    WireName worst;
    for (std::size_t at = 0; at + 1 < maxNameBytes;) {
        const std::size_t label = std::min<std::size_t>(63, maxNameBytes - 2 - at);
        worst.bytes[at] = static_cast<std::uint8_t>(label);
        std::memset(worst.bytes + at + 1, 0xFF, label);
        at += 1 + label;
    }
    worst.length = maxNameBytes;
    NameText worstText;
    writeDnsName(worst, worstText);
    EXPECT_LT(worstText.length, nameTextSize);
    EXPECT_EQ(std::strlen(worstText.text), worstText.length);

    // Host names keep dots; quotes are doubled in SQL; over 255 bytes is no host name.
    const std::string host = "it's.\x1b[31m.example";
    NameText hostText;
    const FrameBytes hostBytes(reinterpret_cast<const u_char*>(host.data()),
                               static_cast<std::uint32_t>(host.size()));
    ASSERT_TRUE(writeHostName(hostBytes, 0, static_cast<std::uint32_t>(host.size()), hostText));
    EXPECT_STREQ(hostText.text, "it's.\\027[31m.example");
    char sql[nameSqlSize];
    EXPECT_EQ(writeSqlLiteral(hostText, sql), 24u);
    EXPECT_STREQ(sql, "'it''s.\\027[31m.example'");
    const std::string longHost(256, 'h');
    EXPECT_FALSE(writeHostName(FrameBytes(reinterpret_cast<const u_char*>(longHost.data()), 256), 0,
                               256, hostText));
    EXPECT_FALSE(writeHostName(hostBytes, 10, 100, hostText));  // past the bytes
}

// ---- The stream prefix ----

TEST(StreamPrefix, SegmentsOutOfOrderResentAndOverlappingGiveTheBytesSent) {
    StreamPrefixPool pool(2);
    StreamPrefix stream;
    const std::string sent = "0123456789abcdefghij";
    const auto data = [&](std::size_t from) {
        return reinterpret_cast<const std::uint8_t*>(sent.data()) + from;
    };
    const std::uint32_t isn = 0xFFFFFFF0u;  // offsets wrap past 2^32
    StreamPrefixPool::startAfterSyn(stream, isn);
    EXPECT_EQ(pool.placeSegment(stream, isn + 1 + 10, data(10), 5), Placement::Unchanged);
    EXPECT_EQ(stream.contiguous, 0u);
    EXPECT_EQ(pool.placeSegment(stream, isn + 1, data(0), 4), Placement::Grew);
    EXPECT_EQ(stream.contiguous, 4u);
    // Resent with other bytes in it: what arrived first stays.
    const std::string forged = "XXXXXXXXXXXXXXXXXXXX";
    EXPECT_EQ(pool.placeSegment(stream, isn + 1 + 2,
                                reinterpret_cast<const std::uint8_t*>(forged.data()), 12),
              Placement::Grew);  // fills 4..9, overlaps 2..3 and 10..13
    EXPECT_EQ(stream.contiguous, 15u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(pool.bytes(stream)), 15),
              "0123XXXXXXabcde");
    // A segment from before offset 0 counts from offset 0 on; one past the prefix is dropped.
    EXPECT_EQ(pool.placeSegment(stream, isn - 2, data(0), 3), Placement::Unchanged);
    EXPECT_EQ(pool.placeAt(stream, streamPrefixBytes, data(0), 5), Placement::Unchanged);
    Bytes big(streamPrefixBytes, 'z');
    EXPECT_EQ(pool.placeAt(stream, 15, big.data(), static_cast<std::uint32_t>(big.size())),
              Placement::Grew);
    EXPECT_EQ(stream.contiguous, streamPrefixBytes);

    // The pool: two buffers, then none, until one comes back.
    StreamPrefix second, third;
    EXPECT_EQ(pool.placeSegment(second, 7, data(0), 3), Placement::Grew);  // starts at 7
    EXPECT_EQ(pool.buffersInUse(), 2u);
    EXPECT_EQ(pool.placeSegment(third, 1, data(0), 3), Placement::NoBuffer);
    EXPECT_EQ(pool.bytes(third), nullptr);
    pool.release(stream);
    EXPECT_EQ(pool.placeSegment(third, 1, data(0), 3), Placement::Grew);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(pool.bytes(third)), 3), "012");
    EXPECT_EQ(third.contiguous, 3u);  // the reused buffer forgot the bytes before
}

// ---- TLS ----

namespace {

// A ClientHello handshake message naming `sni` (none when empty), with a key share of
// `shareBytes` (a hybrid post-quantum share is 1216 bytes) and, unless `echType` is -1, an
// encrypted_client_hello extension of that type (0 outer, 1 inner) after the name.
Bytes clientHello(std::string_view sni, std::size_t shareBytes = 1216, int echType = -1) {
    Bytes body = {0x03, 0x03};
    body.insert(body.end(), 32, 0x11);  // random
    body.push_back(32);
    body.insert(body.end(), 32, 0x22);  // session id
    append(body, {0x00, 0x04, 0x13, 0x01, 0x13, 0x02, 0x01, 0x00});
    Bytes extensions;
    const auto extension = [&](unsigned type, const Bytes& data) {
        put16(extensions, type);
        put16(extensions, static_cast<unsigned>(data.size()));
        append(extensions, data);
    };
    extension(0x0a0a, {});  // GREASE
    Bytes share;
    put16(share, static_cast<unsigned>(shareBytes + 4));
    put16(share, 0x11EC);
    put16(share, static_cast<unsigned>(shareBytes));
    share.insert(share.end(), shareBytes, 0x33);
    extension(0x0033, share);
    if (!sni.empty()) {
        Bytes list;
        put16(list, static_cast<unsigned>(sni.size() + 3));
        list.push_back(0);
        put16(list, static_cast<unsigned>(sni.size()));
        list.insert(list.end(), sni.begin(), sni.end());
        extension(0x0000, list);
    }
    if (echType >= 0) {
        Bytes outer = {
            static_cast<std::uint8_t>(echType), 0x00, 0x01, 0x00, 0x01, 0x42, 0x00, 0x20};
        outer.insert(outer.end(), 32, 0x44);
        append(outer, {0x00, 0x10});
        outer.insert(outer.end(), 16, 0x55);
        extension(0xfe0d, outer);
    }
    put16(body, static_cast<unsigned>(extensions.size()));
    append(body, extensions);
    Bytes hello = {0x01, 0, static_cast<std::uint8_t>(body.size() >> 8),
                   static_cast<std::uint8_t>(body.size())};
    append(hello, body);
    return hello;
}

// The handshake message in TLS records of at most `recordSize` bytes each.
Bytes inRecords(const Bytes& handshake, std::size_t recordSize) {
    Bytes out;
    for (std::size_t at = 0; at < handshake.size(); at += recordSize) {
        const std::size_t size = std::min(recordSize, handshake.size() - at);
        append(out, {0x16, 0x03, 0x01});
        put16(out, static_cast<unsigned>(size));
        out.insert(out.end(), handshake.begin() + static_cast<long>(at),
                   handshake.begin() + static_cast<long>(at + size));
    }
    return out;
}

NameStatus readRecords(TlsRecordReader& reader, const Bytes& stream, LearntName& out) {
    return reader.read(stream.data(), static_cast<std::uint32_t>(stream.size()), out);
}

}  // namespace

TEST(TlsNames, ClientHelloInOneOrManyRecords) {
    static TlsRecordReader reader;
    LearntName name;
    const Bytes hello = clientHello("www.example.com");
    ASSERT_GT(hello.size(), 1300u);
    for (std::size_t recordSize : {std::size_t{16384}, std::size_t{1000}, std::size_t{2}}) {
        const Bytes stream = inRecords(hello, recordSize);
        ASSERT_EQ(readRecords(reader, stream, name), NameStatus::Found) << recordSize;
        EXPECT_STREQ(name.name.text, "www.example.com");
        EXPECT_FALSE(name.echOuter);
        // Every shorter prefix asks for more.
        for (std::size_t cut :
             {std::size_t{1}, std::size_t{5}, std::size_t{700}, stream.size() - 1}) {
            EXPECT_EQ(readRecords(reader,
                                  Bytes(stream.begin(), stream.begin() + static_cast<long>(cut)),
                                  name),
                      NameStatus::NeedMore)
                << recordSize << " " << cut;
        }
    }
    ASSERT_EQ(readRecords(reader, inRecords(clientHello("public.example", 64, 0), 500), name),
              NameStatus::Found);
    EXPECT_STREQ(name.name.text, "public.example");
    EXPECT_TRUE(name.echOuter);
    ASSERT_EQ(readRecords(reader, inRecords(clientHello("inner.example", 64, 1), 500), name),
              NameStatus::Found);
    EXPECT_FALSE(name.echOuter);
    EXPECT_EQ(readRecords(reader, inRecords(clientHello(""), 500), name), NameStatus::NoName);

    // Not TLS, a server's hello, a record of another type inside the hello, bad lengths.
    EXPECT_EQ(readRecords(reader, {0x17, 0x03, 0x03, 0, 1, 0}, name), NameStatus::Absent);
    EXPECT_EQ(readRecords(reader, {0x16, 0x02}, name), NameStatus::Absent);
    Bytes serverHello = inRecords(clientHello("x"), 16384);
    serverHello[5] = 2;
    EXPECT_EQ(readRecords(reader, serverHello, name), NameStatus::Absent);
    Bytes interrupted = inRecords(hello, 1000);
    interrupted[1005] = 0x17;
    EXPECT_EQ(readRecords(reader, interrupted, name), NameStatus::Malformed);
    Bytes badExtension = clientHello("www.example.com", 8);
    badExtension[badExtension.size() - 20] = 0xFF;  // the server_name list's length
    EXPECT_EQ(readRecords(reader, inRecords(badExtension, 16384), name), NameStatus::Malformed);
    Bytes huge = inRecords(clientHello("big.example", 9000), 16384);
    EXPECT_EQ(readRecords(reader, Bytes(huge.begin(), huge.begin() + 3000), name),
              NameStatus::TooLong);
    const std::size_t shortSize = clientHello("s.example", 16).size();
    for (std::size_t cut = 0; cut + 4 < shortSize; ++cut) {  // any length, no read past it
        Bytes shortHello = clientHello("s.example", 16);
        const std::size_t length = shortHello.size() - 4 - cut;
        shortHello[2] = static_cast<std::uint8_t>(length >> 8);
        shortHello[3] = static_cast<std::uint8_t>(length);
        shortHello.resize(length + 4);
        const NameStatus status =
            readClientHello(shortHello.data(), static_cast<std::uint32_t>(shortHello.size()), name);
        EXPECT_TRUE(status == NameStatus::Malformed || status == NameStatus::NoName ||
                    (cut == 0 && status == NameStatus::Found))
            << cut;
    }
}

TEST(TlsNames, ClientHelloOverThreeSegmentsOneResentOneOutOfOrder) {
    StreamPrefixPool pool(4);
    ClientStreamReader reader(pool);
    const Bytes stream = inRecords(clientHello("split.example.org"), 16384);
    const std::uint32_t isn = 4000000000u;
    const auto segment = [&](ClientStream& client, std::size_t from, std::size_t to,
                             LearntName& name) {
        return reader.segment(client, isn + 1 + static_cast<std::uint32_t>(from),
                              stream.data() + from, static_cast<std::uint32_t>(to - from), name);
    };
    const std::size_t a = 600, b = 1300, end = stream.size();
    ClientStream client;
    ClientStreamReader::syn(client, isn);
    LearntName name;
    EXPECT_EQ(segment(client, 0, a, name), NameStatus::NeedMore);
    EXPECT_EQ(pool.buffersInUse(), 1u);
    EXPECT_EQ(segment(client, b, end, name), NameStatus::NeedMore);   // ahead of a gap
    EXPECT_EQ(segment(client, 0, a, name), NameStatus::NeedMore);     // resent
    EXPECT_EQ(segment(client, a - 100, b, name), NameStatus::Found);  // the gap, overlapping
    EXPECT_STREQ(name.name.text, "split.example.org");
    EXPECT_EQ(name.source, NameSource::Tls);
    EXPECT_EQ(pool.buffersInUse(), 0u);  // given back at once
    EXPECT_EQ(segment(client, b, end, name), NameStatus::Absent);

    // Whole in one segment: read in place, no buffer taken. Without the SYN, a keep-alive
    // byte does not start the stream.
    ClientStream inPlace;
    EXPECT_EQ(reader.segment(inPlace, 77, stream.data(), 1, name), NameStatus::NeedMore);
    EXPECT_EQ(reader.segment(inPlace, 78, stream.data(), static_cast<std::uint32_t>(end), name),
              NameStatus::Found);
    EXPECT_EQ(pool.buffersInUse(), 0u);
    // A connection that ends half way gives its buffer back; a stream that is neither TLS nor
    // HTTP is given up at its first byte.
    ClientStream cut, other;
    EXPECT_EQ(segment(cut, 0, a, name), NameStatus::NeedMore);
    reader.end(cut);
    EXPECT_EQ(pool.buffersInUse(), 0u);
    const Bytes ssh = {'S', 'S', 'H', '-', '2'};
    EXPECT_EQ(reader.segment(other, 1, ssh.data(), 5, name), NameStatus::Absent);
}

// ---- QUIC ----

namespace {

// The protected client Initial packets of RFC 9001 (version 1) and RFC 9369 (version 2),
// appendix A.2 of each: connection ID 8394c8f03e515708, a ClientHello for example.com.
constexpr std::string_view rfc9001ClientInitial =
    "c000000001088394c8f03e5157080000449e7b9aec34d1b1c98dd7689fb8ec11d242b123dc9bd8bab936b47d"
    "92ec356c0bab7df5976d27cd449f63300099f3991c260ec4c60d17b31f8429157bb35a1282a643a8d2262cad"
    "67500cadb8e7378c8eb7539ec4d4905fed1bee1fc8aafba17c750e2c7ace01e6005f80fcb7df621230c83711"
    "b39343fa028cea7f7fb5ff89eac2308249a02252155e2347b63d58c5457afd84d05dfffdb20392844ae81215"
    "4682e9cf012f9021a6f0be17ddd0c2084dce25ff9b06cde535d0f920a2db1bf362c23e596d11a4f5a6cf3948"
    "838a3aec4e15daf8500a6ef69ec4e3feb6b1d98e610ac8b7ec3faf6ad760b7bad1db4ba3485e8a94dc250ae3"
    "fdb41ed15fb6a8e5eba0fc3dd60bc8e30c5c4287e53805db059ae0648db2f64264ed5e39be2e20d82df566da"
    "8dd5998ccabdae053060ae6c7b4378e846d29f37ed7b4ea9ec5d82e7961b7f25a9323851f681d582363aa5f8"
    "9937f5a67258bf63ad6f1a0b1d96dbd4faddfcefc5266ba6611722395c906556be52afe3f565636ad1b17d50"
    "8b73d8743eeb524be22b3dcbc2c7468d54119c7468449a13d8e3b95811a198f3491de3e7fe942b330407abf8"
    "2a4ed7c1b311663ac69890f4157015853d91e923037c227a33cdd5ec281ca3f79c44546b9d90ca00f064c99e"
    "3dd97911d39fe9c5d0b23a229a234cb36186c4819e8b9c5927726632291d6a418211cc2962e20fe47feb3edf"
    "330f2c603a9d48c0fcb5699dbfe5896425c5bac4aee82e57a85aaf4e2513e4f05796b07ba2ee47d80506f8d2"
    "c25e50fd14de71e6c418559302f939b0e1abd576f279c4b2e0feb85c1f28ff18f58891ffef132eef2fa09346"
    "aee33c28eb130ff28f5b766953334113211996d20011a198e3fc433f9f2541010ae17c1bf202580f6047472f"
    "b36857fe843b19f5984009ddc324044e847a4f4a0ab34f719595de37252d6235365e9b84392b061085349d73"
    "203a4a13e96f5432ec0fd4a1ee65accdd5e3904df54c1da510b0ff20dcc0c77fcb2c0e0eb605cb0504db8763"
    "2cf3d8b4dae6e705769d1de354270123cb11450efc60ac47683d7b8d0f811365565fd98c4c8eb936bcab8d06"
    "9fc33bd801b03adea2e1fbc5aa463d08ca19896d2bf59a071b851e6c239052172f296bfb5e72404790a21810"
    "14f3b94a4e97d117b438130368cc39dbb2d198065ae3986547926cd2162f40a29f0c3c8745c0f50fba3852e5"
    "66d44575c29d39a03f0cda721984b6f440591f355e12d439ff150aab7613499dbd49adabc8676eef023b15b6"
    "5bfc5ca06948109f23f350db82123535eb8a7433bdabcb909271a6ecbcb58b936a88cd4e8f2e6ff5800175f1"
    "13253d8fa9ca8885c2f552e657dc603f252e1a8e308f76f0be79e2fb8f5d5fbbe2e30ecadd220723c8c0aea8"
    "078cdfcb3868263ff8f0940054da48781893a7e49ad5aff4af300cd804a6b6279ab3ff3afb64491c85194aab"
    "760d58a606654f9f4400e8b38591356fbf6425aca26dc85244259ff2b19c41b9f96f3ca9ec1dde434da7d2d3"
    "92b905ddf3d1f9af93d1af5950bd493f5aa731b4056df31bd267b6b90a079831aaf579be0a39013137aac6d4"
    "04f518cfd46840647e78bfe706ca4cf5e9c5453e9f7cfd2b8b4c8d169a44e55c88d4a9a7f9474241e221af44"
    "860018ab0856972e194cd934";
constexpr std::string_view rfc9369ClientInitial =
    "d76b3343cf088394c8f03e5157080000449ea0c95e82ffe67b6abcdb4298b485dd04de806071bf03dceebfa1"
    "62e75d6c96058bdbfb127cdfcbf903388e99ad049f9a3dd4425ae4d0992cfff18ecf0fdb5a842d09747052f1"
    "7ac2053d21f57c5d250f2c4f0e0202b70785b7946e992e58a59ac52dea6774d4f03b55545243cf1a12834e3f"
    "249a78d395e0d18f4d766004f1a2674802a747eaa901c3f10cda5500cb9122faa9f1df66c392079a1b40f0de"
    "1c6054196a11cbea40afb6ef5253cd6818f6625efce3b6def6ba7e4b37a40f7732e093daa7d52190935b8da5"
    "8976ff3312ae50b187c1433c0f028edcc4c2838b6a9bfc226ca4b4530e7a4ccee1bfa2a3d396ae5a3fb51238"
    "4b2fdd851f784a65e03f2c4fbe11a53c7777c023462239dd6f7521a3f6c7d5dd3ec9b3f233773d4b46d23cc3"
    "75eb198c63301c21801f6520bcfb7966fc49b393f0061d974a2706df8c4a9449f11d7f3d2dcbb90c6b877045"
    "636e7c0c0fe4eb0f697545460c806910d2c355f1d253bc9d2452aaa549e27a1fac7cf4ed77f322e8fa894b6a"
    "83810a34b361901751a6f5eb65a0326e07de7c1216ccce2d0193f958bb3850a833f7ae432b65bc5a53975c15"
    "5aa4bcb4f7b2c4e54df16efaf6ddea94e2c50b4cd1dfe06017e0e9d02900cffe1935e0491d77ffb4fdf85290"
    "fdd893d577b1131a610ef6a5c32b2ee0293617a37cbb08b847741c3b8017c25ca9052ca1079d8b78aebd4787"
    "6d330a30f6a8c6d61dd1ab5589329de714d19d61370f8149748c72f132f0fc99f34d766c6938597040d8f9e2"
    "bb522ff99c63a344d6a2ae8aa8e51b7b90a4a806105fcbca31506c446151adfeceb51b91abfe43960977c874"
    "71cf9ad4074d30e10d6a7f03c63bd5d4317f68ff325ba3bd80bf4dc8b52a0ba031758022eb025cdd770b44d6"
    "d6cf0670f4e990b22347a7db848265e3e5eb72dfe8299ad7481a408322cac55786e52f633b2fb6b614eaed18"
    "d703dd84045a274ae8bfa73379661388d6991fe39b0d93debb41700b41f90a15c4d526250235ddcd6776fc77"
    "bc97e7a417ebcb31600d01e57f32162a8560cacc7e27a096d37a1a86952ec71bd89a3e9a30a2a26162984d77"
    "40f81193e8238e61f6b5b984d4d3dfa033c1bb7e4f0037febf406d91c0dccf32acf423cfa1e7071010d3f270"
    "121b493ce85054ef58bada42310138fe081adb04e2bd901f2f13458b3d6758158197107c14ebb193230cd115"
    "7380aa79cae1374a7c1e5bbcb80ee23e06ebfde206bfb0fcbc0edc4ebec309661bdd908d532eb0c6adc38b7c"
    "a7331dce8dfce39ab71e7c32d318d136b6100671a1ae6a6600e3899f31f0eed19e3417d134b90c9058f8632c"
    "798d4490da4987307cba922d61c39805d072b589bd52fdf1e86215c2d54e6670e07383a27bbffb5addf47d66"
    "aa85a0c6f9f32e59d85a44dd5d3b22dc2be80919b490437ae4f36a0ae55edf1d0b5cb4e9a3ecabee93dfc6e3"
    "8d209d0fa6536d27a5d6fbb17641cde27525d61093f1b28072d111b2b4ae5f89d5974ee12e5cf7d5da4d6a31"
    "123041f33e61407e76cffcdcfd7e19ba58cf4b536f4c4938ae79324dc402894b44faf8afbab35282ab659d13"
    "c93f70412e85cb199a37ddec600545473cfb5a05e08d0b209973b2172b4d21fb69745a262ccde96ba18b2faa"
    "745b6fe189cf772a9f84cbfc";
const Bytes rfcConnectionId = fromHex("8394c8f03e515708");

std::string hex(const std::uint8_t* bytes, std::size_t length) {
    std::string out;
    for (std::size_t i = 0; i < length; ++i) {
        out += "0123456789abcdef"[bytes[i] >> 4];
        out += "0123456789abcdef"[bytes[i] & 15];
    }
    return out;
}

Bytes cryptoFrame(const Bytes& stream, std::size_t from, std::size_t to) {
    Bytes frame = {0x06};
    put16(frame, 0x4000 | static_cast<unsigned>(from));
    put16(frame, 0x4000 | static_cast<unsigned>(to - from));
    frame.insert(frame.end(), stream.begin() + static_cast<long>(from),
                 stream.begin() + static_cast<long>(to));
    return frame;
}

NameStatus readDatagram(QuicInitialReader& reader, QuicClientFlow& flow, const Bytes& datagram,
                        StreamPrefixPool& pool, LearntName& name) {
    return reader.read(flow, datagram.data(), static_cast<std::uint32_t>(datagram.size()), pool,
                       name);
}

}  // namespace

TEST(QuicNames, SamplePacketsOfEachVersionRead) {
    QuicInitialReader reader;
    ASSERT_TRUE(reader.ready());
    QuicKeys keys;
    ASSERT_TRUE(reader.clientKeys(quicVersion1, rfcConnectionId.data(), 8, keys));
    EXPECT_EQ(hex(keys.key, 16), "1f369613dd76d5467730efcbe3b1a22d");
    EXPECT_EQ(hex(keys.iv, 12), "fa044b2f42a3fd3b46fb255c");
    EXPECT_EQ(hex(keys.hp, 16), "9f50449e04a0e810283a1e9933adedd2");
    ASSERT_TRUE(reader.clientKeys(quicVersion2, rfcConnectionId.data(), 8, keys));
    EXPECT_EQ(hex(keys.key, 16), "8b1a0bc121284290a29e0971b5cd045d");
    EXPECT_EQ(hex(keys.iv, 12), "91f73e2351d8fa91660e909f");
    EXPECT_EQ(hex(keys.hp, 16), "45b95e15235d6f45a6b19cbcb0294ba9");
    // draft-29's sample keys (its appendix A), which drafts 30 to 32 and the versions reserved
    // for version negotiation share, as Wireshark reads them; drafts 33 and 34 have version 1's.
    for (std::uint32_t version : {quicDraft29, 0xff000020u, 0x0a0a0a0au, 0x5a6afaeau}) {
        ASSERT_TRUE(reader.clientKeys(version, rfcConnectionId.data(), 8, keys)) << version;
        EXPECT_EQ(hex(keys.key, 16), "175257a31eb09dea9366d8bb79ad80ba");
        EXPECT_EQ(hex(keys.iv, 12), "6b26114b9cba2b63a9e8dd4f");
        EXPECT_EQ(hex(keys.hp, 16), "9ddd12c994c0698b89374a9c077a3077");
    }
    ASSERT_TRUE(reader.clientKeys(quicDraft34, rfcConnectionId.data(), 8, keys));
    EXPECT_EQ(hex(keys.key, 16), "1f369613dd76d5467730efcbe3b1a22d");
    for (std::uint32_t version : {0xff00001cu, 0xff000023u, 0x0a0a0a0bu, 0x00000002u}) {
        EXPECT_FALSE(reader.clientKeys(version, rfcConnectionId.data(), 8, keys)) << version;
    }

    StreamPrefixPool pool(2);
    for (std::string_view sample : {rfc9001ClientInitial, rfc9369ClientInitial}) {
        const Bytes datagram = fromHex(sample);
        ASSERT_EQ(datagram.size(), 1200u);
        QuicClientFlow flow;
        LearntName name;
        ASSERT_EQ(readDatagram(reader, flow, datagram, pool, name), NameStatus::Found);
        EXPECT_STREQ(name.name.text, "example.com");
        EXPECT_EQ(name.source, NameSource::Quic);
        EXPECT_EQ(pool.buffersInUse(), 0u);  // read in place
        EXPECT_EQ(readDatagram(reader, flow, datagram, pool, name), NameStatus::Absent);
        // One changed byte anywhere after the packet number fails the tag: nothing is read.
        for (std::size_t at : {std::size_t{30}, std::size_t{600}, datagram.size() - 1}) {
            Bytes forged = datagram;
            forged[at] ^= 0x01;
            QuicClientFlow fresh;
            EXPECT_EQ(readDatagram(reader, fresh, forged, pool, name), NameStatus::Absent) << at;
        }
        QuicClientFlow again;  // the contexts, kept from packet to packet, recover
        EXPECT_EQ(readDatagram(reader, again, datagram, pool, name), NameStatus::Found);
    }

    // A reserved version protected with draft-29's keys is read; under version 1's keys it does
    // not authenticate, and gives nothing.
    const Bytes tlsHello = clientHello("reserved.example", 32);
    const Bytes hello = cryptoFrame(tlsHello, 0, tlsHello.size());
    for (const std::uint32_t keysOf : {quicDraft29, quicVersion1}) {
        ASSERT_TRUE(reader.clientKeys(keysOf, rfcConnectionId.data(), 8, keys));
        QuicClientFlow flow;
        LearntName name;
        const Bytes datagram =
            testkit::protectClientInitial(keys, rfcConnectionId, 0, hello, 1200, 0x1a2a3a4a);
        EXPECT_EQ(readDatagram(reader, flow, datagram, pool, name),
                  keysOf == quicDraft29 ? NameStatus::Found : NameStatus::Absent);
    }
}

TEST(QuicNames, CryptoStreamScatteredOverTwoInitialPackets) {
    QuicInitialReader reader;
    StreamPrefixPool pool(2);
    const Bytes connectionId = fromHex("0011223344556677");
    QuicKeys keys;
    ASSERT_TRUE(reader.clientKeys(quicVersion1, connectionId.data(), 8, keys));
    const Bytes hello = clientHello("scattered.example.net", 1216 + 32);
    ASSERT_GT(hello.size(), 1200u);  // more than one packet holds
    // First packet: the hello's second half, then a PING, an ACK and its first 50 bytes.
    Bytes first = cryptoFrame(hello, 900, hello.size());
    append(first, {0x01, 0x02, 0x05, 0x00, 0x01, 0x00, 0x01, 0x01});
    append(first, cryptoFrame(hello, 0, 50));
    // Second packet, sent to the server's connection ID with the first one's keys: the middle.
    const Bytes second = cryptoFrame(hello, 50, 900);
    QuicClientFlow flow;
    LearntName name;
    EXPECT_EQ(readDatagram(reader, flow,
                           testkit::protectClientInitial(keys, connectionId, 0, first), pool, name),
              NameStatus::NeedMore);
    EXPECT_EQ(flow.crypto.contiguous, 50u);
    EXPECT_EQ(readDatagram(reader, flow, fromHex("40000000"), pool, name), NameStatus::NeedMore);
    EXPECT_EQ(readDatagram(reader, flow,
                           testkit::protectClientInitial(keys, fromHex("aabbccdd"), 1, second),
                           pool, name),
              NameStatus::Found);
    EXPECT_STREQ(name.name.text, "scattered.example.net");
    EXPECT_EQ(pool.buffersInUse(), 0u);

    // The two packets coalesced in one datagram, the middle first. A frame that no Initial
    // holds (STREAM) ends its packet's frames: the bytes after it are not read.
    QuicClientFlow coalesced;
    const Bytes middle = testkit::protectClientInitial(keys, connectionId, 3, second);
    Bytes datagram = middle;
    append(datagram, testkit::protectClientInitial(keys, connectionId, 4, first));
    EXPECT_EQ(readDatagram(reader, coalesced, datagram, pool, name), NameStatus::Found);
    QuicClientFlow stopped;
    Bytes withStream = {0x08, 0x00, 0x01, 'x'};
    append(withStream, cryptoFrame(hello, 0, 50));
    EXPECT_EQ(readDatagram(reader, stopped,
                           testkit::protectClientInitial(keys, connectionId, 0, withStream), pool,
                           name),
              NameStatus::NeedMore);
    EXPECT_EQ(stopped.crypto.contiguous, 0u);
    QuicInitialReader::end(stopped, pool);
    EXPECT_EQ(pool.buffersInUse(), 0u);
}

// ---- HTTP ----

namespace {

NameStatus host(std::string_view request, LearntName& name) {
    return readHttpHost(reinterpret_cast<const std::uint8_t*>(request.data()),
                        static_cast<std::uint32_t>(request.size()), name);
}

}  // namespace

TEST(HttpNames, HostOfTheFirstRequest) {
    LearntName name;
    ASSERT_EQ(host("GET /index.html HTTP/1.1\r\nUser-Agent: x\r\nhOsT: \t www.example.com:8080 "
                   "\r\nHost: second\r\n\r\n",
                   name),
              NameStatus::Found);
    EXPECT_STREQ(name.name.text, "www.example.com:8080");
    ASSERT_EQ(host("PROPFIND / HTTP/1.0\nX-Long: " + std::string(3000, 'y') +
                       "\n folded\nHost: dav.example\n",
                   name),
              NameStatus::Found);
    EXPECT_STREQ(name.name.text, "dav.example");
    ASSERT_EQ(host("OPTIONS\r\nHost: bare.example\r\n", name), NameStatus::Found);
    for (std::string_view partial : {"G", "PROPP", "GET ", "GET / HTTP/1.1\r", "GET / HTTP/1.1\r\n",
                                     "POST / HTTP/1.1\r\nAccept: */*\r\nHost: half.exa"}) {
        EXPECT_EQ(host(partial, name), NameStatus::NeedMore) << partial;
    }
    for (std::string_view other :
         {"get / HTTP/1.1\r\n", "GETS / HTTP/1.1\r\n", "SSH-2.0-x\r\n", "PRI * HTTP/2.0\r\n",
          "GET /\x01 HTTP/1.1\r\n", "\x16\x03\x01", "HTTP/1.1 200 OK\r\n"}) {
        EXPECT_EQ(host(other, name), NameStatus::Absent) << other;
    }
    EXPECT_EQ(host("GET / HTTP/1.0\r\nAccept: */*\r\n\r\nHost: late\r\n", name),
              NameStatus::NoName);
    EXPECT_EQ(host("GET / HTTP/1.1\r\nHost:   \r\n", name), NameStatus::NoName);
    EXPECT_EQ(host("GET / HTTP/1.1\r\nHost : spaced\r\n", name), NameStatus::Malformed);
    EXPECT_EQ(host("GET / HTTP/1.1\r\nHost: " + std::string(256, 'h') + "\r\n", name),
              NameStatus::Malformed);
}
