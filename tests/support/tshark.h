// Independent figures from tshark: the fields of every frame of a trace as tshark decodes them,
// to hold the program's own reading against.
#pragma once

#include <string>
#include <vector>

namespace testkit {

// True when tshark can be run.
bool tsharkInstalled();

// What tshark writes on standard output when run with `arguments` (a shell's words, quoted as
// a shell quotes them) in the time zone `zone`; its standard error is left aside.
std::string tsharkOutput(const std::string& arguments, const std::string& zone = "UTC");

// One row per frame of `trace`, holding the `fields` in the order asked (an empty text for a
// field the frame lacks, values of a repeated field joined by commas), with local times in
// the time zone `zone`; `options` are further arguments of tshark's (preferences, a filter).
std::vector<std::vector<std::string>> tsharkFields(const std::string& trace,
                                                   const std::vector<std::string>& fields,
                                                   const std::string& zone = "UTC",
                                                   const std::string& options = "");

}  // namespace testkit
