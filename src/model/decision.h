#pragma once
// A reviewer's decision on a finding of the duplicate discovery, as the journal's file keeps it:
// which finding (the database, the periods, the two units, the sheet), what was decided, the
// fingerprint of both sides' rows when it was decided, and who decided when.

#include <cstdint>
#include <string>

namespace dupsweep {

// "待审" (not decided, or decided on rows that have changed since), "确认重复",
// "合理重复（不再提示）".
enum class Mark { Pending, Confirmed, Legitimate };

// How a mark is written in files and on command lines: "pending", "confirmed", "legitimate".
inline const char* markToken(Mark mark) noexcept {
  switch (mark) {
    case Mark::Confirmed:
      return "confirmed";
    case Mark::Legitimate:
      return "legitimate";
    case Mark::Pending:
      break;
  }
  return "pending";
}
// The mark a token names; false for another text.
inline bool markOfToken(const std::string& token, Mark& mark) noexcept {
  if (token == "pending")
    mark = Mark::Pending;
  else if (token == "confirmed")
    mark = Mark::Confirmed;
  else if (token == "legitimate")
    mark = Mark::Legitimate;
  else
    return false;
  return true;
}

// A finding as decisions know it, whichever way round its units were found: `unitCodes` are in
// code order.
struct FindingKey {
  std::string database;       // db::databaseIdentity of the database
  std::string periodId;       // the period searched
  std::string againstPeriod;  // the earlier period of a finding against one; empty otherwise
  std::string taskCode;
  std::int32_t level = 0;
  std::string unitCode1, unitCode2;
  std::string sampleCode;

  bool operator==(const FindingKey&) const = default;
};

struct Decision {
  FindingKey key;
  std::string kind;  // the finding's kind when decided ("identical", "near", ...)
  Mark mark = Mark::Pending;
  std::string note;
  // Both sides' rows when decided: the decision holds while they are unchanged.
  std::string fingerprint;
  std::string who;   // the system user
  std::string when;  // UTC, "YYYY-MM-DDTHH:MM:SSZ"
};

}  // namespace dupsweep
