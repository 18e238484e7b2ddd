// The store's schema, its settings, its functions and the adding up of the parts.
#include "report/tally_store.h"

#include <string>

#include "report/activity.h"
#include "report/report_error.h"
#include "report/tcp_states.h"
#include "report/time_of_day.h"
#include "vocabulary/icmp6_texts.h"
#include "vocabulary/icmp_texts.h"
#include "vocabulary/service_tables.h"

namespace tidewrack::report {

namespace {

constexpr const char* schema = R"(
CREATE TABLE database (number INTEGER PRIMARY KEY, path TEXT, mode INTEGER, dated INTEGER,
                       frames INTEGER, bytes INTEGER, first INTEGER, last INTEGER, back INTEGER,
                       delivered INTEGER, place INTEGER, read_error TEXT, records INTEGER,
                       holds_frames INTEGER);
CREATE TABLE protocol (number INTEGER PRIMARY KEY, name TEXT, family INTEGER, tcp INTEGER,
                       ports INTEGER, frames INTEGER, bytes INTEGER);
CREATE TABLE interval (start INTEGER PRIMARY KEY, frames INTEGER, bytes INTEGER, idle INTEGER);
CREATE TABLE timeline (interval INTEGER);
CREATE TABLE udp_destination (port INTEGER PRIMARY KEY, frames INTEGER, bytes INTEGER);
CREATE TABLE icmp_message (family INTEGER, type INTEGER, code INTEGER, frames INTEGER,
                           bytes INTEGER);
CREATE TABLE not_analysed_part (kind TEXT, frames INTEGER, bytes INTEGER);
CREATE TABLE vlan_part (vlan INTEGER, frames INTEGER, bytes INTEGER);
CREATE TABLE endpoint_part (address BLOB, frames_sent INTEGER, bytes_sent INTEGER,
                            frames_received INTEGER, bytes_received INTEGER, first INTEGER,
                            last INTEGER);
CREATE TABLE conversation_part (protocol INTEGER, a BLOB, port_a INTEGER, b BLOB, port_b INTEGER,
                                frames_ab INTEGER, bytes_ab INTEGER, frames_ba INTEGER,
                                bytes_ba INTEGER, first INTEGER, last INTEGER, seen INTEGER,
                                syn_first_a INTEGER, syn_first_b INTEGER,
                                syn_ack_first_a INTEGER, syn_ack_first_b INTEGER,
                                rst_first_a INTEGER, rst_first_b INTEGER, rst_last_a INTEGER,
                                rst_last_b INTEGER, syn_last_a INTEGER, syn_last_b INTEGER,
                                syns_a INTEGER, syns_b INTEGER);
CREATE TABLE connection (protocol INTEGER, a BLOB, port_a INTEGER, b BLOB, port_b INTEGER,
                         client INTEGER, client_port INTEGER, server_port INTEGER, state TEXT,
                         first INTEGER, last INTEGER, retransmissions_ab INTEGER,
                         retransmissions_ba INTEGER, out_of_order_ab INTEGER,
                         out_of_order_ba INTEGER, duplicate_acks_ab INTEGER,
                         duplicate_acks_ba INTEGER, zero_windows_ab INTEGER,
                         zero_windows_ba INTEGER, missed_bytes INTEGER, community_id TEXT);
CREATE TABLE conversation_health_part (protocol INTEGER, a BLOB, port_a INTEGER, b BLOB,
                                       port_b INTEGER, retransmissions_ab INTEGER,
                                       retransmissions_ba INTEGER, out_of_order_ab INTEGER,
                                       out_of_order_ba INTEGER, duplicate_acks_ab INTEGER,
                                       duplicate_acks_ba INTEGER, zero_windows_ab INTEGER,
                                       zero_windows_ba INTEGER, missed_bytes INTEGER,
                                       first INTEGER, community_id TEXT);
CREATE TABLE conversation_health (protocol INTEGER, a BLOB, port_a INTEGER, b BLOB,
                                  port_b INTEGER, retransmissions_ab INTEGER,
                                  retransmissions_ba INTEGER, out_of_order_ab INTEGER,
                                  out_of_order_ba INTEGER, duplicate_acks_ab INTEGER,
                                  duplicate_acks_ba INTEGER, zero_windows_ab INTEGER,
                                  zero_windows_ba INTEGER, missed_bytes INTEGER, first INTEGER,
                                  community_id TEXT,
                                  PRIMARY KEY (protocol, a, port_a, b, port_b)) WITHOUT ROWID;
CREATE TABLE setting (rate_duration INTEGER);
CREATE TABLE second_part (second INTEGER, frames INTEGER, bytes INTEGER);
CREATE TABLE stretch_part (start INTEGER, last INTEGER);
CREATE TABLE baseline_database (path TEXT, place INTEGER);
CREATE TABLE baseline_activity (active INTEGER);
CREATE TABLE baseline_endpoint (address BLOB PRIMARY KEY, frames INTEGER, bytes INTEGER)
    WITHOUT ROWID;
CREATE TABLE baseline_server (protocol TEXT, address BLOB, port INTEGER, conversations INTEGER,
                              frames INTEGER, bytes INTEGER,
                              PRIMARY KEY (protocol, address, port)) WITHOUT ROWID;
CREATE TABLE icmp_error_part (reporter BLOB, sent_to BLOB, type INTEGER, code INTEGER,
                              frames INTEGER, bytes INTEGER);
)";

constexpr const char* aggregation = R"(
CREATE TABLE endpoint AS
SELECT address, sum(frames_sent) AS frames_sent, sum(bytes_sent) AS bytes_sent,
       sum(frames_received) AS frames_received, sum(bytes_received) AS bytes_received,
       min(first) AS first, max(last) AS last
  FROM endpoint_part GROUP BY address;
CREATE TABLE conversation AS
SELECT c.*, h.retransmissions_ab, h.retransmissions_ba, h.out_of_order_ab, h.out_of_order_ba,
       h.duplicate_acks_ab, h.duplicate_acks_ba, h.zero_windows_ab, h.zero_windows_ba,
       h.missed_bytes, h.community_id
  FROM (
SELECT c.protocol, a, port_a, b, port_b, frames_ab, bytes_ab, frames_ba, bytes_ba, first, last,
       seen & 1 > 0 AS syn_a, seen & 16 > 0 AS syn_b, seen & 2 > 0 AS syn_ack_a,
       seen & 32 > 0 AS syn_ack_b, client,
       iif(p.ports, server_end(p.tcp, seen, client, port_a, port_b), NULL) AS server,
       iif(p.tcp, tcp_state(seen, client, frames_ab, frames_ba, syn_ack_first_a,
                            syn_ack_first_b, rst_first_a, rst_first_b, rst_last_a, rst_last_b),
           NULL) AS state,
       CASE client
       WHEN 0 THEN syn_ack_first_b -
                   coalesce(iif(syn_last_a <= syn_ack_first_b, syn_last_a, NULL),
                            iif(syn_first_a <= syn_ack_first_b, syn_first_a, NULL))
       WHEN 1 THEN syn_ack_first_a -
                   coalesce(iif(syn_last_b <= syn_ack_first_a, syn_last_b, NULL),
                            iif(syn_first_b <= syn_ack_first_a, syn_first_b, NULL))
       END AS handshake,
       CASE client
       WHEN 0 THEN iif(syn_first_a <= syn_ack_first_b, syn_ack_first_b - syn_first_a, NULL)
       WHEN 1 THEN iif(syn_first_b <= syn_ack_first_a, syn_ack_first_a - syn_first_b, NULL)
       END AS connect,
       CASE client WHEN 0 THEN syns_a WHEN 1 THEN syns_b ELSE iif(p.tcp, 0, NULL) END AS syns
  FROM (SELECT protocol, a, port_a, b, port_b, sum(frames_ab) AS frames_ab,
               sum(bytes_ab) AS bytes_ab, sum(frames_ba) AS frames_ba, sum(bytes_ba) AS bytes_ba,
               min(first) AS first, max(last) AS last, bits_or(seen) AS seen,
               tcp_client(bits_or(seen), min(syn_first_a), min(syn_first_b)) AS client,
               min(syn_first_a) AS syn_first_a, min(syn_first_b) AS syn_first_b,
               max(syn_last_a) AS syn_last_a, max(syn_last_b) AS syn_last_b,
               min(syn_ack_first_a) AS syn_ack_first_a, min(syn_ack_first_b) AS syn_ack_first_b,
               min(rst_first_a) AS rst_first_a, min(rst_first_b) AS rst_first_b,
               max(rst_last_a) AS rst_last_a, max(rst_last_b) AS rst_last_b,
               sum(syns_a) AS syns_a, sum(syns_b) AS syns_b
          FROM conversation_part GROUP BY protocol, a, port_a, b, port_b) AS c
  JOIN protocol AS p ON p.number = c.protocol) AS c
  -- the health of its connections, when every database tells it
  LEFT JOIN conversation_health AS h ON h.protocol = c.protocol AND h.a = c.a AND
                                        h.port_a = c.port_a AND h.b = c.b AND h.port_b = c.port_b;
CREATE VIEW server_end AS
SELECT p.name AS protocol, p.tcp AS tcp, iif(c.server, c.b, c.a) AS address,
       iif(c.server, c.port_b, c.port_a) AS port, c.frames_ab + c.frames_ba AS frames,
       c.bytes_ab + c.bytes_ba AS bytes, iif(c.server, c.syn_ack_b, c.syn_ack_a) AS accepted,
       c.state AS state
  FROM conversation AS c JOIN protocol AS p ON p.number = c.protocol WHERE c.server IS NOT NULL;
CREATE TABLE icmp_error AS
SELECT reporter, sent_to, type, code, sum(frames) AS frames, sum(bytes) AS bytes
  FROM icmp_error_part GROUP BY reporter, sent_to, type, code;
CREATE TABLE not_analysed AS
SELECT kind, CAST(total(frames) AS INTEGER) AS frames, CAST(total(bytes) AS INTEGER) AS bytes
  FROM not_analysed_part GROUP BY kind;
CREATE TABLE vlan AS
SELECT vlan, CAST(total(frames) AS INTEGER) AS frames, CAST(total(bytes) AS INTEGER) AS bytes
  FROM vlan_part GROUP BY vlan;
CREATE TABLE second AS
SELECT second, sum(frames) AS frames, sum(bytes) AS bytes FROM second_part GROUP BY second;
CREATE TABLE activity (start INTEGER PRIMARY KEY, last INTEGER, before INTEGER);
INSERT INTO activity
WITH ordered AS (
       SELECT start, last, max(last) OVER (ORDER BY start, last ROWS BETWEEN UNBOUNDED PRECEDING
                                           AND 1 PRECEDING) AS reach
         FROM stretch_part),
     numbered AS (
       SELECT start, last, sum(reach IS NULL OR start - reach > $IDLE_GAP) OVER (
                                ORDER BY start, last ROWS UNBOUNDED PRECEDING) AS stretch
         FROM ordered),
     joined AS (SELECT min(start) AS start, max(last) AS last FROM numbered GROUP BY stretch)
SELECT start, last, coalesce(sum(last - start) OVER (ORDER BY start ROWS BETWEEN UNBOUNDED
                                                     PRECEDING AND 1 PRECEDING), 0)
  FROM joined;
CREATE VIEW comparison AS
SELECT now, before,
       before > 0 AND now > 0 AND (now > before * $APART OR before > now * $APART) AS rates
  FROM (SELECT (SELECT total(last - start) FROM activity) AS now,
               (SELECT active FROM baseline_activity) AS before);
DELETE FROM endpoint_part;
DELETE FROM conversation_part;
DELETE FROM icmp_error_part;
DELETE FROM second_part;
DELETE FROM stretch_part;
)";

