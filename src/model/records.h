#pragma once
// The plain records that pass between the data module, the dialog and the viewer.

#include <cstdint>
#include <string>

#include "model/pair.h"

namespace dupsweep {

// Columns 0 to 4 of a data table's rows are keys; only the figures from here on are compared,
// shown and fingerprinted.
inline constexpr int kFirstFigureColumn = 5;

// A sample table (report sheet) of a period, with the outcome of comparing it for one pair.
struct TSampleData {
  TSampleData() = default;
  TSampleData(const TSampleData& other) { *this = other; }
  // Copies every field but `nSheetOrder` (0 in a fresh copy): nothing that works with a copy needs
  // the sheet's number in the template.
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

// One repeated sheet: the pair's name, a copy of the sheet's record, and the pair's units as they
// stood at the run, so that the deletion tells same-named pairs apart and can clean a pair since
// taken off the list.
struct DifferenceData {
  std::string sGroupName;
  TSampleData Sample;
  UnitPair pair;
};

struct TPeriod {
  std::string sPeriodID;
  std::string sPeriodName;
};

}  // namespace dupsweep
