#pragma once
// The records that pass between the data module, the dialog and the viewer. Plain data: no
// behaviour beyond construction and, for the sample table, its copying rule.

#include <cstdint>
#include <string>

#include "model/pair.h"

namespace dupsweep {

// A data table's rows carry five key columns (indexes 0 to 4); the figures start at index 5.
// Only figures are compared, shown and fingerprinted.
inline constexpr int kFirstFigureColumn = 5;

// One sample table (report sheet) of a period, with the outcome of comparing it for one pair.
struct TSampleData {
  TSampleData() = default;
  TSampleData(const TSampleData& other) { *this = other; }
  // Copies every field but `nSheetOrder`, which keeps its own value (0 in a fresh copy): nothing
  // that works with a copy needs the sheet's number in the template.
  TSampleData& operator=(const TSampleData& other) {
    if (this != &other) {
      bRepeated = other.bRepeated;
      sSampleCode = other.sSampleCode;
      sSampleName = other.sSampleName;
      nSampleLevel = other.nSampleLevel;
      sPeriodID = other.sPeriodID;
      sTaskCode = other.sTaskCode;
      TablePrefix = other.TablePrefix;
    }
    return *this;
  }

  bool bRepeated = false;
  std::string sSampleCode;
  std::string sSampleName;
  std::int32_t nSampleLevel = 0;
  std::int32_t nSheetOrder = 0;
  std::string sPeriodID;
  std::string sTaskCode;
  std::string TablePrefix;
};

// One repeated sheet found by a comparison run: the pair's name, a copy of the sheet's record and
// the pair it was found identical for, its units as they stood at the run. The deletion takes its
// units from here, so that pairs of one name are told apart and a pair taken off the pair list
// after the run can still be cleaned.
struct DifferenceData {
  std::string sGroupName;
  TSampleData Sample;
  UnitPair pair;
};

// One period the dialog can choose: its key and its composed display name.
struct TPeriod {
  std::string sPeriodID;
  std::string sPeriodName;
};

}  // namespace dupsweep