using ServiceName = const char* (*)(std::uint16_t);

void textResult(sqlite3_context* context, std::string_view text) {
    sqlite3_result_text(context, text.data(), static_cast<int>(text.size()), SQLITE_STATIC);
}

// known_tcp_port(p), known_udp_port(p): the port, or NULL when it has no well-known service.
void knownPort(sqlite3_context* context, int, sqlite3_value** arguments) {
    const auto name = reinterpret_cast<ServiceName>(sqlite3_user_data(context));
    const auto port = static_cast<std::uint16_t>(sqlite3_value_int(arguments[0]));
    if (sqlite3_value_type(arguments[0]) == SQLITE_NULL ||
        std::string_view(name(port)) == ephemeralService) {
        sqlite3_result_null(context);
    } else {
        sqlite3_result_int(context, port);
    }
}

// tcp_service(p), udp_service(p): the service's name, EPHEMERAL for NULL.
void serviceName(sqlite3_context* context, int, sqlite3_value** arguments) {
    const auto name = reinterpret_cast<ServiceName>(sqlite3_user_data(context));
    textResult(context, sqlite3_value_type(arguments[0]) == SQLITE_NULL
                            ? ephemeralService
                            : name(static_cast<std::uint16_t>(sqlite3_value_int(arguments[0]))));
}

