// The extended record: the link-layer reading of each frame and its census, the tables beside
// the classic ones and their rows, and what the console says of it.
#include "extended/extended_record.h"

#include <sqlite3.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <iterator>
#include <string>

#include "capture/PcapEngine.h"
#include "capture/decode.h"
#include "capture/ipv6_text.h"
#include "capture/transport_facts.h"
#include "db/extended_schema.h"
#include "names/name_text.h"
#include "run/traffic_writer.h"
#include "version.h"

namespace tidewrack {

namespace {

// Decimal digits of `value` at `out`, at least `minimum` of them; returns the end.
char* digits(char* out, std::uint64_t value, int minimum = 1) {
    char reversed[24];
    int n = 0;
    do {
        reversed[n++] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value != 0 || n < minimum);
    while (n > 0) {
        *out++ = reversed[--n];
    }
    return out;
}

// "2024-03-10T01:59:59.999999Z": a capture time in UTC, its microseconds within a second;
// empty when the time has no date. The years 1970 to 9999 are worked out here, by the calendar of
// <chrono>; any other time goes to the C library, whose conversion costs three times as much.
using UtcText = char[48];
void formatUtc(const timeval& time, UtcText& text) {
    constexpr std::time_t lastSecondOf9999 = 253402300799;
    if (time.tv_sec >= 0 && time.tv_sec <= lastSecondOf9999 && time.tv_usec >= 0 &&
        time.tv_usec < 1000000) {
        namespace chrono = std::chrono;
        const chrono::sys_seconds at{chrono::seconds{time.tv_sec}};
        const chrono::sys_days day = chrono::floor<chrono::days>(at);
        const chrono::year_month_day date{day};
        const chrono::hh_mm_ss<chrono::seconds> clock{at - day};
        const std::uint64_t fields[] = {static_cast<std::uint64_t>(int{date.year()}),
                                        unsigned{date.month()},
                                        unsigned{date.day()},
                                        static_cast<std::uint64_t>(clock.hours().count()),
                                        static_cast<std::uint64_t>(clock.minutes().count()),
                                        static_cast<std::uint64_t>(clock.seconds().count()),
                                        static_cast<std::uint64_t>(time.tv_usec)};
        constexpr char after[] = "--T::.Z";
        constexpr int widths[] = {4, 2, 2, 2, 2, 2, 6};
        static_assert(std::size(widths) == std::size(after) - 1);
        char* out = text;
        for (std::size_t i = 0; i < std::size(fields); ++i) {
            out = digits(out, fields[i], widths[i]);
            *out++ = after[i];
        }
        *out = '\0';
        return;
    }
    const std::time_t seconds = time.tv_sec;
    std::tm utc{};
    const std::size_t length = gmtime_r(&seconds, &utc) != nullptr
                                   ? std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &utc)
                                   : 0;
    if (length == 0) {
        text[0] = '\0';
        return;
    }
    std::snprintf(text + length, sizeof text - length, ".%06ldZ", static_cast<long>(time.tv_usec));
}

// An address of either family as FRAMES and FRAMES6 write it.
void formatAddress(std::uint8_t family, const std::uint8_t (&address)[16],
                   char (&text)[ipv6TextSize]) {
    if (family == 6) {
        formatIpv6(address, text);
        return;
    }
    char* at = text;
    for (int i = 0; i < 4; ++i) {
        at = digits(at, address[i]);
        *at++ = i < 3 ? '.' : '\0';
    }
}

// A value that may be NULL, as the text of a statement.
using ValueText = char[32];
const char* count(ValueText& text, bool known, std::uint64_t value) {
    if (!known) {
        return "NULL";
    }
    *digits(text, value) = '\0';
    return text;
}
// Microseconds as seconds, to the microsecond.
const char* seconds(ValueText& text, Microseconds value) {
    if (value < 0) {
        return "NULL";
    }
    char* at = digits(text, static_cast<std::uint64_t>(value / 1000000));
    *at++ = '.';
    *digits(at, static_cast<std::uint64_t>(value % 1000000), 6) = '\0';
    return text;
}
// A text that may be NULL, between quotes; `text` holds no quote.
const char* quoted(ValueText& out, bool known, std::string_view text) {
    if (!known || text.size() + 3 > sizeof out) {
        return "NULL";
    }
    out[0] = '\'';
    text.copy(out + 1, text.size());
    out[text.size() + 1] = '\'';
    out[text.size() + 2] = '\0';
    return out;
}

// A pcap file may store a second's worth of microseconds or more, in an unsigned 32-bit field
// that libpcap widens with its sign: they are taken as the file states them and carried into the
// seconds, so that every time the record holds is a time.
void carryMicroseconds(timeval& ts) {
    if (ts.tv_usec < 0 || ts.tv_usec >= 1000000) {
        const std::int64_t micro =
            ts.tv_usec < 0 ? ts.tv_usec + (std::int64_t{1} << 32) : ts.tv_usec;
        ts.tv_sec += static_cast<std::time_t>(micro / 1000000);
        ts.tv_usec = static_cast<suseconds_t>(micro % 1000000);
    }
}

// Says on standard error why the run fails, after what standard output holds.
void failure(const char* text) {
    std::fflush(stdout);
    std::fprintf(stderr, "tidewrack: %s\n", text);
}

// At most this many kinds are named on the console line; the others are summed.
constexpr std::size_t namedKinds = 8;

}  // namespace

