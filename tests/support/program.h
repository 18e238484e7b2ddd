// Running the built tidewrack binary as a subprocess, with its output captured at the file
// descriptor level (so stdio and stream output are seen in the order the program wrote them).
#pragma once

#include <string>
#include <vector>

namespace testkit {

struct Outcome {
    std::string out;  // standard output
    std::string err;  // standard error
    int status;       // exit status, or 128 + signal number
};

// Runs the program with TZ=UTC; `input` is fed to its standard input. A non-zero `user` runs
// it under that user id (the caller must be root).
Outcome runProgram(const std::vector<std::string>& args, const std::string& input = "",
                   unsigned user = 0);

// Starts the program in the background with its standard output to `outPath`; returns its pid.
int startProgram(const std::vector<std::string>& args, const std::string& outPath);
// Waits for a started program; returns its exit status, or 128 + signal number.
int waitProgram(int pid);

// A fresh scratch directory, removed with its contents when the object ends.
class ScratchDir {
  public:
    ScratchDir();
    ~ScratchDir();
    std::string path(const std::string& name) const { return dir + "/" + name; }

  private:
    std::string dir;
};

}  // namespace testkit

namespace testkit {

// The whole content of a file, as bytes; empty when it cannot be read.
std::string fileBytes(const std::string& path);

// Replaces every "HH:MM:SS" duration of the timing report by "hh:mm:ss", so that reports can
// be compared whatever the run took.
std::string normalizeDurations(std::string text);

// True when live capture on the loopback adapter is permitted (root or CAP_NET_RAW).
bool loopbackCaptureAllowed();

// The name the program shows for the first adapter: its description, or its name without one.
std::string firstAdapterShownName();

}  // namespace testkit
