#include "ui/showdifference/navigation.h"

namespace dupsweep::viewer {

Step DifferenceNavigator::next(std::optional<std::size_t> current) const noexcept {
  if (lines_.empty()) return {std::nullopt, StepEnd::empty};
  if (!current || *current >= lines_.size()) return {0, StepEnd::none};
  if (*current + 1 == lines_.size()) return {std::nullopt, StepEnd::last};
  return {*current + 1, StepEnd::none};
}

Step DifferenceNavigator::previous(std::optional<std::size_t> current) const noexcept {
  if (lines_.empty()) return {std::nullopt, StepEnd::empty};
  if (!current || *current >= lines_.size()) return {lines_.size() - 1, StepEnd::none};
  if (*current == 0) return {std::nullopt, StepEnd::first};
  return {*current - 1, StepEnd::none};
}

std::string DifferenceNavigator::positionText(std::optional<std::size_t> current,
                                              StepEnd end) const {
  if (lines_.empty()) return end == StepEnd::none ? std::string() : std::string("没有差异");
  if (!current || *current >= lines_.size()) return {};
  std::string text =
      "第 " + std::to_string(*current + 1) + " 处，共 " + std::to_string(lines_.size()) + " 处";
  if (end == StepEnd::first) text += "，已是第一处";
  if (end == StepEnd::last) text += "，已是最后一处";
  return text;
}

std::vector<int> DifferenceNavigator::countsBySheet(int sheets) const {
  std::vector<int> counts(sheets > 0 ? static_cast<std::size_t>(sheets) : 0, 0);
  for (const DifferenceLine& line : lines_) {
    if (line.sheet >= 1 && line.sheet <= sheets) ++counts[static_cast<std::size_t>(line.sheet - 1)];
  }
  return counts;
}

}  // namespace dupsweep::viewer