ExtendedRecord::ExtendedRecord()
    : trafficBySecond({&ExtendedRecord::writeSeconds, this}),
      connections({&ExtendedRecord::writeConnection, this}),
      names(connections.capacity(), {&ExtendedRecord::writeName, this}) {}

bool ExtendedRecord::chooseReading(int dlt, const char* name) {
    linkType = linkTypeOf(dlt);
    if (linkType != LinkType::Unsupported) {
        return true;
    }
    const char* typeName = pcap_datalink_val_to_name(dlt);
    const char* description = pcap_datalink_val_to_description(dlt);
    char type[128];
    if (typeName == nullptr) {
        std::snprintf(type, sizeof type, "%d", dlt);
    } else if (description == nullptr) {
        std::snprintf(type, sizeof type, "%s", typeName);
    } else {
        std::snprintf(type, sizeof type, "%s (%s)", typeName, description);
    }
    std::printf("\nUnable to analyse %s: link type %s is not read.\n", name, type);
    char text[512];
    std::snprintf(text, sizeof text, "unable to analyse %s: link type %s is not read", name, type);
    failure(text);
    unusable = true;
    return false;
}

bool ExtendedRecord::inputsUsable(const PcapEngine& engine) {
    if (!unusable && *engine.openFailed() != '\0') {
        unusable = true;
        failure(engine.openFailed());
    }
    return !unusable;
}

ExtendedRecord::Frame ExtendedRecord::readFrame(PacketView& view, LocalTimeText& clock,
                                                const pcap_pkthdr* delivered, const u_char* data,
                                                const bpf_program* frameFilter) {
    ++view.packetCount;  // every frame delivered has its number
    stamped = *delivered;
    carryMicroseconds(stamped.ts);
    census.delivered(stamped);
    if (frameFilter != nullptr && pcap_offline_filter(frameFilter, delivered, data) == 0) {
        census.rejected(stamped.len);
        return Frame::Rejected;
    }
    const LinkFrame link = readLinkLayer(linkType, FrameBytes(data, stamped.caplen));
    census.tagged(link.vlan, stamped.len);
    if (link.kind == NetworkKind::Ipv4) {
        view.ipv6 = false;
        decodeIpv4(view, clock, &stamped, data, link.network);
        if (view.frameDecoded) {
            census.analysed();
            return Frame::Analysed;
        }
    } else if (link.kind == NetworkKind::Ipv6 &&
               decodeIpv6(view, clock, &stamped, data, link.network)) {
        census.analysed();
        return Frame::Analysed;
    }
    census.notAnalysed(link, stamped.len);
    return Frame::NotAnalysed;
}

void ExtendedRecord::useTables(TrafficWriter& databaseWriter, int mode) {
    writer = &databaseWriter;
    writer->sendNoFailingStatements();
    flowsOnly = mode == TrafficWriter::flowsOnlyMode;
}

