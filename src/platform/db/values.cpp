#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <type_traits>
#include <variant>

#include "platform/db/db.h"
#include "platform/db/numbers.h"
#include "platform/db/rowstorage.h"
#include "platform/text/text.h"

namespace dupsweep::db {

namespace detail {

std::optional<DecimalParts> parseDecimal(std::string_view text) noexcept {
  DecimalParts parts;
  size_t i = 0;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) parts.negative = text[i++] == '-';
  const size_t wholeStart = i;
  while (i < text.size() && text[i] >= '0' && text[i] <= '9') ++i;
  std::string_view whole = text.substr(wholeStart, i - wholeStart);
  std::string_view fraction;
  if (i < text.size() && text[i] == '.') {
    const size_t fracStart = ++i;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9') ++i;
    fraction = text.substr(fracStart, i - fracStart);
  }
  if (i != text.size() || (whole.empty() && fraction.empty())) return std::nullopt;
  while (!whole.empty() && whole.front() == '0') whole.remove_prefix(1);
  while (!fraction.empty() && fraction.back() == '0') fraction.remove_suffix(1);
  if (whole.empty() && fraction.empty()) parts.negative = false;
  parts.whole = whole;
  parts.fraction = fraction;
  return parts;
}

std::string fixedText(double v) {
  char buf[400];  // the longest fixed form of a double (smallest subnormal) has 326 characters
  const auto res = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed);
  return std::string(buf, res.ptr);
}

std::string displayDouble(double v) {
  const double magnitude = std::fabs(v);
  if (v == 0 || (std::isfinite(v) && magnitude >= 1e-7 && magnitude < 1e16)) return fixedText(v);
  return shortestText(v);
}

std::string shortestText(double v) {
  char buf[64];
  const auto res = std::to_chars(buf, buf + sizeof buf, v);
  return std::string(buf, res.ptr);
}

Declared classifyDeclaredType(std::string_view declaredType) noexcept {
  auto has = [declaredType](std::string_view word) {
    if (word.size() > declaredType.size()) return false;
    for (size_t i = 0; i + word.size() <= declaredType.size(); ++i) {
      size_t k = 0;
      while (k < word.size() && (declaredType[i + k] & ~0x20) == word[k]) ++k;
      if (k == word.size()) return true;
    }
    return false;
  };
  if (has("DEC") || has("NUMERIC") || has("MONEY")) return Declared::Decimal;
  if (has("DATE") || has("TIME")) return Declared::DateTime;
  std::string_view t = declaredType;
  while (!t.empty() && t.back() == ' ') t.remove_suffix(1);
  if ((t.size() == 3 && has("BIT")) || (t.size() == 4 && has("BOOL")) ||
      (t.size() == 7 && has("BOOLEAN")))
    return Declared::Boolean;
  return Declared::Plain;
}

}  // namespace detail

