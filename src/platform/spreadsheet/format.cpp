#include "platform/spreadsheet/format.h"

#include <functional>
#include <stdexcept>

namespace dupsweep::sheet {
namespace {

void mix(std::size_t& seed, std::size_t value) {
  seed ^= value + 0x9e3779b97f4a7c15ULL + (seed << 6) + (seed >> 2);
}

std::size_t colorBits(const Color& c) {
  return c.automatic ? 0x1000000u : c.colorRef();
}

void mixSide(std::size_t& seed, const BorderSide& side) {
  mix(seed, static_cast<std::size_t>(side.style));
  mix(seed, colorBits(side.color));
}

}  // namespace

std::size_t CellFormatHash::operator()(const CellFormat& f) const noexcept {
  std::size_t seed = std::hash<std::string>{}(f.font.name);
  mix(seed, std::hash<double>{}(f.font.size));
  mix(seed, (f.font.bold ? 1u : 0u) | (f.font.italic ? 2u : 0u) | (f.font.underline ? 4u : 0u) |
                (f.font.strikeout ? 8u : 0u));
  mix(seed, colorBits(f.font.color));
  mix(seed, static_cast<std::size_t>(f.fill.pattern));
  mix(seed, colorBits(f.fill.foreground));
  mix(seed, colorBits(f.fill.background));
  mixSide(seed, f.left);
  mixSide(seed, f.top);
  mixSide(seed, f.right);
  mixSide(seed, f.bottom);
  mix(seed, static_cast<std::size_t>(f.horizontal) << 8 | static_cast<std::size_t>(f.vertical));
  return seed;
}

FormatTable::FormatTable() {
  formats_.emplace_back();
  index_.emplace(formats_.front(), 0);
}

FormatId FormatTable::intern(const CellFormat& format) {
  auto [it, inserted] = index_.try_emplace(format, static_cast<FormatId>(formats_.size()));
  if (inserted) formats_.push_back(format);
  return it->second;
}

void FormatTable::setDefault(const CellFormat& format) {
  if (formats_.size() != 1) {
    throw std::logic_error("The default format can only be replaced in an otherwise empty table");
  }
  index_.clear();
  formats_.front() = format;
  index_.emplace(format, 0);
}

}  // namespace dupsweep::sheet
