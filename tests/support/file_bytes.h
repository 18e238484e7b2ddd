// Reading what a run left behind: a file's bytes, and console text with its durations made
// comparable.
#pragma once

#include <string>

namespace testkit {

// The whole content of a file, as bytes; empty when it cannot be read.
std::string fileBytes(const std::string& path);

// Replaces every "HH:MM:SS" duration of the timing report by "hh:mm:ss", so that reports can
// be compared whatever the run took.
std::string normalizeDurations(std::string text);

}  // namespace testkit