// icmp_type_text(family, type), icmp_code_text(family, type, code): ICMP's texts, or ICMPv6's.
void icmpText(sqlite3_context* context, int count, sqlite3_value** arguments) {
    const auto type = static_cast<std::uint8_t>(sqlite3_value_int(arguments[1]));
    const auto code = static_cast<std::uint8_t>(count > 2 ? sqlite3_value_int(arguments[2]) : 0);
    if (sqlite3_value_int(arguments[0]) == 6) {
        const Icmp6Texts texts = icmp6Texts(type, code);
        if (texts.type.empty()) {
            sqlite3_result_null(context);
        } else {
            textResult(context, count > 2 ? texts.code : texts.type);
        }
        return;
    }
    const IcmpTexts texts = icmpTexts(type, code);
    textResult(context, count > 2 ? texts.code : texts.type);
}

// family_name(family): "IPv4" or "IPv6".
void familyName(sqlite3_context* context, int, sqlite3_value** arguments) {
    textResult(context, sqlite3_value_int(arguments[0]) == 6 ? "IPv6" : "IPv4");
}

// bits_or(x): the bitwise or of the group's values (0 for none).
void bitsOrStep(sqlite3_context* context, int, sqlite3_value** arguments) {
    auto* bits =
        static_cast<std::int64_t*>(sqlite3_aggregate_context(context, sizeof(std::int64_t)));
    if (bits != nullptr) {
        *bits |= sqlite3_value_int64(arguments[0]);
    }
}

