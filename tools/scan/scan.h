#pragma once
// dupsweep-scan: the comparison run for batch use. It compares the unit pairs of one or more
// scheme files over every sample table of a period, with the same engine and the same results as
// the dialog's run, and reports the identical sheets of each pair.

#include <cstdint>
#include <iosfwd>
#include <string>
#include <string_view>
#include <vector>

namespace dupsweep::scan {

struct Options {
  std::string conn;
  std::string task;
  std::int32_t level = 0;
  std::string period;                 // empty: the first period the dialog would list
  std::string unitcls;                // the classification the pairs' units are looked up in;
                                      // empty: any classification
  std::vector<std::string> schemes;   // scheme files holding the pairs
  bool json = false;
  // --discover: find the pairs with repeated data over the whole classification --unitcls
  // instead of comparing the pairs of scheme files; near-copies differ in at most `near` cells.
  bool discover = false;
  int near = 3;
  // --against PERIOD: also compare the period with this earlier period (carried forward, copied
  // from an earlier report, near versions of both, rescaled copies); empty: none.
  std::string against;
  bool all = false;                   // --all: with --discover --json, also the findings marked
                                      // legitimate
  bool progress = false;              // a progress line on stderr (on a terminal)
};

// Parses the command line (without the program name). Throws dupsweep::Error with a one-line
// message for a missing or malformed option.
Options parseArguments(const std::vector<std::string>& args);

// Runs the scan (or, with `discover`, the discovery over the classification) and writes the report to `out` (progress to `progress` when enabled). Pairs with
// a unit code the database does not know, and sheets whose table does not exist, are reported as
// warnings. Throws dupsweep::Error with a one-line message when the database, the period, a
// scheme file or the template workbook cannot be had, when a scheme pairs a unit with itself,
// and when any read fails for another reason than a missing table (a damaged database, a lost
// link, a lock held past the time-out).
void run(const Options& options, std::ostream& out, std::ostream& progress);

// `text` with its control characters (C0, DEL, C1: every start of a terminal escape sequence)
// written as \xNN (\u00NN for C1), as every text of the table report and of the error line is
// printed.
std::string escapeControls(std::string_view text);

// The usage text.
std::string usage();

}  // namespace dupsweep::scan
