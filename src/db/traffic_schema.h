// The statements that build the traffic database, as the exact SQL text sent to SQLite.
//
// Mode 1 (full analysis) writes:
//   FRAMES      one row per decoded frame: number, addresses byte by byte, both ports (the
//               first two words after the IPv4 header, whatever the protocol), the protocol
//               name, the TCP flags text, the local time with microseconds, the wire length.
//   <name>_raw  one table per IP protocol, named after the protocol, holding the address pair
//               of each packet. ICMP_raw adds the ICMP type and code texts; UDP_raw the
//               destination port and its service; TCP_raw holds only SYN+ACK segments, turned
//               around so that the row reads from the initiator to the responder and names
//               the responder's service. Tables of protocols never seen are dropped at the end.
//   IPPROTO     the names of the protocols seen, written at the end.
//   <name>      the directed flows of a protocol: the distinct rows of its raw table.
//   SERVICES_ICMP, SERVICES_UDP, SERVICES_TCP
//               the distinct ICMP type/code pairs, UDP services and TCP services of the flows.
// Mode 2 writes the one table frames, with the columns of FRAMES.
//
// Table names come from the protocol name table and are quoted, because some hold blanks or
// punctuation ("Any_0-hop ", "TP++", "AX.25", "A/N"). Values are numbers or constant texts
// from the decoder's tables, none of which contains a quote.
#pragma once

#include <iterator>

namespace tidewrack::sql {

inline constexpr const char* createFrames =
    "create table FRAMES (frame integer, sIP1 integer, sIP2 integer, sIP3 integer, sIP4 integer, "
    "sPort integer, dIP1 integer, dIP2 integer, dIP3 integer, dIP4 integer, dPort integer, "
    "ipproto varchar, flags varchar, time varchar, len integer);";
inline constexpr const char* createFramesOnly =
    "create table frames (frame integer, sIP1 integer, sIP2 integer, sIP3 integer, sIP4 integer, "
    "sPort integer, dIP1 integer, dIP2 integer, dIP3 integer, dIP4 integer, dPort integer, "
    "ipproto varchar, flags varchar, time varchar, len integer);";
inline constexpr const char* createProtocols = "create table IPPROTO (name varchar);";
inline constexpr const char* createHopopt =
    "create table HOPOPT_raw (sIP1 integer, sIP2 integer, sIP3 integer, sIP4 integer, "
    "dIP1 integer, dIP2 integer, dIP3 integer, dIP4 integer);";
inline constexpr const char* createIcmp =
    "create table ICMP_raw (sIP1 integer, sIP2 integer, sIP3 integer, sIP4 integer, "
    "dIP1 integer, dIP2 integer, dIP3 integer, dIP4 integer, type varchar, code varchar);";
inline constexpr const char* createTcp =
    "create table TCP_raw (sIP1 integer, sIP2 integer, sIP3 integer, sIP4 integer, "
    "sPort integer, dIP1 integer, dIP2 integer, dIP3 integer, dIP4 integer, dPort integer, "
    "service varchar);";
inline constexpr const char* createUdp =
    "create table UDP_raw (sIP1 integer, sIP2 integer, sIP3 integer, sIP4 integer, "
    "dIP1 integer, dIP2 integer, dIP3 integer, dIP4 integer, dPort integer, service varchar);";
inline constexpr const char* createRawFormat =  // protocol name
    "create table \"%s_raw\" (sIP1 integer, sIP2 integer, sIP3 integer, sIP4 integer, "
    "dIP1 integer, dIP2 integer, dIP3 integer, dIP4 integer);";

inline constexpr const char* noSync = "PRAGMA synchronous=OFF;";
inline constexpr const char* begin = "BEGIN;";
inline constexpr const char* commit = "COMMIT;";

inline constexpr const char* insertFrameFormat =
    "INSERT INTO frames VALUES(%d, %d, %d, %d, %d, %d, %d, %d, %d, %d, %d, '%s', '%s', "
    "'%s.%.6d', %u);";
inline constexpr const char* insertIcmpFormat =
    "INSERT INTO ICMP_raw VALUES(%d, %d, %d, %d, %d, %d, %d, %d, '%s', '%s');";
inline constexpr const char* insertTcpFormat =
    "INSERT INTO TCP_raw VALUES(%d, %d, %d, %d, %d, %d, %d, %d, %d, %d, '%s');";
inline constexpr const char* insertUdpFormat =
    "INSERT INTO UDP_raw VALUES(%d, %d, %d, %d, %d, %d, %d, %d, %d, '%s');";
inline constexpr const char* insertRawFormat =  // protocol name, then the addresses
    "INSERT INTO \"%s_raw\" VALUES(%d, %d, %d, %d, %d, %d, %d, %d);";

inline constexpr const char* insertProtocolFormat = "INSERT INTO IPPROTO VALUES ('%s');";
inline constexpr const char* dropRawFormat = "DROP TABLE \"%s_raw\";";
inline constexpr const char* createFlowFormat =  // protocol name twice
    "CREATE TABLE '%s' as SELECT distinct * from \"%s_raw\";";
inline constexpr const char* serviceStatements[] = {
    "CREATE TABLE SERVICES_ICMP AS SELECT DISTINCT type,code FROM ICMP",
    "CREATE TABLE SERVICES_UDP AS SELECT DISTINCT service FROM UDP",
    "CREATE TABLE SERVICES_TCP AS SELECT DISTINCT service FROM TCP",
};
// The protocol number of each service statement's flow table: a statement whose protocol was
// not seen fails for want of its table, as it is meant to.
inline constexpr int serviceProtocols[] = {1, 17, 6};
static_assert(std::size(serviceProtocols) == std::size(serviceStatements));

}  // namespace tidewrack::sql
