// The shared strings that string cells refer to by index.

#include "platform/spreadsheet/reader/internal.h"

namespace dupsweep::sheet::reader {

std::size_t SharedStrings::append(std::string_view s) {
  strings_.push_back(toModelText(s));
  index_.try_emplace(strings_.back(), strings_.size() - 1);
  return strings_.size() - 1;
}

std::size_t SharedStrings::add(std::string_view s) {
  auto it = index_.find(std::string(s));
  return it != index_.end() ? it->second : append(s);
}

std::size_t SharedStrings::commit_segments() {
  const std::size_t id = append(segments_);
  segments_.clear();
  return id;
}

}  // namespace dupsweep::sheet::reader
