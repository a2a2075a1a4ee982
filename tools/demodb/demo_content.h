#pragma once
// The content of a generated database, independent of how it is written: units, periods,
// sample-table layouts, planting rules, and the figures of one unit on one sheet.

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "demodb.h"

namespace dupsweep::demodb::detail {

// Spreadsheet row of the first data row: rows 1 to 3 of every template sheet hold the title,
// the period line and the column headers.
inline constexpr int kFirstDataRow = 4;
// Figure columns A and B carry the template's row labels; the data tables leave them NULL.
inline constexpr int kLabelColumns = 2;
// Key and bookkeeping columns before the figure columns of a data table.
inline constexpr int kKeyColumns = 5;

enum class ColumnKind { Amount, Count, Ratio, Text };

// One figure column that carries values (spreadsheet column C onwards).
struct FigureColumn {
  std::string header;
  ColumnKind kind;
  std::vector<std::string> texts;  // choices of a Text column; "" stands for NULL
};

struct SampleLayout {
  std::string code;
  std::string name;
  std::vector<std::string> rowLabels;  // one per data row, from kFirstDataRow on
  std::vector<FigureColumn> columns;   // spreadsheet columns C, D, ...
  bool hasDataTable = true;
};

struct UnitDef {
  int id = 0;
  std::string name;
};

struct ClassRow {
  std::string cls;
  int unitId = 0;
  int level = 0;
  std::optional<std::string> parent;  // NULL at the top level
  std::string code;
};

struct PeriodDef {
  std::string id;
  std::optional<std::string> name;
  int type = 0;
  std::vector<int> samples;       // indexes into Content::samples, in sheet order (first = base)
  std::optional<int> useTarget;   // bUseTarget of the base template row; none: no template row
  bool extraTemplateRow = false;  // also a non-base SampleTableVts row without a workbook
  bool hasData = false;           // every data unit has rows on every sheet of the period
  bool planted = false;           // the planting rules apply to the period's data
};

using Value = std::variant<std::monostate, std::int64_t, double, std::string>;

struct DataRow {
  int nRow = 0;
  std::vector<Value> values;  // one per SampleLayout::columns
};

// How a planted case changes the generated rows of one sheet.
enum class Edit { None, AddToB, SetBoth, DropLastOfB, ShiftLastOfB };

struct PlantRule {
  CaseKind kind;
  std::string unitA, unitB;
  std::vector<std::string> copiedSheets;  // B's rows on these sheets are generated as A's
  std::string editSheet;                  // the sheet the edit applies to (if any)
  Edit edit = Edit::None;
  int editRow = 0;       // nRow of the edited cell
  int editColumn = 0;    // spreadsheet column number of the edited cell (3 = C)
  Value valueA, valueB;  // SetBoth: the two values; AddToB: valueB is added to A's number
  // Findings: the rule applies in this period only (empty: every planted period); B's rows are A's
  // rows of `sourcePeriod` (empty: of the same period); and with a scaleExponent every amount of
  // B is A's times 10^scaleExponent, rounded half away from zero to two decimals.
  std::string period;
  std::string sourcePeriod;
  int scaleExponent = 0;
};

struct Content {
  std::string unitClsCode = "01";
  std::string taskCode = "T01";
  int sampleLevel = 1;
  std::vector<SampleLayout> samples;
  std::vector<UnitDef> units;
  std::vector<ClassRow> classRows;
  std::vector<PeriodDef> periods;
  std::vector<std::string> dataUnits;  // codes of the units that carry data, in order
  std::vector<PlantRule> rules;
  std::string noDataUnit;   // a unit of the classification without any data
  double nullShare = 0.03;  // share of number cells left NULL at random
};

// The demonstration database's content.
Content demoContent();

// A scaled database's content.
Content scaledContent(const ScaleOptions& scale);

// Name of the figures or balance table of `sample` in `period` ("DataNum" or "DataBalance").
std::string dataTableName(const Content& content, const PeriodDef& period,
                          const SampleLayout& sample, const std::string& stem);

// Name of the unit with `code` in the content's classification (empty when unknown).
std::string unitName(const Content& content, const std::string& code);

// Generates the rows of `unitCode` on sample `sampleIndex` of period `periodIndex`,
// deterministically from `seed`, with the planting rules applied when the period is planted.
// `ordinals` maps the data units' codes to their position in Content::dataUnits.
std::vector<DataRow> unitRows(const Content& content, std::uint32_t seed, int periodIndex,
                              int sampleIndex, const std::string& unitCode,
                              const std::map<std::string, int>& ordinals);

// The planted cases as the public plan describes them.
DemoPlan planOf(const Content& content);

}  // namespace dupsweep::demodb::detail
