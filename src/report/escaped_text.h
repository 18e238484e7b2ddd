// Texts from a database, a command line or SQLite made safe for the HTML output and for a
// terminal (the JSON document is serialised by its library, which escapes them itself).
//
// Paths and protocol names are bytes that need not be UTF-8; every output is UTF-8, so a byte
// that does not belong to a well-formed UTF-8 sequence is replaced by U+FFFD, the replacement
// character, before the text is escaped. No control character is written as it is: HTML and
// the terminal show a stand-in.
#pragma once

#include <string>
#include <string_view>

namespace tidewrack::report {

// Text for an HTML element or a quoted attribute.
std::string htmlText(std::string_view text);

// Text for a terminal, where a control character would move the cursor, retitle the window or
// worse: each C0 control, DEL and C1 control (U+0080 to U+009F) is shown as '?'. Everything
// the report writes to a terminal goes through here: table cells, error messages, progress.
std::string terminalText(std::string_view text);

}  // namespace tidewrack::report
