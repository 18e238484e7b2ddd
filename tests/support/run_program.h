// Running a built program as a subprocess, with its output captured at the file-descriptor
// level, so that stdio and stream output are seen in the order the program wrote them.
#pragma once

#include <string>
#include <vector>

namespace testkit {

struct Outcome {
    std::string out;  // standard output
    std::string err;  // standard error
    int status;       // exit status, or 128 + signal number
};

// Runs `binary` with TZ=UTC; `input` is fed to its standard input. A non-zero `user` runs it
// under that user id (the caller must be root).
Outcome runBinary(const std::string& binary, const std::vector<std::string>& args,
                  const std::string& input = "", unsigned user = 0);

// runBinary for the tidewrack binary of this build.
Outcome runProgram(const std::vector<std::string>& args, const std::string& input = "",
                   unsigned user = 0);

// Starts tidewrack in the background with its standard output and error to `outPath`, or its
// standard error to `errPath` when one is given (the two streams are buffered apart, so that
// a line of one may be cut by a write of the other in a shared file); returns its pid.
int startProgram(const std::vector<std::string>& args, const std::string& outPath,
                 const std::string& errPath = "");
// Starts tidewrack in the background with `in`, `out` and `err` as its standard descriptors
// (-1 leaves that one closed) and the `ignored` signals ignored, as a shell starts a
// background job; returns its pid.
int spawnProgram(const std::vector<std::string>& args, int in, int out, int err,
                 const std::vector<int>& ignored = {});
// Waits until a started program catches `signal` (its input is open); false when it has not
// after half a minute.
bool waitUntilCatching(int pid, int signal);
// Waits until a started program waits for more of its input from a pipe, all of it read that
// there was; false when it has not after half a minute.
bool waitUntilReadingAPipe(int pid);
// Waits for a started program; returns its exit status, or 128 + signal number.
int waitProgram(int pid);

}  // namespace testkit
