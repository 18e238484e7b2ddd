// Widths of text on a terminal, and texts fitted to a width.
//
// A character takes the columns a terminal gives it: two for the wide characters of East Asian
// scripts and for emoji, none for combining marks and zero-width characters, one for the rest.
// Texts are well-formed UTF-8, as terminalText (escaped_text.h) makes them; nothing here ever
// splits a character.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace tidewrack::report {

std::size_t displayWidth(std::string_view text);

// The text in at most `width` columns: as it is when it fits, else shortened at its end (or,
// with `front`, at its start) with '~' where the cut is.
std::string fitToWidth(std::string_view text, std::size_t width, bool front = false);

// The text broken at blanks into lines of at most `width` columns, each line after the first
// indented by `indent` blanks; a word longer than a line is cut where the line ends.
std::vector<std::string> wrapToWidth(std::string_view text, std::size_t width, std::size_t indent);

}  // namespace tidewrack::report
