// The one kind of failure the report stops for: a one-line message for standard error, such as
// "traffic.db: not an SQLite database". The program puts its own name in front.
#pragma once

#include <stdexcept>

namespace tidewrack::report {

class ReportError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

}  // namespace tidewrack::report