namespace {

using detail::DecimalParts;
using detail::parseDecimal;

template <class... Fs>
struct Overloaded : Fs... {
  using Fs::operator()...;
};
template <class... Fs>
Overloaded(Fs...) -> Overloaded<Fs...>;

std::optional<std::int64_t> integralDouble(double d) {
  if (!std::isfinite(d) || std::trunc(d) != d) return std::nullopt;
  // 2^63 is exactly representable; every double below it in magnitude converts exactly.
  if (d < -9223372036854775808.0 || d >= 9223372036854775808.0) return std::nullopt;
  return static_cast<std::int64_t>(d);
}

std::optional<std::int64_t> integralDecimal(const DecimalParts& p) {
  if (!p.fraction.empty()) return std::nullopt;
  if (p.whole.empty()) return 0;
  if (p.whole.size() > 19) return std::nullopt;
  char buf[24];
  size_t n = 0;
  if (p.negative) buf[n++] = '-';
  for (char c : p.whole) buf[n++] = c;
  std::int64_t out = 0;
  const auto res = std::from_chars(buf, buf + n, out);
  if (res.ec != std::errc() || res.ptr != buf + n) return std::nullopt;
  return out;
}

bool isNumber(ValueKind kind) {
  return kind == ValueKind::Integer || kind == ValueKind::Decimal || kind == ValueKind::Floating;
}

// The canonical decimal parts of a number value; `storage` keeps the text they point into.
std::optional<DecimalParts> numberParts(const CellView& v, std::string& storage) {
  switch (v.kind) {
    case ValueKind::Integer:
      storage = std::to_string(v.integer);
      return parseDecimal(storage);
    case ValueKind::Floating:
      if (!std::isfinite(v.floating)) return std::nullopt;
      storage = detail::fixedText(v.floating);
      return parseDecimal(storage);
    case ValueKind::Decimal:
      return parseDecimal(v.bytes);
    default:
      return std::nullopt;
  }
}

bool sameNumber(const CellView& a, const CellView& b) {
  using K = ValueKind;
  if (a.kind == K::Integer && b.kind == K::Integer) return a.integer == b.integer;
  if (a.kind == K::Floating && b.kind == K::Floating)
    return a.floating == b.floating || (std::isnan(a.floating) && std::isnan(b.floating));
  if (a.kind == K::Integer && b.kind == K::Floating) return integralDouble(b.floating) == a.integer;
  if (a.kind == K::Floating && b.kind == K::Integer) return integralDouble(a.floating) == b.integer;
  // Two decimals with the same text are the same number; most cells of a repeated sheet are.
  const bool decimals = a.kind == K::Decimal && b.kind == K::Decimal;
  if (decimals && a.bytes == b.bytes) return true;
  // With a decimal, compare canonical decimal texts, a double as its shortest text.
  std::string sa, sb;
  const auto pa = numberParts(a, sa);
  const auto pb = numberParts(b, sb);
  if (pa && pb) return *pa == *pb;
  // A malformed decimal text equals only the same text.
  return !pa && !pb && decimals && a.bytes == b.bytes;
}

const char* kHex = "0123456789ABCDEF";

bool equalsIgnoreCase(std::string_view a, std::string_view b) noexcept {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

}  // namespace

ValueKind kindOf(const Value& v) noexcept {
  return std::visit(Overloaded{
                        [](const Null&) { return ValueKind::Null; },
                        [](std::int64_t) { return ValueKind::Integer; },
                        [](const Decimal&) { return ValueKind::Decimal; },
                        [](double) { return ValueKind::Floating; },
                        [](const std::string&) { return ValueKind::Text; },
                        [](const Bytes&) { return ValueKind::Bytes; },
                        [](const DateTime&) { return ValueKind::DateTime; },
                        [](bool) { return ValueKind::Boolean; },
                    },
                    v);
}

bool sameValue(const Value& a, const Value& b) { return sameValue(viewOf(a), viewOf(b)); }

bool sameValueSlow(const CellView& a, const CellView& b) {
  if (isNumber(a.kind) && isNumber(b.kind)) return sameNumber(a, b);
  if (a.kind != b.kind) return false;
  // The same kind: texts, bytes and dates (ISO text) byte for byte, flags by value.
  switch (a.kind) {
    case ValueKind::Null:
      return true;
    case ValueKind::Boolean:
      return (a.integer != 0) == (b.integer != 0);
    default:
      return a.bytes == b.bytes;
  }
}

CellView viewOf(const Value& v) noexcept {
  CellView view;
  view.kind = kindOf(v);
  std::visit(Overloaded{
                 [](const Null&) {},
                 [&](std::int64_t i) { view.integer = i; },
                 [&](const Decimal& d) { view.bytes = d.digits; },
                 [&](double d) { view.floating = d; },
                 [&](const std::string& t) { view.bytes = t; },
                 [&](const Bytes& b) {
                   view.bytes = std::string_view(reinterpret_cast<const char*>(b.data()), b.size());
                 },
                 [&](const DateTime& d) { view.bytes = d.iso; },
                 [&](bool f) { view.integer = f ? 1 : 0; },
             },
             v);
  return view;
}

void appendValueKey(const Value& v, std::string& out) { appendValueKey(viewOf(v), out); }

namespace {

// A tag byte and a fixed size or length prefix keep a row's keys laid end to end apart.
void appendBytesKey(char tag, std::string_view data, std::string& out) {
  const auto length = static_cast<std::uint32_t>(data.size());
  char head[1 + sizeof length] = {tag};
  std::memcpy(head + 1, &length, sizeof length);
  out.append(head, sizeof head);
  out.append(data);
}

// A decimal equals a double when it is the double's shortest text; any two equal decimals read as
// the same double.
[[gnu::noinline]] void appendDecimalKey(std::string_view digits, std::string& out) {
  const auto parts = detail::parseDecimal(digits);
  if (!parts) return appendBytesKey('M', digits, out);
  std::string canonical = parts->negative ? "-" : "";
  canonical += parts->whole.empty() ? "0" : std::string(parts->whole);
  if (!parts->fraction.empty()) canonical += "." + std::string(parts->fraction);
  double value = 0;
  const char* end = canonical.data() + canonical.size();
  const auto res = std::from_chars(canonical.data(), end, value);
  if (res.ec == std::errc() && res.ptr == end)
    return appendValueKey(CellView{ValueKind::Floating, 0, value, {}}, out);
  appendBytesKey('E', canonical, out);  // beyond a double's range
}

}  // namespace

void appendValueKey(const CellView& v, std::string& out) {
  switch (v.kind) {
    case ValueKind::Floating:
    case ValueKind::Integer: {
      char key[kNumberKeySize];
      writeNumberKey(v, key);
      out.append(key, sizeof key);
      return;
    }
    case ValueKind::Null:
      out += '0';
      return;
    case ValueKind::Decimal:
      return appendDecimalKey(v.bytes, out);
    case ValueKind::Text:
      return appendBytesKey('T', v.bytes, out);
    case ValueKind::Bytes:
      return appendBytesKey('Y', v.bytes, out);
    case ValueKind::DateTime:
      return appendBytesKey('A', v.bytes, out);
    case ValueKind::Boolean:
      out += v.integer != 0 ? 'b' : 'B';
      return;
  }
}

std::string displayText(const Value& v) { return displayText(viewOf(v)); }

std::string displayText(const CellView& v) {
  switch (v.kind) {
    case ValueKind::Null:
      return {};
    case ValueKind::Integer:
      return std::to_string(v.integer);
    case ValueKind::Floating:
      return detail::displayDouble(v.floating);
    case ValueKind::Bytes: {
      std::string out;
      out.reserve(v.bytes.size() * 2);
      for (const char byte : v.bytes) {
        const auto c = static_cast<unsigned char>(byte);
        out += kHex[c >> 4];
        out += kHex[c & 15];
      }
      return out;
    }
    case ValueKind::Boolean:
      return v.integer != 0 ? "1" : "0";
    case ValueKind::Decimal:
    case ValueKind::Text:
    case ValueKind::DateTime:
      break;
  }
  return std::string(v.bytes);
}

RowSet::RowSet(std::vector<std::string> columnNames, std::vector<Value> cells)
    : names_(std::move(columnNames)), cells_(std::move(cells)) {
  if (names_.empty()) {
    if (!cells_.empty()) throw DatabaseError("A row set without columns cannot hold values.");
    return;
  }
  if (cells_.size() % names_.size() != 0)
    throw DatabaseError("A row set's values do not fill whole rows.");
  const size_t rows = cells_.size() / names_.size();
  if (rows > static_cast<size_t>(std::numeric_limits<int>::max()))
    throw DatabaseError("The result has too many rows.");
  rowCount_ = static_cast<int>(rows);
}

void RowSet::endRow() {
  if (storage_.packed.size() != (static_cast<std::size_t>(rowCount_) + 1) * names_.size())
    incompleteRow();
  if (rowCount_ == std::numeric_limits<int>::max()) tooManyRows();
  detail::RowMasks masks;
  const detail::Packed* row =
      storage_.packed.data() + static_cast<std::size_t>(rowCount_) * names_.size();
  for (std::size_t c = 0; c < names_.size(); ++c) masks.add(c, row[c].kind);
  storage_.keepMasks(masks, names_.size());
  ++rowCount_;
}

void RowSet::incompleteRow() {
  throw DatabaseError("A row of the result does not have a value for every column.");
}

void RowSet::tooManyRows() { throw DatabaseError("The result has too many rows."); }

void RowSet::notFillable() {
  throw DatabaseError("Rows can be appended only to a row set with columns read as views.");
}

void detail::valueTooLong() { throw DatabaseError("A value of the result is too long."); }

bool RowSet::sameValues(int row, const RowSet& other, int otherRow, int from, int to) const {
  if (from >= to) return true;
  index(row, to - 1);
  other.index(otherRow, to - 1);
  bool same = true;
  if (storage_.empty() || other.storage_.empty()) {
    for (int k = from; k < to; ++k)
      if (!sameValue(view(row, k), other.view(otherRow, k))) same = false;
    return same;
  }
  // Two integers or two doubles, most figures, compare in place; every other pair as views.
  const detail::Packed* a = &storage_.packed[index(row, from)];
  const detail::Packed* b = &other.storage_.packed[other.index(otherRow, from)];
  for (int k = from; k < to; ++k, ++a, ++b) {
    if (a->kind == b->kind) {
      switch (a->kind) {
        case ValueKind::Integer:
          if (a->integer != b->integer) same = false;
          continue;
        case ValueKind::Floating:
          if (a->floating != b->floating && !(std::isnan(a->floating) && std::isnan(b->floating)))
            same = false;
          continue;
        case ValueKind::Null:
          continue;
        default:
          break;
      }
    }
    if (!sameValue(view(row, k), other.view(otherRow, k))) same = false;
  }
  return same;
}

void RowSet::kinds(int row, int from, int to, ValueKind* out) const {
  if (from >= to) return;
  index(row, to - 1);  // range check of the last column
  const std::size_t first = index(row, from);
  const std::size_t end = first + static_cast<std::size_t>(to - from);
  if (storage_.empty()) {
    for (std::size_t i = first; i < end; ++i) *out++ = kindOf(cells_[i]);
  } else {
    for (std::size_t i = first; i < end; ++i) *out++ = storage_.packed[i].kind;
  }
}

void RowSet::reserve(std::size_t rows, std::size_t bytes) {
  storage_.packed.reserve(rows * names_.size());
  storage_.bytes.reserve(bytes);
  if (names_.size() <= kMaskColumns) {
    storage_.nullMasks.reserve(rows);
    storage_.textMasks.reserve(rows);
  }
}

void RowSet::makeValues() const {
  cells_.clear();
  cells_.reserve(storage_.packed.size());
  for (int r = 0; r < rowCount_; ++r)
    for (int c = 0; c < columnCount(); ++c) cells_.push_back(valueOf(view(r, c)));
}

const std::string& RowSet::columnName(int column) const {
  if (column < 0 || column >= columnCount())
    throw DatabaseError("Column index " + std::to_string(column) + " is out of range (" +
                        std::to_string(columnCount()) + " columns).");
  return names_[static_cast<size_t>(column)];
}

int RowSet::findColumn(std::string_view name) const noexcept {
  for (size_t i = 0; i < names_.size(); ++i)
    if (equalsIgnoreCase(names_[i], name)) return static_cast<int>(i);
  return -1;
}

Field RowSet::field(int column) const {
  if (eof()) throw DatabaseError("The row set has no current row (it is at its end).");
  columnName(column);  // range check
  return Field(*this, column);
}

Field RowSet::field(std::string_view name) const {
  const int column = findColumn(name);
  if (column < 0)
    throw DatabaseError("The result has no column named '" + std::string(name) + "'.");
  return field(column);
}

void RowSet::outside(int row, int column) {
  throw DatabaseError("Cell (" + std::to_string(row) + ", " + std::to_string(column) +
                      ") is outside the result.");
}

const Value& Field::value() const {
  return rows_->at(rows_->row(), column_);
}

CellView Field::view() const { return rows_->view(rows_->row(), column_); }

bool Field::isNull() const { return view().kind == ValueKind::Null; }

const std::string& Field::name() const {
  return rows_->columnName(column_);
}

std::string Field::asText() const {
  return displayText(view());
}

std::string Field::asTextStrict() const {
  const CellView v = view();
  if (v.kind == ValueKind::Null)
    throw DatabaseError("Column '" + name() + "' is NULL where a text is required.");
  return displayText(v);
}

std::int64_t Field::asInteger() const {
  const CellView v = view();
  std::optional<std::int64_t> out;
  switch (v.kind) {
    case ValueKind::Integer:
    case ValueKind::Boolean:
      out = v.integer;
      break;
    case ValueKind::Floating:
      out = integralDouble(v.floating);
      break;
    case ValueKind::Decimal:
      if (auto parts = parseDecimal(v.bytes)) out = integralDecimal(*parts);
      break;
    case ValueKind::Text: {
      std::string_view t = v.bytes;
      while (!t.empty() && (t.front() == ' ' || t.front() == '\t')) t.remove_prefix(1);
      while (!t.empty() && (t.back() == ' ' || t.back() == '\t')) t.remove_suffix(1);
      if (auto parts = parseDecimal(t)) out = integralDecimal(*parts);
      break;
    }
    case ValueKind::Null:
      throw DatabaseError("Column '" + name() + "' is NULL where an integer is required.");
    case ValueKind::Bytes:
    case ValueKind::DateTime:
      break;
  }
  if (!out)
    throw DatabaseError("Column '" + name() + "' does not hold an integer (value '" +
                        text::utf8Prefix(displayText(v), 40) + "').");
  return *out;
}

const Bytes& Field::asBytes() const {
  const Value& v = value();
  if (const auto* b = std::get_if<Bytes>(&v)) return *b;
  if (std::holds_alternative<Null>(v))
    throw DatabaseError("Column '" + name() + "' is NULL where a byte array is required.");
  throw DatabaseError("Column '" + name() + "' does not hold a byte array.");
}

}  // namespace dupsweep::db