void ExtendedRecord::createTables(TrafficWriter& databaseWriter, int mode) {
    useTables(databaseWriter, mode);
    if (!flowsOnly) {
        writer->exec(sql::createFrames6);
        writer->exec(sql::createDays);
    }
    writer->exec(sql::createSeconds);
    writer->exec(sql::createCapture);
    writer->exec(sql::createNotAnalysed);
    writer->exec(sql::createVlans);
    writer->exec(sql::createConnections);
    writer->exec(sql::createNames);
}

void ExtendedRecord::recordPacket(const PacketView& p) {
    trafficBySecond.add(p.header->ts.tv_sec, p.ipv6 ? 6 : 4, p.protocol, p.header->len);
    if (!flowsOnly && p.ipv6) {
        writer->execFormatted(sql::insertFrame6Format, p.packetCount, p.sourceText, p.sourcePort,
                              p.destinationText, p.destinationPort, p.protocolName, p.tcpFlagsText,
                              p.timeText, static_cast<int>(p.header->ts.tv_usec), p.header->len);
    }
    PacketFacts facts;
    facts.frame = static_cast<std::uint32_t>(p.packetCount);
    facts.time = p.header->ts;
    const auto network = static_cast<std::uint32_t>(p.ipHeader - p.packetData);
    const IpLayers layers{static_cast<std::uint8_t>(p.ipv6 ? 6 : 4), network,
                          network + p.ipHeaderLength, p.protocol, !p.ipv6 || p.upperLayer};
    const FrameBytes frame(p.packetData, p.header->caplen);
    readTransportFacts(frame, p.header->len, layers, facts);
    names.packet(facts, frame, connections.add(facts));
    if (!flowsOnly) {
        recordDay(p);
    }
}

void ExtendedRecord::recordDay(const PacketView& p) {
    const std::tm* local = p.localTime;
    const int day = local != nullptr ? local->tm_year * 512 + local->tm_yday : -1;
    const long offset = local != nullptr ? local->tm_gmtoff : 0;
    if (day == recordedDay && offset == recordedOffset) {
        return;
    }
    recordedDay = day;
    recordedOffset = offset;
    char date[32];
    if (local != nullptr && std::strftime(date, sizeof date, "%Y-%m-%d", local) != 0) {
        writer->execFormatted(sql::insertDayFormat, p.packetCount, date, offset);
    } else {
        writer->execFormatted(sql::insertUnknownDayFormat, p.packetCount);
    }
}

