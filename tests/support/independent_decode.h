// What the program should print for a trace, worked out here from the trace's bytes with no
// help from the program, and the program's packet lines taken out of its output to compare.
#pragma once

#include <string>
#include <vector>

namespace testkit {

// "<protocol> a.b.c.d:port  ->  e.f.g.h:port" for each record that matches the filter "ip"
// (every record when "ip" does not compile for the trace's link type), or
// "truncated frame (<n> bytes)" for a record too short to decode; `decoded` counts the others.
std::vector<std::string> independentLines(const std::string& tracePath, int& decoded);

// The program's verbose packet lines without their "n: hh:mm:ss.uuuuuu " prefix.
std::vector<std::string> programLines(const std::string& out);

}  // namespace testkit
