// The store's schema, its settings, its functions and the adding up of the parts.
#include "report/tally_store.h"

#include <string>

#include "capture/icmp_texts.h"
#include "capture/service_tables.h"
#include "report/icmp6_texts.h"
#include "report/report_error.h"

namespace tidewrack::report {

namespace {

constexpr const char* schema = R"(
CREATE TABLE database (number INTEGER PRIMARY KEY, path TEXT, mode INTEGER, dated INTEGER,
                       frames INTEGER, bytes INTEGER, first INTEGER, last INTEGER, back INTEGER,
                       delivered INTEGER, place INTEGER);
CREATE TABLE protocol (number INTEGER PRIMARY KEY, name TEXT, family INTEGER, tcp INTEGER,
                       ports INTEGER, frames INTEGER, bytes INTEGER);
CREATE TABLE interval (start INTEGER PRIMARY KEY, frames INTEGER, bytes INTEGER);
CREATE TABLE timeline (interval INTEGER);
CREATE TABLE udp_destination (port INTEGER PRIMARY KEY, frames INTEGER, bytes INTEGER);
CREATE TABLE icmp_message (family INTEGER, type INTEGER, code INTEGER, frames INTEGER,
                           bytes INTEGER);
CREATE TABLE not_analysed_part (kind TEXT, frames INTEGER, bytes INTEGER);
CREATE TABLE vlan_part (vlan INTEGER, frames INTEGER, bytes INTEGER);
CREATE TABLE endpoint_part (address BLOB, frames_sent INTEGER, bytes_sent INTEGER,
                            frames_received INTEGER, bytes_received INTEGER);
CREATE TABLE conversation_part (protocol INTEGER, a BLOB, port_a INTEGER, b BLOB, port_b INTEGER,
                                frames_ab INTEGER, bytes_ab INTEGER, frames_ba INTEGER,
                                bytes_ba INTEGER, first INTEGER, last INTEGER, syn_a INTEGER,
                                syn_b INTEGER, syn_ack_a INTEGER, syn_ack_b INTEGER);
CREATE TABLE icmp_error_part (reporter BLOB, sent_to BLOB, type INTEGER, code INTEGER,
                              frames INTEGER, bytes INTEGER);
)";

constexpr const char* aggregation = R"(
CREATE TABLE endpoint AS
SELECT address, sum(frames_sent) AS frames_sent, sum(bytes_sent) AS bytes_sent,
       sum(frames_received) AS frames_received, sum(bytes_received) AS bytes_received
  FROM endpoint_part GROUP BY address;
CREATE TABLE conversation AS
SELECT protocol, a, port_a, b, port_b, sum(frames_ab) AS frames_ab, sum(bytes_ab) AS bytes_ab,
       sum(frames_ba) AS frames_ba, sum(bytes_ba) AS bytes_ba, min(first) AS first,
       max(last) AS last, max(syn_a) AS syn_a, max(syn_b) AS syn_b, max(syn_ack_a) AS syn_ack_a,
       max(syn_ack_b) AS syn_ack_b
  FROM conversation_part GROUP BY protocol, a, port_a, b, port_b;
CREATE TABLE icmp_error AS
SELECT reporter, sent_to, type, code, sum(frames) AS frames, sum(bytes) AS bytes
  FROM icmp_error_part GROUP BY reporter, sent_to, type, code;
CREATE TABLE not_analysed AS
SELECT kind, sum(frames) AS frames, sum(bytes) AS bytes FROM not_analysed_part GROUP BY kind;
CREATE TABLE vlan AS
SELECT vlan, sum(frames) AS frames, sum(bytes) AS bytes FROM vlan_part GROUP BY vlan;
DELETE FROM endpoint_part;
DELETE FROM conversation_part;
DELETE FROM icmp_error_part;
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
    };
    for (const auto& f : functions) {
        sqlite3_create_function_v2(db.get(), f.name, f.arguments, flags,
                                   reinterpret_cast<void*>(f.table), f.function, nullptr, nullptr,
                                   nullptr);
    }
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
    run(aggregation);
}

}  // namespace tidewrack::report