void ExtendedRecord::writeConnection(void* record, const ConnectionRow& c) {
    ExtendedRecord& self = *static_cast<ExtendedRecord*>(record);
    TrafficWriter& writer = *self.writer;
    const NameTracker::ConnectionName name = self.names.ended(c.connection);
    NameText nameText;
    char nameSql[nameSqlSize] = "NULL", sourceSql[16] = "NULL";
    if (name.text != nullptr) {
        nameText.length = static_cast<std::uint16_t>(
            std::snprintf(nameText.text, sizeof nameText.text, "%s", name.text));
        writeSqlLiteral(nameText, nameSql);
        std::snprintf(sourceSql, sizeof sourceSql, "'%s'", name.source);
    }
    char client[ipv6TextSize], server[ipv6TextSize];
    formatAddress(c.family, c.client, client);
    formatAddress(c.family, c.server, server);
    UtcText first, last;
    formatUtc(c.firstTime, first);
    formatUtc(c.lastTime, last);
    ValueText clientPort, serverPort, duration, syns, connect, handshake, missed;
    ValueText health[8];
    const ConnectionRow::Direction* directions[] = {&c.fromClient, &c.fromServer};
    const char* healthTexts[8];
    for (int d = 0; d < 2; ++d) {
        const ConnectionRow::Direction& from = *directions[d];
        healthTexts[d] = count(health[d], c.tcp, from.retransmissions);
        healthTexts[2 + d] = count(health[2 + d], c.tcp, from.outOfOrder);
        healthTexts[4 + d] = count(health[4 + d], c.tcp, from.duplicateAcks);
        healthTexts[6 + d] = count(health[6 + d], c.tcp, from.zeroWindows);
    }
    ValueText state, history;
    static_assert(TcpHistory::textSize + 2 <= sizeof history);
    ValueText frames[2], counts[6];
    const std::uint64_t values[] = {c.fromClient.frames, c.fromClient.bytes, c.fromClient.payload,
                                    c.fromServer.frames, c.fromServer.bytes, c.fromServer.payload};
    const char* texts[6];
    for (int i = 0; i < 6; ++i) {
        texts[i] = count(counts[i], true, values[i]);
    }
    writer.execFormatted(
        sql::insertConnectionFormat, c.communityId, c.family, c.protocol,
        decoderProtocolName(c.protocol), client, count(clientPort, c.hasPorts, c.clientPort),
        server, count(serverPort, c.hasPorts, c.serverPort), count(frames[0], true, c.firstFrame),
        count(frames[1], true, c.lastFrame), first, last, seconds(duration, c.duration), texts[0],
        texts[1], texts[2], texts[3], texts[4], texts[5], quoted(state, c.tcp, c.state),
        quoted(history, c.tcp, c.history), count(syns, c.tcp, c.syns),
        c.tcp ? seconds(connect, c.connectTime) : "NULL",
        c.tcp ? seconds(handshake, c.handshakeTime) : "NULL", healthTexts[0], healthTexts[1],
        healthTexts[2], healthTexts[3], healthTexts[4], healthTexts[5], healthTexts[6],
        healthTexts[7], count(missed, c.tcp, c.missedBytes),
        endReasonNames[static_cast<std::size_t>(c.end)].data(), nameSql, sourceSql);
}

void ExtendedRecord::writeSeconds(void* record, const TrafficSeconds::Row* rows,
                                  std::uint32_t rowCount) {
    ExtendedRecord& self = *static_cast<ExtendedRecord*>(record);
    // Several rows to a statement, each about 60 bytes: a statement of 32 fits its buffer.
    constexpr std::uint32_t rowsPerStatement = TrafficSeconds::rowsPerBatch;
    static char statement[4096];
    for (std::uint32_t first = 0; first < rowCount; first += rowsPerStatement) {
        std::size_t length = std::strlen(sql::insertSecondsStart);
        std::memcpy(statement, sql::insertSecondsStart, length);
        for (std::uint32_t i = first; i < rowCount && i < first + rowsPerStatement; ++i) {
            const TrafficSeconds::Row& r = rows[i];
            ValueText second, frames, bytes;
            char* at = second;
            if (r.second < 0) {
                *at++ = '-';
            }
            *digits(at, r.second < 0 ? 0 - static_cast<std::uint64_t>(r.second)
                                     : static_cast<std::uint64_t>(r.second)) = '\0';
            const int written = std::snprintf(
                statement + length, sizeof statement - length, sql::secondsRowFormat,
                i > first ? "," : "", second, r.family, r.protocol,
                count(frames, true, r.counts.frames), count(bytes, true, r.counts.bytes));
            length += static_cast<std::size_t>(written);
        }
        statement[length] = '\0';
        self.writer->exec(statement);
    }
}

void ExtendedRecord::writeName(void* record, const NameRow& n) {
    ExtendedRecord& self = *static_cast<ExtendedRecord*>(record);
    char address[ipv6TextSize];
    formatAddress(n.family, n.address, address);
    char name[nameSqlSize], queried[nameSqlSize] = "NULL";
    writeSqlLiteral(*n.name, name);
    if (n.queried != nullptr) {
        writeSqlLiteral(*n.queried, queried);
    }
    ValueText ttl;
    const bool named = n.source == NameSource::Tls || n.source == NameSource::Quic;
    static char statement[sql::nameStatementSize];
    const int length =
        std::snprintf(statement, sizeof statement, sql::insertNameFormat,
                      static_cast<unsigned long long>(n.frame), address, name,
                      nameSourceText[static_cast<std::size_t>(n.source)], count(ttl, n.dns, n.ttl),
                      queried, named ? (n.echOuter ? "1" : "0") : "NULL");
    if (length > 0 && static_cast<std::size_t>(length) < sizeof statement) {
        self.writer->exec(statement);
    }
}

