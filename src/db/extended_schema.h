// The tables that the extended record (-x, --extended) adds beside the classic ones, as the
// exact SQL text sent to SQLite. The classic tables are made and filled as without it; mode 3
// (flows only) has none of them, nor FRAMES6 and DAYS.
//
//   CAPTURE       one row: where the frames came from (the trace file or adapter as given, its
//                 link type and snap length, the user's filter or NULL), the analysis mode and
//                 the program's version; the times of the first and last frame in UTC
//                 (ISO 8601, microseconds); the UTC offset (seconds east) and zone name of the
//                 host, whose local times FRAMES.time holds, at the first frame; the frames
//                 libpcap delivered and the frames analysed; for a live adapter the kernel's
//                 received and dropped counts at the end, NULL for a trace file; libpcap's text
//                 of the read error that ended the input, NULL when it ended cleanly (the end
//                 of a trace, the time-out of an adapter, a packet count, an interrupt).
//   DAYS          the local date (YYYY-MM-DD) of every analysed frame from `frame` on, and the
//                 host's UTC offset (seconds east) then: one row at the first frame and one
//                 each time the date or the offset (summer time) changes from one analysed
//                 frame to the next, either way; NULLs for frames whose time has no local
//                 date. The date of a frame is that of the row with the greatest frame not
//                 above its own, and its time in UTC its local date and time less the offset.
//   NOT_ANALYSED  the frames delivered but not analysed, by kind, with their bytes on the wire.
//   VLANS         the frames that carried a VLAN tag, by outer VLAN id, with their bytes.
//   CONNECTIONS   one row per connection (of TCP, UDP, ICMP or any other protocol, either
//                 family), written as it ends: its Community ID, its ends from the client's side,
//                 its first and last frames and times, what each direction carried, and for TCP
//                 its state, history, handshake and health (connections/connection_table.h
//                 defines each column; the manual page states them), and the name of its
//                 server with where it came from.
//   NAMES         one row per name learnt from the traffic, with the frame that first gave it:
//                 the address it names, the name, its source (dns, tls, quic, http), and for DNS
//                 the TTL and the name the client asked for when a CNAME chain led to it; for
//                 TLS and QUIC, whether it is the outer name of an encrypted ClientHello
//                 (names/name_tracker.h).
//   SECONDS       every mode (mode 3 has no row per frame): the frames and bytes of each second
//                 of the capture (Unix time, UTC), by family and protocol number; the rows of one
//                 second and protocol add up when the capture's time goes back to it
//                 (extended/traffic_seconds.h).
//   FRAMES6       one row per IPv6 packet, with the columns of FRAMES in the same meaning but
//                 for the addresses, one text each (sIP, dIP) as RFC 5952 writes them; the
//                 protocol is the upper-layer header after the extension headers, and the ports
//                 are its first two words (0 for a fragment after the first).
//
// Frame numbers count every frame libpcap delivered, analysed or not, so that they are the
// frame numbers other tools give the frames of a trace file.
#pragma once

#include <cstddef>

namespace tidewrack::sql {

inline constexpr const char* createCapture =
    "create table CAPTURE (source varchar, link_type varchar, snap_length integer, "
    "filter varchar, mode integer, version varchar, first_utc varchar, last_utc varchar, "
    "utc_offset integer, time_zone varchar, frames_delivered integer, frames_analysed integer, "
    "kernel_received integer, kernel_dropped integer, read_error varchar);";
inline constexpr const char* createDays =
    "create table DAYS (frame integer primary key, date varchar, utc_offset integer);";
inline constexpr const char* createNotAnalysed =
    "create table NOT_ANALYSED (kind varchar, frames integer, bytes integer);";
inline constexpr const char* createVlans =
    "create table VLANS (vlan integer, frames integer, bytes integer);";

inline constexpr const char* createFrames6 =
    "create table FRAMES6 (frame integer, sIP varchar, sPort integer, dIP varchar, "
    "dPort integer, ipproto varchar, flags varchar, time varchar, len integer);";

inline constexpr const char* createConnections =
    "create table CONNECTIONS (community_id varchar, family integer, protocol integer, "
    "ipproto varchar, client varchar, client_port integer, server varchar, server_port integer, "
    "first_frame integer, last_frame integer, first_utc varchar, last_utc varchar, "
    "duration real, frames_client integer, bytes_client integer, payload_client integer, "
    "frames_server integer, bytes_server integer, payload_server integer, state varchar, "
    "history varchar, syns integer, connect_time real, handshake_time real, "
    "retransmissions_client integer, retransmissions_server integer, "
    "out_of_order_client integer, out_of_order_server integer, "
    "duplicate_acks_client integer, duplicate_acks_server integer, "
    "zero_windows_client integer, zero_windows_server integer, missed_bytes integer, "
    "ended varchar, server_name varchar, name_source varchar);";
// Every number comes as text (a 64-bit count, or "NULL" where a value may be missing: the
// ports, the TCP columns), so that the statement keeps to the fast conversions of the run's
// statements.
inline constexpr const char* insertConnectionFormat =
    "INSERT INTO CONNECTIONS VALUES('%s', %d, %d, '%s', '%s', %s, '%s', %s, %s, %s, '%s', '%s', "
    "%s, %s, %s, %s, %s, %s, %s, %s, %s, %s, %s, %s, %s, %s, %s, %s, %s, %s, %s, %s, %s, '%s', "
    "%s, %s);";
inline constexpr const char* createSeconds =
    "create table SECONDS (second integer, family integer, protocol integer, frames integer, "
    "bytes integer);";
// The rows of one second, several to a statement: each row as the second's text (Unix time,
// written by the program), family, protocol, frames and bytes.
inline constexpr const char* insertSecondsStart = "INSERT INTO SECONDS VALUES";
inline constexpr const char* secondsRowFormat = "%s(%s, %d, %d, %s, %s)";
inline constexpr const char* createNames =
    "create table NAMES (frame integer, address varchar, name varchar, source varchar, "
    "ttl integer, queried varchar, ech_outer integer);";
// The name and the queried name come as SQL literals (quoted, or NULL), so that a statement of
// two names of the longest kind fits a buffer of its own.
inline constexpr const char* insertNameFormat =
    "INSERT INTO NAMES VALUES(%llu, '%s', %s, '%s', %s, %s, %s);";
inline constexpr std::size_t nameStatementSize = 8192;

inline constexpr const char* insertFrame6Format =
    "INSERT INTO FRAMES6 VALUES(%d, '%s', %d, '%s', %d, '%s', '%s', '%s.%.6d', %u);";
inline constexpr const char* insertDayFormat = "INSERT INTO DAYS VALUES(%d, '%s', %ld);";
inline constexpr const char* insertUnknownDayFormat = "INSERT INTO DAYS VALUES(%d, NULL, NULL);";
inline constexpr const char* insertNotAnalysedFormat =  // counts as unsigned 64-bit numbers
    "INSERT INTO NOT_ANALYSED VALUES('%s', %llu, %llu);";
inline constexpr const char* insertVlanFormat = "INSERT INTO VLANS VALUES(%d, %llu, %llu);";
// Formatted with SQLite's own printf, whose %Q quotes a text (or writes NULL for none).
inline constexpr const char* insertCaptureFormat =
    "INSERT INTO CAPTURE VALUES(%Q, %Q, %d, %Q, %d, %Q, %Q, %Q, %ld, %Q, %llu, %llu, %s, %s, %Q);";

}  // namespace tidewrack::sql
