// The styles part of a file: fonts, fills, borders, number formats and the cell format records
// that combine them.

#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/spreadsheet/celltext.h"
#include "platform/spreadsheet/reader/internal.h"

namespace dupsweep::sheet::reader {
namespace {

struct Borders {
  BorderSide left, top, right, bottom;
};

class StyleSink final : public Styles {
 public:
  CellFormat resolve(std::size_t xf) const override {
    CellFormat format;
    if (xf >= cellXfs_.size()) return format;
    const Xf& x = cellXfs_[xf];
    if (x.font < fonts_.size()) format.font = fonts_[x.font];
    if (x.fill < fills_.size()) format.fill = fills_[x.fill];
    if (x.border < borders_.size()) {
      const Borders& b = borders_[x.border];
      format.left = b.left;
      format.top = b.top;
      format.right = b.right;
      format.bottom = b.bottom;
    }
    format.horizontal = x.horizontal;
    format.vertical = x.vertical;
    return format;
  }
  std::size_t cellXfCount() const override { return cellXfs_.size(); }

  std::string_view numberFormatCode(std::size_t xf) const override {
    if (xf >= cellXfs_.size()) return {};
    const std::size_t id = cellXfs_[xf].numberFormat;
    if (auto it = numberFormatCodes_.find(id); it != numberFormatCodes_.end()) return it->second;
    return builtinNumberFormat(id);
  }

  // fonts
  void set_font_count(std::size_t n) override { fonts_.reserve(n); }
  void set_font_bold(bool b) override { font_.bold = b; }
  void set_font_italic(bool b) override { font_.italic = b; }
  void set_font_name(std::string_view s) override { font_.name = toModelText(s); }
  void set_font_size(double point) override { font_.size = point; }
  void set_font_underline(oss::underline_t e) override {
    font_.underline = e != oss::underline_t::none;
  }
  void set_font_underline_width(oss::underline_width_t) override {}
  void set_font_underline_mode(oss::underline_mode_t) override {}
  void set_font_underline_type(oss::underline_type_t e) override {
    if (e != oss::underline_type_t::none) font_.underline = true;
  }
  void set_font_underline_color(oss::color_elem_t, oss::color_elem_t, oss::color_elem_t,
                                oss::color_elem_t) override {}
  void set_font_color(oss::color_elem_t a, oss::color_elem_t r, oss::color_elem_t g,
                      oss::color_elem_t b) override {
    font_.color = toColor(a, r, g, b);
  }
  void set_strikethrough_style(oss::strikethrough_style_t s) override {
    font_.strikeout = s != oss::strikethrough_style_t::none;
  }
  void set_strikethrough_type(oss::strikethrough_type_t s) override {
    if (s == oss::strikethrough_type_t::single || s == oss::strikethrough_type_t::double_type) {
      font_.strikeout = true;
    }
  }
  void set_strikethrough_width(oss::strikethrough_width_t) override {}
  void set_strikethrough_text(oss::strikethrough_text_t) override {}
  std::size_t commit_font() override { return commit(fonts_, font_); }

  // fills
  void set_fill_count(std::size_t n) override { fills_.reserve(n); }
  void set_fill_pattern_type(oss::fill_pattern_t fp) override { fill_.pattern = toFillPattern(fp); }
  void set_fill_fg_color(oss::color_elem_t a, oss::color_elem_t r, oss::color_elem_t g,
                         oss::color_elem_t b) override {
    fill_.foreground = toColor(a, r, g, b);
  }
  void set_fill_bg_color(oss::color_elem_t a, oss::color_elem_t r, oss::color_elem_t g,
                         oss::color_elem_t b) override {
    fill_.background = toColor(a, r, g, b);
  }
  std::size_t commit_fill() override { return commit(fills_, fill_); }

  // borders
  void set_border_count(std::size_t n) override { borders_.reserve(n); }
  void set_border_style(oss::border_direction_t dir, oss::border_style_t style) override {
    if (BorderSide* side = sideOf(dir)) {
      side->style = toBorderStyle(style);
      solidLine_[index(dir)] = style == oss::border_style_t::solid;
    }
  }
  void set_border_color(oss::border_direction_t dir, oss::color_elem_t a, oss::color_elem_t r,
                        oss::color_elem_t g, oss::color_elem_t b) override {
    if (BorderSide* side = sideOf(dir)) side->color = toColor(a, r, g, b);
  }
  void set_border_width(oss::border_direction_t dir, double width,
                        orcus::length_unit_t unit) override {
    if (sideOf(dir)) lineWidth_[index(dir)] = toPoints(width, unit);
  }
  std::size_t commit_border() override {
    // A plain solid line given with a width (OpenDocument) becomes thin, medium or thick.
    BorderSide* sides[] = {&border_.left, &border_.top, &border_.right, &border_.bottom};
    for (int i = 0; i < 4; ++i) {
      if (solidLine_[i] && lineWidth_[i] > 2.5) {
        sides[i]->style = BorderStyle::thick;
      } else if (solidLine_[i] && lineWidth_[i] > 1.25) {
        sides[i]->style = BorderStyle::medium;
      }
      solidLine_[i] = false;
      lineWidth_[i] = 0;
    }
    return commit(borders_, border_);
  }