void ExtendedRecord::finish(const PcapEngine& engine, const char* filter, int mode) {
    if (writer != nullptr) {
        connections.finish();
        trafficBySecond.finish();
        writeRows(engine, filter, mode);
    }
    printNotAnalysed();
}

void ExtendedRecord::writeRows(const PcapEngine& engine, const char* filter, int mode) {
    for (const FrameCensus::Kind& kind : census.notAnalysedKinds()) {
        writer->execFormatted(sql::insertNotAnalysedFormat, kind.name.c_str(),
                              static_cast<unsigned long long>(kind.counts.frames),
                              static_cast<unsigned long long>(kind.counts.bytes));
    }
    for (const auto& [vlan, counts] : census.vlanCounts()) {
        writer->execFormatted(sql::insertVlanFormat, vlan,
                              static_cast<unsigned long long>(counts.frames),
                              static_cast<unsigned long long>(counts.bytes));
    }
    const bool anyFrame = census.deliveredFrames > 0;
    UtcText first = "", last = "";
    if (anyFrame) {
        formatUtc(census.first, first);
        formatUtc(census.last, last);
    }
    // The host's offset and zone at the first frame (or now, without one): FRAMES.time is the
    // local time of this host.
    const std::time_t at = anyFrame ? census.first.tv_sec : std::time(nullptr);
    std::tm local{};
    const bool known = localtime_r(&at, &local) != nullptr;
    const int dlt = pcap_datalink(engine.inputHandle());
    const char* linkName = pcap_datalink_val_to_name(dlt);
    unsigned received = 0, dropped = 0;
    const bool live = engine.kernelCounts(received, dropped);
    const std::string receivedText = live ? std::to_string(received) : "NULL";
    const std::string droppedText = live ? std::to_string(dropped) : "NULL";
    const std::string& readError = engine.readError();
    writer->execAllocated(sqlite3_mprintf(
        sql::insertCaptureFormat, engine.sourceName(),
        linkName != nullptr ? linkName : std::to_string(dlt).c_str(),
        pcap_snapshot(engine.inputHandle()), filter, mode, TIDEWRACK_VERSION,
        *first == '\0' ? nullptr : first, *last == '\0' ? nullptr : last,
        known ? local.tm_gmtoff : 0L, known ? local.tm_zone : nullptr,
        static_cast<unsigned long long>(census.deliveredFrames),
        static_cast<unsigned long long>(census.analysedFrames), receivedText.c_str(),
        droppedText.c_str(), readError.empty() ? nullptr : readError.c_str()));
}

void ExtendedRecord::printNotAnalysed() const {
    const std::vector<FrameCensus::Kind> kinds = census.notAnalysedKinds();
    if (kinds.empty()) {
        return;
    }
    const FrameCounts total = census.notAnalysedTotal();
    std::printf("%llu frames not analysed: ", static_cast<unsigned long long>(total.frames));
    FrameCounts others;
    for (std::size_t i = 0; i < kinds.size(); ++i) {
        if (i < namedKinds) {
            std::printf("%s%llu %s", i > 0 ? ", " : "",
                        static_cast<unsigned long long>(kinds[i].counts.frames),
                        kinds[i].name.c_str());
        } else {
            others.frames += kinds[i].counts.frames;
        }
    }
    if (kinds.size() > namedKinds) {
        std::printf(", %llu of %zu other kinds", static_cast<unsigned long long>(others.frames),
                    kinds.size() - namedKinds);
    }
    std::fputs("\n\n", stdout);
}

int ExtendedRecord::runEnded(const PcapEngine& engine, int status) {
    if (!inputsUsable(engine)) {
        return 1;
    }
    if (const std::string& readError = engine.readError(); !readError.empty()) {
        // What was read is kept; the line that standard output got is said where a script looks.
        std::fflush(stdout);
        std::fprintf(stderr, "PcapEngine: error reading packets: %s\n", readError.c_str());
        return 1;
    }
    if (status != 0) {
        failure("the run failed; standard output says why");
    }
    return status;
}

}  // namespace tidewrack
