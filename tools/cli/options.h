#pragma once
// What the command-line tools that take --task, --level and --period share: the level's parsing
// and the period chosen when none is named (the task's first period for the level, as the
// dialog's period list shows it first).

#include <charconv>
#include <cstdint>
#include <string>

#include "data/dmdupsweep.h"
#include "platform/errors.h"

namespace dupsweep::cli {

inline std::int32_t parseLevel(const std::string& text) {
  std::int32_t value = 0;
  const auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || ptr != text.data() + text.size() || text.empty())
    throw Error("--level takes a whole number, not '" + text + "'");
  return value;
}

inline std::string chosenPeriod(TdmDupsweep& dm, const std::string& period,
                                const std::string& task, std::int32_t level) {
  if (!period.empty()) return period;
  auto periods = dm.GetPeriodList(task, level);
  if (!periods) throw Error("the periods of task " + task + " could not be read");
  if (periods->empty())
    throw Error("task " + task + " has no period for level " + std::to_string(level));
  return periods->front().period->sPeriodID;
}

}  // namespace dupsweep::cli
