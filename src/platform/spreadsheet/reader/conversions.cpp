// Conversions of liborcus's units and enumerations into the workbook model's.

#include <cmath>

#include "platform/spreadsheet/reader/internal.h"
#include "platform/text/text.h"

namespace dupsweep::sheet::reader {

double toPoints(double value, orcus::length_unit_t unit) {
  using U = orcus::length_unit_t;
  switch (unit) {
    case U::centimeter:
      return value * 72.0 / 2.54;
    case U::millimeter:
      return value * 72.0 / 25.4;
    case U::inch:
      return value * 72.0;
    case U::twip:
      return value / 20.0;
    case U::pixel:
      return value * 0.75;
    case U::xlsx_column_digit:
      // A width in digits of the default font (7 pixels each, padding included), as Excel
      // turns it into pixels.
      return std::floor(value * 7.0 + 0.5) * 0.75;
    case U::point:
    case U::unknown:
    default:
      return value;
  }
}

FillPattern toFillPattern(oss::fill_pattern_t p) {
  using P = oss::fill_pattern_t;
  switch (p) {
    case P::none:
      return FillPattern::none;
    case P::solid:
      return FillPattern::solid;
    case P::dark_gray:
      return FillPattern::darkGray;
    case P::medium_gray:
      return FillPattern::mediumGray;
    case P::light_gray:
      return FillPattern::lightGray;
    case P::gray_125:
      return FillPattern::gray125;
    case P::gray_0625:
      return FillPattern::gray0625;
    case P::dark_horizontal:
      return FillPattern::darkHorizontal;
    case P::dark_vertical:
      return FillPattern::darkVertical;
    case P::dark_down:
      return FillPattern::darkDown;
    case P::dark_up:
      return FillPattern::darkUp;
    case P::dark_grid:
      return FillPattern::darkGrid;
    case P::dark_trellis:
      return FillPattern::darkTrellis;
    case P::light_horizontal:
      return FillPattern::lightHorizontal;
    case P::light_vertical:
      return FillPattern::lightVertical;
    case P::light_down:
      return FillPattern::lightDown;
    case P::light_up:
      return FillPattern::lightUp;
    case P::light_grid:
      return FillPattern::lightGrid;
    case P::light_trellis:
      return FillPattern::lightTrellis;
  }
  return FillPattern::none;
}

BorderStyle toBorderStyle(oss::border_style_t s) {
  using S = oss::border_style_t;
  switch (s) {
    case S::unknown:
    case S::none:
      return BorderStyle::none;
    case S::solid:
    case S::thin:
      return BorderStyle::thin;
    case S::dash_dot:
      return BorderStyle::dashDot;
    case S::dash_dot_dot:
      return BorderStyle::dashDotDot;
    case S::dashed:
    case S::fine_dashed:
      return BorderStyle::dashed;
    case S::dotted:
      return BorderStyle::dotted;
    case S::double_border:
    case S::double_thin:
      return BorderStyle::doubleLine;
    case S::hair:
      return BorderStyle::hair;
    case S::medium:
      return BorderStyle::medium;
    case S::medium_dash_dot:
      return BorderStyle::mediumDashDot;
    case S::medium_dash_dot_dot:
      return BorderStyle::mediumDashDotDot;
    case S::medium_dashed:
      return BorderStyle::mediumDashed;
    case S::slant_dash_dot:
      return BorderStyle::slantDashDot;
    case S::thick:
      return BorderStyle::thick;
  }
  return BorderStyle::none;
}

HorizontalAlignment toHorizontal(oss::hor_alignment_t a) {
  using A = oss::hor_alignment_t;
  switch (a) {
    case A::unknown:
      return HorizontalAlignment::general;
    case A::left:
      return HorizontalAlignment::left;
    case A::center:
      return HorizontalAlignment::center;
    case A::right:
      return HorizontalAlignment::right;
    case A::justified:
      return HorizontalAlignment::justified;
    case A::distributed:
      return HorizontalAlignment::distributed;
    case A::filled:
      return HorizontalAlignment::filled;
  }
  return HorizontalAlignment::general;
}

VerticalAlignment toVertical(oss::ver_alignment_t a) {
  using A = oss::ver_alignment_t;
  switch (a) {
    case A::unknown:
    case A::bottom:
      return VerticalAlignment::bottom;
    case A::top:
      return VerticalAlignment::top;
    case A::middle:
      return VerticalAlignment::center;
    case A::justified:
      return VerticalAlignment::justified;
    case A::distributed:
      return VerticalAlignment::distributed;
  }
  return VerticalAlignment::bottom;
}

std::string toModelText(std::string_view s) {
  if (text::isValidUtf8(s)) return std::string(s);
  return text::gb18030ToUtf8(s);
}

}  // namespace dupsweep::sheet::reader
