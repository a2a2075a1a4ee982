#pragma once
// The component's one error currency. Failures carry their kind and facts; the windows and tools
// compose the words. They are caught only in the handler wrapper, at the COM boundary, and where
// the data module turns a failure into an empty result.

#include <cstdint>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace dupsweep {

class Error : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The database's message (never with a password), the SQLSTATE or "", and the kind, which the
// database layer decides so that nobody above it reads states or messages.
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
                         Kind kind = Kind::Other, int nativeCode = 0)
      : Error(message), sqlState_(std::move(sqlState)), kind_(kind), nativeCode_(nativeCode) {}
  // `cause` told with a message that names what was being done.
  DatabaseError(const std::string& message, const DatabaseError& cause)
      : Error(message),
        sqlState_(cause.sqlState_),
        kind_(cause.kind_),
        nativeCode_(cause.nativeCode_) {}
  const std::string& sqlState() const noexcept { return sqlState_; }
  Kind kind() const noexcept { return kind_; }
  // The library's own code of the failure where it has one (SQLite's extended result code), 0
  // otherwise: for a component keeping a SQLite file of its own, which tells more faults apart.
  int nativeCode() const noexcept { return nativeCode_; }

 private:
  std::string sqlState_;
  Kind kind_;
  int nativeCode_;
};

// A file could not be created, read, written or removed.
class FileError : public Error {
 public:
  using Error::Error;
};

// Bytes without the expected form: a wrong encoding, a corrupt workbook, a malformed string.
class FormatError : public Error {
 public:
  using Error::Error;
};

// Why the journal cannot keep a value of the rows a deletion removes exactly.
enum class KeptValueProblem {
  NotText,              // the exact form of the value did not come as a text
  NoStorageClass,       // the exact form is empty
  IncompleteHex,        // its hexadecimal bytes are cut short
  NotHex,               // they are not hexadecimal bytes
  NotInteger,           // not a 64-bit integer
  InexactReal,          // not readable as exactly one double
  IncompleteUtf16,      // not whole UTF-16 text
  InvalidUtf16,         // not valid UTF-16 text
  UnknownStorageClass,  // a storage class SQLite does not have
};

// The journal cannot be opened, read or written, or cannot keep what a deletion removes: the
// reason with its facts.
class JournalError : public Error {
 public:
  enum class Reason {
    NoPlace,                    // neither DUPSWEEP_JOURNAL, XDG_DATA_HOME nor HOME is set
    CannotMakeDirectory,        // file: the directory; detail: the system's reason
    CannotCreate,               // detail: the system's reason
    IsDirectory,                // the journal's path names a directory
    Foreign,                    // the file is not this component's journal
    DirectoryWritableByOthers,  // file: the directory; detail: its mode ("0775")
    WritableByOthers,           // detail: the file's mode
    // SQLite's refusals while `action`; detail: SQLite's message.
    UnfinishedWrite,  // a write left unfinished cannot be rolled back; `wal` names its side file
    Locked,
    DiskFull,
    ReadOnly,
    CannotOpen,
    Damaged,
    IoError,
    Failed,
    // Checks of the file.
    FailedCheck,        // detail: SQLite's integrity report
    NewerVersion,       // written by a newer program
    CannotCheckLayout,  // detail: SQLite's message
    OtherLayout,        // detail: the missing tables and columns
    OpenedReadOnly,     // a write asked of a journal opened for reading
    // Entries.
    RowWidth,           // table: a row whose values are not one per column
    NaNValue,           // table, row, column: a NaN, which SQLite would keep as NULL
    NoSuchEntryToMark,  // id
    NoSuchEntry,        // id
    DamagedEntry,       // id: a saved value is not of its recorded kind
    BadDate,            // detail: the date given, not YYYY-MM-DD
    NoJournal,          // a restore finds no journal at the file
    ValueNotKept,       // table, row, column, problem; detail: the start of the value
  };
  enum class Action { Open, Read, Write };
  // What the failure left behind, when it ended a deletion or a restore.
  enum class Aftermath {
    None,
    NothingDeleted,           // the deletion stopped before anything was deleted
    RestoredNotNoted,         // the rows went back, but the entry is not marked restored
    NeverTookEffectNotNoted,  // id: the deletion never took effect, which cannot be noted
  };
  struct Facts {
    std::string file;
    std::string detail;
    std::string table;
    std::string column;
    std::int64_t id = 0;
    std::int64_t row = 0;  // counted from 1
    Action action = Action::Read;
    bool wal = false;
    KeptValueProblem problem = KeptValueProblem::NotText;
    Aftermath aftermath = Aftermath::None;
  };

  JournalError(Reason reason, Facts facts)
      : Error("deletion journal " + facts.file + ": failure " +
              std::to_string(static_cast<int>(reason)) +
              (facts.detail.empty() ? "" : " (" + facts.detail + ")")),
        reason_(reason),
        facts_(std::move(facts)) {}
  Reason reason() const noexcept { return reason_; }
  const Facts& facts() const noexcept { return facts_; }
  // The same failure, known to have left `aftermath` (for NeverTookEffectNotNoted, of entry `id`).
  JournalError after(Aftermath aftermath, std::int64_t id = 0) const {
    JournalError e = *this;
    e.facts_.aftermath = aftermath;
    if (aftermath == Aftermath::NeverTookEffectNotNoted) e.facts_.id = id;
    return e;
  }

 private:
  Reason reason_;
  Facts facts_;
};

// A restore that could not put the rows back safely and changed nothing.
class RestoreRefused : public Error {
 public:
  enum class Reason {
    AlreadyRestored,  // id, when
    RolledBack,       // id: the deletion was rolled back
    BadTableName,     // id, table
    TableGone,        // id, table
    NeverTookEffect,  // id, rows: every saved row is still there
    RowsPresent,      // unitName, unitCode, periodId, table, rows: the unit has rows again
    ColumnsChanged,   // table, savedColumns, columns
  };
  struct Facts {
    std::int64_t id = 0;
    std::string when;
    std::string table;
    std::string unitName;
    std::string unitCode;
    std::string periodId;
    std::int64_t rows = 0;
    std::vector<std::string> savedColumns;
    std::vector<std::string> columns;
  };
  RestoreRefused(Reason reason, Facts facts)
      : Error("restore refused: reason " + std::to_string(static_cast<int>(reason)) + ", entry " +
              std::to_string(facts.id) + (facts.table.empty() ? "" : ", table " + facts.table)),
        reason_(reason),
        facts_(std::move(facts)) {}
  Reason reason() const noexcept { return reason_; }
  const Facts& facts() const noexcept { return facts_; }

 private:
  Reason reason_;
  Facts facts_;
};

// `hresult` is the code the call returned.
class ComError : public Error {
 public:
  ComError(const std::string& message, std::int32_t hresult) : Error(message), hresult_(hresult) {}
  std::int32_t hresult() const noexcept { return hresult_; }

 private:
  std::int32_t hresult_;
};

}  // namespace dupsweep
