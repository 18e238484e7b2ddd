// The extended record: the link-layer reading of each frame and its census, the tables beside
// the classic ones and their rows, and what the console says of it.
#include "extended/extended_record.h"

#include <sqlite3.h>

#include <cstdio>
#include <ctime>
#include <string>

#include "capture/PcapEngine.h"
#include "capture/decode.h"
#include "db/extended_schema.h"
#include "run/traffic_writer.h"
#include "version.h"

namespace tidewrack {

namespace {

// "2024-03-10T01:59:59.999999Z": a capture time in UTC, its microseconds within a second.
std::string utcText(const timeval& time) {
    const std::time_t seconds = time.tv_sec;
    std::tm utc{};
    char text[64];
    if (gmtime_r(&seconds, &utc) == nullptr ||
        std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &utc) == 0) {
        return {};
    }
    char fraction[16];
    std::snprintf(fraction, sizeof fraction, ".%06ldZ", static_cast<long>(time.tv_usec));
    return text + std::string(fraction);
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

void ExtendedRecord::createTables(TrafficWriter& writer) {
    writer.exec(sql::createFrames6);
    writer.exec(sql::createCapture);
    writer.exec(sql::createDays);
    writer.exec(sql::createNotAnalysed);
    writer.exec(sql::createVlans);
}

void ExtendedRecord::recordPacket(TrafficWriter& writer, const PacketView& p) {
    if (p.ipv6) {
        writer.execFormatted(sql::insertFrame6Format, p.packetCount, p.sourceText, p.sourcePort,
                             p.destinationText, p.destinationPort, p.protocolName, p.tcpFlagsText,
                             p.timeText, static_cast<int>(p.header->ts.tv_usec), p.header->len);
    }
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
        writer.execFormatted(sql::insertDayFormat, p.packetCount, date, offset);
    } else {
        writer.execFormatted(sql::insertUnknownDayFormat, p.packetCount);
    }
}

void ExtendedRecord::finish(TrafficWriter* writer, const PcapEngine& engine, const char* filter,
                            int mode) {
    if (writer != nullptr) {
        writeRows(*writer, engine, filter, mode);
    }
    printNotAnalysed();
}

void ExtendedRecord::writeRows(TrafficWriter& writer, const PcapEngine& engine, const char* filter,
                               int mode) {
    for (const FrameCensus::Kind& kind : census.notAnalysedKinds()) {
        writer.execFormatted(sql::insertNotAnalysedFormat, kind.name.c_str(),
                             static_cast<unsigned long long>(kind.counts.frames),
                             static_cast<unsigned long long>(kind.counts.bytes));
    }
    for (const auto& [vlan, counts] : census.vlanCounts()) {
        writer.execFormatted(sql::insertVlanFormat, vlan,
                             static_cast<unsigned long long>(counts.frames),
                             static_cast<unsigned long long>(counts.bytes));
    }
    const bool anyFrame = census.deliveredFrames > 0;
    const std::string first = anyFrame ? utcText(census.first) : "";
    const std::string last = anyFrame ? utcText(census.last) : "";
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
    writer.execAllocated(sqlite3_mprintf(
        sql::insertCaptureFormat, engine.sourceName(),
        linkName != nullptr ? linkName : std::to_string(dlt).c_str(),
        pcap_snapshot(engine.inputHandle()), filter, mode, TIDEWRACK_VERSION,
        first.empty() ? nullptr : first.c_str(), last.empty() ? nullptr : last.c_str(),
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

bool ExtendedRecord::reportFailure(const PcapEngine& engine) const {
    const std::string& readError = engine.readError();
    if (readError.empty()) {
        return unusable;
    }
    // What was read is kept; the line that standard output got is said where a script looks.
    std::fflush(stdout);
    std::fprintf(stderr, "PcapEngine: error reading packets: %s\n", readError.c_str());
    return true;
}

}  // namespace tidewrack
