// Formatting a statement's text into a fixed buffer, as vsnprintf does, but fast for the few
// conversions the traffic database's statements use: %d, %u, %s and %d with a precision
// (%.6d). The per-packet inserts are formatted once or twice a packet, and glibc's general
// printf machinery is several times slower for each of them (bench/RESULTS.md has the counts).
#pragma once

#include <cstdarg>
#include <cstddef>

namespace tidewrack {

// Writes the text of `format` with `args` into `buffer` (of `size` bytes, at least 1) and
// returns the length of the complete text, exactly as vsnprintf would; a result of `size` or
// more means the text did not fit and the buffer holds a cut, terminated prefix. Conversions
// other than those above, and a null %s argument, are handed to vsnprintf itself.
int formatStatement(char* buffer, std::size_t size, const char* format, std::va_list args);

}  // namespace tidewrack