void bitsOrFinal(sqlite3_context* context) {
    const auto* bits = static_cast<std::int64_t*>(sqlite3_aggregate_context(context, 0));
    sqlite3_result_int64(context, bits != nullptr ? *bits : 0);
}

std::int64_t timeOrUnknown(sqlite3_value* value) {
    return sqlite3_value_type(value) == SQLITE_NULL ? unknownTime : sqlite3_value_int64(value);
}

std::optional<int> clientOf(sqlite3_value* value) {
    return sqlite3_value_type(value) == SQLITE_NULL ? std::nullopt
                                                    : std::optional<int>(sqlite3_value_int(value));
}

// Each end's Seen bits of `seen` (a's low, b's high), and whether it sent anything.
void setSeen(TcpEnd (&ends)[2], std::int64_t seen) {
    ends[0].seen = static_cast<std::uint8_t>(seen & 0xF);
    ends[1].seen = static_cast<std::uint8_t>(seen >> 4 & 0xF);
}

// tcp_client(seen, syn_first_a, syn_first_b): 0 for a, 1 for b, NULL when no end sent SYN.
void tcpClientFunction(sqlite3_context* context, int, sqlite3_value** arguments) {
    TcpEnd ends[2]{};
    setSeen(ends, sqlite3_value_int64(arguments[0]));
    ends[0].synFirst = timeOrUnknown(arguments[1]);
    ends[1].synFirst = timeOrUnknown(arguments[2]);
    const std::optional<int> client = tcpClient(ends);
    if (client) {
        sqlite3_result_int(context, *client);
    } else {
        sqlite3_result_null(context);
    }
}

// server_end(tcp, seen, client, port_a, port_b): 0 for a, 1 for b.
void serverEndFunction(sqlite3_context* context, int, sqlite3_value** arguments) {
    sqlite3_result_int(context,
                       serverEnd(sqlite3_value_int(arguments[0]) != 0,
                                 static_cast<std::uint8_t>(sqlite3_value_int(arguments[1])),
                                 clientOf(arguments[2]),
                                 static_cast<std::uint16_t>(sqlite3_value_int(arguments[3])),
                                 static_cast<std::uint16_t>(sqlite3_value_int(arguments[4]))));
}

