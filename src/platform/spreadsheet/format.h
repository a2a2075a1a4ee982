#pragma once
// Cell formats of the spreadsheet control: font, fill, borders and alignment, and the table that
// interns them so that every cell refers to its format by a small index instead of holding a copy.

#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

namespace dupsweep::sheet {

// An RGB colour, or "automatic" when a format gives none and the grid's default applies.
struct Color {
  std::uint8_t red = 0;
  std::uint8_t green = 0;
  std::uint8_t blue = 0;
  bool automatic = true;

  // An explicit colour.
  static constexpr Color rgb(std::uint8_t r, std::uint8_t g, std::uint8_t b) {
    return Color{r, g, b, false};
  }
  // A window-system colour value: red in the low byte, green in the second, blue in the third
  // (255 is red). The high byte is ignored.
  static constexpr Color fromColorRef(std::uint32_t value) {
    return rgb(static_cast<std::uint8_t>(value & 0xFF), static_cast<std::uint8_t>(value >> 8),
               static_cast<std::uint8_t>(value >> 16));
  }
  // The window-system colour value of this colour; 0 (black) for automatic.
  constexpr std::uint32_t colorRef() const {
    return automatic ? 0u : (red | (std::uint32_t{green} << 8) | (std::uint32_t{blue} << 16));
  }
  bool operator==(const Color&) const = default;
};

struct Font {
  std::string name;  // empty: the grid's default font
  double size = 0;   // points; 0: the grid's default size
  bool bold = false;
  bool italic = false;
  bool underline = false;
  bool strikeout = false;
  Color color;
  bool operator==(const Font&) const = default;
};

// Fill patterns of the workbook formats (the names of the xlsx pattern types).
enum class FillPattern : std::uint8_t {
  none,
  solid,
  darkGray,
  mediumGray,
  lightGray,
  gray125,
  gray0625,
  darkHorizontal,
  darkVertical,
  darkDown,
  darkUp,
  darkGrid,
  darkTrellis,
  lightHorizontal,
  lightVertical,
  lightDown,
  lightUp,
  lightGrid,
  lightTrellis,
};

struct Fill {
  FillPattern pattern = FillPattern::none;
  Color foreground;  // the colour of a solid fill, the pattern's colour otherwise
  Color background;  // behind the pattern; unused by a solid fill
  bool operator==(const Fill&) const = default;
};

enum class BorderStyle : std::uint8_t {
  none,
  thin,
  medium,
  thick,
  hair,
  dotted,
  dashed,
  mediumDashed,
  dashDot,
  mediumDashDot,
  dashDotDot,
  mediumDashDotDot,
  slantDashDot,
  doubleLine,
};

struct BorderSide {
  BorderStyle style = BorderStyle::none;
  Color color;
  bool operator==(const BorderSide&) const = default;
};

enum class HorizontalAlignment : std::uint8_t {
  general,  // text to the left, numbers to the right
  left,
  center,
  right,
  justified,
  distributed,
  filled,
};

enum class VerticalAlignment : std::uint8_t { bottom, top, center, justified, distributed };

struct CellFormat {
  Font font;
  Fill fill;
  BorderSide left;
  BorderSide top;
  BorderSide right;
  BorderSide bottom;
  HorizontalAlignment horizontal = HorizontalAlignment::general;
  VerticalAlignment vertical = VerticalAlignment::bottom;
  bool operator==(const CellFormat&) const = default;
};

// Index of a format in a workbook's FormatTable; 0 is the workbook's default format.
using FormatId = std::uint32_t;

struct CellFormatHash {
  std::size_t operator()(const CellFormat& format) const noexcept;
};

// The distinct formats of one workbook. Equal formats share one index, so a cell's format costs
// four bytes whatever it holds.
class FormatTable {
 public:
  // A table holding only the default format (index 0).
  FormatTable();

  // The index of `format`, adding it when the table does not hold it yet.
  FormatId intern(const CellFormat& format);

  // The format with index `id`. Requires id < size(). The reference stays valid until the next
  // intern() or setDefault().
  const CellFormat& at(FormatId id) const { return formats_[id]; }

  // Number of formats held (at least 1).
  std::size_t size() const noexcept { return formats_.size(); }

  // Replaces the default format (index 0). Requires that no other format has been interned yet,
  // so that no two indexes ever hold equal formats; throws std::logic_error otherwise.
  void setDefault(const CellFormat& format);

 private:
  std::vector<CellFormat> formats_;
  std::unordered_map<CellFormat, FormatId, CellFormatHash> index_;
};

}  // namespace dupsweep::sheet
