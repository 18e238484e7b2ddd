// The readers of names from the traffic, fed messages built byte by byte: DNS responses (CNAME
// chains, mDNS, TCP framing and every kind of hostile name), the stream prefix that puts TCP
// segments back in order, TLS ClientHellos split across records and segments, and HTTP
// requests.
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
#include "names/stream_prefix.h"
#include "names/tls_client_hello.h"

using namespace tidewrack;

namespace {

using Bytes = std::vector<std::uint8_t>;

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
