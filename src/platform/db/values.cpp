// Typed values, their comparison and display, and the materialised row set.

#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <type_traits>
#include <variant>

#include "platform/db/db.h"
#include "platform/db/numbers.h"
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

bool isNumber(const Value& v) {
  return std::holds_alternative<std::int64_t>(v) || std::holds_alternative<Decimal>(v) ||
         std::holds_alternative<double>(v);
}

// The integral value of `d` when it has no fraction and fits in 64 bits.
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

// The canonical decimal parts of a number value; `storage` keeps the text they point into.
std::optional<DecimalParts> numberParts(const Value& v, std::string& storage) {
  if (const auto* i = std::get_if<std::int64_t>(&v)) {
    storage = std::to_string(*i);
    return parseDecimal(storage);
  }
  if (const auto* d = std::get_if<double>(&v)) {
    if (!std::isfinite(*d)) return std::nullopt;
    storage = detail::fixedText(*d);
    return parseDecimal(storage);
  }
  if (const auto* dec = std::get_if<Decimal>(&v)) return parseDecimal(dec->digits);
  return std::nullopt;
}

bool sameNumber(const Value& a, const Value& b) {
  const auto* ia = std::get_if<std::int64_t>(&a);
  const auto* ib = std::get_if<std::int64_t>(&b);
  const auto* da = std::get_if<double>(&a);
  const auto* db = std::get_if<double>(&b);
  if (ia && ib) return *ia == *ib;
  if (da && db) return *da == *db || (std::isnan(*da) && std::isnan(*db));
  if (ia && db) return integralDouble(*db) == *ia;
  if (da && ib) return integralDouble(*da) == *ib;
  // Two decimals with the same text are the same number; most cells of a repeated sheet are.
  const auto* texta = std::get_if<Decimal>(&a);
  const auto* textb = std::get_if<Decimal>(&b);
  if (texta && textb && texta->digits == textb->digits) return true;
  // A decimal is involved: compare canonical decimal texts, a double taken as its shortest
  // round-trip text (so 0.1 equals the decimal 0.1).
  std::string sa, sb;
  const auto pa = numberParts(a, sa);
  const auto pb = numberParts(b, sb);
  if (pa && pb) return *pa == *pb;
  // A malformed decimal text equals only the same text.
  const auto* deca = std::get_if<Decimal>(&a);
  const auto* decb = std::get_if<Decimal>(&b);
  return !pa && !pb && deca && decb && deca->digits == decb->digits;
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

bool sameValue(const Value& a, const Value& b) {
  if (isNumber(a) && isNumber(b)) return sameNumber(a, b);
  if (a.index() != b.index()) return false;
  return a == b;  // same kind: NULL == NULL, texts and bytes byte for byte, dates as ISO text
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

// Every key starts with a tag byte and has a fixed size or a length prefix, so the keys of a
// row's values laid end to end stay apart.
void appendBytesKey(char tag, std::string_view data, std::string& out) {
  const auto length = static_cast<std::uint32_t>(data.size());
  char head[1 + sizeof length] = {tag};
  std::memcpy(head + 1, &length, sizeof length);
  out.append(head, sizeof head);
  out.append(data);
}

// A decimal equals a double when it is the double's shortest text, which reads back as that
// double; any two equal decimals read as the same double. Kept apart from the other kinds, whose
// keys take no text of their own.
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

std::string displayText(const Value& v) {
  return std::visit(Overloaded{
                        [](const Null&) { return std::string(); },
                        [](std::int64_t i) { return std::to_string(i); },
                        [](const Decimal& d) { return d.digits; },
                        [](double d) { return detail::displayDouble(d); },
                        [](const std::string& s) { return s; },
                        [](const Bytes& b) {
                          std::string out;
                          out.reserve(b.size() * 2);
                          for (unsigned char c : b) {
                            out += kHex[c >> 4];
                            out += kHex[c & 15];
                          }
                          return out;
                        },
                        [](const DateTime& d) { return d.iso; },
                        [](bool f) { return std::string(f ? "1" : "0"); },
                    },
                    v);
}

// ---- RowSet ----------------------------------------------------------------------------------

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

// ---- Field -----------------------------------------------------------------------------------

const Value& Field::value() const {
  return rows_->at(rows_->row(), column_);
}

bool Field::isNull() const {
  return std::holds_alternative<Null>(value());
}

const std::string& Field::name() const {
  return rows_->columnName(column_);
}

std::string Field::asText() const {
  return displayText(value());
}

std::string Field::asTextStrict() const {
  const Value& v = value();
  if (std::holds_alternative<Null>(v))
    throw DatabaseError("Column '" + name() + "' is NULL where a text is required.");
  return displayText(v);
}

std::int64_t Field::asInteger() const {
  const Value& v = value();
  std::optional<std::int64_t> out;
  if (const auto* i = std::get_if<std::int64_t>(&v)) {
    out = *i;
  } else if (const auto* b = std::get_if<bool>(&v)) {
    out = *b ? 1 : 0;
  } else if (const auto* d = std::get_if<double>(&v)) {
    out = integralDouble(*d);
  } else if (const auto* dec = std::get_if<Decimal>(&v)) {
    if (auto parts = parseDecimal(dec->digits)) out = integralDecimal(*parts);
  } else if (const auto* s = std::get_if<std::string>(&v)) {
    std::string_view t = *s;
    while (!t.empty() && (t.front() == ' ' || t.front() == '\t')) t.remove_prefix(1);
    while (!t.empty() && (t.back() == ' ' || t.back() == '\t')) t.remove_suffix(1);
    if (auto parts = parseDecimal(t)) out = integralDecimal(*parts);
  } else if (std::holds_alternative<Null>(v)) {
    throw DatabaseError("Column '" + name() + "' is NULL where an integer is required.");
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
