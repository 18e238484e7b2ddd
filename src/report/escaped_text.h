// Texts from a database or a command line made safe for the JSON and HTML outputs.
//
// Paths and protocol names are bytes that need not be UTF-8; both outputs are UTF-8
// documents, so a byte that does not belong to a well-formed UTF-8 sequence is replaced by
// U+FFFD, the replacement character, before the text is escaped.
#pragma once

#include <string>
#include <string_view>

namespace tidewrack::report {

// A JSON string, quotes included.
std::string jsonString(std::string_view text);

// Text for an HTML element or a quoted attribute.
std::string htmlText(std::string_view text);

}  // namespace tidewrack::report
