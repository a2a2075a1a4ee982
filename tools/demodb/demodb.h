#pragma once
// Writer of demonstration and load-test databases in the host reporting system's layout: the
// unit classification, the periods, the sample tables with their template workbooks, the
// per-sheet data tables with figures, and the Status table. The default database carries
// planted cases of repeated data (listed by planDemo and describePlan); a scaled database has
// the same schema with a chosen number of units, sheets, rows and figure columns.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace dupsweep::demodb {

inline constexpr std::uint32_t kDefaultSeed = 20240301;

// Size of a scaled database. `cols` counts the figure columns that carry values (spreadsheet
// columns C onwards); every data table also has the two label columns (A, B) that stay NULL.
struct ScaleOptions {
  int units = 100;
  int sheets = 10;
  int rows = 50;
  int cols = 10;
  // Also an earlier period 2023N "2023年" with random figures of the same size (nothing planted),
  // to measure discovery against an earlier period.
  bool earlierPeriod = false;
};

struct DemoOptions {
  std::filesystem::path out;  // the database file to write
  std::uint32_t seed = kDefaultSeed;
  bool force = false;                 // replace an existing file
  bool describe = false;              // print the planted cases (command line only)
  bool help = false;                  // print the usage (command line only)
  std::optional<ScaleOptions> scale;  // set: a scaled database instead of the demo
};

enum class CaseKind {
  WholeDuplicate,  // identical on every sheet
  SomeSheets,      // identical on a few sheets, different on the others
  OneCell,         // identical except one number on one sheet
  LetterCase,      // identical except a text cell "abc" / "ABC"
  TrailingBlank,   // identical except a text cell "abc" / "abc "
  NullVersusZero,  // identical except one cell NULL / 0
  FewerRows,       // identical except that unit B lacks the last row of one sheet
  ShiftedRow,      // one sheet with the same figures but one row under another nRow
  SameName,        // two units with the same name under different parents
  NoData,          // a unit without any data row or Status row (unitB empty)
  // Findings to look into, listed in DemoPlan::findings rather than among the cases:
  CarriedForward,  // unit A hands in its own figures of the earlier period again
  CopiedEarlier,   // unit A hands in unit B's figures of the earlier period
  Rescaled,        // unit A's figures are unit B's times 10^exponent, rounded to two decimals
};

// One planted case. The sheets are sample codes; "identical" means equal row by row in nRow
// order on every figure column, NULL equal only to NULL, texts byte for byte.
struct PlantedCase {
  CaseKind kind;
  std::string unitA, nameA;
  std::string unitB, nameB;
  std::vector<std::string> sameSheets;       // sheets on which A's and B's rows are identical
  std::vector<std::string> differentSheets;  // sheets on which they differ
  std::string detail;                        // where and how they differ, for people
};

// A planted finding that discovery reports but that is no copy to delete: a unit's sheets of
// `period` against `earlierPeriod` (carried forward, copied from an earlier report), or rescaled
// within `period` (every planted period when empty). On `sheets`, unit A's figures are unit B's
// (of the earlier period, when given) times 10^exponent (0: the same figures).
struct PlantedFinding {
  CaseKind kind;
  std::string unitA, nameA;
  std::string unitB, nameB;
  std::string period;
  std::string earlierPeriod;
  std::vector<std::string> sheets;
  int exponent = 0;
  std::string detail;
};

// What a database holds, as far as tests and the demo need to know.
struct DemoPlan {
  std::string unitClsCode;
  std::string taskCode;
  int sampleLevel = 1;
  std::vector<std::string> plantedPeriods;  // period ids whose data carry the planted cases
  std::vector<std::string> sampleCodes;     // listed sample tables of those periods, sheet order
  std::vector<std::string> periodLines;     // one line per period: id, name, type, sheets, data
  std::vector<PlantedCase> cases;
  std::vector<PlantedFinding> findings;
};

struct WriteSummary {
  int units = 0;
  int periods = 0;
  int templates = 0;
  int dataTables = 0;         // DataNum and DataBalance tables
  std::int64_t dataRows = 0;  // rows of all data tables
};

// Parses the program's arguments (without the program name). Throws dupsweep::Error with a
// one-line message on an unknown option, a missing or malformed value, or a missing --out
// (unless --help or a lone --describe).
DemoOptions parseArguments(const std::vector<std::string>& args);

// The usage text of the program, several lines.
std::string usageText();

// The planted cases and fixed codes of the database that `options` describes. Needs no file;
// the seed changes the figures only, never the codes, names or sheets.
DemoPlan planDemo(const DemoOptions& options);

// The plan as a short human-readable list, one line per fact, ending with a newline.
std::string describePlan(const DemoPlan& plan);

// Writes the database to options.out. Requires that the file does not exist unless
// options.force, and that its directory exists. The file is built under a temporary name in
// the same directory and renamed at the end, so a failure leaves any earlier file untouched and
// no partial file behind. Throws dupsweep::FileError or dupsweep::DatabaseError.
WriteSummary writeDemoDatabase(const DemoOptions& options);

// "wrote PATH: N units, ..." — the program's one line on success.
std::string summaryLine(const std::filesystem::path& out, const WriteSummary& summary);

}  // namespace dupsweep::demodb
