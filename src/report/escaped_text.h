// Texts from a database, a command line or SQLite made safe for the JSON and HTML outputs and
// for a terminal.
//
// Paths and protocol names are bytes that need not be UTF-8; every output is UTF-8, so a byte
// that does not belong to a well-formed UTF-8 sequence is replaced by U+FFFD, the replacement
// character, before the text is escaped. No control character is written as it is: JSON
// escapes them, HTML and the terminal show a stand-in.
#pragma once

#include <string>
#include <string_view>

namespace tidewrack::report {

// A JSON string, quotes included; the controls (C0, DEL and C1) are escaped as \u00XX.
std::string jsonString(std::string_view text);

// Text for an HTML element or a quoted attribute.
std::string htmlText(std::string_view text);

// Text for a terminal, where a control character would move the cursor, retitle the window or
// worse: each C0 control, DEL and C1 control (U+0080 to U+009F) is shown as '?'. Everything
// the report writes to a terminal goes through here: table cells, error messages, progress.
std::string terminalText(std::string_view text);

}  // namespace tidewrack::report
