#pragma once
// The viewer's knowledge of its difference list apart from the list widget: the lines in list
// order, stepping from one line to the next or the previous one across sheets, the position text
// of the status bar and the count of differences per sheet that the sheet tabs show. The window
// keeps one DifferenceNavigator beside lsvDifferenace (a line added to the list is added here,
// emptying the list empties it) and turns the operator's keys and buttons into calls.

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "ui/showdifference/comparison.h"

namespace dupsweep::viewer {

// Why a step went nowhere.
enum class StepEnd {
  none,   // the step moved to another line
  first,  // the selected line is the first one: there is no previous line
  last,   // the selected line is the last one: there is no next line
  empty,  // the list holds no line
};

// Where a step leads: the line to select (0-based position in the list), or none with the reason.
struct Step {
  std::optional<std::size_t> line;
  StepEnd end = StepEnd::none;
};

class DifferenceNavigator {
 public:
  // Forgets every line.
  void clear() noexcept { lines_.clear(); }
  // Appends `line` at the end of the list.
  void add(const DifferenceLine& line) { lines_.push_back(line); }
  // Number of lines; the line at 0-based position `index` (requires index < size()).
  std::size_t size() const noexcept { return lines_.size(); }
  const DifferenceLine& line(std::size_t index) const { return lines_.at(index); }
  const std::vector<DifferenceLine>& lines() const noexcept { return lines_; }

  // The line after `current` (none selected: the first line). At the last line, or with an
  // empty list, no line, with the reason; the steps never wrap round.
  Step next(std::optional<std::size_t> current) const noexcept;
  // The line before `current` (none selected: the last line). At the first line, or with an
  // empty list, no line, with the reason.
  Step previous(std::optional<std::size_t> current) const noexcept;

  // "第 k 处，共 N 处" for the selected line (k counted from 1 over the whole list, whatever the
  // sheet); empty when no line is selected or `current` is no line of the list. A step that went
  // nowhere adds its reason: "，已是第一处", "，已是最后一处"; an empty list gives "没有差异".
  std::string positionText(std::optional<std::size_t> current, StepEnd end = StepEnd::none) const;

  // The number of lines of every sheet 1..sheets, indexed by sheet - 1; lines of sheets beyond
  // `sheets` are not counted.
  std::vector<int> countsBySheet(int sheets) const;

 private:
  std::vector<DifferenceLine> lines_;
};

}  // namespace dupsweep::viewer
