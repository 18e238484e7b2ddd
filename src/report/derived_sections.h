// The sections that group the conversations, worked out in memory: the TCP states, the
// handshake times by server and by service, the services by traffic, the TCP services, the port
// scans and the connection attempts never answered.
//
// Each of them is declared by the SQL that groups the store's conversation table
// (section_declarations.cpp), which is how a tally that passed its budget gets them. A tally
// that stayed within it still holds every conversation in its map, and groups them faster itself:
// it sorts a list of small records that point into the map (at most two per conversation,
// `derivationCost` bytes in all, which the tally counts in its budget), and writes the rows of
// each section, few where the conversations are many, into the table the section's rows are
// read from (derivedTable, report_sections.h), with what the section says of the rows it leaves
// out (derivedAside). The values are those the SQL gives, of the same types, so that the
// sections order, cut and show them alike.
#pragma once

#include <cstddef>
#include <span>
#include <string_view>
#include <unordered_map>

#include "report/protocol_catalog.h"
#include "report/tally_store.h"
#include "report/traffic_tally.h"

namespace tidewrack::report {

using ConversationMap = std::unordered_map<ConversationKey, Conversation, KeyHash>;

// A source that sent SYN to this many distinct ports of one target, or more, is scanning it.
inline constexpr std::int64_t scanPorts = 10;

// The memory the working out takes per conversation at most, besides the map.
inline constexpr std::size_t derivationCost = 80;

// Writes the rows of those sections into their tables in `store`, of the conversations in the
// TCP states `states` only (all when it is empty), as --state keeps them.
void deriveSections(TallyStore& store, const ConversationMap& conversations,
                    const ProtocolCatalog& catalog, std::span<const std::string_view> states);

}  // namespace tidewrack::report
