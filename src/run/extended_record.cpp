// Core's side of the extended record (-x): the tables it adds beside the classic ones, the DAYS
// row of each analysed frame whose local date differs from the one before, the rows written
// once after the loop (NOT_ANALYSED, VLANS, CAPTURE), and the console line of the frames not
// analysed. The classic tables are made and filled exactly as without it.
#include <sqlite3.h>

#include <cstdio>
#include <ctime>
#include <string>

#include "db/extended_schema.h"
#include "run/core.h"
#include "version.h"

namespace tidewrack {

namespace {

// "2024-03-10T01:59:59.999999Z": a capture time in UTC. A trace may store more than a second's
// worth of microseconds, or (read as libpcap reads it) fewer than none: they are carried into
// the seconds.
std::string utcText(const timeval& time) {
    long micro = static_cast<long>(time.tv_usec % 1000000);
    std::time_t seconds = time.tv_sec + time.tv_usec / 1000000;
    if (micro < 0) {
        micro += 1000000;
        --seconds;
    }
    std::tm utc{};
    char text[64];
    if (gmtime_r(&seconds, &utc) == nullptr ||
        std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &utc) == 0) {
        return {};
    }
    char fraction[16];
    std::snprintf(fraction, sizeof fraction, ".%06ldZ", micro);
    return text + std::string(fraction);
}

// At most this many kinds are named on the console line; the others are summed.
constexpr std::size_t namedKinds = 8;

}  // namespace

void Core::createExtendedTables() {
    exec(sql::createFrames6);
    exec(sql::createCapture);
    exec(sql::createDays);
    exec(sql::createNotAnalysed);
    exec(sql::createVlans);
}

void Core::writeDayRow() {
    const std::tm* local = pcapEngine->view.localTime;
    const int day = local != nullptr ? local->tm_year * 512 + local->tm_yday : -1;
    const long offset = local != nullptr ? local->tm_gmtoff : 0;
    if (day == recordedDay && offset == recordedOffset) {
        return;
    }
    recordedDay = day;
    recordedOffset = offset;
    char date[32];
    if (local != nullptr && std::strftime(date, sizeof date, "%Y-%m-%d", local) != 0) {
        execFormatted(sql::insertDayFormat, pcapEngine->view.packetCount, date, offset);
    } else {
        execFormatted(sql::insertUnknownDayFormat, pcapEngine->view.packetCount);
    }
}

void Core::writeExtendedRows() {
    const FrameCensus& census = *pcapEngine->census;
    for (const FrameCensus::Kind& kind : census.notAnalysedKinds()) {
        execFormatted(sql::insertNotAnalysedFormat, kind.name.c_str(),
                      static_cast<unsigned long long>(kind.counts.frames),
                      static_cast<unsigned long long>(kind.counts.bytes));
    }
    for (const auto& [vlan, counts] : census.vlanCounts()) {
        execFormatted(sql::insertVlanFormat, vlan, static_cast<unsigned long long>(counts.frames),
                      static_cast<unsigned long long>(counts.bytes));
    }
    writeCaptureRow();
}

void Core::writeCaptureRow() {
    const PcapEngine& engine = *pcapEngine;
    const FrameCensus& census = *engine.census;
    const bool anyFrame = census.deliveredFrames > 0;
    const std::string first = anyFrame ? utcText(census.first) : "";
    const std::string last = anyFrame ? utcText(census.last) : "";
    // The host's offset and zone at the first frame (or now, without one): FRAMES.time is the
    // local time of this host.
    const std::time_t at = anyFrame ? census.first.tv_sec : std::time(nullptr);
    std::tm local{};
    const bool known = localtime_r(&at, &local) != nullptr;
    const int dlt = pcap_datalink(engine.handle);
    const char* linkName = pcap_datalink_val_to_name(dlt);
    unsigned received = 0, dropped = 0;
    const bool live = engine.kernelCounts(received, dropped);
    const std::string receivedText = live ? std::to_string(received) : "NULL";
    const std::string droppedText = live ? std::to_string(dropped) : "NULL";
    char* statement = sqlite3_mprintf(
        sql::insertCaptureFormat, engine.sourceName,
        linkName != nullptr ? linkName : std::to_string(dlt).c_str(), pcap_snapshot(engine.handle),
        filter.given ? filter.value : nullptr, mode.value, TIDEWRACK_VERSION,
        first.empty() ? nullptr : first.c_str(), last.empty() ? nullptr : last.c_str(),
        known ? local.tm_gmtoff : 0L, known ? local.tm_zone : nullptr,
        static_cast<unsigned long long>(census.deliveredFrames),
        static_cast<unsigned long long>(census.analysedFrames), receivedText.c_str(),
        droppedText.c_str(), engine.readError.empty() ? nullptr : engine.readError.c_str());
    if (statement == nullptr) {
        databaseFailed = true;
        return;
    }
    exec(statement);
    sqlite3_free(statement);
}

void Core::printNotAnalysed() const {
    const FrameCensus& census = *pcapEngine->census;
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

}  // namespace tidewrack
