#pragma once
// The component's one error currency: every failure is an exception of this small hierarchy,
// carrying a message fit to show an operator. Failures are caught only where the component's
// design says so: in the window framework's handler wrapper, at the COM boundary, and in the
// data-module operations that turn a failure into an empty result.

#include <cstdint>
#include <stdexcept>
#include <string>

namespace dupsweep {

// Base of every failure the component raises on purpose.
class Error : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A statement or connection failure: the database's message (never with a connection's
// password), the driver's five-character SQLSTATE when there is one (empty otherwise), and the
// kind of failure, which the database layer decides so that nobody above it reads states or
// messages.
class DatabaseError : public Error {
 public:
  enum class Kind {
    MissingTable,  // the statement named a table the database does not have
    LinkLost,      // the link to the database is gone, or could not be made
    Locked,        // gave up waiting for a lock another connection holds, or lost a deadlock
    Damaged,       // the database file is damaged or is not a database
    Constraint,    // a constraint of the database refused the change
    Other
  };
  explicit DatabaseError(const std::string& message, std::string sqlState = {},
                         Kind kind = Kind::Other)
      : Error(message), sqlState_(std::move(sqlState)), kind_(kind) {}
  // The failure `cause` told with another message (one that names what was being done).
  DatabaseError(const std::string& message, const DatabaseError& cause)
      : Error(message), sqlState_(cause.sqlState_), kind_(cause.kind_) {}
  const std::string& sqlState() const noexcept { return sqlState_; }
  Kind kind() const noexcept { return kind_; }

 private:
  std::string sqlState_;
  Kind kind_;
};

// A file could not be created, read, written or removed.
class FileError : public Error {
 public:
  using Error::Error;
};

// Bytes that do not have the expected form: text in a wrong encoding, a corrupt workbook,
// a malformed connection string or registry file.
class FormatError : public Error {
 public:
  using Error::Error;
};

// The deletion journal cannot be opened, read or written: a damaged file or one that is not a
// journal, a file locked by another program, a full or read-only file system. The message names
// the file and says why.
class JournalError : public Error {
 public:
  using Error::Error;
};

// A restore that could not put the rows back safely and changed nothing: the entry was restored
// before or never took effect, the unit has rows again, or a table's columns changed.
class RestoreRefused : public Error {
 public:
  using Error::Error;
};

// A failed COM call; `hresult` is the code it returned.
class ComError : public Error {
 public:
  ComError(const std::string& message, std::int32_t hresult) : Error(message), hresult_(hresult) {}
  std::int32_t hresult() const noexcept { return hresult_; }

 private:
  std::int32_t hresult_;
};

}  // namespace dupsweep
