// Scratch directories for the tests: each a fresh directory under the system's temporary
// directory, removed with everything in it when the object ends.
#pragma once

#include <string>

namespace testkit {

class ScratchDir {
  public:
    ScratchDir();
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;
    std::string path(const std::string& name) const { return dir + "/" + name; }

  private:
    std::string dir;
};

}  // namespace testkit
