// ExtendedRecord: the extended record (-x, --extended), the one owner of everything the run
// records beside the classic tables.
//
// On the input's side it chooses the reading of the link layer once, when an input opens
// (refusing a link type it cannot read), reads each frame the input delivers (its link layer, the
// user's filter on a trace, the frame census, the timestamp carried into whole seconds) and
// decodes the IPv4 and IPv6 packets it analyses into the packet view. An input that cannot be
// used, or that ends in a read error, fails the run. On the database's side it creates its
// tables (db/extended_schema.h), writes the FRAMES6 row of each IPv6 packet and the DAYS row of
// each analysed frame whose local date changes, and after the loop the rows of NOT_ANALYSED,
// VLANS and CAPTURE; on the console, the line of the frames not analysed. With a database, it
// also keeps the connection record: every analysed packet goes to its connection
// (connections/connection_table.h), each connection is written into CONNECTIONS as it ends, and
// the names that the traffic tells (names/name_tracker.h) go into NAMES and name the connections.
// The classic tables are made and filled exactly as without it.
#pragma once

#include <pcap/pcap.h>

#include <cstdint>
#include <string>

#include "capture/link_layer.h"
#include "capture/local_time_text.h"
#include "capture/packet_view.h"
#include "connections/connection_table.h"
#include "extended/frame_census.h"
#include "extended/traffic_seconds.h"
#include "names/name_tracker.h"

namespace tidewrack {

class PcapEngine;
class TrafficWriter;

class ExtendedRecord {
  public:
    ExtendedRecord();
    ExtendedRecord(const ExtendedRecord&) = delete;
    ExtendedRecord& operator=(const ExtendedRecord&) = delete;

    // The input. An input of link type `dlt` was opened as `name`: false, after saying why, when
    // its link type is not read.
    bool chooseReading(int dlt, const char* name);
    // False, after saying why on standard error, when an input asked for could not be opened or
    // read (the engine's own line on standard output says so too): the run then ends before
    // anything is created.
    bool inputsUsable(const PcapEngine& engine);
    // Counts a frame as the input delivered it and, when it is analysed, decodes it into `view`.
    // `frameFilter`, when given, is the user's filter, applied here so that the frames it
    // rejects are counted too. The view's header is `delivered` with its microseconds within a
    // second.
    enum class Frame : std::uint8_t { Analysed, NotAnalysed, Rejected };
    Frame readFrame(PacketView& view, LocalTimeText& clock, const pcap_pkthdr* delivered,
                    const u_char* data, const bpf_program* frameFilter);

    // The database: the tables of the analysis mode, then the rows, all through `writer`. Mode
    // 3 keeps no row per frame (FRAMES6, DAYS); every mode keeps the traffic of each second.
    void createTables(TrafficWriter& writer, int mode);
    // The same database for a record made after its tables were (each input the fuzzer runs).
    void useTables(TrafficWriter& writer, int mode);
    // After the classic rows of an analysed packet: its FRAMES6 row, when it is IPv6, its DAYS
    // row, when its local date or UTC offset is not the one before (not in mode 3), its
    // second's counts, and its connection.
    void recordPacket(const PacketView& packet);
    // After the loop and its line of the packets analysed: the connections still open, and the
    // rows of NOT_ANALYSED, VLANS and CAPTURE (with the user's filter or null, and the analysis
    // mode), when there is a database; and the console line of the frames not analysed, if any.
    void finish(const PcapEngine& engine, const char* filter, int mode);
    // Once the run is over, with the status it ended with: why it fails, on standard error
    // (the input that could not be used, the read error that ended it, or, for any other
    // failure, where the reason was said); the status, 1 when the input ended in a read error.
    int runEnded(const PcapEngine& engine, int status);

  private:
    void recordDay(const PacketView& packet);
    void writeRows(const PcapEngine& engine, const char* filter, int mode);
    void printNotAnalysed() const;
    // The CONNECTIONS row of a connection that ended, and the NAMES row of a name learnt.
    static void writeConnection(void* record, const ConnectionRow& row);
    static void writeName(void* record, const NameRow& row);
    static void writeSeconds(void* record, const TrafficSeconds::Row* rows, std::uint32_t rowCount);

    FrameCensus census;
    TrafficWriter* writer = nullptr;  // of the database, once its tables are made
    bool flowsOnly = false;           // mode 3
    TrafficSeconds trafficBySecond;
    ConnectionTable connections;
    NameTracker names;
    LinkType linkType = LinkType::Ethernet;
    bool unusable = false;
    pcap_pkthdr stamped{};  // the current frame's header, its microseconds within a second
    // The day and UTC offset of the last DAYS row; no local date is day -1, no row yet day -2.
    int recordedDay = -2;
    long recordedOffset = 0;
};

}  // namespace tidewrack
