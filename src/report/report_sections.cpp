// The declarations of the sections, and the report made of them.
#include "report/report_sections.h"

#include <algorithm>
#include <array>
#include <string>

#include "report/cell_text.h"
#include "report/time_of_day.h"

namespace tidewrack::report {

namespace {

// A source that sent SYN to this many distinct ports of one target, or more, is scanning it.
#define SCAN_PORTS "10"

struct Declaration {
    std::string_view id{};
    std::string_view title{};
    std::span<const Column> columns{};
    std::string_view rows{};   // SQL reading the rows, a value per column (two for an end or a
                               // share, none for a list of names), in no particular order
    bool derived = false;      // rows of a GROUP BY, worked out once into a table of the store
    std::string_view order{};  // SQL ORDER BY for the rows (by column names when derived)
    bool whole = false;        // every row, whatever --top says
    std::string_view by{};     // the order as people are told it: "bytes"
    // The orders of a list ranked as --by says, and how people are told them, by Ranking; none
    // for a list of one order.
    struct Ranked {
        std::string_view order{};
        std::string_view by{};
    };
    std::array<Ranked, 4> ranked{};
    std::string_view remark{};    // said after it, when `remarkIf` (SQL) holds of a row kept
    std::string_view remarkIf{};  // (always, when empty)
    Chart chart{};
    bool record = false;
    bool extendedOnly = false;  // recorded by databases made with tidewrack -x only
    bool baselineOnly = false;  // of a report with a baseline only
    // Makes what the rows and the order cannot say: a record's row, facts, a note of its own.
    void (*complete)(Section&, TallyStore&, Report&, const ReportSettings&) = nullptr;
};

// clang-format off
constexpr std::string_view ephemeralRemark = "* is every port without a well-known service";

constexpr Column databaseColumns[] = {
    {"path", "database", Kind::Text, Fit::CutFront},
    {"mode", "mode", Kind::Number},
    {"frames", "frames", Kind::Count},
    {"bytes", "bytes", Kind::Bytes},
    {"first", "first", Kind::Time, Fit::Drop},
    {"last", "last", Kind::Time, Fit::Drop},
    {"duration", "duration", Kind::Duration, Fit::Drop},
    {"first_utc", "first (UTC)", Kind::UtcTime, Fit::Hidden},
    {"last_utc", "last (UTC)", Kind::UtcTime, Fit::Hidden},
    {"record", "record", Kind::Text, Fit::Hidden},
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
    {"days", "days", Kind::Number},
    {"protocols", "protocols seen", Kind::Names},
    {"endpoints", "endpoints", Kind::Count},
    {"conversations", "conversations", Kind::Count},
    {"first_utc", "first (UTC)", Kind::UtcTime, Fit::Hidden},
    {"last_utc", "last (UTC)", Kind::UtcTime, Fit::Hidden},
    {"time_zone", "times in", Kind::Text, Fit::Hidden},  // people read it in the note
    {"classic", "classic record (IPv4 only, no dates)", Kind::Text, Fit::Drop},
    {"bits_per_second", "mean rate", Kind::BitRate},
    {"frames_per_second", "frames/s", Kind::FrameRate},
    {"filter", "filter", Kind::Text, Fit::Drop},
    {"baseline", "baseline", Kind::Text, Fit::Drop},
    {"ranking", "ranking", Kind::Text, Fit::Hidden},
};

constexpr Column protocolColumns[] = {
    {"name", "protocol", Kind::Protocol, Fit::Cut},
    {"family", "family", Kind::Text, Fit::Hidden},
    {"frames", "frames", Kind::Count, Fit::Drop},
    {"bytes", "bytes", Kind::Bytes},
    {"share", "share", Kind::Share},
};

constexpr Column notAnalysedColumns[] = {
    {"kind", "kind", Kind::Text, Fit::Cut},
    {"frames", "frames", Kind::Count},
    {"bytes", "bytes", Kind::Bytes, Fit::Drop},
    {"share", "share of frames", Kind::Share},
};

constexpr Column vlanColumns[] = {
    {"vlan", "VLAN", Kind::Number},
    {"frames", "frames", Kind::Count},
    {"bytes", "bytes", Kind::Bytes, Fit::Drop},
    {"share", "share of frames", Kind::Share},
};

constexpr Column intervalColumns[] = {
    {"day", "day", Kind::Number, Fit::Hidden},
    {"start", "interval", Kind::Interval},
    {"frames", "frames", Kind::Count},
    {"bytes", "bytes", Kind::Bytes},
    {"start_utc", "start (UTC)", Kind::UtcTime, Fit::Hidden},
};
constexpr Column timelineFacts[] = {
    {"interval", "interval, s", Kind::Number},
    {"peak_bits_per_second", "peak rate", Kind::BitRate},
    {"peak_frames_per_second", "peak frames/s", Kind::FrameRate},
};

// The first five are those of the endpoints new since the baseline as well.
constexpr Column endpointColumns[] = {
    {"address", "address", Kind::Address},
    {"frames_sent", "frames sent", Kind::Count, Fit::Drop},
    {"bytes_sent", "bytes sent", Kind::Bytes},
    {"frames_received", "frames received", Kind::Count, Fit::DropPair},
    {"bytes_received", "bytes received", Kind::Bytes},
    {"first", "first", Kind::Time, Fit::Drop},
    {"last", "last", Kind::Time, Fit::Drop},
    {"duration", "duration", Kind::Duration, Fit::Drop},
    {"bits_per_second", "rate", Kind::BitRate, Fit::Drop},
    {"frames_per_second", "frames/s", Kind::FrameRate, Fit::Drop},
    {"first_utc", "first (UTC)", Kind::UtcTime, Fit::Hidden},
    {"last_utc", "last (UTC)", Kind::UtcTime, Fit::Hidden},
};

constexpr Column conversationColumns[] = {
    {"protocol", "protocol", Kind::Protocol, Fit::Cut},
    {"family", "family", Kind::Text, Fit::Hidden},
    {"a", "a", Kind::End},
    {"b", "b", Kind::End},
    {"frames_a_to_b", "frames a>b", Kind::Count, Fit::Drop},
    {"bytes_a_to_b", "bytes a>b", Kind::Bytes},
    {"frames_b_to_a", "frames b>a", Kind::Count, Fit::DropPair},
    {"bytes_b_to_a", "bytes b>a", Kind::Bytes},
    {"first", "first", Kind::Time, Fit::Drop},
    {"last", "last", Kind::Time, Fit::Drop},
    {"duration", "duration", Kind::Duration, Fit::Drop},
    {"first_utc", "first (UTC)", Kind::UtcTime, Fit::Hidden},
    {"last_utc", "last (UTC)", Kind::UtcTime, Fit::Hidden},
    // People see who opened and how fast in the sections by state and by server; the rows of a
    // page on a wide screen keep to its width.
    {"state", "state", Kind::Text, Fit::Drop},
    {"client", "client", Kind::End, Fit::Hidden},
    {"server", "server", Kind::End, Fit::Hidden},
    {"handshake", "handshake", Kind::Delay, Fit::Hidden},
    {"bits_per_second", "rate", Kind::BitRate, Fit::Drop},
    {"frames_per_second", "frames/s", Kind::FrameRate, Fit::Hidden},
};

constexpr Column stateColumns[] = {
    {"state", "state", Kind::Text},
    {"meaning", "meaning", Kind::Text, Fit::Cut},
    {"conversations", "conversations", Kind::Count},
    {"frames", "frames", Kind::Count, Fit::Drop},
    {"bytes", "bytes", Kind::Bytes},
};

constexpr Column handshakeServerColumns[] = {
    {"server", "server", Kind::Address},
    {"handshakes", "handshakes", Kind::Count},
    {"median", "median", Kind::Delay},
    {"p95", "95th percentile", Kind::Delay},
};

constexpr Column handshakeServiceColumns[] = {
    {"port", "port", Kind::Port},
    {"service", "service", Kind::Text, Fit::Cut},
    {"handshakes", "handshakes", Kind::Count},
    {"servers", "servers", Kind::Count, Fit::Drop},
    {"median", "median", Kind::Delay},
    {"p95", "95th percentile", Kind::Delay},
};

constexpr Column trafficServiceColumns[] = {
    {"protocol", "protocol", Kind::Text},
    {"port", "port", Kind::Port},
    {"service", "service", Kind::Text, Fit::Cut},
    {"conversations", "conversations", Kind::Count},
    {"servers", "servers", Kind::Count},
    {"frames", "frames", Kind::Count, Fit::Drop},
    {"bytes", "bytes", Kind::Bytes},
};

constexpr Column newServerColumns[] = {
    {"protocol", "protocol", Kind::Text},
    {"server", "server", Kind::End},
    {"service", "service", Kind::Text, Fit::Cut},
    {"conversations", "conversations", Kind::Count},
    {"frames", "frames", Kind::Count, Fit::Drop},
    {"bytes", "bytes", Kind::Bytes},
};

constexpr Column endpointChangeColumns[] = {
    {"address", "address", Kind::Address},
    {"bytes_before", "bytes before", Kind::Bytes},
    {"bytes_now", "bytes now", Kind::Bytes},
    {"change", "change", Kind::Change},
    {"relative", "relative", Kind::Ratio},
};

constexpr Column tcpServiceColumns[] = {
    {"port", "port", Kind::Port},
    {"service", "service", Kind::Text, Fit::Cut},
    {"connections", "connections", Kind::Count},
    {"servers", "servers", Kind::Count},
    {"frames", "frames", Kind::Count, Fit::Drop},
    {"bytes", "bytes", Kind::Bytes},
};

constexpr Column udpServiceColumns[] = {
    {"port", "port", Kind::Port},
    {"service", "service", Kind::Text, Fit::Cut},
    {"frames", "frames", Kind::Count, Fit::Drop},
    {"bytes", "bytes", Kind::Bytes},
};

constexpr Column icmpMessageColumns[] = {
    {"type", "type", Kind::Number},
    {"code", "code", Kind::Number},
    {"message", "message", Kind::Protocol, Fit::Cut},
    {"detail", "detail", Kind::Text, Fit::Cut, true},
    {"family", "family", Kind::Text, Fit::Hidden},
    {"frames", "frames", Kind::Count, Fit::Drop},
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
    {"detail", "detail", Kind::Text, Fit::Cut, true},
    {"family", "family", Kind::Text, Fit::Hidden},
    {"frames", "frames", Kind::Count, Fit::Drop},
    {"bytes", "bytes", Kind::Bytes},
};

constexpr Column unansweredColumns[] = {
    {"source", "source", Kind::Address},
    {"destination", "destination", Kind::Address},
    {"port", "port", Kind::Number},
    {"attempts", "attempts", Kind::Count},
    {"frames", "frames", Kind::Count, Fit::Drop},
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

// The handshake times with their server and its port, ranked within `group` (a column of them,
// or an expression of their port): `ranked` holds each one's rank and the group's count.
#define HANDSHAKES(group)                                                                     \
    "WITH handshake (server, port, time) AS ("                                                \
    "SELECT iif(client, a, b), iif(client, port_a, port_b), handshake FROM conversation "     \
    "WHERE handshake IS NOT NULL), "                                                           \
    "ranked AS (SELECT *, row_number() OVER (PARTITION BY " group " ORDER BY time) AS rank, " \
    "count(*) OVER (PARTITION BY " group ") AS count FROM handshake) "
// The median and the 95th percentile of a group of `ranked`, by the nearest rank: the smallest
// time such that at least half (95 %) of the group's are no greater.
#define PERCENTILES                                                                            \
    "sum(iif(rank = (count + 1) / 2, time, 0)) AS median, "                                    \
    "sum(iif(rank = (95 * count + 99) / 100, time, 0)) AS p95"
#define HANDSHAKE_REMARK                                                                       \
    "from the client's last SYN before the server's first SYN ACK to that SYN ACK"

// The name of a server end's port, NULL for a port without a well-known service.
#define SERVICE_NAME                                                                           \
    "iif(tcp, iif(known_tcp_port(port) IS NULL, NULL, tcp_service(port)), "                    \
    "iif(known_udp_port(port) IS NULL, NULL, udp_service(port)))"
#define SERVER_REMARK                                                                          \
    "the server is the end a SYN went to, else a SYN ACK came from, else the end of the "      \
    "well-known port, else the lower port"

void completeDatabases(Section&, TallyStore&, Report&, const ReportSettings&);
void completeSummary(Section&, TallyStore&, Report&, const ReportSettings&);
void completeTimeline(Section&, TallyStore&, Report&, const ReportSettings&);

constexpr Declaration declarations[] = {
    {.id = "databases", .title = "Databases", .columns = databaseColumns,
     .rows = "SELECT path, mode, frames, bytes, first, last, last - first, first, last, "
             "iif(dated, 'extended', 'classic'), back, read_error FROM database",
     .order = "place", .whole = true, .complete = completeDatabases},
    {.id = "summary", .title = "Traffic report", .columns = summaryColumns, .record = true,
     .complete = completeSummary},
    {.id = "protocols", .title = "Protocol mix", .columns = protocolColumns,
     .rows = "SELECT name, family, family_name(family), frames, bytes, bytes, "
             "(SELECT sum(bytes) FROM protocol) FROM protocol WHERE frames > 0",
     .order = "bytes DESC, frames DESC, name, family", .by = "bytes",
     .chart = {.type = Chart::Type::Bars, .title = "Share of the bytes per protocol", .label = 0,
               .first = 4, .text = 4}},
    {.id = "not_analysed", .title = "Frames not analysed", .columns = notAnalysedColumns,
     .rows = "SELECT kind, frames, bytes, frames, " DELIVERED " FROM not_analysed",
     .order = "frames DESC, bytes DESC, kind", .by = "frames",
     .remark = "share of all the frames delivered",
     .chart = {.type = Chart::Type::Bars, .title = "Share of the frames delivered per kind",
               .label = 0, .first = 3, .text = 3},
     .extendedOnly = true},
    {.id = "vlans", .title = "VLANs: tagged frames by outer VLAN", .columns = vlanColumns,
     .rows = "SELECT vlan, frames, bytes, frames, " DELIVERED " FROM vlan",
     .order = "frames DESC, bytes DESC, vlan", .by = "frames",
     .remark = "share of all the frames delivered",
     .chart = {.type = Chart::Type::Bars, .title = "Share of the frames delivered per VLAN",
               .label = 0, .first = 3, .text = 3},
     .extendedOnly = true},
    {.id = "timeline", .title = "Traffic over time", .columns = intervalColumns,
     .rows = "SELECT start / 86400000000, start, frames, bytes, start FROM interval",
     .order = "start",
     .whole = true,
     .chart = {.type = Chart::Type::Lines, .title = "Traffic over time", .label = 1, .first = 3,
               .second = 2, .replacesTable = true},
     .complete = completeTimeline},
    {.id = "busiest_intervals", .title = "Busiest intervals", .columns = intervalColumns,
     .rows = "SELECT start / 86400000000, start, frames, bytes, start FROM interval "
             "WHERE frames > 0",
     .order = "bytes DESC, frames DESC, start", .by = "bytes",
     .chart = {.type = Chart::Type::Bars, .title = "Bytes of the busiest intervals", .label = 1,
               .first = 3}},
    {.id = "endpoints", .title = "Endpoints", .columns = endpointColumns,
     .rows = "SELECT address, frames_sent, bytes_sent, frames_received, bytes_received, first, "
             "last, last - first, (bytes_sent + bytes_received) * 8, last - first, "
             "frames_sent + frames_received, last - first, first, last FROM endpoint",
     .ranked = {{{ENDPOINT_BYTES " DESC, " ENDPOINT_FRAMES " DESC, address",
                  "bytes sent and received"},
                 {ENDPOINT_FRAMES " DESC, " ENDPOINT_BYTES " DESC, address",
                  "frames sent and received"},
                 {"last - first DESC NULLS LAST, " ENDPOINT_BYTES " DESC, address", "duration"},
                 {ENDPOINT_BYTES " * 8e6 / nullif(last - first, 0) DESC NULLS LAST, "
                  ENDPOINT_BYTES " DESC, address", "mean rate"}}},
     .chart = {.type = Chart::Type::Bars, .title = "Bytes sent and received per endpoint",
               .label = 0, .first = 2, .second = 4}},
    {.id = "conversations", .title = "Conversations", .columns = conversationColumns,
     .rows = "SELECT p.name, p.family, family_name(p.family), c.a, iif(p.ports, c.port_a, NULL), "
             "c.b, iif(p.ports, c.port_b, NULL), c.frames_ab, c.bytes_ab, c.frames_ba, c.bytes_ba, "
             "c.first, c.last, c.last - c.first, c.first, c.last, c.state, "
             "CASE c.client WHEN 0 THEN c.a WHEN 1 THEN c.b END, "
             "CASE c.client WHEN 0 THEN c.port_a WHEN 1 THEN c.port_b END, "
             "CASE c.client WHEN 0 THEN c.b WHEN 1 THEN c.a END, "
             "CASE c.client WHEN 0 THEN c.port_b WHEN 1 THEN c.port_a END, c.handshake, "
             CONVERSATION_BYTES " * 8, c.last - c.first, c.frames_ab + c.frames_ba, "
             "c.last - c.first FROM conversation AS c JOIN protocol AS p ON p.number = c.protocol",
     .ranked = {{{CONVERSATION_BYTES " DESC, " CONVERSATION_FRAMES " DESC, " CONVERSATION_KEY,
                  "bytes"},
                 {CONVERSATION_FRAMES " DESC, " CONVERSATION_BYTES " DESC, " CONVERSATION_KEY,
                  "frames"},
                 {"c.last - c.first DESC NULLS LAST, " CONVERSATION_BYTES " DESC, "
                  CONVERSATION_KEY, "duration"},
                 {CONVERSATION_BYTES " * 8e6 / nullif(c.last - c.first, 0) DESC NULLS LAST, "
                  CONVERSATION_BYTES " DESC, " CONVERSATION_KEY, "mean rate"}}},
     .remark = "a is the lower end, by address then port"},
    {.id = "tcp_states", .title = "TCP conversations by state", .columns = stateColumns,
     .rows = "SELECT state, tcp_state_meaning(state), count(*) AS conversations, "
             "sum(frames_ab + frames_ba) AS frames, sum(bytes_ab + bytes_ba) AS bytes "
             "FROM conversation WHERE state IS NOT NULL GROUP BY state",
     .derived = true, .order = "conversations DESC, bytes DESC, state", .by = "conversations",
     .chart = {.type = Chart::Type::Bars, .title = "Conversations per state", .label = 0,
               .first = 2}},
    {.id = "handshake_servers", .title = "TCP handshake times by server",
     .columns = handshakeServerColumns,
     .rows = HANDSHAKES("server")
             "SELECT server, count(*) AS handshakes, " PERCENTILES " FROM ranked GROUP BY server",
     .derived = true, .order = "median DESC, handshakes DESC, server",
     .by = "median, slowest first", .remark = HANDSHAKE_REMARK},
    {.id = "handshake_services", .title = "TCP handshake times by service",
     .columns = handshakeServiceColumns,
     .rows = HANDSHAKES("known_tcp_port(port)")
             "SELECT known_tcp_port(port) AS port, tcp_service(known_tcp_port(port)), "
             "count(*) AS handshakes, count(DISTINCT server), " PERCENTILES " FROM ranked "
             "GROUP BY 1",
     .derived = true, .order = "median DESC, handshakes DESC, port",
     .by = "median, slowest first", .remark = ephemeralRemark, .remarkIf = "port IS NULL"},
    {.id = "services_by_traffic", .title = "Services by traffic: TCP and UDP server ports",
     .columns = trafficServiceColumns,
     .rows = "SELECT protocol, port, " SERVICE_NAME ", count(*), count(DISTINCT address), "
             "sum(frames) AS frames, sum(bytes) AS bytes FROM server_end GROUP BY protocol, port",
     .derived = true, .order = "bytes DESC, frames DESC, protocol, port", .by = "bytes",
     .remark = SERVER_REMARK},
    {.id = "tcp_services", .title = "TCP services that accepted connections",
     .columns = tcpServiceColumns,
     .rows = "WITH accepted (server, port, frames, bytes) AS ("
             "SELECT a, port_a, frames_ab + frames_ba, bytes_ab + bytes_ba FROM " TCP_CONVERSATIONS
             " AND syn_ack_a UNION ALL "
             "SELECT b, port_b, frames_ab + frames_ba, bytes_ab + bytes_ba FROM " TCP_CONVERSATIONS
             " AND syn_ack_b) "
             "SELECT known_tcp_port(port) AS port, tcp_service(known_tcp_port(port)), count(*), "
             "count(DISTINCT server), sum(frames) AS frames, sum(bytes) AS bytes "
             "FROM accepted GROUP BY 1",
     .derived = true, .order = "bytes DESC, frames DESC, port", .by = "bytes",
     .remark = ephemeralRemark, .remarkIf = "port IS NULL"},
    {.id = "udp_services", .title = "UDP services by destination port",
     .columns = udpServiceColumns,
     .rows = "SELECT known_udp_port(port) AS port, udp_service(known_udp_port(port)), "
             "sum(frames) AS frames, sum(bytes) AS bytes FROM udp_destination GROUP BY 1",
     .derived = true, .order = "bytes DESC, frames DESC, port", .by = "bytes",
     .remark = ephemeralRemark, .remarkIf = "port IS NULL"},
    {.id = "icmp_messages", .title = "ICMP messages", .columns = icmpMessageColumns,
     .rows = "SELECT type, code, icmp_type_text(family, type), family, "
             "icmp_code_text(family, type, code), family_name(family), frames, bytes "
             "FROM icmp_message",
     .order = "bytes DESC, frames DESC, family, type, code", .by = "bytes"},
    {.id = "port_scans",
     .title = "Port scans: SYN to " SCAN_PORTS " or more ports of one target",
     .columns = portScanColumns,
     .rows = "WITH probe (source, target, port, answered) AS ("
             "SELECT a, b, port_b, syn_ack_b FROM " TCP_CONVERSATIONS " AND syn_a UNION ALL "
             "SELECT b, a, port_a, syn_ack_a FROM " TCP_CONVERSATIONS " AND syn_b), "
             "port (source, target, port, answered) AS ("
             "SELECT source, target, port, max(answered) FROM probe GROUP BY 1, 2, 3) "
             "SELECT source, target, count(*) AS ports, sum(answered), sum(answered), count(*), "
             "group_concat(iif(answered, port, NULL)) FROM port GROUP BY 1, 2 "
             "HAVING count(*) >= " SCAN_PORTS,
     .derived = true, .order = "ports DESC, source, target", .by = "ports"},
    {.id = "icmp_errors", .title = "ICMP errors", .columns = icmpErrorColumns,
     .rows = "SELECT reporter, sent_to, type, code, icmp_type_text(f, type), f, "
             "icmp_code_text(f, type, code), family_name(f), frames, bytes "
             "FROM (SELECT *, iif(length(reporter) = 16, 6, 4) AS f FROM icmp_error)",
     .order = "bytes DESC, frames DESC, reporter, sent_to, type, code", .by = "bytes"},
    {.id = "unanswered_syns", .title = "TCP connection attempts never answered",
     .columns = unansweredColumns,
     .rows = "WITH attempt (source, destination, port, frames, bytes) AS ("
             "SELECT a, b, port_b, frames_ab, bytes_ab FROM " TCP_CONVERSATIONS
             " AND syn_a AND frames_ba = 0 UNION ALL "
             "SELECT b, a, port_a, frames_ba, bytes_ba FROM " TCP_CONVERSATIONS
             " AND syn_b AND frames_ab = 0) "
             "SELECT source, destination, port, count(*), sum(frames) AS frames, "
             "sum(bytes) AS bytes FROM attempt GROUP BY 1, 2, 3",
     .derived = true, .order = "bytes DESC, frames DESC, source, destination, port",
     .by = "bytes"},
    {.id = "new_endpoints", .title = "Endpoints not seen in the baseline",
     .columns = std::span(endpointColumns, 5),
     .rows = "SELECT address, frames_sent, bytes_sent, frames_received, bytes_received "
             "FROM endpoint WHERE address NOT IN (SELECT address FROM baseline_endpoint)",
     .order = ENDPOINT_BYTES " DESC, " ENDPOINT_FRAMES " DESC, address",
     .by = "bytes sent and received", .baselineOnly = true},
    {.id = "new_servers", .title = "Server ends not seen in the baseline",
     .columns = newServerColumns,
     .rows = "SELECT protocol, address, port, " SERVICE_NAME ", count(*), "
             "sum(frames) AS frames, sum(bytes) AS bytes FROM server_end AS s "
             "WHERE NOT EXISTS (SELECT 1 FROM baseline_server AS b WHERE b.protocol = s.protocol "
             "AND b.address = s.address AND b.port = s.port) GROUP BY protocol, address, port",
     .derived = true, .order = "bytes DESC, frames DESC, protocol, address, port", .by = "bytes",
     .baselineOnly = true},
    {.id = "new_services", .title = "Services not seen in the baseline",
     .columns = trafficServiceColumns,
     .rows = "SELECT protocol, port, " SERVICE_NAME ", count(*), count(DISTINCT address), "
             "sum(frames) AS frames, sum(bytes) AS bytes FROM server_end GROUP BY protocol, port "
             "HAVING (protocol, port) NOT IN (SELECT DISTINCT protocol, port FROM baseline_server)",
     .derived = true, .order = "bytes DESC, frames DESC, protocol, port", .by = "bytes",
     .baselineOnly = true},
    {.id = "endpoint_changes", .title = "Endpoints whose bytes changed most",
     .columns = endpointChangeColumns,
     .rows = "SELECT address, before AS bytes_before, now AS bytes_now, now - before AS change, "
             "iif(before > 0 AND now > 0, now - before, NULL) AS part, "
             "iif(before > 0 AND now > 0, before, NULL) AS whole FROM ("
             "SELECT e.address, coalesce(b.bytes, 0) AS before, "
             "e.bytes_sent + e.bytes_received AS now "
             "FROM endpoint AS e LEFT JOIN baseline_endpoint AS b USING (address) UNION ALL "
             "SELECT address, bytes, 0 FROM baseline_endpoint "
             "WHERE address NOT IN (SELECT address FROM endpoint)) WHERE now != before",
     .derived = true, .order = "abs(change) DESC, address", .by = "bytes gained or lost",
     .remark = "bytes sent and received, now less before; relative: of endpoints on both sides",
     .baselineOnly = true},
    {.id = "endpoint_changes_relative",
     .title = "Endpoints whose bytes changed most for their size",
     .columns = endpointChangeColumns,
     .rows = "SELECT * FROM section_endpoint_changes WHERE part IS NOT NULL",
     .order = "abs(part * 1.0 / whole) DESC, abs(change) DESC, address",
     .by = "change relative to the bytes before",
     .remark = "of the endpoints seen both in the baseline and now", .baselineOnly = true},
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
#undef HANDSHAKES
#undef PERCENTILES
#undef HANDSHAKE_REMARK
#undef SERVICE_NAME
#undef SERVER_REMARK

// Every chart names columns its section has, every section but a record reads rows, a column
// dropped in pairs has its pair to its left, and ids are JSON member names.
static_assert([] {
    for (const Declaration& d : declarations) {
        const int columns = static_cast<int>(d.columns.size());
        if (d.chart.label >= columns || d.chart.first >= columns || d.chart.second >= columns ||
            d.chart.text >= columns || (d.rows.empty() && !d.record)) {
            return false;
        }
        for (std::size_t i = 0; i < d.columns.size(); ++i) {
            bool paired = d.columns[i].fit != Fit::DropPair;
            for (std::size_t j = 0; j < i; ++j) {
                paired = paired ||
                         (d.columns[j].fit == Fit::Drop && d.columns[j].kind == d.columns[i].kind);
            }
            if (!paired) {
                return false;
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

std::int64_t firstInteger(TallyStore& store, const std::string& sql) {
    Statement statement = store.prepare(sql);
    return statement.step() ? statement.integer(0) : 0;
}

// "1 database", "3 intervals".
std::string counted(std::uint64_t n, const char* one, const char* many) {
    return groupDigits(n) + ' ' + (n == 1 ? one : many);
}

// Names the databases whose capture ended in a read error, which lost the frames after it,
// each with libpcap's text, and those whose time goes back, which no span can show.
void completeDatabases(Section& section, TallyStore& store, Report&, const ReportSettings&) {
    constexpr int namedErrors = 10;
    Statement failed =
        store.prepare("SELECT path, delivered, read_error, count(*) OVER () FROM database "
                      "WHERE read_error IS NOT NULL ORDER BY place LIMIT " +
                      std::to_string(namedErrors));
    std::string errors;
    std::int64_t count = 0;
    while (failed.step()) {
        errors +=
            (errors.empty() ? "" : "; ") + std::string("the capture of ") +
            std::string(failed.text(0)) + " ended in a read error" +
            (failed.isNull(1) ? ""
                              : " after " + counted(static_cast<std::uint64_t>(failed.integer(1)),
                                                    "frame", "frames")) +
            (failed.text(2).empty() ? "" : ": \"" + std::string(failed.text(2)) + "\"");
        count = failed.integer(3);
    }
    if (count > namedErrors) {
        errors += "; and the captures of " + groupDigits(count - namedErrors) +
                  " more databases ended in a read error";
    }
    constexpr int named = 3;
    Statement back = store.prepare(
        "SELECT path, back, count(*) OVER () FROM database WHERE back > 0 ORDER BY place LIMIT " +
        std::to_string(named));
    std::string list;
    count = 0;
    while (back.step()) {
        list += (list.empty() ? "" : ", ") + std::string(back.text(0)) + " (" +
                counted(static_cast<std::uint64_t>(back.integer(1)), "time", "times") + ")";
        count = back.integer(2);
    }
    if (count > 0) {
        section.note = "time goes back in " + list +
                       (count > named ? " and " + groupDigits(count - named) + " more" : "") +
                       "; first and last are the earliest and latest times";
    }
    if (!errors.empty()) {
        section.note = errors + (section.note.empty() ? "" : "; " + section.note);
    }
}

// "a.db", "a.db, b.db, c.db and 2 more": the paths of `sql` (path, the count of all), in order.
std::string pathList(TallyStore& store, const std::string& sql) {
    constexpr int named = 3;
    Statement rows = store.prepare(sql + " LIMIT " + std::to_string(named));
    std::int64_t count = 0;
    std::string paths;
    while (rows.step()) {
        paths += (paths.empty() ? "" : ", ") + std::string(rows.text(0));
        count = rows.integer(1);
    }
    return count > named
               ? paths + " and " + groupDigits(static_cast<std::uint64_t>(count - named)) + " more"
               : paths;
}

void completeSummary(Section& section, TallyStore& store, Report& report,
                     const ReportSettings& settings) {
    Statement totals = store.prepare(
        "SELECT sum(frames), sum(bytes), min(first), max(last), max(last) - min(first), "
        "iif(min(first) IS NULL, 0, max(last) / 86400000000 - min(first) / 86400000000 + 1), "
        "NULL, "
        "(SELECT count(*) FROM endpoint), (SELECT count(*) FROM conversation), min(first), "
        "max(last), NULL, NULL, sum(bytes) * 8, max(last) - min(first), sum(frames), "
        "max(last) - min(first), NULL, NULL, NULL, count(*), min(path) FROM database");
    totals.step();
    Row row;
    int at = 0;
    for (const Column& column : section.columns) {
        row.push_back(readCell(totals, at, column.kind));
    }
    Statement names =
        store.prepare("SELECT DISTINCT name FROM protocol WHERE frames > 0 ORDER BY name");
    while (names.step()) {
        row[6].items.emplace_back(names.text(0));
    }
    // The classic databases: each by name, all of them by their number.
    const auto all =
        static_cast<std::uint64_t>(firstInteger(store, "SELECT count(*) FROM database"));
    const auto classics = static_cast<std::uint64_t>(
        firstInteger(store, "SELECT count(*) FROM database WHERE NOT dated"));
    row[12].null = classics == 0;
    row[12].text = classics > 1 && classics == all
                       ? "all " + groupDigits(all) + " databases"
                       : pathList(store, "SELECT path, count(*) OVER () FROM database "
                                         "WHERE NOT dated ORDER BY place");
    row[11].text = report.axis.zone;
    row[11].null = !report.axis.dated;
    row[15].text = settings.filter;
    row[15].null = settings.filter.empty();
    row[16].text = pathList(store, "SELECT path, count(*) OVER () FROM baseline_database "
                                   "ORDER BY place");
    row[16].null = row[16].text.empty();
    row[17].text = rankingNames[static_cast<int>(settings.ranking)];
    row[17].null = false;
    const auto databases = static_cast<std::uint64_t>(totals.integer(20));
    report.axis.spansDays =
        !row[3].null && row[3].number / microsecondsPerDay > row[2].number / microsecondsPerDay;
    report.subject =
        databases == 1 ? std::string(totals.text(21)) : counted(databases, "database", "databases");
    const auto text = [&](int column) {
        return peopleText(row[column], section.columns[column].kind, report.axis);
    };
    section.note = counted(databases, "database", "databases") + ", " + text(0) + " frames, " +
                   text(1) + " bytes";
    if (!row[2].null) {
        section.note += ", " + text(2) + " to " + text(3) +
                        (report.axis.dated ? " " + report.axis.zone : "") + " (" + text(4);
        if (row[4].number > 0) {
            section.note += ", " + text(13) + ", " + text(14) + " frames/s";
        }
        section.note += ")";
    }
    section.rows.push_back(std::move(row));
    section.total = section.shown = 1;
}

void completeTimeline(Section& section, TallyStore& store, Report& report, const ReportSettings&) {
    const std::int64_t interval = firstInteger(store, "SELECT interval FROM timeline");
    Statement peaks = store.prepare(
        "SELECT (SELECT interval FROM timeline) / 1000000, max(bytes) * 8, "
        "(SELECT interval FROM timeline), max(frames), (SELECT interval FROM timeline) "
        "FROM interval");
    peaks.step();
    int at = 0;
    section.factColumns = timelineFacts;
    for (const Column& column : section.factColumns) {
        section.facts.push_back(readCell(peaks, at, column.kind));
    }
    section.rowsKey = "buckets";
    const auto busy = static_cast<std::uint64_t>(
        firstInteger(store, "SELECT count(*) FROM interval WHERE frames > 0"));
    section.note =
        counted(section.total, "interval", "intervals") + " of " + intervalWidth(interval);
    if (section.total > 1) {
        section.note += busy == section.total ? ", all with traffic"
                                              : ", " + groupDigits(busy) + " with traffic";
    }
    if (busy > 0) {
        section.note +=
            "; peak " + peopleText(section.facts[1], section.factColumns[1].kind, report.axis) +
            ", " + peopleText(section.facts[2], section.factColumns[2].kind, report.axis) +
            " frames/s";
    }
}

Section makeSection(const Declaration& d, TallyStore& store, Report& report,
                    const ReportSettings& settings) {
    Section section;
    section.id = d.id;
    section.title = d.title;
    section.columns = d.columns;
    section.chart = d.chart;
    section.record = d.record;
    section.absent =
        (d.extendedOnly &&
         (!settings.filter.empty() ||
          firstInteger(store, "SELECT count(*) FROM database WHERE dated") == 0)) ||
        (d.baselineOnly && firstInteger(store, "SELECT count(*) FROM baseline_database") == 0);
    const Declaration::Ranked& ranked = d.ranked[static_cast<int>(settings.ranking)];
    const std::string_view order = ranked.order.empty() ? d.order : ranked.order;
    const std::string_view by = ranked.order.empty() ? d.by : ranked.by;
    if (!d.rows.empty() && !section.absent) {
        std::string rows(d.rows);
        if (d.derived) {
            const std::string table = "section_" + std::string(d.id);
            store.run(("CREATE TABLE " + table + " AS " + rows).c_str());
            rows = "SELECT * FROM " + table;
        }
        section.total =
            static_cast<std::uint64_t>(firstInteger(store, "SELECT count(*) FROM (" + rows + ")"));
        const bool cut = !d.whole && report.top != 0 && report.top < section.total;
        section.shown = cut ? report.top : section.total;
        const std::string kept = rows + " ORDER BY " + std::string(order) +
                                 (cut ? " LIMIT " + std::to_string(report.top) : "");
        section.query = std::make_shared<Statement>(store.prepare(kept));
        if (!by.empty() && section.shown > 0) {
            section.note =
                (section.shown == section.total
                     ? "all " + groupDigits(section.total)
                     : "top " + groupDigits(section.shown) + " of " + groupDigits(section.total)) +
                ", by " + std::string(by);
            if (!d.remark.empty() &&
                (d.remarkIf.empty() ||
                 firstInteger(store, "SELECT EXISTS (SELECT 1 FROM (" + kept + ") WHERE " +
                                         std::string(d.remarkIf) + ")"))) {
                section.note += "; " + std::string(d.remark);
            }
        }
    }
    if (d.complete != nullptr) {
        d.complete(section, store, report, settings);
    }
    return section;
}

}  // namespace

void Section::eachRow(const std::function<void(const Row&)>& visit) const {
    if (!query) {
        for (const Row& row : rows) {
            visit(row);
        }
        return;
    }
    query->reset();
    Row row(columns.size());
    while (query->step()) {
        int at = 0;
        for (std::size_t i = 0; i < columns.size(); ++i) {
            row[i] = readCell(*query, at, columns[i].kind);
        }
        visit(row);
    }
}

const Section* Report::find(std::string_view id) const {
    const auto found = std::find_if(sections.begin(), sections.end(),
                                    [&](const Section& s) { return s.id == id; });
    return found == sections.end() ? nullptr : &*found;
}

std::vector<std::string_view> sectionIds() {
    std::vector<std::string_view> ids;
    for (const Declaration& d : declarations) {
        ids.push_back(d.id);
    }
    return ids;
}

Report buildReport(TallyStore& store, const ReportSettings& settings, const TimeAxis& axis) {
    Report report;
    report.top = settings.top;
    report.axis = axis;
    for (const Declaration& d : declarations) {
        report.sections.push_back(makeSection(d, store, report, settings));
    }
    return report;
}

}  // namespace tidewrack::report
