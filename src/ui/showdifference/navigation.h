#pragma once
// The viewer's difference list apart from the widget: stepping across sheets, the status bar's
// position text and the per-sheet counts the tabs show. The window keeps one beside lsvDifferenace.

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "ui/showdifference/comparison.h"

namespace dupsweep::viewer {

enum class StepEnd {
  none,
  first,  // no previous line
  last,   // no next line
  empty,
};

// The line to select (0-based), or none with the reason.
struct Step {
  std::optional<std::size_t> line;
  StepEnd end = StepEnd::none;
};

class DifferenceNavigator {
 public:
  void clear() noexcept { lines_.clear(); }
  void add(const DifferenceLine& line) { lines_.push_back(line); }
  // Requires index < size().
  std::size_t size() const noexcept { return lines_.size(); }
  const DifferenceLine& line(std::size_t index) const { return lines_.at(index); }
  const std::vector<DifferenceLine>& lines() const noexcept { return lines_; }

  // None selected: the first line. The steps never wrap round.
  Step next(std::optional<std::size_t> current) const noexcept;
  // None selected: the last line.
  Step previous(std::optional<std::size_t> current) const noexcept;

  // "第 k 处，共 N 处" over the whole list; empty when no line is selected. A step that went
  // nowhere adds "，已是第一处" or "，已是最后一处"; an empty list gives "没有差异".
  std::string positionText(std::optional<std::size_t> current, StepEnd end = StepEnd::none) const;

  // Indexed by sheet - 1; lines of sheets beyond `sheets` are not counted.
  std::vector<int> countsBySheet(int sheets) const;

 private:
  std::vector<DifferenceLine> lines_;
};

}  // namespace dupsweep::viewer
