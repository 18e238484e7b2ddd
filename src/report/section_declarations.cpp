// The declarations of the sections: their columns, the SQL of their rows, orders and charts.
#include "report/section_declarations.h"

#include <algorithm>

#include "report/derived_sections.h"
#include "report/special_sections.h"

namespace tidewrack::report {

namespace {

// A source that sent SYN to this many distinct ports of one target, or more, is scanning it.
#define SCAN_PORTS "10"
static_assert(std::string_view(SCAN_PORTS) == "10" && scanPorts == 10,
              "the port scans worked out in memory and in SQL take the same threshold");

// clang-format off
constexpr std::string_view ephemeralRemark = "* is every port without a well-known service";

constexpr Column databaseColumns[] = {
    {"path", "database", Kind::Text, Fit::CutFront},
    {"mode", "mode", Kind::Number},
    {"frames", "frames", Kind::Count},
    {"bytes", "bytes", Kind::Bytes},
    {"first", "first", Kind::Time, Fit::Drop, 2},
    {"last", "last", Kind::Time, Fit::Drop, 1},
    {"duration", "duration", Kind::Duration, Fit::Drop, 3},
    {"first_utc", "first (UTC)", Kind::UtcTime, Fit::Hidden},
    {"last_utc", "last (UTC)", Kind::UtcTime, Fit::Hidden},
    {"record", "record", Kind::Text, Fit::Hidden},
    {"read", "read from", Kind::Text, Fit::Hidden},
    {"time_goes_back", "time goes back", Kind::Count, Fit::Hidden},
    {"read_error", "read error", Kind::Text, Fit::Hidden},  // people read it in the note
};

// A record's column that may Drop is said only when it has something to say.
constexpr Column summaryColumns[] = {
    {"frames", "frames", Kind::Count},
    {"bytes", "bytes", Kind::Bytes},
    {"first", "first", Kind::Time},
    {"last", "last", Kind::Time},
    {"duration", "duration", Kind::Duration},
    {"active", "active time", Kind::Duration},
    {"idle_gaps", "idle gaps", Kind::Count, Fit::Hidden},  // people read it in the note
    {"days", "days", Kind::Number},
    {"protocols", "protocols seen", Kind::Names},
    {"endpoints", "endpoints", Kind::Count},
    {"conversations", "conversations", Kind::Count},
    {"first_utc", "first (UTC)", Kind::UtcTime, Fit::Hidden},
    {"last_utc", "last (UTC)", Kind::UtcTime, Fit::Hidden},
    {"time_zone", "times in", Kind::Text, Fit::Hidden},  // people read it in the note
    {"classic", "classic record (IPv4 only, no dates)", Kind::Text, Fit::Drop, 1},
    {"bits_per_second", "mean rate", Kind::BitRate},
    {"frames_per_second", "frames/s", Kind::FrameRate},
    {"filter", "filter", Kind::Text, Fit::Drop, 1},
    {"baseline", "baseline", Kind::Text, Fit::Drop, 1},
    // People read these in the notes of the changes since the baseline.
    {"baseline_active", "baseline's active time", Kind::Duration, Fit::Hidden},
    {"compared", "compared by", Kind::Text, Fit::Hidden},
    {"ranking", "ranking", Kind::Text, Fit::Hidden},
};

constexpr Column protocolColumns[] = {
    {"name", "protocol", Kind::Protocol, Fit::Cut},
    {"family", "family", Kind::Text, Fit::Hidden},
    {"frames", "frames", Kind::Count, Fit::Drop, 1},
    {"bytes", "bytes", Kind::Bytes},
    {"share", "share", Kind::Share},
};

constexpr Column notAnalysedColumns[] = {
    {"kind", "kind", Kind::Text, Fit::Cut},
    {"frames", "frames", Kind::Count},
    {"bytes", "bytes", Kind::Bytes, Fit::Drop, 1},
    {"share", "share of frames", Kind::Share},
};

constexpr Column vlanColumns[] = {
    {"vlan", "VLAN", Kind::Number},
    {"frames", "frames", Kind::Count},
    {"bytes", "bytes", Kind::Bytes, Fit::Drop, 1},
    {"share", "share of frames", Kind::Share},
};

constexpr Column intervalColumns[] = {
    {"day", "day", Kind::Number, Fit::Hidden},
    {"start", "interval", Kind::Interval},
    {"frames", "frames", Kind::Count},
    {"bytes", "bytes", Kind::Bytes},
    {"start_utc", "start (UTC)", Kind::UtcTime, Fit::Hidden},
    // A row of a collapsed idle gap, which the page draws as a break.
    {"idle", "no traffic for", Kind::Duration, Fit::Hidden},
};
constexpr Column timelineFacts[] = {
    {"interval", "interval, s", Kind::Number},
    {"idle_gaps", "idle gaps collapsed", Kind::Count},
    {"peak_over", "peaks over, s", Kind::Number},
    {"peak_bits_per_second", "peak rate", Kind::BitRate},
    {"peak_frames_per_second", "peak frames/s", Kind::FrameRate},
    {"peak_at", "busiest second", Kind::Interval},
    {"peak_at_utc", "busiest second (UTC)", Kind::UtcTime},
};

// The first seven are those of the endpoints new since the baseline as well. The bytes, by which
// the list is ranked unless --by says otherwise, go last, and the name, the rate and the duration
// outlast the times and the frames.
constexpr Column endpointColumns[] = {
    {"address", "address", Kind::Address},
    NAME_COLUMNS("address", 6),
    {"frames_sent", "frames sent", Kind::Count, Fit::Drop, 4},
    {"bytes_sent", "bytes sent", Kind::Bytes, Fit::Drop, 7},
    {"frames_received", "frames received", Kind::Count, Fit::DropPair, 4},
    {"bytes_received", "bytes received", Kind::Bytes, Fit::DropPair, 7},
    {"first", "first", Kind::Time, Fit::Drop, 3},
    {"last", "last", Kind::Time, Fit::Drop, 2},
    {"duration", "duration", Kind::Duration, Fit::Drop, 5},
    {"bits_per_second", "rate", Kind::BitRate, Fit::Drop, 6},
    {"frames_per_second", "frames/s", Kind::FrameRate, Fit::Drop, 1},
    {"first_utc", "first (UTC)", Kind::UtcTime, Fit::Hidden},
    {"last_utc", "last (UTC)", Kind::UtcTime, Fit::Hidden},
};

// The bytes, by which the list is ranked unless --by says otherwise, go last; the state, the name,
// the rate and the duration outlast the frames and the times. The name is the server's when the
// client is known, else b's.
constexpr Column conversationColumns[] = {
    {"protocol", "protocol", Kind::Protocol, Fit::Cut},
    {"family", "family", Kind::Text, Fit::Hidden},
    {"a", "a", Kind::End},
    {"b", "b", Kind::End},
    NAME_COLUMNS("server,b", 5),
    {"frames_a_to_b", "frames a>b", Kind::Count, Fit::Drop, 3},
    {"bytes_a_to_b", "bytes a>b", Kind::Bytes, Fit::Drop, 7},
    {"frames_b_to_a", "frames b>a", Kind::Count, Fit::DropPair, 3},
    {"bytes_b_to_a", "bytes b>a", Kind::Bytes, Fit::DropPair, 7},
    {"first", "first", Kind::Time, Fit::Drop, 2},
    {"last", "last", Kind::Time, Fit::Drop, 1},
    {"duration", "duration", Kind::Duration, Fit::Drop, 4},
    {"first_utc", "first (UTC)", Kind::UtcTime, Fit::Hidden},
    {"last_utc", "last (UTC)", Kind::UtcTime, Fit::Hidden},
    // People see who opened and how fast in the sections by state and by server; the rows of a
    // page on a wide screen keep to its width.
    {"state", "state", Kind::Text, Fit::Drop, 6},
    {"client", "client", Kind::End, Fit::Hidden},
    {"server", "server", Kind::End, Fit::Hidden},
    {"handshake", "handshake", Kind::Delay, Fit::Hidden},
    {"connect", "connect", Kind::Delay, Fit::Hidden},
    {"syns", "SYNs", Kind::Count, Fit::Hidden},
    {"bits_per_second", "rate", Kind::BitRate, Fit::Drop, 5},
    {"frames_per_second", "frames/s", Kind::FrameRate, Fit::Hidden},
    // Of the connection record, when every database was read from it.
    {"retransmissions_a_to_b", "retransmissions a>b", Kind::Count, Fit::Hidden},
    {"retransmissions_b_to_a", "retransmissions b>a", Kind::Count, Fit::Hidden},
    {"out_of_order_a_to_b", "out of order a>b", Kind::Count, Fit::Hidden},
    {"out_of_order_b_to_a", "out of order b>a", Kind::Count, Fit::Hidden},
    {"duplicate_acks_a_to_b", "duplicate ACKs a>b", Kind::Count, Fit::Hidden},
    {"duplicate_acks_b_to_a", "duplicate ACKs b>a", Kind::Count, Fit::Hidden},
    {"zero_windows_a_to_b", "zero windows a>b", Kind::Count, Fit::Hidden},
    {"zero_windows_b_to_a", "zero windows b>a", Kind::Count, Fit::Hidden},
    {"missed_bytes", "missed bytes", Kind::Bytes, Fit::Hidden},
    {"community_id", "Community ID", Kind::Text, Fit::Hidden},
};

constexpr Column worstHealthColumns[] = {
    {"protocol", "protocol", Kind::Protocol, Fit::Cut},
    {"client", "client", Kind::End},
    {"server", "server", Kind::End},
    NAME_COLUMNS("server", 2),
    {"state", "state", Kind::Text, Fit::Drop, 7},
    {"retransmissions", "retransmissions", Kind::Count},
    {"out_of_order", "out of order", Kind::Count, Fit::Drop, 5},
    {"duplicate_acks", "duplicate ACKs", Kind::Count, Fit::Drop, 4},
    {"zero_windows", "zero windows", Kind::Count, Fit::Drop, 3},
    {"missed_bytes", "missed bytes", Kind::Bytes, Fit::Drop, 6},
    {"community_id", "Community ID", Kind::Text, Fit::Drop, 1},
    {"first", "first", Kind::Time, Fit::Drop, 8},
    {"first_utc", "first (UTC)", Kind::UtcTime, Fit::Hidden},
};

constexpr Column stateColumns[] = {
    {"state", "state", Kind::Text},
    {"meaning", "meaning", Kind::Text, Fit::Cut},
    {"conversations", "conversations", Kind::Count},
    {"frames", "frames", Kind::Count, Fit::Drop, 1},
    {"bytes", "bytes", Kind::Bytes},
};

constexpr Column failedColumns[] = {
    {"client", "client", Kind::End},
    {"server", "server", Kind::End},
    NAME_COLUMNS("server", 1),
    {"state", "state", Kind::Text},
    {"syns", "SYNs", Kind::Count},
    {"first", "first", Kind::Time},
    {"last", "last", Kind::Time, Fit::Drop, 1},
    {"first_utc", "first (UTC)", Kind::UtcTime, Fit::Hidden},
    {"last_utc", "last (UTC)", Kind::UtcTime, Fit::Hidden},
};

constexpr Column handshakeServerColumns[] = {
    {"server", "server", Kind::Address},
    NAME_COLUMNS("server", 1),
    {"handshakes", "handshakes", Kind::Count},
    {"retried", "retried", Kind::Count, Fit::Drop, 1},
    {"median", "median", Kind::Delay},
    {"p95", "95th percentile", Kind::Delay},
};

constexpr Column handshakeServiceColumns[] = {
    {"port", "port", Kind::Port},
    {"service", "service", Kind::Text, Fit::Cut},
    {"handshakes", "handshakes", Kind::Count},
    {"retried", "retried", Kind::Count, Fit::Drop, 1},
    {"servers", "servers", Kind::Count, Fit::Drop, 1},
    {"median", "median", Kind::Delay},
    {"p95", "95th percentile", Kind::Delay},
};

constexpr Column trafficServiceColumns[] = {
    {"protocol", "protocol", Kind::Text},
    {"port", "port", Kind::Port},
    {"service", "service", Kind::Text, Fit::Cut},
    {"conversations", "conversations", Kind::Count},
    {"servers", "servers", Kind::Count},
    {"frames", "frames", Kind::Count, Fit::Drop, 1},
    {"bytes", "bytes", Kind::Bytes},
};

constexpr Column newServerColumns[] = {
    {"protocol", "protocol", Kind::Text},
    {"server", "server", Kind::End},
    {"service", "service", Kind::Text, Fit::Cut},
    {"conversations", "conversations", Kind::Count},
    {"frames", "frames", Kind::Count, Fit::Drop, 1},
    {"bytes", "bytes", Kind::Bytes},
};

// The server names learnt from the connections (CONNECTIONS of the extended record), and those
// new since the baseline.
constexpr Column serverNameColumns[] = {
    {"name", "server name", Kind::Text, Fit::Cut},
    {"name_source", "learnt from", Kind::Text, Fit::Drop, 1},
    {"connections", "connections", Kind::Count},
    {"bytes", "bytes", Kind::Bytes},
    {"first", "first", Kind::Time, Fit::Drop, 2},
    {"first_utc", "first (UTC)", Kind::UtcTime, Fit::Hidden},
    {"addresses", "addresses", Kind::Names, Fit::Cut},
};

constexpr Column endpointChangeColumns[] = {
    {"address", "address", Kind::Address},
    {"bytes_before", "bytes before", Kind::Bytes},
    {"bytes_now", "bytes now", Kind::Bytes},
    {"rate_before", "rate before", Kind::BitRate, Fit::Drop, 1},
    {"rate_now", "rate now", Kind::BitRate, Fit::Drop, 1},
    {"change", "change", Kind::Change},
    {"relative", "relative", Kind::Ratio},
};

constexpr Column goneEndpointColumns[] = {
    {"address", "address", Kind::Address},
    {"frames", "frames", Kind::Count, Fit::Drop, 1},
    {"bytes", "bytes", Kind::Bytes},
};

constexpr Column tcpServiceColumns[] = {
    {"port", "port", Kind::Port},
    {"service", "service", Kind::Text, Fit::Cut},
    {"connections", "connections", Kind::Count},
    {"servers", "servers", Kind::Count},
    {"frames", "frames", Kind::Count, Fit::Drop, 1},
    {"bytes", "bytes", Kind::Bytes},
};

constexpr Column udpServiceColumns[] = {
    {"port", "port", Kind::Port},
    {"service", "service", Kind::Text, Fit::Cut},
    {"frames", "frames", Kind::Count, Fit::Drop, 1},
    {"bytes", "bytes", Kind::Bytes},
};

constexpr Column icmpMessageColumns[] = {
    {"type", "type", Kind::Number},
    {"code", "code", Kind::Number},
    {"message", "message", Kind::Protocol, Fit::Cut},
    {"detail", "detail", Kind::Text, Fit::Cut, 0, true},
    {"family", "family", Kind::Text, Fit::Hidden},
    {"frames", "frames", Kind::Count, Fit::Drop, 1},
    {"bytes", "bytes", Kind::Bytes},
};

constexpr Column portScanColumns[] = {
    {"source", "source", Kind::Address},
    {"target", "target", Kind::Address},
    {"ports", "ports", Kind::Count},
    {"answered", "answered", Kind::Count},
    {"answered_share", "share", Kind::Share},
    {"open_ports", "open ports", Kind::Ports, Fit::Cut},
};

constexpr Column icmpErrorColumns[] = {
    {"reporter", "reported by", Kind::Address},
    {"sent_to", "sent to", Kind::Address},
    {"type", "type", Kind::Number, Fit::Hidden},
    {"code", "code", Kind::Number, Fit::Hidden},
    {"message", "message", Kind::Protocol, Fit::Cut},
    {"detail", "detail", Kind::Text, Fit::Cut, 0, true},
    {"family", "family", Kind::Text, Fit::Hidden},
    {"frames", "frames", Kind::Count, Fit::Drop, 1},
    {"bytes", "bytes", Kind::Bytes},
};

constexpr Column unansweredColumns[] = {
    {"source", "source", Kind::Address},
    {"destination", "destination", Kind::Address},
    {"port", "port", Kind::Number},
    {"attempts", "attempts", Kind::Count},
    {"frames", "frames", Kind::Count, Fit::Drop, 1},
    {"bytes", "bytes", Kind::Bytes},
};

// The frames delivered by all the databases, the whole of the frames not analysed and of the
// VLANs; a sum that no integer holds is kept at the largest one.
#define DELIVERED "(SELECT CAST(total(delivered) AS INTEGER) FROM database)"

// The TCP conversations: protocol numbers the catalog knows as TCP.
#define TCP_CONVERSATIONS "conversation WHERE protocol IN (SELECT number FROM protocol WHERE tcp)"

#define ENDPOINT_BYTES "(bytes_sent + bytes_received)"
#define ENDPOINT_FRAMES "(frames_sent + frames_received)"
#define CONVERSATION_BYTES "(c.bytes_ab + c.bytes_ba)"
#define CONVERSATION_FRAMES "(c.frames_ab + c.frames_ba)"
#define CONVERSATION_KEY "p.name, p.family, c.a, c.port_a, c.b, c.port_b"
// The frames of a connection with a sign of trouble.
#define HEALTH_SIGNS                                                                            \
    "(h.retransmissions_ab + h.retransmissions_ba + h.out_of_order_ab + h.out_of_order_ba + "   \
    "h.duplicate_acks_ab + h.duplicate_acks_ba + h.zero_windows_ab + h.zero_windows_ba)"
// The mean rate of `bytes` over the active time from `t`first to `t`last, in bits a second;
// NULL for what lasted less than the setting's time (or no time at all): too short to have a
// rate. `t` qualifies the names, which the stretches of the active time have too.
#define RATE(t, bytes)                                                                         \
    "iif(" t "last - " t "first >= max((SELECT rate_duration FROM setting), 1), " bytes        \
    " * 8e6 / nullif(" ACTIVE_WITHIN(t "first", t "last") ", 0), NULL)"

// The active time from `first` to `last` (activity.h): their span less the idle gaps of the
// whole traffic within it, by two look-ups among the stretches; their span alone when the
// traffic has no idle gap. Null times make no time.
#define ACTIVE_UNTIL(t)                                                                        \
    "coalesce((SELECT s.before + min(" t ", s.last) - s.start FROM activity AS s "              \
    "WHERE s.start <= " t " ORDER BY s.start DESC LIMIT 1), 0)"
#define ACTIVE_WITHIN(first, last)                                                             \
    "iif((SELECT count(*) FROM activity) > 1, " ACTIVE_UNTIL(last) " - " ACTIVE_UNTIL(first)    \
    ", " last " - " first ")"
#define RATES_REMARK "rates over the active time from first to last, the idle gaps left out"

// The endpoints' bytes before and now, and what their change is measured from: the bytes
// before, or, when the sides' active times are apart (comparison, tally_store.h), the bytes
// that the baseline's rate comes to over the active time now.
#define CHANGES                                                                                \
    "WITH side (address, before, now) AS ("                                                    \
    "SELECT e.address, coalesce(b.bytes, 0), e.bytes_sent + e.bytes_received "                 \
    "FROM endpoint AS e LEFT JOIN baseline_endpoint AS b USING (address) UNION ALL "           \
    "SELECT address, bytes, 0 FROM baseline_endpoint "                                         \
    "WHERE address NOT IN (SELECT address FROM endpoint)), "                                   \
    "measured AS (SELECT side.*, "                                                             \
    "iif(c.rates, CAST(round(side.before * c.now / c.before) AS INTEGER), side.before) "        \
    "AS expected, c.before AS active_before, c.now AS active_now FROM side, comparison AS c) "

// The handshake times with their server, its port and the SYNs the client sent, in the order of
// `group` (an expression of `server` and `port`, the server end of each) and then of time,
// written once into `table`: each time's rank within its group is its rowid less the group's
// first, and the median and the 95th percentile of a group are looked up by rowid. One sort,
// where ranking with window functions costs several.
#define HANDSHAKES(table, group)                                                               \
    "CREATE TABLE " table " AS SELECT " group " AS key, server, syns, time FROM ("             \
    "SELECT iif(client, a, b) AS server, iif(client, port_a, port_b) AS port, syns, "          \
    "handshake AS time FROM conversation WHERE handshake IS NOT NULL) ORDER BY key, time"
// The median and the 95th percentile of the times of a group of `table`, by the nearest rank:
// the smallest time such that at least half (95 %) of the group's are no greater; `first` is
// the group's first rowid and `count` its number of times.
#define PERCENTILES(table)                                                                     \
    "(SELECT time FROM " table " WHERE rowid = first + (count + 1) / 2 - 1) AS median, "        \
    "(SELECT time FROM " table " WHERE rowid = first + (95 * count + 99) / 100 - 1) AS p95"
#define HANDSHAKE_REMARK                                                                       \
    "from the client's last SYN before the server's first SYN ACK to that SYN ACK"
// Of a group of `ranked`: the handshakes whose client sent SYN more than once.
#define RETRIED "sum(syns > 1) AS retried"

// The name of a server end's port, NULL for a port without a well-known service.
#define SERVICE_NAME                                                                           \
    "iif(tcp, iif(known_tcp_port(port) IS NULL, NULL, tcp_service(port)), "                    \
    "iif(known_udp_port(port) IS NULL, NULL, udp_service(port)))"
#define TCP_SERVICE_NAME "iif(known_tcp_port(port) IS NULL, NULL, tcp_service(port))"
// A TCP port whose server ends refused a SYN (RST) and never accepted one (SYN ACK) is no
// service: of a group of server_end by protocol and port.
#define REFUSED_ONLY "(tcp AND max(accepted) = 0 AND max(state = 'REJ') = 1)"
// The server ports of TCP and UDP, with their conversations, servers and traffic.
#define SERVICE_PORTS                                                                          \
    "SELECT protocol, port, " SERVICE_NAME " AS service, count(*) AS conversations, "          \
    "count(DISTINCT address) AS servers, sum(frames) AS frames, sum(bytes) AS bytes "          \
    "FROM server_end GROUP BY protocol, port HAVING NOT " REFUSED_ONLY
#define SERVER_REMARK                                                                          \
    "the server is the end a SYN went to, else a SYN ACK came from, else the end of the "      \
    "well-known port, else the lower port"

// The server names of the connections, with their traffic and the addresses that served them.
#define SERVER_NAMES                                                                           \
    "SELECT name, name_source, connections, bytes, first, first AS first_utc, addresses "      \
    "FROM server_name"
#define SERVER_NAMES_REMARK                                                                    \
    "the name a connection carried (SNI, Host), else the DNS answer its client had"
// The ICMP sections need every frame's type and code, which a database of flows only does not
// hold.
#define WITHOUT_FRAMES "SELECT count(*) FROM database WHERE NOT holds_frames"
#define WITHOUT_FRAMES_TEXT                                                                      \
    "{n} database{s} of flows only (tidewrack -x -m 3) not counted: the frames' types and codes " \
    "are not kept there"

constexpr Declaration declarations[] = {
    {.id = "databases", .title = "Databases", .columns = databaseColumns,
     .rows = "SELECT path, mode, frames, bytes, first, last, last - first AS duration, "
             "first AS first_utc, last AS last_utc, iif(dated, 'extended', 'classic') AS record, "
             "iif(records, 'connections', 'frames') AS read, back AS time_goes_back, read_error "
             "FROM database",
     .order = "place", .whole = true, .complete = completeDatabases},
    {.id = "summary", .title = "Traffic report", .columns = summaryColumns, .record = true,
     .complete = completeSummary},
    {.id = "protocols", .title = "Protocol mix", .columns = protocolColumns,
     .rows = "SELECT name, family AS name_family, family_name(family) AS family, frames, bytes, "
             "bytes AS share, (SELECT sum(bytes) FROM protocol) AS share_whole FROM protocol "
             "WHERE frames > 0",
     .order = "bytes DESC, frames DESC, name, name_family", .by = "bytes",
     .byColumns = "bytes",
     .chart = {.type = Chart::Type::Bars, .title = "Share of the bytes per protocol",
               .label = "name", .first = "share", .text = "share"}},
    {.id = "not_analysed", .title = "Frames not analysed", .columns = notAnalysedColumns,
     .rows = "SELECT kind, frames, bytes, frames AS share, " DELIVERED " AS share_whole "
             "FROM not_analysed",
     .order = "frames DESC, bytes DESC, kind", .by = "frames", .byColumns = "frames",
     .remark = "share of all the frames delivered",
     .chart = {.type = Chart::Type::Bars, .title = "Share of the frames delivered per kind",
               .label = "kind", .first = "share", .text = "share"},
     .extendedOnly = true},
    {.id = "vlans", .title = "VLANs: tagged frames by outer VLAN", .columns = vlanColumns,
     .rows = "SELECT vlan, frames, bytes, frames AS share, " DELIVERED " AS share_whole "
             "FROM vlan",
     .order = "frames DESC, bytes DESC, vlan", .by = "frames", .byColumns = "frames",
     .remark = "share of all the frames delivered",
     .chart = {.type = Chart::Type::Bars, .title = "Share of the frames delivered per VLAN",
               .label = "vlan", .first = "share", .text = "share"},
     .extendedOnly = true},
    {.id = "timeline", .title = "Traffic over time", .columns = intervalColumns,
     .rows = "SELECT start / 86400000000 AS day, start, frames, bytes, start AS start_utc, idle "
             "FROM interval",
     .order = "start",
     .whole = true,
     .chart = {.type = Chart::Type::Lines, .title = "Traffic over time", .label = "start",
               .first = "bytes", .second = "frames", .replacesTable = true, .gap = "idle",
               .marks = "databases"},
     .facts = timelineFacts, .rowsKey = "buckets", .complete = completeTimeline},
    {.id = "busiest_intervals", .title = "Busiest intervals", .columns = intervalColumns,
     .rows = "SELECT start / 86400000000 AS day, start, frames, bytes, start AS start_utc, idle "
             "FROM interval WHERE frames > 0",
     .order = "bytes DESC, frames DESC, start", .by = "bytes", .byColumns = "bytes",
     .chart = {.type = Chart::Type::Bars, .title = "Bytes of the busiest intervals",
               .label = "start", .first = "bytes"}},
    {.id = "endpoints", .title = "Endpoints", .columns = endpointColumns,
     .rows = "SELECT address, frames_sent, bytes_sent, frames_received, bytes_received, first, "
             "last, last - first AS duration, "
             "(bytes_sent + bytes_received) * 8 AS bits_per_second, "
             ACTIVE_WITHIN("endpoint.first", "endpoint.last") " AS bits_per_second_whole, "
             "frames_sent + frames_received AS frames_per_second, "
             ACTIVE_WITHIN("endpoint.first", "endpoint.last") " AS frames_per_second_whole, "
             "first AS first_utc, last AS last_utc FROM endpoint",
     .ranked = {{{ENDPOINT_BYTES " DESC, " ENDPOINT_FRAMES " DESC, address",
                  "bytes sent and received", "bytes_sent,bytes_received", "", ""},
                 {ENDPOINT_FRAMES " DESC, " ENDPOINT_BYTES " DESC, address",
                  "frames sent and received", "frames_sent,frames_received", "", ""},
                 {"last - first DESC NULLS LAST, " ENDPOINT_BYTES " DESC, address", "duration",
                  "duration", "", ""},
                 {RATE("endpoint.", ENDPOINT_BYTES) " DESC NULLS LAST, " ENDPOINT_BYTES
                  " DESC, address",
                  "mean rate", "bits_per_second",
                  "SELECT count(*) FROM endpoint WHERE " RATE("endpoint.", "1") " IS NULL",
                  "{n} endpoint{s} seen for less than {t} ranked after, by bytes"}}},
     .remark = RATES_REMARK, .remarkIf = "(SELECT count(*) FROM activity) > 1",
     .chart = {.type = Chart::Type::Bars, .title = "Bytes sent and received per endpoint",
               .label = "address", .first = "bytes_sent", .second = "bytes_received"}},
    {.id = "conversations", .title = "Conversations", .columns = conversationColumns,
     .rows = "SELECT p.name AS protocol, p.family AS protocol_family, "
             "family_name(p.family) AS family, c.a AS a, iif(p.ports, c.port_a, NULL) AS a_port, "
             "c.b AS b, iif(p.ports, c.port_b, NULL) AS b_port, c.frames_ab AS frames_a_to_b, "
             "c.bytes_ab AS bytes_a_to_b, c.frames_ba AS frames_b_to_a, "
             "c.bytes_ba AS bytes_b_to_a, c.first AS first, c.last AS last, "
             "c.last - c.first AS duration, c.first AS first_utc, c.last AS last_utc, "
             "c.state AS state, CASE c.client WHEN 0 THEN c.a WHEN 1 THEN c.b END AS client, "
             "CASE c.client WHEN 0 THEN c.port_a WHEN 1 THEN c.port_b END AS client_port, "
             "CASE c.client WHEN 0 THEN c.b WHEN 1 THEN c.a END AS server, "
             "CASE c.client WHEN 0 THEN c.port_b WHEN 1 THEN c.port_a END AS server_port, "
             "c.handshake AS handshake, c.connect AS connect, c.syns AS syns, "
             CONVERSATION_BYTES " * 8 AS bits_per_second, "
             ACTIVE_WITHIN("c.first", "c.last") " AS bits_per_second_whole, "
             "c.frames_ab + c.frames_ba AS frames_per_second, "
             ACTIVE_WITHIN("c.first", "c.last") " AS frames_per_second_whole, "
             // The health of its connections: none unless every database was read from its
             // connection record.
             "c.retransmissions_ab AS retransmissions_a_to_b, "
             "c.retransmissions_ba AS retransmissions_b_to_a, "
             "c.out_of_order_ab AS out_of_order_a_to_b, c.out_of_order_ba AS out_of_order_b_to_a, "
             "c.duplicate_acks_ab AS duplicate_acks_a_to_b, "
             "c.duplicate_acks_ba AS duplicate_acks_b_to_a, "
             "c.zero_windows_ab AS zero_windows_a_to_b, c.zero_windows_ba AS zero_windows_b_to_a, "
             "c.missed_bytes AS missed_bytes, c.community_id AS community_id "
             "FROM conversation AS c JOIN protocol AS p ON p.number = c.protocol",
     // Every conversation's protocol is among the protocols.
     .count = "SELECT count(*) FROM conversation",
     .ranked = {{{CONVERSATION_BYTES " DESC, " CONVERSATION_FRAMES " DESC, " CONVERSATION_KEY,
                  "bytes", "bytes_a_to_b,bytes_b_to_a", "", ""},
                 {CONVERSATION_FRAMES " DESC, " CONVERSATION_BYTES " DESC, " CONVERSATION_KEY,
                  "frames", "frames_a_to_b,frames_b_to_a", "", ""},
                 {"c.last - c.first DESC NULLS LAST, " CONVERSATION_BYTES " DESC, "
                  CONVERSATION_KEY, "duration", "duration", "", ""},
                 {RATE("c.", CONVERSATION_BYTES) " DESC NULLS LAST, " CONVERSATION_BYTES
                  " DESC, " CONVERSATION_KEY, "mean rate", "bits_per_second",
                  "SELECT count(*) FROM conversation AS c WHERE " RATE("c.", "1") " IS NULL",
                  "{n} conversation{s} shorter than {t} ranked after, by bytes"}}},
     .remark = "a is the lower end, by address then port",
     // Said only of a mix: a report of databases all read one way has all or none of it.
     .aside = "SELECT iif(count(*) FILTER (WHERE records) > 0, count(*) FILTER (WHERE NOT "
              "records), 0) FROM database",
     .asideText = "no health columns: {n} database{s} read frame by frame"},
    {.id = "tcp_states", .title = "TCP conversations by state", .columns = stateColumns,
     .rows = "SELECT state, tcp_state_meaning(state) AS meaning, count(*) AS conversations, "
             "sum(frames_ab + frames_ba) AS frames, sum(bytes_ab + bytes_ba) AS bytes "
             "FROM conversation WHERE state IS NOT NULL GROUP BY state",
     .derived = true, .order = "conversations DESC, bytes DESC, state", .by = "conversations",
     .byColumns = "conversations",
     .chart = {.type = Chart::Type::Bars, .title = "Conversations per state", .label = "state",
               .first = "conversations"}},
    {.id = "failed_connections",
     .title = "Failed TCP connections: never answered or refused",
     .columns = failedColumns,
     .rows = "SELECT CASE client WHEN 0 THEN a WHEN 1 THEN b END AS client, "
             "CASE client WHEN 0 THEN port_a WHEN 1 THEN port_b END AS client_port, "
             "CASE client WHEN 0 THEN b WHEN 1 THEN a END AS server, "
             "CASE client WHEN 0 THEN port_b WHEN 1 THEN port_a END AS server_port, state, syns, "
             "first, last, first AS first_utc, last AS last_utc "
             "FROM conversation WHERE state IN ('S0', 'REJ') AND protocol IN (SELECT number FROM "
             "protocol WHERE tcp)",
     .order = "syns DESC, first, client, client_port, server, server_port",
     .by = "SYNs sent, then the first", .byColumns = "syns", .remark = "S0: never answered; REJ: refused"},
    {.id = "worst_health", .title = "Connections in worst health",
     .columns = worstHealthColumns,
     .rows = "SELECT p.name AS protocol, p.family AS protocol_family, "
             "iif(h.client, h.b, h.a) AS client, iif(p.ports, h.client_port, NULL) AS client_port, "
             "iif(h.client, h.a, h.b) AS server, iif(p.ports, h.server_port, NULL) AS server_port, "
             "h.state AS state, h.retransmissions_ab + h.retransmissions_ba AS retransmissions, "
             "h.out_of_order_ab + h.out_of_order_ba AS out_of_order, "
             "h.duplicate_acks_ab + h.duplicate_acks_ba AS duplicate_acks, "
             "h.zero_windows_ab + h.zero_windows_ba AS zero_windows, "
             "h.missed_bytes AS missed_bytes, h.community_id AS community_id, h.first AS first, "
             "h.first AS first_utc FROM connection AS h JOIN protocol AS p ON "
             "p.number = h.protocol WHERE " HEALTH_SIGNS " + h.missed_bytes > 0",
     .order = HEALTH_SIGNS " DESC, h.missed_bytes DESC, h.first, h.community_id",
     .by = "retransmissions, out-of-order segments, duplicate ACKs and zero windows together, "
           "then missed bytes",
     .byColumns = "retransmissions",
     .aside = "SELECT count(*) FROM database WHERE NOT records",
     .asideText = "{n} database{s} read frame by frame left out (only the connection record "
                  "tells the health)",
     .recordsOnly = true},
    {.id = "handshake_servers", .title = "TCP handshake times by server",
     .columns = handshakeServerColumns,
     .rows = "SELECT key AS server, count AS handshakes, retried, "
             PERCENTILES("handshake_by_server") " FROM (SELECT key, min(rowid) AS first, "
             "count(*) AS count, " RETRIED " FROM handshake_by_server GROUP BY key)",
     .derived = true, .before = HANDSHAKES("handshake_by_server", "server"),
     .order = "median DESC, handshakes DESC, server", .by = "median, slowest first",
     .byColumns = "median", .remark = HANDSHAKE_REMARK},
    {.id = "handshake_services", .title = "TCP handshake times by service",
     .columns = handshakeServiceColumns,
     .rows = "SELECT port, " TCP_SERVICE_NAME " AS service, handshakes, retried, servers, median, "
             "p95 FROM (SELECT key AS port, count AS handshakes, retried, servers, "
             PERCENTILES("handshake_by_port") " FROM (SELECT key, min(rowid) AS first, "
             "count(*) AS count, " RETRIED ", count(DISTINCT server) AS servers "
             "FROM handshake_by_port GROUP BY key))",
     .derived = true, .before = HANDSHAKES("handshake_by_port", "port"),
     .order = "median DESC, handshakes DESC, port", .by = "median, slowest first",
     .byColumns = "median"},
    {.id = "services_by_traffic", .title = "Services by traffic: TCP and UDP server ports",
     .columns = trafficServiceColumns,
     .rows = SERVICE_PORTS, .derived = true, .order = "bytes DESC, frames DESC, protocol, port",
     .by = "bytes", .byColumns = "bytes", .remark = SERVER_REMARK,
     .aside = "SELECT count(*) FROM (SELECT 1 FROM server_end GROUP BY protocol, port "
              "HAVING " REFUSED_ONLY ")",
     .asideText = "{n} TCP port{s} that only refused left out (in the failed connections)"},
    {.id = "tcp_services", .title = "TCP services that accepted connections",
     .columns = tcpServiceColumns,
     .rows = "WITH accepted (server, port, frames, bytes) AS ("
             "SELECT a, port_a, frames_ab + frames_ba, bytes_ab + bytes_ba FROM " TCP_CONVERSATIONS
             " AND syn_ack_a UNION ALL "
             "SELECT b, port_b, frames_ab + frames_ba, bytes_ab + bytes_ba FROM " TCP_CONVERSATIONS
             " AND syn_ack_b) "
             "SELECT port, " TCP_SERVICE_NAME " AS service, count(*) AS connections, "
             "count(DISTINCT server) AS servers, sum(frames) AS frames, sum(bytes) AS bytes "
             "FROM accepted GROUP BY port",
     .derived = true, .order = "bytes DESC, frames DESC, port", .by = "bytes",
     .byColumns = "bytes"},
    {.id = "udp_services", .title = "UDP services by destination port",
     .columns = udpServiceColumns,
     .rows = "SELECT known_udp_port(port) AS port, udp_service(known_udp_port(port)) AS service, "
             "sum(frames) AS frames, sum(bytes) AS bytes FROM udp_destination GROUP BY 1",
     .derived = true, .order = "bytes DESC, frames DESC, port", .by = "bytes",
     .byColumns = "bytes", .remark = ephemeralRemark, .remarkIf = "port IS NULL"},
    {.id = "server_names", .title = "Server names by traffic", .columns = serverNameColumns,
     .rows = SERVER_NAMES, .order = "bytes DESC, connections DESC, name", .by = "bytes",
     .byColumns = "bytes", .remark = SERVER_NAMES_REMARK, .extendedOnly = true},
    {.id = "icmp_messages", .title = "ICMP messages", .columns = icmpMessageColumns,
     .rows = "SELECT type, code, icmp_type_text(family, type) AS message, "
             "family AS message_family, icmp_code_text(family, type, code) AS detail, "
             "family_name(family) AS family, frames, bytes FROM icmp_message",
     .order = "bytes DESC, frames DESC, message_family, type, code", .by = "bytes",
     .byColumns = "bytes", .aside = WITHOUT_FRAMES, .asideText = WITHOUT_FRAMES_TEXT},
    {.id = "port_scans",
     .title = "Port scans: SYN to " SCAN_PORTS " or more ports of one target",
     .columns = portScanColumns,
     .rows = "WITH probe (source, target, port, answered) AS ("
             "SELECT a, b, port_b, syn_ack_b FROM " TCP_CONVERSATIONS " AND syn_a UNION ALL "
             "SELECT b, a, port_a, syn_ack_a FROM " TCP_CONVERSATIONS " AND syn_b), "
             "port (source, target, port, answered) AS ("
             "SELECT source, target, port, max(answered) FROM probe GROUP BY 1, 2, 3) "
             "SELECT source, target, count(*) AS ports, sum(answered) AS answered, "
             "sum(answered) AS answered_share, count(*) AS answered_share_whole, "
             "group_concat(iif(answered, port, NULL)) AS open_ports FROM port GROUP BY 1, 2 "
             "HAVING count(*) >= " SCAN_PORTS,
     .derived = true, .order = "ports DESC, source, target", .by = "ports",
     .byColumns = "ports"},
    {.id = "icmp_errors", .title = "ICMP errors", .columns = icmpErrorColumns,
     .rows = "SELECT reporter, sent_to, type, code, icmp_type_text(f, type) AS message, "
             "f AS message_family, icmp_code_text(f, type, code) AS detail, "
             "family_name(f) AS family, frames, bytes "
             "FROM (SELECT *, iif(length(reporter) = 16, 6, 4) AS f FROM icmp_error)",
     .order = "bytes DESC, frames DESC, reporter, sent_to, type, code", .by = "bytes",
     .byColumns = "bytes", .aside = WITHOUT_FRAMES, .asideText = WITHOUT_FRAMES_TEXT},
    {.id = "unanswered_syns", .title = "TCP connection attempts never answered",
     .columns = unansweredColumns,
     .rows = "WITH attempt (source, destination, port, frames, bytes) AS ("
             "SELECT a, b, port_b, frames_ab, bytes_ab FROM " TCP_CONVERSATIONS
             " AND syn_a AND frames_ba = 0 UNION ALL "
             "SELECT b, a, port_a, frames_ba, bytes_ba FROM " TCP_CONVERSATIONS
             " AND syn_b AND frames_ab = 0) "
             "SELECT source, destination, port, count(*) AS attempts, sum(frames) AS frames, "
             "sum(bytes) AS bytes FROM attempt GROUP BY 1, 2, 3",
     .derived = true, .order = "bytes DESC, frames DESC, source, destination, port",
     .by = "bytes", .byColumns = "bytes"},
    {.id = "new_endpoints", .title = "Endpoints not seen in the baseline",
     .columns = std::span(endpointColumns, 7),
     .rows = "SELECT address, frames_sent, bytes_sent, frames_received, bytes_received "
             "FROM endpoint WHERE address NOT IN (SELECT address FROM baseline_endpoint)",
     .order = ENDPOINT_BYTES " DESC, " ENDPOINT_FRAMES " DESC, address",
     .by = "bytes sent and received", .byColumns = "bytes_sent,bytes_received",
     .baselineOnly = true},
    {.id = "new_servers", .title = "Server ends not seen in the baseline",
     .columns = newServerColumns,
     .rows = "SELECT protocol, address AS server, port AS server_port, " SERVICE_NAME
             " AS service, count(*) AS conversations, sum(frames) AS frames, sum(bytes) AS bytes "
             "FROM server_end AS s "
             "WHERE NOT EXISTS (SELECT 1 FROM baseline_server AS b WHERE b.protocol = s.protocol "
             "AND b.address = s.address AND b.port = s.port) GROUP BY protocol, address, port",
     .derived = true, .order = "bytes DESC, frames DESC, protocol, server, server_port",
     .by = "bytes", .byColumns = "bytes", .baselineOnly = true},
    {.id = "new_services", .title = "Services not seen in the baseline",
     .columns = trafficServiceColumns,
     .rows = "SELECT * FROM (" SERVICE_PORTS ") WHERE (protocol, port) NOT IN "
             "(SELECT DISTINCT protocol, port FROM baseline_server)",
     .derived = true, .order = "bytes DESC, frames DESC, protocol, port", .by = "bytes",
     .byColumns = "bytes", .baselineOnly = true},
    {.id = "new_names", .title = "Server names not seen in the baseline",
     .columns = serverNameColumns,
     .rows = SERVER_NAMES " WHERE name NOT IN (SELECT name FROM baseline_server_name)",
     .order = "bytes DESC, connections DESC, name", .by = "bytes", .byColumns = "bytes",
     .extendedOnly = true, .baselineOnly = true},
    {.id = "gone_endpoints", .title = "Endpoints of the baseline not seen now",
     .columns = goneEndpointColumns,
     .rows = "SELECT address, frames, bytes FROM baseline_endpoint "
             "WHERE address NOT IN (SELECT address FROM endpoint)",
     .order = "bytes DESC, frames DESC, address", .by = "bytes sent and received before",
     .byColumns = "bytes", .baselineOnly = true},
    {.id = "gone_services", .title = "Services of the baseline not seen now",
     .columns = trafficServiceColumns,
     .rows = "SELECT protocol, port, " SERVICE_NAME " AS service, "
             "sum(conversations) AS conversations, count(DISTINCT address) AS servers, "
             "sum(frames) AS frames, sum(bytes) AS bytes "
             "FROM (SELECT *, protocol = 'TCP' AS tcp FROM baseline_server) "
             "WHERE (protocol, port) NOT IN (SELECT DISTINCT protocol, port FROM server_end) "
             "GROUP BY protocol, port",
     .derived = true, .order = "bytes DESC, frames DESC, protocol, port", .by = "bytes before",
     .byColumns = "bytes", .baselineOnly = true},
    {.id = "endpoint_changes", .title = "Endpoints whose bytes changed most",
     .columns = endpointChangeColumns,
     .rows = CHANGES
             "SELECT address, before AS bytes_before, now AS bytes_now, "
             "before * 8 AS rate_before, active_before AS rate_before_whole, "
             "now * 8 AS rate_now, active_now AS rate_now_whole, now - expected AS change, "
             "iif(before > 0 AND now > 0, now - expected, NULL) AS relative, "
             "iif(before > 0 AND now > 0, expected, NULL) AS relative_whole "
             "FROM measured WHERE now != expected",
     .derived = true, .order = "abs(change) DESC, address", .by = "bytes gained or lost",
     .byColumns = "change",
     .remark = "bytes sent and received, now less before; relative: of endpoints on both sides",
     .baselineOnly = true, .complete = completeChanges},
    {.id = "endpoint_changes_relative",
     .title = "Endpoints whose bytes changed most for their size",
     .columns = endpointChangeColumns,
     .rows = "SELECT * FROM section_endpoint_changes WHERE relative IS NOT NULL",
     .order = "abs(relative * 1.0 / relative_whole) DESC, abs(change) DESC, address",
     .by = "change relative to the bytes before", .byColumns = "relative",
     .remark = "of the endpoints seen both in the baseline and now", .baselineOnly = true,
     .complete = completeChanges},
};
// clang-format on
#undef DELIVERED
#undef TCP_CONVERSATIONS
#undef SCAN_PORTS
#undef ENDPOINT_BYTES
#undef ENDPOINT_FRAMES
#undef CONVERSATION_BYTES
#undef CONVERSATION_FRAMES
#undef CONVERSATION_KEY
#undef RATE
#undef HANDSHAKES
#undef ACTIVE_UNTIL
#undef ACTIVE_WITHIN
#undef RATES_REMARK
#undef CHANGES
#undef PERCENTILES
#undef HANDSHAKE_REMARK
#undef SERVICE_NAME
#undef TCP_SERVICE_NAME
#undef REFUSED_ONLY
#undef SERVICE_PORTS
#undef RETRIED
#undef SERVER_REMARK
#undef SERVER_NAMES
#undef SERVER_NAMES_REMARK

// Whether the columns of an order (Declaration::byColumns) are named well: at least one when
// there is an order, each a column that people see, and both of a pair that goes together, so
// that keeping them whole keeps the pair whole.
constexpr bool namesItsColumns(const Declaration& d, std::string_view by,
                               std::string_view byColumns) {
    const std::vector<std::string_view> keys = splitKeys(byColumns);
    if (!by.empty() && keys.empty()) {
        return false;
    }
    const auto named = [&](std::size_t i) {
        return std::find(keys.begin(), keys.end(), d.columns[i].key) != keys.end();
    };
    for (const std::string_view key : keys) {
        const int at = columnAt(d.columns, key);
        if (at < 0 || d.columns[at].fit == Fit::Hidden) {
            return false;
        }
    }
    for (std::size_t i = 0; i < d.columns.size(); ++i) {
        const int pair = pairedWith(d.columns, i);
        if (pair >= 0 && named(i) != named(static_cast<std::size_t>(pair))) {
            return false;
        }
    }
    return true;
}

// Every chart names columns its section has (a label and a first at least), every section but
// a record reads rows, a column that goes from a table too wide says when, one that goes in
// pairs has its pair to its left, going at the same step, every order names the columns it
// ranks by (which therefore never go, whatever --by says), no key is there twice, and ids are
// JSON member names.
static_assert([] {
    for (const Declaration& d : declarations) {
        const auto names = [&](std::string_view key, bool needed) {
            return key.empty() ? !needed : columnAt(d.columns, key) >= 0;
        };
        const bool chart = d.chart.type != Chart::Type::None;
        if (!names(d.chart.label, chart) || !names(d.chart.first, chart) ||
            !names(d.chart.second, false) || !names(d.chart.text, false) ||
            !names(d.chart.gap, false) || (d.rows.empty() && !d.record)) {
            return false;
        }
        for (std::size_t i = 0; i < d.columns.size(); ++i) {
            const Column& column = d.columns[i];
            const int pair = pairedWith(d.columns, i);
            if (mayGo(column) != (column.goes > 0) ||
                (column.fit == Fit::DropPair &&
                 (pair < 0 || d.columns[pair].goes != column.goes))) {
                return false;
            }
        }
        if (!namesItsColumns(d, d.by, d.byColumns)) {
            return false;
        }
        for (const Declaration::Ranked& ranked : d.ranked) {
            if (!namesItsColumns(d, ranked.order, ranked.byColumns)) {
                return false;
            }
        }
        for (std::size_t i = 0; i < d.columns.size(); ++i) {
            if (columnAt(d.columns, d.columns[i].key) != static_cast<int>(i)) {
                return false;  // a key twice
            }
        }
        for (const char c : d.id) {
            if (!(c == '_' || (c >= 'a' && c <= 'z'))) {
                return false;
            }
        }
    }
    return true;
}());

}  // namespace

std::span<const Declaration> sectionDeclarations() {
    return declarations;
}

}  // namespace tidewrack::report
