// Progress on standard error, for runs long enough to want it.
//
// Nothing is shown unless standard error is a terminal, nor before a second has passed since
// the run started: a quick report prints nothing but itself. After that one line, rewritten
// at most ten times a second, tells the database being read (with its share of frames read)
// or the section being put together, and it is wiped when the run ends.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

namespace tidewrack::report {

class Progress {
  public:
    explicit Progress(bool enabled);
    ~Progress();
    Progress(const Progress&) = delete;
    Progress& operator=(const Progress&) = delete;

    // Database `number` of `count` is being read; it holds about `frames` frames.
    void database(std::size_t number, std::size_t count, const std::string& path,
                  std::int64_t frames);
    // So many frames of the current database have been read.
    void frames(std::uint64_t done);
    // The named part of the output is being made.
    void section(const std::string& name);
    // Wipes the line.
    void finish();

  private:
    void show(const std::string& line);

    bool enabled;
    bool shown = false;
    std::chrono::steady_clock::time_point start;
    std::chrono::steady_clock::time_point lastShown;
    std::string current;
    std::int64_t expected = 0;
};

}  // namespace tidewrack::report
