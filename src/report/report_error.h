// The failures the report stops for: a one-line message for standard error, such as
// "traffic.db: not an SQLite database". The program puts its own name in front.
#pragma once

#include <stdexcept>

namespace tidewrack::report {

class ReportError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// A command line that cannot be carried out as it stands (status 2), though it parsed: a date
// in a filter of databases without dates, for one.
class UsageError : public ReportError {
  public:
    using ReportError::ReportError;
};

}  // namespace tidewrack::report