  // protection: counted, not kept
  void set_cell_hidden(bool) override {}
  void set_cell_locked(bool) override {}
  void set_cell_print_content(bool) override {}
  void set_cell_formula_hidden(bool) override {}
  std::size_t commit_cell_protection() override { return protections_++; }

  // number formats: kept by identifier (an xlsx numFmtId, which the cell format records refer
  // to); a format given without one is kept under its position among the committed formats
  void set_number_format_count(std::size_t) override {}
  void set_number_format_identifier(std::size_t id) override { numberFormatId_ = id; }
  void set_number_format_code(std::string_view code) override {
    numberFormatCode_ = toModelText(code);
  }
  std::size_t commit_number_format() override {
    const std::size_t index = numberFormats_++;
    numberFormatCodes_[numberFormatId_.value_or(index)] = std::move(numberFormatCode_);
    numberFormatId_.reset();
    numberFormatCode_.clear();
    return index;
  }

  // cell format records
  void set_cell_xf_count(std::size_t n) override { cellXfs_.reserve(n); }
  void set_cell_style_xf_count(std::size_t) override {}
  void set_dxf_count(std::size_t) override {}
  void set_xf_font(std::size_t i) override { xf_.font = i; }
  void set_xf_fill(std::size_t i) override { xf_.fill = i; }
  void set_xf_border(std::size_t i) override { xf_.border = i; }
  void set_xf_protection(std::size_t) override {}
  void set_xf_number_format(std::size_t id) override { xf_.numberFormat = id; }
  void set_xf_style_xf(std::size_t) override {}
  void set_xf_apply_alignment(bool) override {}
  void set_xf_horizontal_alignment(oss::hor_alignment_t a) override {
    xf_.horizontal = toHorizontal(a);
  }
  void set_xf_vertical_alignment(oss::ver_alignment_t a) override { xf_.vertical = toVertical(a); }
  std::size_t commit_cell_xf() override { return commit(cellXfs_, xf_); }
  std::size_t commit_cell_style_xf() override {
    xf_ = {};
    return styleXfs_++;
  }
  std::size_t commit_dxf() override {
    xf_ = {};
    return dxfs_++;
  }

  // named cell styles: not kept
  void set_cell_style_count(std::size_t) override {}
  void set_cell_style_name(std::string_view) override {}
  void set_cell_style_xf(std::size_t) override {}
  void set_cell_style_builtin(std::size_t) override {}
  void set_cell_style_parent_name(std::string_view) override {}
  std::size_t commit_cell_style() override { return cellStyles_++; }

 private:
  struct Xf {
    std::size_t font = 0;
    std::size_t fill = 0;
    std::size_t border = 0;
    HorizontalAlignment horizontal = HorizontalAlignment::general;
    VerticalAlignment vertical = VerticalAlignment::bottom;
    std::size_t numberFormat = 0;  // identifier; 0 is General
  };

  template <typename T>
  static std::size_t commit(std::vector<T>& list, T& current) {
    list.push_back(std::move(current));
    current = T{};
    return list.size() - 1;
  }

  static int index(oss::border_direction_t dir) {
    switch (dir) {
      case oss::border_direction_t::left:
        return 0;
      case oss::border_direction_t::top:
        return 1;
      case oss::border_direction_t::right:
        return 2;
      case oss::border_direction_t::bottom:
        return 3;
      default:
        return -1;
    }
  }
  BorderSide* sideOf(oss::border_direction_t dir) {
    switch (index(dir)) {
      case 0:
        return &border_.left;
      case 1:
        return &border_.top;
      case 2:
        return &border_.right;
      case 3:
        return &border_.bottom;
      default:
        return nullptr;  // diagonals are not drawn
    }
  }

  std::vector<Font> fonts_;
  Font font_;
  std::vector<Fill> fills_;
  Fill fill_;
  std::vector<Borders> borders_;
  Borders border_;
  bool solidLine_[4] = {};
  double lineWidth_[4] = {};
  std::vector<Xf> cellXfs_;
  Xf xf_;
  std::size_t styleXfs_ = 0;
  std::size_t dxfs_ = 0;
  std::size_t protections_ = 0;
  std::size_t numberFormats_ = 0;
  std::optional<std::size_t> numberFormatId_;
  std::string numberFormatCode_;
  std::unordered_map<std::size_t, std::string> numberFormatCodes_;
  std::size_t cellStyles_ = 0;
};

}  // namespace

std::unique_ptr<Styles> makeStyles() {
  return std::make_unique<StyleSink>();
}

}  // namespace dupsweep::sheet::reader
