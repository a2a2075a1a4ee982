#pragma once
// dupsweep-restore: the deletion journal from the command line. It lists the journal's entries,
// shows one with every saved row, puts one entry's rows back into its database (or another one
// named with --conn), and removes old entries.
//
//   dupsweep-restore [--journal FILE] list
//   dupsweep-restore [--journal FILE] show ID
//   dupsweep-restore [--journal FILE] [--conn CONNECTION] restore ID
//   dupsweep-restore [--journal FILE] [--conn CONNECTION] restore-batch ID
//   dupsweep-restore [--journal FILE] prune --before YYYY-MM-DD

#include <cstdint>
#include <exception>
#include <iosfwd>
#include <string>
#include <vector>

namespace dupsweep::restore {

struct Options {
  enum class Command { List, Show, Restore, RestoreBatch, Prune };
  Command command = Command::List;
  std::int64_t id = 0;   // show, restore; restore-batch: the batch
  std::string conn;      // restore: the database to put the rows into; empty: the entry's
  std::string journal;   // empty: journal::defaultPath()
  std::string before;    // prune: entries made before this date go
};

// Parses the command line (without the program name). Throws dupsweep::Error with a one-line
// message for an unknown command or option, a missing or malformed value.
Options parseArguments(const std::vector<std::string>& args);

// Runs the command and writes its report to `out`. Throws dupsweep::Error (JournalError,
// RestoreRefused, DatabaseError…) with the reason when it cannot be done (failureText tells it);
// a refused or failed restore has changed nothing.
void run(const Options& options, std::ostream& out);

// The one line that tells why the command failed with `error`.
std::string failureText(const std::exception& error);

// The usage text.
std::string usage();

}  // namespace dupsweep::restore
