#pragma once
// dupsweep-review: reviewing what discovery finds, from the command line, so that a supervisor can
// script a review. Each verb runs the discovery of the classification first: a finding exists when
// discovery finds it now.
//
//   dupsweep-review OPTIONS list
//   dupsweep-review OPTIONS mark --units A B --sheet CODE --as confirmed|legitimate|pending
//                           [--note TEXT] [--against PERIOD]
//   dupsweep-review OPTIONS delete --units A B --sheet CODE --copy-of B
//
// OPTIONS (before or after the verb): --conn CONNECTION --task TASK --level N [--period ID]
// --unitcls CODE [--journal FILE].

#include <cstdint>
#include <exception>
#include <iosfwd>
#include <string>
#include <vector>

#include "model/decision.h"

namespace dupsweep::review {

struct Options {
  enum class Command { List, Mark, Delete };
  Command command = Command::List;
  std::string conn, task, period, unitcls, journal;
  std::int32_t level = 0;
  std::vector<std::string> units;  // mark, delete: the finding's two units
  std::string sheet;               // mark, delete: the sheet's code
  Mark mark = Mark::Pending;       // mark
  std::string note;                // mark
  std::string against;             // mark: the other period of a finding against one
  std::string copyOf;              // delete: the unit whose copy goes
};

// Parses the command line (without the program name). Throws dupsweep::Error with a one-line
// message for an unknown verb or option, a missing or malformed value.
Options parseArguments(const std::vector<std::string>& args);

// Runs the verb, writing its report to `out`. Throws dupsweep::Error with the reason when it
// cannot be done (a finding discovery does not find, a refused deletion...).
void run(const Options& options, std::ostream& out);

// The one line that tells why the command failed with `error`.
std::string failureText(const std::exception& error);

std::string usage();

}  // namespace dupsweep::review