// tcp_state(seen, client, frames_ab, frames_ba, syn_ack_first_a, syn_ack_first_b, rst_first_a,
// rst_first_b, rst_last_a, rst_last_b): the state's code.
void tcpStateFunction(sqlite3_context* context, int, sqlite3_value** arguments) {
    TcpEnd ends[2]{};
    setSeen(ends, sqlite3_value_int64(arguments[0]));
    for (int end = 0; end < 2; ++end) {
        ends[end].sent = sqlite3_value_int64(arguments[2 + end]) > 0;
        ends[end].synFirst = unknownTime;
        ends[end].synAckFirst = timeOrUnknown(arguments[4 + end]);
        ends[end].rstFirst = timeOrUnknown(arguments[6 + end]);
        ends[end].rstLast = timeOrUnknown(arguments[8 + end]);
    }
    textResult(context, tcpState(ends, clientOf(arguments[1])).code);
}

// tcp_state_meaning(code): the state in words.
void tcpStateMeaningFunction(sqlite3_context* context, int, sqlite3_value** arguments) {
    const auto* code = reinterpret_cast<const char*>(sqlite3_value_text(arguments[0]));
    textResult(context, tcpStateMeaning(code != nullptr ? code : ""));
}

}  // namespace

TallyStore::TallyStore() {
    sqlite3* connection = nullptr;
    // An empty name is a private temporary database, on disk past its cache.
    const int opened = sqlite3_open_v2(
        "", &connection, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr);
    db.reset(connection);
    if (opened != SQLITE_OK) {
        throw ReportError(std::string("temporary store: ") + sqlite3_errmsg(db.get()));
    }
    run(("PRAGMA cache_size = -" + std::to_string(cacheBytes / 1024) +
         "; PRAGMA temp_store = FILE; PRAGMA journal_mode = OFF; PRAGMA synchronous = OFF; "
         "PRAGMA secure_delete = OFF;")
            .c_str());
    run(schema);
    constexpr int flags = SQLITE_UTF8 | SQLITE_DETERMINISTIC | SQLITE_INNOCUOUS;
    const struct {
        const char* name;
        int arguments;
        void (*function)(sqlite3_context*, int, sqlite3_value**);
        ServiceName table;
    } functions[] = {
        {"known_tcp_port", 1, knownPort, tcpServiceName},
        {"known_udp_port", 1, knownPort, udpServiceName},
        {"tcp_service", 1, serviceName, tcpServiceName},
        {"udp_service", 1, serviceName, udpServiceName},
        {"icmp_type_text", 2, icmpText, nullptr},
        {"icmp_code_text", 3, icmpText, nullptr},
        {"family_name", 1, familyName, nullptr},
        {"tcp_client", 3, tcpClientFunction, nullptr},
        {"server_end", 5, serverEndFunction, nullptr},
        {"tcp_state", 10, tcpStateFunction, nullptr},
        {"tcp_state_meaning", 1, tcpStateMeaningFunction, nullptr},
    };
    for (const auto& f : functions) {
        sqlite3_create_function_v2(db.get(), f.name, f.arguments, flags,
                                   reinterpret_cast<void*>(f.table), f.function, nullptr, nullptr,
                                   nullptr);
    }
    sqlite3_create_function_v2(db.get(), "bits_or", 1, flags, nullptr, nullptr, bitsOrStep,
                               bitsOrFinal, nullptr);
}

std::int64_t TallyStore::firstInteger(std::string_view sql) {
    Statement statement = prepare(sql);
    return statement.step() ? statement.integer(0) : 0;
}

void TallyStore::run(const char* sql) {
    char* message = nullptr;
    if (sqlite3_exec(db.get(), sql, nullptr, nullptr, &message) != SQLITE_OK) {
        const std::string reason = message != nullptr ? message : sqlite3_errmsg(db.get());
        sqlite3_free(message);
        throw ReportError("temporary store: " + reason);
    }
}

void TallyStore::aggregate() {
    std::string sql = aggregation;
    const auto put = [&](std::string_view name, const std::string& value) {
        for (std::size_t at; (at = sql.find(name)) != std::string::npos;) {
            sql.replace(at, name.size(), value);
        }
    };
    put("$IDLE_GAP", std::to_string(Activity::idleGap));
    put("$APART", std::to_string(ratesApart));
    run(sql.c_str());
}

}  // namespace tidewrack::report
